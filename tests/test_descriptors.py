"""The descriptor classes a represent callback returns: construction checks,
attributes, repr, docstrings, immutability and subclassing."""

import inspect

import pytest

import ostrevane as o
from ostrevane import OstrevaneMapping, OstrevaneScalar, OstrevaneSequence

STYLE_MESSAGE = (
    "invalid scalar style {}: expected one of 'auto', 'plain', 'single', 'double', "
    "'literal', 'folded'"
)
INLINE_MESSAGE = (
    "an inline comment cannot contain a line break; use comment_before or comment_after "
    "for a multi-line comment"
)
LINES_MESSAGE = "a comment cannot contain NEL, LS, or PS line breaks; use \\n to separate comment lines"
CLASSES = [OstrevaneScalar, OstrevaneSequence, OstrevaneMapping]
FIRST = {OstrevaneScalar: "x", OstrevaneSequence: [1], OstrevaneMapping: [(1, 2)]}


def make(cls, **kwargs):
    return cls(FIRST[cls], **kwargs)


# ---------------------------------------------------------------------------
# Argument checks, in order.


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: OstrevaneScalar(), "OstrevaneScalar() missing 1 required positional argument: 'value'"),
        (lambda: OstrevaneScalar("a", "b"), "OstrevaneScalar() takes 1 positional arguments but 2 were given"),
        (lambda: OstrevaneScalar("a", colour=1), "OstrevaneScalar() got an unexpected keyword argument 'colour'"),
        (lambda: OstrevaneSequence(items=[1]),
         "OstrevaneSequence() got some positional-only arguments passed as keyword arguments: 'items'"),
        (lambda: OstrevaneMapping(), "OstrevaneMapping() missing 1 required positional argument: 'pairs'"),
    ],
)
def test_call_rules(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "kwargs,value,name",
    [
        ({}, 7, "value"),
        ({"tag": 1}, "x", "tag"),
        ({"style": 1}, "x", "style"),
        ({"comment": 1}, "x", "comment"),
        ({"comment_before": b"x"}, "x", "comment_before"),
        ({"comment_after": 1.5}, "x", "comment_after"),
        # Conversions come before every check: the bad style name is not seen.
        ({"style": "Plain", "comment_after": 1}, "x", "comment_after"),
    ],
)
def test_scalar_type_errors_carry_the_argument_note(kwargs, value, name):
    with pytest.raises(TypeError) as info:
        OstrevaneScalar(value, **kwargs)
    assert info.value.__notes__ == [f"while processing '{name}'"]
    assert "object is not an instance of 'str'" in str(info.value)


def test_scalar_value_with_surrogates_fails_with_the_encoding_error():
    with pytest.raises(UnicodeEncodeError) as info:
        OstrevaneScalar("a\udc80")
    assert info.value.__notes__ == ["while processing 'value'"]


@pytest.mark.parametrize(
    "name,shown",
    [("Plain", '"Plain"'), ("", '""'), ("dou\tble", '"dou\\tble"'), ("x\u200by", '"x\\u{200b}y"')],
)
def test_unknown_style_names(name, shown):
    with pytest.raises(ValueError) as info:
        OstrevaneScalar("a", style=name)
    assert str(info.value) == STYLE_MESSAGE.format(shown)


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("text", ["a\nb", "a\rb", "a\r\nb", "a\u0085b", "a\u2028b", "a\u2029b"])
def test_inline_comment_refuses_line_breaks(cls, text):
    with pytest.raises(ValueError) as info:
        make(cls, comment=text)
    assert str(info.value) == INLINE_MESSAGE


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("field", ["comment_before", "comment_after"])
@pytest.mark.parametrize("text", ["a\u0085b", "a\u2028b", "\u2029"])
def test_comment_lines_refuse_unicode_breaks(cls, field, text):
    with pytest.raises(ValueError) as info:
        make(cls, **{field: text})
    assert str(info.value) == LINES_MESSAGE


def test_check_order_style_then_inline_then_before_then_after():
    with pytest.raises(ValueError) as info:
        OstrevaneScalar("a", style="x", comment="\n", comment_before="\u2028")
    assert str(info.value).startswith("invalid scalar style")
    with pytest.raises(ValueError) as info:
        OstrevaneScalar("a", comment="\n", comment_before="\u2028")
    assert str(info.value) == INLINE_MESSAGE
    with pytest.raises(ValueError) as info:
        OstrevaneScalar("a", comment_before="\x01", comment_after="\u2028")
    assert str(info.value) == "a comment cannot contain the control character '\\u{1}'"


def test_collection_first_argument_is_converted_before_the_comment_checks():
    with pytest.raises(TypeError) as info:
        OstrevaneSequence(5, comment="\n")
    assert str(info.value) == "'int' object is not iterable"


@pytest.mark.parametrize("cls", [OstrevaneSequence, OstrevaneMapping])
@pytest.mark.parametrize("flow", [1, 0, "yes", 1.0])
def test_flow_must_be_a_bool(cls, flow):
    with pytest.raises(TypeError) as info:
        make(cls, flow=flow)
    assert info.value.__notes__ == ["while processing 'flow'"]
    assert str(info.value).endswith("object is not an instance of 'bool'")


# ---------------------------------------------------------------------------
# Control characters in comments (refused: the written text would not load).


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("field", ["comment", "comment_before", "comment_after"])
@pytest.mark.parametrize(
    "char,shown",
    [
        ("\x00", "'\\0'"), ("\x01", "'\\u{1}'"), ("\x07", "'\\u{7}'"), ("\x1f", "'\\u{1f}'"),
        ("\x7f", "'\\u{7f}'"), ("\x80", "'\\u{80}'"), ("\x9b", "'\\u{9b}'"), ("\x9f", "'\\u{9f}'"),
        ("\ufffe", "'\\u{fffe}'"), ("\uffff", "'\\u{ffff}'"),
    ],
)
def test_comments_refuse_control_characters(cls, field, char, shown):
    with pytest.raises(ValueError) as info:
        make(cls, **{field: f"note {char} here"})
    assert str(info.value) == f"a comment cannot contain the control character {shown}"


@pytest.mark.parametrize(
    "field,text,message",
    [
        # A line break keeps its own message, wherever the control character
        # stands.
        ("comment", "\x01\n", INLINE_MESSAGE),
        ("comment", "a\x85\x01", INLINE_MESSAGE),
        ("comment_before", "\x01\u0085", LINES_MESSAGE),
        ("comment_after", "\x01\u2028", LINES_MESSAGE),
        # LF, CR and CR LF separate lines; the control character is still refused.
        ("comment_before", "a\r\n\x02", "a comment cannot contain the control character '\\u{2}'"),
        ("comment_after", "a\n\ufffe", "a comment cannot contain the control character '\\u{fffe}'"),
    ],
)
def test_line_breaks_are_checked_before_control_characters(field, text, message):
    with pytest.raises(ValueError) as info:
        OstrevaneScalar("x", **{field: text})
    assert str(info.value) == message


@pytest.mark.parametrize("text", ["tab\there", "  lead", "trail  ", "", "#hash", "\u00e9\u4e2d", "\u00a0nbsp", "\U0001f600"])
def test_printable_comments_and_tabs_are_kept(text):
    d = OstrevaneScalar("x", comment=text, comment_before=text, comment_after=text)
    assert (d.comment, d.comment_before, d.comment_after) == (text, text, text)


# ---------------------------------------------------------------------------
# Attributes.


def test_scalar_defaults():
    d = OstrevaneScalar("v")
    assert (d.value, d.tag, d.style) == ("v", None, "auto")
    assert (d.comment, d.comment_before, d.comment_after) == (None, None, None)
    assert OstrevaneScalar("v", style=None).style == "auto"


@pytest.mark.parametrize("style", ["auto", "plain", "single", "double", "literal", "folded"])
def test_style_reads_back_by_name(style):
    assert OstrevaneScalar("v", style=style).style == style


def test_scalar_fields():
    d = OstrevaneScalar("v", tag="!t", comment="c", comment_before="b", comment_after="a")
    assert (d.tag, d.comment, d.comment_before, d.comment_after) == ("!t", "c", "b", "a")


@pytest.mark.parametrize(
    "given,stored",
    [
        ("a\r\nb", "a\nb"),
        ("a\rb", "a\nb"),
        ("a\r\n", "a\n"),
        ("a\n\nb", "a\n\nb"),
        ("", ""),
        ("\r\r\n", "\n\n"),
    ],
)
def test_comment_lines_are_normalised(given, stored):
    d = OstrevaneMapping([], comment_before=given, comment_after=given)
    assert d.comment_before == stored
    assert d.comment_after == stored


@pytest.mark.parametrize("cls", [OstrevaneSequence, OstrevaneMapping])
def test_collection_fields(cls):
    attr = "items" if cls is OstrevaneSequence else "pairs"
    d = cls([], tag="!t", flow=True, comment="c")
    assert (getattr(d, attr), d.tag, d.flow, d.comment) == ([], "!t", True, "c")
    assert cls([], flow=False).flow is False
    assert cls([], flow=None).flow is None
    assert cls([]).tag is None


@pytest.mark.parametrize("cls", [OstrevaneSequence, OstrevaneMapping])
def test_lists_and_tuples_are_kept_as_given(cls):
    attr = "items" if cls is OstrevaneSequence else "pairs"

    class MyList(list):
        pass

    for given in ([1, 2], (1, 2), MyList([1])):
        assert getattr(cls(given), attr) is given
    seen = [1]
    d = cls(seen)
    seen.append(2)
    assert getattr(d, attr) == [1, 2]


def test_other_iterables_become_lists():
    items = OstrevaneSequence(i for i in range(3)).items
    assert type(items) is list and items == [0, 1, 2]
    assert OstrevaneMapping({"a": 1, "b": 2}).pairs == ["a", "b"]


def test_numpy_bool_is_accepted_as_flow():
    numpy = pytest.importorskip("numpy")
    assert OstrevaneSequence([], flow=numpy.bool_(True)).flow is True
    assert OstrevaneSequence([], flow=numpy.bool_(False)).flow is False


# ---------------------------------------------------------------------------
# repr, docstrings, module, immutability, subclassing.


@pytest.mark.parametrize(
    "d,text",
    [
        (OstrevaneScalar("v"), 'OstrevaneScalar("v", style="auto")'),
        (OstrevaneScalar("v", tag="!t", style="plain"), 'OstrevaneScalar("v", tag="!t", style="plain")'),
        (OstrevaneScalar('a"b\\c\n', comment="x"), 'OstrevaneScalar("a\\"b\\\\c\\n", style="auto")'),
        (OstrevaneScalar("\x01\u200b", tag="!\t"), 'OstrevaneScalar("\\u{1}\\u{200b}", tag="!\\t", style="auto")'),
    ],
)
def test_scalar_repr(d, text):
    assert repr(d) == text


def test_collection_repr_is_the_default():
    d = OstrevaneSequence([])
    assert repr(d).startswith("<ostrevane.OstrevaneSequence object at 0x")


DOCS = {
    OstrevaneScalar: (
        "(value, *, tag=None, style='auto', comment=None, comment_before=None, comment_after=None)",
        "A scalar node descriptor returned by a `represent` callback: the text to emit,\n"
        "an optional explicit tag, and a style. `style=\"auto\"` lets the emitter apply\n"
        "its implicit-resolver quoting; an explicit style is validated against the\n"
        "value and then honored.",
    ),
    OstrevaneSequence: (
        "(items, *, tag=None, flow=None, comment=None, comment_before=None, comment_after=None)",
        "A sequence node descriptor: its items (original host objects, re-dispatched\n"
        "through `represent`), an optional tag, and an optional flow override.",
    ),
    OstrevaneMapping: (
        "(pairs, *, tag=None, flow=None, comment=None, comment_before=None, comment_after=None)",
        "A mapping node descriptor: its `(key, value)` pairs (original host objects,\n"
        "re-dispatched through `represent`), an optional tag, and a flow override.",
    ),
}


@pytest.mark.parametrize("cls", CLASSES)
def test_docstrings_and_signatures(cls):
    signature, doc = DOCS[cls]
    assert cls.__doc__ == doc
    assert str(inspect.signature(cls)) == signature
    assert cls.__module__ == "ostrevane"
    assert cls.__bases__ == (object,)
    assert getattr(o, cls.__name__) is cls


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("attr", ["tag", "comment", "comment_before", "comment_after", "other"])
def test_instances_are_immutable(cls, attr):
    d = make(cls)
    with pytest.raises(AttributeError):
        setattr(d, attr, "x")
    assert not hasattr(d, "__dict__")


@pytest.mark.parametrize("cls", CLASSES)
def test_classes_cannot_be_changed(cls):
    with pytest.raises(TypeError):
        cls.extra = 1


@pytest.mark.parametrize("cls", CLASSES)
def test_python_subclass(cls):
    class Mine(cls):
        def extra(self):
            return "mine"

    d = Mine(FIRST[cls], tag="!m")
    assert isinstance(d, cls) and d.extra() == "mine" and d.tag == "!m"
    d.note = "subclasses may have a __dict__"
    assert d.note.startswith("subclasses")


def test_collection_descriptors_take_part_in_garbage_collection():
    import gc
    import weakref

    class Box:
        pass

    box = Box()
    items = [box]
    d = OstrevaneSequence(items)
    items.append(d)  # a cycle through the descriptor
    ref = weakref.ref(box)
    del box, items, d
    gc.collect()
    assert ref() is None

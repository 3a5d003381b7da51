"""Editing round-trip documents: item assignment and deletion on documents
and views, the nodes Python values become, and the alias check."""

import datetime
import decimal
import fractions

import pytest

import ostrevane as o
from ostrevane import OstrevaneDocumentView, loads


from borrow_probe import comparing_key, converting_number
from edit_steps import assign
from peer_readers import assert_peers_read

RT = o.OPT_ROUND_TRIP


def rt(text, option=0):
    return loads(text, option=RT | option)


def assigned(value, option=0):
    """The text of `v: value` assigned into a one-pair document."""
    doc = rt("v: 0\n", option)
    doc["v"] = value
    return doc.to_yaml().decode()


def reloads(doc):
    """The written text loads again, to the same values."""
    text = doc.to_yaml()
    again = rt(text)
    assert again.to_dict() == doc.to_dict()
    return text.decode()


# ---------------------------------------------------------------------------
# Python values to nodes.

@pytest.mark.parametrize("value,double,single", [
    ("hello", "v: hello\n", "v: hello\n"),
    ("12", 'v: "12"\n', "v: '12'\n"),
    ("", 'v: ""\n', "v: ''\n"),
    ("true", 'v: "true"\n', "v: 'true'\n"),
    ("null", 'v: "null"\n', "v: 'null'\n"),
    ("~", 'v: "~"\n', "v: '~'\n"),
    ("a: 'b'", 'v: "a: \'b\'"\n', 'v: "a: \'b\'"\n'),
    ("- x", 'v: "- x"\n', "v: '- x'\n"),
    ("two\nlines", 'v: "two\\nlines"\n', 'v: "two\\nlines"\n'),
    ("tab\there", 'v: "tab\\there"\n', 'v: "tab\\there"\n'),
])
def test_strings_and_their_quotes(value, double, single):
    assert assigned(value) == double
    assert assigned(value, o.OPT_SINGLE_QUOTES) == single
    assert rt(double)["v"] == rt(single)["v"] == value


@pytest.mark.parametrize("value,text", [
    (True, "v: true\n"),
    (False, "v: false\n"),
    (0, "v: 0\n"),
    (-12, "v: -12\n"),
    (2**70, "v: 1180591620717411303424\n"),
    (-2**64, "v: -18446744073709551616\n"),
    (1.0, "v: 1.0\n"),
    (1.5, "v: 1.5\n"),
    (1e20, "v: 1.0e+20\n"),
    (float("inf"), "v: .inf\n"),
    (float("-inf"), "v: -.inf\n"),
    (float("nan"), "v: .nan\n"),
    (decimal.Decimal("2.5"), "v: 2.5\n"),
    (fractions.Fraction(1, 4), "v: 0.25\n"),
])
def test_scalars(value, text):
    assert assigned(value) == text


@pytest.mark.parametrize("option,text", [
    (0, "v:\n"),
    (o.OPT_NULL_AS_KEYWORD, "v: null\n"),
    (o.OPT_NULL_AS_TILDE, "v: ~\n"),
])
def test_none_in_the_three_null_styles(option, text):
    assert assigned(None, option) == text
    assert rt(text)["v"] is None


@pytest.mark.parametrize("value,text", [
    ([1, "a", None], "v:\n- 1\n- a\n-\n"),
    ({"a": 1, "b": [2, {"c": 3}]}, "v:\n  a: 1\n  b:\n  - 2\n  - c: 3\n"),
    ({1: "int key", "1": "str key"}, 'v:\n  1: int key\n  "1": str key\n'),
    ([], "v: []\n"),
    ({}, "v: {}\n"),
    ([[1, 2], [3]], "v:\n-\n  - 1\n  - 2\n-\n  - 3\n"),
])
def test_collections(value, text):
    assert assigned(value) == text
    assert rt(text)["v"] == value if not isinstance(rt(text)["v"], OstrevaneDocumentView) \
        else rt(text)["v"].to_dict() == value


class MyList(list):
    def __iter__(self):
        raise AssertionError("a list's own iteration is not used")


class MyDict(dict):
    def items(self):
        raise AssertionError("a dict's own items are not used")


def test_subclasses_convert_like_their_bases():
    assert assigned(MyList([1, 2])) == "v:\n- 1\n- 2\n"
    assert assigned(MyDict(a=1)) == "v:\n  a: 1\n"


class BigIndex:
    """Not an int: converts through __index__ only (numpy.uint64 above 2**63-1)."""

    def __index__(self):
        return 2**64 - 1


class LoudInt(int):
    def __str__(self):
        return "not digits"


def test_mend_index_objects_beyond_64_bits_keep_their_digits():
    # Beyond 64 bits the float rule would write 1.8446744073709552e+19.
    assert assigned(BigIndex()) == "v: 18446744073709551615\n"
    assert rt(assigned(BigIndex()))["v"] == 2**64 - 1
    # An int subclass's own __str__ stays out of the output.
    assert assigned(LoudInt(2**70)) == "v: 1180591620717411303424\n"
    assert assigned(LoudInt(5)) == "v: 5\n"


def test_numpy_values():
    np = pytest.importorskip("numpy")
    assert assigned(np.uint64(2**64 - 1)) == "v: 18446744073709551615\n"
    assert assigned(np.int32(-7)) == "v: -7\n"
    assert assigned(np.bool_(True)) == "v: true\n"
    assert assigned(np.float64(0.5)) == "v: 0.5\n"


def self_list():
    a = []
    a.append(a)
    return a


def nested(levels):
    value = 1
    for _ in range(levels):
        value = [value]
    return value


@pytest.mark.parametrize("value,error,message", [
    ((1, 2), TypeError, "cannot convert (1, 2) to a YAML node"),
    (b"x", TypeError, "cannot convert b'x' to a YAML node"),
    ({1}, TypeError, "cannot convert {1} to a YAML node"),
    (datetime.date(2020, 1, 2), TypeError,
     "cannot convert datetime.date(2020, 1, 2) to a YAML node"),
    ({(1, 2): 3}, TypeError, "cannot convert (1, 2) to a YAML node"),
    ([1, [object]], TypeError, "cannot convert <class 'object'> to a YAML node"),
    ("\ud800", TypeError, "cannot convert '\\ud800' to a YAML node"),
    (self_list(), ValueError, "value is too deeply nested to assign (possible self-reference)"),
    (nested(1000), ValueError, "value is too deeply nested to assign (possible self-reference)"),
])
def test_refused_values(value, error, message):
    doc = rt("v: 0  # kept\n")
    with pytest.raises(error) as info:
        doc["v"] = value
    assert str(info.value) == message
    assert doc.to_yaml() == b"v: 0  # kept\n"


# Assigning a view, cursor or document of the same document used to raise
# PanicException "Already mutably borrowed" (a BaseException): the refusal's
# repr read the document that the edit held.
DOCUMENT_OBJECTS = [
    (lambda doc: doc["a"], "OstrevaneDocumentView(mapping)"),
    (lambda doc: doc["s"], "OstrevaneDocumentView(sequence)"),
    (lambda doc: doc.node["a"], "OstrevaneNode(mapping)"),
    (lambda doc: doc.node, "OstrevaneNode(mapping)"),
    (lambda doc: doc, "OstrevaneDocument(documents=1)"),
    (lambda doc: [1, {"k": doc["a"]}], "OstrevaneDocumentView(mapping)"),
]
ASSIGNMENTS = [
    ("doc[key]", lambda doc, value: doc.__setitem__("b", value)),
    ("doc[new key]", lambda doc, value: doc.__setitem__("new", value)),
    ("view[key]", lambda doc, value: doc["a"].__setitem__("x", value)),
    ("sequence view[0]", lambda doc, value: doc["s"].__setitem__(0, value)),
    ("cursor.value", lambda doc, value: setattr(doc.node["b"], "value", value)),
    ("key", lambda doc, value: doc.__setitem__(value, 1)),
]


@pytest.mark.parametrize("make,shown", DOCUMENT_OBJECTS)
@pytest.mark.parametrize("how,assign", ASSIGNMENTS)
@pytest.mark.parametrize("same", [True, False])
def test_document_objects_are_refused_as_values(make, shown, how, assign, same):
    text = "a:\n  x: 1\nb: 2\ns: [1]\n"
    doc = rt(text)
    source = doc if same else rt(text)
    with pytest.raises(TypeError) as info:
        assign(doc, make(source))
    assert info.value.args == (f"cannot convert {shown} to a YAML node",)
    assert doc.to_yaml() == text.encode()


def test_a_list_holding_itself_twice_is_refused_by_depth():
    value = []
    value += [value, value]
    doc = rt("v: 0\n")
    with pytest.raises(ValueError):
        doc["v"] = value


def test_nesting_up_to_the_limit():
    doc = rt("v: 0\n")
    doc["v"] = nested(999)
    # The mapping around it makes 1000 levels, more than a load accepts, so
    # the text is only written.
    assert doc.to_yaml().count(b"-") == 999


def test_errors_of_the_values_own_methods_pass():
    class BadRepr:
        def __repr__(self):
            raise ZeroDivisionError("repr")

    doc = rt("v: 0\n")
    with pytest.raises(ZeroDivisionError):
        doc["v"] = BadRepr()


# ---------------------------------------------------------------------------
# Edits keep their surroundings.

EDITS = [
    # comments, blank lines and inline gaps
    ("# top\na: 1    # one\n\n# before b\nb: 2 # two\n", ("a",), 5,
     "# top\na: 5    # one\n\n# before b\nb: 2 # two\n"),
    ("a:\n  # above\n  b: old   # trailing\n  c: 1\n", ("a", "b"), "new",
     "a:\n  # above\n  b: new   # trailing\n  c: 1\n"),
    # anchors and tags stay with the place
    ("a: &x !!str 1\nb: *x\n", ("a",), "2",
     'a: !!str &x "2"\nb: *x\n'),
    ("a: !custom {k: v}\n", ("a",), {"k": "w"}, "a: !custom\n  k: w\n"),
    # compact sequences and dash-line comments
    ("- - a\n  - b\n- c  # dash\n", (1,), "d", "- - a\n  - b\n- d  # dash\n"),
    ("- - a\n  - b\n- c\n", (0, 1), "z", "- - a\n  - z\n- c\n"),
    # flow collections keep their style
    ("a: [1, 2, 3]\nb: 0  # zero\n", ("a", 1), 9, "a: [1, 9, 3]\nb: 0  # zero\n"),
    ("a: {x: 1, y: 2}\n", ("a", "y"), "q", "a: {x: 1, y: q}\n"),
    # kept block scalars, a missing final newline
    ("a: 1\nb: |\n  kept\n  text", ("a",), 2, "a: 2\nb: |\n  kept\n  text"),
    ("a: >-\n  folded\n  text\nb: 1\n", ("b",), 2, "a: >-\n  folded\n  text\nb: 2\n"),
    # directives and a byte-order mark
    ("%YAML 1.2\n---\na: 1\n", ("a",), 2, "%YAML 1.2\n---\na: 2\n"),
    ("\ufeffa: 1  # c\n", ("a",), 2, "\ufeffa: 2  # c\n"),
]


@pytest.mark.parametrize("before,path,value,after", EDITS)
def test_assignment_keeps_the_surroundings(before, path, value, after):
    doc = rt(before)
    target = doc
    for step in path[:-1]:
        target = target[step]
    target[path[-1]] = value
    assert doc.to_yaml().decode("utf-8") == after
    reloads(doc)


# A root text that would read as a document marker or a directive is quoted,
# after a byte order mark as at the start of any line (written plain after
# one, "..." read back as an empty document).
@pytest.mark.parametrize("bom", ["", "\ufeff"])
@pytest.mark.parametrize("value", ["...", "---", "--- x", "%x"])
def test_root_text_like_a_marker_is_quoted(bom, value):
    doc = rt(bom + "a\n")
    doc.node.value = value
    assert doc.to_dict() == value
    reloads(doc)


DELETIONS = [
    ("# top\na: 1  # one\n\n# before b\nb: 2 # two\nc: 3\n", ("b",),
     "# top\na: 1  # one\nc: 3\n"),
    ("a: &x 1\nb: *x\nc: 2\n", ("b",), "a: &x 1\nc: 2\n"),
    ("l:\n- 1  # one\n- 2  # two\n- 3\n", ("l", 1), "l:\n- 1  # one\n- 3\n"),
    ("l: [1, 2, 3]\n", ("l", 0), "l: [2, 3]\n"),
    ("1: a\n1.0: b\ntrue: c\nx: d\n", (1,), "x: d\n"),
    ("a: 1\na: 2\nb: 3\n", ("a",), "b: 3\n"),
]


@pytest.mark.parametrize("before,path,after", DELETIONS)
def test_deletion_keeps_the_surroundings(before, path, after):
    doc = rt(before)
    target = doc
    for step in path[:-1]:
        target = target[step]
    del target[path[-1]]
    assert doc.to_yaml().decode() == after
    reloads(doc)


def test_assignment_appends_a_missing_key():
    doc = rt("a: 1  # one\n")
    doc["b"] = {"c": [1]}
    doc[3] = "three"
    assert reloads(doc) == "a: 1  # one\nb:\n  c:\n  - 1\n3: three\n"


def test_assignment_replaces_the_last_equal_key():
    doc = rt("true: a\n1.0: b\nc: d\n")
    doc[1] = "x"
    assert doc.to_yaml() == b"true: a\n1.0: x\nc: d\n"


def test_aliases_name_the_new_value():
    doc = rt("a: &x 1  # one\nb: *x\n")
    doc["a"] = {"k": 1}
    # The trailing comment moves to the key's line: a block mapping follows.
    assert reloads(doc) == "a: &x  # one\n  k: 1\nb: *x\n"
    assert doc.to_dict() == {"a": {"k": 1}, "b": {"k": 1}}


def test_an_unedited_document_is_written_verbatim_and_an_edited_one_is_emitted():
    text = "a:   1   # odd   spacing\nb: 'q'\n"
    doc = rt(text)
    assert doc.to_yaml() == text.encode()
    doc["b"] = "q"
    assert doc.to_yaml() == b"a:   1   # odd   spacing\nb: q\n"


# ---------------------------------------------------------------------------
# Errors.

INDEX_ERRORS = [
    (3, IndexError, "index out of range"),
    (-1, OverflowError, "can't convert negative int to unsigned"),
    ("x", TypeError, "'str' object cannot be interpreted as an integer"),
    (1.0, TypeError, "'float' object cannot be interpreted as an integer"),
]


# A sequence view, and a stream of documents, which is a list of them.
@pytest.mark.parametrize("text,path", [("s: [a, b, c]\n", ("s",)),
                                       ("a: 1\n---\nb: 2\n--- c\n", ())])
@pytest.mark.parametrize("key,error,message", INDEX_ERRORS)
def test_index_errors(text, path, key, error, message):
    doc = rt(text)
    target = doc
    for step in path:
        target = target[step]
    with pytest.raises(error) as info:
        target[key] = 5
    assert str(info.value) == message
    with pytest.raises(error) as info:
        del target[key]
    assert str(info.value) == message
    assert doc.to_yaml() == text.encode()


def test_sequence_item_replaced_with_bool_index():
    doc = rt("s: [a, b]\n")
    doc["s"][True] = "z"
    assert doc.to_yaml() == b"s: [a, z]\n"


def test_missing_key_deletion_raises_keyerror_with_the_key():
    doc = rt("a: 1\n")
    key = ("t", 1)
    with pytest.raises(KeyError) as info:
        del doc[key]
    assert info.value.args == (key,)
    with pytest.raises(KeyError) as info:
        del doc["b"]
    assert info.value.args == ("b",)


def test_edits_on_a_scalar():
    doc = rt("just a scalar\n")
    other = rt("a: {k: 1}\n")
    view = other["a"]
    other["a"] = 5
    for target in (doc, view):
        with pytest.raises(TypeError) as info:
            target["k"] = 1
        assert str(info.value) == "node is not a mapping or sequence"
        with pytest.raises(TypeError) as info:
            del target["k"]
        assert str(info.value) == "node is not a mapping or sequence"


def test_stale_view_edits():
    doc = rt("a: {b: 1}\nc: 2\n")
    view = doc["a"]
    del doc["a"]
    with pytest.raises(KeyError) as info:
        view["b"] = 2
    assert info.value.args == ("stale view",)
    with pytest.raises(KeyError) as info:
        del view["b"]
    assert info.value.args == ("stale view",)


def test_edits_through_an_alias_view_change_the_anchored_collection():
    doc = rt("a: &x {k: 1}\nb: *x\n")
    doc["b"]["k"] = 2
    assert doc.to_yaml() == b"a: &x {k: 2}\nb: *x\n"
    assert doc.to_dict() == {"a": {"k": 2}, "b": {"k": 2}}


# ---------------------------------------------------------------------------
# Multi-document streams.

STREAM = "# one\na: 1\n---\n- 2\n--- !t\nlast\n"


def test_replacing_a_document():
    doc = rt(STREAM)
    doc[1] = {"b": 2}
    assert doc.to_yaml() == b"# one\na: 1\n---\nb: 2\n---\n!t last\n"
    doc[2] = "new"
    assert doc.to_yaml() == b"# one\na: 1\n---\nb: 2\n---\nnew\n"
    assert [doc[0].to_dict(), doc[1].to_dict(), doc[2]] == [{"a": 1}, {"b": 2}, "new"]


def test_deleting_documents():
    doc = rt(STREAM)
    del doc[1]
    assert len(doc) == 2
    assert doc.to_yaml() == b"# one\na: 1\n---\n!t last\n"
    del doc[0]
    assert len(doc) == 1
    assert doc.to_yaml() == b"---\n!t last\n"
    assert doc.to_dict() == "last"


# The stream's %YAML directive decides how every document of it reads, so
# it stays at the head whichever document is replaced, removed or edited,
# also when it stands on an empty first document, which loading leaves out.
# On every road that loads a document. (Replacing or deleting the first
# document of a 1.1 stream took the directive with it: "b: yes" then read
# back as 'yes' and "c: 0o17" as 15; on an empty first document the
# directive was lost at the first edit of any document.)
VERSIONED = "a: yes\nb: 0o17\n---\nc: on\nd: 1:20\n---\ne: y\nf: 1_000\n"
VERSIONED_HEADS = {
    "directive": "%YAML {}\n---\n",
    "empty_first": "%YAML {}\n---\n---\n",
    "empty_first_comment": "%YAML {}\n--- # c\n---\n",
    "empty_first_ended": "%YAML {}\n---\n...\n---\n",
}
VERSIONED_VALUES = {
    "1.1": [{"a": True, "b": "0o17"}, {"c": True, "d": 80}, {"e": True, "f": 1000}],
    "1.2": [{"a": "yes", "b": 15}, {"c": "on", "d": "1:20"}, {"e": "y", "f": "1_000"}],
}


@pytest.mark.parametrize("road", [0, o.OPT_ENV_VAR], ids=["round_trip", "directives"])
@pytest.mark.parametrize("head", VERSIONED_HEADS.values(), ids=VERSIONED_HEADS.keys())
@pytest.mark.parametrize("version", ["1.1", "1.2"])
@pytest.mark.parametrize("index", [0, 1, 2])
@pytest.mark.parametrize("operation", ["replace", "delete", "edit"])
def test_untouched_documents_keep_their_values_under_the_stream_directive(
        road, head, version, index, operation):
    doc = rt(head.format(version) + VERSIONED, road)
    expected = list(VERSIONED_VALUES[version])
    assert doc.to_dict() == expected
    if operation == "replace":
        doc[index] = {"n": "yes", "o": "0o17"}
        expected[index] = {"n": "yes", "o": "0o17"}
    elif operation == "delete":
        del doc[index]
        del expected[index]
    else:
        key = next(iter(expected[index]))
        doc[index][key] = "0o17"
        expected[index] = dict(expected[index], **{key: "0o17"})
    written = doc.to_yaml().decode()
    assert written.startswith("%YAML {}\n---\n".format(version))
    assert written.count("%YAML") == 1
    assert rt(written).to_dict() == doc.to_dict() == expected


# A later document's own %YAML directive is not what the stream was read by:
# at the head it gives way to the stream's (or to none); %TAG directives are
# each document's own and stay with it ("%TAG !!" moved onto the next
# document would change what its "!!int" reads).
@pytest.mark.parametrize("text,written,values", [
    ("%YAML 1.1\n---\na: 1\n...\n%YAML 1.2\n---\nb: yes\n",
     "%YAML 1.1\n---\nb: yes\n", {"b": True}),
    ("a: 1\n...\n%YAML 1.1\n---\nb: yes\n", "---\nb: yes\n", {"b": "yes"}),
    ("%YAML 1.1\n---\na: 1\n...\n%TAG !e! tag:e.com,2000:\n%YAML 1.2\n---\nb: !e!x 1\nc: yes\n",
     "%TAG !e! tag:e.com,2000:\n%YAML 1.1\n---\nb: !e!x 1\nc: yes\n", {"b": "1", "c": True}),
    ("%YAML 1.1\n%TAG !! tag:e.com,2000:\n---\na: !!str 1\n---\nb: !!int \"2\"\nc: yes\n",
     "%YAML 1.1\n---\nb: !!int \"2\"\nc: yes\n", {"b": 2, "c": True}),
    # After an empty document, a directive does not lead the stream: the
    # stream's goes above that document, the next document's own stays.
    ("---\n...\n%YAML 1.1\n---\na: 1\n---\nb: yes\n", "---\nb: yes\n", {"b": "yes"}),
    ("%YAML 1.1\n---\na: 1\n---\n...\n%YAML 1.2\n---\nb: yes\n",
     "%YAML 1.1\n---\n...\n%YAML 1.2\n---\nb: yes\n", {"b": True}),
    ("%YAML 1.1\n---\n...\n%YAML 1.2\n---\na: 1\n---\nb: yes\n",
     "%YAML 1.1\n---\nb: yes\n", {"b": True}),
    ("%YAML 1.1\n%TAG !e! tag:e.com,2000:\n---\n...\n%TAG !e! tag:f.com,2000:\n---\na: !e!x 1\n"
     "---\nb: yes\n", "%YAML 1.1\n---\nb: yes\n", {"b": True}),
])
def test_the_next_document_takes_the_stream_directive_alone(text, written, values):
    doc = rt(text)
    del doc[0]
    assert doc.to_yaml() == written.encode()
    assert doc.to_dict() == rt(written).to_dict() == values


# Deleting a document follows the text's line breaks, as every other edit
# does. (Deleting one wrote the rest with LF.)
@pytest.mark.parametrize("brk", ["\r\n", "\r"])
@pytest.mark.parametrize("deletions,rest", [
    ([0], "---|b: 2|---|c: 3|"),
    ([1], "a: 1|---|c: 3|"),
    ([2], "a: 1|---|b: 2|"),
    ([0, 0], "---|c: 3|"),
])
def test_deleting_a_document_keeps_the_line_breaks(brk, deletions, rest):
    doc = rt("a: 1|---|b: 2|---|c: 3|".replace("|", brk))
    for index in deletions:
        del doc[index]
    assert doc.to_yaml() == rest.replace("|", brk).encode()


def test_first_document_without_marker_replaced_gets_one_only_when_later():
    doc = rt("a: 1\n---\nb: 2\n")
    doc[0] = [1]
    assert doc.to_yaml() == b"- 1\n---\nb: 2\n"


def test_empty_document_never_gains_a_root():
    doc = rt("")
    with pytest.raises(IndexError):
        doc[0] = 1
    assert len(doc) == 0


def test_views_of_later_documents_edit_their_own_document():
    doc = rt("a: 1\n---\nb: [1, 2]\n")
    doc[1]["b"][0] = "x"
    del doc[1]["b"][1]
    assert doc.to_yaml() == b"a: 1\n---\nb: [x]\n"


# ---------------------------------------------------------------------------
# Comment lines above a document's directives or "---" stay there after an
# edit; those below stay below.

SCHEMA = "# yaml-language-server: $schema=s.json\n"


def root_comments(doc):
    """The lines above each document's root, as the root cursors read them."""
    if len(doc) > 1 and isinstance(doc.to_dict(), list):
        return [doc[i].node.comment_before for i in range(len(doc))]
    return [doc.node.comment_before]


def edit_first_key(doc, index=None):
    target = doc if index is None else doc[index]
    target[next(iter(target.keys()))] = 5


@pytest.mark.parametrize("before,after", [
    (SCHEMA + "%YAML 1.2\n---\na: 1\n", SCHEMA + "%YAML 1.2\n---\na: 5\n"),
    # The custom tag reads a string, so it goes with the old content.
    ("# top\n%TAG !e! tag:e.com,2000:\n---\na: !e!x 1\n",
     "# top\n%TAG !e! tag:e.com,2000:\n---\na: 5\n"),
    ("# top\n---\na: 1\n", "# top\n---\na: 5\n"),
    ("# top\n--- # doc\na: 1\n", "# top\n---\n# doc\na: 5\n"),
    # Only the lines above the first directive: the others go below "---".
    ("# one\n# two\n%YAML 1.2\n# mid\n---\n# below\na: 1\n",
     "# one\n# two\n%YAML 1.2\n---\n# mid\n# below\na: 5\n"),
    ("%YAML 1.2\n---\n# below\na: 1\n", "%YAML 1.2\n---\n# below\na: 5\n"),
    # Without a marker the lines stay where they were.
    ("# top\na: 1\n", "# top\na: 5\n"),
])
def test_lines_above_the_marker_stay_above_after_an_edit(before, after):
    doc = rt(before)
    comments = root_comments(doc)
    edit_first_key(doc)
    assert doc.to_yaml().decode() == after
    again = rt(doc.to_yaml())
    assert again.to_dict() == doc.to_dict()
    assert root_comments(again) == comments


@pytest.mark.parametrize("text", [
    SCHEMA + "%YAML 1.2\n---\na: 1\n",
    SCHEMA + "%TAG !e! tag:e.com,2000:\n---\na: !e!x 1\n",
    SCHEMA + "# more\n---\na: 1\n",
])
def test_schema_ref_finds_the_reference_after_an_edit(text):
    doc = rt(text)
    doc["a"] = 2
    assert o.schema_ref(doc.to_yaml()) == "s.json"


def test_a_root_made_anew_keeps_the_lines_above_its_marker():
    doc = rt(SCHEMA + "%YAML 1.2\n---\na: 1\n")
    doc.node.value = {"b": [1]}
    assert doc.to_yaml().decode() == SCHEMA + "%YAML 1.2\n---\nb:\n- 1\n"


# Later documents: the lines above their "---" stay theirs. After a document
# that ends in an empty node with an anchor or tag, which would take the
# lines below it as its own, a "..." ends that document first.
@pytest.mark.parametrize("before,after", [
    ("a: 1\n# two\n---\nb: 2\n", "a: 5\n# two\n---\nb: 2\n"),
    ("a: 1\n...\n# two\n%YAML 1.2\n---\nb: 2\n",
     "a: 5\n...\n# two\n%YAML 1.2\n---\nb: 2\n"),
    ("a: 1\n---\nx: !t\n...\n# c\n---\nb: 1\n", "a: 5\n---\nx: !t\n...\n# c\n---\nb: 1\n"),
    ("a: 1\n---\n- - &y\n...\n# c\n---\nb: 1\n", "a: 5\n---\n- - &y\n...\n# c\n---\nb: 1\n"),
    ("a: 1\n---\n!t k: !t\n...\n# c\n---\nb: 1\n",
     "a: 5\n---\n!t k: !t\n...\n# c\n---\nb: 1\n"),
    # Where a comment line ends the document safely, no "...".
    ("a: 1\n---\nx:\n...\n# c\n---\nb: 1\n", "a: 5\n---\nx:\n# c\n---\nb: 1\n"),
    ("a: 1\n---\nx: [!t ]\n...\n# c\n---\nb: 1\n", "a: 5\n---\nx: [!t '']\n# c\n---\nb: 1\n"),
    ("a: 1\n---\nx: |+\n  k\n\n# c\n---\nb: 1\n", "a: 5\n---\nx: |+\n  k\n\n# c\n---\nb: 1\n"),
])
def test_lines_above_a_later_marker_stay_with_their_document(before, after):
    doc = rt(before)
    comments = root_comments(doc)
    edit_first_key(doc, 0)
    assert doc.to_yaml().decode() == after
    again = rt(doc.to_yaml())
    assert again.to_dict() == doc.to_dict()
    assert root_comments(again) == comments


def test_lines_above_each_marker_of_a_stream_after_edits():
    text = SCHEMA + "%YAML 1.2\n---\na: 1\n...\n# two\n---\nb: 2\n# three\n--- {c: 3}\n"
    doc = rt(text)
    doc[0]["a"] = 5
    doc[1]["b"] = 6
    assert doc.to_yaml().decode() == (
        SCHEMA + "%YAML 1.2\n---\na: 5\n# two\n---\nb: 6\n# three\n---\n{c: 3}\n")
    again = rt(doc.to_yaml())
    assert root_comments(again) == ["yaml-language-server: $schema=s.json", "two", "three"]
    assert again.to_dict() == [{"a": 5}, {"b": 6}, {"c": 3}]


# ---------------------------------------------------------------------------
# The alias check.

def test_alias_safe_delete_leaves_the_text_verbatim():
    text = "a: &x 1   # odd\nb: *x\n"
    doc = rt(text)
    with pytest.raises(ValueError) as info:
        del doc["a"]
    assert str(info.value) == (
        "deleting this node would remove anchor '&x', still referenced by an alias '*x' "
        "elsewhere; the result would not re-parse. Remove or rewrite the alias first.")
    assert doc.to_yaml() == text.encode()
    del doc["b"]
    del doc["a"]
    assert reloads(doc) == "{}\n"


@pytest.mark.parametrize("text,path", [
    ("a: {k: &x 1}\nb: *x\n", ("a",)),
    ("l: [&x 1, 2]\nb: [*x]\n", ("l", 0)),
    ("? &x k\n: v\nb: *x\n", ("k",)),
])
def test_deletions_that_strand_an_alias(text, path):
    doc = rt(text)
    target = doc
    for step in path[:-1]:
        target = target[step]
    with pytest.raises(ValueError):
        del target[path[-1]]
    assert doc.to_yaml() == text.encode()


@pytest.mark.parametrize("text,key,after", [
    # the definition the alias reads remains (deleting "b" is refused: "c"
    # would read "a")
    ("a: &x 1\nb: &x 2\nc: *x\n", "a", "b: &x 2\nc: *x\n"),
    # an alias that had no definition never blocks
    ("a: &y 1\nb: 2\n", "a", "b: 2\n"),
    # the alias goes with the anchor
    ("a: [&x 1, *x]\nb: 2\n", "a", "b: 2\n"),
])
def test_deletions_that_strand_nothing(text, key, after):
    doc = rt(text)
    del doc[key]
    assert doc.to_yaml() == after.encode()


def test_mend_assignment_over_a_used_anchor_is_refused():
    text = "a:\n  inner: &x 1\nb: *x\n"
    doc = rt(text)
    with pytest.raises(ValueError) as info:
        doc["a"] = 5
    assert "anchor '&x'" in str(info.value)
    assert doc.to_yaml() == text.encode()
    # The replaced node's own anchor moves to the new node: allowed.
    doc["a"]["inner"] = 2
    assert reloads(doc) == "a:\n  inner: &x 2\nb: *x\n"
    # Once the alias is gone, the subtree can go.
    doc["b"] = 0
    doc["a"] = 5
    assert reloads(doc) == "a: 5\nb: 0\n"


def test_mend_assignment_check_in_sequences():
    doc = rt("- [&x 1]\n- *x\n")
    with pytest.raises(ValueError):
        doc[0] = "gone"
    assert doc.to_yaml() == b"- [&x 1]\n- *x\n"


# An empty key reads as None and is found, replaced and deleted by None like
# any other key. (doc[None] = 5; doc[None] = 6 used to append a second
# "null:" key, and doc[None] on ": 1" raised KeyError.)
@pytest.mark.parametrize("text,value,assigned,deleted", [
    ("a: 1\n", None, "a: 1\nnull: 6\n", "a: 1\n"),
    # An empty key written anew is spelt null.
    (": 1\n", 1, "null: 6\n", "{}\n"),
    ("? \n: 1\nb: 2\n", 1, "null: 6\nb: 2\n", "b: 2\n"),
    ("~: 1\n", 1, "~: 6\n", "{}\n"),
])
def test_the_null_key_is_found_replaced_and_deleted(text, value, assigned, deleted):
    doc = rt(text)
    assert doc.get(None, None) == value
    replace_twice_then_delete(doc, doc, None, assigned, deleted)


def replace_twice_then_delete(doc, mapping, key, assigned, deleted):
    """Assigning a key twice replaces it (one entry, the later value), and
    deleting it leaves no entry to delete again."""
    mapping[key] = 5
    mapping[key] = 6
    assert mapping[key] == 6
    assert reloads(doc) == assigned
    assert_peers_read(assigned, doc.to_dict())
    del mapping[key]
    assert reloads(doc) == deleted
    with pytest.raises(KeyError):
        del mapping[key]


# An empty key tagged !!str reads as "" and is found by "", in block and
# flow alike. (keys() listed it while doc[""] raised KeyError.)
@pytest.mark.parametrize("text,assigned,deleted", [
    ("!!str : 1\nb: 2\n", "!!str '': 6\nb: 2\n", "b: 2\n"),
    ("{!!str : 1, b: 2}\n", "{!!str '': 6, b: 2}\n", "{b: 2}\n"),
    ("a: {!!str &k : 1}\n", "a: {!!str &k '': 6}\n", "a: {}\n"),
])
def test_an_empty_str_key_is_found_replaced_and_deleted(text, assigned, deleted):
    doc = rt(text)
    mapping = doc["a"] if text.startswith("a:") else doc
    assert list(mapping.keys())[0] == "" and mapping[""] == 1 and None not in mapping
    replace_twice_then_delete(doc, mapping, "", assigned, deleted)


def test_a_collection_under_the_null_key_is_a_live_view():
    doc = rt(': {k: 1}\n"": {k: 2}\n')
    view = doc[None]
    assert isinstance(view, OstrevaneDocumentView) and view["k"] == 1
    view["k"] = 5
    doc[""]["k"] = 7
    assert reloads(doc) == 'null: {k: 5}\n"": {k: 7}\n'
    assert doc.to_dict() == {None: {"k": 5}, "": {"k": 7}}
    del doc[None]
    assert view.__repr__() == "OstrevaneDocumentView(<stale>)"


# A merge key reads its source through an alias: the source replaced by
# something a merge cannot take (a scalar, None, a list of scalars) would
# turn "<<: *m" into an ordinary key, which other readers refuse. Such an
# assignment is refused; a mapping, or a list of mappings where the alias is
# the merge value itself, is accepted. ("- &m 5\n- <<: *m" used to be
# written.)
UNMERGEABLE = ("replacing this node would change anchor '&{0}', which a merge key ('<<') reads "
               "through '*{0}', into something that cannot be merged; the result would not load "
               "as a merge. Assign a mapping, or rewrite the merge first.")

MERGED = "- &m {a: 1}\n- <<: *m\n  b: 2\n"
MERGED_LIST = "- &m {a: 1}\n- &n {b: 2}\n- <<: [*m, *n]\n"
MERGED_UNDER_KEY = "base: &m {a: 1}\nx:\n  <<: *m\n"


def set_value(path, value):
    def edit(doc):
        node = doc.node
        for step in path:
            node = node[step]
        node.value = value
    return edit


def make_alias(path, name):
    def edit(doc):
        node = doc.node
        for step in path:
            node = node[step]
        node.make_alias(name)
    return edit


# The merge key's own value, and each item of its list, take the same
# refusal: "<<: 1" is an ordinary key, and "<<: null" merges nothing.
# (d["f"]["<<"] = 1 used to be written, changing what f reads.)
UNMERGEABLE_OWN = ("replacing this node would change what a merge key ('<<') reads into "
                   "something that cannot be merged; the result would not load as a merge. "
                   "Assign a mapping, or rewrite the merge first.")

MERGE_VALUE = "base: &A {x: 1}\nf:\n  <<: *A\n  z: 3\n"
MERGE_ITEMS = "base: &A {x: 1}\nf:\n  <<: [*A]\n  z: 3\n"
MERGE_INLINE = "f:\n  <<: {x: 1}\n  z: 3\n"
MERGED_THROUGH_LIST = "l: &L [{a: 1}]\nf: {<<: *L, z: 1}\n"


@pytest.mark.parametrize("text,edit,name", [
    (MERGE_VALUE, assign("f", "<<", 1), None),
    (MERGE_VALUE, assign("f", "<<", "s"), None),
    (MERGE_VALUE, assign("f", "<<", [1]), None),
    (MERGE_VALUE, assign("f", "<<", None), None),
    (MERGE_VALUE, assign("f", "<<", [{"y": 2}, 1]), None),
    (MERGE_VALUE, set_value(["f", "<<"], 1), None),
    (MERGE_INLINE, assign("f", "<<", 1), None),
    ("base: &A {x: 1}\n<<: *A\nz: 3\n", assign("<<", [1]), None),
    (MERGE_INLINE, set_value(["f", "<<"], None), None),
    ("- {x: 1}\n- <<: [{x: 1}]\n", assign(1, "<<", 0, [{"y": 2}]), None),
    ("s: &S 1\n" + MERGE_VALUE, make_alias(["f", "<<"], "S"), None),
    (MERGE_ITEMS, assign("f", "<<", 0, 1), None),
    (MERGE_ITEMS, assign("f", "<<", 0, [{"y": 2}]), None),
    (MERGE_ITEMS, set_value(["f", "<<", 0], 1), None),
    ("s: &S [{a: 1}]\n" + MERGE_ITEMS, make_alias(["f", "<<", 0], "S"), None),
    # A list the merge reads through an alias.
    (MERGED_THROUGH_LIST, assign("l", 0, 1), "L"),
    (MERGED_THROUGH_LIST, set_value(["l", 0], None), "L"),
    (MERGED, assign(0, 5), "m"),
    (MERGED, assign(0, None), "m"),
    (MERGED, assign(0, "text"), "m"),
    (MERGED, assign(0, [1, 2]), "m"),
    (MERGED, set_value([0], 5), "m"),
    (MERGED_UNDER_KEY, assign("base", 5), "m"),
    (MERGED_UNDER_KEY, set_value(["base"], ["x"]), "m"),
    # Inside a merge list every item must be a mapping.
    (MERGED_LIST, assign(1, [{"c": 3}]), "n"),
    (MERGED_LIST, assign(0, 0), "m"),
])
def test_replacing_a_merge_source_by_what_cannot_be_merged_is_refused(text, edit, name):
    doc = rt(text)
    with pytest.raises(ValueError) as info:
        edit(doc)
    assert info.value.args == (UNMERGEABLE_OWN if name is None else UNMERGEABLE.format(name),)
    assert doc.to_yaml() == text.encode()


@pytest.mark.parametrize("text,edit,values", [
    (MERGED, assign(0, {"c": 3}), [{"c": 3}, {"c": 3, "b": 2}]),
    (MERGED, set_value([0], {}), [{}, {"b": 2}]),
    (MERGED, assign(0, [{"c": 3}, {"d": 4}]),
     [[{"c": 3}, {"d": 4}], {"c": 3, "d": 4, "b": 2}]),
    (MERGED_LIST, assign(1, {"c": 3}), [{"a": 1}, {"c": 3}, {"a": 1, "c": 3}]),
    (MERGED_UNDER_KEY, assign("base", {"z": 0}), {"base": {"z": 0}, "x": {"z": 0}}),
    (MERGE_VALUE, assign("f", "<<", {"y": 2}), {"base": {"x": 1}, "f": {"y": 2, "z": 3}}),
    (MERGE_VALUE, assign("f", "<<", [{"y": 2}, {"w": 4}]),
     {"base": {"x": 1}, "f": {"y": 2, "w": 4, "z": 3}}),
    (MERGE_VALUE, set_value(["f", "<<"], {}), {"base": {"x": 1}, "f": {"z": 3}}),
    (MERGE_INLINE, assign("f", "<<", {"y": 2}), {"f": {"y": 2, "z": 3}}),
    (MERGE_ITEMS, assign("f", "<<", 0, {"y": 2}), {"base": {"x": 1}, "f": {"y": 2, "z": 3}}),
    (MERGE_ITEMS, set_value(["f", "<<", 0], {"y": 2}),
     {"base": {"x": 1}, "f": {"y": 2, "z": 3}}),
    ("s: &S {a: 1}\n" + MERGE_VALUE, make_alias(["f", "<<"], "S"),
     {"s": {"a": 1}, "base": {"x": 1}, "f": {"a": 1, "z": 3}}),
    ("s: &S [{a: 1}]\n" + MERGE_VALUE, make_alias(["f", "<<"], "S"),
     {"s": [{"a": 1}], "base": {"x": 1}, "f": {"a": 1, "z": 3}}),
    ("s: &S {a: 1}\n" + MERGE_ITEMS, make_alias(["f", "<<", 0], "S"),
     {"s": {"a": 1}, "base": {"x": 1}, "f": {"a": 1, "z": 3}}),
    (MERGED_THROUGH_LIST, assign("l", 0, {"b": 2}), {"l": [{"b": 2}], "f": {"b": 2, "z": 1}}),
    # Inside what a merge reads, anything goes as long as it stays a mapping.
    (MERGE_INLINE, assign("f", "<<", "x", [1]), {"f": {"x": [1], "z": 3}}),
    # The merging mapping itself, and a source no merge reads, take anything.
    (MERGED, assign(1, 5), [{"a": 1}, 5]),
    ("- &m {a: 1}\n- *m\n", assign(0, 5), [5, 5]),
])
def test_replacing_a_merge_source_by_a_mapping_is_accepted(text, edit, values):
    doc = rt(text)
    edit(doc)
    assert doc.to_dict() == values
    written = reloads(doc)
    assert rt(written).to_dict() == values
    assert_peers_read(written, values)


# ---------------------------------------------------------------------------
# Deep edits.

def test_mend_deep_edits_are_written_converted_and_dropped():
    # Twenty times the depth a load accepts, one assignment of 999 levels at
    # a time at the bottom. (tests/cpp/roundtrip/test_edit.cpp goes past
    # 100,000 levels natively; here each step down costs a view.) The flow
    # sequence around keeps the text linear in the depth.
    doc = rt("v: [0]  # deep\n")
    view = doc["v"]
    depth = 0
    while depth < 20000:
        view[0] = nested(999)
        for _ in range(999):
            view = view[0]
        depth += 999
    text = doc.to_yaml()
    # The comment after the one-line sequence stays on the sequence's line.
    assert text.startswith(b"v: [[[[") and text.endswith(b"]  # deep\n")
    assert text.count(b"[") == depth + 1
    value = doc.to_dict()["v"]
    levels = 0
    while isinstance(value, list):
        value = value[0]
        levels += 1
    assert levels == depth + 1
    del view, doc


# ---------------------------------------------------------------------------
# A block scalar kept from the source is written back with its own line
# breaks; a lone CR ends a line like LF does, so the lines a keep-chomped
# scalar holds are not written again as blank lines before the next key.

@pytest.mark.parametrize("text", [
    b"d: |+\n  kea:\r\r\rb: x\n",
    b"d: |+\n  kea:\r\r\r\n\r\r\r\rb: x\n",
    b"d: |+\r  kea:\r\r\rb: x\r",
    b"d: |+\r\n  kea:\r\n\r\n\r\nb: x\r\n",
    b"d: |-\n  kea:\r\r\rb: x\n",
])
def test_kept_block_scalars_with_cr_breaks_read_back(text):
    doc = rt(text)
    doc["b"] = 1
    assert loads(doc.to_yaml()) == {"d": loads(text)["d"], "b": 1}


# ---------------------------------------------------------------------------
# Borrows: Python code run inside an edit meets the exclusive borrow.

def test_reads_inside_an_assignment_key_comparison():
    doc = rt("a: 1\nb: 2\n")
    seen = []
    doc[comparing_key([lambda: doc.origin, lambda: doc["a"], lambda: doc.to_yaml()], seen,
                      matches="b")] = 5
    assert seen[:3] == [
        ("RuntimeError", "Already mutably borrowed"),
        ("PanicException", "Already mutably borrowed"),
        ("RuntimeError", "Already mutably borrowed"),
    ]
    assert doc.origin is None and doc["b"] == 5


def test_a_value_converted_inside_a_view_edit_meets_the_view_borrow():
    doc = rt("v: {a: 1}\n")
    view = doc["v"]
    seen = []
    view["a"] = converting_number([lambda: len(view), lambda: view["a"]], seen)
    assert seen == [("RuntimeError", "Already mutably borrowed"),
                    ("PanicException", "Already mutably borrowed")]
    assert view["a"] == 2.5


# ---------------------------------------------------------------------------
# Property: for commented documents and edits, the written text loads again
# to the values the document holds.

from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

KEYS = st.sampled_from(["a", "b", "c", "key", "1", "true", "x y"])
TEXTS = st.one_of(
    st.sampled_from(["", "true", "12", "1.5", "a: b", "- x", "#x", " lead", "tail ", "it's",
                     'say "hi"', "multi\nline", "~", "null", "2001-12-14", "@at", "{x}"]),
    st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=8))
SCALARS = st.one_of(st.none(), st.booleans(), st.integers(), TEXTS,
                    st.floats(allow_nan=False))
VALUES = st.recursive(
    SCALARS,
    lambda inner: st.one_of(st.lists(inner, max_size=3),
                            st.dictionaries(KEYS, inner, max_size=3)),
    max_leaves=8)


def yaml_text(draw, value, indent):
    """A block YAML text of `value` with comments and blank lines drawn."""
    pad = " " * indent
    if not (isinstance(value, (dict, list)) and value):
        return [pad + inline(value)]
    lines = []
    is_mapping = isinstance(value, dict)
    for k, v in value.items() if is_mapping else ((None, v) for v in value):
        if is_mapping:
            if draw(st.booleans()):
                lines.append(f"{pad}# about {k}")
            if draw(st.integers(0, 3)) == 0:
                lines.append("")
            intro = o.dumps(k).decode().strip() + ":"
        else:
            intro = "-"
        tail = "  # note" if draw(st.booleans()) else ""
        if isinstance(v, (dict, list)) and v:
            lines.append(f"{pad}{intro}{tail}")
            lines.extend(yaml_text(draw, v, indent + 2))
        else:
            lines.append(f"{pad}{intro} {inline(v)}{tail}")
    return lines


def inline(value):
    if isinstance(value, (dict, list)) and value:
        return ""
    if isinstance(value, str):
        return double_quoted(value)
    return o.dumps(value, option=o.OPT_NULL_AS_KEYWORD).decode().rstrip("\n")


def double_quoted(text):
    out = ['"']
    for ch in text:
        c = ord(ch)
        if ch in '\\"':
            out.append("\\" + ch)
        elif c < 0x20 or 0x7F <= c <= 0x9F or c in (0x2028, 0x2029, 0xFEFF, 0xFFFE, 0xFFFF):
            out.append(f"\\u{c:04x}")
        else:
            out.append(ch)
    return "".join(out) + '"'


@st.composite
def commented_documents(draw):
    value = draw(st.dictionaries(KEYS, VALUES, min_size=1, max_size=4))
    return "\n".join(yaml_text(draw, value, 0)) + "\n"


def containers(doc):
    """Paths of every mapping and sequence below the root, the root first."""
    found = [()]
    for path, _ in doc.walk():
        for cut in range(1, len(path)):
            if path[:cut] not in found:
                found.append(path[:cut])
    return found


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=commented_documents(), data=st.data())
def test_edited_texts_load_again(text, data):
    doc = rt(text)
    for _ in range(data.draw(st.integers(1, 4))):
        paths = containers(doc)
        path = data.draw(st.sampled_from(paths))
        target = doc
        for step in path:
            target = target[step]
        current = target if path == () else target.to_dict()
        keys = list(current.keys()) if isinstance(current, (dict, type(doc))) else \
            list(range(len(current)))
        if path == ():
            keys = doc.keys()
        delete = keys and data.draw(st.booleans())
        if delete:
            key = data.draw(st.sampled_from(keys))
            del target[key]
        elif isinstance(keys, list) and keys and not isinstance(keys[0], int):
            target[data.draw(st.one_of(KEYS, st.sampled_from(keys)))] = data.draw(VALUES)
        elif keys:
            target[data.draw(st.sampled_from(keys))] = data.draw(VALUES)
        else:
            continue
        written = doc.to_yaml()
        assert loads(written) == doc.to_dict(), written
        assert rt(written).to_dict() == doc.to_dict()

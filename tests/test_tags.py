"""The OstrevaneTag class."""

import gc
import weakref

import pytest

import _ostrevane
from _ostrevane import OstrevaneTag

DOC = (
    "A custom-tagged YAML value, returned when `OPT_PASSTHROUGH_TAG` is set and\n"
    "accepted by `dumps` to emit a `!tag value` back out.\n\n"
    "Holds the original tag (e.g. `!mytag`) and the resolved inner `value`."
)


def test_class_surface():
    assert OstrevaneTag.__doc__ == DOC
    assert OstrevaneTag.__text_signature__ == "(tag, value)"
    assert OstrevaneTag.__bases__ == (object,)
    assert _ostrevane.OstrevaneTag is OstrevaneTag


@pytest.mark.parametrize("args,kwargs", [
    (("!mytag", 5), {}),
    (("!mytag",), {"value": 5}),
    ((), {"tag": "!mytag", "value": 5}),
])
def test_constructor_by_position_or_keyword(args, kwargs):
    tag = OstrevaneTag(*args, **kwargs)
    assert tag.tag == "!mytag"
    assert tag.value == 5


def test_value_is_kept_not_copied():
    items = [1, 2]
    assert OstrevaneTag("!x", items).value is items


@pytest.mark.parametrize("tag,expected", [
    ("!mytag", "OstrevaneTag('!mytag', ...)"),
    ("!it's", "OstrevaneTag('!it's', ...)"),
    ("", "OstrevaneTag('', ...)"),
])
def test_repr_shows_tag_unescaped_and_never_the_value(tag, expected):
    assert repr(OstrevaneTag(tag, "secret")) == expected


@pytest.mark.parametrize("bad,type_name", [(1, "int"), (b"!x", "bytes"), (None, "NoneType")])
def test_tag_must_be_str(bad, type_name):
    with pytest.raises(TypeError) as info:
        OstrevaneTag(bad, 1)
    assert str(info.value) == f"'{type_name}' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'tag'"]


def test_tag_that_has_no_utf8_form():
    with pytest.raises(UnicodeEncodeError) as info:
        OstrevaneTag("\ud800", 1)
    assert info.value.__notes__ == ["while processing 'tag'"]


@pytest.mark.parametrize("args,kwargs", [((), {}), (("!x",), {}), (("!x", 1, 2), {}),
                                         (("!x", 1), {"tag": "!y"}), ((), {"tag": "!x", "v": 1})])
def test_argument_shape_errors(args, kwargs):
    with pytest.raises(TypeError):
        OstrevaneTag(*args, **kwargs)


def test_attributes_are_read_only():
    tag = OstrevaneTag("!x", 1)
    for name in ("tag", "value"):
        with pytest.raises(AttributeError):
            setattr(tag, name, 2)


def test_identity_equality_and_hash():
    a = OstrevaneTag("!x", 1)
    b = OstrevaneTag("!x", 1)
    assert a != b
    assert a == a
    assert len({a: 1, b: 2}) == 2


def test_subclass_instances():
    class Mine(OstrevaneTag):
        pass

    tag = Mine("!m", [1])
    assert isinstance(tag, OstrevaneTag)
    assert tag.tag == "!m" and tag.value == [1]


def test_cycle_through_value_is_collected():
    class Box(list):
        pass

    items = Box()
    tag = OstrevaneTag("!c", items)
    items.append(tag)
    ref = weakref.ref(items)
    del items, tag
    gc.collect()
    assert ref() is None

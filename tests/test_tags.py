"""The OstrevaneTag class."""

import gc
import json
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


# ---------------------------------------------------------------------------
# Tag callbacks on the plain roads of loads and loads_all.

from ostrevane import OPT_PASSTHROUGH_TAG, loads, loads_all  # noqa: E402

ROADS = [
    pytest.param(lambda text, **kw: loads(text, **kw), id="loads"),
    pytest.param(lambda text, **kw: loads_all(text, **kw)[0], id="loads_all"),
]


@pytest.mark.parametrize("load", ROADS)
def test_tags_entry_receives_converted_value(load):
    seen = []

    def point(value):
        seen.append(value)
        return ("point", value)

    assert load("!point [1, 2]", tags={"!point": point}) == ("point", [1, 2])
    assert seen == [[1, 2]]


@pytest.mark.parametrize("load", ROADS)
def test_handler_gets_name_and_value_when_tags_lack_the_tag(load):
    got = load("!other {a: 1}", tags={"!point": len}, tag_handler=lambda n, v: (n, v))
    assert got == ("!other", {"a": 1})


def test_tags_entry_wins_over_handler():
    def handler(name, value):
        raise AssertionError("handler must not run")

    assert loads("!p 3", tags={"!p": lambda v: v * 2}, tag_handler=handler) == "33"


# A custom-tagged scalar is a string: only the core tags resolve scalars.
@pytest.mark.parametrize("option,expected_type", [(0, str), (OPT_PASSTHROUGH_TAG, OstrevaneTag)])
def test_without_callbacks(option, expected_type):
    got = loads("!p 3", option=option)
    assert type(got) is expected_type
    if expected_type is OstrevaneTag:
        assert got.tag == "!p" and got.value == "3"


def test_verbatim_tag_names():
    calls = []
    assert loads("!<!point> 1", tags={"!point": lambda v: ("t", v)}) == ("t", "1")
    loads("!<!point> 1", tag_handler=lambda n, v: calls.append(n))
    assert calls == ["!point"]
    kept = loads("!<!point> 1", option=OPT_PASSTHROUGH_TAG)
    assert kept.tag == "!<!point>"


def test_verbatim_core_tag_stays_custom():
    calls = []
    assert loads("!<tag:yaml.org,2002:int> 5") == "5"
    loads("!<tag:yaml.org,2002:int> 5", tag_handler=lambda n, v: calls.append((n, v)))
    assert calls == [("tag:yaml.org,2002:int", "5")]


def test_callback_returning_none_and_raising():
    assert loads("a: !n 1", tags={"!n": lambda v: None}) == {"a": None}
    err = ValueError("from callback")

    def boom(value):
        raise err

    with pytest.raises(ValueError) as info:
        loads("a: !n 1", tags={"!n": boom})
    assert info.value is err


def test_nested_tags_run_inner_first():
    order = []

    def outer(value):
        order.append(("outer", value))
        return "O"

    def inner(value):
        order.append(("inner", value))
        return "I"

    assert loads("!outer [!inner x]", tags={"!outer": outer, "!inner": inner}) == "O"
    assert order == [("inner", "x"), ("outer", ["I"])]


def test_dict_subclass_missing_is_not_consulted():
    class Defaulting(dict):
        def __missing__(self, key):
            return lambda v: "from missing"

    assert loads("!x 1", tags=Defaulting()) == "1"


def test_tag_handler_that_is_not_callable():
    with pytest.raises(TypeError):
        loads("!x 1", tag_handler=5)


def test_callbacks_may_reenter_loads():
    assert loads("!inner 'a: 1'", tags={"!inner": loads}) == {"a": 1}


# ---------------------------------------------------------------------------
# %TAG handles read the same on every road of loads and loads_all.

import ostrevane as o  # noqa: E402

# Road name: (function, option, whether it takes include_dir).
HANDLE_ROADS = {
    "loads": (o.loads, 0, False),
    "loads_all": (o.loads_all, 0, False),
    "annotated": (o.loads, o.OPT_ANNOTATED, False),
    "annotated_all": (o.loads_all, o.OPT_ANNOTATED, False),
    "env_var": (o.loads, o.OPT_ENV_VAR, False),
    "includes": (o.loads, o.OPT_INCLUDES, True),
    "secrets": (o.loads, o.OPT_SECRETS, True),
}
# The round-trip road has no tag callbacks: its values only.
VALUE_ROADS = [*HANDLE_ROADS, "round_trip", "round_trip_all"]


def load_on(road, text, directory, option=0, **kwargs):
    if road.startswith("round_trip"):
        if road.endswith("_all"):
            return o.loads_all(text, option=o.OPT_ROUND_TRIP)[0].to_dict()
        return o.loads(text, option=o.OPT_ROUND_TRIP).to_dict()
    function, road_option, takes_dir = HANDLE_ROADS[road]
    if takes_dir:
        kwargs["include_dir"] = str(directory)
    got = function(text, option=road_option | option, **kwargs)
    return got[0] if function is o.loads_all else got


YAML_HANDLE = "%TAG !y! tag:yaml.org,2002:\n---\n"
EXAMPLE_HANDLE = "%TAG !e! tag:example.com,2000:\n---\n"


@pytest.mark.parametrize("road", VALUE_ROADS)
@pytest.mark.parametrize("text, expected", [
    # The other roads used to read the handles as custom tags: ['12', 'true', '5'].
    (YAML_HANDLE + '[!y!int "12", !y!bool "true", !y!str 5]\n', [12, True, "5"]),
    (YAML_HANDLE + '{!y!int "1": a, !y!null "": b}\n', {1: "a", None: "b"}),
    ("%TAG ! tag:yaml.org,2002:\n---\n[!int '7', !float '1']\n", [7, 1.0]),
    # "%TAG !!" moves the secondary handle away from the core types.
    ("%TAG !! tag:example.com,2000:\n---\n[!!int 5, !!str 6]\n", ["5", "6"]),
    (EXAMPLE_HANDLE + "[!e!a 12, &x !e!b x, *x]\n", ["12", "x", "x"]),
])
def test_handles_give_the_same_values_on_every_road(road, text, expected, tmp_path):
    got = load_on(road, text, tmp_path)
    # json tells True from 1 and "5" from 5, which == does not.
    assert got == expected and json.dumps(got) == json.dumps(expected)
    assert o.loads(text) == expected


def test_every_document_reads_its_own_handles():
    text = "%TAG !y! tag:example.com,2000:\n--- !y!int 1\n...\n" + YAML_HANDLE + "!y!int '2'\n"
    for option in (0, o.OPT_ANNOTATED):
        assert o.loads_all(text, option=option) == ["1", 2]
    assert [d.to_dict() for d in o.loads_all(text, option=o.OPT_ROUND_TRIP)] == ["1", 2]


@pytest.mark.parametrize("road", HANDLE_ROADS)
def test_callbacks_see_the_expanded_tag_on_every_road(road, tmp_path):
    text = EXAMPLE_HANDLE + "[!e!a 12, !e!b x, !<tag:v.test,2000:c> 3, !l 4, {!e!k k: v}]\n"
    seen = []
    load_on(road, text, tmp_path, tag_handler=lambda name, value: seen.append(name) or value)
    # On the node-tree roads the handler used to see '!e!a', '!e!b' and '!e!k'.
    assert sorted(seen) == sorted(["tag:example.com,2000:a", "tag:example.com,2000:b",
                                   "tag:v.test,2000:c", "!l", "tag:example.com,2000:k"])
    assert load_on(road, text, tmp_path, tags={"tag:example.com,2000:a": int})[0] == 12
    kept = load_on(road, EXAMPLE_HANDLE + "[!e!a 12, !<!v> 4]\n", tmp_path,
                   option=o.OPT_PASSTHROUGH_TAG)
    assert [(t.tag, t.value) for t in kept] == [("tag:example.com,2000:a", "12"), ("!<!v>", "4")]


def test_round_trip_text_keeps_the_tags_as_written():
    text = EXAMPLE_HANDLE + "a: !e!a 12  # c\nb: !y!int '3'\nc: [!!str 1, !<!v> 2]\n"
    with pytest.raises(o.exceptions.OstrevaneParseError, match="undefined tag handle: !y!"):
        o.loads(text, option=o.OPT_ROUND_TRIP)
    text = text.replace("---", "%TAG !y! tag:yaml.org,2002:\n---")
    doc = o.loads(text, option=o.OPT_ROUND_TRIP)
    assert doc.to_dict() == {"a": "12", "b": 3, "c": ["1", "2"]}
    assert (doc.node["a"].tag, doc.node["b"].tag) == ("!e!a", "!y!int")
    doc["d"] = 4
    assert doc.to_yaml().decode() == text + "d: 4\n"


def test_annotations_decide_on_the_expansion_and_name_the_tag_as_written():
    text = "%TAG !e! tag:example.com,2000:\n%TAG !y! tag:yaml.org,2002:\n---\n[!e!a x, !y!str y]\n"
    custom, core = o.loads(text, option=o.OPT_ANNOTATED)
    assert (custom, custom.__source_tag__) == ("x", "!e!a")
    assert (core, core.__source_tag__) == ("y", None)


def test_a_tag_from_a_handle_is_written_verbatim_and_reads_back():
    # dumps used to refuse it: 'invalid tag "tag:example.com,2000:point": a
    # tag must start with '!''.
    kept = o.loads("%TAG !e! tag:example.com,2000:\n---\nk: !e!point [1, 2]\n",
                   option=OPT_PASSTHROUGH_TAG)
    assert kept["k"].tag == "tag:example.com,2000:point"
    out = o.dumps(kept, option=OPT_PASSTHROUGH_TAG)
    assert out == b"k: !<tag:example.com,2000:point>\n  - 1\n  - 2\n"
    assert o.loads(out, tag_handler=lambda name, value: (name, value)) == {
        "k": ("tag:example.com,2000:point", [1, 2])}
    # A pass-through tag keeps the verbatim wrapper it was read with, and is
    # written the same way again.
    back = o.loads(out, option=OPT_PASSTHROUGH_TAG)["k"]
    assert (back.tag, back.value) == ("!<tag:example.com,2000:point>", [1, 2])
    assert o.dumps({"k": back}) == out

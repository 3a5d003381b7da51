"""to_json's two roads give the same bytes and the same errors: the one-walk
writer of Python objects (taken unless keys are sorted) and the road through
the Value tree (reached here through a test hook)."""
import dataclasses
import datetime as dt
import decimal
import enum
import pathlib
import uuid
from collections import OrderedDict

import pytest
from hypothesis import given, settings, strategies as st

import _ostrevane
import ostrevane as o
from ostrevane.exceptions import OstrevaneEncodeError, OstrevaneUnserializableError

# Needs the test entry points of a test_hooks build (see conftest.py).
pytestmark = pytest.mark.hooks

try:
    import numpy as np
except ImportError:  # the numpy cases are left out
    np = None


class IntSub(int):
    def __str__(self):
        return "not the number"


class StrSub(str):
    pass


class FloatSub(float):
    pass


class ListSub(list):
    pass


class ReversedList(list):
    def __iter__(self):
        return iter(self[::-1])


class DictSub(dict):
    def items(self):
        raise AssertionError("the dict's own storage is read")


class TupleSub(tuple):
    pass


class Color(enum.Enum):
    RED = "red"
    SHAPE = (1, "two")


class Level(enum.IntEnum):
    HIGH = 3


class Flavor(str, enum.Enum):
    SOUR = "sour"


@dataclasses.dataclass
class Point:
    x: int
    y: object = None


class NamesAsTuple:
    __dataclass_fields__ = ("a", "b")

    def __init__(self):
        self.a = 1
        self.b = [2]


class Unsupported:
    pass


SPECIAL = [
    IntSub(7), IntSub(2**70), StrSub("sub"), FloatSub(1.25), FloatSub(float("nan")),
    ListSub([1, "a"]), ReversedList([1, 2, 3]), DictSub({"k": 1, 2: [3]}),
    OrderedDict([("b", 1), ("a", 2)]), TupleSub((1, 2)),
    Color.RED, Color.SHAPE, Level.HIGH, Flavor.SOUR,
    Point(1, [2, {"z": None}]), Point(2, Unsupported()), NamesAsTuple(),
    dt.date(2020, 1, 2), dt.datetime(2020, 1, 2, 3, 4, 5, 6), dt.time(1, 2, 3, 4),
    dt.datetime(2020, 1, 2, tzinfo=dt.timezone.utc),
    dt.datetime(2020, 1, 2, tzinfo=dt.timezone(dt.timedelta(hours=5, minutes=30))),
    decimal.Decimal("1.10"), decimal.Decimal("1e3"), decimal.Decimal("-inf"),
    decimal.Decimal("0.1000000000000000000000001"),
    uuid.UUID(int=12345), pathlib.PurePosixPath("/etc/x"),
    b"bytes", b"\xff", bytearray(b"x"), "\ud800", {"k": "\udfff"},
    {3, 1, 2}, frozenset(["a"]), range(3), Unsupported(),
    o.OstrevaneTag("!t", [1, {"a": 2}]), o.OstrevaneTag("!t", o.OstrevaneTag("!u", 1)),
    o.OstrevaneTag("bad", 1),
    2**63 - 1, 2**63, -2**63, -2**63 - 1, 10**30,
    float("nan"), float("inf"), -0.0, 1e16, 5e-324,
    "\x00\x1f\x7f\u2028\u2029\"\\é😀",
]
if np is not None:
    SPECIAL += [np.int64(3), np.float32(1.5), np.float64(2.5), np.bool_(True),
                np.array([[1, 2], [3, 4]]), np.array([], dtype=float), np.str_("np")]

HASHABLE_KEYS = [
    (1, 2), frozenset([1]), Color.RED, Level.HIGH, Flavor.SOUR, IntSub(3), StrSub("k"),
    dt.date(2020, 1, 2), decimal.Decimal("2.5"), uuid.UUID(int=1), Unsupported(),
    float("nan"), float("inf"), 2**64, -2**64, "\ud800", "é", b"k",
]

keys = st.one_of(st.text(max_size=6), st.integers(), st.floats(), st.booleans(), st.none(),
                 st.sampled_from(HASHABLE_KEYS))
leaves = st.one_of(st.none(), st.booleans(), st.integers(), st.floats(), st.text(max_size=10),
                   st.sampled_from(SPECIAL))
values = st.recursive(
    leaves,
    lambda children: st.one_of(
        st.lists(children, max_size=5),
        st.lists(children, max_size=3).map(tuple),
        st.dictionaries(keys, children, max_size=5),
        st.lists(children, max_size=3).map(ListSub),
        st.dictionaries(keys, children, max_size=3).map(DictSub),
        st.builds(Point, children, children),
        st.builds(o.OstrevaneTag, st.just("!t"), children),
    ),
    max_leaves=30,
)

OPTION_BITS = [o.OPT_INDENT_2, o.OPT_INDENT_4, o.OPT_SERIALIZE_NUMPY, o.OPT_NAIVE_UTC,
               o.OPT_UTC_Z, o.OPT_OMIT_MICROSECONDS, o.OPT_PASSTHROUGH_DATETIME,
               o.OPT_PASSTHROUGH_DATACLASS]
options = st.lists(st.sampled_from(OPTION_BITS), max_size=3).map(
    lambda bits: sum(set(bits)))


def default_name(obj):
    return f"<{type(obj).__name__}>"


def default_list(obj):
    return [type(obj).__name__, {"n": 1, (1,): 2} if isinstance(obj, range) else {"n": 1}]


def default_raises(obj):
    raise ValueError(f"no {type(obj).__name__}")


def default_unsupported(obj):
    return Unsupported()


defaults = st.sampled_from([None, default_name, default_list, default_raises,
                            default_unsupported])


def outcome(call, default):
    """The bytes or the error of one road, with the types `default` saw."""
    seen = []
    logged = None
    if default is not None:
        def logged(obj):
            seen.append(type(obj).__name__)
            return default(obj)
    try:
        result = ("ok", call(logged))
    except Exception as error:  # noqa: BLE001 - the roads must fail alike
        result = ("error", type(error), str(error))
    return result, seen


def assert_roads_agree(obj, default=None, option=0):
    one_walk = outcome(lambda d: o.to_json(obj, default=d, option=option), default)
    two_pass = outcome(lambda d: _ostrevane._to_json_two_pass_for_test(obj, d, option), default)
    assert one_walk == two_pass
    return one_walk[0]


@settings(max_examples=250, deadline=None)
@given(values, defaults, options)
def test_roads_agree_on_generated_values(obj, default, option):
    assert_roads_agree(obj, default, option)


@pytest.mark.parametrize("obj", SPECIAL, ids=repr)
@pytest.mark.parametrize("default", [None, default_name, default_raises])
def test_roads_agree_on_each_special_object(obj, default):
    for option in (0, o.OPT_INDENT_2, o.OPT_SERIALIZE_NUMPY | o.OPT_UTC_Z | o.OPT_NAIVE_UTC):
        assert_roads_agree(obj, default, option)
        assert_roads_agree({"k": [obj]}, default, option)


@pytest.mark.parametrize("key", HASHABLE_KEYS + [None, True, 1.5, -7, ""], ids=repr)
def test_roads_agree_on_each_key(key):
    for default in (None, default_name):
        assert_roads_agree({key: 1, "after": [2]}, default)
        assert_roads_agree([{"a": {key: {key: None}}}], default, o.OPT_INDENT_4)


@pytest.mark.parametrize("levels", [998, 999, 1000, 1001])
@pytest.mark.parametrize("innermost", [[], [1], {}, {"k": 1}, {1: 1}, {(1,): 1}, "s",
                                       Unsupported()])
def test_roads_agree_at_the_depth_limit(levels, innermost):
    obj = innermost
    for i in range(levels):
        obj = [obj] if i % 2 else {"k": obj}
    assert_roads_agree(obj, default_name)


def test_refused_key_then_conversion_error():
    # The conversion error, met later, wins over the refused key on both roads.
    obj = [{(1, 2): 1}, Unsupported()]
    result = assert_roads_agree(obj)
    assert result[0] == "error" and result[1] is OstrevaneUnserializableError
    result = assert_roads_agree(obj[:1])
    assert result == ("error", OstrevaneEncodeError, "a collection cannot be a JSON object key")


# ---------------------------------------------------------------------------
# Callbacks that change the containers being written: each container is
# written as it held its items when its conversion began, on both roads, and
# nothing is read after it is freed.

def mutating_cases():
    def outer_list():
        items = [1, {"a": Unsupported(), "b": [1, 2]}, [3, 4], "x"]

        def default(obj):
            items.clear()
            return "d"
        return items, default

    def ancestor_dict():
        inner = {"k": [Unsupported(), "after"]}
        data = {"first": inner, "second": {"deep": [1, 2, 3]}, "third": 3}

        def default(obj):
            data.clear()
            inner.clear()
            return "d"
        return data, default

    def current_list_emptied():
        inner = [Unsupported(), "tail", {"x": 1}]

        def default(obj):
            inner.clear()
            return "d"
        return {"outer": [inner, inner]}, default

    def later_sibling_changed():
        later = [1, 2]
        data = [[Unsupported()], later, {"later": later}]

        def default(obj):
            later.append("added")
            data.append("ignored")
            return "d"
        return data, default

    def key_callback_drops_values():
        value = [1, [2, [3]]]
        data = {Unsupported(): value, "next": value}

        def default(obj):
            data.clear()
            value.clear()
            return "key"
        return data, default

    def tuple_in_dropped_list():
        holder = [({"a": [Unsupported(), 5]},), 6]

        def default(obj):
            holder.clear()
            return "d"
        return {"h": holder}, default

    def repeated_callbacks():
        data = {"a": [Unsupported() for _ in range(20)], "b": {"c": [Unsupported(), 1]}}

        def default(obj):
            data["b"]["c"].append("x")
            if data["a"]:
                data["a"].pop()
            return len(data["a"])
        return data, default

    return [outer_list, ancestor_dict, current_list_emptied, later_sibling_changed,
            key_callback_drops_values, tuple_in_dropped_list, repeated_callbacks]


@pytest.mark.parametrize("make", mutating_cases(), ids=lambda f: f.__name__)
@pytest.mark.parametrize("option", [0, o.OPT_INDENT_2])
def test_callbacks_that_change_containers(make, option):
    obj, default = make()
    one_walk = o.to_json(obj, default=default, option=option)
    obj, default = make()
    assert one_walk == _ostrevane._to_json_two_pass_for_test(obj, default, option)


def test_sorted_keys_take_the_tree_road():
    data = {"b": [1, {"d": 1, "c": 2}], "a": Unsupported()}
    assert o.to_json(data, default=default_name, option=o.OPT_SORT_KEYS) == \
        _ostrevane._to_json_two_pass_for_test(data, default_name, o.OPT_SORT_KEYS) == \
        b'{"a":"<Unsupported>","b":[1,{"c":2,"d":1}]}'

"""Python objects to values: what each type becomes, callbacks and their
order, special types, tags, the depth limit and the error messages.

Conversions are observed through `to_json` (whose text shows the value
exactly) and `dumps` (which also shows tags); where both must agree, a test
is parametrized over both roads.
"""
import dataclasses
import datetime as dt
import decimal
import enum
import json
import pathlib
import typing
import uuid

import pytest

import ostrevane as o
from ostrevane.exceptions import OstrevaneEncodeError, OstrevaneUnserializableError

UNSERIALIZABLE = "type {} is not YAML serializable"
TOO_DEEP = "object is too deeply nested to serialize (possible self-reference)"
BAD_BYTES = ("cannot serialize bytes that are not valid UTF-8; decode them yourself "
             "(e.g. base64) before dumping")
SURROGATES = ("cannot serialize a str containing unpaired surrogates; convert it to valid "
              "Unicode (or recover the original bytes and handle them explicitly) before dumping")
CALLBACK_RESULT = "a tags callback must return a OstrevaneTag or a (tag, value) tuple"
ALREADY_TAGGED = "cannot attach a tag to a value that already carries a tag"


def yaml_scalar(obj, **kw):
    """The dumps text of a scalar root, without its line feed."""
    text = o.dumps(obj, **kw)
    assert text.endswith(b"\n")
    return text[:-1].decode()


def json_text(obj, **kw):
    return o.to_json(obj, **kw).decode()


ROADS = {
    "to_json": lambda obj, **kw: json.loads(o.to_json(obj, **kw)),
    "dumps": lambda obj, **kw: o.dumps(obj, **kw),
}


# ---------------------------------------------------------------------------
# Built-in types.

class IntSub(int):
    def __str__(self):
        return "not the digits"


class FloatSub(float):
    pass


class StrSub(str):
    pass


class Color(enum.IntEnum):
    RED = 7


class Mood(str, enum.Enum):
    HAPPY = "glad"


@pytest.mark.parametrize("obj, expected", [
    (True, "true"),
    (False, "false"),
    (None, "null"),
    (0, "0"),
    (2**63 - 1, "9223372036854775807"),
    (-2**63, "-9223372036854775808"),
    (2**63, "9223372036854775808"),
    (-2**63 - 1, "-9223372036854775809"),
    (10**40, "1" + "0" * 40),
    (IntSub(5), "5"),
    (IntSub(2**70), str(2**70)),
    (1.5, "1.5"),
    (FloatSub(2.5), "2.5"),
    ("plain ascii", '"plain ascii"'),
    ("é ü 漢字 😀", '"é ü 漢字 😀"'),
    (StrSub("sub"), '"sub"'),
    (b"bytes \xc3\xa9", '"bytes é"'),
    (Color.RED, "7"),
    (Mood.HAPPY, '"glad"'),
    ((1, "a"), '[1,"a"]'),
    (frozenset([3]), "[3]"),
    ({4}, "[4]"),
    ([], "[]"),
    ({}, "{}"),
])
def test_builtin_types(obj, expected):
    assert json_text(obj) == expected


def test_bool_is_never_an_int():
    assert yaml_scalar(True) == "true"
    assert json_text([True, 1]) == "[true,1]"


def test_long_and_short_strings_are_copied_whole():
    texts = ["", "a" * 14, "b" * 15, "c" * 1000, "ä" * 7, "ä" * 8]
    assert json.loads(o.to_json(texts)) == texts


def test_dict_keys_of_any_convertible_kind():
    assert o.dumps({None: 1, (1, 2): 2}) == b"null: 1\n[1, 2]: 2\n"


class ListIter(list):
    def __iter__(self):
        return iter(["from", "iter"])


class TupleIter(tuple):
    def __iter__(self):
        return iter(["tuple", "iter"])


class DictItems(dict):
    def items(self):
        return [("overridden", 1)]

    def __iter__(self):
        return iter(["overridden"])


@pytest.mark.parametrize("obj, expected", [
    (ListIter([1, 2]), ["from", "iter"]),
    (TupleIter((1, 2)), ["tuple", "iter"]),
    (DictItems(a=1), {"a": 1}),
])
def test_container_subclasses(obj, expected):
    assert json.loads(o.to_json(obj)) == expected


@pytest.mark.parametrize("obj, message", [
    (b"\xff", BAD_BYTES),
    (b"ok \xed\xa0\x80", BAD_BYTES),
    ("lone \ud800 surrogate", SURROGATES),
    ({"k": ["x", "\udfff"]}, SURROGATES),
])
@pytest.mark.parametrize("road", ROADS)
def test_text_errors(road, obj, message):
    with pytest.raises(OstrevaneEncodeError) as info:
        ROADS[road](obj)
    assert str(info.value) == message


def gen():
    yield 1


@pytest.mark.parametrize("obj, name", [
    (bytearray(b"x"), "bytearray"),
    (memoryview(b"x"), "memoryview"),
    (gen(), "generator"),
    (range(3), "range"),
    (object(), "object"),
    (1j, "complex"),
    ([1, {"k": {2, object()}}], "object"),
    (dt.timedelta(1), "timedelta"),
])
@pytest.mark.parametrize("road", ROADS)
def test_unserializable(road, obj, name):
    with pytest.raises(OstrevaneUnserializableError) as info:
        ROADS[road](obj)
    assert str(info.value) == UNSERIALIZABLE.format(name)


# ---------------------------------------------------------------------------
# Depth and self-reference.

def nested_lists(levels, inner):
    value = inner
    for _ in range(levels):
        value = [value]
    return value


def nested_dicts(levels, inner):
    value = inner
    for _ in range(levels):
        value = {"k": value}
    return value


@pytest.mark.parametrize("make", [nested_lists, nested_dicts])
@pytest.mark.parametrize("dump", [o.to_json, o.dumps])
def test_depth_limit(dump, make):
    dump(make(999, 1))
    dump(make(999, [] if make is nested_lists else {}))  # 1000 levels, the last empty
    with pytest.raises(OstrevaneEncodeError) as info:
        dump(make(1000, 1))
    assert str(info.value) == TOO_DEEP


@pytest.mark.parametrize("road", ROADS)
def test_self_reference_hits_the_depth_limit(road):
    loop = [1]
    loop.append(loop)
    cycle = {}
    cycle["self"] = cycle
    for obj in (loop, cycle):
        with pytest.raises(OstrevaneEncodeError) as info:
            ROADS[road](obj)
        assert str(info.value) == TOO_DEEP


def test_deep_tuples_and_sets_of_plain_items():
    value = (1, "x")
    for _ in range(998):
        value = (value,)
    assert o.to_json(value).count(b"[") == 999


# ---------------------------------------------------------------------------
# default and serializers.

class Opaque:
    def __init__(self, payload):
        self.payload = payload


def test_default_converts_what_nothing_else_takes():
    calls = []

    def default(obj):
        calls.append(obj)
        return {"payload": obj.payload}

    items = [Opaque(1), Opaque("two")]
    assert json_text(items, default=default) == '[{"payload":1},{"payload":"two"}]'
    assert calls == items


@pytest.mark.parametrize("result", [
    lambda obj: Opaque(0),
    lambda obj: [1, Opaque(0)],
])
@pytest.mark.parametrize("road", ROADS)
def test_default_result_is_never_passed_to_default(road, result):
    calls = []

    def default(obj):
        calls.append(obj)
        return result(obj)

    with pytest.raises(OstrevaneUnserializableError) as info:
        ROADS[road](Opaque(1), default=default)
    assert str(info.value) == UNSERIALIZABLE.format("Opaque")
    assert len(calls) == 1


@pytest.mark.parametrize("road", ROADS)
def test_default_exception_propagates(road):
    def default(obj):
        raise ValueError("no way")

    with pytest.raises(ValueError, match="^no way$"):
        ROADS[road](Opaque(1), default=default)


def test_default_not_consulted_for_supported_types():
    def default(obj):
        raise AssertionError("called")

    assert json_text([1, "a", None, 2.5, (1,), {"k": b"v"}], default=default) == \
        '[1,"a",null,2.5,[1],{"k":"v"}]'


def test_serializers_come_before_special_types_and_default():
    stamp = dt.date(2020, 1, 2)
    text = o.dumps([stamp, Opaque(1)],
                   serializers={dt.date: lambda d: ("!date", d.isoformat()),
                                Opaque: lambda x: ("!opaque", x.payload)},
                   default=lambda obj: "default")
    assert text == b"- !date 2020-01-02\n- !opaque 1\n"


def test_serializers_for_builtin_types_are_never_consulted():
    never = {t: (lambda v: ("!no", 0)) for t in
             (int, str, float, bool, bytes, list, tuple, dict, set, frozenset, type(None),
              Color, StrSub)}
    text = o.dumps([1, "a", 1.5, True, b"b", [2], (3,), {"k": 4}, {5}, frozenset([6]), None,
                    Color.RED, StrSub("s")], serializers=never)
    assert b"!no" not in text


def test_serializers_match_the_exact_type_only():
    class Sub(Opaque):
        pass

    calls = []
    serializers = {Opaque: lambda x: calls.append(x) or ("!o", 1)}
    with pytest.raises(OstrevaneUnserializableError) as info:
        o.dumps(Sub(1), serializers=serializers)
    assert str(info.value) == UNSERIALIZABLE.format("Sub")
    assert calls == []


def test_serializers_and_default_run_in_depth_first_order():
    seen = []

    def record(tag):
        return lambda x: seen.append((tag, x.payload)) or (f"!{tag}", x.payload)

    def default(obj):
        seen.append(("default", obj.payload))
        return obj.payload

    class Other(Opaque):
        pass

    data = {Opaque("k1"): [Opaque("v1"), Other("v2")], Other("k2"): Opaque("v3")}
    o.dumps(data, serializers={Opaque: record("o")}, default=default)
    assert seen == [("o", "k1"), ("o", "v1"), ("default", "v2"), ("default", "k2"),
                    ("o", "v3")]


@pytest.mark.parametrize("result, expected", [
    (("!t", "text"), b"!t text\n"),
    (("!t", [1, 2]), b"!t\n  - 1\n  - 2\n"),
    (o.OstrevaneTag("!obj", {"a": 1}), b"!obj\n  a: 1\n"),
])
def test_serializers_results(result, expected):
    assert o.dumps(Opaque(0), serializers={Opaque: lambda x: result}) == expected


@pytest.mark.parametrize("result", [("!t", 1, 2), ["!t", 1], None, "!t", ("!t",)])
def test_serializers_bad_results(result):
    with pytest.raises(OstrevaneEncodeError) as info:
        o.dumps(Opaque(0), serializers={Opaque: lambda x: result})
    assert str(info.value) == CALLBACK_RESULT


def test_serializers_tag_must_be_a_str():
    with pytest.raises(TypeError) as info:
        o.dumps(Opaque(0), serializers={Opaque: lambda x: (1, "v")})
    assert str(info.value) == "'int' object is not an instance of 'str'"


def test_serializers_value_already_tagged():
    result = ("!outer", o.OstrevaneTag("!inner", 1))
    with pytest.raises(OstrevaneEncodeError) as info:
        o.dumps(Opaque(0), serializers={Opaque: lambda x: result})
    assert str(info.value) == ALREADY_TAGGED


def test_serializers_returning_their_argument_hit_the_depth_limit():
    calls = []
    with pytest.raises(OstrevaneEncodeError) as info:
        o.dumps(Opaque(0), serializers={Opaque: lambda x: calls.append(1) or ("!same", x)})
    assert str(info.value) == TOO_DEEP
    assert 400 < len(calls) <= 1000


def test_serializers_exception_propagates():
    def boom(x):
        raise KeyError("boom")

    with pytest.raises(KeyError):
        o.dumps(Opaque(0), serializers={Opaque: boom})


@pytest.mark.parametrize("make", [
    lambda: [Opaque(1), "kept", Opaque(2), [Opaque(3)]],
    lambda: {"first": Opaque(1), "second": "kept", "third": [Opaque(2)], "fourth": Opaque(3)},
])
def test_callbacks_that_change_the_container_do_not_change_the_output(make):
    container = make()
    expected = json.loads(o.to_json(make(), default=lambda obj: obj.payload))

    def mutate(obj):
        container.clear()
        return obj.payload

    assert json.loads(o.to_json(container, default=mutate)) == expected
    assert container in ([], {})


def test_default_that_grows_a_set_fails_cleanly():
    bag = {Opaque(1)}

    def grow(obj):
        bag.add(Opaque(2))
        return 0

    with pytest.raises(RuntimeError, match="changed size during iteration"):
        o.to_json(bag, default=grow)


# ---------------------------------------------------------------------------
# Dates and times.

UTC = dt.timezone.utc
IST = dt.timezone(dt.timedelta(hours=5, minutes=30))
NAIVE = dt.datetime(2024, 3, 4, 5, 6, 7, 890123)


@pytest.mark.parametrize("obj, option, expected", [
    (NAIVE, 0, "2024-03-04T05:06:07.890123"),
    (NAIVE, o.OPT_OMIT_MICROSECONDS, "2024-03-04T05:06:07"),
    (NAIVE, o.OPT_OMIT_MICROSECONDS | o.OPT_NAIVE_UTC, "2024-03-04T05:06:07+00:00"),
    (NAIVE, o.OPT_OMIT_MICROSECONDS | o.OPT_NAIVE_UTC | o.OPT_UTC_Z, "2024-03-04T05:06:07Z"),
    (NAIVE, o.OPT_UTC_Z, "2024-03-04T05:06:07.890123"),
    (NAIVE.replace(tzinfo=UTC), o.OPT_UTC_Z, "2024-03-04T05:06:07.890123Z"),
    (NAIVE.replace(tzinfo=UTC), 0, "2024-03-04T05:06:07.890123+00:00"),
    (NAIVE.replace(tzinfo=IST), o.OPT_UTC_Z | o.OPT_NAIVE_UTC, "2024-03-04T05:06:07.890123+05:30"),
    (NAIVE.replace(tzinfo=IST), o.OPT_OMIT_MICROSECONDS, "2024-03-04T05:06:07+05:30"),
    (dt.date(2024, 3, 4), o.OPT_NAIVE_UTC | o.OPT_UTC_Z, "2024-03-04"),
    (dt.time(5, 6, 7, 8), o.OPT_NAIVE_UTC, "05:06:07.000008"),
    (dt.time(5, 6, 7, 8), o.OPT_OMIT_MICROSECONDS, "05:06:07"),
    (dt.time(5, 6, tzinfo=UTC), o.OPT_UTC_Z, "05:06:00Z"),
    (dt.datetime(2024, 3, 4, tzinfo=dt.timezone(-dt.timedelta(0))), o.OPT_UTC_Z,
     "2024-03-04T00:00:00Z"),
])
@pytest.mark.parametrize("road", ROADS)
def test_datetimes(road, obj, option, expected):
    result = ROADS[road](obj, option=option)
    if road == "dumps":
        assert result.decode().strip().strip('"') == expected
    else:
        assert result == expected


# An offset with seconds (and microseconds) used to go unrecognised: the
# microsecond cut then swallowed the offset (the value turned naive) and
# OPT_NAIVE_UTC appended a second offset after the first.
OFFSET_S = dt.timezone(dt.timedelta(hours=5, minutes=30, seconds=15))
OFFSET_US = dt.timezone(-dt.timedelta(hours=1, seconds=2, microseconds=500))


@pytest.mark.parametrize("obj, option, expected", [
    (NAIVE.replace(tzinfo=OFFSET_S), 0, "2024-03-04T05:06:07.890123+05:30:15"),
    (NAIVE.replace(tzinfo=OFFSET_S), o.OPT_OMIT_MICROSECONDS, "2024-03-04T05:06:07+05:30:15"),
    (NAIVE.replace(tzinfo=OFFSET_S), o.OPT_NAIVE_UTC, "2024-03-04T05:06:07.890123+05:30:15"),
    (NAIVE.replace(tzinfo=OFFSET_US), o.OPT_OMIT_MICROSECONDS | o.OPT_NAIVE_UTC | o.OPT_UTC_Z,
     "2024-03-04T05:06:07-01:00:02.000500"),
    (dt.time(1, 2, 3, tzinfo=OFFSET_US), o.OPT_NAIVE_UTC, "01:02:03-01:00:02.000500"),
    (dt.time(1, 2, 3, 4, tzinfo=OFFSET_S), o.OPT_OMIT_MICROSECONDS, "01:02:03+05:30:15"),
])
def test_offsets_with_seconds(obj, option, expected):
    assert json.loads(o.to_json(obj, option=option)) == expected


class IsoLike:
    def isoformat(self):
        return "look-alike"


class IsoNotStr:
    def isoformat(self):
        return 5


class IsoRaises:
    @property
    def isoformat(self):
        raise RuntimeError("no attribute for you")


class IsoCallRaises:
    def isoformat(self):
        raise LookupError("call failed")


def test_date_like_objects():
    assert json_text(IsoLike()) == '"look-alike"'
    assert json_text(IsoNotStr(), default=lambda x: "fallback") == '"fallback"'
    assert json_text(IsoRaises(), default=lambda x: "fallback") == '"fallback"'
    with pytest.raises(LookupError):
        o.to_json(IsoCallRaises())
    with pytest.raises(TypeError):
        o.to_json(dt.date)


@pytest.mark.parametrize("obj, name", [
    (NAIVE, "datetime"), (dt.date(2020, 1, 1), "date"), (dt.time(1), "time"),
])
def test_passthrough_datetime(obj, name):
    with pytest.raises(OstrevaneUnserializableError) as info:
        o.to_json(obj, option=o.OPT_PASSTHROUGH_DATETIME)
    assert str(info.value) == UNSERIALIZABLE.format(name)
    assert json_text(obj, option=o.OPT_PASSTHROUGH_DATETIME, default=lambda x: "d") == '"d"'


# ---------------------------------------------------------------------------
# Enums, dataclasses, UUID, Decimal, paths.

class Shape(enum.Enum):
    POINT = (1, 2)
    NAME = "circle"
    NESTED = {"k": [1]}


class Perm(enum.Flag):
    R = 4
    W = 2


@pytest.mark.parametrize("obj, expected", [
    (Shape.POINT, "[1,2]"),
    (Shape.NAME, '"circle"'),
    (Shape.NESTED, '{"k":[1]}'),
    (Perm.R | Perm.W, "6"),
])
def test_enums(obj, expected):
    assert json_text(obj) == expected


@dataclasses.dataclass
class Point:
    x: int
    y: typing.Any = None


@dataclasses.dataclass
class WithPseudoFields:
    kind: typing.ClassVar[str] = "shared"
    a: int
    seed: dataclasses.InitVar[int]
    b: list = dataclasses.field(default_factory=list)

    def __post_init__(self, seed):
        self.b.append(seed)


@dataclasses.dataclass(frozen=True)
class Slotted:
    __slots__ = ("v",)
    v: int


def test_dataclasses():
    assert json_text(Point(1, Point(2, [3]))) == '{"x":1,"y":{"x":2,"y":[3]}}'
    assert json_text(Slotted(4)) == '{"v":4}'
    with pytest.raises(OstrevaneUnserializableError) as info:
        o.to_json(Point)
    assert str(info.value) == UNSERIALIZABLE.format("type")
    with pytest.raises(OstrevaneUnserializableError) as info:
        o.to_json(Point(1), option=o.OPT_PASSTHROUGH_DATACLASS)
    assert str(info.value) == UNSERIALIZABLE.format("Point")


# ClassVar and InitVar entries of __dataclass_fields__ used to be written too:
# an InitVar without a default made dumps of a valid instance raise
# AttributeError, and a ClassVar was written as instance data.
@pytest.mark.parametrize("road", ROADS)
def test_dataclass_pseudo_fields_are_not_data(road):
    obj = WithPseudoFields(a=1, seed=9)
    result = ROADS[road](obj)
    if road == "dumps":
        assert result == b"a: 1\nb:\n  - 9\n"
    else:
        assert result == {"a": 1, "b": [9]}


def test_dataclass_look_alike_without_field_kinds():
    class LookAlike:
        __dataclass_fields__ = {"p": None, "q": None}

        def __init__(self):
            self.p, self.q = 1, "two"

    assert json_text(LookAlike()) == '{"p":1,"q":"two"}'


# A tuple or list of names used to fail with "tuple indices must be integers
# or slices, not str" on every road: only a dict maps names to fields.
@pytest.mark.parametrize("fields", [("p", "q"), ["p", "q"], {"p": None, "q": None}])
@pytest.mark.parametrize("road", [
    lambda obj: o.dumps(obj),
    lambda obj: o.dumps(obj, represent=lambda value: None),
    lambda obj: o.loads(o.to_json(obj)),
])
def test_dataclass_fields_as_names(fields, road):
    class Names:
        __dataclass_fields__ = fields

        def __init__(self):
            self.p, self.q = 1, "two"

    result = road(Names())
    assert (o.loads(result) if isinstance(result, bytes) else result) == {"p": 1, "q": "two"}


@pytest.mark.parametrize("fields,error", [
    ((1,), "'int' object is not an instance of 'str'"),
    (("missing",), "'Names' object has no attribute 'missing'"),
])
def test_dataclass_field_names_that_fail(fields, error):
    class Names:
        __dataclass_fields__ = fields

    for road in (o.dumps, o.to_json, lambda obj: o.dumps(obj, represent=lambda v: None)):
        with pytest.raises((TypeError, AttributeError)) as info:
            road(Names())
        assert str(info.value) == error


class UUID:  # a class of that name outside the uuid module
    pass


class DecimalSub(decimal.Decimal):
    pass


class PathBytes:
    def __fspath__(self):
        return b"/raw"


def test_uuid_and_look_alikes():
    value = uuid.UUID("12345678-1234-5678-1234-567812345678")
    assert json_text(value) == '"12345678-1234-5678-1234-567812345678"'
    with pytest.raises(OstrevaneUnserializableError) as info:
        o.to_json(UUID())
    assert str(info.value) == UNSERIALIZABLE.format("UUID")
    with pytest.raises(OstrevaneUnserializableError) as info:
        o.to_json(DecimalSub("1.5"))
    assert str(info.value) == UNSERIALIZABLE.format("DecimalSub")


@pytest.mark.parametrize("text, expected", [
    ("1.10", "1.1"),
    ("5", "5"),
    ("-0", "-0"),
    ("1E+3", "1000"),
    ("12345678901234567890123", "12345678901234567890123"),
    ("0.1000000000000000055511151231257827", '"0.1000000000000000055511151231257827"'),
    ("3.14159265358979323846264338327950288", '"3.14159265358979323846264338327950288"'),
    ("-Infinity", "-.inf"),
    ("Infinity", ".inf"),
    ("NaN", ".nan"),
    ("sNaN", ".nan"),
    ("1e-7", "1.0e-07"),
])
def test_decimal(text, expected):
    assert yaml_scalar(decimal.Decimal(text)) == expected


def test_paths():
    assert json_text(pathlib.PurePosixPath("/etc/x.yaml")) == '"/etc/x.yaml"'
    assert json_text(PathBytes(), default=lambda p: "fallback") == '"fallback"'
    with pytest.raises(OstrevaneUnserializableError) as info:
        o.to_json(PathBytes())
    assert str(info.value) == UNSERIALIZABLE.format("PathBytes")


# ---------------------------------------------------------------------------
# numpy.

def test_numpy():
    np = pytest.importorskip("numpy")
    assert json_text(np.array([[1, 2], [3, 4]]), option=o.OPT_SERIALIZE_NUMPY) == "[[1,2],[3,4]]"
    assert json_text(np.float64(1.5)) == "1.5"
    with pytest.raises(OstrevaneUnserializableError) as info:
        o.to_json(np.int64(3))
    assert str(info.value) == UNSERIALIZABLE.format("int64")
    assert json_text([np.int64(3), np.bool_(True)], option=o.OPT_SERIALIZE_NUMPY) == "[3,true]"
    assert json_text(np.array(["a", "b"]), option=o.OPT_SERIALIZE_NUMPY) == '["a","b"]'
    with pytest.raises(OstrevaneUnserializableError):
        o.to_json(np.array([1]))


# ---------------------------------------------------------------------------
# Tags.

@pytest.mark.parametrize("tag, value, expected", [
    ("!x", [1, 2], b"!x\n  - 1\n  - 2\n"),
    ("!", "a", b"! a\n"),
    ("!!", "a", b"!! a\n"),
    ("!!str", 5, b"!!str 5\n"),
    ("!<tag:a.org,2002:x>", 1, b"!<tag:a.org,2002:x> 1\n"),
    # A full tag (as a %TAG handle gives it on loading) is written verbatim.
    ("tag:example.com,2000:point", [1], b"!<tag:example.com,2000:point>\n  - 1\n"),
    ("x", 1, b"!<x> 1\n"),
    ("!a[b{c", 1, b"!a[b{c 1\n"),
    ('!q"\\', 1, b'!q"\\ 1\n'),
])
def test_valid_tags(tag, value, expected):
    assert o.dumps(o.OstrevaneTag(tag, value)) == expected


NAMED = ("a named tag handle (!name!suffix) needs a %TAG directive, which dumps does not emit; "
         "use a primary (!suffix), secondary (!!suffix), or verbatim (!<uri>) tag")
VERBATIM = "a verbatim tag must be '!<...>' with non-empty content and no interior '>'"


@pytest.mark.parametrize("tag, message", [
    ("", 'invalid tag "": a tag must start with \'!\''),
    ("tag:a>b", 'invalid tag "tag:a>b": a tag that does not start with \'!\' is written '
                "verbatim (!<...>) and cannot contain '>'"),
    ("tag:a b", "invalid tag \"tag:a b\": a tag cannot contain whitespace or control characters "
                "(found ' ')"),
    ("!a b", "invalid tag \"!a b\": a tag cannot contain whitespace or control characters "
             "(found ' ')"),
    ("!a\tb", "invalid tag \"!a\\tb\": a tag cannot contain whitespace or control characters "
              "(found '\\t')"),
    ("!a\x85", "invalid tag \"!a\\u{85}\": a tag cannot contain whitespace or control "
               "characters (found '\\u{85}')"),
    ("!a\u3000", "invalid tag \"!a\\u{3000}\": a tag cannot contain whitespace or control "
                 "characters (found '\\u{3000}')"),
    ("!a\x7f", "invalid tag \"!a\\u{7f}\": a tag cannot contain whitespace or control "
               "characters (found '\\u{7f}')"),
    ("!<a b>", "invalid tag \"!<a b>\": a tag cannot contain whitespace or control characters "
               "(found ' ')"),
    ("!<", f'invalid tag "!<": {VERBATIM}'),
    ("!<>", f'invalid tag "!<>": {VERBATIM}'),
    ("!<a>b>", f'invalid tag "!<a>b>": {VERBATIM}'),
    ("!<abc", f'invalid tag "!<abc": {VERBATIM}'),
    ("!a!b", f'invalid tag "!a!b": {NAMED}'),
    ("!!a!", f'invalid tag "!!a!": {NAMED}'),
    ("!!!", f'invalid tag "!!!": {NAMED}'),
    ("!a,b", "invalid tag \"!a,b\": a shorthand tag cannot contain a flow indicator (found ',')"),
    ("!a}", "invalid tag \"!a}\": a shorthand tag cannot contain a flow indicator (found '}')"),
    ("!a]", "invalid tag \"!a]\": a shorthand tag cannot contain a flow indicator (found ']')"),
    ('!"\u0301,', "invalid tag \"!\\\"\\u{301},\": a shorthand tag cannot contain a flow "
                  "indicator (found ',')"),
    ("!\u200b'}", "invalid tag \"!\\u{200b}'}\": a shorthand tag cannot contain a flow "
                  "indicator (found '}')"),
])
@pytest.mark.parametrize("road", ["tag object", "serializers"])
def test_invalid_tags(road, tag, message):
    converted = []

    def default(obj):
        converted.append(obj)
        return 1

    if road == "tag object":
        obj, serializers = o.OstrevaneTag(tag, Opaque(0)), None
    else:
        obj, serializers = Opaque(0), {Opaque: lambda x: (tag, Opaque(1))}
    with pytest.raises(OstrevaneEncodeError) as info:
        o.dumps(obj, serializers=serializers, default=default)
    assert str(info.value) == message
    assert converted == []  # the tag is checked before its value is converted


def test_tag_inside_tag():
    with pytest.raises(OstrevaneEncodeError) as info:
        o.dumps(o.OstrevaneTag("!a", o.OstrevaneTag("!b", 1)))
    assert str(info.value) == ALREADY_TAGGED


def test_tag_subclass_and_nesting():
    class MyTag(o.OstrevaneTag):
        pass

    assert o.dumps({"k": MyTag("!m", {"x": None})}) == b"k: !m\n  x:\n"
    assert o.to_json([o.OstrevaneTag("!t", "v")]) == b'["v"]'


def test_tag_value_counts_one_level():
    value = nested_lists(998, 1)
    o.dumps(o.OstrevaneTag("!t", value))
    with pytest.raises(OstrevaneEncodeError) as info:
        o.dumps(o.OstrevaneTag("!t", [value]))
    assert str(info.value) == TOO_DEEP

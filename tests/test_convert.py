"""Value to Python conversion, through loads and loads_all."""

import datetime
import sys

import pytest

import ostrevane
from ostrevane import OPT_PASSTHROUGH_TAG, OPT_TIMESTAMPS, OPT_YAML_1_1, loads, loads_all
from ostrevane.exceptions import OstrevaneDecodeError


@pytest.mark.parametrize("text,expected", [
    ("~", None),
    ("null", None),
    ("true", True),
    ("False", False),
    ("0", 0),
    ("-17", -17),
    ("0x1F", 31),
    ("0o17", 15),
    ("9223372036854775807", 2**63 - 1),
    ("-9223372036854775808", -(2**63)),
    ("9223372036854775808", 2**63),
    ("-" + "9" * 40, -int("9" * 40)),
    ("0x" + "f" * 40, int("f" * 40, 16)),
    ("0o" + "7" * 40, int("7" * 40, 8)),
    ("1.5", 1.5),
    ("-.inf", float("-inf")),
    ("1e400", float("inf")),
    ("plain text", "plain text"),
    ("'quoted'", "quoted"),
    ('"caf\\u00e9"', "café"),
    ("2001-12-14", "2001-12-14"),
])
def test_scalars(text, expected):
    got = loads(text)
    assert type(got) is type(expected)
    assert got == expected


def test_nan():
    got = loads(".nan")
    assert got != got


@pytest.mark.parametrize("text,option,expected", [
    ("0b" + "1" * 200, OPT_YAML_1_1, 2**200 - 1),
    ("1_000_000_000_000_000_000_000", OPT_YAML_1_1, 10**21),
    ("+" + "1" * 30, 0, int("1" * 30)),
])
def test_big_int_spellings(text, option, expected):
    assert loads(text, option=option) == expected


def test_decimal_int_beyond_the_interpreter_limit_raises():
    # It used to come back as a str; the limit guards against quadratic work.
    digits = sys.get_int_max_str_digits() + 1
    with pytest.raises(ValueError, match="Exceeds the limit"):
        loads("n: " + "7" * digits)


@pytest.mark.parametrize("length", [20_000, 200_000])
def test_hex_int_beyond_the_decimal_limit_converts(length):
    # Power-of-two bases convert in linear time, without the decimal limit.
    digits = "a" * length
    assert loads("0x" + digits) == int(digits, 16)


@pytest.mark.parametrize("text,expected", [
    ("2001-12-14", datetime.date(2001, 12, 14)),
    ("2001-12-14 21:59:43.10", datetime.datetime(2001, 12, 14, 21, 59, 43, 100000)),
    ("2001-12-14t21:59:43.10+05:30",
     datetime.datetime(2001, 12, 14, 21, 59, 43, 100000,
                       datetime.timezone(datetime.timedelta(seconds=19800)))),
    ("2001-12-14 21:59:43 -5",
     datetime.datetime(2001, 12, 14, 21, 59, 43,
                       tzinfo=datetime.timezone(datetime.timedelta(hours=-5)))),
])
def test_timestamps(text, expected):
    got = loads(text, option=OPT_TIMESTAMPS)
    assert type(got) is type(expected)
    assert got == expected
    if isinstance(expected, datetime.datetime):
        assert got.utcoffset() == expected.utcoffset()


def test_zero_offset_is_utc():
    got = loads("2001-12-14T21:59:43Z", option=OPT_TIMESTAMPS)
    assert got.tzinfo is datetime.timezone.utc


def test_timestamps_stay_strings_without_the_option():
    assert loads("2001-12-14T21:59:43Z") == "2001-12-14T21:59:43Z"


def test_string_keys_are_interned_and_shared():
    doc = loads("- {alpha_key: 1}\n- {alpha_key: 2}\n- alpha_key\n")
    k1 = next(iter(doc[0]))
    k2 = next(iter(doc[1]))
    assert k1 is k2
    assert k1 is sys.intern("alpha_key")
    assert doc[2] == "alpha_key" and doc[2] is not k1


# Each document's tree is freed once converted while the key cache serves the
# later documents: short (inline), long and non-ASCII keys must all survive it.
@pytest.mark.parametrize("key", ["shared_key_text", "k", "clé partagée", "a_rather_long_key_" * 3])
def test_loads_all_interns_each_key_once_for_the_whole_call(key):
    docs = loads_all("".join(f"--- {{{key}: {i}}}\n" for i in range(3)))
    keys = [next(iter(d)) for d in docs]
    assert keys[0] is keys[1] is keys[2]
    assert keys[0] == key and docs == [{key: i} for i in range(3)]


def test_many_distinct_keys():
    text = "\n".join(f"key{i}: {i}" for i in range(5000))
    doc = loads(text)
    assert doc == {f"key{i}": i for i in range(5000)}


@pytest.mark.parametrize("count", [1, 5, 6, 11, 40])
def test_mapping_gives_a_dict_as_compact_as_one_built_key_by_key(count):
    # Dicts used to be presized past five pairs, which gave them a key table
    # for any kind of key: half as large again per entry as a str-key one.
    text = "".join(f"key{i}: {i}\n" for i in range(count))
    built = {}
    for i in range(count):
        built[f"key{i}"] = i
    loaded = ostrevane.loads(text)
    assert loaded == built
    assert sys.getsizeof(loaded) == sys.getsizeof(built)


@pytest.mark.parametrize("text,expected", [
    ("? [1, 2]\n: x", {(1, 2): "x"}),
    ("? {a: 1}\n: x", {(("a", 1),): "x"}),
    ("? []\n: x", {(): "x"}),
    ("? {}\n: x", {(): "x"}),
    ("? {a: [1, [2]]}\n: x", {(("a", (1, (2,))),): "x"}),
    ("? {a: 1, a: 2}\n: x", {(("a", 1), ("a", 2)): "x"}),
    ("1: a\n1.5: b\nnull: c\ntrue: d", {1: "a", 1.5: "b", None: "c", True: "d"}),
])
def test_non_string_keys(text, expected):
    assert loads(text) == expected


def test_duplicate_keys_keep_last_value_at_first_position():
    doc = loads("a: 1\nb: 2\na: 3\n")
    assert doc == {"a": 3, "b": 2}
    assert list(doc) == ["a", "b"]


def test_aliased_long_string_is_one_object():
    text = "a: &x " + "long text " * 20 + "\nb: [*x, *x, *x]\n"
    doc = loads(text)
    assert all(item is doc["a"] for item in doc["b"])


# Plain, single-quoted and double-quoted long scalars view the input text
# while they are decoded; each road and input type must still give one str
# per aliased text, and separate strs for equal texts written twice.
@pytest.mark.parametrize("scalar", [
    "plain text long enough",
    "'single quoted, long enough'",
    '"double quoted, long enough"',
])
@pytest.mark.parametrize("road", ["loads", "loads_all"])
@pytest.mark.parametrize("as_bytes", [False, True])
def test_aliased_borrowed_texts_are_one_object(scalar, road, as_bytes):
    text = f"a: &x {scalar}\nb: [*x, *x]\nc: {scalar}\nd: &y [{scalar}]\ne: *y\n"
    data = text.encode() if as_bytes else text
    doc = loads(data) if road == "loads" else loads_all(data)[0]
    assert doc["a"] is doc["b"][0] is doc["b"][1]
    assert doc["c"] == doc["a"] and doc["c"] is not doc["a"]
    assert doc["d"] == doc["e"] and doc["d"] is not doc["e"]


def test_borrowed_texts_survive_the_input():
    # The strs own their bytes: nothing points into the dropped input.
    data = bytearray(b"a: &x " + b"z" * 40 + b"\nb: *x\nc: '" + b"q" * 40 + b"'\n")
    doc = loads(bytes(data))
    del data
    assert doc == {"a": "z" * 40, "b": "z" * 40, "c": "q" * 40}


def test_aliased_big_int_is_one_object():
    doc = loads("a: &x " + "9" * 50 + "\nb: *x\n")
    assert doc["a"] is doc["b"]


def test_aliased_collections_are_separate_objects():
    doc = loads("a: &x [1, {k: v}]\nb: *x\n")
    assert doc["a"] == doc["b"]
    assert doc["a"] is not doc["b"]
    assert doc["a"][1] is not doc["b"][1]


def test_alias_expansion_of_long_strings_shares_memory():
    # Ten levels of ten aliases: 10**9 references to one 1 KiB text would be
    # a terabyte as separate strings; either one str is shared or the
    # decoder's budget refuses the input.
    lines = ["a0: &a0 '" + "x" * 1024 + "'"]
    lines += [f"a{i}: &a{i} [" + ", ".join([f"*a{i-1}"] * 10) + "]" for i in range(1, 5)]
    doc = loads("\n".join(lines))
    flat = doc["a4"][0][0][0]
    assert all(s is doc["a0"] for s in flat)


def test_deep_nesting_converts():
    depth = 999
    doc = loads("[" * depth + "]" * depth)
    for _ in range(depth - 1):
        doc = doc[0]
    assert doc == []


def test_deep_nesting_through_aliases():
    lines = ["a0: &a0 [" + "[" * 500 + "]" * 500 + "]"]
    lines.append("a1: &a1 [" + "[" * 400 + "*a0" + "]" * 400 + "]")
    doc = loads("\n".join(lines))
    node = doc["a1"]
    for _ in range(401 + 500):
        node = node[0]
    assert node == []


class Unhashable:
    __hash__ = None


class HashRaises:
    def __init__(self, exc):
        self.exc = exc

    def __hash__(self):
        raise self.exc


def test_unhashable_tagged_key():
    with pytest.raises(OstrevaneDecodeError) as info:
        loads("? !k x\n: 1", tags={"!k": lambda v: [v]})
    assert str(info.value) == "mapping key is not hashable in Python"
    assert isinstance(info.value.__cause__, TypeError)


def test_hash_raising_type_error_is_not_hashable():
    with pytest.raises(OstrevaneDecodeError) as info:
        loads("? !k x\n: 1", tags={"!k": lambda v: HashRaises(TypeError("nope"))})
    assert str(info.value.__cause__) == "nope"


@pytest.mark.parametrize("exc", [RuntimeError("boom"), KeyError("k"), KeyboardInterrupt()])
def test_hash_raising_anything_else_propagates_unchanged(exc):
    with pytest.raises(type(exc)) as info:
        loads("? !k x\n: 1", tags={"!k": lambda v: HashRaises(exc)})
    assert info.value is exc


def test_options_that_plain_roads_ignore():
    text = "a: [1, 2]"
    assert loads(text, option=ostrevane.OPT_INDENT_4 | ostrevane.OPT_SORT_KEYS) == loads(text)


def test_deep_complex_key_converts_to_nested_tuples():
    depth = 900
    doc = loads("? " + "[" * depth + "]" * depth + "\n: v")
    (key,) = doc
    for _ in range(depth - 1):
        (key,) = key
    assert key == ()


def test_loads_all_error_in_a_later_document_returns_nothing():
    calls = []

    def boom(value):
        calls.append(value)
        raise LookupError("second document")

    with pytest.raises(LookupError):
        loads_all("--- a\n--- !x b\n--- c\n", tags={"!x": boom})
    assert calls == ["b"]


def test_passthrough_tag_as_mapping_key_is_hashable_by_identity():
    doc = loads("!k a: 1", option=OPT_PASSTHROUGH_TAG)
    (key,) = doc
    assert isinstance(key, ostrevane.OstrevaneTag) and key.value == "a"

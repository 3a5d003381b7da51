"""dumps with a represent callback: the callback's reach, object identity
(anchors and aliases), default scalar nodes, collections and key order, depth
limits, and the round trip through loads."""

import dataclasses
import datetime
import enum
import math
import sys
import threading
import typing

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import ostrevane as o
from ostrevane.exceptions import OstrevaneEncodeError, OstrevaneUnserializableError

TOO_DEEP = "object is too deeply nested to serialize (possible self-reference)"


def none(_obj):
    return None


def dump(obj, **kwargs):
    return o.dumps(obj, represent=none, **kwargs).decode()


# ---------------------------------------------------------------------------
# The callback.


def test_callback_sees_every_object_depth_first_keys_before_values():
    seen = []

    def record(obj):
        seen.append(obj)

    shared = [7]
    o.dumps({"k": [None, 1.5, shared, shared], "z": "s"}, represent=record)
    assert seen == [
        {"k": [None, 1.5, shared, shared], "z": "s"},
        "k",
        [None, 1.5, shared, shared],
        None,
        1.5,
        shared,
        7,
        "z",
        "s",
    ]


def test_callback_errors_are_raised_unchanged():
    def boom(obj):
        raise KeyError("no")

    with pytest.raises(KeyError):
        o.dumps([1], represent=boom)


def test_callback_results_other_than_descriptors_are_refused():
    with pytest.raises(TypeError) as info:
        o.dumps(1, represent=lambda obj: {})
    assert str(info.value) == (
        "a represent callback must return a ostrevane.OstrevaneScalar, "
        "ostrevane.OstrevaneSequence, ostrevane.OstrevaneMapping, or None"
    )


# ---------------------------------------------------------------------------
# Identity.


def test_self_containing_list():
    a = [1]
    a.append(a)
    assert dump(a) == "&id001\n- 1\n- *id001\n"


def test_shared_dict_gets_one_anchor_and_one_alias():
    d = {"k": 1}
    assert dump([d, d]) == "- &id001\n  k: 1\n- *id001\n"


def test_equal_but_distinct_lists_and_equal_strings_are_written_twice():
    assert dump([[1], [1], "long text", "long text"]) == (
        "-\n  - 1\n-\n  - 1\n- long text\n- long text\n"
    )


def test_anchors_are_numbered_in_document_order():
    first, second, once = [1], [2], [3]
    text = dump({"a": second, "b": first, "c": [first, second], "d": once})
    assert text == (
        "a: &id001\n  - 2\nb: &id002\n  - 1\nc:\n  - *id002\n  - *id001\nd:\n  - 3\n"
    )


def test_empty_tuple_placed_twice_is_written_twice():
    e = ()
    assert dump([e, e]) == "- []\n- []\n"


class Colour(enum.Enum):
    RED = 1
    LIST = [1, 2]


def test_enum_members_are_delegated_to_their_values():
    assert dump([Colour.RED, Colour.RED]) == "- 1\n- 1\n"
    # The value list is one object: anchored once, aliased after.
    assert dump([Colour.LIST, Colour.LIST]) == "- &id001\n  - 1\n  - 2\n- *id001\n"


class Opaque:
    pass


def test_default_results_are_delegated():
    thing = Opaque()
    assert dump([thing, thing], default=lambda obj: ["made"]) == (
        "-\n  - made\n-\n  - made\n"
    )


def test_default_returning_another_unserializable_object_is_called_once():
    calls = []

    def default(obj):
        calls.append(obj)
        return Opaque()

    with pytest.raises(OstrevaneUnserializableError) as info:
        dump(Opaque(), default=default)
    assert str(info.value) == "type Opaque is not YAML serializable"
    assert len(calls) == 1


def test_a_value_that_refers_only_to_itself():
    thing = Opaque()
    with pytest.raises(ValueError) as info:
        dump(thing, default=lambda obj: [obj])
    assert str(info.value) == "cannot serialize a value that refers only to itself"


def test_tags():
    t = o.OstrevaneTag("!x", [1])
    assert dump([t, t]) == "- !x &id001\n  - 1\n- *id001\n"
    assert dump(o.OstrevaneTag("!x", "v")) == "!x v\n"


@pytest.mark.parametrize(
    "make,error,message",
    [
        (lambda: (lambda l: (l.append(o.OstrevaneTag("!x", l)), l)[1])([1]),
         ValueError, "cannot attach a tag to a self-referential or shared value"),
        (lambda: (lambda l: [l, o.OstrevaneTag("!x", l)])([1]),
         ValueError, "cannot attach a tag to a self-referential or shared value"),
        (lambda: (lambda l: o.OstrevaneTag("!x", [l, l]))([1]), None, None),
        (lambda: o.OstrevaneTag("!x", o.OstrevaneTag("!y", 1)),
         OstrevaneEncodeError, "cannot attach a tag to a value that already carries a tag"),
    ],
)
def test_tag_errors(make, error, message):
    if error is None:
        assert dump(make()) == "!x\n  - &id001\n    - 1\n  - *id001\n"
        return
    with pytest.raises(error) as info:
        dump(make())
    assert str(info.value) == message


def test_a_tagged_value_met_again_is_written_again():
    inner = [1]
    text = dump([o.OstrevaneTag("!x", inner), o.OstrevaneTag("!y", inner)])
    assert text == "- !x\n  - 1\n- !y\n  - 1\n"


def test_tag_text_is_validated():
    with pytest.raises(OstrevaneEncodeError):
        dump(o.OstrevaneTag("bad tag", 1))


class Point:
    def __init__(self, x):
        self.x = x


@pytest.mark.parametrize(
    "result,text,error",
    [
        (lambda p: ("!pt", p.x), "!pt 3\n", None),
        (lambda p: o.OstrevaneTag("!pt", [p.x]), "!pt\n  - 3\n", None),
        (lambda p: [p.x], None, "a tags callback must return a OstrevaneTag or a (tag, value) tuple"),
        (lambda p: (1, p.x), None, "'int' object is not an instance of 'str'"),
    ],
)
def test_serializers(result, text, error):
    if error is None:
        assert dump(Point(3), serializers={Point: result}) == text
        return
    with pytest.raises((OstrevaneEncodeError, TypeError)) as info:
        dump(Point(3), serializers={Point: result})
    assert str(info.value) == error


# ---------------------------------------------------------------------------
# Default scalar nodes.

SINGLE = o.OPT_SINGLE_QUOTES


@pytest.mark.parametrize(
    "text,default,single",
    [
        ("abc", "abc", "abc"),
        ("123", '"123"', "'123'"),
        ("", '""', "''"),
        ("it's: x", '"it\'s: x"', '"it\'s: x"'),
        ("- a\tb", '"- a\\tb"', '"- a\\tb"'),
        ("a: b", '"a: b"', "'a: b'"),
    ],
)
def test_string_styles_under_both_quote_preferences(text, default, single):
    assert dump([text]) == f"- {default}\n"
    assert dump([text], option=SINGLE) == f"- {single}\n"


@pytest.mark.parametrize(
    "text,v12,v11,compat",
    [
        ("y", "y", '"y"', "y"),
        ("1:20", "1:20", '"1:20"', '"1:20"'),
        ("2001-12-14", "2001-12-14", '"2001-12-14"', '"2001-12-14"'),
        ("off", '"off"', '"off"', '"off"'),
    ],
)
def test_yaml_1_1_modes_quote_their_own_keywords(text, v12, v11, compat):
    assert dump([text]) == f"- {v12}\n"
    assert dump([text], option=o.OPT_YAML_1_1) == f"- {v11}\n"
    assert dump([text], option=o.OPT_PYYAML_COMPAT) == f"- {compat}\n"


def test_literal_blocks_and_their_context():
    text = "first\nsecond"
    assert dump([text]) == "- |-\n  first\n  second\n"
    assert dump({"k": text}) == "k: |-\n  first\n  second\n"
    assert dump({text: 1}) == '"first\\nsecond": 1\n'
    assert dump([[text]], option=o.OPT_FLOW_STYLE) == '[["first\\nsecond"]]\n'


@pytest.mark.parametrize(
    "value,text",
    [
        (True, "true"),
        (-7, "-7"),
        (2**70, "1180591620717411303424"),
        (-(2**64), "-18446744073709551616"),
        (math.inf, ".inf"),
        (-math.inf, "-.inf"),
        (1.5, "1.5"),
        (1e-7, "1.0e-07"),
        (None, "null"),
        (datetime.date(2020, 1, 2), "2020-01-02"),
        (datetime.datetime(2020, 1, 2, 3, 4, 5), "2020-01-02T03:04:05"),
    ],
)
def test_scalars(value, text):
    assert dump(value) == text + "\n"
    assert dump([[value]], option=o.OPT_FLOW_STYLE) == f"[[{text}]]\n"


def test_scalars_as_keys():
    assert dump({2**70: 1, -7: 2, 1.5: 3, None: 4, True: 5}, option=o.OPT_FLOW_STYLE) == (
        "{1180591620717411303424: 1, -7: 2, 1.5: 3, null: 4, true: 5}\n"
    )


def test_dates_are_objects_and_may_be_shared():
    day = datetime.date(2020, 1, 2)
    assert dump([day, day]) == "- &id001 2020-01-02\n- *id001\n"


def test_nan():
    assert dump(math.nan) == ".nan\n"


def test_date_options_reach_the_road():
    when = datetime.datetime(2020, 1, 2, 3, 4, 5, 600)
    assert dump(when, option=o.OPT_OMIT_MICROSECONDS | o.OPT_NAIVE_UTC | o.OPT_UTC_Z) == (
        "2020-01-02T03:04:05Z\n"
    )


# ---------------------------------------------------------------------------
# Collections and key order.


def test_flow_decision():
    data = {"a": [1, {"b": 2}], "c": {"d": []}}
    assert dump(data) == "a:\n  - 1\n  - b: 2\nc:\n  d: []\n"
    assert dump(data, option=o.OPT_FLOW_STYLE) == "{a: [1, {b: 2}], c: {d: []}}\n"
    # A collection as a key is always flow.
    assert dump({(1, 2): 3}) == "[1, 2]: 3\n"


def test_sets_and_tuples_are_sequences():
    assert dump((1, 2)) == "- 1\n- 2\n"
    assert dump(frozenset([5])) == "- 5\n"
    assert dump({5}) == "- 5\n"


def test_sort_keys_with_mixed_keys():
    data = {"b": 1, 2: 2, None: 3, True: 4, 1.5: 5, "a": 6, b"c": 7, (1,): 8}
    text = dump(data, option=o.OPT_SORT_KEYS)
    assert text == "null: 3\ntrue: 4\n1.5: 5\n2: 2\na: 6\nb: 1\nc: 7\n[1]: 8\n"


def test_sort_keys_numbers_against_strings():
    assert dump({10: 0, 9: 0}, option=o.OPT_SORT_KEYS) == "9: 0\n10: 0\n"
    assert dump({"10": 0, "9": 0}, option=o.OPT_SORT_KEYS) == '"10": 0\n"9": 0\n'
    assert dump({2**70: 0, 1e30: 1, 5: 2}, option=o.OPT_SORT_KEYS) == (
        "5: 2\n1180591620717411303424: 0\n1.0e+30: 1\n"
    )


def test_sort_keys_keeps_the_order_of_unsortable_keys():
    assert dump({(2,): 0, (1,): 1}, option=o.OPT_SORT_KEYS) == "[2]: 0\n[1]: 1\n"


def test_without_sort_keys_the_dict_order_stays():
    assert dump({"b": 1, "a": 2}) == "b: 1\na: 2\n"


@dataclasses.dataclass
class Record:
    b: int
    a: str


def test_dataclass_fields_are_a_mapping_and_sort_like_keys():
    assert dump(Record(1, "x")) == "b: 1\na: x\n"
    assert dump(Record(1, "x"), option=o.OPT_SORT_KEYS) == "a: x\nb: 1\n"


# The mend: ClassVar and InitVar pseudo-fields are not instance data.
@dataclasses.dataclass
class WithPseudoFields:
    kept: int
    seed: dataclasses.InitVar[int]
    shared: typing.ClassVar[str] = "class data"

    def __post_init__(self, seed):
        self.derived = seed * 2


def test_dataclass_pseudo_fields_are_left_out():
    assert dump(WithPseudoFields(1, seed=5)) == "kept: 1\n"


def test_passthrough_dataclass_leaves_them_to_default():
    with pytest.raises(OstrevaneUnserializableError):
        dump(Record(1, "x"), option=o.OPT_PASSTHROUGH_DATACLASS)


def test_layout_options():
    data = {"a": {"b": [1]}}
    assert dump(data, option=o.OPT_INDENT_4 | o.OPT_EXPLICIT_START | o.OPT_EXPLICIT_END) == (
        "---\na:\n    b:\n        - 1\n...\n"
    )
    assert dump(data, option=o.OPT_INDENTLESS_SEQUENCES) == "a:\n  b:\n  - 1\n"
    assert dump([None], option=o.OPT_NULL_AS_TILDE) == "- ~\n"
    assert dump([None], option=o.OPT_NULL_AS_KEYWORD) == "- null\n"


# ---------------------------------------------------------------------------
# Depth.


def nested(levels):
    x = []
    for _ in range(levels - 1):
        x = [x]
    return x


def on_big_stack(fn, size=256 << 20):
    """Runs fn in a thread with a 256 MiB stack: the road stops rather than
    change stacks, and sanitizer builds use far bigger frames."""
    result = []
    old = threading.stack_size(size)
    try:
        worker = threading.Thread(target=lambda: result.append(fn()))
        worker.start()
        worker.join()
    finally:
        threading.stack_size(old)
    return result[0]


def test_thousand_nested_lists_are_written():
    text = on_big_stack(lambda: dump(nested(1000)))
    assert text.count("\n") == 999  # the root list has no dash
    assert text.endswith("- []\n")


def refusal_of(levels):
    """The error text of dumping `levels` nested lists, or None."""
    def attempt():
        try:
            dump(nested(levels))
        except OstrevaneUnserializableError as error:
            return str(error)

    return attempt


def test_one_more_level_is_too_deep():
    assert on_big_stack(refusal_of(1001)) == TOO_DEEP


def test_a_small_stack_stops_the_road_before_it_overflows():
    assert on_big_stack(refusal_of(1000), size=512 << 10) == TOO_DEEP


def test_callback_recursion_becomes_too_deep_with_its_cause():
    def recurse(obj):
        return recurse(obj)

    with pytest.raises(OstrevaneUnserializableError) as info:
        o.dumps([1], represent=recurse)
    assert str(info.value) == TOO_DEEP
    assert isinstance(info.value.__cause__, RecursionError)


# ---------------------------------------------------------------------------
# Round trip.

scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.floats(allow_nan=False),
    st.text(st.characters(blacklist_categories=("Cs",))),
)
values = st.recursive(
    scalars,
    lambda inner: st.one_of(
        st.lists(inner, max_size=4),
        st.dictionaries(st.text(max_size=5), inner, max_size=4),
    ),
    max_leaves=20,
)


@settings(max_examples=300, deadline=None)
@given(values)
def test_loads_of_dumps_gives_the_value_back(value):
    assert o.loads(dump(value)) == value
    assert o.loads(dump(value, option=o.OPT_SINGLE_QUOTES | o.OPT_FLOW_STYLE)) == value


@settings(max_examples=100, deadline=None)
@given(st.lists(st.lists(st.integers(), min_size=1, max_size=3), min_size=1, max_size=4),
       st.lists(st.integers(0, 3), max_size=6))
def test_shared_lists_come_back_as_one_object(pool, picks):
    data = [pool[i % len(pool)] for i in picks]
    text = dump(data)
    assert o.loads(text) == data
    # Every list met twice is written once, with an alias for each repeat.
    repeats = len(picks) - len({id(x) for x in data})
    assert text.count("*id") == repeats

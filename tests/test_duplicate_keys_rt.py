"""Duplicate keys on the roads that compose node trees: round-trip, node
(directives), annotated, and loads_all on its round-trip and annotated
roads."""


import pytest

import ostrevane as o
from ostrevane.exceptions import OstrevaneDuplicateKeyError

ERR = o.OPT_DUPLICATE_KEYS_ERROR
WARN = o.OPT_DUPLICATE_KEYS_WARN

# Each road loads a text with extra options and returns plain values.
ROADS = {
    "round_trip": lambda text, option: o.loads(text, option=o.OPT_ROUND_TRIP | option).to_dict(),
    "node": lambda text, option: o.loads(text, option=o.OPT_ENV_VAR | option),
    "annotated": lambda text, option: o.loads(text, option=o.OPT_ANNOTATED | option),
    "loads_all_round_trip": lambda text, option: [
        d.to_dict() for d in o.loads_all(text, option=o.OPT_ROUND_TRIP | option)
    ][0],
    "loads_all_annotated": lambda text, option: o.loads_all(
        text, option=o.OPT_ANNOTATED | option)[0],
}


@pytest.fixture(params=sorted(ROADS))
def road(request):
    return ROADS[request.param]


def test_error_names_the_key_and_its_position(road):
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        road("a: 1\na: 2\n", ERR)
    assert str(info.value) == "duplicate mapping key: a at line 2, column 1"
    assert (info.value.line, info.value.column) == (2, 1)


def test_warning_keeps_the_last_value(road, warnings):
    assert road("a: 1\na: 2\n", WARN) == {"a": 2}
    assert warnings() == [
        "duplicate mapping key 'a' at line 2, column 1; keeping the last value"]


def test_without_options_nothing_is_reported(road, warnings):
    assert road("a: 1\na: 2\n", 0) == {"a": 2}
    assert warnings() == []


def test_a_key_seen_three_times_warns_twice(road, warnings):
    road("k: 1\nk: 2\nk: 3\n", WARN)
    assert warnings() == [
        "duplicate mapping key 'k' at line 2, column 1; keeping the last value",
        "duplicate mapping key 'k' at line 3, column 1; keeping the last value",
    ]


@pytest.mark.parametrize("text, key, column", [
    ("1: a\n1.0: b\n", "1.0", 1),
    ("1: a\n0x1: b\n", "0x1", 1),
    ("1: a\ntrue: b\n", "true", 1),
    ("{0.5: a, 0.50: b}", "0.50", 10),
    ("{.nan: a, .NaN: b}", ".NaN", 11),
    ("{[1, 2]: a, [1, 2]: b}", "Sequence([1, 2])", 13),
    ("{{a: 1}: x, {a: 1}: y}", "Mapping([(a, 1)])", 13),
    ("a: &x 1\nb: *x\n*x : 2\n*x : 3\n", "Alias(\"x\")", 1),
])
def test_canonical_collisions(road, text, key, column):
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        road(text, ERR)
    assert str(info.value).startswith(f"duplicate mapping key: {key} at line ")
    assert info.value.column == column


@pytest.mark.parametrize("text", [
    "1: a\n'1': b\n",
    "{[1, 2]: a, [2, 1]: b}",
    "a: 1\nb: {a: 2}\n",
    "yes: 1\ntrue: 2\n",
    "a: &x 1\n*x : 2\n",
])
def test_distinct_keys_do_not_collide(road, text, warnings):
    road(text, ERR)
    road(text, WARN)
    assert warnings() == []


def test_keys_depend_on_the_resolution_rules(road):
    # Under YAML 1.1 rules "yes" is the bool true.
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        road("yes: 1\ntrue: 2\n", ERR | o.OPT_YAML_1_1)
    assert str(info.value) == "duplicate mapping key: true at line 2, column 1"


def test_the_nested_repeat_comes_first(road):
    text = "a:\n  b: 1\n  b: 2\nc: 1\nc: 2\n"
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        road(text, ERR)
    assert (str(info.value), info.value.line) == ("duplicate mapping key: b at line 3, column 3", 3)


def test_a_repeat_at_this_level_comes_before_one_inside_its_pair(road):
    text = "a: 1\na: {x: 1, x: 2}\n"
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        road(text, ERR)
    assert str(info.value) == "duplicate mapping key: a at line 2, column 1"


def test_large_mappings_are_checked_too(road):
    keys = "".join(f"k{i}: {i}\n" for i in range(40))
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        road(keys + "k7: x\n", ERR)
    assert (info.value.line, info.value.column) == (41, 1)
    assert road(keys, ERR) == {f"k{i}": i for i in range(40)}


def test_merge_keys_are_not_reported(road, warnings):
    text = "b: &b {x: 1}\nc: &c {y: 2}\nm:\n  <<: *b\n  <<: *c\n"
    assert road(text, ERR)["m"] == {"x": 1, "y": 2}
    road(text, WARN)
    assert warnings() == []


# Mend: only a real merge key escapes the check. A quoted "<<" is an
# ordinary key (it never merges), so its repeats are reported like any
# other key's; before, every key whose text was "<<" was skipped, and with
# the error option the load silently kept the last one.
@pytest.mark.parametrize("text", ['"<<": 1\n"<<": 2\n', "'<<': 1\n'<<': 2\n"])
def test_quoted_merge_texts_are_ordinary_keys(road, text, warnings):
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        road(text, ERR)
    assert str(info.value) == "duplicate mapping key: << at line 2, column 1"
    assert road(text, WARN) == {"<<": 2}
    assert warnings() == [
        "duplicate mapping key '<<' at line 2, column 1; keeping the last value"]


def test_tagged_merge_key_is_not_reported(road):
    text = "b: &b {x: 1}\nm:\n  !!merge a: *b\n  !!merge z: *b\n"
    assert road(text, ERR)["m"] == {"x": 1}


# Mend: numbers compare by exact value across Int, BigInt and Float, as
# Python's dict does. 2e19 lies outside the 64-bit range, so it used to be
# keyed by its bit pattern and never met the integer 20000000000000000000:
# to_dict kept one entry without any error or warning.
@pytest.mark.parametrize("text, key", [
    ("2e19: a\n20000000000000000000: b\n", "20000000000000000000"),
    ("0x10000000000000000: a\n18446744073709551616: b\n", "18446744073709551616"),
    ("1.0e30: a\n1000000000000000019884624838656: b\n", "1000000000000000019884624838656"),
])
def test_big_numbers_collide_by_value(road, text, key):
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        road(text, ERR)
    assert str(info.value) == f"duplicate mapping key: {key} at line 2, column 1"


def test_1e100_and_ten_to_the_100_differ(road):
    text = f"1e100: a\n{10**100}: b\n"
    assert len(road(text, ERR)) == 2


def test_the_same_key_in_two_mappings_or_documents_is_no_repeat(warnings):
    text = "a: 1\nb: {a: 1}\n---\na: 2\n"
    o.loads(text, option=o.OPT_ROUND_TRIP | ERR)
    assert len(o.loads_all(text, option=o.OPT_ANNOTATED | ERR)) == 2
    assert len(o.loads_all(text, option=o.OPT_ROUND_TRIP | ERR)) == 2


def test_later_documents_are_checked():
    text = "a: 1\n---\nb: 1\nb: 2\n"
    for option in (o.OPT_ROUND_TRIP, o.OPT_ANNOTATED):
        with pytest.raises(OstrevaneDuplicateKeyError) as info:
            o.loads_all(text, option=option | ERR)
        assert (info.value.line, info.value.column) == (4, 1)
    with pytest.raises(OstrevaneDuplicateKeyError):
        o.loads(text, option=o.OPT_ROUND_TRIP | ERR)


def test_error_wins_over_warning(road, warnings):
    with pytest.raises(OstrevaneDuplicateKeyError):
        road("a: 1\na: 2\n", ERR | WARN)
    assert warnings() == []


def test_repeats_in_an_included_file(tmp_path):
    (tmp_path / "inc.yaml").write_text("x: 1\nx: 2\n")
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        o.loads("a: !include inc.yaml\n", option=o.OPT_INCLUDES | ERR, include_dir=str(tmp_path))
    assert str(info.value) == "duplicate mapping key: x at line 2, column 1"


def test_round_trip_keeps_every_pair():
    text = "a: 1  # one\na: 2\n"
    doc = o.loads(text, option=o.OPT_ROUND_TRIP | WARN)
    assert doc.to_yaml() == text.encode()

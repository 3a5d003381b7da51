"""dumps: arguments, option bits and the exact bytes of each layout."""
import threading

import pytest
import yaml

import ostrevane as o
from ostrevane.exceptions import OstrevaneEncodeError

KEY_NULL = o.OPT_NULL_AS_KEYWORD
TILDE = o.OPT_NULL_AS_TILDE


@pytest.mark.parametrize("obj, option, expected", [
    # Roots.
    (None, 0, b"null\n"),
    (None, TILDE, b"~\n"),
    ({}, 0, b"{}\n"),
    ([], 0, b"[]\n"),
    (1, 0, b"1\n"),
    ("text", 0, b"text\n"),
    ("one\ntwo", 0, b"|-\n  one\n  two\n"),
    ("one\ntwo\n", o.OPT_INDENT_4, b"|\n    one\n    two\n"),
    ("one\ntwo", o.OPT_FLOW_STYLE, b"|-\n  one\n  two\n"),
    # Nulls.
    ({"a": None}, 0, b"a:\n"),
    ({"a": None}, KEY_NULL, b"a: null\n"),
    ({"a": None}, TILDE, b"a: ~\n"),
    ([None, 1], 0, b"-\n- 1\n"),
    ([None], KEY_NULL, b"- null\n"),
    ([None, [None]], o.OPT_FLOW_STYLE, b"[null, [null]]\n"),
    ([None, {"k": None}], o.OPT_FLOW_STYLE | TILDE, b"[~, {k: ~}]\n"),
    # Sequences under a key.
    ({"k": [1, 2]}, 0, b"k:\n  - 1\n  - 2\n"),
    ({"k": [1, 2]}, o.OPT_INDENT_2, b"k:\n  - 1\n  - 2\n"),
    ({"k": [1, 2]}, o.OPT_INDENTLESS_SEQUENCES, b"k:\n- 1\n- 2\n"),
    ({"k": [1, 2]}, o.OPT_INDENT_4, b"k:\n    - 1\n    - 2\n"),
    ({"k": [1, 2]}, o.OPT_FLOW_STYLE, b"{k: [1, 2]}\n"),
    # Nesting.
    ({"a": {"b": 1}}, 0, b"a:\n  b: 1\n"),
    ({"a": {"b": 1}}, o.OPT_INDENT_4, b"a:\n    b: 1\n"),
    ([[1, 2], 3], 0, b"-\n  - 1\n  - 2\n- 3\n"),
    ([[1, 2], 3], o.OPT_INDENT_4, b"-\n  - 1\n  - 2\n- 3\n"),
    ([{"a": 1, "b": 2}], 0, b"- a: 1\n  b: 2\n"),
    ([{"a": 1, "b": 2}], o.OPT_INDENT_4, b"- a: 1\n  b: 2\n"),
    ([{"a": {"b": [1]}}], 0, b"- a:\n    b:\n      - 1\n"),
    ({"a": [], "b": {}}, 0, b"a: []\nb: {}\n"),
    # Strings and quoting.
    ("", 0, b'""\n'),
    ("", o.OPT_SINGLE_QUOTES, b"''\n"),
    ({"a": "x, y"}, 0, b"a: x, y\n"),
    (["x, y", "[z]"], o.OPT_FLOW_STYLE, b'["x, y", "[z]"]\n'),
    ({"k": "one\ntwo"}, 0, b"k: |-\n  one\n  two\n"),
    ({"a": {"k": "one\ntwo"}}, 0, b"a:\n  k: |-\n    one\n    two\n"),
    ("123", 0, b'"123"\n'),
    ("null", o.OPT_SINGLE_QUOTES, b"'null'\n"),
    ("it's", o.OPT_SINGLE_QUOTES, b"it's\n"),
    ("'true'", o.OPT_SINGLE_QUOTES, b"\"'true'\"\n"),
    ("tab\there", 0, b'"tab\\there"\n'),
    ("é", 0, "é\n".encode()),
    # Under each mode.
    ("yes", 0, b'"yes"\n'),
    ("yes", o.OPT_YAML_1_1, b'"yes"\n'),
    ("0o17", 0, b'"0o17"\n'),
    ("017", o.OPT_YAML_1_1, b'"017"\n'),
    ("1:20", o.OPT_YAML_1_1, b'"1:20"\n'),
    ("2001-12-14 21:59:43z", o.OPT_YAML_1_1, b'"2001-12-14 21:59:43z"\n'),
    ("2001-12-14", o.OPT_PYYAML_COMPAT, b'"2001-12-14"\n'),
    # Numbers.
    (1.0, 0, b"1.0\n"),
    (-0.0, 0, b"-0.0\n"),
    (1e20, 0, b"1.0e+20\n"),
    (1e15, 0, b"1000000000000000.0\n"),
    (1e-7, 0, b"1.0e-07\n"),
    (float("nan"), 0, b".nan\n"),
    (float("-inf"), 0, b"-.inf\n"),
    (2**64, 0, b"18446744073709551616\n"),
    (-(10**30), 0, b"-1000000000000000000000000000000\n"),
    # Framing.
    (1, o.OPT_EXPLICIT_START | o.OPT_EXPLICIT_END, b"---\n1\n...\n"),
    ({"a": 1}, o.OPT_EXPLICIT_START, b"---\na: 1\n"),
    ([1], o.OPT_EXPLICIT_END, b"- 1\n...\n"),
    # Sorted keys.
    ({"b": 1, "a": 2, None: 3, True: 4, 2: 5, "B": 6}, o.OPT_SORT_KEYS,
     b"null: 3\ntrue: 4\n2: 5\nB: 6\na: 2\nb: 1\n"),
    ({"b": {"d": 1, "c": 2}, "a": [{"z": 1, "y": 2}]}, o.OPT_SORT_KEYS,
     b"a:\n  - y: 2\n    z: 1\nb:\n  c: 2\n  d: 1\n"),
    ({1.0: "f", 0: "i"}, o.OPT_SORT_KEYS, b"0: i\n1.0: f\n"),
    ({(2,): "x", (1,): "y"}, o.OPT_SORT_KEYS, b"[2]: x\n[1]: y\n"),
    # Tags.
    ({"k": o.OstrevaneTag("!t", [1])}, 0, b"k: !t\n  - 1\n"),
    ({"k": o.OstrevaneTag("!t", [1])}, o.OPT_INDENTLESS_SEQUENCES, b"k: !t\n  - 1\n"),
    ([o.OstrevaneTag("!t", {"a": 1})], 0, b"- !t\n  a: 1\n"),
    ({"a": 1, o.OstrevaneTag("!k", "x"): 2}, 0, b"a: 1\n? !k x\n: 2\n"),
    ({o.OstrevaneTag("!k", "x"): 2}, 0, b"!k x: 2\n"),
    ([o.OstrevaneTag("!t", 1)], o.OPT_FLOW_STYLE, b"[!t 1]\n"),
])
def test_layout(obj, option, expected):
    assert o.dumps(obj, option=option) == expected


@pytest.mark.parametrize("obj, width, expected", [
    (list(range(30)), 20,
     b"[0, 1, 2, 3, 4, 5, 6,\n  7, 8, 9, 10, 11, 12,\n  13, 14, 15, 16, 17,\n"
     b"  18, 19, 20, 21, 22,\n  23, 24, 25, 26, 27,\n  28, 29]\n"),
    (list(range(30)), 0,
     b"[" + ", ".join(str(i) for i in range(30)).encode() + b"]\n"),
    ({"k": "a long string with spaces in it that goes on"}, 20,
     b'k: "a long string\n   with spaces in it\n   that goes on"\n'),
    ({"k": "alongstringwithoutanyfoldpointatallxxxxxxxxxxxx"}, 20,
     b"k: alongstringwithoutanyfoldpointatallxxxxxxxxxxxx\n"),
    ({"a long key with many words in it": 1}, 10, b"a long key with many words in it: 1\n"),
])
def test_width(obj, width, expected):
    option = o.OPT_FLOW_STYLE if isinstance(obj, list) else 0
    assert o.dumps(obj, option=option, width=width) == expected


def test_width_absent_equals_zero():
    data = {"k": "word " * 50, "l": list(range(100))}
    assert o.dumps(data) == o.dumps(data, width=0) == o.dumps(data, width=None)


def test_result_is_bytes_and_none_means_absent():
    out = o.dumps({"a": 1}, default=None, option=None, serializers=None, width=None,
                  represent=None)
    assert type(out) is bytes and out == b"a: 1\n"


def test_option_ignores_other_bits():
    unrelated = (o.OPT_ROUND_TRIP | o.OPT_INCLUDES | o.OPT_TIMESTAMPS | o.OPT_INDENT_2
                 | o.OPT_DUPLICATE_KEYS_ERROR | (1 << 40))
    assert o.dumps({"k": [1]}, option=unrelated) == o.dumps({"k": [1]})


@pytest.mark.parametrize("obj", [1, None, {"a": None}])
def test_null_options_are_exclusive(obj):
    with pytest.raises(ValueError) as info:
        o.dumps(obj, option=KEY_NULL | TILDE)
    assert str(info.value) == "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive"


def test_null_conflict_is_found_before_conversion():
    calls = []
    with pytest.raises(ValueError):
        o.dumps(object(), option=KEY_NULL | TILDE, default=calls.append)
    assert calls == []


@pytest.mark.parametrize("kwargs, exc, message, param", [
    ({"serializers": []}, TypeError, "'list' object is not an instance of 'dict'", "serializers"),
    ({"width": -1}, OverflowError, None, "width"),
    ({"width": "80"}, TypeError, None, "width"),
    ({"option": 2**64}, OverflowError, None, "option"),
    ({"option": 1.0}, TypeError, None, "option"),
])
def test_argument_errors(kwargs, exc, message, param):
    with pytest.raises(exc) as info:
        o.dumps(1, **kwargs)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{param}'"]


def test_serializers_may_be_a_dict_subclass():
    class Registry(dict):
        pass

    class Thing:
        pass

    assert o.dumps(Thing(), serializers=Registry({Thing: lambda t: ("!thing", 1)})) == \
        b"!thing 1\n"


def test_positional_and_keyword_rules():
    with pytest.raises(TypeError):
        o.dumps()
    with pytest.raises(TypeError):
        o.dumps(1, None)
    with pytest.raises(TypeError):
        o.dumps(obj=1)
    with pytest.raises(TypeError):
        o.dumps(1, indent=2)


def test_represent_descriptor_results_are_written():
    assert o.dumps(1, represent=lambda obj: None) == b"1\n"
    # The descriptor's text is a string: quoted, since plain it would read as 1.
    assert o.dumps(1, represent=lambda obj: o.OstrevaneScalar("1")) == b'"1"\n'


def test_represent_comes_after_the_argument_and_null_checks():
    with pytest.raises(ValueError):
        o.dumps(1, represent=len, option=KEY_NULL | TILDE)
    with pytest.raises(TypeError):
        o.dumps(1, represent=len, width="x")


def test_conversion_error_returns_no_partial_text():
    with pytest.raises(OstrevaneEncodeError):
        o.dumps({"ok": 1, "bad": b"\xff"})


def test_big_outputs_and_threads():
    # The write runs without the interpreter lock: other threads keep going,
    # and every thread gets its own complete text.
    data = [{"id": i, "name": f"n{i}", "tags": ["a", "b"]} for i in range(20000)]
    expected = o.dumps(data)
    results = []

    def work():
        results.append(o.dumps(data))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected] * 4
    assert expected.count(b"\n") == 20000 * 5


def test_deep_nesting_is_written():
    value = 1
    for _ in range(999):
        value = [value] if _ % 2 else {"k": value}
    text = o.dumps(value)
    assert text.count(b"\n") == 500 and o.dumps(o.loads(text)) == text


@pytest.mark.parametrize("data", [
    {"\u3000%YAML 1.1 x": "1:30"},
    "\u00a0%YAML 1.1",
])
def test_unicode_space_before_percent_does_not_declare_a_version(data):
    # A plain first line read as a %YAML 1.1 directive used to switch the
    # whole text to YAML 1.1 rules, so "1:30" came back as 90.
    text = o.dumps(data)
    assert o.yaml_version(text) is None
    assert o.loads(text) == data


# A key longer than other readers take in the simple form (1024 characters)
# is written after "? ", on both roads of dumps. (It used to be written as a
# simple key, which PyYAML refuses.)
LONG_KEY = "k" * 1100


@pytest.mark.parametrize("obj", [
    {LONG_KEY: 1},
    {"a": {LONG_KEY: {"b": 1}}},
    [{LONG_KEY: [1], "c": 2}],
    {"k" * 1024: 1},
])
@pytest.mark.parametrize("option", [0, o.OPT_FLOW_STYLE])
@pytest.mark.parametrize("represent", [None, lambda obj: None])
def test_a_long_key_is_written_in_the_explicit_form(obj, option, represent):
    kwargs = {"represent": represent} if represent else {}
    text = o.dumps(obj, option=option, **kwargs)
    assert o.loads(text) == obj
    assert yaml.safe_load(text.decode()) == obj
    assert (b"? " + b"k" * 1100 in text) == ("k" * 1100 in str(obj))

"""The round-trip road: loads and loads_all with OPT_ROUND_TRIP, OstrevaneDocument,
its text (to_yaml, dumps), its values (to_dict, to_json)."""

import datetime
import subprocess
import sys
import pathlib

import pytest

import ostrevane as o
from ostrevane import OstrevaneDocument, dumps, loads, loads_all, to_json
from ostrevane.exceptions import OstrevaneParseError

RT = o.OPT_ROUND_TRIP


def rt(text, option=0):
    return loads(text, option=RT | option)


# ---------------------------------------------------------------------------
# Text: byte for byte while nothing changed.

VERBATIM = [
    "",
    "# only a comment\n",
    "# one\n\n   # two, indented\n",
    "a: 1\n",
    "a:    1      # spaced out\nb:\n\n\n  - x\n  -   y\n",
    "'single': \"double\"\nplain:   'it''s'\nesc: \"tab\\there\\u00e9\"\n",
    "flow: {a: 1,   b: [1,2 ,3]}   # flow\nempty: {}\n",
    "lit: |\n  keep\n   this\n\nfold: >-\n  folded\n  text\nlast: |+\n  kept\n\n",
    "a: &anchor {x: 1}\nb: *anchor\n<<: *anchor\n",
    "!!map\n? complex\n: !custom value\n? [a, b]\n: c\n",
    "%YAML 1.1\n---\nyes: no\n...\n",
    "--- 1\n--- # second\n2\n...\n--- [3]\n",
    "no final newline: x",
    "a: 1\r\nb: 2\r\n",
    "- é\n- 漢字\n- 😀\n",
    "\ufeffa: 1  # after a byte-order mark\n",
    "key:\n    deeply:\n          indented: value\n# trailing comment\n",
]


@pytest.mark.parametrize("text", VERBATIM)
def test_text_is_verbatim(text):
    doc = rt(text)
    assert doc.to_yaml() == text.encode()
    assert dumps(doc) == text.encode()
    assert rt(text.encode()).to_yaml() == text.encode()


def test_text_from_utf16_input_is_its_utf8():
    # The decoded text keeps the byte-order mark, in UTF-8.
    text = "a: 1  # é\n"
    assert rt(text.encode("utf-16")).to_yaml() == b"\xef\xbb\xbf" + text.encode()
    assert rt(text.encode("utf-16")).to_dict() == {"a": 1}


def test_empty_text():
    doc = rt("")
    assert repr(doc) == "OstrevaneDocument(documents=0)"
    assert doc.to_yaml() == b""
    assert doc.explicit_start is False
    assert doc.to_dict() == []


def test_comments_only():
    text = "# nothing\n# here\n"
    doc = rt(text)
    assert repr(doc) == "OstrevaneDocument(documents=0)"
    assert doc.to_yaml() == text.encode()
    assert doc.to_dict() == []


def test_several_documents_in_one_object():
    doc = rt("a: 1\n---\nb: 2\n--- 3\n")
    assert repr(doc) == "OstrevaneDocument(documents=3)"
    assert doc.to_dict() == [{"a": 1}, {"b": 2}, 3]


def test_empty_documents_are_dropped_by_loads():
    assert repr(rt("---\n---\na: 1\n")) == "OstrevaneDocument(documents=1)"


def test_text_is_unchanged_by_reading():
    text = "a: &x [1, 2]  # c\nb: *x\n"
    doc = rt(text)
    doc.to_dict()
    repr(doc)
    to_json(doc)
    assert doc.to_yaml() == text.encode()


# ---------------------------------------------------------------------------
# loads_all: one document object per document, each with its own stretch.

def test_loads_all_three_documents():
    text = "# head\na: 1\n--- # two\nb: 2\n...\n---\n- 3\n"
    docs = loads_all(text, option=RT)
    assert [type(d) for d in docs] == [OstrevaneDocument] * 3
    assert [d.to_dict() for d in docs] == [{"a": 1}, {"b": 2}, [3]]
    stretches = [d.to_yaml() for d in docs]
    assert stretches == [b"# head\na: 1\n", b"--- # two\nb: 2\n...\n", b"---\n- 3\n"]
    assert b"".join(stretches) == text.encode()
    assert [repr(d) for d in docs] == ["OstrevaneDocument(documents=1)"] * 3


def test_loads_all_keeps_explicit_empty_documents():
    docs = loads_all("---\n---\n---\na: 1\n", option=RT)
    assert len(docs) == 3
    assert [d.to_dict() for d in docs] == [None, None, {"a": 1}]
    assert [d.explicit_start for d in docs] == [True, True, True]


def test_loads_all_each_document_under_its_own_directive():
    text = "a: yes\n...\n%YAML 1.1\n---\nb: yes\nc: 0o17\n"
    first, second = loads_all(text, option=RT)
    assert first.to_dict() == {"a": "yes"}
    assert second.to_dict() == {"b": True, "c": "0o17"}
    assert first.to_yaml() == b"a: yes\n...\n"
    assert second.to_yaml() == b"%YAML 1.1\n---\nb: yes\nc: 0o17\n"


def test_loads_all_empty_text():
    assert loads_all("", option=RT) == []
    assert loads_all("# c\n", option=RT) == []


def test_yaml_1_1_by_option_and_by_directive():
    assert rt("a: yes\n").to_dict() == {"a": "yes"}
    assert rt("a: yes\n", o.OPT_YAML_1_1).to_dict() == {"a": True}
    assert rt("%YAML 1.1\n---\na: yes\n").to_dict() == {"a": True}
    assert rt("a: yes\n", o.OPT_PYYAML_COMPAT).to_dict() == {"a": True}


# ---------------------------------------------------------------------------
# to_dict.

def test_aliases_give_shared_objects():
    d = rt("a: &x [1, 2]\nb: *x\nc: &m {k: v}\nd: *m\n").to_dict()
    assert d == {"a": [1, 2], "b": [1, 2], "c": {"k": "v"}, "d": {"k": "v"}}
    assert d["a"] is d["b"]
    assert d["c"] is d["d"]
    d["a"].append(3)
    assert d["b"] == [1, 2, 3]


def test_each_to_dict_is_a_fresh_snapshot():
    doc = rt("a: [1]\n")
    first = doc.to_dict()
    first["a"].append(2)
    assert doc.to_dict() == {"a": [1]}


@pytest.mark.parametrize("text,expected", [
    ("<<: {a: 1, b: 2}\nb: 3\n", [("a", 1), ("b", 3)]),
    ("b: 3\n<<: {a: 1, b: 2}\n", [("b", 3), ("a", 1)]),
    ("<<: [{a: 1}, {a: 2}]\n", [("a", 1)]),
    ("base: &b {x: 1, y: 2}\nd:\n  <<: *b\n  y: 3\n", None),
    ("<<: null\nk: 1\n", [("k", 1)]),
    ("<<:\nk: 1\n", [("k", 1)]),
    ("'<<': {a: 1}\n", [("<<", {"a": 1})]),
    ("!!merge x: {a: 1}\n", [("a", 1)]),
    ("<<: 5\n", [("<<", 5)]),
    ("<<: [5, {a: 1}, 6]\n", [("a", 1), ("<<", [5, 6])]),
    ("<<: 1\nk: 0\n<<: 2\n", [("<<", [1, 2]), ("k", 0)]),
    ("'<<': 9\n<<: 5\n", [("<<", 9)]),
    ("<<: 5\n'<<': 9\n", [("<<", 9)]),
])
def test_merge_keys(text, expected):
    got = rt(text).to_dict()
    if expected is None:
        assert got["d"] == {"x": 1, "y": 3}
    else:
        assert list(got.items()) == expected


def test_custom_tags_are_ignored():
    got = rt("a: !point [1, 2]\nb: !temp 12\nc: !!int '7'\nd: !!str 8\ne: !!str\n").to_dict()
    assert got == {"a": [1, 2], "b": "12", "c": 7, "d": "8", "e": ""}


@pytest.mark.parametrize("option", [o.OPT_TIMESTAMPS, o.OPT_PYYAML_COMPAT])
def test_timestamps(option):
    got = rt("d: 2001-12-14\nt: 2001-12-14T21:59:43Z\nq: '2001-12-14'\n", option).to_dict()
    assert got["d"] == datetime.date(2001, 12, 14)
    assert got["t"] == datetime.datetime(2001, 12, 14, 21, 59, 43, tzinfo=datetime.timezone.utc)
    assert got["q"] == "2001-12-14"


def test_no_timestamps_without_the_option():
    assert rt("d: 2001-12-14\n").to_dict() == {"d": "2001-12-14"}


def test_collection_keys_are_tuples():
    got = rt("? [a, b]\n: 1\n? {a: 1}\n: 2\n? &k [x]\n: 3\nz: {*k : 4}\n").to_dict()
    assert got == {("a", "b"): 1, (("a", 1),): 2, ("x",): 3, "z": {("x",): 4}}


def test_scalar_values():
    got = rt("n: ~\ne:\nb: true\ni: 0x1F\nbig: 123456789012345678901234567890\n"
             "f: 1.5\ninf: -.inf\ns: 'x'\nnested: [[[]]]\n").to_dict()
    assert got == {"n": None, "e": None, "b": True, "i": 31, "big": 123456789012345678901234567890,
                   "f": 1.5, "inf": float("-inf"), "s": "x", "nested": [[[]]]}


def test_single_scalar_document():
    assert rt("hello\n").to_dict() == "hello"


BILLION_LAUGHS = "a: &a [lol, lol, lol, lol, lol, lol, lol, lol, lol]\n" + "".join(
    f"{chr(c + 1)}: &{chr(c + 1)} [{', '.join(['*' + chr(c)] * 9)}]\n"
    for c in range(ord("a"), ord("i")))


def test_billion_laughs_shares_its_objects():
    got = rt(BILLION_LAUGHS).to_dict()
    top = got["i"]
    assert len(top) == 9
    assert all(item is got["h"] for item in top)
    assert got["b"][0] is got["a"]


# ---------------------------------------------------------------------------
# The faults the anchor rules used to have.

def test_mend_redefined_anchor_means_the_nearest_earlier_definition():
    # Looking the name up in a table keyed by first definition gave 1 here.
    got = rt("a: &x 1\nb: &x 2\nc: *x\n").to_dict()
    assert got == {"a": 1, "b": 2, "c": 2}
    # Inside a redefinition the name still means the earlier, complete node.
    got = rt("a: &x 1\nb: &x [*x]\nc: *x\n").to_dict()
    assert got == {"a": 1, "b": [1], "c": [1]}
    assert got["b"] is got["c"]
    # Across documents each one keeps its own definitions.
    assert rt("a: &x 1\nb: *x\n---\nc: &x 2\nd: *x\n").to_dict() == [
        {"a": 1, "b": 1}, {"c": 2, "d": 2}]


def test_mend_large_anchored_node_is_not_cut_to_null():
    # A copy budget of 1,000,000 nodes used to put None in place of data here.
    n = 1_000_100
    text = "base: &b [" + ",".join(["7"] * n) + "]\ncopy: *b\n"
    got = rt(text).to_dict()
    assert got["copy"] is got["base"]
    assert len(got["copy"]) == n and got["copy"][-1] == 7


def test_mend_too_long_int_raises_instead_of_becoming_a_str():
    digits = "1" * 5000
    with pytest.raises(ValueError, match="digits"):
        rt(f"a: {digits}\n").to_dict()
    with pytest.raises(ValueError, match="digits"):
        loads(f"a: {digits}\n")
    assert rt("a: 0x" + "f" * 5000 + "\n").to_dict()["a"] == int("f" * 5000, 16)


# ---------------------------------------------------------------------------
# Errors.

@pytest.mark.parametrize("text,message,line,column", [
    ("a: *nope\n", "unknown alias: *nope", 1, 4),
    ("a: &x [*x]\n", "unknown alias: *x", 1, 8),
    ("a: 1\n--- &a &b 2\n", "a node cannot have two anchors", 2, 8),
])
@pytest.mark.parametrize("load", [loads, loads_all])
def test_composer_errors(load, text, message, line, column):
    with pytest.raises(OstrevaneParseError) as info:
        load(text, option=RT)
    assert str(info.value) == f"{message} at line {line}, column {column}"
    assert (info.value.line, info.value.column) == (line, column)


# Texts the plain decoder refuses are refused on the round-trip road too,
# with the same message and position; a scan error anywhere still wins.
REFUSED_BY_BOTH_ROADS = [
    # text, message, line, column
    ("- item1\n- item2\ninvalid: x\n", "trailing content after document", 3, 1),
    ("word1  # comment\nword2\n", "trailing content after document", 2, 1),
    ("- item1\n&node\n- item2\n", "trailing content after document", 2, 1),
    ("---\n[\nsequence item\n]\ninvalid item\n", "trailing content after document", 5, 1),
    ("--- a\n...\n{b: c}\nd\n", "trailing content after document", 4, 1),
    ("%YAML 1.2 foo\n---\n", "invalid %YAML directive", 1, 1),
    ("%YAML 1.1#...\n---\n", "invalid %YAML directive", 1, 1),
    ("%YAML 1.2\n%YAML 1.2\n--- a\n", "duplicate %YAML directive", 2, 1),
    ("%TAG !e! a\n%TAG !e! b\n--- x\n", "duplicate %TAG directive for handle '!e!'", 2, 1),
    ("%YAML 1.2\n", "directive must be followed by a document start (---)", 1, 1),
    ("--- a\n...\n%TAG !e! a\n...\n", "directive must be followed by a document start (---)",
     3, 1),
    ("!e!x 1\n", "undefined tag handle: !e!", 1, 1),
    ("%TAG !e! tag:e,2000:\n--- !e!x 1\n--- !e!y 2\n", "undefined tag handle: !e!", 3, 5),
    ("- a\nb\n--- ]\n", "unexpected ']' with no open flow collection", 3, 5),
    ("!e!x a\n--- [b\n", "unclosed flow collection at end of input", 3, 1),
]


def error_of(load, text, option=0):
    with pytest.raises(OstrevaneParseError) as info:
        load(text, option=option)
    return str(info.value), info.value.line, info.value.column


@pytest.mark.parametrize("text,message,line,column", REFUSED_BY_BOTH_ROADS)
def test_refused_by_both_roads(text, message, line, column):
    expected = (f"{message} at line {line}, column {column}", line, column)
    assert error_of(loads_all, text) == expected
    assert error_of(loads_all, text, RT) == expected
    assert error_of(loads, text, RT) == expected


@pytest.mark.parametrize("text", [
    "%TAG !e! tag:e,2000:\n--- !e!x 1\n...\n%TAG !e! tag:f,2000:\n--- !e!y 2\n",
    "%YAML 1.2 # a comment\n--- a\n",
    "%FOO bar\n--- a\n",
])
def test_directives_accepted_by_both_roads(text):
    assert loads_all(text) == [d.to_dict() for d in loads_all(text, option=RT)]
    assert rt(text).to_yaml() == text.encode()


def nested(levels):
    # `levels` node levels: mappings down to a scalar.
    return "".join("  " * i + "k:\n" for i in range(levels - 2)) + "  " * (levels - 2) + "k: v\n"


def test_nesting_limit():
    doc = rt(nested(1000))
    value = doc.to_dict()
    for _ in range(998):
        value = value["k"]
    assert value == {"k": "v"}
    assert doc.to_yaml() == nested(1000).encode()
    with pytest.raises(OstrevaneParseError) as info:
        rt(nested(1001))
    assert str(info.value).startswith("maximum nesting depth (1000) exceeded at line ")


def test_null_options_conflict():
    both = o.OPT_NULL_AS_KEYWORD | o.OPT_NULL_AS_TILDE
    with pytest.raises(ValueError, match="mutually exclusive"):
        rt("a: 1\n", both)
    with pytest.raises(ValueError, match="mutually exclusive"):
        loads_all("a: 1\n", option=RT | both)
    assert loads_all("", option=RT | both) == []


@pytest.mark.parametrize("option", [
    o.OPT_SECRETS, o.OPT_UPGRADE_1_1, o.OPT_YAML_1_1_WARN,
    o.OPT_DUPLICATE_KEYS_ERROR, o.OPT_DUPLICATE_KEYS_WARN,
])
def test_every_option_is_served_on_this_road(option):
    assert rt("a: 1\n", option).to_dict() == {"a": 1}
    if option != o.OPT_SECRETS:
        assert [d.to_dict() for d in loads_all("a: 1\n", option=RT | option)] == [{"a": 1}]


def test_schema_is_checked_on_this_road():
    assert repr(loads("a: 1\n", option=RT, schema={"type": "object"})) == (
        "OstrevaneDocument(documents=1)")
    assert repr(loads("", option=RT, schema={})) == "OstrevaneDocument(documents=0)"


def test_round_trip_wins_over_annotated():
    assert type(rt("a: 1\n", o.OPT_ANNOTATED)) is OstrevaneDocument


# ---------------------------------------------------------------------------
# The class.

def test_class_cannot_be_called_or_iterated():
    with pytest.raises(TypeError):
        OstrevaneDocument()
    with pytest.raises(TypeError):
        iter(rt("[1, 2]\n"))
    assert OstrevaneDocument.__name__ == "OstrevaneDocument"
    assert OstrevaneDocument.__doc__.startswith(
        "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`.")


def test_class_is_exported_before_the_tag_class():
    assert o.__all__.index("OstrevaneDocument") < o.__all__.index("OstrevaneTag")


@pytest.mark.parametrize("text,expected", [
    ("a: 1\n", False),
    ("---\na: 1\n", True),
    ("%YAML 1.2\n---\na\n", True),
    ("a\n--- b\n", False),
    ("--- a\n--- b\n", True),
    ("", False),
])
def test_explicit_start(text, expected):
    assert rt(text).explicit_start is expected


def test_origin_and_set_origin():
    doc = rt("a: 1\n")
    assert doc.origin is None
    assert doc.set_origin("conf/app.yaml") is None
    assert doc.origin == "conf/app.yaml"
    doc.set_origin(path="other.yaml")
    assert doc.origin == "other.yaml"
    for bad in (pathlib.Path("x.yaml"), None, b"x.yaml"):
        with pytest.raises(TypeError, match="path"):
            doc.set_origin(bad)
    assert doc.origin == "other.yaml"
    with pytest.raises(TypeError):
        doc.set_origin()
    with pytest.raises(TypeError):
        doc.set_origin("a", "b")
    with pytest.raises(AttributeError):
        doc.origin = "x"


def test_members_take_no_arguments():
    doc = rt("a: 1\n")
    with pytest.raises(TypeError):
        doc.to_yaml(1)
    with pytest.raises(TypeError):
        doc.to_dict(1)


def test_import_under_warnings_as_errors():
    code = ("import ostrevane as o; d = o.loads('a: 1', option=o.OPT_ROUND_TRIP); "
            "assert d.to_dict() == {'a': 1}")
    subprocess.run([sys.executable, "-W", "error", "-c", code], check=True)


# ---------------------------------------------------------------------------
# dumps and to_json.

def test_dumps_of_a_document_ignores_every_option():
    text = "a:   1  # kept\n"
    doc = rt(text)
    both = o.OPT_NULL_AS_KEYWORD | o.OPT_NULL_AS_TILDE
    assert dumps(doc, option=both | o.OPT_INDENT_4, width=10, default=str) == text.encode()
    assert dumps(rt("")) == b""


def test_to_json_of_a_document():
    doc = rt("a: &x [1, 2]\nb: *x\nc: {d: null}\n")
    assert to_json(doc) == b'{"a":[1,2],"b":[1,2],"c":{"d":null}}'
    assert to_json(doc, option=o.OPT_INDENT_2) == to_json(doc.to_dict(), option=o.OPT_INDENT_2)
    assert to_json(rt("1\n--- 2\n")) == b"[1,2]"


def test_to_json_of_a_document_without_roots():
    assert to_json(rt("")) == b"null"
    assert to_json(rt("# c\n")) == b"null"

"""The alias budget on every road: what the plain road refuses, every road
that reads a text into Python values refuses with the same exception, and
every writer or copy of a node tree bounds the nodes and the text bytes its
aliases expand to.

Each text here used to be accepted somewhere and then cost gigabytes or
minutes; the tests only assert the refusal, so a regression shows up as a
MemoryError or a very slow test rather than as a timing."""

import pytest

import ostrevane as o
from ostrevane.exceptions import OstrevaneParseError, OstrevaneSchemaError

BOMB = "document expands to too many nodes (possible alias bomb)"
NODE_LIMIT = "1000000 nodes"
BYTE_LIMIT = "268435456 bytes of scalar and tag text"
CUT_OFF = "value could not be validated (alias expansion limit reached)"


def ten_fold(first, levels):
    """`a0: &a0 first`, then a1..a{levels}, each a list of ten aliases of
    the one before."""
    lines = [f"a0: &a0 {first}"]
    for i in range(1, levels + 1):
        lines.append(f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 10) + "]")
    return "\n".join(lines) + "\n"


# Nine anchors of ten aliases each (531 bytes): a thousand million nodes.
LAUGHS = ten_fold("[lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]", 8)
# 100 KB of text behind four levels of ten aliases: few nodes, 1 GB of text.
BIG_TEXT = ten_fold("y" * 100_000, 4)
# Each link merges the one before: every alias expands to all earlier links.
MERGE_CHAIN = "m0: &m0 {k0: 0}\n" + "".join(
    f"m{i}: &m{i} {{<<: *m{i - 1}, k{i}: {i}}}\n" for i in range(1, 8000))

TEXTS = [
    pytest.param(LAUGHS, id="laughs"),
    pytest.param(BIG_TEXT, id="big_text"),
    pytest.param(MERGE_CHAIN, id="merge_chain"),
]

# Every road that reads a text into Python values, each given the text and
# a directory to use as include_dir.
VALUE_ROADS = [
    pytest.param(lambda t, d: o.loads(t), id="plain"),
    pytest.param(lambda t, d: o.loads_all(t), id="plain_all"),
    pytest.param(lambda t, d: o.loads(t, option=o.OPT_ANNOTATED), id="annotated"),
    pytest.param(lambda t, d: o.loads_all(t, option=o.OPT_ANNOTATED), id="annotated_all"),
    pytest.param(lambda t, d: o.loads(t, option=o.OPT_ENV_VAR), id="env_var"),
    pytest.param(lambda t, d: o.loads(t, option=o.OPT_SECRETS, include_dir=d), id="secrets"),
    pytest.param(lambda t, d: o.loads(t, option=o.OPT_INCLUDES, include_dir=d), id="includes"),
    pytest.param(lambda t, d: o.loads(t, option=o.OPT_INCLUDES | o.OPT_ANNOTATED, include_dir=d),
                 id="includes_annotated"),
    pytest.param(lambda t, d: o.loads(t, option=o.OPT_REJECT_COMPLEX_KEYS | o.OPT_ENV_VAR),
                 id="env_var_checked"),
    pytest.param(lambda t, d: o.loads(t, schema={"type": "object"}), id="plain_schema"),
    pytest.param(lambda t, d: o.loads(t, option=o.OPT_ENV_VAR, schema={"type": "object"}),
                 id="env_var_schema"),
    pytest.param(lambda t, d: o.loads(t, option=o.OPT_ANNOTATED, schema={"type": "object"}),
                 id="annotated_schema"),
]


def refusal(load, *args):
    with pytest.raises(Exception) as info:
        load(*args)
    e = info.value
    return type(e), str(e), getattr(e, "line", None), getattr(e, "column", None)


def plain_refusal(text):
    return refusal(o.loads, text)


@pytest.mark.parametrize("text", TEXTS)
def test_the_plain_road_refuses_each_text(text):
    kind, message, line, column = plain_refusal(text)
    assert kind is OstrevaneParseError
    assert message == f"{BOMB} at line {line}, column {column}"


@pytest.mark.parametrize("load", VALUE_ROADS)
@pytest.mark.parametrize("text", TEXTS)
def test_every_value_road_refuses_what_the_plain_road_refuses(text, load, tmp_path):
    # The directive roads used to return shared objects that the first
    # writer expanded in full: a MemoryError after 16 s and 2 GB for the
    # laughs, 3.7 s and 877 MB to load the merge chain.
    assert refusal(load, text, str(tmp_path)) == plain_refusal(text)


INCLUDE_ROADS = [
    pytest.param(o.OPT_INCLUDES, None, id="includes"),
    pytest.param(o.OPT_INCLUDES | o.OPT_ANNOTATED, None, id="includes_annotated"),
    pytest.param(o.OPT_INCLUDES, {"type": "object"}, id="includes_schema"),
    pytest.param(o.OPT_INCLUDES | o.OPT_ENV_VAR | o.OPT_SECRETS, None, id="all_directives"),
]


@pytest.mark.parametrize("option, schema", INCLUDE_ROADS)
@pytest.mark.parametrize("text", TEXTS)
def test_an_included_bomb_is_refused_as_the_plain_road_refuses_its_text(text, option, schema,
                                                                        tmp_path):
    # `dumps` of such a load used to run out of memory (2.8 GB).
    bomb = tmp_path / "bomb.yaml"
    bomb.write_text(text)
    with pytest.raises(OstrevaneParseError) as info:
        o.loads("x: !include bomb.yaml\n", option=option, include_dir=str(tmp_path),
                schema=schema)
    e = info.value
    assert (type(e), str(e), e.line, e.column) == plain_refusal(text)
    assert e.file == str(bomb)


@pytest.mark.parametrize("text", [
    # A hundred uses of 100 KB of text, a thousand of ten lists of 100:
    # inside both budgets.
    pytest.param("a: &a " + "x" * 100_000 + "\nb: [" + ", ".join(["*a"] * 100) + "]\n",
                 id="text"),
    pytest.param(ten_fold("[" + ", ".join(["1"] * 100) + "]", 3), id="nodes"),
])
@pytest.mark.parametrize("load", VALUE_ROADS)
def test_texts_within_the_budget_load_on_every_road(text, load, tmp_path):
    result = load(text, str(tmp_path))
    if isinstance(result, list):
        result = result[0]
    assert o.loads(o.to_json(result)) == o.loads(text)


# Writers and copies of a round-trip document: each expands aliases of a
# node tree, and names the limit it would pass.
NODE_TREE_WRITERS = [
    pytest.param("to_json() of this document", lambda doc, top: o.to_json(doc),
                 id="to_json_document"),
    pytest.param("to_json() of this node", lambda doc, top: o.to_json(doc[top]), id="to_json_view"),
    pytest.param("dumps() of this node", lambda doc, top: o.dumps(doc[top]), id="dumps_view"),
    pytest.param("to_yaml() of this node", lambda doc, top: doc[top].to_yaml(), id="to_yaml_view"),
    pytest.param("detach()", lambda doc, top: doc.node["use"].detach(), id="detach"),
]


@pytest.mark.parametrize("subject, write", NODE_TREE_WRITERS)
@pytest.mark.parametrize("text, top, limit", [
    # 1,111,135,827 bytes of JSON in 4 s, or a MemoryError, before the
    # writers counted bytes.
    pytest.param(BIG_TEXT, "a4", BYTE_LIMIT, id="big_text"),
    pytest.param(ten_fold("[lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]", 5), "a5",
                 NODE_LIMIT, id="laughs"),
])
def test_node_tree_writers_bound_nodes_and_bytes(text, top, limit, subject, write):
    text += f"use: *{top}\n"
    doc = o.loads(text, option=o.OPT_ROUND_TRIP)
    with pytest.raises(ValueError) as info:
        write(doc, top)
    assert info.value.args == (f"{subject} expands aliases to more than the limit of {limit}",)
    # The document itself keeps its aliases, and reading needs no copy.
    assert o.dumps(doc) == text.encode()
    assert len(doc[top]) == 10


def test_a_merge_chain_loads_as_a_document_and_its_writers_are_bounded():
    doc = o.loads(MERGE_CHAIN, option=o.OPT_ROUND_TRIP)
    with pytest.raises(ValueError) as info:
        o.to_json(doc)
    assert info.value.args == (
        "to_json() of this document expands aliases nested deeper than the limit of 100",)


# Validation reads a copy of the tree with its aliases expanded; past the
# budget the copy is cut off, and a schema that looks there fails.
EVERY_NODE = {
    "$defs": {"all": {"items": {"$ref": "#/$defs/all"},
                      "additionalProperties": {"$ref": "#/$defs/all"}}},
    "$ref": "#/$defs/all",
}


def test_round_trip_validation_cuts_off_past_the_byte_budget():
    # With one more level this used to end in a MemoryError after 13 s.
    doc = o.loads(BIG_TEXT, option=o.OPT_ROUND_TRIP, schema={"type": "object"})
    assert len(doc["a4"]) == 10
    with pytest.raises(OstrevaneSchemaError) as info:
        o.loads(BIG_TEXT, option=o.OPT_ROUND_TRIP, schema=EVERY_NODE)
    assert str(info.value).startswith(f"schema validation failed: {CUT_OFF} at $.a4[")


def test_secrets_bound_their_expansion_in_bytes(tmp_path):
    secrets = tmp_path / "secrets.yaml"
    secrets.write_text(BIG_TEXT)
    with pytest.raises(o.exceptions.OstrevaneIncludeError) as info:
        o.loads("k: !secret a1\n", option=o.OPT_SECRETS, include_dir=str(tmp_path))
    assert str(info.value) == (
        f"alias expansion in secrets.yaml exceeds the limit of {BYTE_LIMIT} in {secrets}")


# An alias of an anchored directive (`x: &x !include f.yaml`, `&x !secret
# s`, `&x !env_var V`) expands to what the directive produced, and is
# charged that, in nodes and in bytes, as the same content written inline
# and aliased is. Aliases of such an anchor used to be charged nothing: 2000
# aliases of an included six-level laughs tree loaded in 0.01 s and their
# to_json ran out of memory; 5000 uses of 100 KB loaded in 1.5 s.
ENV_BIG = "OSV_ALIAS_BUDGET_BIG"
LAUGHS_FLOW = "{" + ", ".join(
    ["a0: &a0 [" + ", ".join(["x"] * 10) + "]"] +
    [f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 10) + "]" for i in range(1, 6)] +
    ["top: *a5"]) + "}"
BIG_VALUE = "y" * 100_000
TEN_THOUSAND = "[" + ", ".join(["1"] * 10_000) + "]"


def aliased(head, count):
    return f"x: &x {head}\ny: [" + ", ".join(["*x"] * count) + "]\n"


ANCHORED_DIRECTIVES = [
    # (files to write, the directive, the content written inline, aliases)
    pytest.param({"b.yaml": LAUGHS_FLOW}, "!include b.yaml", LAUGHS_FLOW, 2000,
                 id="include_nodes"),
    pytest.param({"b.yaml": BIG_VALUE}, "!include b.yaml", BIG_VALUE, 5000, id="include_bytes"),
    pytest.param({"secrets.yaml": f"s: {TEN_THOUSAND}\n"}, "!secret s", TEN_THOUSAND, 2000,
                 id="secret_nodes"),
    pytest.param({"secrets.yaml": f"s: {BIG_VALUE}\n"}, "!secret s", BIG_VALUE, 5000,
                 id="secret_bytes"),
    # A variable is one scalar: only its bytes can pass a limit.
    pytest.param({}, f"!env_var {ENV_BIG}", BIG_VALUE, 5000, id="env_var_bytes"),
]

DIRECTIVE_ROADS = [
    pytest.param(o.OPT_INCLUDES | o.OPT_SECRETS | o.OPT_ENV_VAR, None, id="directives"),
    pytest.param(o.OPT_INCLUDES | o.OPT_SECRETS | o.OPT_ENV_VAR | o.OPT_ANNOTATED, None,
                 id="directives_annotated"),
    pytest.param(o.OPT_INCLUDES | o.OPT_SECRETS | o.OPT_ENV_VAR, {"type": "object"},
                 id="directives_schema"),
]


@pytest.mark.parametrize("option, schema", DIRECTIVE_ROADS)
@pytest.mark.parametrize("files, directive, inline, count", ANCHORED_DIRECTIVES)
def test_aliases_of_an_anchored_directive_are_charged_what_it_expands_to(
        files, directive, inline, count, option, schema, tmp_path, monkeypatch):
    monkeypatch.setenv(ENV_BIG, BIG_VALUE)
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    expected = plain_refusal(aliased(inline, count))
    assert expected[:2] == (OstrevaneParseError, f"{BOMB} at line 2, column {expected[3]}")
    assert refusal(lambda: o.loads(aliased(directive, count), option=option,
                                   include_dir=str(tmp_path), schema=schema)) == expected


@pytest.mark.parametrize("files, directive, inline, count", ANCHORED_DIRECTIVES)
def test_writers_of_a_round_trip_document_bound_an_anchored_directives_aliases(
        files, directive, inline, count, tmp_path, monkeypatch):
    monkeypatch.setenv(ENV_BIG, BIG_VALUE)
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    doc = o.loads(aliased(directive, count),
                  option=o.OPT_ROUND_TRIP | o.OPT_INCLUDES | o.OPT_SECRETS | o.OPT_ENV_VAR,
                  include_dir=str(tmp_path))
    limit = BYTE_LIMIT if inline == BIG_VALUE else NODE_LIMIT
    with pytest.raises(ValueError) as info:
        o.to_json(doc)
    assert info.value.args == (
        f"to_json() of this document expands aliases to more than the limit of {limit}",)


# ---------------------------------------------------------------------------
# %TAG expansions that reach Python: tag callbacks and OstrevaneTag get every
# use of a tag expanded in full (one str, shared), and whatever writes the
# values out spells each one out. Each use counts what its expansion adds to
# the text, and each alias what it expands to, toward the same 256 MiB of
# scalar and tag text. The two texts below (440 KB) used to load in 0.02 s
# and then cost dumps 13.5 s and a MemoryError at 2.9 GB (about 6 GB
# uncapped).

LONG_PREFIX = "%TAG !a! tag:" + "p" * 300_000 + ":\n---\n"
TAG_TEXTS = [
    pytest.param(LONG_PREFIX + "[" + ",".join(["!a!x v"] * 20_000) + "]\n", (3, 6265),
                 id="tags"),
    pytest.param(LONG_PREFIX + "[&t !a!x v, " + ",".join(["*t"] * 20_000) + "]\n", (3, 2692),
                 id="aliases"),
    pytest.param(LONG_PREFIX + "- &t !a!x {k: v}\n" + "- *t\n" * 20_000, (897, 3),
                 id="aliased-collection"),
]
TAG_NAME = "tag:" + "p" * 300_000 + ":x"
# Tag settings that hand the tags to Python.
TAG_SETTINGS = [
    pytest.param({"option": o.OPT_PASSTHROUGH_TAG}, id="passthrough"),
    pytest.param({"tag_handler": lambda name, value: value}, id="tag_handler"),
    pytest.param({"tags": {TAG_NAME: lambda value: value}}, id="tags"),
]
# Every road that reads a text into values: (function, option, extra).
TAG_ROADS = {
    "plain": (o.loads, 0, {}),
    "plain_all": (o.loads_all, 0, {}),
    "plain_schema": (o.loads, 0, {"schema": {"type": "array"}}),
    "annotated": (o.loads, o.OPT_ANNOTATED, {}),
    "annotated_all": (o.loads_all, o.OPT_ANNOTATED, {}),
    "annotated_schema": (o.loads, o.OPT_ANNOTATED, {"schema": {"type": "array"}}),
    "env_var": (o.loads, o.OPT_ENV_VAR, {}),
    "env_var_checked": (o.loads, o.OPT_ENV_VAR | o.OPT_REJECT_COMPLEX_KEYS, {}),
    "secrets": (o.loads, o.OPT_SECRETS, {"include_dir": True}),
    "includes": (o.loads, o.OPT_INCLUDES, {"include_dir": True}),
    "includes_annotated": (o.loads, o.OPT_INCLUDES | o.OPT_ANNOTATED, {"include_dir": True}),
}


def tag_road_call(road, setting, text, directory):
    function, option, extra = TAG_ROADS[road]
    kwargs = {k: (directory if v is True else v) for k, v in extra.items()}
    kwargs.update(setting)
    kwargs["option"] = option | setting.get("option", 0)
    return lambda: function(text, **kwargs)


@pytest.mark.parametrize("road", TAG_ROADS)
@pytest.mark.parametrize("setting", TAG_SETTINGS)
@pytest.mark.parametrize(("text", "where"), TAG_TEXTS)
def test_expanded_tags_that_reach_python_count_toward_the_byte_budget(text, where, setting, road,
                                                                      tmp_path):
    line, column = where
    got = refusal(tag_road_call(road, setting, text, str(tmp_path)))
    assert got == (OstrevaneParseError, f"{BOMB} at line {line}, column {column}", line, column)


@pytest.mark.parametrize("road", TAG_ROADS)
@pytest.mark.parametrize(("text", "where"), TAG_TEXTS)
def test_expanded_tags_that_are_dropped_cost_nothing(text, where, road, tmp_path):
    # Without tag callbacks or tag objects no expansion reaches Python.
    got = tag_road_call(road, {}, text, str(tmp_path))()
    if isinstance(got, list) and len(got) == 1:
        got = got[0]
    assert len(got) in (20_000, 20_001)
    assert len(o.loads(text, option=o.OPT_ROUND_TRIP)) in (20_000, 20_001)


def test_an_included_text_of_long_tags_is_refused_as_the_plain_road_refuses_it(tmp_path):
    text = TAG_TEXTS[0].values[0]
    included = tmp_path / "tags.yaml"
    included.write_text(text)
    with pytest.raises(OstrevaneParseError) as info:
        o.loads("x: !include tags.yaml\n", option=o.OPT_INCLUDES | o.OPT_PASSTHROUGH_TAG,
                include_dir=str(tmp_path))
    e = info.value
    assert (str(e), e.line, e.column, e.file) == (f"{BOMB} at line 3, column 6265", 3, 6265,
                                                  str(included))


@pytest.mark.parametrize("road", TAG_ROADS)
def test_expanded_tags_within_the_budget_load_and_write_on_every_road(road, tmp_path):
    # 100 uses of a 100 KB prefix, directly and through an alias: 20 MB.
    prefix = "tag:" + "p" * 100_000 + ":"
    text = (f"%TAG !a! {prefix}\n---\n[&t !a!x v, "
            + ", ".join(["!a!x v"] * 99 + ["*t"] * 100) + "]\n")
    got = tag_road_call(road, {"option": o.OPT_PASSTHROUGH_TAG}, text, str(tmp_path))()
    if road.endswith("_all"):
        (got,) = got
    assert [(t.tag, t.value) for t in got] == [(prefix + "x", "v")] * 200
    written = o.dumps(got, option=o.OPT_PASSTHROUGH_TAG)
    assert written == ("- !<" + prefix + "x> v\n").encode() * 200

"""The plain road of loads validates a schema on the decoded values when
they stand for the composed tree, and composes the text otherwise (a
failure found on the values takes its position from the composed text).
Both ways must give the same outcome: the verdict, the first failure, its
message, schema_path, line and column. So must the round-trip and annotated
roads, wherever they load the same values as the plain road.

The differential test runs every generated case on the plain road twice,
once forced to compose (a test hook) and once as loads runs, and then on the
round-trip and annotated roads. It is quick by default;
OSTREVANE_LONG_TESTS=1 runs it long (OSTREVANE_LONG_EXAMPLES examples per
property, 5000 unless set).
"""

import collections
import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _ostrevane
import ostrevane
from ostrevane.exceptions import OstrevaneSchemaError

hook = getattr(_ostrevane, "_schema_road_for_test", None)
pytestmark = pytest.mark.hooks

LONG = os.environ.get("OSTREVANE_LONG_TESTS") == "1"
EXAMPLES = int(os.environ.get("OSTREVANE_LONG_EXAMPLES", "5000")) if LONG else 150


def outcome(text, schema, option):
    try:
        return ("ok", repr(ostrevane.loads(text, schema=schema, option=option)))
    except OstrevaneSchemaError as e:
        return ("schema", str(e), e.schema_path, e.line, e.column)
    except Exception as e:  # noqa: BLE001 - any failure must match too
        return ("error", type(e).__name__, str(e))


def both_roads(text, schema, option=0):
    hook(True)
    try:
        composed = outcome(text, schema, option)
    finally:
        hook(False)
    return composed, outcome(text, schema, option)


def value_road_count():
    return hook(False)[0]


def located_count():
    """Failures on the values whose position was read from the tokens."""
    return hook(False)[1]


def plain_value(value):
    return value.to_dict() if hasattr(value, "to_dict") else value


def loaded(text, option):
    try:
        return ("ok", plain_value(ostrevane.loads(text, option=option)))
    except Exception as e:  # noqa: BLE001 - compared, not raised
        return ("error", type(e).__name__, str(e))


# Options the node roads take beside their own (OPT_PYYAML_COMPAT is the
# plain road's).
NODE_ROADS = [ostrevane.OPT_ROUND_TRIP, ostrevane.OPT_ANNOTATED]


def all_roads_agree(text, schema, option):
    """The plain road's two ways agree; the node roads agree with them on
    every text they load to the same value."""
    composed, decoded = both_roads(text, schema, option)
    assert decoded == composed
    if option & ostrevane.OPT_PYYAML_COMPAT:
        return
    base = loaded(text, option)
    if base[0] != "ok":
        return
    for road in NODE_ROADS:
        if loaded(text, option | road) != base:
            continue  # a value the roads read apart: not a validation matter
        assert verdict(outcome(text, schema, option | road)) == verdict(composed), road


def verdict(result):
    return result[:1] if result[0] == "ok" else result


# ---- generated documents: flow texts with the spellings where the decoded
# values and the composed tree differ, or could.

SCALARS = [
    "1", "0x1", "0o7", "1.0", "-0", "1e3", "12345678901234567890123", ".nan", ".inf",
    '"1"', "'a'", "a", "abc", "x-a", "ab", "äö", '"ä ö"', "true", "True", "yes", "no",
    "on", "null", "~", '""', "2024-01-31", "2001-12-14t21:59:43.10-05:00", "1:20",
    "!!str 1", '!!int "2"', "!!float 1", "!!bool yes", "!foo x", "!!binary aGk=",
    "<<", '"<<"', "*a", "&b 5", "&a 7", "!!null ''", "y",
    # %TAG handles (declared by some heads), verbatim tags, tagged empty nodes
    '!e!int "1"', "!e!str 1", "!e!float .inf", '!e!null ""', '!e!bool "true"', "!e!x a",
    '!int "3"', "!str 4", "!<tag:yaml.org,2002:str> 5", '!<tag:yaml.org,2002:int> "6"',
    "!<!foo> z", "!!str", "!!int", "!!null", "!e!str", "!foo",
]
KEYS = [
    "a", "b", "c", "x-a", "x-b", "1", "0x1", "1.0", '"1"', "true", "True", "null", "~",
    "<<", '"<<"', "!!merge <<", "!!merge x", "!!str <<", "!!str a", "!foo a",
    "2024-01-31", "abcd", "'a'", "*a", "[1, 2]", "{a: 1}", "yes",
    "!!str ", "!e!str ", "!!int ", "!foo ", "!e!str a", "!e!int 1", "!str b",
    "!<tag:yaml.org,2002:str> c", "!!str ''",
]


def flow(children):
    return st.one_of(
        st.lists(children, max_size=4).map(lambda xs: "[" + ", ".join(xs) + "]"),
        st.lists(st.tuples(st.sampled_from(KEYS), children), max_size=5).map(
            lambda ps: "{" + ", ".join(f"{k}: {v}" for k, v in ps) + "}"
        ),
        st.lists(children, min_size=1, max_size=3).map(
            lambda xs: "&a [" + ", ".join(xs) + "]"
        ),
        st.tuples(st.sampled_from(["!!set", "!!omap", "!!seq", "!!map", "!foo", "!!str"]),
                  st.lists(children, max_size=2)).map(
            lambda t: t[0] + " [" + ", ".join(t[1]) + "]"
        ),
        st.lists(st.tuples(st.sampled_from(KEYS), children), min_size=1, max_size=3).map(
            lambda ps: "&a {" + ", ".join(f"{k}: {v}" for k, v in ps) + "}"
        ),
    )


values = st.recursive(st.sampled_from(SCALARS), flow, max_leaves=12)

HEADS = ["", "%YAML 1.1\n---\n", "%YAML 1.2\n---\n", "--- !foo\n", "---\n", "--- !!set\n",
         "---\n...\n---\n", "# c\n",
         "%TAG !e! tag:yaml.org,2002:\n---\n", "%TAG ! tag:yaml.org,2002:\n---\n",
         "%TAG !e! tag:example.com,2000:\n---\n",
         "%TAG !e! tag:yaml.org,2002:\n%TAG ! !e!\n---\n",
         "%TAG !e! tag:yaml.org,2002:\n--- !e!map\n"]


@st.composite
def documents(draw):
    head = draw(st.sampled_from(HEADS))
    body = draw(values)
    if draw(st.booleans()):
        # An anchored mapping first, so that aliases and merges find it.
        body = "{base: &a {a: 1, b: x}, v: " + body + "}"
    tail = draw(st.sampled_from(["", "\n---\nb: 1", "\n--- 5", "\n...\n"]))
    return head + body + tail + "\n"


def block_text(data):
    return ostrevane.dumps(data).decode()


# ---- generated schemas

PATTERNS = ["^a", "b", "^x-", "\\d", "^\\w+$", "(", "ä", "^$", "[0-9]"]
NAMES = ["a", "b", "c", "x-a", "1", "<<", "base", "v", "true"]
CONSTS = [0, 1, 1.0, 7, "a", "1", "x", True, None, [], {}, {"a": 1}, {"a": 1, "b": "x"}, [1, 2]]

leaf_schemas = st.one_of(
    st.booleans(),
    st.fixed_dictionaries({}, optional={
        "type": st.one_of(
            st.sampled_from(["null", "boolean", "integer", "number", "string", "array",
                             "object"]),
            st.lists(st.sampled_from(["null", "integer", "string", "object"]), max_size=2),
        ),
        "enum": st.lists(st.sampled_from(CONSTS), max_size=3),
        "const": st.sampled_from(CONSTS),
        "minimum": st.sampled_from([0, 1, 1.5, 5]),
        "maximum": st.sampled_from([0, 1, 6]),
        "exclusiveMinimum": st.sampled_from([0, 1]),
        "multipleOf": st.sampled_from([2, 0.5, 3]),
        "minLength": st.sampled_from([1, 2, 3]),
        "maxLength": st.sampled_from([1, 2, 4]),
        "pattern": st.sampled_from(PATTERNS),
        "required": st.lists(st.sampled_from(NAMES), max_size=3),
        "minProperties": st.sampled_from([1, 2, 3]),
        "maxProperties": st.sampled_from([1, 2]),
        "minItems": st.sampled_from([1, 2]),
        "maxItems": st.sampled_from([1, 3]),
        "uniqueItems": st.just(True),
        "$ref": st.sampled_from(["#", "#/definitions/s", "#/nowhere"]),
    }),
)


def compound(children):
    return st.fixed_dictionaries({}, optional={
        "properties": st.dictionaries(st.sampled_from(NAMES), children, max_size=3),
        "patternProperties": st.dictionaries(st.sampled_from(PATTERNS), children, max_size=2),
        "additionalProperties": children,
        "propertyNames": children,
        "dependencies": st.dictionaries(
            st.sampled_from(NAMES),
            st.one_of(st.lists(st.sampled_from(NAMES), max_size=2), children), max_size=2),
        "items": st.one_of(children, st.lists(children, max_size=2)),
        "additionalItems": children,
        "contains": children,
        "allOf": st.lists(children, max_size=2),
        "anyOf": st.lists(children, max_size=2),
        "oneOf": st.lists(children, max_size=2),
        "not": children,
        "type": st.sampled_from(["object", "array", "string"]),
    })


schemas = st.recursive(leaf_schemas, compound, max_leaves=8)


@st.composite
def rooted_schemas(draw):
    schema = draw(schemas)
    if isinstance(schema, dict) and draw(st.booleans()):
        schema = dict(schema, definitions={"s": draw(leaf_schemas)})
    return schema


OPTIONS = [0, ostrevane.OPT_YAML_1_1, ostrevane.OPT_PYYAML_COMPAT, ostrevane.OPT_TIMESTAMPS,
           ostrevane.OPT_DUPLICATE_KEYS_WARN]


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])
@given(text=documents(), schema=rooted_schemas(), option=st.sampled_from(OPTIONS))
def test_all_roads_agree_on_flow_texts(text, schema, option):
    all_roads_agree(text, schema, option)


plain_data = st.recursive(
    st.one_of(st.none(), st.booleans(), st.integers(-3, 9), st.sampled_from([0.5, 1.0, -0.0]),
              st.sampled_from(["a", "ab", "x-a", "1", "abcd", "ä", "", "yes", "<<"])),
    lambda children: st.one_of(
        st.lists(children, max_size=4),
        st.dictionaries(st.sampled_from(NAMES + ["abcd", "x-b"]), children, max_size=4),
    ),
    max_leaves=16,
)


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow])
@given(data=plain_data, schema=rooted_schemas(), option=st.sampled_from(OPTIONS))
def test_all_roads_agree_on_block_texts(data, schema, option):
    # Block texts of plain data: the case the decoded values are read for.
    all_roads_agree(block_text(data), schema, option)


# ---- fixed cases

CONFIG = """\
version: "1.4"
services:
  web: {image: "nginx:1.25", port: 8080}
users:
  - name: alice
    email: alice@example.com
  - name: bob
    email: bob@example.com
"""
CONFIG_SCHEMA = {
    "type": "object",
    "properties": {
        "version": {"type": "string", "pattern": "^\\d+\\.\\d+$"},
        "services": {"additionalProperties": {"properties": {"port": {"type": "integer"}}}},
        "users": {"items": {"properties": {"email": {"pattern": "^[^@]+@[^@]+$"},
                                           "name": {"maxLength": 4}}}},
    },
}


@pytest.mark.parametrize("text, reads_values", [
    (CONFIG, True),
    ("a: &x 1\nb: *x\n", False),          # an alias: the expansion limits differ
    ("<<: {a: 1}\nb: 2\n", False),         # a merge key
    ("a: 1\na: 2\n", False),               # a repeated key
    ("1: a\n", False),                     # a key that is not a text
    ("a: !foo x\n", False),                # a custom tag
    ("a: !!str x\n", False),               # a standard tag the decoder drops
    ("? !!str\n: 1\n", False),             # a tagged empty key
    ('%TAG !e! tag:yaml.org,2002:\n--- {a: !e!int "1"}\n', False),
])
def test_decoded_values_read_only_where_they_stand_for_the_tree(text, reads_values):
    before = value_road_count()
    ostrevane.loads(text, schema={"type": "object"})
    assert (value_road_count() > before) == reads_values


def test_a_failure_found_on_the_values_is_reported_with_its_position():
    text = CONFIG.replace("name: alice", "name: alice2")
    composed, decoded = both_roads(text, CONFIG_SCHEMA)
    assert decoded == composed
    assert decoded[1:] == (
        "schema validation failed: string is longer than maxLength 4 at $.users[0].name "
        "(line 5, column 11)", "$.users[0].name", 5, 11)


def test_a_schema_changed_in_place_is_read_again():
    schema = {"type": "object", "properties": {"a": {"maximum": 5}}}
    assert ostrevane.loads("a: 3\n", schema=schema) == {"a": 3}
    schema["properties"]["a"]["maximum"] = 2
    with pytest.raises(OstrevaneSchemaError, match="greater than maximum 2"):
        ostrevane.loads("a: 3\n", schema=schema)
    schema["properties"]["a"] = {"type": "string"}
    with pytest.raises(OstrevaneSchemaError, match="expected type string"):
        ostrevane.loads("a: 3\n", schema=schema)
    del schema["properties"]
    assert ostrevane.loads("a: 3\n", schema=schema) == {"a": 3}


@pytest.mark.parametrize("make", [dict, collections.OrderedDict])
def test_a_required_list_changed_in_place_is_read_again(make):
    # Lists carry no version: the kept conversion is compared item by item.
    schema = make(required=["a"])
    assert ostrevane.loads("a: 1\n", schema=schema) == {"a": 1}
    schema["required"].append("b")
    with pytest.raises(OstrevaneSchemaError, match="missing required property 'b'"):
        ostrevane.loads("a: 1\n", schema=schema)
    schema["required"][1] = "a"
    assert ostrevane.loads("a: 1\n", schema=schema) == {"a": 1}


def test_an_invalid_pattern_reports_the_same_failure_every_call():
    schema = {"properties": {"a": {"pattern": "("}}}
    messages = set()
    for _ in range(3):
        with pytest.raises(OstrevaneSchemaError) as e:
            ostrevane.loads("a: x\n", schema=schema)
        messages.add(str(e.value))
    assert messages == {
        "schema validation failed: schema has an invalid regex pattern /(/ at $.a "
        "(line 1, column 4)"}


def test_many_patterns_stay_right_past_the_pattern_cache():
    # More distinct patterns than the process-wide cache keeps.
    for i in range(300):
        schema = {"pattern": f"^v{i}$"}
        assert ostrevane.loads(f"v{i}\n", schema=schema) == f"v{i}"
        with pytest.raises(OstrevaneSchemaError, match=f"pattern /\\^v{i}\\$/"):
            ostrevane.loads(f"w{i}\n", schema=schema)


# ---- merge keys tagged !!merge: validation merges where loads merges.

MERGE_TAGGED = "{!!merge x: {a: 1}}"


@pytest.mark.parametrize("text, option, merged", [
    (MERGE_TAGGED, 0, False),
    (MERGE_TAGGED, ostrevane.OPT_YAML_1_1, True),
    ("%YAML 1.1\n---\n" + MERGE_TAGGED, 0, True),
    (MERGE_TAGGED, ostrevane.OPT_ANNOTATED, True),
    ("{!!merge <<: {a: 1}}", 0, False),
    ("{<<: {a: 1}}", 0, True),
])
def test_merge_tag_merges_in_validation_where_loads_merges(text, option, merged):
    # Under YAML 1.2 the plain road used to merge the tagged key in
    # validation only, so the schema checked a document loads did not return.
    loaded = ostrevane.loads(text, option=option)
    assert ("a" in loaded) == merged
    assert ostrevane.loads(text, option=option, schema={"const": dict(loaded)}) == loaded
    with pytest.raises(OstrevaneSchemaError, match="required const"):
        ostrevane.loads(text, option=option, schema={"const": {"other": 1}})


# ---- budgets: the plain road validates once, on the values when they stand
# for the tree, and reports a limit where the composed tree would.

def doubling(levels, leaf):
    defs = {f"d{i}": {"allOf": [{"$ref": f"#/definitions/d{i + 1}"}] * 2}
            for i in range(levels)}
    defs[f"d{levels}"] = leaf
    return {"$ref": "#/definitions/d0", "definitions": defs}


@pytest.mark.parametrize("text, schema, message", [
    ("[" + ", ".join(["1"] * 1000) + "]", doubling(40, {"items": {"type": "integer"}}),
     "schema validation work budget exhausted"),
    ("[" + ", ".join(["1"] * 1000) + "]", doubling(40, {}),
     "schema $ref resolution budget exhausted"),
    ("{a: [1, {b: x}]}", {"properties": {"a": {"items": {"anyOf": [{"$ref": "#/d"}]}}},
                          "d": {"$ref": "#/d"}},
     "schema $ref nesting too deep"),
    ("{a: x, b: {c: y}}", {"propertyNames": {"maxLength": 0}}, "string is longer than"),
])
def test_a_limit_on_the_values_is_reported_as_on_the_tree(text, schema, message):
    # The plain road spent every budget twice: once on the values, then
    # again on the composed tree to find the failure's position.
    before = value_road_count()
    composed, decoded = both_roads(text, schema)
    assert value_road_count() > before
    assert decoded == composed
    assert message in decoded[1]


# ---- a failure's position read from the tokens: the plain road reads the
# failing node's start from the tokens up to it, without composing, and must
# give what the composed tree gives (node_at on its first root); where the
# tokens cannot tell, it composes.

def location_roads(text, schema):
    """Both roads' outcomes, and whether the plain road read the position
    from the tokens."""
    before = located_count()
    composed, decoded = both_roads(text, schema)
    return composed, decoded, located_count() > before


INT_ITEMS = {"items": {"type": "integer"}}
INT_MEMBERS = {"additionalProperties": {"type": "integer"}}
STRING_A = {"properties": {"a": {"type": "string"}}}


@pytest.mark.parametrize("text, schema, path, line, column, located", [
    # anchors without aliases: the node starts after its anchor
    ("a: &x 1\nb: &y [1, x]\n", {"properties": {"b": INT_ITEMS}}, "$.b[1]", 2, 11, True),
    ("a: &x\n  b: 1\n  c: x\n", {"properties": {"a": INT_MEMBERS}}, "$.a.c", 3, 6, True),
    ("a: &x\n  b: 1\n", {"properties": {"a": {"type": "array"}}}, "$.a", 2, 3, True),
    # an anchor with no node stands at the token after it
    ("a: &x\nb: 1\n", STRING_A, "$.a", 2, 1, True),
    # an empty value stands at no position (line 1, column 1)
    ("b: 1\na:\n", STRING_A, "$.a", 1, 1, True),
    ("? b\n? a\n", STRING_A, "$.a", 1, 1, True),
    ("{b: 1, a: }", STRING_A, "$.a", 1, 1, True),
    # an empty block item stands at its dash
    ("- 1\n-\n- 2\n", INT_ITEMS, "$[1]", 2, 1, True),
    ("k:\n- 1\n-\n", {"properties": {"k": INT_ITEMS}}, "$.k[1]", 3, 1, True),
    # explicit keys, flow in block, nested sequences of sequences
    ("? a\n: 1\n? b\n: x\n", INT_MEMBERS, "$.b", 4, 3, True),
    ("a: {b: [1, 2, x]}\n", {"properties": {"a": {"properties": {"b": INT_ITEMS}}}},
     "$.a.b[2]", 1, 15, True),
    ("- - - 1\n    - x\n", {"items": {"items": INT_ITEMS}}, "$[0][0][1]", 2, 7, True),
    ("- a: 1\n  b: x\n", {"items": INT_MEMBERS}, "$[0].b", 2, 6, True),
    ("a:\n- 1\n- x\n", {"properties": {"a": INT_ITEMS}}, "$.a[1]", 3, 3, True),
    ("a: |\n  x\n  y\nb: [1, x]\n", {"properties": {"b": INT_ITEMS}}, "$.b[1]", 4, 8, True),
    # a key, through propertyNames
    ("ab: 1\nxyz: 2\n", {"propertyNames": {"maxLength": 2}}, "$.xyz", 2, 1, True),
    # at the root, at the last item
    ("a: 1\n", {"type": "array"}, "$", 1, 1, True),
    ("# c\n\n  [1, 2, 3, x]\n", INT_ITEMS, "$[3]", 3, 13, True),
    ("[1, 2, ]", {"maxItems": 1}, "$", 1, 1, True),
    # deep nesting (frames past the first few), and past many batches of tokens
    ("[" * 300 + "x" + "]" * 300, {"type": ["array", "integer"], "items": {"$ref": "#"}},
     "$" + "[0]" * 300, 1, 301, True),
    ("- [" + ", ".join(["[1]"] * 20000) + "]\n- [1, 2, x]\n", {"items": {"items": {"type": ["array", "integer"]}}},
     "$[1][2]", 2, 10, True),
    # several documents: the first is validated, the others never read
    ("a: x\n---\na: 1\n", {"properties": {"a": {"type": "integer"}}}, "$.a", 1, 4, True),
    ("%YAML 1.2\n---\n- x\n...\n--- [1, x]\n", INT_ITEMS, "$[0]", 3, 3, True),
    ("---\n---\na: 1\n", {"type": "object"}, "$", 1, 1, True),
    # CRLF, a byte-order mark (columns count after it), wide characters
    ("a: 1\r\nb:\r\n  - 1\r\n  - x\r\n", {"properties": {"b": INT_ITEMS}}, "$.b[1]", 4, 5,
     True),
    ("\ufeffa: x\n", {"properties": {"a": {"type": "integer"}}}, "$.a", 1, 4, True),
    (b"\xef\xbb\xbf- 1\n- x\n", INT_ITEMS, "$[1]", 2, 3, True),
    ("äö: [1, x]\n", {"properties": {"äö": INT_ITEMS}}, "$.äö[1]", 1, 9, True),
    # left to the composed text: a pair written in a flow sequence, and
    # texts whose values do not stand for the tree
    ("[a: 1, b: x]", {"items": INT_MEMBERS}, "$[1].b", 1, 11, False),
    ("a: 1\na: x\n", {"properties": {"a": {"type": "integer"}}}, "$.a", 2, 4, False),
    ("a: !!str 1\n", {"properties": {"a": {"type": "integer"}}}, "$.a", 1, 10, False),
])
def test_a_failure_is_placed_from_the_tokens_as_on_the_composed_tree(text, schema, path, line,
                                                                     column, located):
    composed, decoded, read_tokens = location_roads(text, schema)
    assert decoded == composed
    assert decoded[0] == "schema"
    assert decoded[2:] == (path, line, column)
    assert read_tokens == located


# Block and flow texts in every spelling the walk reads: anchors, explicit
# keys, empty values and items, compact and indentless sequences, flow
# collections inside block ones, quoted keys (repeats too), several
# documents, CRLF and a byte-order mark.
LOC_KEYS = ["a", "b", "ab", "x-a", '"a"', "'c'", "ä"]
LOC_SCALARS = ["1", "x", "ab", "''", '"q"', "true", "null", "2.5", "", "|\n  lit"]

loc_trees = st.recursive(
    st.sampled_from(LOC_SCALARS),
    lambda children: st.one_of(
        st.lists(children, max_size=3).map(lambda xs: ("seq", xs)),
        st.lists(st.tuples(st.sampled_from(LOC_KEYS), children), max_size=3).map(
            lambda ps: ("map", ps)),
    ),
    max_leaves=10,
)


def loc_flow(draw, node, in_map_value=False, anchored=False):
    anchor = "" if anchored else draw(st.sampled_from(["", "", "&a "]))
    if isinstance(node, str):
        if node.startswith("|"):
            node = "lit"
        if node == "" and not in_map_value:
            node = "~"
        return (anchor + node).rstrip() if node == "" else anchor + node
    kind, children = node
    if kind == "seq":
        return anchor + "[" + ", ".join(loc_flow(draw, c) for c in children) + "]"
    return anchor + "{" + ", ".join(
        f"{k}: {loc_flow(draw, v, True)}" for k, v in children) + "}"


def loc_block(draw, node, indent):
    """The lines of a non-empty block collection at `indent`."""
    pad = " " * indent
    kind, children = node
    lines = []
    for child in children:
        if kind == "seq":
            lines += loc_after(draw, pad + "-", child, indent, compact=True)
        elif draw(st.integers(0, 4)) == 0:
            lines.append(pad + "? " + child[0])
            lines += loc_after(draw, pad + ":", child[1], indent)
        else:
            lines += loc_after(draw, pad + child[0] + ":", child[1], indent, indentless=True)
    return lines


def loc_after(draw, head, node, indent, compact=False, indentless=False):
    """The lines of `node` after an indicator ("-", "key:", ":") at `indent`."""
    anchor = draw(st.sampled_from(["", "", "", "&a", "&b"]))
    if isinstance(node, str):
        if node.startswith("|"):
            return [f"{head} {anchor} {node[:1]}".replace("  ", " "),
                    " " * (indent + 2) + node.split("\n  ")[1]]
        return [" ".join(p for p in (head, anchor, node) if p)]
    if not node[1] or draw(st.booleans()):
        return [" ".join(p for p in (head, anchor, loc_flow(draw, node, anchored=bool(anchor)))
                         if p)]
    if indentless and node[0] == "seq" and draw(st.booleans()):
        return [" ".join(p for p in (head, anchor) if p)] + loc_block(draw, node, indent)
    if compact and not anchor and draw(st.booleans()):
        lines = loc_block(draw, node, indent + 2)
        return [head + " " + lines[0][indent + 2:]] + lines[1:]
    return [" ".join(p for p in (head, anchor) if p)] + loc_block(draw, node, indent + 2)


@st.composite
def located_texts(draw):
    tree = draw(loc_trees)
    block = not isinstance(tree, str) and tree[1] and draw(st.integers(0, 3)) != 0
    body = "\n".join(loc_block(draw, tree, 0)) if block else loc_flow(draw, tree) or "~"
    head = draw(st.sampled_from(["", "---\n", "%YAML 1.2\n---\n", "# c\n\n", "--- "]))
    if head == "--- " and (block or "\n" in body):
        head = "---\n"
    tail = draw(st.sampled_from(["", "\n---\nb: 1", "\n...\n", "\n--- [1, x]"]))
    text = head + body + tail + "\n"
    if draw(st.booleans()):
        text = text.replace("\n", "\r\n")
    if draw(st.booleans()):
        return b"\xef\xbb\xbf" + text.encode()
    return text


located_schemas = st.fixed_dictionaries(
    {"type": st.lists(st.sampled_from(["object", "array", "string", "integer", "null",
                                       "boolean", "number"]), min_size=2, max_size=6,
                      unique=True)},
    optional={
        "propertyNames": st.sampled_from([{"maxLength": 1}, {"pattern": "^[ab]"}, False]),
        "maxItems": st.sampled_from([1, 2]),
        "maxProperties": st.sampled_from([1, 2]),
        "uniqueItems": st.just(True),
        "maxLength": st.sampled_from([1, 2]),
        "required": st.lists(st.sampled_from(["a", "b", "c"]), max_size=2),
    },
).map(lambda s: dict(s, items={"$ref": "#"}, additionalProperties={"$ref": "#"}))


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow])
@given(text=located_texts(), schema=located_schemas)
def test_a_failure_placed_from_the_tokens_is_where_the_composed_tree_places_it(text, schema):
    composed, decoded = both_roads(text, schema)
    assert decoded == composed

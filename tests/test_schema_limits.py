"""Schema validation gives one verdict on every road, and its cost stays
bounded for any schema: tags the plain decoder resolves, patterns too large
to compile, $ref fan-out, equality classes that used to share one hash
bucket, and limits met inside combinators."""
import json

import pytest
from hypothesis import HealthCheck, assume, given, settings, strategies as st

import ostrevane as o
from ostrevane import loads
from ostrevane.exceptions import OstrevaneSchemaError

ROADS = {"plain": 0, "round_trip": o.OPT_ROUND_TRIP, "annotated": o.OPT_ANNOTATED,
         "node": o.OPT_ENV_VAR}


@pytest.fixture(params=sorted(ROADS))
def road(request):
    return ROADS[request.param]


def outcome(text, schema, option):
    try:
        loads(text, schema=schema, option=option)
        return "ok"
    except OstrevaneSchemaError as e:
        return str(e), e.schema_path, e.line, e.column


def failure(text, schema, option=0):
    with pytest.raises(OstrevaneSchemaError) as info:
        loads(text, schema=schema, option=option)
    e = info.value
    return str(e), e.schema_path, e.line, e.column


def expect(message, path="$", line=1, column=1):
    return (f"schema validation failed: {message} at {path} (line {line}, column {column})",
            path, line, column)


# ---------------------------------------------------------------------------
# Tags: the plain road reads its decoded values only where they read as the
# composed tree does; any tag in the text makes it compose.

def reads_tag_handles():
    text = '%TAG !e! tag:yaml.org,2002:\n--- !e!int "1"\n'
    return loads(text, option=o.OPT_ROUND_TRIP).to_dict() == 1


needs_tag_handles = pytest.mark.skipif(
    not reads_tag_handles(),
    reason="the composed roads do not read %TAG handles yet (the composer's %TAG reading)")

TAGGED = [
    pytest.param('%TAG !e! tag:yaml.org,2002:\n--- !e!int "1"\n', {"type": "integer"}, "ok",
                 marks=needs_tag_handles),
    pytest.param('%TAG !e! tag:yaml.org,2002:\n--- !e!float .inf\n', {"type": "number"}, "ok",
                 marks=needs_tag_handles),
    pytest.param('%TAG !e! tag:yaml.org,2002:\n--- !e!null ""\n', {"type": "null"}, "ok",
                 marks=needs_tag_handles),
    pytest.param('%TAG ! tag:yaml.org,2002:\n--- !int "1"\n', {"type": "integer"}, "ok",
                 marks=needs_tag_handles),
    pytest.param('%TAG !e! tag:yaml.org,2002:\n--- !e!bool "true"\n', {"type": "boolean"}, "ok",
                 marks=needs_tag_handles),
    pytest.param("%TAG !e! tag:yaml.org,2002:\n--- !e!str 1\n", {"type": "integer"},
                 "expected type integer, found string", marks=needs_tag_handles),
    pytest.param("%TAG !e! tag:yaml.org,2002:\n---\n? !e!str\n: 1\n", {"required": [""]},
                 "ok", marks=needs_tag_handles),
    # A tagged empty key is the empty text loads returns.
    ("? !!str\n: 1\n", {"required": [""]}, "ok"),
    ("{!!str : 1}\n", {"properties": {"": {"const": 1}}, "additionalProperties": False}, "ok"),
    ("{!!str : 1}\n", {"propertyNames": {"maxLength": 0}}, "ok"),
    ("? !!str\n: 1\n", {"required": ["a"]}, "missing required property 'a'"),
    # Standard and verbatim tags typing quoted text.
    ('--- !!int "1"\n', {"type": "integer"}, "ok"),
    # A verbatim tag is kept as written: loads returns the text, a string.
    ('--- !<tag:yaml.org,2002:int> "1"\n', {"type": "string"}, "ok"),
    ("--- !<tag:yaml.org,2002:str> 1\n", {"type": "integer"},
     "expected type integer, found string"),
    ("a: !!float 1\n", {"properties": {"a": {"type": "integer"}}}, "ok"),
    ("a: !!str 1\n", {"properties": {"a": {"type": "integer"}}},
     "expected type integer, found string"),
]


def verdict(text, schema, option):
    got = outcome(text, schema, option)
    return got if got == "ok" else got[0]


@pytest.mark.parametrize("text,schema,expected", TAGGED)
def test_tagged_texts_give_one_verdict_on_every_road(text, schema, expected):
    # The plain road used to accept what the others rejected: the decoder
    # resolves standard tags and drops them, so its values looked untagged.
    got = {name: outcome(text, schema, option) for name, option in ROADS.items()}
    assert len(set(got.values())) == 1, got
    first = verdict(text, schema, 0)
    assert first == expected or expected in first


# ---------------------------------------------------------------------------
# Patterns too large to compile: refused under the pattern memory limit, at
# the time and place an invalid pattern is reported.

TOO_LARGE = ("is too large to compile (pattern size limit: 100000 units read, "
             "8 MiB compiled)")


@pytest.mark.parametrize("text,schema,pointer,path,column", [
    ("x\n", {"pattern": "\\w" * 20000}, "#/pattern", "$", 1),
    ("x\n", {"pattern": "\\w" * 100000}, "#/pattern", "$", 1),
    ("a: x\n", {"properties": {"a": {"pattern": "\\p{L}" * 20000}}},
     "#/properties/a/pattern", "$.a", 4),
    ("x\n", {"pattern": "\\w{1000}"}, "#/pattern", "$", 1),
    ("a: 1\n", {"patternProperties": {"\\p{Lu}" * 10000 + "/~": {}}},
     "#/patternProperties/" + "\\p{Lu}" * 33 + "\\p..." , "$", 1),
])
def test_a_pattern_too_large_to_compile_is_refused(road, text, schema, pointer, path, column):
    # "\\w" * 20000 took seconds and hundreds of megabytes to compile, and
    # a pattern RE2 refused as too large was reported as invalid.
    assert failure(text, schema, road) == expect(f"schema pattern at {pointer} {TOO_LARGE}",
                                                 path, 1, column)


@pytest.mark.parametrize("text", ["1\n", "[1, 2]\n", "{}\n"])
def test_a_pattern_too_large_is_not_reported_without_a_string(road, text):
    loads(text, schema={"pattern": "\\w" * 20000}, option=road)


def test_patterns_within_the_limit_still_compile(road):
    loads("x" * 50 + "\n", schema={"pattern": "^\\w{1,64}$"}, option=road)
    assert failure("x-\n", {"pattern": "^\\w{1,64}$"}, road) == expect(
        "string does not match pattern /^\\w{1,64}$/")


# ---------------------------------------------------------------------------
# Budgets: $ref fan-out, and the work of one validation.

FAN_OUT = {"items": {"type": "integer"}, "anyOf": [{"$ref": "#"}, {"$ref": "#"}]}


@pytest.mark.parametrize("n", [1000, 10000])
def test_ref_fan_out_ends_at_the_depth_limit(road, n):
    # Each of the 100,000 resolutions validated the whole array again (5 s
    # and 85 s), and a branch that met the limit was read as a mismatch.
    assert failure(json.dumps([1] * n), FAN_OUT, road) == expect(
        "schema $ref nesting too deep (cyclic reference?)")


def doubling(levels, leaf):
    """A schema whose every level refers twice to the next one."""
    defs = {f"d{i}": {"allOf": [{"$ref": f"#/definitions/d{i + 1}"}] * 2}
            for i in range(levels)}
    defs[f"d{levels}"] = leaf
    return {"$ref": "#/definitions/d0", "definitions": defs}


def test_work_budget_ends_a_validation_that_repeats_the_document(road):
    # 2 ** 40 paths to a leaf that checks every item: the work budget (ten
    # million units, then 32 for each of the document's 1,001 nodes) ends it.
    schema = doubling(40, {"items": {"type": "integer"}})
    assert failure(json.dumps([1] * 1000), schema, road) == expect(
        "schema validation work budget exhausted (10032032 units of work for this document)")


def test_resolution_budget_ends_a_validation(road):
    # 100,000 resolutions, then 8 more for each of the document's nodes.
    assert failure(json.dumps([1] * 1000), doubling(40, {}), road) == expect(
        "schema $ref resolution budget exhausted (108008 resolutions for this document)")


@pytest.mark.parametrize("wrap", [
    lambda s: {"anyOf": [s]},
    lambda s: {"anyOf": [s, {"type": "array"}]},
    lambda s: {"oneOf": [s, {}]},
    lambda s: {"not": s},
    lambda s: {"contains": s},
    lambda s: {"allOf": [{"not": {"not": s}}]},
])
def test_a_limit_met_inside_a_combinator_ends_the_validation(road, wrap):
    # The limit used to fail only the branch: "does not match any of the
    # anyOf schemas", or a `not` that passed.
    schema = wrap({"$ref": "#/definitions/loop"})
    schema["definitions"] = {"loop": {"$ref": "#/definitions/loop"}}
    expected_path, column = ("$[0]", 2) if "contains" in schema else ("$", 1)
    assert failure("[1]\n", schema, road) == expect(
        "schema $ref nesting too deep (cyclic reference?)", expected_path, 1, column)


REC = {"anyOf": [{"type": "object", "additionalProperties": {"$ref": "#"}},
                 {"type": "array", "items": {"$ref": "#"}},
                 {"type": ["string", "number", "boolean", "null"]}]}


@pytest.mark.parametrize("schema", [
    REC,
    {"$ref": "#/definitions/rec", "definitions": {"rec": json.loads(
        json.dumps(REC).replace('"#"', '"#/definitions/rec"'))}},
])
def test_a_flat_list_longer_than_the_fixed_budgets_validates(road, schema):
    # 100,010 items spent the 100,000 resolutions: "value does not match any
    # of the anyOf schemas at $", or with a bare $ref "schema $ref nesting
    # too deep" at $[99999] of a flat list.
    text = json.dumps(["s"] * 100_010)
    assert len(loads(text, schema=schema, option=road)) == 100_010


def alias_chain(n):
    lines = ["a0: &a0 x"] + [f"a{i}: &a{i} [*a{i - 1}]" for i in range(1, n)]
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("schema", [
    {"anyOf": [{"const": {}}, {"type": "object"}]},
    {"not": {"enum": [1]}},
])
def test_alias_limit_inside_a_combinator_is_reported(road, schema):
    # A 102-hop alias chain was read as a mismatch of the branch.
    assert failure(alias_chain(103), schema, road) == expect(
        "value could not be validated (alias expansion limit reached)")


# ---------------------------------------------------------------------------
# Equality classes hash apart.

def test_unique_items_of_nan_are_all_distinct(road):
    # Every NaN shared one hash bucket: 100,000 of them took 23 s.
    loads("[" + ", ".join([".nan"] * 20000) + "]", schema={"uniqueItems": True}, option=road)
    loads("[[.nan], [.nan], {a: .nan}, {a: .nan}]", schema={"uniqueItems": True}, option=road)


def test_unique_items_of_big_integers_compare_by_value(road):
    # Every integer beyond the float range shared one hash bucket.
    big = [str(10**399 + i) for i in range(3000)]
    loads("[" + ", ".join(big) + "]", schema={"uniqueItems": True}, option=road)
    same = f"[{10**400}, {hex(10**400)}, 1]"
    assert failure(same, {"uniqueItems": True}, road) == expect("array items are not unique")
    loads(f"[{10**400}, {-10**400}, {hex(10**400 + 1)}]", schema={"uniqueItems": True},
          option=road)


def test_large_mappings_compare_independent_of_key_order(road):
    # An enum of one object of 60,000 keys, compared in another key order,
    # compared every pair with every pair (12.8 s).
    obj = {f"k{i}": i for i in range(20000)}
    text = json.dumps(dict(reversed(list(obj.items()))))
    loads(text, schema={"enum": [obj]}, option=road)
    loads(text, schema={"const": {**obj, "k5": 5.0}}, option=road)
    assert failure(text, {"const": {**obj, "k5": 6}}, road) == expect(
        "value does not equal the required const")
    assert failure(json.dumps([obj, dict(reversed(list(obj.items())))]), {"uniqueItems": True},
                   road) == expect("array items are not unique")


# ---------------------------------------------------------------------------
# Schemas built in Python: an object used in several places is converted
# once; nesting is counted at each place, and an object inside itself is
# refused by place.

def nest(levels, leaf, wrap):
    for _ in range(levels):
        leaf = wrap(leaf)
    return leaf


def shared_one_of(levels):
    """`levels` dicts, each using the one below three times: 3 ** levels paths."""
    return nest(levels, {"type": "integer"}, lambda s: {"oneOf": [s, {"not": s}, s]})


def unplaced(message):
    """A schema refused before any document is read: no instance path or position."""
    return message, None, None, None


EXPANDS = unplaced("schema expands to more than 10000000 nodes (a part used in several places "
                   "counts at each)")


@pytest.mark.parametrize("schema,text,expected", [
    pytest.param(lambda: shared_one_of(12), "1", "ok", id="12-levels"),
    pytest.param(lambda: shared_one_of(13), "1",
                 expect("value matches 2 of the oneOf schemas (exactly one required)"),
                 id="13-levels"),
    pytest.param(lambda: {"items": shared_one_of(13)}, "[1, 1, 1, 1]",
                 expect("schema validation work budget exhausted (10000160 units of work for "
                        "this document)", "$[3]", 1, 11), id="13-levels-4-items"),
    pytest.param(lambda: shared_one_of(14), "1", EXPANDS, id="14-levels"),
    pytest.param(lambda: shared_one_of(30), "1", EXPANDS, id="30-levels"),
    pytest.param(lambda: nest(40, {}, lambda s: {"anyOf": (s, s)}), "1", EXPANDS,
                 id="tuples-40-levels"),
])
def test_a_schema_of_shared_objects_is_converted_once(road, schema, text, expected):
    # The 30 levels (91 dicts) were copied along each of their 3 ** 30
    # paths: MemoryError after 10-16 s at 2.85 GB, once an abort. Below the
    # node budget validation runs, its work bounded as for any schema.
    assert outcome(text, schema(), road) == expected


def allof_chain(levels, leaf):
    return nest(levels, leaf, lambda s: {"allOf": [s]})


DEEPER = "schema exceeds the maximum nesting depth (1000) at #/allOf/1"


@pytest.mark.parametrize("levels,expected", [
    pytest.param(395, expect("value must not match the 'not' schema"), id="395"),
    pytest.param(396, "ok", id="396"),
    # The leaf's value is the first place at depth 1000.
    pytest.param(397, unplaced(DEEPER + "/not" * 997 + "/type"), id="397"),
    pytest.param(900, unplaced(DEEPER + "/not" * 998), id="900"),
])
def test_a_shared_object_nests_as_deep_as_each_of_its_places(road, levels, expected):
    # Six hundred levels converted near the top, used again `levels` deeper:
    # the verdict and the place named are those of the same schema built
    # from copies.
    def part():
        return nest(600, {"type": "integer"}, lambda s: {"not": s})

    def around(first, second):
        return {"allOf": [first, nest(levels, second, lambda s: {"not": s})]}

    shared = part()
    assert outcome("1", around(shared, shared), road) == expected
    assert outcome("1", around(part(), part()), road) == expected


@pytest.mark.parametrize("wrap,pointer", [
    pytest.param(lambda s: {"not": s}, "/not" * 1000, id="not"),
    pytest.param(lambda s: {"allOf": [s]}, "/allOf/0" * 500, id="allOf"),
    pytest.param(lambda s: {"items": s}, "/items" * 1000, id="items"),
    pytest.param(lambda s: {"properties": {"a/b~": s}}, "/properties/a~1b~0" * 500,
                 id="properties"),
])
def test_a_schema_nested_past_the_limit_is_a_schema_error(road, wrap, pointer):
    # Was OstrevaneEncodeError "object is too deeply nested to serialize
    # (possible self-reference)", a writer's error for a schema.
    schema = nest(5000, {}, wrap)
    assert outcome("1", schema, road) == unplaced(
        "schema exceeds the maximum nesting depth (1000) at #" + pointer)


def self_dict():
    d = {"type": "object"}
    d["not"] = d
    return d


def self_list():
    items = [{"type": "integer"}]
    items.append(items)
    return {"anyOf": items}


def self_through_properties():
    node = {"type": "object", "properties": {}}
    node["properties"]["child"] = {"items": node}
    return {"definitions": {"node": node}, "$ref": "#/definitions/node"}


@pytest.mark.parametrize("schema,outer,again", [
    (self_dict, "#", "#/not"),
    (self_list, "#/anyOf", "#/anyOf/1"),
    (self_through_properties, "#/definitions/node", "#/definitions/node/properties/child/items"),
])
def test_a_schema_that_contains_itself_is_refused(road, schema, outer, again):
    # Was the writer's "too deeply nested" error after a thousand levels.
    assert outcome("1", schema(), road) == unplaced(
        f"schema contains itself: the object at {outer} appears again at {again} "
        '(a recursive schema refers to itself with "$ref")')


def test_a_kept_schema_changed_into_itself_is_refused(road):
    # A schema kept converted between calls is compared with its object
    # first; that comparison ends on an object that now holds itself.
    schema = {"properties": {"a": {"type": "integer"}}}
    assert loads("a: 1\n", schema=schema, option=road) is not None
    schema["properties"]["a"]["not"] = schema
    assert outcome("a: 1\n", schema, road) == unplaced(
        "schema contains itself: the object at # appears again at #/properties/a/not "
        '(a recursive schema refers to itself with "$ref")')


def test_shared_parts_report_each_place(road):
    # One object at two places: each failure names its own instance path.
    address = {"type": "object", "required": ["city"],
               "properties": {"city": {"type": "string"}}}
    schema = {"properties": {"home": address, "work": address}}
    text = "home: {city: x}\nwork: {city: 1}\n"
    assert failure(text, schema, road) == expect("expected type string, found integer",
                                                 "$.work.city", 2, 14)
    assert failure("home: {}\n", schema, road) == expect("missing required property 'city'",
                                                         "$.home", 1, 7)


LEAVES = [True, False, {}, {"type": "integer"}, {"type": "string"}, {"minimum": 2},
          {"required": ["p0"]}, {"enum": [1, "a", [1]]}, {"maxItems": 1}]


@st.composite
def shared_schemas(draw):
    """Parts built one on another, each using up to three earlier ones; the
    schema is one of them, or all of them under `anyOf`."""
    parts = list(draw(st.lists(st.sampled_from(LEAVES), min_size=1, max_size=4)))
    for _ in range(draw(st.integers(1, 60))):
        chosen = [parts[i] for i in draw(st.lists(st.integers(0, len(parts) - 1), min_size=1,
                                                  max_size=3))]
        keyword = draw(st.sampled_from(["allOf", "anyOf", "oneOf", "not", "items", "properties",
                                        "additionalProperties", "contains"]))
        if keyword in ("not", "items", "additionalProperties", "contains"):
            parts.append({keyword: chosen[0], "type": draw(st.sampled_from(
                ["integer", "array", "object", ["array", "object", "integer"]]))})
        elif keyword == "properties":
            parts.append({keyword: {f"p{i}": part for i, part in enumerate(chosen)}})
        else:
            parts.append({keyword: chosen})
    return draw(st.sampled_from([parts[-1], {"anyOf": parts}]))


def expanded_size(schema, memo=None):
    """Nodes of the schema with each shared part counted at every place."""
    memo = {} if memo is None else memo
    if id(schema) in memo:
        return memo[id(schema)]
    if isinstance(schema, dict):
        size = 1 + sum(1 + expanded_size(v, memo) for v in schema.values())
    elif isinstance(schema, list):
        size = 1 + sum(expanded_size(v, memo) for v in schema)
    else:
        size = 1
    memo[id(schema)] = size
    return size


instances = st.recursive(
    st.one_of(st.integers(0, 3), st.sampled_from(["a", "b"])),
    lambda children: st.one_of(st.lists(children, max_size=3),
                               st.dictionaries(st.sampled_from(["p0", "p1", "p2"]), children,
                                               max_size=3)),
    max_leaves=8)


@settings(max_examples=300, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])
@given(schema=shared_schemas(), instance=instances)
def test_a_schema_of_shared_parts_reads_as_its_copy(schema, instance):
    # Converting each object once and sharing it gives what a schema built
    # of copies gives: the same verdict, message and place.
    assume(expanded_size(schema) <= 20_000)
    copied = json.loads(json.dumps(schema))
    text = json.dumps(instance)
    for option in (0, o.OPT_ROUND_TRIP):
        assert outcome(text, schema, option) == outcome(text, copied, option), (schema, text)


# enum and const by hash: an instance is looked up in the enum's hash index,
# built once per schema, and only values that may be equal are compared,
# each comparison counted as work.

BIG_ENUM = {"items": {"enum": list(range(100_000))}}


def test_a_large_enum_is_looked_up_by_hash(road):
    # Every item was compared with every member, outside the work budget:
    # 10,000 items against 100,000 members took 2 to 9 s.
    assert failure(json.dumps([-1] * 10_000), BIG_ENUM, road) == expect(
        "value is not one of the allowed enum values", "$[0]", 1, 2)
    loads(json.dumps(list(range(0, 100_000, 10))), schema=BIG_ENUM, option=road)


@pytest.mark.parametrize("keyword", ["enum", "const"])
@pytest.mark.parametrize("member,text,equal", [
    (1, "1.0", True),
    (1.0, "1", True),
    (0, "-0.0", True),
    (True, "1", False),
    (1, "true", False),
    ("1", "1", False),
    ([1, {"a": 2.0}], "[1.0, {a: 2}]", True),
    ({"a": 1, "b": [2]}, "{b: [2.0], a: 1}", True),
    ([1], "[true]", False),
    ([1], "[1, 1]", False),
    # an integer against a float through the float; against an integer
    # exactly
    (2.0**53, "9007199254740993", True),
    (2**53, "9007199254740993", False),
    ([2**62 + 512, 2.0**62], "[4611686018427387904, 4611686018427387904]", False),
    ([2.0**62], "[4611686018427388415]", True),
    # integers beyond 64 bits by value, in any base
    (10**30, hex(10**30), True),
    (10**30, str(10**30 + 1), False),
    (float("nan"), ".nan", False),
    ([float("nan")], "[.nan]", False),
])
def test_enum_and_const_compare_by_value(road, keyword, member, text, equal):
    schema = {keyword: [member] if keyword == "enum" else member}
    if equal:
        loads(text, schema=schema, option=road)
    else:
        message = ("value is not one of the allowed enum values" if keyword == "enum"
                   else "value does not equal the required const")
        assert failure(text, schema, road) == expect(message)


def test_integers_that_share_a_double_are_told_apart_by_hash(road):
    # 1,024 integers around 2**62 share each double: hashed by the double
    # alone, each item would be compared with a whole bucket.
    members = [2**62 + i for i in range(100_000)]
    loads(json.dumps(members[::10]), schema={"items": {"enum": members}}, option=road)
    loads(json.dumps(members[:20_000]), schema={"uniqueItems": True}, option=road)
    assert failure(json.dumps([2**62 + 1] * 2), {"uniqueItems": True}, road) == expect(
        "array items are not unique")


def test_comparisons_of_equal_hashes_count_as_work(road):
    # An integer that shares the double of a float beside it may equal any
    # of 512 members, and is compared with each, at the cost of the nodes of
    # both: 10,000 such items pass the work budget (ten million units, then
    # 32 for each of the document's 30,001 nodes).
    members = [[2**62 + i, 2.0**62] for i in range(512)]
    text = json.dumps([[2**62 + 512, 2.0**62]] * 10_000)
    assert failure(text, {"items": {"enum": members}}, road) == expect(
        "schema validation work budget exhausted (10960032 units of work for this document)",
        "$[3563]", 1, 163900)


# ---------------------------------------------------------------------------
# uniqueItems hashes each value once, bottom-up: a collection's hash is kept
# for the checks above it, so deep values are not hashed again at each
# level.

def nested(depth, leaf=0):
    for _ in range(depth):
        leaf = [leaf]
    return leaf


def test_unique_items_over_deep_equal_values(road):
    # 3,000 copies of a 900-deep list took 2 to 4 s and 683 MB; equal items
    # compare through the stack guard.
    assert failure(json.dumps([nested(900)] * 300), {"uniqueItems": True}, road) == expect(
        "array items are not unique")
    loads(json.dumps([nested(900, i) for i in range(300)]), schema={"uniqueItems": True},
          option=road)


def chains(depth, count):
    """`count` lists each holding a chain of `depth` two-item lists."""
    chain = 0
    for i in range(depth):
        chain = [chain, -i - 1]
    return json.dumps([[chain, k] for k in range(count)])


@pytest.mark.parametrize("schema", [
    # items are checked before the array: bottom-up
    {"uniqueItems": True, "items": {"$ref": "#"}},
    # the array before its items: top-down
    {"allOf": [{"uniqueItems": True}, {"items": {"$ref": "#"}}]},
    {"uniqueItems": True, "contains": {"$ref": "#"}},  # one chain: contains stops at a match
    {"not": {"const": "x"}, "items": {"$ref": "#"}},
    {"not": {"enum": ["x", [0]]}, "items": {"$ref": "#"}},
])
def test_a_check_at_every_level_hashes_each_value_once(road, schema):
    # Each level hashed (or converted) its whole subtree again: where every
    # chain is checked, the work budget ran out on 100 chains of 900 levels,
    # a 0.7 MB document.
    assert len(loads(chains(900, 100), schema=schema, option=road)) == 100

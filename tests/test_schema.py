"""JSON Schema validation in loads: the core keywords, the pre-passes
(aliases, merge keys, limits), the pipeline and the schema argument, on the
plain, node and round-trip roads."""
import pytest

import ostrevane as o
from ostrevane import loads
from ostrevane.exceptions import (
    OstrevaneDuplicateKeyError,
    OstrevaneSchemaError,
    OstrevaneUnserializableError,
)

# The node road is reached through a directive option whose directive the
# texts do not use.
ROADS = {"plain": 0, "node": o.OPT_ENV_VAR, "round_trip": o.OPT_ROUND_TRIP}


@pytest.fixture(params=sorted(ROADS))
def road(request):
    return ROADS[request.param]


def failure(text, schema, option=0):
    with pytest.raises(OstrevaneSchemaError) as info:
        loads(text, schema=schema, option=option)
    e = info.value
    return str(e), e.schema_path, e.line, e.column


def passes(text, schema, option=0):
    loads(text, schema=schema, option=option)


def expect(message, path="$", line=1, column=1):
    return (f"schema validation failed: {message} at {path} (line {line}, column {column})",
            path, line, column)


# ---------------------------------------------------------------------------
# Core keywords: the first failure's message, path and position.

FAILURES = [
    # type
    ("3.5\n", {"type": "integer"}, "expected type integer, found number"),
    ("'3'\n", {"type": "integer"}, "expected type integer, found string"),
    ("5\n", {"type": ["string", "null"]}, "expected type string | null, found integer"),
    ("5\n", {"type": [1, "string"]}, "expected type string, found integer"),
    ("5\n", {"type": []}, "expected type , found integer"),
    ("a: 1\n", {"type": "array"}, "expected type array, found object"),
    ("[1]\n", {"type": "object"}, "expected type object, found array"),
    ("~\n", {"type": "boolean"}, "expected type boolean, found null"),
    ("true\n", {"type": "null"}, "expected type null, found boolean"),
    ("2024-01-31\n", {"type": "integer"}, "expected type integer, found string"),
    # the type failure comes before the enum failure
    ("5\n", {"type": "string", "enum": ["a"]}, "expected type string, found integer"),
    # enum and const
    ("x\n", {"enum": []}, "value is not one of the allowed enum values"),
    ("2\n", {"enum": [1, "2", [2]]}, "value is not one of the allowed enum values"),
    ("1\n", {"const": "1"}, "value does not equal the required const"),
    ("[1, 2]\n", {"const": [2, 1]}, "value does not equal the required const"),
    ("{a: 1}\n", {"const": {"a": 1, "b": 2}}, "value does not equal the required const"),
    # numbers
    ("4\n", {"minimum": 5}, "value 4 is less than minimum 5"),
    ("6\n", {"maximum": 5.5}, "value 6 is greater than maximum 5.5"),
    ("5\n", {"exclusiveMinimum": 5}, "value 5 is not greater than 5"),
    ("5.0\n", {"exclusiveMaximum": 5}, "value 5 is not less than 5"),
    ("1e20\n", {"maximum": 5}, "value 100000000000000000000 is greater than maximum 5"),
    ("-2.5e-10\n", {"minimum": 0}, "value -0.00000000025 is less than minimum 0"),
    ("-.inf\n", {"minimum": 0}, "value -inf is less than minimum 0"),
    ("10\n", {"multipleOf": 3}, "value 10 is not a multiple of 3"),
    ("0.5\n", {"multipleOf": 0.2}, "value 0.5 is not a multiple of 0.2"),
    # exact on integers: 2**60 + 1 rounds to an even float
    ("1152921504606846977\n", {"multipleOf": 2},
     "value 1152921504606847000 is not a multiple of 2"),
    ("123456789012345678901234567891\n", {"multipleOf": 7},
     "value 123456789012345680000000000000 is not a multiple of 7"),
    # a big integer written in hex keeps its digits and base
    ("0x10000000000000001\n", {"multipleOf": 2},
     "value 18446744073709552000 is not a multiple of 2"),
    # an integer against an integer bound: exact at any size (through floats,
    # 2**53 + 1 passed a maximum of 2**53, and 2**63 one of 2**63 - 1), and
    # both written out in full
    ("5\n", {"minimum": 2**70}, "value 5 is less than minimum 1180591620717411303424"),
    ("9007199254740993\n", {"maximum": 2**53},
     "value 9007199254740993 is greater than maximum 9007199254740992"),
    ("9223372036854775808\n", {"maximum": 2**63 - 1},
     "value 9223372036854775808 is greater than maximum 9223372036854775807"),
    ("18446744073709551616\n", {"maximum": 2**64 - 1},
     "value 18446744073709551616 is greater than maximum 18446744073709551615"),
    ("-9223372036854775809\n", {"minimum": -2**63},
     "value -9223372036854775809 is less than minimum -9223372036854775808"),
    ("9007199254740992\n", {"exclusiveMinimum": 2**53},
     "value 9007199254740992 is not greater than 9007199254740992"),
    ("0x10000000000000000\n", {"exclusiveMaximum": 2**64},
     "value 18446744073709551616 is not less than 18446744073709551616"),
    ("-0o2000000000000000000001\n", {"minimum": -2**64},
     "value -18446744073709551617 is less than minimum -18446744073709551616"),
    (f"{10**40 + 1}\n", {"maximum": 10**40}, f"value {10**40 + 1} is greater than maximum {10**40}"),
    # a literal of another base whose decimal digits would pass 4300 stays
    # as written
    ("0x1" + "0" * 3600 + "\n", {"maximum": 10**4000},
     f"value 0x1{'0' * 3600} is greater than maximum {10**4000}"),
    # strings
    ("abc\n", {"minLength": 4}, "string is shorter than minLength 4"),
    ("abc\n", {"minLength": 4.0}, "string is shorter than minLength 4"),
    ("\u00e4\u00f6\u00fc\n", {"maxLength": 2}, "string is longer than maxLength 2"),
    ("''\n", {"maxLength": -1}, "string is longer than maxLength -1"),
    ("a\n", {"minLength": 2.0**70}, "string is shorter than minLength 9223372036854775807"),
    ("abc\n", {"pattern": "^b"}, "string does not match pattern /^b/"),
    ("abc\n", {"pattern": "("}, "schema has an invalid regex pattern /(/"),
    # combinators
    ("1\n", {"anyOf": []}, "value does not match any of the anyOf schemas"),
    ("1\n", {"anyOf": [{"type": "string"}, {"type": "boolean"}]},
     "value does not match any of the anyOf schemas"),
    ("1\n", {"oneOf": [{}, {}]}, "value matches 2 of the oneOf schemas (exactly one required)"),
    ("1\n", {"oneOf": []}, "value matches 0 of the oneOf schemas (exactly one required)"),
    ("1\n", {"not": {}}, "value must not match the 'not' schema"),
    ("1\n", {"not": 5}, "value must not match the 'not' schema"),
    ("1\n", {"allOf": [{}, {"type": "string"}, {"minimum": 3}]},
     "expected type string, found integer"),
    ("1\n", {"type": "string", "anyOf": []}, "expected type string, found integer"),
    # $ref
    ("1\n", {"$ref": "#"}, "schema $ref nesting too deep (cyclic reference?)"),
    ("1\n", {"$ref": "#/definitions/a~1b", "definitions": {"a/b": {"type": "string"}}},
     "expected type string, found integer"),
    ("1\n", {"$ref": "#/definitions/m~0n", "definitions": {"m~n": {"type": "string"}}},
     "expected type string, found integer"),
    ("1\n", {"$ref": "#/items/+1", "items": [{}, {"type": "string"}]},
     "expected type string, found integer"),
    ("1\n", {"$ref": "#/items/01", "items": [{}, {"type": "string"}]},
     "expected type string, found integer"),
    ("1\n", {"$ref": "#/d/a", "d": {"a": {"$ref": "#/d/b"}, "b": {"$ref": "#/d/a"}}},
     "schema $ref nesting too deep (cyclic reference?)"),
    ("1\n", {"$ref": "other.json#/a"}, "unresolvable schema $ref 'other.json#/a'"),
    ("1\n", {"$ref": ""}, "unresolvable schema $ref ''"),
    ("1\n", {"$ref": "#a"}, "unresolvable schema $ref '#a'"),
    ("1\n", {"$ref": "#/missing"}, "unresolvable schema $ref '#/missing'"),
    ("1\n", {"$ref": "#/items/-1", "items": [{}]}, "unresolvable schema $ref '#/items/-1'"),
    ("1\n", {"$ref": "#/items/1", "items": [{}]}, "unresolvable schema $ref '#/items/1'"),
    ("1\n", {"$ref": "#/items/", "items": [{}]}, "unresolvable schema $ref '#/items/'"),
    ("1\n", {"$ref": "#/type/x", "type": "string"}, "unresolvable schema $ref '#/type/x'"),
    # a $ref that is not a string is ignored and the siblings apply
    ("1\n", {"$ref": 5, "type": "string"}, "expected type string, found integer"),
    # boolean schemas
    ("1\n", False, "value is not allowed (schema is false)"),
    ("1\n", {"allOf": [True, False]}, "value is not allowed (schema is false)"),
]


@pytest.mark.parametrize("text,schema,message", FAILURES)
def test_core_keyword_failures(road, text, schema, message):
    assert failure(text, schema, road) == expect(message)


PASSES = [
    ("3\n", {"type": "integer"}),
    # integers against integer bounds, exactly; against a float bound
    # through the float
    ("9007199254740993\n", {"exclusiveMinimum": 2**53}),
    ("9007199254740992\n", {"minimum": 2**53, "maximum": 2**53}),
    ("0x10000000000000000\n", {"maximum": 2**64, "minimum": 2**64}),
    ("-9223372036854775809\n", {"maximum": -2**63, "exclusiveMaximum": -2**63 + 1}),
    (f"{-10**40}\n", {"exclusiveMinimum": -10**40 - 1}),
    ("9007199254740993\n", {"maximum": 2.0**53}),
    ("3.0\n", {"type": "integer"}),
    ("3\n", {"type": "number"}),
    ("5\n", {"type": "no-such-type"}),
    ("5\n", {"type": 5}),
    ("1.0\n", {"enum": [1]}),
    ("[1, {a: 2}]\n", {"const": [1.0, {"a": 2}]}),
    ("{b: 2, a: 1}\n", {"const": {"a": 1, "b": 2}}),
    ("'4'\n", {"minimum": 5}),
    (".nan\n", {"minimum": 0, "maximum": 0, "exclusiveMinimum": 0, "exclusiveMaximum": 0}),
    ("5\n", {"exclusiveMinimum": True, "minimum": "9"}),
    ("0.3\n", {"multipleOf": 0.1}),
    ("10\n", {"multipleOf": 0}),
    ("10\n", {"multipleOf": -3}),
    ("123456789012345678901234567890\n", {"multipleOf": 7}),
    ("\u00e4\u00f6\n", {"maxLength": 2}),
    ("abc\n", {"minLength": 2.5, "maxLength": "1"}),
    ("a\n", {"minLength": 2**70}),
    ("abc\n", {"pattern": "b"}),
    ("1\n", {"pattern": "("}),
    ("1\n", {"allOf": []}),
    ("1\n", {"anyOf": [{"type": "string"}, {"type": "integer"}]}),
    ("1\n", {"oneOf": [{"type": "string"}, {"type": "integer"}]}),
    ("1\n", {"not": {"type": "string"}}),
    ("1\n", {"$ref": "#/definitions/i", "definitions": {"i": {"type": "integer"}}}),
    # 128 nested hops are followed
    ("1\n", {"$ref": "#/d/0", "d": [{"$ref": f"#/d/{i + 1}"} for i in range(127)] + [{}]}),
    ("1\n", True),
    ("1\n", [False]),
    ("1\n", 5),
    ("1\n", "a string"),
    ("1\n", None),
    ("1\n", {}),
    ("1\n", {"unknownKeyword": False}),
]


@pytest.mark.parametrize("text,schema", PASSES)
def test_core_keyword_passes(road, text, schema):
    passes(text, schema, road)


def test_one_hop_more_is_too_deep(road):
    chain = {"$ref": "#/d/0", "d": [{"$ref": f"#/d/{i + 1}"} for i in range(128)] + [{}]}
    assert failure("1\n", chain, road) == expect(
        "schema $ref nesting too deep (cyclic reference?)")


def test_ref_budget_spent_inside_a_discarded_branch_ends_the_validation(road):
    # Twenty levels of two references each spend the budget of $ref
    # resolutions (100,000, then 8 more for the document's one node) inside
    # a `not` branch: the validation ends there with the budget's own
    # message, not with the branch read as a mismatch.
    levels = 20
    defs = {f"l{i}": {"allOf": [{"$ref": f"#/d/l{i + 1}"}] * 2} for i in range(levels)}
    defs[f"l{levels}"] = False
    defs["str"] = {"type": "string"}
    schema = {"d": defs, "allOf": [{"not": {"$ref": "#/d/l0"}}, {"$ref": "#/d/str"}]}
    assert failure("1\n", schema, road) == expect(
        "schema $ref resolution budget exhausted (100008 resolutions for this document)")
    small = dict(schema, d=dict(defs, l12=False))
    assert failure("1\n", small, road) == expect("expected type string, found integer")


def test_first_failure_in_check_order_is_reported(road):
    schema = {"type": "string", "enum": ["a"], "minimum": 9, "not": {}}
    assert failure("5\n", schema, road) == expect("expected type string, found integer")
    schema = {"anyOf": [], "allOf": [{"maximum": 1}]}
    assert failure("5\n", schema, road) == expect("value 5 is greater than maximum 1")


@pytest.mark.parametrize("text,line,column", [
    ("# head\n\n   [1]\n", 3, 4),
    ("\n\n  x\n", 3, 3),
    ("--- !!str\n  5\n", 2, 3),
    ("%YAML 1.2\n---\n'q'\n", 3, 1),
])
def test_position_is_the_root_node_start(road, text, line, column):
    message, path, got_line, got_column = failure(text, {"type": "integer"}, road)
    assert (path, got_line, got_column) == ("$", line, column)
    assert message.endswith(f"at $ (line {line}, column {column})")


# ---------------------------------------------------------------------------
# Object and array keywords: message, instance path and position of the
# first failure. Members are named by their key's text as written; a
# failure inside a member or item carries its path.

COLLECTION_FAILURES = [
    # required: every missing name fails, the first is reported
    ("{}\n", {"required": ["a", "b"]}, "missing required property 'a'", "$", 1, 1),
    ("a: 1\n", {"required": [5, "a", "b"]}, "missing required property 'b'", "$", 1, 1),
    ("[a]: 1\n", {"required": ["[a]"]}, "missing required property '[a]'", "$", 1, 1),
    # properties, patternProperties
    ("a: 1\nb: x\n", {"properties": {"b": {"type": "integer"}}},
     "expected type integer, found string", "$.b", 2, 4),
    ("a: 1\n", {"properties": {"a": {"type": "string"}, "a ": {}}},
     "expected type string, found integer", "$.a", 1, 4),
    ("x-a: 1\n", {"patternProperties": {"^x-": {"type": "string"}},
                  "additionalProperties": False},
     "expected type string, found integer", "$.x-a", 1, 6),
    # a member matched by properties and by a pattern is checked against both
    ("ab: 5\n", {"properties": {"ab": {"minimum": 0}}, "patternProperties": {"b": {"maximum": 3}}},
     "value 5 is greater than maximum 3", "$.ab", 1, 5),
    ("ab: 5\n", {"patternProperties": {"a": {}, "b": {"maximum": 3}}},
     "value 5 is greater than maximum 3", "$.ab", 1, 5),
    # invalid patterns fail on the object, before any member is checked
    ("a: x\n", {"patternProperties": {"a": {"type": "integer"}, "(": {}}},
     "schema has an invalid regex pattern /(/", "$", 1, 1),
    ("{}\n", {"patternProperties": {"(": {}}},
     "schema has an invalid regex pattern /(/", "$", 1, 1),
    # additionalProperties in its forms: on the member's value, at its path
    ("a: 1\nb: 2\n", {"properties": {"a": {}}, "additionalProperties": False},
     "additional property 'b' is not allowed", "$.b", 2, 4),
    ("a: 1\nb: 2\n", {"properties": {"a": {}}, "additionalProperties": {"type": "string"}},
     "expected type string, found integer", "$.b", 2, 4),
    ("a: ~\nb: 2\n", {"additionalProperties": False},
     "additional property 'a' is not allowed", "$.a", 1, 4),
    # minProperties, maxProperties count every pair, complex keys too
    ("a: 1\n", {"minProperties": 2}, "object has fewer than minProperties 2", "$", 1, 1),
    ("{[1]: 2, {a: 1}: 3}\n", {"maxProperties": 1.0},
     "object has more than maxProperties 1", "$", 1, 1),
    ("{}\n", {"maxProperties": -1}, "object has more than maxProperties -1", "$", 1, 1),
    # propertyNames: the name as a string, at the key's position
    ("x: 0\nabcd: 1\n", {"propertyNames": {"maxLength": 3}},
     "string is longer than maxLength 3", "$.abcd", 2, 1),
    ("1: 1\n", {"propertyNames": {"type": "integer"}},
     "expected type integer, found string", "$.1", 1, 1),
    ("a: 1\n", {"propertyNames": False}, "value is not allowed (schema is false)", "$.a", 1, 1),
    # dependencies in both forms
    ("a: 1\n", {"dependencies": {"a": ["b"]}},
     "property 'a' requires 'b' to also be present", "$", 1, 1),
    ("a: 1\n", {"dependencies": {"a": {"required": ["c"]}}},
     "missing required property 'c'", "$", 1, 1),
    ("a: 1\n", {"dependencies": {"a": False}}, "value is not allowed (schema is false)", "$", 1, 1),
    # minItems, maxItems
    ("[1]\n", {"minItems": 2}, "array has fewer than minItems 2", "$", 1, 1),
    ("[1]\n", {"minItems": 2.0}, "array has fewer than minItems 2", "$", 1, 1),
    ("[1, 2]\n", {"maxItems": 1}, "array has more than maxItems 1", "$", 1, 1),
    ("[]\n", {"maxItems": -1}, "array has more than maxItems -1", "$", 1, 1),
    # items in both forms, additionalItems failing on each extra item
    ("- 1\n- x\n", {"items": {"type": "integer"}}, "expected type integer, found string",
     "$[1]", 2, 3),
    ("[1, x]\n", {"items": False}, "value is not allowed (schema is false)", "$[0]", 1, 2),
    ("[1, 2, 3]\n", {"items": [{"type": "integer"}], "additionalItems": False},
     "array has more items than the 1 allowed", "$[1]", 1, 5),
    ("[1, x]\n", {"items": [{}], "additionalItems": {"type": "integer"}},
     "expected type integer, found string", "$[1]", 1, 5),
    ("[x, 1]\n", {"items": [{"type": "integer"}, {}]}, "expected type integer, found string",
     "$[0]", 1, 2),
    # uniqueItems
    ("[1, 1.0]\n", {"uniqueItems": True}, "array items are not unique", "$", 1, 1),
    ("[{a: 1, b: 2}, {b: 2, a: 1}]\n", {"uniqueItems": True},
     "array items are not unique", "$", 1, 1),
    ("[[1, [0.0]], x, [1.0, [-0.0]]]\n", {"uniqueItems": True},
     "array items are not unique", "$", 1, 1),
    ("[~, '', null]\n", {"uniqueItems": True}, "array items are not unique", "$", 1, 1),
    ("[0x10000000000000000, 18446744073709551616]\n", {"uniqueItems": True},
     "array items are not unique", "$", 1, 1),
    # contains
    ("[]\n", {"contains": {"type": "string"}},
     "no array item matches the 'contains' schema", "$", 1, 1),
    ("[1, 2]\n", {"contains": {"type": "string"}},
     "no array item matches the 'contains' schema", "$", 1, 1),
    ("[]\n", {"contains": True}, "no array item matches the 'contains' schema", "$", 1, 1),
    # paths: names are written as they are, nested members and items chain
    ("servers:\n  - host: a\n    port: x\n",
     {"properties": {"servers": {"items": {"properties": {"port": {"type": "integer"}}}}}},
     "expected type integer, found string", "$.servers[0].port", 3, 11),
    ("a.b:\n  '[0]': [1, x]\n",
     {"additionalProperties": {"additionalProperties": {"items": {"type": "integer"}}}},
     "expected type integer, found string", "$.a.b.[0][1]", 2, 14),
    # object and array keywords come after type and before the combinators
    ("a: 1\n", {"type": "array", "required": ["b"]}, "expected type array, found object", "$", 1, 1),
    ("a: 1\n", {"anyOf": [], "required": ["b"]}, "missing required property 'b'", "$", 1, 1),
    ("[1]\n", {"not": {}, "minItems": 2}, "array has fewer than minItems 2", "$", 1, 1),
]


@pytest.mark.parametrize("text,schema,message,path,line,column", COLLECTION_FAILURES)
def test_collection_keyword_failures(road, text, schema, message, path, line, column):
    assert failure(text, schema, road) == expect(message, path, line, column)


COLLECTION_PASSES = [
    # member names are the key texts: 2 and true are "2" and "true"
    ("2: x\ntrue: y\n", {"required": ["2", "true"]}),
    ("'1': x\n!!int 2: y\n", {"required": ["1", "2"]}),
    ("a: 1\n", {"required": []}),
    ("a: 1\n", {"required": "a"}),
    ("x-a: 'q'\n", {"patternProperties": {"^x-": {"type": "string"}},
                    "additionalProperties": False}),
    ("a: 1\n", {"properties": {"a": {}}, "additionalProperties": False}),
    ("a: 1\n", {"additionalProperties": True}),
    ("a: 1\n", {"additionalProperties": 5}),
    ("a: 1\n", {"properties": [{"type": "string"}]}),
    # keys that are not scalars are not members
    ("[a]: 1\n? {b: 2}\n: 3\n", {"additionalProperties": False, "propertyNames": False,
                                 "minProperties": 2, "maxProperties": 2}),
    ("a: 1\n", {"minProperties": 1.5, "maxProperties": "0"}),
    ("{}\n", {"propertyNames": False}),
    ("b: 1\n", {"dependencies": {"a": ["b"]}}),
    ("a: 1\nb: 2\n", {"dependencies": {"a": ["b"]}}),
    ("a: 1\n", {"dependencies": {"a": 5, "b": False}}),
    ("a: 1\n", {"dependencies": {"a": [5]}}),
    ("[1]\n", {"minItems": 2.5}),
    ("[1]\n", {"minItems": "2"}),
    ("[1]\n", {"minItems": -1}),
    ("[1, 2, 3]\n", {"items": [{"type": "integer"}]}),
    ("[1, 2, 3]\n", {"items": [{}], "additionalItems": True}),
    ("[1, 2, 3]\n", {"additionalItems": False}),
    ("[1, x]\n", {"items": True}),
    ("[1, '1']\n", {"uniqueItems": True}),
    ("[1, true, ~, '', [], {}]\n", {"uniqueItems": True}),
    ("[{a: 1}, {a: 1, b: 1}, {b: 1}]\n", {"uniqueItems": True}),
    ("[1, 1]\n", {"uniqueItems": False}),
    ("[1, 1]\n", {"uniqueItems": 1}),
    ("[.nan, .nan]\n", {"uniqueItems": True}),
    ("[1, x]\n", {"contains": {"type": "string"}}),
    ("[1]\n", {"contains": 5}),
    ("a: 1\n", {"items": False, "minItems": 5, "contains": False}),
    ("[1]\n", {"required": ["a"], "minProperties": 5}),
]


@pytest.mark.parametrize("text,schema", COLLECTION_PASSES)
def test_collection_keyword_passes(road, text, schema):
    passes(text, schema, road)


def test_every_collection_failure_is_recorded_in_check_order(road):
    # Only the first is reported: each step mends the one before.
    text = "a: 1\nbb: 2\n"
    schema = {"required": ["z"], "properties": {"a": {"type": "string"}},
              "additionalProperties": False, "minProperties": 9,
              "propertyNames": {"maxLength": 1}, "dependencies": {"a": ["y"]}}
    steps = [
        (("missing required property 'z'", "$", 1, 1), {"required": []}),
        (("expected type string, found integer", "$.a", 1, 4), {"properties": {"a": {}}}),
        (("additional property 'bb' is not allowed", "$.bb", 2, 5), {"additionalProperties": True}),
        (("object has fewer than minProperties 9", "$", 1, 1), {"minProperties": 0}),
        (("string is longer than maxLength 1", "$.bb", 2, 1), {"propertyNames": True}),
        (("property 'a' requires 'y' to also be present", "$", 1, 1), {"dependencies": {}}),
    ]
    for reported, mend in steps:
        assert failure(text, schema, road) == expect(*reported)
        schema = dict(schema, **mend)
    passes(text, schema, road)


def test_uniqueness_of_many_items(road):
    # Distinct items in any number, with one repeat placed last.
    items = [f"i{i}" for i in range(3000)] + list(range(3000)) + [{"k": i} for i in range(300)]
    text = o.dumps(items).decode()
    passes(text, {"uniqueItems": True}, road)
    assert failure(o.dumps(items + [{"k": 7}]).decode(), {"uniqueItems": True}, road) == expect(
        "array items are not unique")


def test_ref_nesting_starts_again_in_members_and_items(road):
    # 101 hops reach the schema of every level, and a dependency check adds
    # 121 more: each member, item and dependency check counts from 0, so
    # none passes the limit of 128 nested hops.
    def hops(name, n, last):
        return [{"$ref": f"#/{name}/{i + 1}"} for i in range(n)] + [last]

    level = {"items": {"$ref": "#"}, "properties": {"a": {"$ref": "#"}},
             "dependencies": {"a": {"$ref": "#/e/0"}}}
    schema = {"$ref": "#/d/0", "d": hops("d", 100, level), "e": hops("e", 120, {})}
    passes("- a: [1]\n", schema, road)
    # The shared budget still ends a cycle through a dependency.
    assert failure("a: 1\n", {"dependencies": {"a": {"$ref": "#"}}}, road) == expect(
        "schema $ref resolution budget exhausted (100024 resolutions for this document)")


# ---------------------------------------------------------------------------
# The tree the schema sees: aliases and merge keys.

SEEN = [
    ("a: &x 1\nb: *x\n", {"a": 1, "b": 1}),
    ("a: &x [1, {k: v}]\nb: *x\n", {"a": [1, {"k": "v"}], "b": [1, {"k": "v"}]}),
    ("{a: 1, <<: {a: 2, b: 3}}\n", {"a": 1, "b": 3}),
    ("<<: [{a: 1}, {a: 2, b: 2}]\n", {"a": 1, "b": 2}),
    ("a: 0\n<<: 5\n", {"a": 0, "<<": 5}),
    ("a: 0\n<<:\n", {"a": 0}),
    ("<<: [{a: 1}, 7, [8, {b: 2}]]\n", {"a": 1, "b": 2, "<<": [7, [8]]}),
    ("'<<': {a: 1}\n", {"<<": {"a": 1}}),
    ("base: &b {x: 1}\nmid: &m {<<: *b, y: 2}\ntop: {<<: *m, z: 3}\n",
     {"base": {"x": 1}, "mid": {"x": 1, "y": 2}, "top": {"x": 1, "y": 2, "z": 3}}),
    ("b: &b {true: 1}\nm:\n  True: 0\n  <<: *b\n", {"b": {True: 1}, "m": {True: 0}}),
    ("b: &b {1: x}\nm:\n  '1': y\n  <<: *b\n", {"b": {1: "x"}, "m": {"1": "y", 1: "x"}}),
]


@pytest.mark.parametrize("text,seen", SEEN)
def test_aliases_and_merge_keys_are_applied(road, text, seen):
    passes(text, {"const": seen}, road)
    assert failure(text, {"not": {"const": seen}}, road)[0].endswith(
        "value must not match the 'not' schema at $ (line 1, column 1)")


# Repeated keys: loads keeps one dict key, with the last value at the first
# key's position, while validation read every repeat as its own member.
REPEATED_KEY_FAILURES = [
    # The last value is checked, at its own position.
    ("a: 1\na: x\n", {"properties": {"a": {"type": "integer"}}},
     "expected type integer, found string", "$.a", 2, 4),
    # The member stays at its first key's place: a fails before c.
    ("b: 0\na: 1\nc: y\na: x\n", {"additionalProperties": {"type": "integer"}},
     "expected type integer, found string", "$.a", 4, 4),
    # 1, 0x1 and 1.0 are one key; '1' is another.
    ("1: a\n0x1: b\n1.0: c\n'1': d\n", {"maxProperties": 1},
     "object has more than maxProperties 1", "$", 1, 1),
    # 1 and true are one key too, named by the first.
    ("1: x\ntrue: y\n", {"required": ["true"]}, "missing required property 'true'", "$", 1, 1),
    ("k:\n  1: a\n  1.0: 7\n", {"properties": {"k": {"additionalProperties": {"type": "string"}}}},
     "expected type string, found integer", "$.k.1", 3, 8),
    # Items equal as loaded are not unique.
    ("- {a: 1, a: 2}\n- {a: 2}\n", {"uniqueItems": True}, "array items are not unique", "$", 1, 1),
    # A large mapping, whose keys are hashed.
    ("".join(f"k{i}: {i}\n" for i in range(20)) + "k3: x\n",
     {"additionalProperties": {"type": "integer"}},
     "expected type integer, found string", "$.k3", 21, 5),
]


@pytest.mark.parametrize("text,schema,message,path,line,column", REPEATED_KEY_FAILURES)
def test_repeated_key_failures(road, text, schema, message, path, line, column):
    assert failure(text, schema, road) == expect(message, path, line, column)


@pytest.mark.parametrize("text,schema", [
    ("a: x\na: 1\n", {"properties": {"a": {"type": "integer"}}}),
    ("a: x\na: 1\n", {"maxProperties": 1}),
    ("b: 0\na: 1\nc: 2\na: [x]\n", {"const": {"b": 0, "a": ["x"], "c": 2}}),
    ("1: a\n0x1: b\n1.0: c\n", {"maxProperties": 1, "const": {1: "c"}}),
    ("'1': a\n1: b\n", {"minProperties": 2, "const": {"1": "a", 1: "b"}}),
    ("- {a: 1, a: 2}\n- {a: 2}\n", {"items": {"const": {"a": 2}}}),
    ("".join(f"k{i}: {i}\n" for i in range(20)) + "k3: x\n", {"maxProperties": 20}),
    # Ordinary keys still win over merged ones.
    ("a: 1\na: x\n<<: {a: 2, b: 3}\n", {"const": {"a": "x", "b": 3}}),
])
def test_repeated_keys_pass_as_loads_returns_them(road, text, schema):
    passes(text, schema, road)


def test_duplicate_keys_error_comes_before_validation(road):
    # The refusal of repeated keys still wins over the schema.
    with pytest.raises(OstrevaneDuplicateKeyError) as info:
        loads("a: x\na: 1\n", schema={"type": "array"}, option=road | o.OPT_DUPLICATE_KEYS_ERROR)
    assert str(info.value) == "duplicate mapping key: a at line 2, column 1"
    assert (info.value.line, info.value.column) == (2, 1)


@pytest.mark.parametrize("text,schema", [
    ("--- !!str\n", {"const": ""}),
    ("a: !!str\nb: !!int\nc:\n", {"const": {"a": "", "b": "", "c": None}}),
])
def test_tagged_empty_node_reads_as_loads_returns_it(road, text, schema):
    # An empty node with a tag was read as null, while loads types its
    # empty text with the tag ("" for !!str).
    passes(text, schema, road)
    assert failure("--- !!str\n", {"type": "null"}, road) == expect(
        "expected type null, found string", line=2)


def test_only_the_first_document_is_validated(road):
    text = "a: 1\n---\nb: x\n---\n[1]\n"
    passes(text, {"type": "object", "const": {"a": 1}}, road)


def test_an_empty_first_document_is_validated_as_returned(road):
    # The plain road returns the stream's first document even when it is
    # empty, yet validated the first one with content: a schema asking for
    # an object passed while loads returned None. The node and round-trip
    # roads leave empty documents out of what they return, and of what they
    # validate.
    text = "---\n---\na: 1\n"
    if road == 0:
        assert failure(text, {"type": "object"}) == expect("expected type object, found null")
        passes(text, {"type": "null"})
        assert loads(text) is None
    else:
        passes(text, {"type": "object", "const": {"a": 1}}, road)


@pytest.mark.parametrize("text", ["", "# only a comment\n", "\n\n"])
def test_empty_stream_is_not_validated(road, text):
    loads(text, schema=False, option=road)
    loads(text, schema={"type": "object"}, option=road)


def test_a_schema_that_cannot_be_converted(road):
    with pytest.raises(OstrevaneUnserializableError) as info:
        loads("a: 1\n", schema={"type": object()}, option=road)
    assert str(info.value) == "type object is not YAML serializable"
    assert not isinstance(info.value, OstrevaneSchemaError)


def test_failure_ends_the_call_with_nothing_returned(road):
    with pytest.raises(OstrevaneSchemaError):
        loads("a: 1\n", schema={"type": "array"}, option=road)
    assert loads("a: 1\n", schema={"type": "object"}, option=o.OPT_ENV_VAR) == {"a": 1}


def test_schema_error_is_an_ostrevane_error():
    with pytest.raises(o.exceptions.OstrevaneError):
        loads("1\n", schema=False)


# ---------------------------------------------------------------------------
# schema="auto" and the resolver.

AUTO = "# yaml-language-server: $schema=./conf.schema.json\nport: x\n"


def test_auto_resolver_receives_the_reference(road):
    calls = []

    def resolver(ref):
        calls.append(ref)
        return {"type": "array"}

    with pytest.raises(OstrevaneSchemaError) as info:
        loads(AUTO, schema="auto", schema_resolver=resolver, option=road)
    assert calls == ["./conf.schema.json"]
    assert str(info.value) == (
        "schema validation failed: expected type array, found object at $ (line 2, column 1)")
    assert (info.value.line, info.value.column) == (2, 1)


def test_auto_resolver_returning_none_skips_validation(road):
    calls = []
    loads(AUTO, schema="auto", schema_resolver=lambda ref: calls.append(ref), option=road)
    assert calls == ["./conf.schema.json"]


def test_auto_without_reference_does_not_call_the_resolver(road):
    def resolver(ref):
        raise AssertionError("called")

    loads("port: x\n", schema="auto", schema_resolver=resolver, option=road)


def test_auto_resolver_exception_propagates(road):
    def resolver(ref):
        raise KeyError(ref)

    with pytest.raises(KeyError):
        loads(AUTO, schema="auto", schema_resolver=resolver, option=road)


def test_resolver_is_ignored_beside_a_schema_object(road):
    assert failure("1\n", {"type": "string"}, road) == expect(
        "expected type string, found integer")
    with pytest.raises(OstrevaneSchemaError):
        loads("1\n", schema={"type": "string"}, schema_resolver=5, option=road)


def test_resolver_without_auto_is_refused(road):
    with pytest.raises(ValueError) as info:
        loads("1\n", schema_resolver=lambda ref: None, option=road)
    assert str(info.value) == 'schema_resolver requires schema="auto"'


def test_auto_without_resolver_is_refused(road):
    with pytest.raises(ValueError) as info:
        loads(AUTO, schema="auto", option=road)
    assert str(info.value) == (
        'schema="auto" requires a schema_resolver callable to resolve the in-file reference')


# ---------------------------------------------------------------------------
# Mended faults.

def test_alias_means_the_nearest_definition_before_it(road):
    # Expanding an alias with the first definition of a name defined twice
    # let validation see 1 where loads returns "s".
    text = "a: &x 1\nb: &x s\nc: *x\n"
    passes(text, {"const": {"a": 1, "b": "s", "c": "s"}}, road)
    message = failure(text, {"const": {"a": 1, "b": "s", "c": 1}}, road)[0]
    assert message == expect("value does not equal the required const")[0]
    if road != o.OPT_ROUND_TRIP:
        assert loads(text, option=road)["c"] == "s"


def test_repeated_key_in_one_merge_source_keeps_its_last_value(road):
    # Validation took the first value of a key repeated inside one merged
    # mapping while loads returns the last.
    text = "<<: {a: 1, a: 2}\nb: 0\n"
    passes(text, {"const": {"a": 2, "b": 0}}, road)
    assert failure(text, {"const": {"a": 1, "b": 0}}, road)[0] == expect(
        "value does not equal the required const")[0]
    if road != o.OPT_ROUND_TRIP:
        assert loads(text, option=road) == {"a": 2, "b": 0}


def chain(n):
    """n anchored sequences, each holding an alias of the one before."""
    lines = ["a0: &a0 x"] + [f"a{i}: &a{i} [*a{i - 1}]" for i in range(1, n)]
    value = {"a0": "x"}
    inner = "x"
    for i in range(1, n):
        inner = [inner]
        value[f"a{i}"] = inner
    return "\n".join(lines) + "\n", value


CUT_OFF = "value could not be validated (alias expansion limit reached)"


def test_aliases_nested_past_the_limit_are_reported(road):
    # Past 100 nested aliases the rest of the tree was validated as null,
    # while loads returns the real values.
    text, value = chain(100)
    passes(text, {"const": value}, road)
    text, value = chain(103)
    assert failure(text, {"const": value}, road) == expect(CUT_OFF)
    assert failure(text, {"enum": [None, value]}, road) == expect(CUT_OFF)
    # A schema that does not look into the cut-off values still passes.
    passes(text, {"type": "object", "minimum": 3}, road)


def test_alias_budget_past_the_limit_is_reported(road):
    # 10 ** 6 leaves and the collections above them exceed the million
    # nodes that expansion copies.
    lines = ["l0: &l0 [x, x, x, x, x, x, x, x, x, x]"]
    for i in range(1, 6):
        lines.append(f"l{i}: &l{i} [" + ", ".join([f"*l{i - 1}"] * 10) + "]")
    text = "\n".join(lines) + "\n"
    assert failure(text, {"const": {}}, road) == expect(CUT_OFF)
    passes(text, {"type": "object"}, road)


def test_cut_off_merge_source_cuts_off_its_mapping(road):
    text, _ = chain(103)
    text = text.replace("a102: &a102 [*a101]", "a102: &a102 {k: *a101}")
    text += "m: {<<: *a102}\n"
    assert failure(text, {"const": {}}, road) == expect(CUT_OFF)


@pytest.mark.parametrize("text,option,schema,value", [
    # The compatible YAML 1.1 form reads these as strings, unlike YAML 1.1.
    ("y\n", o.OPT_PYYAML_COMPAT, {"type": "string"}, "y"),
    ("1e5\n", o.OPT_PYYAML_COMPAT, {"type": "string"}, "1e5"),
    ("_1\n", o.OPT_PYYAML_COMPAT, {"type": "string"}, "_1"),
    ("y\n", o.OPT_YAML_1_1, {"type": "boolean"}, True),
    # With OPT_PYYAML_COMPAT a %YAML 1.2 text is still read in that form.
    ("%YAML 1.2\n---\nyes\n", o.OPT_PYYAML_COMPAT, {"type": "boolean"}, True),
    ("%YAML 1.2\n---\nyes\n", 0, {"type": "string"}, "yes"),
])
def test_validation_reads_values_as_loads_returns_them(road, text, option, schema, value):
    # Validation used YAML 1.1 rules for the compatible form and YAML 1.2
    # rules for a %YAML 1.2 text loaded with OPT_PYYAML_COMPAT, so schemas
    # rejected values that loads returns.
    passes(text, schema, road | option)
    if road != o.OPT_ROUND_TRIP:
        assert loads(text, option=road | option) == value


def test_cut_off_items_are_reported_by_unique_items(road):
    # Items cut off by the alias limits read as null, so uniqueness was
    # decided on values loads does not return.
    text, _ = chain(103)
    text += "u: [*a102, x]\n"
    line = text.count("\n")
    assert failure(text, {"properties": {"u": {"uniqueItems": True}}}, road) == expect(
        CUT_OFF, "$.u", line, 4)


def test_cut_off_keys_are_reported_by_name_keywords(road):
    # Past the alias budget the keys that follow are cut off too: `required`
    # called "port" missing although loads returns it.
    lines = ["l0: &l0 [x, x, x, x, x, x, x, x, x, x]"]
    for i in range(1, 6):
        lines.append(f"l{i}: &l{i} [" + ", ".join([f"*l{i - 1}"] * 10) + "]")
    text = "\n".join(lines) + "\nport: 80\n"
    assert failure(text, {"required": ["port"]}, road) == expect(CUT_OFF, "$", 7, 1)
    # Keywords that read no names still pass.
    passes(text, {"minProperties": 7, "maxProperties": 7}, road)

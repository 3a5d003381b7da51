"""Schema validation agrees with the jsonschema package (Draft 7).

Hypothesis draws JSON instances and small schemas over the keywords that
validation supports (no `format`, no remote `$ref`, patterns from a fixed
list); each instance is written as YAML text (its JSON text, with what the
reader refuses escaped), and `loads(text, schema=s)` must pass exactly when
`Draft7Validator(s).is_valid(instance)`.

KNOWN_DIFFERENCES lists where the two disagree on purpose, with the reason;
the property test steers around them, and test_known_difference shows each
one."""
import json

import pytest
from hypothesis import HealthCheck, assume, given, settings, strategies as st

jsonschema = pytest.importorskip("jsonschema")

from ostrevane import OPT_ROUND_TRIP, loads  # noqa: E402
from ostrevane.exceptions import OstrevaneSchemaError  # noqa: E402

# (name, reason, schema, instance): the instance passes one validator and
# fails the other.
KNOWN_DIFFERENCES = [
    ("fractional multipleOf",
     "multipleOf allows a relative rounding tolerance of a few units in the last place, so 0.3 "
     "is a multiple of 0.1; jsonschema divides exactly in floats and rejects it",
     {"multipleOf": 0.1}, 0.3),
    ("multipleOf of a float",
     "the same tolerance applies to a float instance with an integer divisor, and grows with "
     "the value: 4.000000000000001 is a multiple of 2, and so is 590311605156094.0 of 3",
     {"multipleOf": 3}, 590311605156094.0),
    ("booleans nested in enum",
     "jsonschema's enum compares arrays and objects with Python's ==, where true equals 1; "
     "validation keeps booleans and numbers apart at every depth",
     {"enum": [[1]]}, [True]),
    ("booleans nested in uniqueItems",
     "jsonschema's uniqueItems compares sorted neighbours only, and sorting keeps [1], [true] "
     "and [1] in place, so the repeat of [1] is missed",
     {"uniqueItems": True}, [[1], [True], [1]]),
    ("integers beyond 2**53 against floats",
     "an integer is compared with a float through the float, so 2**53 + 1 equals 2.0**53; "
     "Python compares them exactly",
     {"const": 2.0**53}, 2**53 + 1),
    ("integers beyond 64 bits against floats",
     "an integer beyond 64 bits keeps its digits and never equals a float; Python compares "
     "values, so 2**70 equals 2.0**70",
     {"const": 2.0**70}, 2**70),
    ("additionalItems beside a boolean items",
     "jsonschema fails with a TypeError on additionalItems when items is true or false; "
     "validation reads additionalItems only beside a list of items",
     {"items": True, "additionalItems": False}, [1]),
    ("additionalItems on extra items that do not sort",
     "jsonschema sorts the extra items for its message and fails with a TypeError when they do "
     "not sort (two nulls); validation records each extra item",
     {"items": [], "additionalItems": False}, [None, None]),
    ("$ before a final line feed",
     "a pattern's $ matches only at the very end of the text; Python's re also matches before a "
     "final line feed",
     {"pattern": "a$"}, "a\n"),
]

PATTERNS = ["^a", "b$", "^[a-c]+$", "\\d", "^x-", "\u00e9", "^.{2,3}$", "\\w", "^$", "a|1",
            "\\s", "^[^a]"]
NAMES = ["a", "b", "c", "x-a", "x-b", "1", "true", "ab", "\u00e9", ""]
# Characters whose classes (\d, \w, \s) the two engines agree on. No line
# feed: see KNOWN_DIFFERENCES.
ALPHABET = "abcx1 -_.\t\u00e9\u00f6\u0663\u65e5\U0001f600\x7f\x85\u2028\ufeff"

names = st.sampled_from(NAMES)
texts = st.one_of(names, st.text(alphabet=ALPHABET, max_size=5))
numbers = st.one_of(st.integers(-2**53, 2**53), st.integers(-5, 5),
                    st.floats(allow_nan=False, allow_infinity=False),
                    st.sampled_from([0.5, 1.0, 2.0, -0.0, 1e16, 2.5]))
scalars = st.one_of(st.none(), st.booleans(), numbers, texts)
instances = st.recursive(
    scalars,
    lambda inner: st.one_of(st.lists(inner, max_size=4),
                            st.dictionaries(st.one_of(names, texts), inner, max_size=4)),
    max_leaves=12)
small = st.integers(0, 3)
bounds = st.one_of(st.integers(-5, 5), st.sampled_from([0.5, 2.0, -1.5]))
types = st.sampled_from(["null", "boolean", "integer", "number", "string", "array", "object"])

LEAF_KEYWORDS = {
    "type": st.one_of(types, st.lists(types, min_size=1, max_size=3, unique=True)),
    "enum": st.lists(instances, max_size=3),
    "const": instances,
    "minimum": bounds,
    "maximum": bounds,
    "exclusiveMinimum": bounds,
    "exclusiveMaximum": bounds,
    "multipleOf": st.sampled_from([1, 2, 3, 0.5, 0.1, 2.5]),
    "minLength": small,
    "maxLength": small,
    "pattern": st.sampled_from(PATTERNS),
    "required": st.lists(names, max_size=3, unique=True),
    "minProperties": small,
    "maxProperties": small,
    "minItems": small,
    "maxItems": small,
    "uniqueItems": st.booleans(),
}


def keyword_schemas(child):
    keywords = dict(LEAF_KEYWORDS)
    keywords.update({
        "properties": st.dictionaries(names, child, max_size=3),
        "patternProperties": st.dictionaries(st.sampled_from(PATTERNS), child, max_size=2),
        "additionalProperties": child,
        "propertyNames": child,
        "dependencies": st.dictionaries(
            names, st.one_of(st.lists(names, max_size=2, unique=True), child), max_size=2),
        "items": st.one_of(child, st.lists(child, max_size=3)),
        "additionalItems": child,
        "contains": child,
        "allOf": st.lists(child, min_size=1, max_size=3),
        "anyOf": st.lists(child, min_size=1, max_size=3),
        "oneOf": st.lists(child, min_size=1, max_size=3),
        "not": child,
    })
    chosen = st.lists(st.sampled_from(sorted(keywords)), min_size=1, max_size=3, unique=True)
    return chosen.flatmap(lambda names: st.fixed_dictionaries({n: keywords[n] for n in names}))


plain_schemas = st.recursive(st.booleans(), keyword_schemas, max_leaves=6)
REF = {"$ref": "#/definitions/d"}
# A reference into the root's definitions, which hold a schema without
# references, so nothing cycles.
schemas_with_refs = st.recursive(st.one_of(st.booleans(), st.just(REF)), keyword_schemas,
                                 max_leaves=6)
root_schemas = st.builds(lambda s, d: {"allOf": [s], "definitions": {"d": d}},
                         schemas_with_refs, plain_schemas)


def yaml_text(instance):
    """The instance's JSON text, with what the YAML reader refuses escaped."""
    def printable(c):
        o = ord(c)
        return (0x20 <= o <= 0x7E or 0xA0 <= o <= 0xD7FF and o not in (0x2028, 0x2029)
                or 0xE000 <= o <= 0xFFFD and o != 0xFEFF or o >= 0x10000)

    text = json.dumps(instance, ensure_ascii=False)
    return "".join(c if printable(c) else f"\\u{ord(c):04x}" for c in text) + "\n"


def theirs_valid(schema, instance):
    try:
        return jsonschema.Draft7Validator(schema).is_valid(instance)
    except TypeError as e:
        return e


def ours_valid(text, schema, option=0):
    try:
        loads(text, schema=schema, option=option)
    except OstrevaneSchemaError:
        return False
    return True


def walk(value):
    yield value
    if isinstance(value, dict):
        for k, v in value.items():
            yield k
            yield from walk(v)
    elif isinstance(value, list):
        for v in value:
            yield from walk(v)


def nested_bool(value):
    return any(isinstance(v, (list, dict)) and any(isinstance(i, bool) for i in
               (v.values() if isinstance(v, dict) else v)) for v in walk(value))


def known_difference(schema, instance):
    """The name of the known difference this case may meet, or None."""
    keys = {k for v in walk(schema) if isinstance(v, dict) for k in v}
    if any(isinstance(v, dict) and "additionalItems" in v and isinstance(v.get("items"), bool)
           for v in walk(schema)):
        return "additionalItems beside a boolean items"
    divisors = [v["multipleOf"] for v in walk(schema) if isinstance(v, dict) and "multipleOf" in v]
    if any(isinstance(d, float) and not d.is_integer() for d in divisors):
        return "fractional multipleOf"
    if divisors and any(isinstance(v, float) for v in walk(instance)):
        return "multipleOf of a float"
    if nested_bool(instance) or nested_bool(schema):
        if "enum" in keys:
            return "booleans nested in enum"
        if "uniqueItems" in keys:
            return "booleans nested in uniqueItems"
    return None


@settings(max_examples=600, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                                 HealthCheck.filter_too_much])
@given(schema=root_schemas, instance=instances)
def test_agrees_with_jsonschema(schema, instance):
    assume(known_difference(schema, instance) is None)
    text = yaml_text(instance)
    assert loads(text) == instance
    expected = theirs_valid(schema, instance)
    # jsonschema's own failures: see "additionalItems" in KNOWN_DIFFERENCES.
    assume(not isinstance(expected, TypeError))
    assert ours_valid(text, schema) == expected, (text, schema)
    assert ours_valid(text, schema, OPT_ROUND_TRIP) == expected, (text, schema)


@pytest.mark.parametrize("name,reason,schema,instance", KNOWN_DIFFERENCES,
                         ids=[d[0] for d in KNOWN_DIFFERENCES])
def test_known_difference(name, reason, schema, instance):
    text = yaml_text(instance)
    assert loads(text) == instance
    assert ours_valid(text, schema) != theirs_valid(schema, instance)


@pytest.mark.parametrize("instance", [None, True, 0, -0.0, 2**53, 1e300, "", "\x7f\u2028\ufeff",
                                      {"": [{}]}, [1, "a", {"k": None}]])
def test_instances_read_back_from_their_text(instance):
    assert loads(yaml_text(instance)) == instance

"""dumps with a represent callback that answers with descriptors: explicit and
automatic scalar styles, tags, sequence and mapping descriptors with their flow
override, and comments with the rules that keep every one of them in the
written text."""

import string

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import ostrevane as o
from ostrevane.exceptions import OstrevaneEncodeError
from edit_steps import node_at as at_path

S, Q, M = o.OstrevaneScalar, o.OstrevaneSequence, o.OstrevaneMapping


def same(obj):
    """Descriptors placed in the data answer for themselves."""
    return obj if isinstance(obj, (S, Q, M)) else None


def dump(obj, **kwargs):
    return o.dumps(obj, represent=same, **kwargs).decode()


def recording(seen):
    """`same`, noting every object it is called with in `seen`."""

    def record(obj):
        seen.append(obj)
        return same(obj)

    return record


def refused(obj, **kwargs):
    with pytest.raises(ValueError) as info:
        dump(obj, **kwargs)
    return str(info.value)


def style_message(style, reason):
    return (
        f"a {style} scalar cannot represent this value without changing it on reload "
        f'({reason}); use "double" or the default style'
    )


AFTER_PLACEMENT = (
    "comment_after is only supported on a block mapping, a block sequence, or the document root"
)
KEY_OWN = "a mapping key cannot carry an inline comment or comment_after"
INSIDE_KEY = "a comment inside a mapping key is not supported, since the key must stay on one line"
NOT_WRITABLE = "an inline comment cannot be written here; use comment_before or comment_after"
HEAD_PLACEMENT = (
    "comment_before cannot be written above the first item of a block sequence whose dash line "
    "carries a comment; set the sequence's comment_before instead"
)


# ---------------------------------------------------------------------------
# Explicit styles.

LINE_BREAK = "a plain scalar cannot hold a line break"
CONTROL = "it contains a tab or control character"
SPACES = "leading or trailing spaces would be trimmed on reload"
INDICATOR = "it begins with a YAML indicator"
MARKER = "it re-reads as a document marker"
HASH = "it contains a ' #' comment starter"
COLON = "it contains a ':' mapping indicator"
OTHER_VALUE = "a reader could take it for a value other than this string"


@pytest.mark.parametrize(
    "text,style,reason",
    [
        ("", "plain", "an empty string has no plain rendering"),
        ("a\nb", "plain", LINE_BREAK),
        ("a\rb", "plain", LINE_BREAK),
        ("a\tb", "plain", CONTROL),
        ("a\x01b", "plain", CONTROL),
        ("a\x7fb", "plain", CONTROL),
        ("a\x9fb", "plain", CONTROL),
        ("a\ufffeb", "plain", CONTROL),
        ("\ufeffa", "plain", "a leading byte order mark would be stripped on reload"),
        (" a", "plain", SPACES),
        ("a ", "plain", SPACES),
        *[(c + "a", "plain", INDICATOR) for c in "!\"#%&'*,>@[]`{|}"],
        ("-", "plain", INDICATOR),
        ("- a", "plain", INDICATOR),
        ("?", "plain", INDICATOR),
        ("? a", "plain", INDICATOR),
        (":", "plain", INDICATOR),
        (": a", "plain", INDICATOR),
        ("---", "plain", MARKER),
        ("...", "plain", MARKER),
        ("--- a", "plain", MARKER),
        ("... a", "plain", MARKER),
        ("a #b", "plain", HASH),
        ("a: b", "plain", COLON),
        ("a:", "plain", COLON),
        # One scan: whichever marker comes first names the reason.
        ("a: b #c", "plain", COLON),
        ("a #b: c", "plain", HASH),
        # Untagged, a plain text reads back by the resolver.
        ("123", "plain", OTHER_VALUE),
        ("true", "plain", OTHER_VALUE),
        # The checks run in their order: a line break before a leading space.
        (" a\n", "plain", LINE_BREAK),
        ("a\nb", "single", "single quotes cannot hold a line break"),
        ("a\rb", "single", "single quotes cannot hold a line break"),
        ("a\x01b", "single", "single quotes cannot escape a control character"),
        ("a\r\nb", "literal", "it contains a carriage return"),
        ("a\n\x01b", "literal", "it contains a non-printable control character"),
        (" a\nb", "literal", "its first line begins with whitespace"),
        ("\n a", "literal", "its first line begins with whitespace"),
        ("\ta", "literal", "its first line begins with whitespace"),
        ("a\rb", "folded", "it contains a carriage return"),
        ("a\x01", "folded", "it contains a non-printable control character"),
        ("a\nb", "folded", "folding would rewrite its line breaks"),
        (" a", "folded", "its first line begins with whitespace"),
    ],
)
def test_explicit_style_refusals(text, style, reason):
    assert refused([S(text, style=style)]) == style_message(style, reason)


@pytest.mark.parametrize(
    "text,style,written,loaded",
    [
        ("-a", "plain", "-a\n", "-a"),
        ("?a", "plain", "?a\n", "?a"),
        ("a:b", "plain", "a:b\n", "a:b"),
        ("a#b", "plain", "a#b\n", "a#b"),
        ("a b", "plain", "a b\n", "a b"),
        ("a\tb", "single", "'a\tb'\n", "a\tb"),
        ("it's", "single", "'it''s'\n", "it's"),
        ("a\nb\x01", "double", '"a\\nb\\x01"\n', "a\nb\x01"),
        ("a\nb\n", "literal", "|\n  a\n  b\n", "a\nb\n"),
        ("a\tb\nc", "literal", "|-\n  a\tb\n  c\n", "a\tb\nc"),
        ("one line", "folded", ">-\n  one line\n", "one line"),
    ],
)
def test_explicit_styles_accepted(text, style, written, loaded):
    assert dump(S(text, style=style)) == written
    assert o.loads(written) == loaded


# Texts a reader takes for something other than the string, in the output's
# mode: the writers' plain-safety rule, which default strings follow too.
OTHER_VALUE_TEXTS = [
    ("<<", 0), ("true", 0), ("False", 0), ("1", 0), ("~", 0), ("null", 0), (".inf", 0),
    ("-1", 0), ("-.inf", 0), ("+1", 0), ("1e3", 0), ("yes", 0), ("off", 0), ("0b1", 0),
    ("1_000", 0), ("-0o17", 0),
    ("y", o.OPT_YAML_1_1), ("=", o.OPT_YAML_1_1), ("1:30", o.OPT_YAML_1_1),
    ("-1:30", o.OPT_YAML_1_1), ("2001-12-14", o.OPT_YAML_1_1),
    ("2001-12-14", o.OPT_PYYAML_COMPAT), ("=", o.OPT_PYYAML_COMPAT),
]


@pytest.mark.parametrize("text,option", OTHER_VALUE_TEXTS)
@pytest.mark.parametrize("place", ["root", "item", "value", "key", "flow"])
def test_explicit_plain_refuses_a_text_read_back_as_another_value(text, option, place):
    scalar = S(text, style="plain")
    data = {"root": scalar, "item": [scalar], "value": {"k": scalar},
            "key": M([(scalar, {"a": 1})]), "flow": Q([scalar], flow=True)}[place]
    assert refused(data, option=option) == style_message("plain", OTHER_VALUE)


@pytest.mark.parametrize(
    "text,option",
    [("y", 0), ("=", 0), ("1:30", 0), ("2001-12-14", 0), ("y", o.OPT_PYYAML_COMPAT),
     ("-a", 0), ("?a", 0), (":a", 0), ("-a", o.OPT_YAML_1_1), ("1a", 0), ("Yes please", 0)],
)
def test_explicit_plain_keeps_a_text_that_reads_back_as_itself(text, option):
    out = dump({S(text, style="plain"): S(text, style="plain")}, option=option)
    assert out == f"{text}: {text}\n"
    assert o.loads(out, option=option) == {text: text}


def test_an_explicit_plain_merge_key_is_refused():
    # Written as '<<:', the key read back as a merge: {'a': 1}, and a list
    # value lost its items.
    def plain_merge_key(obj):
        return S(obj, style="plain") if obj == "<<" else None

    for data in ({"<<": {"a": 1}}, {"<<": [True, None, None]}, {"k": {"<<": 1}}):
        with pytest.raises(ValueError) as info:
            o.dumps(data, represent=plain_merge_key)
        assert str(info.value) == style_message("plain", OTHER_VALUE)
    # The default style quotes it; a tag says what it reads back as.
    assert o.dumps({"<<": {"a": 1}}, represent=lambda obj: None) == b'"<<":\n  a: 1\n'
    out = dump(M([(S("<<", tag="!!str", style="plain"), {"a": 1})]))
    assert out == "!!str <<:\n  a: 1\n"
    assert o.loads(out) == {"<<": {"a": 1}}


def test_a_text_of_line_feeds_is_accepted_as_literal():
    out = dump(S("\n\n", style="literal"))
    assert o.loads(out) == "\n\n"


@pytest.mark.parametrize("style", ["literal", "folded"])
def test_block_styles_become_double_quoted_in_flow_and_as_keys(style):
    # Refused texts too: the effective style is double-quoted, which holds anything.
    assert dump(Q([S(" a\nb", style=style)], flow=True)) == '[" a\\nb"]\n'
    assert dump(M([(S("a\nb", style=style), 1)])) == '"a\\nb": 1\n'
    assert dump([[S("a\nb", style=style)]], option=o.OPT_FLOW_STYLE) == '[["a\\nb"]]\n'


def test_the_error_names_the_effective_style():
    assert refused(M([(S("a\tb", style="plain"), 1)])) == style_message("plain", CONTROL)
    assert refused(Q([S("a\nb", style="single")], flow=True)) == style_message(
        "single", "single quotes cannot hold a line break"
    )


def test_an_explicit_style_keeps_the_tag():
    assert dump(S("42", tag="!!int", style="plain")) == "!!int 42\n"
    assert dump(S("42", tag="tag:yaml.org,2002:int", style="double")) == '!!int "42"\n'


# ---------------------------------------------------------------------------
# Automatic style.


@pytest.mark.parametrize("text", ["abc", "123", "", "it's: x", "a\tb", "true", "a\nb"])
@pytest.mark.parametrize("option", [0, o.OPT_SINGLE_QUOTES, o.OPT_YAML_1_1])
def test_auto_without_a_tag_chooses_as_for_default_strings(text, option):
    assert dump([S(text)], option=option) == o.dumps([text], represent=lambda obj: None,
                                                      option=option).decode()


def test_auto_literal_blocks_and_their_context():
    assert dump([S("a\nb")]) == "- |-\n  a\n  b\n"
    assert dump(M([(S("a\nb"), 1)])) == '"a\\nb": 1\n'
    assert dump(Q([S("a\nb")], flow=True)) == '["a\\nb"]\n'


@pytest.mark.parametrize(
    "tag,text,written",
    [
        ("!!null", "~", "~"),
        ("!!null", "null", "null"),
        ("!!bool", "true", "true"),
        ("!!int", "42", "42"),
        ("!!int", "0x1F", "0x1F"),
        ("!!int", str(2**70), str(2**70)),
        ("!!float", "1.5", "1.5"),
        ("!!float", ".inf", ".inf"),
        # Text that its plain reading does not express keeps the tag, quoted.
        ("!!null", "v", "!!null 'v'"),
        ("!!bool", "yes", "!!bool 'yes'"),
        ("!!int", "abc", "!!int 'abc'"),
        ("!!float", "12", "!!float '12'"),
        ("!!int", "a\nb", '!!int "a\\nb"'),
    ],
)
def test_auto_with_standard_tags(tag, text, written):
    assert dump([S(text, tag=tag)]) == f"- {written}\n"


def test_auto_with_a_tag_resolves_in_the_mode_of_the_call():
    assert dump([S("yes", tag="!!bool")], option=o.OPT_YAML_1_1) == "- yes\n"
    assert dump([S("yes", tag="!!bool")], option=o.OPT_PYYAML_COMPAT) == "- yes\n"
    assert dump([S("0o17", tag="!!int")]) == "- 0o17\n"
    assert dump([S("0o17", tag="!!int")], option=o.OPT_YAML_1_1) == "- !!int '0o17'\n"


@pytest.mark.parametrize(
    "text,written",
    [
        ("abc", "abc"),
        ("a\tb", '"a\\tb"'),
        ("a\nb", "|-\n  a\n  b"),
        # Read plain as something else: quoted, single quotes whatever the preference.
        ("123", "'123'"),
        ("", "''"),
        ("true", "'true'"),
        ("a\n1", "|-\n  a\n  1"),
    ],
)
def test_auto_with_the_str_tag_drops_it(text, written):
    assert dump([S(text, tag="!!str")]) == f"- {written}\n"
    assert dump([S(text, tag="tag:yaml.org,2002:str")]) == f"- {written}\n"
    assert o.loads(dump([S(text, tag="!!str")])) == [text]


def test_auto_with_the_str_tag_in_context():
    assert dump(M([(S("a\nb", tag="!!str"), 1)])) == '"a\\nb": 1\n'


@pytest.mark.parametrize(
    "text,written",
    [
        ("abc", "!c 'abc'"),
        ("123", "!c '123'"),
        ("it's", "!c 'it''s'"),
        ("a\nb", '!c "a\\nb"'),
        ("a\tb", '!c "a\\tb"'),
    ],
)
def test_auto_with_custom_tags_keeps_them_on_a_quoted_scalar(text, written):
    assert dump([S(text, tag="!c")]) == f"- {written}\n"


def test_long_tags_are_shortened():
    assert dump(S("x", tag="tag:yaml.org,2002:binary")) == "!!binary 'x'\n"
    assert dump(S("7", tag="tag:yaml.org,2002:int")) == "7\n"
    assert dump(Q([1], tag="tag:yaml.org,2002:omap")) == "!!omap\n  - 1\n"


def test_full_tags_are_written_verbatim():
    # A tag a %TAG handle gave on loading used to be refused: "a tag must
    # start with '!'".
    assert dump(S("x", tag="tag:example.com,2000:s")) == "!<tag:example.com,2000:s> 'x'\n"
    assert dump(Q([1], tag="tag:example.com,2000:q")) == "!<tag:example.com,2000:q>\n  - 1\n"
    assert dump(o.OstrevaneTag("tag:example.com,2000:t", 1)) == "!<tag:example.com,2000:t> 1\n"
    seen = []
    o.loads(dump(S("x", tag="tag:example.com,2000:s")),
            tag_handler=lambda name, value: seen.append((name, value)))
    assert seen == [("tag:example.com,2000:s", "x")]


def test_tags_are_validated():
    with pytest.raises(OstrevaneEncodeError) as info:
        dump([S("x", tag="bad tag")])
    assert str(info.value) == ("invalid tag \"bad tag\": a tag cannot contain whitespace or "
                               "control characters (found ' ')")
    with pytest.raises(OstrevaneEncodeError):
        dump([Q([1], tag="bad tag")])
    with pytest.raises(OstrevaneEncodeError):
        dump([M([], tag="bad tag")])


# ---------------------------------------------------------------------------
# Sequence and mapping descriptors.


def test_flow_override_outside_flow():
    assert dump(Q([1, [2]], flow=True)) == "[1, [2]]\n"
    assert dump({"k": M([("a", [1])], flow=True)}) == "k: {a: [1]}\n"
    assert dump([Q([1, 2], flow=False)], option=o.OPT_FLOW_STYLE) == "[[1, 2]]\n"
    assert dump(Q([1, [2]], flow=False), option=o.OPT_FLOW_STYLE) == "- 1\n- [2]\n"


def test_flow_override_inside_flow_has_no_effect():
    assert dump([Q([1, [2, Q([3], flow=False)]], flow=True)]) == "- [1, [2, [3]]]\n"
    assert dump(Q([M([("a", 1)], flow=False)], flow=True)) == "[{a: 1}]\n"


def test_collections_as_keys():
    assert dump(M([(Q(["a", "b"]), 1)])) == "[a, b]: 1\n"
    assert dump(M([(["a"], 1)])) == "[a]: 1\n"
    out = dump(M([(Q(["a", "b"], flow=False), 1)]))
    assert out == "?\n  - a\n  - b\n: 1\n"


def test_collection_tags_are_kept():
    assert dump(Q([1], tag="!!seq")) == "!!seq\n  - 1\n"
    assert dump({"k": M([("a", 1)], tag="!cfg")}) == "k: !cfg\n  a: 1\n"
    assert dump([M([("a", 1)], tag="!cfg")]) == "- !cfg\n  a: 1\n"
    assert dump([Q([], tag="!e")]) == "- !e []\n"


def test_mapping_pairs_keep_duplicates_and_sort_like_dict_keys():
    assert dump(M([("a", 1), ("a", 2)])) == "a: 1\na: 2\n"
    assert dump(M([("b", 1), ("a", 2)]), option=o.OPT_SORT_KEYS) == "a: 2\nb: 1\n"


@pytest.mark.parametrize(
    "pairs,message",
    [
        ([["a", 1]], "a OstrevaneMapping pair must be a (key, value) tuple"),
        ({"a": 1}, "a OstrevaneMapping pair must be a (key, value) tuple"),
        ([("a",)], "a OstrevaneMapping pair must be a (key, value) tuple of exactly two items"),
        ([("a", 1, 2)], "a OstrevaneMapping pair must be a (key, value) tuple of exactly two items"),
    ],
)
def test_pair_shape_errors_come_before_anything_is_represented(pairs, message):
    seen = []
    record = recording(seen)
    with pytest.raises(ValueError) as info:
        o.dumps([M([("first", 0), *pairs])], represent=record)
    assert str(info.value) == message
    assert not any(obj == "first" for obj in seen)


class LoggingList(list):
    """A list whose iteration is recorded in `log`."""

    def __init__(self, items, log):
        super().__init__(items)
        self.log = log

    def __iter__(self):
        for item in super().__iter__():
            self.log.append(("next", item))
            yield item


@pytest.mark.parametrize("make", [Q, lambda items: M([(k, v) for k, v in items])])
def test_items_and_pairs_are_consumed_before_anything_is_represented(make):
    log = []
    if make is Q:
        descriptor = Q(LoggingList(["a", "b"], log))
    else:
        descriptor = M(LoggingList([("a", 1), ("b", 2)], log))

    def record(obj):
        if obj is not descriptor:
            log.append(("represent", obj))
        return same(obj)

    o.dumps(descriptor, represent=record)
    kinds = [entry[0] for entry in log]
    assert kinds == ["next", "next"] + ["represent"] * (len(kinds) - 2)


def test_iteration_errors_are_raised_unchanged():
    class Broken(list):
        def __iter__(self):
            raise KeyError("broken")

    with pytest.raises(KeyError):
        dump(Q(Broken([1])))


@pytest.mark.parametrize("result", [1, "text", {}, [S("x")], o.OstrevaneScalar])
def test_other_results_are_refused(result):
    with pytest.raises(TypeError) as info:
        o.dumps(1, represent=lambda obj: result)
    assert str(info.value) == (
        "a represent callback must return a ostrevane.OstrevaneScalar, "
        "ostrevane.OstrevaneSequence, ostrevane.OstrevaneMapping, or None"
    )


def test_descriptor_subclasses_are_descriptors():
    class Mine(S):
        pass

    assert dump(Mine("x", style="double")) == '"x"\n'


def test_a_descriptor_for_a_shared_object_is_anchored():
    shared = ["a"]
    calls = []

    def describe(obj):
        if obj is shared:
            calls.append(obj)
            return Q(obj, flow=True, comment="once")
        return None

    out = o.dumps([shared, shared], represent=describe).decode()
    assert out == "- &id001 [a] # once\n- *id001\n"
    assert len(calls) == 1


# ---------------------------------------------------------------------------
# Comments.


def test_scalar_comments_at_the_root():
    out = dump(S("x", comment_before="b1\nb2", comment="c", comment_after="a1\na2"))
    assert out == "# b1\n# b2\nx # c\n# a1\n# a2\n"


def test_root_collections_take_lines_above_and_after():
    assert dump(M([("a", 1)], comment_before="top", comment_after="end")) == (
        "# top\na: 1\n# end\n"
    )
    assert dump(Q([1], comment_before="top", comment_after="end")) == "# top\n- 1\n# end\n"
    assert dump(Q([1], flow=True, comment="c", comment_after="z")) == "[1] # c\n# z\n"
    assert dump(M([], comment="e", comment_after="z")) == "{} # e\n# z\n"


def test_comments_on_items():
    out = dump(Q([S("a", comment="ca"), S("b", comment_before="hb"), 1]))
    assert out == "- a # ca\n# hb\n- b\n- 1\n"
    out = dump([1, Q([2, 3], comment="seq", comment_after="after")])
    assert out == "- 1\n- # seq\n  - 2\n  - 3\n  # after\n"
    assert dump([M([("x", 1)], comment="c")]) == "- # c\n  x: 1\n"


def test_comments_on_mapping_values():
    out = dump({"a": M([("x", 1)], comment_before="vh", comment="vi", comment_after="va"), "b": 2})
    assert out == "# vh\na: # vi\n  x: 1\n  # va\nb: 2\n"
    assert dump({"a": Q([2, 3], flow=True, comment="fc")}) == "a: [2, 3] # fc\n"
    assert dump({"a": S("x", comment="c")}) == "a: x # c\n"


@pytest.mark.parametrize(
    "option, data, written",
    [
        (0, {"a": Q([1], comment_after="after"), "b": 2}, "a:\n  - 1\n  # after\nb: 2\n"),
        # At its key's column the lines were read back as the next key's.
        (o.OPT_INDENTLESS_SEQUENCES, {"a": Q([1], comment_after="after"), "b": 2},
         "a:\n  - 1\n  # after\nb: 2\n"),
        (o.OPT_INDENTLESS_SEQUENCES, {"b": 2, "a": Q([1], comment_after="after")},
         "b: 2\na:\n- 1\n# after\n"),
        (o.OPT_INDENTLESS_SEQUENCES, {"a": Q([1]), "b": 2}, "a:\n- 1\nb: 2\n"),
    ],
)
def test_lines_after_a_sequence_value_read_back_as_its_own(option, data, written):
    out = o.dumps(data, represent=same, option=option).decode()
    assert out == written
    after = o.loads(out, option=o.OPT_ROUND_TRIP).node["a"].comment_after
    assert after == ("after" if "after" in written else None)


def test_comments_in_flow_collections_put_entries_on_lines():
    out = dump(Q([S("a", comment="ca"), S("b", comment_before="hb")], flow=True))
    assert out == "[\n    a, # ca\n    # hb\n    b\n  ]\n"
    assert o.loads(out) == ["a", "b"]
    out = dump(M([(S("k", comment_before="kh"), S("v", comment_before="vh"))], flow=True))
    assert out == "{\n    # kh\n    # vh\n    k: v\n  }\n"
    assert o.loads(out) == {"k": "v"}


def test_value_head_lines_move_above_the_key_after_the_keys_own():
    out = dump(M([(S("a", comment_before="kh"), S("x", comment_before="vh1\nvh2"))]))
    assert out == "# kh\n# vh1\n# vh2\na: x\n"
    out = dump({"a": Q([1], comment_before="vh")})
    assert out == "# vh\na:\n  - 1\n"


def test_key_comment_checks():
    assert dump(M([(S("k", comment_before="above"), 1)])) == "# above\nk: 1\n"
    assert refused(M([(S("k", comment="c"), 1)])) == KEY_OWN
    assert refused(M([(S("k", comment=""), 1)])) == KEY_OWN
    # The placement rule comes first for a scalar key.
    assert refused(M([(S("k", comment_after="c"), 1)])) == AFTER_PLACEMENT
    assert refused(M([(Q(["a"], flow=False, comment_after="c"), 1)])) == KEY_OWN
    assert refused(M([(Q([S("a", comment_before="h")]), 1)])) == INSIDE_KEY
    assert refused(M([(Q([S("a", comment="c")]), 1)])) == INSIDE_KEY
    assert refused(M([(Q([1, Q([S("a", comment="c")])]), 1)])) == INSIDE_KEY
    assert refused(M([(M([("x", S("y", comment_before="h"))]), 1)])) == INSIDE_KEY
    assert dump(M([(Q([1], flow=False), 1)])) == "?\n  - 1\n: 1\n"


def test_key_checks_stop_before_the_value_is_represented():
    seen = []
    record = recording(seen)
    with pytest.raises(ValueError):
        o.dumps(M([(S("k", comment="c"), "value")]), represent=record)
    assert "value" not in seen


@pytest.mark.parametrize(
    "descriptor",
    [
        S("x", comment_after="a"),
        S("x", comment_after=""),
        Q([1], flow=True, comment_after="a"),
        Q([], comment_after="a"),
        M([], comment_after="a"),
        M([("a", 1)], flow=True, comment_after="a"),
    ],
)
def test_comment_after_refusals(descriptor):
    assert refused({"k": descriptor}) == AFTER_PLACEMENT
    assert refused([descriptor]) == AFTER_PLACEMENT
    # The object given to dumps takes lines after it in any form.
    assert dump(descriptor).endswith("# a\n" if descriptor.comment_after else "\n")


def test_comment_after_inside_flow_is_refused_even_for_a_block_override():
    assert refused(Q([Q([1], flow=False, comment_after="a")], flow=True)) == AFTER_PLACEMENT
    assert refused([Q([1], comment_after="a")], option=o.OPT_FLOW_STYLE) == AFTER_PLACEMENT


def test_cr_and_crlf_become_line_breaks():
    assert dump(S("x", comment_before="a\r\nb\rc\n")) == "# a\n# b\n# c\nx\n"
    assert dump([Q([1], comment_after="a\r\nb\r\n")]) == "-\n  - 1\n  # a\n  # b\n"


def test_line_structure_of_comment_texts():
    assert dump(S("x", comment_before="a\nb\n")) == "# a\n# b\nx\n"
    assert dump(S("x", comment_before="a\n\nb")) == "# a\n#\n# b\nx\n"
    assert dump(S("x", comment_before="\n")) == "#\nx\n"


def test_empty_comments():
    assert dump(S("x", comment_before="", comment="", comment_after="")) == "x #\n"
    assert dump([S("x", comment_before="")]) == "- x\n"
    assert dump(M([("a", 1)], comment_after="")) == "a: 1\n"


# ---------------------------------------------------------------------------
# Mends.


def test_head_lines_of_a_first_key_in_a_sequence_item_are_written():
    # The compact form "- k: 1" has no line above its first key: the item
    # opens on the next line instead.
    out = dump({"a": [M([(S("k", comment_before="head k"), 1), ("j", 2)])]})
    assert out == "a:\n  -\n    # head k\n    k: 1\n    j: 2\n"
    assert o.loads(out) == {"a": [{"k": 1, "j": 2}]}


def test_head_lines_of_a_first_value_in_a_sequence_item_are_written():
    out = dump([M([("k", S("v", comment_before="head v")), ("j", 2)])])
    assert out == "-\n  # head v\n  k: v\n  j: 2\n"
    assert o.loads(out) == [{"k": "v", "j": 2}]


def test_head_lines_of_a_first_item_of_a_nested_sequence_are_written():
    out = dump([[S("a", comment_before="h")]])
    assert out == "-\n  -\n    # h\n    a\n"
    assert o.loads(out) == [["a"]]


# Comments on the items of a block sequence, given by a descriptor or set on a
# round-trip document's cursor (in either order), read back from the same item.
# A block collection writes its comment on its dash line; as the first item it
# then has no place for lines of its own (above the first dash they are the
# sequence's, below a commented dash its first entry's): refused.
ITEM_KINDS = {
    "mapping": lambda **comments: M([("a", 1)], **comments),
    "sequence": lambda **comments: Q([1, 2], **comments),
    "flow sequence": lambda **comments: Q([1, 2], flow=True, **comments),
    "scalar": lambda **comments: S("x", **comments),
}
SEQUENCE_PLACES = {
    "root": (lambda seq: seq, []),
    "under a key": (lambda seq: {"z": 0, "k": seq}, ["k"]),
    "in a sequence": (lambda seq: [seq, "r"], [0]),
    "in an item's mapping": (lambda seq: [{"k": seq}], [0, "k"]),
}
ITEM_COMMENTS = {
    "lines": {"comment_before": "b"},
    "comment": {"comment": "c"},
    "both": {"comment_before": "b1\nb2", "comment": "c"},
}


@pytest.mark.parametrize("road", ["represent", "edit, lines first", "edit, comment first"])
@pytest.mark.parametrize("comments", list(ITEM_COMMENTS))
@pytest.mark.parametrize("position", [0, 1])
@pytest.mark.parametrize("place", list(SEQUENCE_PLACES))
@pytest.mark.parametrize("kind", list(ITEM_KINDS))
def test_comments_on_block_sequence_items_read_back_as_given(kind, place, position, comments,
                                                             road):
    wrap, path = SEQUENCE_PLACES[place]
    path = path + [position]
    given = ITEM_COMMENTS[comments]

    def data(**item_comments):
        items = [S("p"), S("q")]
        items[position] = ITEM_KINDS[kind](**item_comments)
        return wrap(items)

    clash = position == 0 and kind in ("mapping", "sequence") and comments == "both"
    if road == "represent":
        if clash:
            assert refused(data(**given)) == HEAD_PLACEMENT
            return
        out = dump(data(**given))
    else:
        doc = o.loads(dump(data()), option=o.OPT_ROUND_TRIP)
        order = ["comment_before", "comment"]
        if road == "edit, comment first":
            order.reverse()
        members = [member for member in order if member in given]
        for member in members[:-1]:
            setattr(at_path(doc, path), member, given[member])
        if clash:
            with pytest.raises(ValueError) as info:
                setattr(at_path(doc, path), members[-1], given[members[-1]])
            assert str(info.value) == HEAD_PLACEMENT
            given = {members[0]: given[members[0]]}
        else:
            setattr(at_path(doc, path), members[-1], given[members[-1]])
        out = doc.to_yaml().decode()
    item = at_path(o.loads(out, option=o.OPT_ROUND_TRIP), path)
    assert (item.comment_before, item.comment) == (given.get("comment_before"),
                                                    given.get("comment"))
    assert o.loads(out) == o.loads(dump(data()))


def test_comments_on_a_first_mapping_item_are_refused_not_moved():
    # Both used to be written below the dash, read back as comment_before
    # 'b\nc' and no comment.
    def rep(obj):
        if type(obj) is dict:
            return M(list(obj.items()), comment="c", comment_before="b")
        return None

    for data in ([{"a": 1}], [{"a": 1}, {"b": 2}], [[{"a": 1}]]):
        with pytest.raises(ValueError) as info:
            o.dumps(data, represent=rep)
        assert str(info.value) == HEAD_PLACEMENT
    # A later item keeps both; so does a first item with either one.
    out = o.dumps([1, {"b": 2}], represent=rep).decode()
    assert out == "- 1\n# b\n- # c\n  b: 2\n"
    assert (at_path(o.loads(out, option=o.OPT_ROUND_TRIP), [1]).comment_before,
            at_path(o.loads(out, option=o.OPT_ROUND_TRIP), [1]).comment) == ("b", "c")
    assert dump([M([("a", 1)], comment="c")]) == "- # c\n  a: 1\n"
    assert dump([M([("a", 1)], comment_before="b")]) == "-\n  # b\n  a: 1\n"


@pytest.mark.parametrize(
    "descriptor",
    [M([("a", 1)], comment="c"), Q([1], comment="c"), M([("a", 1)], comment="")],
)
def test_an_inline_comment_on_a_block_collection_root_is_refused(descriptor):
    assert refused(descriptor) == NOT_WRITABLE


def test_inline_comments_on_other_roots_are_written():
    assert dump(Q([1], flow=True, comment="c")) == "[1] # c\n"
    assert dump(Q([], comment="c")) == "[] # c\n"
    assert dump(M([("a", 1)], comment="c"), option=o.OPT_FLOW_STYLE) == "{a: 1} # c\n"


# ---------------------------------------------------------------------------
# Every comment that is accepted is written, and the text reads back.

COMMENT_TEXT = st.text(alphabet=string.ascii_letters + string.digits + " #:-'\"!&*é€", max_size=12)
SCALAR_TEXT = st.text(alphabet=string.ascii_letters + string.digits + " #:-'\"[]{},\n\té", max_size=10)
OPTIONAL_COMMENT = st.one_of(st.none(), COMMENT_TEXT)
OPTIONAL_LINES = st.one_of(st.none(), st.lists(COMMENT_TEXT, max_size=3).map("\n".join))


class Built:
    """A descriptor with the plain value it stands for and its comment lines."""

    def __init__(self, descriptor, value, lines):
        self.descriptor, self.value, self.lines = descriptor, value, lines


def comment_lines(before, inline, after):
    lines = []
    for text in (before, after):
        if text:
            lines.extend(text.split("\n"))
    if inline is not None:
        lines.append(inline)
    return lines


@st.composite
def scalar_desc(draw):
    text = draw(SCALAR_TEXT)
    before, inline = draw(OPTIONAL_LINES), draw(OPTIONAL_COMMENT)
    tag = draw(st.sampled_from([None, "!!str", "tag:yaml.org,2002:str"]))
    return Built(S(text, tag=tag, comment_before=before, comment=inline), text,
                 comment_lines(before, inline, None))


@st.composite
def key_desc(draw):
    text = draw(SCALAR_TEXT)
    before = draw(OPTIONAL_LINES)
    return Built(S(text, comment_before=before), text, comment_lines(before, None, None))


def collection_desc(children):
    @st.composite
    def build(draw):
        before, inline = draw(OPTIONAL_LINES), draw(OPTIONAL_COMMENT)
        if draw(st.booleans()):
            items = draw(st.lists(children, max_size=3))
            after = draw(OPTIONAL_LINES) if items else None
            desc = Q([b.descriptor for b in items], comment_before=before, comment=inline,
                     comment_after=after)
            value = [b.value for b in items]
        else:
            keys = draw(st.lists(key_desc(), max_size=3, unique_by=lambda b: b.value))
            values = [draw(children) for _ in keys]
            items = keys + values
            after = draw(OPTIONAL_LINES) if keys else None
            desc = M([(k.descriptor, v.descriptor) for k, v in zip(keys, values)],
                     comment_before=before, comment=inline, comment_after=after)
            value = {k.value: v.value for k, v in zip(keys, values)}
        lines = comment_lines(before, inline, after)
        for b in items:
            lines.extend(b.lines)
        return Built(desc, value, lines)

    return build()


TREES = st.recursive(scalar_desc(), collection_desc, max_leaves=12)


def first_item_clash(desc):
    """A block sequence (every collection in TREES is block) whose first item
    is a non-empty collection with lines above it and a dash-line comment."""
    if isinstance(desc, M):
        return any(first_item_clash(v) for _, v in desc.pairs)
    if not isinstance(desc, Q):
        return False
    first = desc.items[0] if desc.items else None
    if (isinstance(first, (Q, M)) and len(first.items if isinstance(first, Q) else first.pairs)
            and first.comment_before not in (None, "") and first.comment is not None):
        return True
    return any(first_item_clash(item) for item in desc.items)


@settings(max_examples=300, deadline=None)
@given(TREES, st.booleans())
def test_every_accepted_comment_is_written_and_the_text_reads_back(tree, single):
    root = tree.descriptor
    # Children are checked before the root's own comments.
    if first_item_clash(root):
        assert refused(root) == HEAD_PLACEMENT
        return
    if isinstance(root, (Q, M)) and root.comment is not None and (
        len(root.items if isinstance(root, Q) else root.pairs) != 0
    ):
        assert refused(root) == NOT_WRITABLE
        return
    out = dump(root, option=o.OPT_SINGLE_QUOTES if single else 0)
    for line in tree.lines:
        assert ("# " + line if line else "#") in out
    assert o.loads(out) == tree.value


STYLE_TEXT = st.text(
    alphabet=st.sampled_from(list(" \t\n\r\x01\x85\ufeff-?:#!'\"[]{},.|>%&*@`ab1é<~")), max_size=8
)


@settings(max_examples=500, deadline=None)
@given(STYLE_TEXT, st.sampled_from(["plain", "single", "double", "literal", "folded"]),
       st.sampled_from(["root", "item", "value", "flow", "key"]))
def test_an_accepted_explicit_style_reads_back_as_the_same_text(text, style, place):
    scalar = S(text, style=style)
    data = {
        "root": scalar,
        "item": [scalar],
        "value": {"k": scalar},
        "flow": Q([scalar], flow=True),
        "key": M([(scalar, 1)]),
    }[place]
    try:
        out = dump(data)
    except ValueError as error:
        assert str(error).startswith(f"a {style} scalar cannot represent this value")
        return
    loaded = o.loads(out)
    got = {
        "root": lambda: loaded,
        "item": lambda: loaded[0],
        "value": lambda: loaded["k"],
        "flow": lambda: loaded[0],
        "key": lambda: next(iter(loaded)),
    }[place]()
    assert got == text


def test_an_empty_text_under_the_null_tag_is_written_as_null():
    # Written as nothing it would vanish from a flow collection.
    assert dump(Q([S("", tag="!!null"), 1], flow=True)) == "[null, 1]\n"
    assert dump(M([(S("", tag="!!null"), 1)], flow=True)) == "{null: 1}\n"
    assert dump({"a": S("", tag="!!null")}) == "a:\n"
    assert dump([S("", tag="!!null", comment="c")]) == "- null # c\n"
    assert o.loads(dump(Q([S("", tag="!!null")], flow=True))) == [None]

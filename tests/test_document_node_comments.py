"""The comments of a node cursor: `comment`, `comment_before` and
`comment_after`, read and written, and written back by `to_yaml`."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import ostrevane as o

from borrow_probe import comparing_key
from edit_steps import node_at as at

RT = o.OPT_ROUND_TRIP

INLINE_BREAK = ("an inline comment cannot contain a line break; use comment_before "
                "or comment_after for a multi-line comment")
UNICODE_BREAK = ("a comment cannot contain NEL, LS, or PS line breaks; use \\n to "
                 "separate comment lines")
NOT_WRITABLE = "an inline comment cannot be written here; use comment_before or comment_after"
FOOT_PLACEMENT = ("comment_after is only supported on a block mapping, a block sequence, "
                  "or the document root")
MEMBERS = ["comment", "comment_before", "comment_after"]

# A comment on an item's dash line parts the lines above the item: those
# above the dash are the item's, those below are its first key's.
DASH = "- 0\n# above\n- # item\n  # below\n  a: 1\n  b: 2\n"
TWO_KEYS = "# top\na: 1\n# bee\nb: 2 # two\n# end\n"


def rt(text):
    return o.loads(text, option=RT)


def reloaded(doc, path, member):
    """The written text loads again; what the member reads there."""
    again = rt(doc.to_yaml())
    return getattr(at(again, path), member)


# ---------------------------------------------------------------------------
# Reading.

@pytest.mark.parametrize("text,path,member,expected", [
    (TWO_KEYS, [], "comment_before", "top"),
    # The lines above the first key are the mapping's.
    (TWO_KEYS, ["a"], "comment_before", "top"),
    (TWO_KEYS, ["b"], "comment_before", "bee"),
    (TWO_KEYS, ["b"], "comment", "two"),
    (TWO_KEYS, [], "comment_after", "end"),
    (TWO_KEYS, [], "comment", None),
    (TWO_KEYS, ["a"], "comment", None),
    (TWO_KEYS, ["a"], "comment_after", None),
    ("servers: # the whole pool\n  - a\n", ["servers"], "comment", "the whole pool"),
    (DASH, [1], "comment_before", "above"),
    (DASH, [1], "comment", "item"),
    (DASH, [1, "a"], "comment_before", "below"),
    (DASH, [1, "b"], "comment_before", None),
    # An item that is no mapping: the line below its dash is no cursor's.
    ("- 0\n# above\n- # item\n  # below\n  x\n", [1], "comment_before", "above"),
    ("x:\n  # c\n  y: 1\n", ["x", "y"], "comment_before", "c"),
    ("a: 1\n# one\n\n# two\n", [], "comment_after", "one\ntwo"),
    ("a:\n  b: 1\n  # end\n", ["a"], "comment_after", "end"),
    ("a: 1 #\n", ["a"], "comment", ""),
    ("#\na: 1\n", [], "comment_before", ""),
    ("k: |  # lit\n  x\n", ["k"], "comment", "lit"),
])
def test_getters(text, path, member, expected):
    assert getattr(at(rt(text), path), member) == expected


def test_the_root_and_its_first_key_read_the_same_lines():
    doc = rt(TWO_KEYS)
    assert doc.node["a"].comment_before == doc.node.comment_before == "top"


# ---------------------------------------------------------------------------
# Writing, and reading back what to_yaml wrote.

@pytest.mark.parametrize("text,path,member,value,written", [
    ("a: 1\nb: 2\n", ["b"], "comment", "new", "a: 1\nb: 2 # new\n"),
    ("a: 1 # old\n", ["a"], "comment", "new", "a: 1 # new\n"),
    ("a: 1 # old\n", ["a"], "comment", "", "a: 1 #\n"),
    # The comment stays on the key's line.
    ("servers: # pool\n  - a\n", ["servers"], "comment", "new",
     "servers: # new\n  - a\n"),
    ("[]\n", [], "comment", "new", "[] # new\n"),
    ("x\n", [], "comment", "new", "x # new\n"),
    ("a: 1\nb: 2\n", ["b"], "comment_before", "one\ntwo", "a: 1\n# one\n# two\nb: 2\n"),
    ("a: 1\n", ["a"], "comment_before", "top", "# top\na: 1\n"),
    ("a: 1\n", [], "comment_before", "x\r\ny", "# x\n# y\na: 1\n"),
    ("a: 1\n", [], "comment_before", "", "#\na: 1\n"),
    # A root's new lines go above its directives and "---" when an old line
    # stood there, below them otherwise.
    ("# old\n%YAML 1.2\n---\na: 1\n", [], "comment_before",
     "yaml-language-server: $schema=s.json",
     "# yaml-language-server: $schema=s.json\n%YAML 1.2\n---\na: 1\n"),
    ("# above\n---\n# below\na: 1\n", [], "comment_before", "x\ny", "# x\n# y\n---\na: 1\n"),
    ("%YAML 1.2\n---\n# old\na: 1\n", [], "comment_before", "new", "%YAML 1.2\n---\n# new\na: 1\n"),
    ("%YAML 1.2\n---\na: 1\n", [], "comment_before", "new", "%YAML 1.2\n---\n# new\na: 1\n"),
    ("a: 1\n", [], "comment_after", "end\n\nx", "a: 1\n# end\n#\n# x\n"),
    ("x\n", [], "comment_after", "end", "x\n# end\n"),
    ("a:\n  b: 1\n", ["a"], "comment_after", "end", "a:\n  b: 1\n  # end\n"),
    ("- [1]\n- - 2\n", [1], "comment_after", "end", "- [1]\n- - 2\n  # end\n"),
])
def test_setters_write_what_the_getters_read_back(text, path, member, value, written):
    doc = rt(text)
    setattr(at(doc, path), member, value)
    expected = value.replace("\r\n", "\n")
    assert getattr(at(doc, path), member) == expected
    assert doc.to_yaml().decode() == written
    assert reloaded(doc, path, member) == expected


@pytest.mark.parametrize("text,path,member", [
    ("a: 1 # c\n", ["a"], "comment"),
    ("# c\na: 1\n", [], "comment_before"),
    ("a: 1\n# c\nb: 2\n", ["b"], "comment_before"),
    ("a: 1\n# c\n", [], "comment_after"),
    ("a: [1]\n", ["a"], "comment_after"),
])
def test_none_removes(text, path, member):
    doc = rt(text)
    setattr(at(doc, path), member, None)
    assert getattr(at(doc, path), member) is None
    assert "#" not in doc.to_yaml().decode()


def test_dash_line_sides_are_kept_apart():
    doc = rt(DASH)
    item, first = doc.node[1], doc.node[1]["a"]
    item.comment_before = "new"
    assert (item.comment_before, first.comment_before) == ("new", "below")
    first.comment_before = "k1\nk2"
    assert (item.comment_before, first.comment_before) == ("new", "k1\nk2")
    text = doc.to_yaml().decode()
    assert text == "- 0\n# new\n- # item\n  # k1\n  # k2\n  a: 1\n  b: 2\n"
    again = rt(text)
    assert again.node[1].comment_before == "new"
    assert again.node[1]["a"].comment_before == "k1\nk2"
    item.comment_before = None
    assert (item.comment_before, first.comment_before) == (None, "k1\nk2")


def test_a_non_mapping_item_keeps_its_line_below_the_dash():
    doc = rt("- 0\n# above\n- # item\n  # below\n  x\n")
    doc.node[1].comment_before = "new"
    assert doc.to_yaml().decode() == "- 0\n# new\n- # item\n  # below\n  x\n"


# Comment texts as composing reads them back: no white space at the end of a
# line, which reading trims.
LINE = st.text(alphabet="ab #:-'\"\t\u00e9\u65e5", max_size=8).map(str.rstrip)


@settings(max_examples=150, deadline=None)
@given(lines=st.lists(LINE, min_size=1, max_size=4), inline=LINE)
def test_written_comments_read_back(lines, inline):
    doc = rt("a: 1\nb:\n  c: 2\n")
    text = "\n".join(lines)
    doc.node["b"].comment_before = text
    doc.node["b"]["c"].comment = inline
    doc.node["b"].comment_after = text
    again = rt(doc.to_yaml())
    assert again.node["b"].comment_before == text
    assert again.node["b"]["c"].comment == inline
    assert again.node["b"].comment_after == text


# ---------------------------------------------------------------------------
# Refused texts; nothing changes.

@pytest.mark.parametrize("value", ["a\nb", "a\rb", "a\r\nb", "a\x85b", "a\u2028b", "a\u2029b"])
def test_comment_refuses_line_breaks(value):
    doc = rt("a: 1 # old\n")
    with pytest.raises(ValueError) as info:
        doc.node["a"].comment = value
    assert str(info.value) == INLINE_BREAK
    assert doc.node["a"].comment == "old"


@pytest.mark.parametrize("member", ["comment_before", "comment_after"])
@pytest.mark.parametrize("value", ["a\x85b", "a\u2028b", "a\u2029b"])
def test_comment_lines_refuse_unicode_breaks(member, value):
    doc = rt("# old\na: 1\n# foot\n")
    with pytest.raises(ValueError) as info:
        setattr(doc.node, member, value)
    assert str(info.value) == UNICODE_BREAK
    assert (doc.node.comment_before, doc.node.comment_after) == ("old", "foot")


@pytest.mark.parametrize("member", MEMBERS)
def test_control_characters_are_refused(member):
    doc = rt("a:\n  b: 1\n")
    with pytest.raises(ValueError) as info:
        setattr(doc.node["a"], member, "bell\x07")
    assert str(info.value) == "a comment cannot contain the control character '\\u{7}'"
    assert getattr(doc.node["a"], member) is None


@pytest.mark.parametrize("text,path", [
    ("a: 1\n", ["a"]),
    ("a: &x [1]\nb: *x\n", ["b"]),
    ("a: {b: 1}\n", ["a"]),
    ("a: [1]\n", ["a"]),
    ("a: {}\n", ["a"]),
    ("a: []\n", ["a"]),
    ("a:\n", ["a"]),
])
def test_comment_after_only_after_a_block_collection(text, path):
    doc = rt(text)
    with pytest.raises(ValueError) as info:
        at(doc, path).comment_after = "x"
    assert str(info.value) == FOOT_PLACEMENT
    at(doc, path).comment_after = None
    assert at(doc, path).comment_after is None


def test_comment_after_refused_on_an_assigned_empty_block_mapping():
    doc = rt("a: 1\n")
    doc["a"] = {}
    assert doc.node["a"].style == "block"
    with pytest.raises(ValueError) as info:
        doc.node["a"].comment_after = "x"
    assert str(info.value) == FOOT_PLACEMENT


@pytest.mark.parametrize("text", ["a: 1\n", "x\n", "[1]\n", "{}\n", "~\n"])
def test_comment_after_on_the_root_takes_any_text(text):
    doc = rt(text)
    doc.node.comment_after = "end"
    assert reloaded(doc, [], "comment_after") == "end"


# A trailing comment on a block collection at the root has no line of its
# own: written as a line above, it used to come back as comment_before.
@pytest.mark.parametrize("text", [
    "a: 1\n",
    "- a\n",
    "%YAML 1.2\n---\na: 1\n",
    "--- !!map\na: 1\n",
    "&r\na: 1\n",
])
def test_comment_on_a_block_root_is_refused(text):
    doc = rt(text)
    with pytest.raises(ValueError) as info:
        doc.node.comment = "lost"
    assert str(info.value) == NOT_WRITABLE
    assert doc.to_yaml().decode() == text
    doc.node.comment = None
    assert doc.node.comment is None


@pytest.mark.parametrize("text,written", [
    ("{}\n", "{} # kept\n"),
    ("[]\n", "[] # kept\n"),
    ("--- x\n", "---\nx # kept\n"),
])
def test_comment_on_other_roots_is_written(text, written):
    doc = rt(text)
    doc.node.comment = "kept"
    assert doc.to_yaml().decode() == written
    assert reloaded(doc, [], "comment") == "kept"


# ---------------------------------------------------------------------------
# Stale cursors, argument types, deletion.

@pytest.mark.parametrize("member", MEMBERS)
def test_stale_cursor(member):
    doc = rt("a: 1\nb: 2\n")
    cursor = doc.node["b"]
    del doc["b"]
    with pytest.raises(KeyError) as info:
        getattr(cursor, member)
    assert info.value.args == ("stale node",)
    with pytest.raises(KeyError) as info:
        setattr(cursor, member, "x")
    assert info.value.args == ("stale node",)
    # The path resolves again once the key is back.
    doc["b"] = 3
    assert getattr(cursor, member) is None


def test_the_line_break_check_comes_before_the_stale_check():
    doc = rt("a: 1\n")
    cursor = doc.node["a"]
    del doc["a"]
    with pytest.raises(ValueError) as info:
        cursor.comment = "a\nb"
    assert str(info.value) == INLINE_BREAK


def test_a_stale_cursor_on_a_document_without_roots():
    doc = rt("")
    for member in MEMBERS:
        with pytest.raises(KeyError):
            getattr(doc.node, member)


@pytest.mark.parametrize("member", MEMBERS)
@pytest.mark.parametrize("value,type_name", [(5, "int"), (b"x", "bytes"), (["x"], "list")])
def test_text_must_be_str_or_none(member, value, type_name):
    doc = rt("a:\n  b: 1\n")
    with pytest.raises(TypeError) as info:
        setattr(doc.node["a"], member, value)
    assert str(info.value) == f"'{type_name}' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'text'"]


@pytest.mark.parametrize("member", MEMBERS)
def test_delete_is_refused(member):
    doc = rt("a: 1 # c\n")
    with pytest.raises(AttributeError) as info:
        delattr(doc.node["a"], member)
    assert str(info.value) == "property has no deleter"


def test_comment_on_a_root_made_by_a_directive(tmp_path):
    # Written as the directive, with the comment after it on its line.
    (tmp_path / "b.yaml").write_text("a: 1\n")
    option = RT | o.OPT_INCLUDES
    doc = o.loads("!include b.yaml\n", option=option, include_dir=str(tmp_path))
    doc.node.comment = "kept"
    assert doc.to_yaml() == b"!include b.yaml # kept\n"


# ---------------------------------------------------------------------------
# Key cursors, which the anchor searches hand out for anchored keys.

# A key's own trailing comment is written, if at all, on its "? " line,
# where it reads back as a comment above the value: no key keeps one.
@pytest.mark.parametrize("text", ["&k key: v\n", "? &k key\n: v\n", "{&k key: v}\n",
                                  "- &k key: v\n"])
def test_comment_on_a_key_is_refused(text):
    doc = rt(text)
    key = doc.anchors["k"]
    with pytest.raises(ValueError) as info:
        key.comment = "lost"
    assert str(info.value) == NOT_WRITABLE
    assert key.comment is None
    key.comment = None
    assert "#" not in doc.to_yaml().decode()


def test_a_key_cursor_owns_the_lines_above_its_pair():
    doc = rt("a: 1\n# above b\n&k b: 2\n")
    key = doc.anchors["k"]
    assert key.comment_before == doc.node["b"].comment_before == "above b"
    key.comment_before = "new"
    assert doc.node["b"].comment_before == "new"
    assert doc.to_yaml() == b"a: 1\n# new\n&k b: 2\n"


# ---------------------------------------------------------------------------
# Borrows: Python code run inside an assignment that reaches a cursor.

def test_comment_members_inside_an_assignment_meet_the_internal_fault():
    doc = rt("a: 1 # c\n")
    cursor = doc.node["a"]
    seen = []
    touches = [lambda: cursor.comment, lambda: setattr(cursor, "comment", "x"),
               lambda: setattr(cursor, "comment_before", "x")]
    # No pair matches, and the key object cannot become a mapping key node.
    with pytest.raises(TypeError):
        doc[comparing_key(touches, seen)] = 3
    assert seen[:3] == [
        ("PanicException", "Already mutably borrowed"),
        ("PanicException", "Already borrowed"),
        ("PanicException", "Already borrowed"),
    ]
    assert (cursor.comment, cursor.comment_before) == ("c", None)


# ---------------------------------------------------------------------------
# Cursors and to_tree snapshots read the lines above a node by one rule.

def _pairs_of_cursor_and_snapshot(cursor, snap):
    yield cursor, snap
    if snap.kind == "sequence":
        for i, item in enumerate(snap.value):
            yield from _pairs_of_cursor_and_snapshot(cursor[i], item)
    elif snap.kind == "mapping":
        for key, value in snap.value:
            yield from _pairs_of_cursor_and_snapshot(cursor[key.value], value)


@pytest.mark.parametrize("text", [DASH, TWO_KEYS, "- 0\n# above\n- # item\n  # below\n  x\n",
                                  "x:\n  # c\n  y: 1 # one\n  # z\n  z:\n  - # d\n    # e\n"
                                  "    f: 1\n    # g\n    g: 2\n  # end\n# foot\n"])
def test_cursors_and_snapshots_agree(text):
    doc = rt(text)
    for cursor, snap in _pairs_of_cursor_and_snapshot(doc.node, doc.to_tree()):
        assert (cursor.comment_before, cursor.comment, cursor.comment_after) == (
            snap.comment_before, snap.comment, snap.comment_after)


# ---------------------------------------------------------------------------
# Compact items: a nested collection written on its parent's dash line
# opens on the next line when its own comment or the lines above its first
# entry would otherwise not be written.

# Each case: the cursor written through, and where the reloaded text shows
# the comment (the lines above a mapping's first key are the mapping's).
@pytest.mark.parametrize("text,cursor,member,written,read_back", [
    ("- - a\n  - b\n- c\n", lambda doc: doc.node[0][0], "comment_before",
     "-\n  -\n    # note\n    a\n  - b\n- c\n", lambda doc: doc.node[0][0].comment_before),
    ("- - a\n  - b\n- c\n", lambda doc: doc.node[0], "comment",
     "- # note\n  - a\n  - b\n- c\n", lambda doc: doc.node[0].comment),
    ("- &k a: 1\n  b: 2\n", lambda doc: doc.anchors["k"], "comment_before",
     "-\n  # note\n  &k a: 1\n  b: 2\n", lambda doc: doc.node[0]["a"].comment_before),
])
def test_compact_items_keep_their_comments(text, cursor, member, written, read_back):
    doc = rt(text)
    setattr(cursor(doc), member, "note")
    assert doc.to_yaml().decode() == written
    assert read_back(rt(written)) == "note"


# ---------------------------------------------------------------------------
# Every accepted comment edit reads back from the same node after to_yaml()
# and a reload, and the values stay; what cannot be placed so is refused.

HEAD_PLACEMENT = ("comment_before cannot be written above the first item of a block sequence "
                  "whose dash line carries a comment; set the sequence's comment_before instead")

FOOT_BEFORE_KEY = ("comment_after cannot be written after a sequence at its key's column while "
                   "another key follows; set that key's comment_before instead")

COMMENTED_DOCS = [
    "a:\n  x: 1\nb: 2\n",
    "a: [1, 2]\n",
    "a: [1, 2]  # c\nb: {k: v}\n",
    "- 1\n- [a, b]\n- k: v\n  j: w\n- - x\n  - y\n",
    "# top\na: 1  # one\n# bee\nb:\n  - x  # ex\n  - y\nc:\n",
    "a:\n- x\n- y\nb: 1\n",
    "a: |\n  lit\nb: 'q'\nc: \"d\"\n",
    "a: &x 1\nb: *x\nc: !t v\n",
    "x: 1\na:   # about a\nb: 1\n",
    "l: [\n  x,  # about x\n  y\n]\n",
    "- # dash\n  a: 1\n  b: 2\n- c\n",
    "top:\n  mid:\n    low: 1\n  # foot\nnext: 2\n",
    "{a: 1, b: [2, 3]}\n",
    "- a\n-\n- b\n",
    "a: {}\nb: []\nc: [x, {y: [z]}]  # deep\n",
]


def _paths(snap, path=()):
    yield list(path)
    if snap.kind == "sequence":
        for i, item in enumerate(snap.value):
            yield from _paths(item, path + (i,))
    elif snap.kind == "mapping":
        for key, value in snap.value:
            yield from _paths(value, path + (key.value,))


NODES = [(text, path) for text in COMMENTED_DOCS for path in _paths(rt(text).to_tree())]


@settings(max_examples=400, deadline=None)
@given(
    node=st.sampled_from(NODES),
    member=st.sampled_from(MEMBERS),
    lines=st.lists(LINE, min_size=1, max_size=3),
)
def test_accepted_comment_edits_read_back_from_the_same_node(node, member, lines):
    text, path = node
    value = lines[0] if member == "comment" else "\n".join(lines)
    doc = rt(text)
    try:
        setattr(at(doc, path), member, value)
    except ValueError as error:
        assert str(error) in (NOT_WRITABLE, FOOT_PLACEMENT, HEAD_PLACEMENT, FOOT_BEFORE_KEY)
        return
    again = rt(doc.to_yaml())
    assert getattr(at(again, path), member) == value
    assert again.to_dict() == doc.to_dict()


@pytest.mark.parametrize("text,path,member,written", [
    # Each used to be written where a reload read it from another node.
    ("a:\n  x: 1\nb: 2\n", ["a"], "comment_after", "a:\n  x: 1\n  # end\nb: 2\n"),
    ("a: [1, 2]\n", ["a"], "comment", "a: [1, 2] # end\n"),
    ("l: [\n  x,  # ex\n  y\n]\n", ["l"], "comment", "l: [\n    x,  # ex\n    y\n  ] # end\n"),
    ("b: 1\na:\n- x\n- y\n", ["a"], "comment_after", "b: 1\na:\n- x\n- y\n# end\n"),
    ("- 1\n- - x\n  - y\n", [1], "comment", "- 1\n- # end\n  - x\n  - y\n"),
])
def test_comment_edits_that_used_to_read_back_elsewhere(text, path, member, written):
    doc = rt(text)
    setattr(at(doc, path), member, "end")
    assert doc.to_yaml().decode() == written
    assert getattr(at(rt(written), path), member) == "end"


def test_lines_after_an_indentless_sequence_before_a_key_are_refused():
    doc = rt("a:\n- x\nb: 1\n")
    with pytest.raises(ValueError) as info:
        doc.node["a"].comment_after = "end"
    assert str(info.value) == FOOT_BEFORE_KEY
    doc.node["b"].comment_before = "end"
    assert rt(doc.to_yaml()).node["b"].comment_before == "end"


def test_lines_above_a_commented_first_dash_are_refused():
    doc = rt("- # dash\n  a: 1\n- c\n")
    with pytest.raises(ValueError) as info:
        doc.node[0].comment_before = "above"
    assert str(info.value) == HEAD_PLACEMENT
    doc.node[0].comment_before = None
    doc.node.comment_before = "above"
    assert rt(doc.to_yaml()).node.comment_before == "above"

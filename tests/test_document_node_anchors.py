"""Anchors and aliases through node cursors: the anchor property,
is_alias, aliases, make_alias and detach, and the checks that keep the
written text loadable."""

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import ostrevane as o
from ostrevane import loads


from borrow_probe import comparing_key
from edit_steps import assign, delete
from edit_steps import node_at as at
from peer_readers import assert_peers_read
from write_back_tree import ANCHOR_ENV, SECRET_VALUE, AnchoredDirectiveTree

RT = o.OPT_ROUND_TRIP


def rt(text):
    return loads(text, option=RT)


def reloads(doc):
    """The written text loads again, to the same values; returns it."""
    text = doc.to_yaml()
    assert rt(text).to_dict() == doc.to_dict()
    return text.decode()


def unchanged(doc, text):
    """A refused edit left the document as loaded."""
    assert doc.to_yaml().decode() == text


def raises_unchanged(doc, text, exc, message, edit):
    with pytest.raises(exc) as info:
        edit()
    assert info.value.args == (message,)
    unchanged(doc, text)


# ---------------------------------------------------------------------------
# anchor: get and set.

def test_anchor_reads_the_name_without_ampersand():
    doc = rt("a: &x 1\nb: 2\n&k key: v\n")
    assert doc.node["a"].anchor == "x"
    assert doc.node["b"].anchor is None
    assert doc.node["key"].anchor is None


@pytest.mark.parametrize("text,key,name,written", [
    ("a: 1\nb: 2\n", "b", "y", "a: 1\nb: &y 2\n"),
    ("a: &x 1\nb: 2\n", "a", "z", "a: &z 1\nb: 2\n"),
    ("a: &x 1\nb: 2\n", "a", None, "a: 1\nb: 2\n"),
    ("a: [1]\n", "a", "s", "a: &s [1]\n"),
    ("a: 1\n", "a", "é名", "a: &é名 1\n"),
    # NEL and the Unicode separators are name characters for the reader
    ("a: 1\n", "a", "n\u0085l\u2028", "a: &n\u0085l\u2028 1\n"),
])
def test_anchor_set(text, key, name, written):
    doc = rt(text)
    doc.node[key].anchor = name
    assert doc.node[key].anchor == name
    assert reloads(doc) == written


def test_anchor_set_to_its_own_name_again():
    doc = rt("a: &x 1\nb: *x\n")
    doc.node["a"].anchor = "x"
    assert doc.node["a"].anchor == "x"
    assert reloads(doc) == "a: &x 1\nb: *x\n"


def test_anchor_name_keyword_and_type():
    doc = rt("a: 1\n")
    with pytest.raises(TypeError) as info:
        doc.node["a"].anchor = 5
    assert str(info.value) == "'int' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'name'"]
    with pytest.raises(AttributeError, match="property has no deleter"):
        del doc.node["a"].anchor
    unchanged(doc, "a: 1\n")


SEPARATOR = ("invalid anchor name {}: cannot contain whitespace, line breaks, or "
             "flow indicators (found {})")
CONTROL = "invalid anchor name {}: cannot contain control characters (found {})"


@pytest.mark.parametrize("name,message", [
    ("", "anchor name cannot be empty"),
    ("a b", SEPARATOR.format('"a b"', "' '")),
    ("a\tb", SEPARATOR.format('"a\\tb"', "'\\t'")),
    ("a\nb", SEPARATOR.format('"a\\nb"', "'\\n'")),
    ("a\rb", SEPARATOR.format('"a\\rb"', "'\\r'")),
    ("a\0b", SEPARATOR.format('"a\\0b"', "'\\0'")),
    ("a,", SEPARATOR.format('"a,"', "','")),
    ("[a", SEPARATOR.format('"[a"', "'['")),
    ("a]", SEPARATOR.format('"a]"', "']'")),
    ("{a", SEPARATOR.format('"{a"', "'{'")),
    ("a}", SEPARATOR.format('"a}"', "'}'")),
    # the quote and the backslash are escaped in the name
    ('q"\\ x', SEPARATOR.format('"q\\"\\\\ x"', "' '")),
    # characters the reader refuses before it scans anything
    ("a\x01", CONTROL.format('"a\\u{1}"', "'\\u{1}'")),
    ("a\x1bb", CONTROL.format('"a\\u{1b}b"', "'\\u{1b}'")),
    ("a\x7f", CONTROL.format('"a\\u{7f}"', "'\\u{7f}'")),
    ("a\x80", CONTROL.format('"a\\u{80}"', "'\\u{80}'")),
    ("\x9f", CONTROL.format('"\\u{9f}"', "'\\u{9f}'")),
    ("a\ufffe", CONTROL.format('"a\\u{fffe}"', "'\\u{fffe}'")),
    ("a\uffff", CONTROL.format('"a\\u{ffff}"', "'\\u{ffff}'")),
    # the first refused character decides
    ("a\x01 ", CONTROL.format('"a\\u{1} "', "'\\u{1}'")),
    ("a \x01", SEPARATOR.format('"a \\u{1}"', "' '")),
])
def test_anchor_name_refused(name, message):
    text = "a: 1\nb: 2\n"
    doc = rt(text)

    def edit():
        doc.node["b"].anchor = name
    raises_unchanged(doc, text, ValueError, message, edit)


def test_anchor_name_already_used():
    text = "a: &x 1\nb: 2\n"
    doc = rt(text)

    def edit():
        doc.node["b"].anchor = "x"
    raises_unchanged(doc, text, ValueError, "anchor name 'x' is already used by another node",
                     edit)


def test_anchor_name_of_a_later_document_is_not_seen():
    doc = rt("a: 1\n--- {b: &x 2}\n")
    doc.node["a"].anchor = "x"
    assert doc.node["a"].anchor == "x"


# An anchor that aliases read is neither removed nor renamed from under
# them: the written text would hold an alias of a name it never defines.
@pytest.mark.parametrize("name", [None, "y"])
def test_anchor_change_that_strands_an_alias_is_refused(name):
    text = "a: &x 1\nb: *x\n"
    doc = rt(text)

    def edit():
        doc.node["a"].anchor = name
    raises_unchanged(doc, text, ValueError, STILL_REFERENCED.format("x"), edit)


STILL_REFERENCED = ("deleting this node would remove anchor '&{0}', still referenced by an "
                    "alias '*{0}' elsewhere; the result would not re-parse. Remove or rewrite "
                    "the alias first.")


# A name defined twice: an alias reads the definition nearest before it, so
# taking out the second one would leave the aliases after it reading the
# first, another value. Such an edit is refused as for a single definition.
# (Renaming, removing or deleting "c" used to be accepted, and "d" then read
# 1.)
REDEFINED = "a: &x 1\nb: *x\nc: &x 2\nd: *x\n"


def set_anchor(path, name):
    def edit(doc):
        at(doc, path).anchor = name
    return edit


def make_alias(path, name):
    def edit(doc):
        at(doc, path).make_alias(name)
    return edit


@pytest.mark.parametrize("text,edit", [
    (REDEFINED, delete("c")),
    (REDEFINED, set_anchor(["c"], None)),
    (REDEFINED, set_anchor(["c"], "y")),
    (REDEFINED, make_alias(["c"], "x")),
    # The second definition inside a replaced or deleted collection.
    ("a: &x 1\nb: *x\nc: [&x 2]\nd: *x\n", assign("c", 5)),
    ("a: &x 1\nb: *x\nc: [&x 2]\nd: *x\n", delete("c")),
    ("a: &x 1\nb: *x\nc: {k: &x 2}\nd: [*x]\n", delete("c")),
    # The first definition, read by "b", goes; "d" reads the second.
    (REDEFINED, delete("a")),
])
def test_edit_that_changes_which_definition_an_alias_reads_is_refused(text, edit):
    doc = rt(text)
    raises_unchanged(doc, text, ValueError, STILL_REFERENCED.format("x"), lambda: edit(doc))


# The same shapes where every alias keeps the definition it reads.
@pytest.mark.parametrize("text,edit,written,values", [
    # No alias reads the first definition.
    ("a: &x 1\nc: &x 2\nd: *x\n", delete("a"), "c: &x 2\nd: *x\n", {"c": 2, "d": 2}),
    ("a: &x 1\nc: &x 2\nd: *x\n", set_anchor(["a"], None), "a: 1\nc: &x 2\nd: *x\n",
     {"a": 1, "c": 2, "d": 2}),
    ("a: &x 1\nc: &x 2\nd: *x\n", set_anchor(["a"], "y"), "a: &y 1\nc: &x 2\nd: *x\n",
     {"a": 1, "c": 2, "d": 2}),
    # A replaced node keeps its anchor: the aliases after it read the new value.
    (REDEFINED, assign("c", 5), "a: &x 1\nb: *x\nc: &x 5\nd: *x\n",
     {"a": 1, "b": 1, "c": 5, "d": 5}),
    # The aliases go with the definition they read.
    ("a: &x 1\nb: *x\nc: [&x 2, *x]\n", delete("c"), "a: &x 1\nb: *x\n", {"a": 1, "b": 1}),
])
def test_edit_that_keeps_what_every_alias_reads_is_accepted(text, edit, written, values):
    doc = rt(text)
    edit(doc)
    assert reloads(doc) == written
    assert doc.to_dict() == rt(written).to_dict() == values
    assert_peers_read(written, values, pyyaml=written.count("&x") < 2)


# An alias node cannot carry an anchor: "&y *x" does not load.
def test_anchor_on_an_alias_node_is_refused():
    text = "a: &x 1\nb: *x\n"
    doc = rt(text)

    def edit():
        doc.node["b"].anchor = "y"
    raises_unchanged(doc, text, ValueError, "an alias node cannot have an anchor", edit)
    doc.node["b"].anchor = None
    unchanged(doc, text)


# ---------------------------------------------------------------------------
# is_alias and aliases.

@pytest.mark.parametrize("path,expected", [
    (["a"], False), (["b"], True), (["c"], False), (["c", 0], True), (["d"], False),
])
def test_is_alias(path, expected):
    assert at(rt("a: &x 1\nb: *x\nc: [*x]\nd:\n"), path).is_alias is expected


def positions(cursors):
    return [(c.line, c.column) for c in cursors]


def test_aliases_in_document_order():
    doc = rt("a: &x 1\nb: *x\nc: [*x]\nd: 2\n")
    aliases = doc.node["a"].aliases
    assert positions(aliases) == [(2, 4), (3, 5)]
    assert all(c.is_alias for c in aliases)
    assert doc.node["d"].aliases == []
    assert doc.node["b"].aliases == []


def test_aliases_standing_as_keys_are_not_listed():
    doc = rt("a: &x 1\n*x : v\nb: *x\n")
    assert positions(doc.node["a"].aliases) == [(3, 4)]


# Each alias reads the nearest definition of its name before it.
def test_aliases_read_the_nearest_definition_before_them():
    doc = rt("a: &x 1\nb: *x\nc: &x 2\nd: *x\ne: [*x]\n")
    assert positions(doc.node["a"].aliases) == [(2, 4)]
    assert positions(doc.node["c"].aliases) == [(4, 4), (5, 5)]


# ---------------------------------------------------------------------------
# make_alias.

def test_make_alias():
    doc = rt("a: &x 1\nb: 2\n")
    b = doc.node["b"]
    assert b.make_alias("x") is None
    assert b.is_alias
    assert b.anchor is None
    assert positions(doc.node["a"].aliases) == [(2, 4)]
    assert reloads(doc) == "a: &x 1\nb: *x\n"
    assert doc.to_dict() == {"a": 1, "b": 1}


@pytest.mark.parametrize("text,path,written", [
    ("- &x 1\n- 2\n- 3\n", [2], "- &x 1\n- 2\n- *x\n"),
    ("a: &x 1\nb: {c: [1, 2]}\n", ["b", "c", 1], "a: &x 1\nb: {c: [1, *x]}\n"),
    # an earlier definition is read even inside a later one of the name
    ("a: &x 1\nb: &x [2, 3]\n", ["b", 1], "a: &x 1\nb: &x [2, *x]\n"),
    # the tag goes with the content: "!!str *x" does not load
    ("a: &x 1\nb: !!str 2\n", ["b"], "a: &x 1\nb: *x\n"),
    # the node's own anchor goes when no alias reads it
    ("a: &x 1\nb: &y 2\n", ["b"], "a: &x 1\nb: *x\n"),
    # a key is complete before its value, which may read it
    ("&x key: v\n", ["key"], "&x key: *x\n"),
    # the pair the path reaches: the later `a`, after the anchor
    ("a: &x 1\nb: 2\na: 3\n", ["a"], "a: &x 1\nb: 2\na: *x\n"),
])
def test_make_alias_writes_a_loadable_text(text, path, written):
    doc = rt(text)
    at(doc, path).make_alias(name="x")
    assert reloads(doc) == written


NO_ANCHOR = "no anchor '&{}' is defined in this document"
CYCLE = "anchor '&{}' contains the alias that would reference it, which is a cycle"
NOT_BEFORE = "anchor '&{}' must be defined before the alias that references it"


@pytest.mark.parametrize("text,path,name,message", [
    ("a: &x 1\nb: 2\n", ["b"], "y", NO_ANCHOR.format("y")),
    ("a: &x 1\nb: 2\n", ["a"], "x", CYCLE.format("x")),
    ("a: &x [1, [2]]\n", ["a", 1, 0], "x", CYCLE.format("x")),
    ("a: 1\nb: &x 2\n", ["a"], "x", NOT_BEFORE.format("x")),
    ("- 1\n- &x 2\n", [0], "x", NOT_BEFORE.format("x")),
    # the anchor lies inside the node
    ("a: 1\nb: [&x 2]\n", [], "x", NOT_BEFORE.format("x")),
    ("a: 1\nb: [&x 2]\n", ["b"], "x", NOT_BEFORE.format("x")),
    # the anchored pair is the later `a`, the one a path by key reaches
    ("a: 1\nb: 2\na: &x 3\n", ["b"], "x", NOT_BEFORE.format("x")),
    # an alias stands in its own file: a name its includer defines is not
    # readable there (see test_make_alias_in_an_included_file)
])
def test_make_alias_refused(text, path, name, message):
    doc = rt(text)
    node = at(doc, path)
    raises_unchanged(doc, text, ValueError, message, lambda: node.make_alias(name))


# A node that an alias reads keeps its anchor: the alias would be left with
# a name the text no longer defines.
@pytest.mark.parametrize("text,name", [
    ("a: &y 0\nb: &x 1\nc: *x\n", "x"),
    ("a: &y 0\nb: [&x 1]\nc: *x\n", "x"),
])
def test_make_alias_that_strands_an_alias_is_refused(text, name):
    doc = rt(text)
    raises_unchanged(doc, text, ValueError, STILL_REFERENCED.format(name),
                     lambda: doc.node["b"].make_alias("y"))


def test_make_alias_arguments():
    doc = rt("a: &x 1\nb: 2\n")
    b = doc.node["b"]
    with pytest.raises(TypeError):
        b.make_alias()
    with pytest.raises(TypeError):
        b.make_alias("x", "y")
    with pytest.raises(TypeError):
        b.make_alias(other="x")
    with pytest.raises(TypeError) as info:
        b.make_alias(5)
    assert str(info.value) == "'int' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'name'"]
    unchanged(doc, "a: &x 1\nb: 2\n")


def test_make_alias_in_an_included_file(tmp_path):
    (tmp_path / "inc.yaml").write_text("k: 1\n")
    (tmp_path / "main.yaml").write_text("a: &x 1\nb: !include inc.yaml\n")
    doc = loads((tmp_path / "main.yaml").read_text(), option=RT | o.OPT_INCLUDES,
                include_dir=str(tmp_path), root_path=str(tmp_path / "main.yaml"))
    k = doc.node["b"]["k"]
    with pytest.raises(ValueError) as info:
        k.make_alias("x")
    assert info.value.args == (NOT_BEFORE.format("x"),)


# ---------------------------------------------------------------------------
# detach.

def test_detach_makes_an_independent_copy():
    doc = rt("a: &x {k: 1}\nb: *x\n")
    copy = doc.node["b"].detach()
    assert not copy.is_alias
    assert copy.anchor is None
    assert doc.node["a"].aliases == []
    assert doc.to_dict() == {"a": {"k": 1}, "b": {"k": 1}}
    # the returned cursor and a new one on b designate the same node
    copy["k"].value = 2
    assert doc.node["b"]["k"].value == 2
    assert doc.to_dict() == {"a": {"k": 1}, "b": {"k": 2}}
    assert reloads(doc) == "a: &x {k: 1}\nb: {k: 2}\n"


@pytest.mark.parametrize("text,path,written", [
    # inner aliases are expanded, each to the definition it reads
    ("y: &y 0\na: &x [*y, 1]\nb: *x\n", ["b"], "y: &y 0\na: &x [*y, 1]\nb: [0, 1]\n"),
    ("a: &x 1\nb: &x [*x, 2]\nc: *x\n", ["c"], "a: &x 1\nb: &x [*x, 2]\nc: [1, 2]\n"),
    ("a: &x 1\nb: *x\nc: &x 2\nd: [*x]\n", ["b"], "a: &x 1\nb: 1\nc: &x 2\nd: [*x]\n"),
    ("a: &x 1\nb: *x\nc: &x 2\nd: [*x]\n", ["d", 0], "a: &x 1\nb: *x\nc: &x 2\nd: [2]\n"),
    # anchors inside the copy are dropped, their aliases expanded
    ("a: &x [&y 1, *y]\nb: *x\n", ["b"], "a: &x [&y 1, *y]\nb: [1, 1]\n"),
])
def test_detach_copies_what_the_alias_reads(text, path, written):
    doc = rt(text)
    before = doc.to_dict()
    at(doc, path).detach()
    assert doc.to_dict() == before
    assert reloads(doc) == written


# The kept text of a block scalar is indented for where the anchor stands;
# the copy is written anew at its own place.
@pytest.mark.parametrize("text,path", [
    ("a: &x\n  k: |\n    one\n    two\nb:\n  c: *x\n", ["b", "c"]),
    ("a: &x |\n  one\n  two\nb:\n  - - *x\n", ["b", 0, 0]),
    ("a: &x >-\n  folded\n  text\nb:\n  c:\n    d: *x\n", ["b", "c", "d"]),
])
def test_detach_block_scalars(text, path):
    doc = rt(text)
    before = doc.to_dict()
    at(doc, path).detach()
    assert doc.to_dict() == before
    reloads(doc)


def test_detach_errors():
    text = "a: &x 1\nb: *x\n"
    doc = rt(text)
    raises_unchanged(doc, text, TypeError, "detach() is only valid on an alias node",
                     doc.node["a"].detach)


def alias_chain(n):
    lines = ["a0: &a0 [0]"]
    lines += [f"a{i}: &a{i} [*a{i - 1}]" for i in range(1, n + 1)]
    return "\n".join(lines) + f"\nb: *a{n}\n"


def alias_bomb():
    lines = ["l0: &l0 [x, x, x, x, x, x, x, x, x, x]"]
    for i in range(1, 7):
        lines.append(f"l{i}: &l{i} [" + ", ".join([f"*l{i - 1}"] * 10) + "]")
    return "\n".join(lines) + "\nb: *l6\n"


def test_detach_within_the_limits():
    doc = rt(alias_chain(100))
    doc.node["b"].detach()
    reloads(doc)


# Past a limit the copy is refused whole rather than cut short with nulls.
@pytest.mark.parametrize("text,message", [
    (alias_chain(101), "detach() expands aliases nested deeper than the limit of 100"),
    (alias_bomb(), "detach() expands aliases to more than the limit of 1000000 nodes"),
])
def test_detach_past_a_limit(text, message):
    doc = rt(text)
    raises_unchanged(doc, text, ValueError, message, doc.node["b"].detach)


def test_stale_cursor():
    doc = rt("a: &x 1\nb: *x\nc: 2\n")
    c = doc.node["c"]
    del doc["c"]
    for read in (lambda: c.anchor, lambda: c.is_alias, lambda: c.aliases, c.detach,
                 lambda: c.make_alias("x")):
        with pytest.raises(KeyError) as info:
            read()
        assert info.value.args == ("stale node",)
    with pytest.raises(KeyError):
        c.anchor = "y"


# The members meet the document's borrow like every cursor member: Python
# code run inside an assignment cannot read or change anchors.
def test_members_inside_an_assignment_are_an_internal_fault():
    doc = rt("a: &x 1\nb: *x\nc: 2\n")
    a, b, c = doc.node["a"], doc.node["b"], doc.node["c"]
    seen = []
    members = [lambda: a.anchor, lambda: b.is_alias, lambda: a.aliases,
               lambda: setattr(c, "anchor", "y"), lambda: c.make_alias("x"), b.detach]
    doc[comparing_key(members, seen, matches="c")] = 5
    assert seen == [("PanicException", "Already mutably borrowed")] * 3 + \
        [("PanicException", "Already borrowed")] * 3
    assert doc.to_yaml() == b"a: &x 1\nb: *x\nc: 5\n"


# ---------------------------------------------------------------------------
# Property: on a document with anchors and aliases, every anchor edit either
# gives a text that loads again to the document's values, or is refused and
# changes nothing.

NAMES = ["p", "q", "r"]


@st.composite
def anchored_texts(draw):
    """A block mapping of flow values, with anchors and with aliases of names
    defined (complete) before them."""
    defined = set()

    def node(depth):
        kinds = ["int", "alias"] + (["seq", "map", "block"] if depth < 3 else [])
        kind = draw(st.sampled_from(kinds))
        if kind == "alias" and defined:
            return "*" + draw(st.sampled_from(sorted(defined)))
        if kind == "seq":
            body = "[" + ", ".join(node(depth + 1) for _ in range(draw(st.integers(0, 3)))) + "]"
        elif kind == "map":
            count = draw(st.integers(0, 3))
            body = "{" + ", ".join(f"k{i}: {node(depth + 1)}" for i in range(count)) + "}"
        else:
            body = str(draw(st.integers(0, 9)))
        anchor = draw(st.sampled_from([None] + NAMES))
        if anchor is None:
            return body
        defined.add(anchor)
        return f"&{anchor} {body}"

    lines = []
    for i in range(draw(st.integers(1, 5))):
        if draw(st.booleans()):
            anchor = draw(st.sampled_from([""] + [f" &{n}" for n in NAMES]))
            lines.append(f"t{i}:{anchor} |\n  line {i}\n  more")
            if anchor:
                defined.add(anchor[2:])
        else:
            lines.append(f"t{i}: {node(0)}")
    return "\n".join(lines) + "\n"


def all_cursors(doc):
    """Every cursor reachable by text without passing an alias."""
    found, todo = [], [doc.node]
    while todo:
        cursor = todo.pop()
        found.append(cursor)
        if cursor.is_alias:
            continue
        value = cursor.value
        if isinstance(value, dict):
            todo.extend(cursor[k] for k in value)
        elif isinstance(value, list):
            todo.extend(cursor[i] for i in range(len(value)))
    return found


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=anchored_texts(), data=st.data())
def test_anchor_edits_keep_the_text_loadable(text, data):
    doc = rt(text)
    for _ in range(3):
        op = data.draw(st.sampled_from(["make_alias", "anchor", "detach"]))
        cursors = all_cursors(doc)
        # detach() mostly on aliases, where it does something
        aliases = [c for c in cursors if c.is_alias]
        if op == "detach" and aliases and data.draw(st.integers(0, 3)):
            cursors = aliases
        cursor = data.draw(st.sampled_from(cursors))
        name = data.draw(st.sampled_from(NAMES + [None] if op == "anchor" else NAMES))
        before = doc.to_yaml()
        try:
            if op == "make_alias":
                cursor.make_alias(name)
            elif op == "anchor":
                cursor.anchor = name
            else:
                cursor.detach()
        except (ValueError, TypeError) as exc:
            assert doc.to_yaml() == before, exc
            continue
        reloads(doc)


# ---------------------------------------------------------------------------
# Anchors on configuration directives and inside included files follow the
# same rules as any anchor: edits keep them on their place, refuse to strand
# their aliases, and every alias reads what its anchor holds now.

@pytest.fixture
def tree(tmp_path, monkeypatch):
    monkeypatch.setenv(ANCHOR_ENV, "/home/u")
    return AnchoredDirectiveTree(tmp_path)


def value_of(path, value):
    def edit(doc):
        at(doc, path).value = value
    return edit


SECRET_C = "c: &s !secret pw\nd: *s\n"
ENV_C = f"c: &s !env_var {ANCHOR_ENV}\nd: *s\n"
INCLUDE_A = "a: &a !include f.yaml\nb: *a\n"
SECRET_ITEMS = "- &s !secret pw\n- *s\n"
IN_FILE = "m: !include h.yaml\n"
THROUGH_ALIAS = "m: &m !include h.yaml\nn: *m\n"


# Each used to write the alias without its anchor (a text that no longer
# loads: "unknown alias: *s") and read the alias as None in memory.
@pytest.mark.parametrize("main, edit, file, written", [
    (SECRET_C, assign("c", "new"), "main.yaml", "c: &s new\nd: *s\n"),
    (SECRET_C, value_of(["c"], "new"), "main.yaml", "c: &s new\nd: *s\n"),
    (ENV_C, assign("c", "new"), "main.yaml", "c: &s new\nd: *s\n"),
    (INCLUDE_A, assign("a", 5), "main.yaml", "a: &a 5\nb: *a\n"),
    (INCLUDE_A, assign("a", {"x": 2}), "main.yaml", "a: &a\n  x: 2\nb: *a\n"),
    (SECRET_ITEMS, assign(0, "new"), "main.yaml", "- &s new\n- *s\n"),
    (IN_FILE, assign("m", "x", "new"), "h.yaml", "x: &fx new\ny: *fx\n"),
    (THROUGH_ALIAS, assign("n", "x", "new"), "h.yaml", "x: &fx new\ny: *fx\n"),
])
def test_an_assignment_keeps_a_directives_anchor_on_its_place(tree, main, edit, file, written):
    doc = tree.load(main)
    edit(doc)
    tree.check_written(doc)
    assert tree.read(file) == written


@pytest.mark.parametrize("main, edit, name", [
    (SECRET_C, delete("c"), "s"),
    (ENV_C, delete("c"), "s"),
    (INCLUDE_A, delete("a"), "a"),
    (SECRET_ITEMS, delete(0), "s"),
    (IN_FILE, delete("m", "x"), "fx"),
    (THROUGH_ALIAS, delete("n", "x"), "fx"),
    (SECRET_C, set_anchor(["c"], None), "s"),
    (SECRET_C, set_anchor(["c"], "t"), "s"),
    (INCLUDE_A, set_anchor(["a"], None), "a"),
    (INCLUDE_A, set_anchor(["a"], "q"), "a"),
    (IN_FILE, set_anchor(["m", "x"], None), "fx"),
    ("e: &t 1\n" + SECRET_C, make_alias(["c"], "t"), "s"),
])
def test_an_edit_that_strands_a_directives_alias_is_refused(tree, main, edit, name):
    doc = tree.load(main)
    before = tree.state(doc)
    with pytest.raises(ValueError) as info:
        edit(doc)
    assert info.value.args == (STILL_REFERENCED.format(name),)
    assert tree.state(doc) == before


def test_a_merged_directive_is_replaced_only_by_a_mapping(tree):
    main = "base: &b !include f.yaml\nm: {<<: *b, y: 2}\n"
    doc = tree.load(main)
    before = tree.state(doc)
    with pytest.raises(ValueError) as info:
        doc["base"] = 5
    assert info.value.args == (
        "replacing this node would change anchor '&b', which a merge key ('<<') reads through "
        "'*b', into something that cannot be merged; the result would not load as a merge. "
        "Assign a mapping, or rewrite the merge first.",)
    assert tree.state(doc) == before
    doc["base"] = {"z": 3}
    assert doc.to_dict() == {"base": {"z": 3}, "m": {"z": 3, "y": 2}}
    tree.check_written(doc)
    assert tree.read("main.yaml") == "base: &b\n  z: 3\nm: {<<: *b, y: 2}\n"


def test_aliases_inside_an_included_file_read_an_edited_anchor(tree):
    # The aliases used to read None in memory (a reload read the new value).
    doc = tree.load("m: !include g.yaml\n")
    doc["m"]["p"] = "new"
    assert doc.to_dict() == {"m": {"p": "new", "q": "new"}}
    assert o.to_json(doc) == b'{"m":{"p":"new","q":"new"}}'
    assert doc["m"]["q"] == "new"
    assert doc.node["m"]["q"].value == "new"
    assert doc.node["m"]["q"].target.value == "new"
    # New anchors and aliases there are read as that file reads them.
    doc["m"]["r"] = 0
    doc.node["m"]["r"].make_alias("x")
    doc["m"]["s"] = [1]
    doc.node["m"]["s"].anchor = "z"
    doc["m"]["t"] = 0
    doc.node["m"]["t"].make_alias("z")
    assert doc.to_dict() == {"m": {"p": "new", "q": "new", "r": "new", "s": [1], "t": [1]}}
    assert tree.check_written(doc) == [tree.path("g.yaml")]
    assert tree.read("g.yaml") == "p: &x new\nq: *x\nr: *x\ns: &z\n- 1\nt: *z\n"


CURSORS_MAIN = INCLUDE_A + SECRET_C + "e: !secret pw\n"


def test_the_cursor_api_sees_a_directives_anchor(tree):
    doc = tree.load(CURSORS_MAIN)
    assert (doc.node["a"].anchor, doc.node["c"].anchor, doc.node["e"].anchor) == ("a", "s", None)
    assert [positions(doc.node[k].aliases) for k in "ac"] == [[(2, 4)], [(4, 4)]]
    assert sorted(doc.anchors) == ["a", "s"]
    assert doc.node["b"].target.value == {"x": 1, "y": 2}
    assert doc.node["d"].target.value == SECRET_VALUE
    doc["z"] = 0
    doc.node["z"].make_alias("a")
    assert doc.to_dict()["z"] == {"x": 1, "y": 2}
    assert tree.check_written(doc) == [tree.path("main.yaml")]
    assert tree.read("main.yaml") == CURSORS_MAIN + "z: *a\n"


def test_a_directives_anchor_is_set_on_the_directives_line(tree):
    # It used to be written into the included file ("&q\nx: 1 # cx\n..."),
    # and a secret's was not written at all.
    doc = tree.load("a: !include f.yaml\ne: !secret pw\n")
    doc.node["a"].anchor = "q"
    doc.node["e"].anchor = "t"
    doc["z"] = 0
    doc.node["z"].make_alias("t")
    doc["w"] = 0
    doc.node["w"].make_alias("q")
    assert doc.to_dict()["z"] == SECRET_VALUE
    assert tree.check_written(doc) == [tree.path("main.yaml")]
    assert tree.read("main.yaml") == "a: &q !include f.yaml\ne: &t !secret pw\nz: *t\nw: *q\n"
    assert tree.read("f.yaml") == "x: 1 # cx\ny: 2\n"
    doc.node["w"].detach()
    doc.node["a"].anchor = "r"
    doc.node["a"].anchor = None
    tree.check_written(doc)
    # A detached alias of a directive is a copy of the directive.
    assert tree.read("main.yaml") == (
        "a: !include f.yaml\ne: &t !secret pw\nz: *t\nw: !include f.yaml\n")


UNWRITABLE = ("anchor '&u' cannot be written: the node is part of what '{}' reads, which no "
              "file of this document holds")


@pytest.mark.parametrize("main, path, tag", [
    ("k: !secret st\n", ["k", "a"], "!secret"),
    ("k: !include_dir_list d\n", ["k", 0], "!include_dir_list"),
])
def test_an_anchor_that_no_file_can_hold_is_refused_when_set(tree, main, path, tag):
    # Such an anchor used to be accepted and left out of every text, so an
    # alias of it was written without a definition.
    doc = tree.load(main)
    before = tree.state(doc)
    with pytest.raises(ValueError) as info:
        at(doc, path).anchor = "u"
    assert info.value.args == (UNWRITABLE.format(tag),)
    assert tree.state(doc) == before

"""Edits of commented round-trip documents keep the comments the user wrote,
on the lines they stood on: directive lines, one-line flow collections,
empty values, foot comments of nested blocks, and the comments set through
the node API, which read back from the same node after a reload."""
import os

import pytest

import ostrevane as o
from edit_steps import assign, delete

RT = o.OPT_ROUND_TRIP


def edited(text, edit, option=RT, **kw):
    doc = o.loads(text, option=option, **kw)
    edit(doc)
    return doc.to_yaml().decode()


def assert_written_and_stable(text, edit, expected, again=None):
    """The edit writes `expected`, and writing that text again (after
    `again`, else the same edit) gives it back unchanged."""
    out = edited(text, edit)
    assert out == expected
    assert edited(out, again or edit) == out
    return out


# ---------------------------------------------------------------------------
# A directive line keeps its own comments; no file takes another's.


@pytest.fixture
def config(tmp_path):
    def write(name, text):
        with open(tmp_path / name, "w") as f:
            f.write(text)

    write("secrets.yaml", "db_password: hunter2  # prod, old: hunter1\n")
    write("port.yaml", "8080  # port note\n")
    write("inner.yaml", "# inner head\nv: 1  # inner v\n")
    write("mid.yaml", "# mid head\nnested: !include inner.yaml   # nested\nk: 1\n")
    return str(tmp_path)


MAIN = (
    "pw: !secret db_password   # main note\n"
    "port: !include port.yaml  # mine\n"
    "m: !include mid.yaml # mid\n"
    "n: 1\n"
)


def test_a_directive_line_keeps_its_own_comments(config):
    doc = o.loads(MAIN, option=o.OPT_SECRETS | o.OPT_INCLUDES | RT, include_dir=config)
    doc["n"] = 2
    assert doc.to_yaml().decode() == MAIN.replace("n: 1", "n: 2")
    assert doc.node["port"].comment == "mine"
    assert doc.node["pw"].comment == "main note"
    # Each included file written back holds its own comments only.
    doc["m"]["k"] = 2
    doc["m"]["nested"]["v"] = 5
    files = o.dump_includes_map(doc)
    assert files[os.path.join(config, "port.yaml")] == b"8080  # port note\n"
    assert files[os.path.join(config, "mid.yaml")] == (
        b"# mid head\nnested: !include inner.yaml   # nested\nk: 2\n"
    )
    assert files[os.path.join(config, "inner.yaml")] == b"# inner head\nv: 5  # inner v\n"


@pytest.mark.parametrize(
    "text",
    [
        "# above\n- !env_var HOME_OF_NOBODY_HERE fallback  # env\n- 1\n",
        "a: !include_dir_list parts  # listed\nb: 1\n",
        "!include port.yaml  # at the root\n",
    ],
)
def test_other_directive_lines_keep_their_comments(config, text):
    os.makedirs(os.path.join(config, "parts"))
    with open(os.path.join(config, "parts", "p.yaml"), "w") as f:
        f.write("1  # from the listed file\n")
    option = o.OPT_INCLUDES | o.OPT_ENV_VAR | RT
    doc = o.loads(text, option=option, include_dir=config)
    doc.node.comment_after = "end"
    assert doc.to_yaml().decode() == text + "# end\n"


# ---------------------------------------------------------------------------
# A comment after a one-line flow collection is the collection's: it stays on
# that line when the collection or its first entry is replaced, and an
# unrelated edit leaves the collection as it was written.


@pytest.mark.parametrize(
    "text, edit, expected",
    [
        ("a: [x, y]  # keep me\nb: 1\n", assign("a", [1, 2]), "a:  # keep me\n- 1\n- 2\nb: 1\n"),
        ("l: [{a: 1}, 2]  # note\n", assign("l", 0, 5), "l: [5, 2]  # note\n"),
        ("m: {a: 1, b: 2}  # note\n", assign("m", "a", 5), "m: {a: 5, b: 2}  # note\n"),
        ("- [x, y]  # item\n- 1\n", assign(0, 0, "z"), "- [z, y]  # item\n- 1\n"),
        ("a: [1, 2]  # c\nb: 1\n", assign("b", 2), "a: [1, 2]  # c\nb: 2\n"),
        ("a: [[1], {k: v}]  # c\nb: 1\n", assign("b", 2), "a: [[1], {k: v}]  # c\nb: 2\n"),
        ("[1, 2]  # root\n", assign(0, 3), "[3, 2]  # root\n"),
    ],
)
def test_a_one_line_flow_collection_keeps_its_comment(text, edit, expected):
    assert edited(text, edit) == expected


@pytest.mark.parametrize(
    "text",
    [
        "l: [1, 2, # two\n  3]\nz: 0\n",
        "m: {a: 1,  # one\n    b: 2}\nz: 0\n",
        "- [x,  # ex\n   y]\n- z: 0\n",
    ],
)
def test_an_untouched_flow_collection_keeps_its_layout(text):
    doc = o.loads(text, option=RT)
    doc.node.comment_before = "edited"
    assert doc.to_yaml().decode() == "# edited\n" + text


def test_a_changed_flow_collection_is_laid_out_anew_with_its_comments():
    doc = o.loads("l: [1, 2, # two\n  3]\nz: 0\n", option=RT)
    doc["l"][0] = 5
    assert doc.to_yaml().decode() == "l: [\n    5,\n    2, # two\n    3\n  ]\nz: 0\n"


def test_a_comment_after_a_flow_entry_stays_with_that_entry():
    doc = o.loads("l: [1, 2, # two\n  3]\nz: 0\n", option=RT)
    assert [doc.node["l"][i].comment for i in range(3)] == [None, "two", None]
    assert doc.node["l"].comment is None
    doc["z"] = 1
    again = o.loads(doc.to_yaml(), option=RT)
    assert [again.node["l"][i].comment for i in range(3)] == [None, "two", None]
    assert again.to_dict() == {"l": [1, 2, 3], "z": 1}


# ---------------------------------------------------------------------------
# A comment after an empty value stays on that value's line.


@pytest.mark.parametrize(
    "text, edit, expected",
    [
        ("x: 1\na:   # about a\nb: 1\n", assign("a", 2), "x: 1\na: 2   # about a\nb: 1\n"),
        ("x: 1\na:   # about a\nb: 1\n", assign("x", 2), "x: 2\na:   # about a\nb: 1\n"),
        ("a:  # last\n", assign("b", 1), "a:  # last\nb: 1\n"),
        ("- # empty\n- 1\n", assign(1, 2), "- # empty\n- 2\n"),
        ("- # empty\n- 1\n", assign(0, 2), "- 2 # empty\n- 1\n"),
    ],
)
def test_a_comment_after_an_empty_value_stays_on_its_line(text, edit, expected):
    assert edited(text, edit) == expected


def test_an_empty_value_reads_its_comment():
    doc = o.loads("x: 1\na:   # about a\nb: 1\n", option=RT)
    assert doc.node["a"].comment == "about a"
    assert doc.node["b"].comment_before is None


# ---------------------------------------------------------------------------
# Writing is a fixed point: load, edit, write, load, the same edit, write gives
# the same text twice, every comment kept.


def set_l0(doc):
    doc["l"][0] = {"n": 1}


@pytest.mark.parametrize(
    "text, edit, expected",
    [
        ("a:\n  b: 1\n  # foot\n", assign("z", "v"), "a:\n  b: 1\n  # foot\nz: v\n"),
        ("a:\n  b: 1\n  # foot\nz: 1\n", assign("z", "v"), "a:\n  b: 1\n  # foot\nz: v\n"),
        ("- a: 1\n  # foot\n- 2\n", assign(1, 3), "- a: 1\n  # foot\n- 3\n"),
        ("a:\n- x\n  # deeper\nb: 1\n", assign("b", 2), "a:\n- x\n# deeper\nb: 2\n"),
        ("l: [\n  x,  # about x\n  y\n]\n", set_l0, "l: [\n    {n: 1},  # about x\n    y\n  ]\n"),
    ],
)
def test_writing_is_a_fixed_point(text, edit, expected):
    assert_written_and_stable(text, edit, expected)


def test_a_foot_between_entries_belongs_to_the_block_above():
    doc = o.loads("a:\n  b: 1\n  # foot\nz: 1\n", option=RT)
    assert doc.node["a"].comment_after == "foot"
    assert doc.node["z"].comment_before is None


@pytest.mark.parametrize("text", [
    "a: !!bool # x\nb: # c5\n",
    "a: &x # x\nb: # c5\n",
    "a: !!bool\nb: # c5\n",
])
def test_a_comment_after_a_tagged_empty_value_is_not_taken_by_it(text):
    # The empty value with a tag or anchor stands at the next key's token, so
    # it used to take the comment on that key's line (found by fuzz_emit).
    out = edited(text, assign("z", 1))
    doc = o.loads(out, option=RT)
    assert doc.node["b"].comment == "c5"
    assert out.count("# c5") == 1 and out.index("b:") < out.index("# c5")
    assert o.loads(out, option=RT).to_dict()["z"] == 1


# ---------------------------------------------------------------------------
# Comment lines stay with the entry they belong to when another is deleted or
# replaced, and no edit drops one.


def rewritten(doc):
    """Marks the document edited, so that all of it is written anew."""
    doc.node.comment_before = doc.node.comment_before


BARE_DASH = "- a: 1\n  b: 2\n-\n  # note\n  j: w\n"


@pytest.mark.parametrize(
    "text, edit, expected",
    [
        (BARE_DASH, delete(0), "-\n  # note\n  j: w\n"),
        (BARE_DASH, assign(0, 5), "- 5\n-\n  # note\n  j: w\n"),
        ("- - 1\n  - 2\n-\n  # note\n  j: w\n", delete(0), "-\n  # note\n  j: w\n"),
        ("- [1]\n-\n  # note\n  - x\n- 3\n", assign(2, 4), "- [1]\n-\n  # note\n  - x\n- 4\n"),
        ("- a: 1\n-\n  # note\n  scalar\n", assign(0, 2), "- 2\n-\n  # note\n  scalar\n"),
    ],
)
def test_a_comment_under_a_bare_dash_belongs_to_the_item_after_it(text, edit, expected):
    # It used to be read as the foot of the block collection above the dash,
    # and went with it.
    assert_written_and_stable(text, edit, expected, again=rewritten)


def test_a_comment_under_a_bare_dash_reads_from_that_item():
    doc = o.loads(BARE_DASH, option=RT)
    assert doc.node[0].comment_after is None
    assert doc.node[1].comment_before == "note"


@pytest.mark.parametrize(
    "text, before, comment, written",
    [
        ("- 0\n# above\n- # on dash\n  o # o\n", "above\non dash", "o",
         "- 0\n# above\n-\n  # on dash\n  o # o\n"),
        ("- 0\n# above\n- # on dash\n  # below\n  o # o\n", "above\non dash\nbelow", "o",
         "- 0\n# above\n-\n  # on dash\n  # below\n  o # o\n"),
        ("-\n#\n- #-\n o #\n", "\n-", "", "-\n#\n-\n  # -\n  o #\n"),
    ],
)
def test_the_lines_of_an_item_with_a_commented_dash_read_in_order(text, before, comment, written):
    # The dash line's comment used to be read before the lines above the dash.
    doc = o.loads(text, option=RT)
    assert (doc.node[1].comment_before, doc.node[1].comment) == (before, comment)
    out = edited(text, rewritten)
    assert out == written
    again = o.loads(out, option=RT)
    assert (again.node[1].comment_before, again.node[1].comment) == (before, comment)


@pytest.fixture
def directives(tmp_path):
    (tmp_path / "inc.yaml").write_text("x: 1\n")
    (tmp_path / "secrets.yaml").write_text("pw: hunter2\n")
    os.environ["OSV_COMMENT_TEST"] = "from env"
    yield str(tmp_path)
    del os.environ["OSV_COMMENT_TEST"]


@pytest.mark.parametrize(
    "text",
    [
        "a:\n  # c2\n  !include inc.yaml\nb: 1\n",
        "a:\n  # c2\n  !secret pw\nb: 1\n",
        "a:\n  # c2\n  !env_var OSV_COMMENT_TEST\nb: 1\n",
        "a: # c1\n  # c2\n  !env_var OSV_COMMENT_TEST\nb: 1\n",
        "a:\n\n  # c2\n  !secret pw\nb: 1\n",
        "- 0\n-\n  # c2\n  !env_var OSV_COMMENT_TEST\nb: 1\n".replace("b: 1\n", "- 1\n"),
    ],
)
def test_comment_lines_above_a_directive_on_the_next_line_stay(directives, text):
    option = RT | o.OPT_INCLUDES | o.OPT_SECRETS | o.OPT_ENV_VAR
    doc = o.loads(text, option=option, include_dir=directives)
    last = "b" if "b: 1" in text else 2
    doc[last] = 2
    out = doc.to_yaml().decode()
    assert out == text.replace("b: 1", "b: 2").replace("- 1\n", "- 2\n")
    assert "hunter2" not in out


@pytest.mark.parametrize(
    "text, path, expected, comment",
    [
        ("a: &x 1\nb: *x # keep\n", ["b"], "a: &x 1\nb: 1 # keep\n", "keep"),
        ("a: &x 1  # one\nb: *x   # keep\n", ["b"], "a: &x 1  # one\nb: 1   # keep\n", "keep"),
        # Without a comment of its own the copy keeps the anchored node's.
        ("a: &x 1  # one\nb: *x\n", ["b"], "a: &x 1  # one\nb: 1  # one\n", "one"),
        ("a: &x\n  k: 1\nb: *x  # keep\n", ["b"], "a: &x\n  k: 1\nb:  # keep\n  k: 1\n", "keep"),
        ("- &x 1\n# above\n- *x  # keep\n", [1], "- &x 1\n# above\n- 1  # keep\n", "keep"),
        ("- &x 1\n- [*x,  # keep\n   2]\n", [1, 0], "- &x 1\n- [\n    1,  # keep\n    2\n  ]\n",
         "keep"),
    ],
)
def test_detach_keeps_the_comments_of_the_alias_place(text, path, expected, comment):
    # The alias's own end-of-line comment used to be dropped.
    doc = o.loads(text, option=RT)
    doc.locate(path).detach()
    out = doc.to_yaml().decode()
    assert out == expected
    assert o.loads(out, option=RT).locate(path).comment == comment


@pytest.mark.parametrize(
    "text, edit, expected",
    [
        ("a:\n  b: 1\n  # foot of a\nc: 2\n", delete("a", "b"), "a: {}\n# foot of a\nc: 2\n"),
        ("a:\n  - 1\n  # foot of a\nc: 2\n", delete("a", 0), "a: []\n# foot of a\nc: 2\n"),
        ("a:\n  b: 1\n  # foot of a\n\nc: 2\n", delete("a", "b"), "a: {}\n# foot of a\n\nc: 2\n"),
        ("c: 2\na:\n  b: 1\n  # foot of a\n", delete("a", "b"), "c: 2\na: {}\n# foot of a\n"),
        ("a:\n  b: 1\n  # foot of a\nc: 2\n", assign("a", None), "a:\n# foot of a\nc: 2\n"),
        ("a:\n  b: 1\n  # foot of a\nc: 2\n", assign("a", 5), "a: 5\n# foot of a\nc: 2\n"),
        ("- - 1\n  # foot\n- 2\n", delete(0, 0), "- []\n# foot\n- 2\n"),
        ("r:\n  a:\n    b: 1\n    # f\n  # g\nz: 1\n", delete("r", "a", "b"),
         "r:\n  a: {}\n  # f\n  # g\nz: 1\n"),
    ],
)
def test_foot_lines_of_a_collection_left_empty_stay(text, edit, expected):
    # They used to be dropped with the collection's last entry.
    assert_written_and_stable(text, edit, expected, again=rewritten)


@pytest.mark.parametrize(
    "text, edit, expected",
    [
        # The first item's lines stand below its dash.
        ("- &a1 # c\n# item\n- x\n", delete(0), "-\n  # item\n  x\n"),
        ("- &a1 # c\n# item\n- x\n", assign(1, "y"), "- &a1 # c\n# item\n- y\n"),
        ("k: &a # c\n# next\nj: 1\n", delete("k"), "# next\nj: 1\n"),
        # A first item's line below its dash goes above it (it used to be lost).
        ("-\n  # c2\n  &a1  # c1\n- x\n", assign(1, 5), "# c2\n- &a1  # c1\n- 5\n"),
        ("k:\n  # c\n  &a  # c1\nj: 1\n", assign("j", 5), "k:\n  # c\n  &a  # c1\nj: 5\n"),
        ("- &a1\n# item head\n- &a2\n\n- 3\n", rewritten, "- &a1\n# item head\n- &a2\n\n- 3\n"),
        # Lines below a dash stay with an item set to None, above its dash.
        ("- 1\n-\n  # below\n  k: v\n", assign(1, None), "- 1\n# below\n-\n"),
        # An empty tagged or anchored key keeps the lines above its ":" as its
        # own, written above it: they used to go to the value and be written
        # below the key, after the value's comment, and read back swapped.
        (": l\n! #\n: #c\n :\n", rewritten, "null: l\n#\n! '': # c\n  null:\n"),
        ("a: 1\n!!str # about\n: # c\n  x: 1\n", rewritten,
         "a: 1\n# about\n!!str '': # c\n  x: 1\n"),
        ("a: 1\n&k # about\n# more\n: # c\n  x: 1\n", rewritten,
         "a: 1\n# about\n# more\n&k null: # c\n  x: 1\n"),
        ("{a: 1, !!str # k\n : v}\n", rewritten, "{\n    a: 1,\n    # k\n    !!str '': v\n  }\n"),
    ],
)
def test_an_empty_anchored_entry_holds_only_its_own_comments(text, edit, expected):
    # The next entry's head comment used to be taken by the empty node, which
    # is placed at the next token, and went with it.
    assert_written_and_stable(text, edit, expected, again=rewritten)


def test_an_empty_anchored_item_and_the_next_item_read_their_own_comments():
    doc = o.loads("- &a1 # c\n# item\n- x\n", option=RT)
    assert (doc.node[0].comment, doc.node[0].comment_before) == ("c", None)
    assert doc.node[1].comment_before == "item"


@pytest.mark.parametrize(
    "text, written",
    [
        ("- # a\n  ? # b\n", "-\n  # a\n  # b\n  null:\n"),
        ("- 0\n- # a\n  ? # b\n", "- 0\n-\n  # a\n  # b\n  null:\n"),
        ("- 0\n- # a\n  ? # b", "- 0\n-\n  # a\n  # b\n  null:\n"),
    ],
)
def test_a_later_item_writes_its_trailing_comment_after_the_lines_below_its_dash(text, written):
    # Past the first item it used to stay on the dash line, above the lines
    # that stood before it, and read back in front of them.
    out = assert_written_and_stable(text, rewritten, written)
    again = o.loads(out, option=RT)
    assert again.node[len(again) - 1].comment_before == "a\nb"


@pytest.mark.parametrize(
    "text, path, written",
    [
        ("- 1\n- &a # c", [1], "- 1\n- &a # c\n"),
        ("k: ! # c", ["k"], "k: ! # c\n"),
        ("k:\n- !t  # c", ["k", 0], "k:\n- !t  # c\n"),
        ("-\n- # d\n - ! # c", [1, 0], "-\n- # d\n  - ! # c\n"),
    ],
)
def test_an_empty_anchored_entry_ending_the_text_reads_its_comment(text, path, written):
    # Without a final line break the comment used to go to the collection
    # around the entry, and was written back above that collection.
    doc = o.loads(text, option=RT)
    assert doc.locate(path).comment == "c"
    assert doc.to_yaml().decode() == text
    assert edited(text, rewritten) == written
    assert o.loads(written, option=RT).locate(path).comment == "c"


@pytest.mark.parametrize(
    "text, key",
    [
        ("? a\n: # c\nb: 1\n", "a"),
        ("? a\n:   # c\n", "a"),
        ("? |\n  a\n: # c\nb: 1\n", "a\n"),
        ("- ? a\n  : # c\n- 1\n", "a"),
    ],
)
def test_an_empty_value_after_an_explicit_key_reads_the_comment_after_its_colon(text, key):
    # It used to be read as the next key's comment_before, or as the end of
    # the mapping.
    doc = o.loads(text, option=RT)
    mapping = doc.node[0] if text.startswith("- ") else doc.node
    assert mapping[key].comment == "c"
    assert edited(text, rewritten) == text


def test_a_long_key_written_explicitly_keeps_its_empty_value_comment_in_its_document():
    # Written in the "? key" form, the comment used to be read back as the
    # next document's first line.
    key = "k" * 1100
    out = edited(key + ": # c\n---\nl\n", rewritten)
    assert out == "? " + key + "\n: # c\n---\nl\n"
    first, second = o.loads_all(out, option=RT)
    assert (first.node[key].comment, second.node.comment_before) == ("c", None)


def test_an_empty_tagged_key_and_its_value_keep_their_comments_through_a_rewrite():
    # The key's comment used to come back as the value's comment, and the
    # value's below it.
    text = "a: 1\n!!str # about\n: # c\n  x: 1\n"
    assert edited(text, lambda doc: None) == text
    again = o.loads(edited(text, rewritten), option=RT)
    assert (again.node[""].comment_before, again.node[""].comment) == ("about", "c")


FOOT_PLACEMENT = ("comment_after is only supported on a block mapping, a block sequence, "
                  "or the document root")
FOOT_BEFORE_KEY = ("comment_after cannot be written after a sequence at its key's column while "
                   "another key follows; set that key's comment_before instead")
FOOT_BEFORE_DOCUMENT = ("comment_after cannot be written at the end of a document that another "
                        "document follows; set that document's comment_before instead")


@pytest.mark.parametrize(
    "text, setup, path, message",
    [
        ("s: [1, 2]\n", assign("s", 0, {"a": 1}), ["s", 0], FOOT_PLACEMENT),
        ("s: [1, 2]\n", assign("s", 0, [1, 2]), ["s", 0], FOOT_PLACEMENT),
        ("s: {k: 1}\n", assign("s", "k", {"a": {"b": 1}}), ["s", "k", "a"], FOOT_PLACEMENT),
        ("a:\n- x: 1\nb: 1\n", None, ["a", 0], FOOT_BEFORE_KEY),
        ("a:\n- 0\n- x: 1\n  y:\n  - z\nb: 1\n", None, ["a", 1, "y"], FOOT_BEFORE_KEY),
        ("a:\n- b: 1\n---\nc: 2\n", None, ["a"], FOOT_BEFORE_DOCUMENT),
    ],
)
def test_comment_after_that_would_not_read_back_is_refused(text, setup, path, message):
    # Each used to be accepted and then written nowhere, or read back as the
    # next key's comment_before.
    doc = o.loads(text, option=RT)
    if setup:
        setup(doc)
    before = doc.to_yaml()
    with pytest.raises(ValueError) as info:
        doc.locate(path).comment_after = "after"
    assert str(info.value) == message
    assert doc.to_yaml() == before
    doc.locate(path).comment_after = None


@pytest.mark.parametrize("text, path", [
    ("a:\n- x: 1\n- 0\nb: 1\n", ["a", 0]),
    ("a:\n  - x: 1\nb: 1\n", ["a", 0]),
    ("a:\n- x: 1\n", ["a", 0]),
    # A sequence that ends a mapping with lines after it is indented, so that
    # the lines stay the mapping's.
    ("m:\n  k: 1\n  s:\n  - 1\n", ["m"]),
    ("k: 1\ns:\n- 1\n", []),
])
def test_comment_after_that_reads_back_is_accepted(text, path):
    doc = o.loads(text, option=RT)
    target = doc.node
    for step in path:
        target = target[step]
    target.comment_after = "after"
    again = o.loads(doc.to_yaml(), option=RT).node
    for step in path:
        again = again[step]
    assert again.comment_after == "after"


@pytest.mark.parametrize(
    "text, written",
    [
        ("k:\n- 1\n  # f\n---\nx\n", "k:\n- 1\n # f\n---\nx\n"),
        ("k:\n- 1\n... # f\n---\nx\n", "k:\n- 1\n # f\n---\nx\n"),
        ("k:\n- 1\n  # f\n---\n", "k:\n- 1\n # f\n---\n"),
        # Two columns in, they were read back as a nested last sequence's.
        ("k:\n-\n  - 0\n # f\n---\nx\n", "k:\n-\n  - 0\n # f\n---\nx\n"),
        ("k:\n- - 0\n # f\n---\n", "k:\n- - 0\n # f\n---\n"),
    ],
)
def test_lines_after_a_sequence_at_its_key_column_stay_in_their_document(text, written):
    # Written at column 0, they used to be read back as the next document's.
    assert o.loads_all(text, option=RT)[0].node["k"].comment_after == "f"
    out = edited(text, rewritten)
    assert out == written
    first, *others = o.loads_all(out, option=RT)
    assert first.node["k"].comment_after == "f"
    assert [doc.node.comment_before for doc in others] == [None] * len(others)


@pytest.mark.parametrize("index, key", [(0, "a"), (1, "c")])
def test_comment_after_at_the_end_of_a_document_is_accepted(index, key):
    # Indented lines before the next document's "---" used to be read as
    # that document's.
    doc = o.loads("a:\n  b: 1\n---\nc:\n  d: 2\n", option=RT)
    doc[index].node[key].comment_after = "after"
    again = o.loads(doc.to_yaml(), option=RT)
    assert again[index].node[key].comment_after == "after"
    other = again[1 - index].node["c" if index == 0 else "a"]
    assert other.comment_after is None and other.comment_before is None


@pytest.mark.parametrize(
    "text, edit, expected",
    [
        # A foot that the added key would read as its own head becomes it.
        ("a:\n- x\n# foot\n", assign("b", 5), "a:\n- x\n# foot\nb: 5\n"),
        ("a:\n- k: 1\n  # foot\n", assign("b", 5), "a:\n- k: 1\n# foot\nb: 5\n"),
        ("a:\n  b:\n  - x\n  # foot\n", assign("a", "c", 5), "a:\n  b:\n  - x\n  # foot\n  c: 5\n"),
        # The blank line a replaced block scalar closed with stays.
        ("a: |\n  x\n\n# c\nb: 1\n", assign("a", 5), "a: 5\n\n# c\nb: 1\n"),
        ("- |\n  x\n\n# c\n- 1\n", assign(0, 5), "- 5\n\n# c\n- 1\n"),
        ("a:\n  k: |\n    x\n\n# c\nb: 1\n", assign("a", 5), "a: 5\n\n# c\nb: 1\n"),
        # The gap before a comment after properties is the source's.
        ("- &a1  # c1\n- x\n", assign(1, 5), "- &a1  # c1\n- 5\n"),
        ("- &a1  # c1\n  x\n- y\n", assign(1, 5), "- &a1  # c1\n  x\n- 5\n"),
        ("k: !t  # c1\n  - b\nj: 1\n", assign("j", 5), "k: !t  # c1\n  - b\nj: 5\n"),
    ],
)
def test_comment_placement_is_kept_and_a_fixed_point(text, edit, expected):
    assert_written_and_stable(text, edit, expected)


# ---------------------------------------------------------------------------
# The lines after a replaced block mapping: a block collection in its place
# keeps them as its comment_after, a scalar or flow collection leaves them to
# what follows; either way the same assignment after a reload writes the
# same text.

# The entry "k02" (at indent {p}) as a block mapping with lines after it.
ENTRIES_WITH_FOOT = {
    "foot at the mapping's column": "{p}k02:\n{p}  k10: a\n{p}  # foot\n",
    "mapping four columns in": "{p}k02:\n{p}    k10: a\n{p}    # foot\n",
    "after a nested mapping's own": (
        "{p}k02:\n{p}  k10:\n{p}    k20: a\n{p}    # inner\n{p}  # foot\n"),
}

# Where the entry stands: (text around it, document, path of k02, its
# indent, where the lines read back from when no block collection replaced
# the mapping as (document, path, member)).
FOOT_PLACES = {
    "root, key after": ("k01: a\n{E}k03: b\n", 0, ["k02"], "", (0, ["k03"], "comment_before")),
    "root, last": ("k01: a\n{E}", 0, ["k02"], "", (0, [], "comment_after")),
    "root, key after, documents around": (
        "x: 1\n---\nk01: a\n{E}k03: b\n---\ny: 2\n", 1, ["k02"], "",
        (1, ["k03"], "comment_before")),
    # Lines after a root and before the next "---" are that document's.
    "root, last, document after": (
        "x: 1\n---\nk01: a\n{E}---\ny: 2\n", 1, ["k02"], "", (2, [], "comment_before")),
    "root, last document": ("x: 1\n---\nk01: a\n{E}", 1, ["k02"], "", (1, [], "comment_after")),
    "nested, key after": (
        "top:\n  k01: a\n{E}  k03: b\nz: 1\n", 0, ["top", "k02"], "  ",
        (0, ["top", "k03"], "comment_before")),
    "nested, last, document after": (
        "top:\n  k01: a\n{E}---\nz: 1\n", 0, ["top", "k02"], "  ",
        (0, ["top"], "comment_after")),
    "item, key after": (
        "- k01: a\n{E}  k03: b\n- z\n", 0, [0, "k02"], "  ", (0, [0, "k03"], "comment_before")),
    "item, last": ("- k01: a\n{E}- z\n", 0, [0, "k02"], "  ", (0, [0], "comment_after")),
}

REPLACEMENTS = {
    "block sequence": [0],
    "sequence of mappings": [{"n": 0}],
    "sequence of sequences": [[0]],
    "block mapping": {"n": 0},
    "scalar": 5,
    "flow sequence": [],
    "flow mapping": {},
}


def assigned_in_document(text, document, path, value):
    doc = o.loads(text, option=RT)
    target = doc[document] if len(o.loads_all(text)) > 1 else doc
    for step in path[:-1]:
        target = target[step]
    target[path[-1]] = value
    return doc.to_yaml().decode()


def node_in_document(text, document, path):
    doc = o.loads(text, option=RT)
    node = doc[document].node if len(o.loads_all(text)) > 1 else doc.node
    for step in path:
        node = node[step]
    return node


@pytest.mark.parametrize("value", REPLACEMENTS.values(), ids=REPLACEMENTS.keys())
@pytest.mark.parametrize("entry", ENTRIES_WITH_FOOT.values(), ids=ENTRIES_WITH_FOOT.keys())
@pytest.mark.parametrize("place", FOOT_PLACES.values(), ids=FOOT_PLACES.keys())
def test_lines_after_a_replaced_mapping_read_back_from_one_place(place, entry, value):
    around, document, path, indent, settled = place
    text = around.replace("{E}", entry.replace("{p}", indent))
    assert node_in_document(text, document, path).comment_after == "foot"
    out = assigned_in_document(text, document, path, value)
    assert assigned_in_document(out, document, path, value) == out
    assert out.count("# foot") == 1 and "inner" not in out
    if isinstance(value, (list, dict)) and value:
        document_, path_, member = document, path, "comment_after"
    else:
        document_, path_, member = settled
    assert getattr(node_in_document(out, document_, path_), member) == "foot", out


@pytest.mark.parametrize(
    "text, document, written, owner",
    [
        # Written one column in after the sequence at its key's column, they
        # were read back as the next key's, and the same edit then wrote them
        # at column 0.
        ("k00:\n---\nk00: alpha\n\nk01: alpha\n\nk02:\n  k10: alpha\n  # foot 1\n\n"
         "k03: alpha\n---\n", 1,
         "k00:\n---\nk00: alpha\n\nk01: alpha\n\nk02:\n  - 0\n  # foot 1\n\nk03: alpha\n---\n",
         ["k02"]),
        # An explicit key's value follows the same rules.
        ("? k02\n:\n  m: 1\n  # foot 1\nk03: 1\n", 0, "? k02\n:\n  - 0\n  # foot 1\nk03: 1\n",
         ["k02"]),
        ("k01: 1\n? k02\n:\n  m: 1\n# foot 1\n", 0, "k01: 1\n? k02\n:\n  - 0\n# foot 1\n", []),
    ],
)
def test_a_sequence_in_place_of_a_mapping_keeps_the_lines_after_it(text, document, written, owner):
    out = assigned_in_document(text, document, ["k02"], [0])
    assert out == written
    assert node_in_document(out, document, owner).comment_after == "foot 1"
    assert assigned_in_document(out, document, ["k02"], [0]) == out


def test_lines_after_a_root_before_another_document_indent_no_sequence():
    # They are read back as the next document's: a sequence indented before
    # them went back to its key's column after a reload.
    def edit(doc):
        doc[0]["k00"] = 0  # the mapping's lines go to the root
        doc[0]["k00"] = [0]

    text = "k00:\n  k10: alpha\n  # foot 1\n---\nk00: alpha\n"
    out = assert_written_and_stable(text, edit, "k00:\n- 0\n# foot 1\n---\nk00: alpha\n")
    assert o.loads(out, option=RT)[1].node.comment_before == "foot 1"


@pytest.mark.parametrize("text", [
    "k00:\n  k10: alpha\n  # foot 1\n---\n",
    "x: 1\n---\nk00:\n  k10: alpha\n  # foot 1\n---\n",
])
def test_lines_after_a_root_before_only_empty_documents_stay_its_own(text):
    # Only a document with content takes them: before an empty one the
    # sequence is indented, else they were read back as the sequence's.
    doc = o.loads(text, option=RT)
    last = doc if len(o.loads_all(text)) == 2 else doc[1]
    last["k00"] = 0  # the mapping's lines go to the root
    last["k00"] = [0]
    last.node.comment_after = "noted"
    out = doc.to_yaml().decode()
    assert out.endswith("k00:\n  - 0\n# noted\n---\n")
    again = o.loads(out, option=RT)
    assert (again if len(o.loads_all(out)) == 2 else again[1]).node.comment_after == "noted"

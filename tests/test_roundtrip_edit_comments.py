"""Edits of commented round-trip documents keep the comments the user wrote,
on the lines they stood on: directive lines, one-line flow collections,
empty values, foot comments of nested blocks, and the comments set through
the node API, which read back from the same node after a reload."""
import os

import pytest

import ostrevane as o

RT = o.OPT_ROUND_TRIP


def edited(text, edit, option=RT, **kw):
    doc = o.loads(text, option=option, **kw)
    edit(doc)
    return doc.to_yaml().decode()


def assign(*path_and_value):
    *path, value = path_and_value

    def edit(doc):
        target = doc
        for step in path[:-1]:
            target = target[step]
        target[path[-1]] = value

    return edit


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
    once = edited(text, edit)
    assert once == expected
    assert edited(once, edit) == once


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

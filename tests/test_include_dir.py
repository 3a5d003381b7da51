"""The four !include_dir_ directives through loads: listing order, which
names count, the recursion switch, confinement of every entry, the merge
forms, errors with their exact text, file and include stack, and the
directory loop that a link back to an ancestor makes.

Every case runs over a tree made under tmp_path: the include directory
`root` and a directory `outside` beside it.
"""
import os
import stat
import subprocess
import sys
import textwrap

import pytest

import ostrevane as o
from ostrevane.exceptions import (
    OstrevaneIncludeConfinementError,
    OstrevaneIncludeDepthError,
    OstrevaneIncludeError,
    OstrevaneIncludeNotFoundError,
)
from include_tree import IncludeTree

INC = o.OPT_INCLUDES
REC = o.OPT_INCLUDES | o.OPT_INCLUDE_DIR_RECURSIVE
TAGS = ["!include_dir_list", "!include_dir_named", "!include_dir_merge_list",
        "!include_dir_merge_named"]


class Tree(IncludeTree):
    def files(self, names):
        for name in names:
            self.write(name, f"{os.path.splitext(name)[0]}\n")


@pytest.fixture
def tree(tmp_path):
    return Tree(tmp_path, INC)


def run_child(code, timeout=60):
    """Runs `code` in a fresh interpreter: a read of a FIFO or a listing
    without end would hang this one."""
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=timeout)
    assert done.returncode == 0, done.stderr
    return done.stdout.strip()


# ---------------------------------------------------------------------------
# Order and choice of names


def test_files_by_name_then_subdirectories_depth_first(tree):
    tree.files(["d/a.yaml", "d/b/x.yaml", "d/b/c/y.yaml", "d/d.yaml", "d/e/z.yaml"])
    assert tree.loads("!include_dir_list d\n", option=REC) == ["d/a", "d/d", "d/b/x", "d/b/c/y",
                                                               "d/e/z"]
    # Without the switch, subdirectories are left out.
    assert tree.loads("!include_dir_list d\n") == ["d/a", "d/d"]


def test_names_sort_bytewise_with_a_prefix_before_its_extensions(tree):
    names = ["d/a0.yaml", "d/a.yaml.yml", "d/a.yaml", "d/B.yaml", "d/\u00e9.yaml", "d/z.yml"]
    tree.files(names)
    assert tree.loads("!include_dir_named d\n") == {
        "B": "d/B", "a": "d/a", "a.yaml": "d/a.yaml", "a0": "d/a0", "z": "d/z",
        "\u00e9": "d/\u00e9"}
    assert list(tree.loads("!include_dir_named d\n")) == ["B", "a", "a.yaml", "a0", "z", "\u00e9"]


def test_hidden_names_and_other_extensions_are_skipped(tree):
    tree.files(["d/ok.yaml", "d/ok2.yml", "d/.hidden.yaml", "d/.git/x.yaml", "d/up.YAML",
                "d/tilde.yaml~", "d/data.json", "d/yaml", "d/.yaml", "d/x.yaml.bak"])
    assert tree.loads("!include_dir_list d\n", option=REC) == ["d/ok", "d/ok2"]


def test_a_stem_that_is_not_utf8_is_replaced(tree):
    name = os.path.join(os.fsencode(tree.path("d")), b"\xff.yaml")
    os.makedirs(tree.path("d"))
    with open(name, "w") as f:
        f.write("v\n")
    assert tree.loads("!include_dir_named d\n") == {"\ufffd": "v"}


def test_secrets_yaml_is_skipped_only_with_opt_secrets(tree):
    tree.files(["d/secrets.yaml", "d/secrets.yml", "d/sub/secrets.yaml", "d/x.yaml"])
    assert tree.loads("!include_dir_list d\n", option=REC) == [
        "d/secrets", "d/secrets", "d/x", "d/sub/secrets"]
    assert tree.loads("!include_dir_list d\n", option=REC | o.OPT_SECRETS) == ["d/secrets", "d/x"]


def test_documents_of_a_file(tree):
    tree.write("d/two.yaml", "first\n---\nsecond\n")
    tree.write("d/zero.yaml", "# nothing\n")
    assert tree.loads("!include_dir_list d\n") == ["first", "second"]
    assert tree.loads("!include_dir_named d\n") == {"two": "first", "zero": {}}


# ---------------------------------------------------------------------------
# Missing, empty and misnamed directories; arguments


@pytest.mark.parametrize("tag, empty", zip(TAGS, [[], {}, [], {}]))
def test_a_missing_directory_or_a_file_gives_an_empty_result(tree, tag, empty):
    tree.write("file.yaml", "x\n")
    os.makedirs(tree.path("empty"))
    for arg in ["nope", "file.yaml", "empty", "nope/deeper"]:
        assert tree.loads(f"a: {tag} {arg}\n") == {"a": empty}


@pytest.mark.parametrize("tag, named", [("!include_dir_list", "!include_dir_list"),
                                        ("!include_dir_named", "!include_dir_named"),
                                        ("!include_dir_merge_list", "!include_dir_list"),
                                        ("!include_dir_merge_named", "!include_dir_named")])
@pytest.mark.parametrize("arg", ["", " '  '", " [d]"])
def test_a_blank_argument_fails_naming_the_tag(tree, tag, named, arg):
    e = tree.error(f"a: {tag}{arg}\n")
    assert type(e) is OstrevaneIncludeError
    assert str(e) == f"{named} needs an argument in {tree.main}"
    assert (e.file, e.include_stack) == (tree.main, [])


@pytest.mark.skipif(os.geteuid() == 0, reason="root opens any directory")
def test_a_directory_that_cannot_be_read(tree):
    tree.files(["d/a.yaml", "d/locked/x.yaml"])
    os.chmod(tree.path("d/locked"), 0)
    try:
        e = tree.error("!include_dir_list d\n", option=REC)
    finally:
        os.chmod(tree.path("d/locked"), stat.S_IRWXU)
    assert type(e) is OstrevaneIncludeNotFoundError
    locked = tree.path("d/locked")
    assert str(e) == f"cannot read directory: Permission denied (os error 13) in {locked}"
    assert (e.file, e.include_stack) == (locked, [])


# ---------------------------------------------------------------------------
# The merge forms


def test_merge_list_splices_sequences_and_keeps_other_documents_whole(tree):
    tree.write("d/1.yaml", "- a\n- b\n")
    tree.write("d/2.yaml", "k: v\n")
    tree.write("d/3.yaml", "plain\n")
    tree.write("d/4.yaml", "")
    tree.write("d/5.yaml", "- [c]\n")
    assert tree.loads("!include_dir_merge_list d\n") == ["a", "b", {"k": "v"}, "plain", ["c"]]
    assert tree.loads("!include_dir_list d\n") == [["a", "b"], {"k": "v"}, "plain", [["c"]]]


def test_merge_named_merges_mappings_and_drops_everything_else(tree):
    tree.write("d/1.yaml", "a: 1\nb: 2\n")
    tree.write("d/2.yaml", "- dropped\n")
    tree.write("d/3.yaml", "b: 3\nc: 4\n")
    tree.write("d/4.yaml", "scalar\n")
    tree.write("d/5.yaml", "")
    assert tree.loads("!include_dir_merge_named d\n") == {"a": 1, "b": 3, "c": 4}
    doc = tree.loads("!include_dir_merge_named d\n", option=INC | o.OPT_ROUND_TRIP)
    assert doc.to_dict() == {"a": 1, "b": 3, "c": 4}


def test_round_trip_keeps_the_directive_text(tree):
    tree.write("d/x.yaml", "x: 1\n")
    text = "# head\nall: !include_dir_named d  # kept\n"
    doc = tree.loads(text, option=INC | o.OPT_ROUND_TRIP)
    assert doc.to_yaml() == text.encode()
    assert doc.to_dict() == {"all": {"x": {"x": 1}}}


# ---------------------------------------------------------------------------
# Confinement of each entry, links, errors inside listed files


def test_each_listed_entry_is_confined(tree):
    def refused(text, argument, option=INC):
        e = tree.error(text, option=option)
        assert type(e) is OstrevaneIncludeConfinementError
        assert str(e) == (f"'{argument}' resolves outside the configured include directory "
                          f"in {tree.main}")
        assert (e.file, e.include_stack) == (tree.main, [])

    with open(os.path.join(tree.outside, "o.yaml"), "w") as f:
        f.write("stolen\n")
    tree.files(["d/a.yaml", "in/x.yaml"])
    os.symlink(os.path.join(tree.outside, "o.yaml"), tree.path("d/out.yaml"))
    refused("!include_dir_list d\n", tree.path("d/out.yaml"))
    os.remove(tree.path("d/out.yaml"))

    # A link to a directory outside: skipped without the switch, refused with it.
    os.symlink(tree.outside, tree.path("d/outdir"))
    assert tree.loads("!include_dir_list d\n") == ["d/a"]
    refused("!include_dir_list d\n", tree.path("d/outdir"), option=REC)
    os.remove(tree.path("d/outdir"))

    # Links that stay inside are followed and listed under their own names.
    os.symlink(tree.path("in"), tree.path("d/indir"))
    os.symlink(tree.path("in/x.yaml"), tree.path("d/linked.yaml"))
    assert tree.loads("!include_dir_named d\n", option=REC) == {"a": "d/a", "linked": "in/x",
                                                               "x": "in/x"}
    # The directory itself is confined like an !include argument.
    refused("a: !include_dir_list ../outside\n", "../outside")


def test_a_dangling_link_named_like_yaml_fails(tree):
    tree.files(["d/a.yaml"])
    os.symlink("nowhere.yaml", tree.path("d/dangling.yaml"))
    os.symlink("nowhere", tree.path("d/dangling_other"))
    e = tree.error("!include_dir_list d\n")
    assert type(e) is OstrevaneIncludeNotFoundError
    d = tree.path("d")
    assert str(e) == f"cannot read included file '{d}/dangling.yaml': not found in {tree.main}"
    assert e.include_stack == []


def test_errors_in_listed_files_carry_the_listed_frame(tree):
    tree.write("d/a.yaml", "ok\n")
    tree.write("d/b.yaml", "x: !include ../nope.yaml\n")
    e = tree.error("\n\nall: !include_dir_list d\n")
    assert type(e) is OstrevaneIncludeNotFoundError
    nope = tree.path("nope.yaml")
    assert str(e) == ("cannot read included file '../nope.yaml': No such file or directory "
                      f"(os error 2) in {nope}\n  included from {tree.path('d/b.yaml')}, line 3")
    assert e.include_stack == [(tree.path("d/b.yaml"), 3)]
    tree.write("d/b.yaml", "x: [\n")
    e = tree.error("all: !include_dir_list d\n")
    assert (e.file, e.line, e.column, e.include_stack) == (tree.path("d/b.yaml"), 2, 1, [])


def test_a_listed_file_that_lists_its_own_directory_stops_at_the_depth_limit(tree):
    tree.write("d/self.yaml", "again: !include_dir_list .\n")
    e = tree.error("!include_dir_list d\n")
    assert type(e) is OstrevaneIncludeDepthError
    self_path = tree.path("d/self.yaml")
    assert str(e).splitlines()[0] == f"include chain exceeds the maximum depth of 50 in {self_path}"
    assert e.include_stack == [(self_path, 1)] * 50


def test_listed_files_count_against_the_fan_out_limit(tree):
    for i in range(101):
        tree.write(f"d/f{i:03}.yaml", "1\n")
    # 99 listings load 9,999 files; the 100th loads one more, then fails.
    text = "".join("- !include_dir_list d\n" for _ in range(100))
    e = tree.error(text)
    assert type(e) is OstrevaneIncludeDepthError
    assert str(e).splitlines()[0] == (
        "include expansion exceeded the maximum of 10000 files (a fan-out of nested includes) "
        f"in {tree.path('d/f001.yaml')}")


# ---------------------------------------------------------------------------
# Mends: directory loops, FIFOs and devices


def test_a_link_back_to_an_ancestor_lists_each_directory_once(tree):
    tree.files(["t/a.yaml", "t/sub/b.yaml", "t/sub/deeper/c.yaml", "t/z.yaml"])
    os.symlink("..", tree.path("t/sub/up"))           # back to t
    os.symlink("../..", tree.path("t/sub/deeper/top"))  # back to t as well
    os.symlink(".", tree.path("t/sub/here"))          # sub itself
    out = run_child(f"""
        import ostrevane as o
        print(o.loads("!include_dir_list t\\n", option=o.OPT_INCLUDES |
                      o.OPT_INCLUDE_DIR_RECURSIVE, include_dir={tree.root!r}))
        """)
    assert out == repr(["t/a", "t/z", "t/sub/b", "t/sub/deeper/c"])


def test_a_fifo_in_a_listing_is_refused_without_being_read(tree):
    tree.files(["d/a.yaml"])
    os.mkfifo(tree.path("d/pipe.yaml"))
    os.mkfifo(tree.path("d/pipe_other"))  # not a YAML name: never touched
    out = run_child(f"""
        import ostrevane as o
        try:
            o.loads("!include_dir_list d\\n", option=o.OPT_INCLUDES, include_dir={tree.root!r})
        except o.exceptions.OstrevaneIncludeNotFoundError as e:
            print(repr((str(e), e.file, e.include_stack)))
        """)
    pipe = tree.path("d/pipe.yaml")
    assert out == repr((f"cannot read included file '{pipe}': not a regular file in {pipe}",
                        pipe, []))


def test_a_device_in_a_listing_is_refused_without_being_read(tree):
    tree.files(["d/a.yaml"])
    try:
        os.mknod(tree.path("d/zero.yaml"), stat.S_IFCHR | 0o666, os.makedev(1, 5))
    except (PermissionError, OSError):
        pytest.skip("cannot make a device node here")
    out = run_child(f"""
        import ostrevane as o
        try:
            o.loads("!include_dir_list d\\n", option=o.OPT_INCLUDES, include_dir={tree.root!r})
        except o.exceptions.OstrevaneIncludeNotFoundError as e:
            print(str(e))
        """)
    zero = tree.path("d/zero.yaml")
    # A mount without device access refuses the open itself.
    assert out in (f"cannot read included file '{zero}': not a regular file in {zero}",
                   f"cannot read included file '{zero}': Permission denied (os error 13) in {zero}")

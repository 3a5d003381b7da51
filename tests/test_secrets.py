"""!secret through loads: the upward search from the file holding the
directive to the include root, the logger check, the three errors of
secrets files, the not-found error and its deferral, one read per file and
call, what counts as an absent file, and values whose aliases belong to
their own secrets.yaml.

Every case runs over a tree made under tmp_path: the include directory
`root` inside `base`, whose own secrets.yaml must never be read.
"""
import logging
import os
import subprocess
import sys
import textwrap

import pytest

import ostrevane as o
from ostrevane.exceptions import (
    OstrevaneIncludeError,
    OstrevaneSecretNotFoundError,
)
from include_tree import IncludeTree

SEC = o.OPT_SECRETS
INC_SEC = o.OPT_INCLUDES | o.OPT_SECRETS
LOGGER_WARNING = "secrets.yaml: 'logger: debug' expected, but a different value was found"


@pytest.fixture
def tree(tmp_path):
    t = IncludeTree(tmp_path, INC_SEC)
    with open(os.path.join(t.base, "secrets.yaml"), "w") as f:
        f.write("above: never read\nshared: from above\n")
    t.write("secrets.yaml", "shared: from root\nroot_only: r\n'': empty name\n")
    t.write("a/secrets.yaml", "shared: from a\n")
    t.write("a/b/use.yaml", "- !secret shared\n- !secret root_only\n")
    return t


@pytest.fixture
def warnings(caplog):
    caplog.set_level(logging.WARNING, logger="ostrevane")
    return lambda: [r.getMessage() for r in caplog.records if r.name == "ostrevane"]


# ---------------------------------------------------------------------------
# The search


def test_the_nearest_file_wins_and_the_search_stops_at_the_include_root(tree):
    assert tree.loads("a: !secret shared\nb: !include a/b/use.yaml\n") == {
        "a": "from root", "b": ["from a", "r"]}
    e = tree.error("x: 1\ny: !secret above\n")
    assert type(e) is OstrevaneSecretNotFoundError
    assert str(e) == f"secret 'above' is not defined in any secrets.yaml in {tree.main}"
    assert (e.file, e.line, e.column) == (tree.main, 2, 12)  # the name after the tag
    assert not hasattr(e, "include_stack") or e.include_stack is None


def test_the_not_found_error_names_the_file_that_holds_the_directive(tree):
    tree.write("a/b/missing.yaml", "\n  - !secret nowhere\n")
    e = tree.error("top: !include a/b/missing.yaml\n")
    f = tree.path("a/b/missing.yaml")
    assert type(e) is OstrevaneSecretNotFoundError
    assert str(e) == (f"secret 'nowhere' is not defined in any secrets.yaml in {f}\n"
                      f"  included from {f}, line 1")
    assert (e.file, e.line, e.column) == (f, 2, 13)


def test_root_path_sets_where_the_search_starts(tree):
    rp = tree.write("a/main.yaml", "")
    assert tree.loads("!secret shared\n", root_path=rp) == "from a"
    # A root file outside the include root finds nothing.
    outside = os.path.join(tree.base, "main.yaml")
    with open(outside, "w") as f:
        f.write("")
    with pytest.raises(OstrevaneSecretNotFoundError):
        tree.loads("!secret shared\n", root_path=outside)


def test_names_are_the_scalar_text_and_values_keep_their_form(tree):
    tree.write("secrets.yaml", textwrap.dedent("""\
        ' spaced ': s
        '': empty name
        list: [1, {k: v}]
        n: 12
        dup: first
        dup: second
        """))
    assert tree.loads("a: !secret ' spaced '\nb: !secret\nc: !secret list\nd: !secret n\n"
                      "e: !secret dup\nf: [!secret n, !secret n]\n") == {
        "a": "s", "b": "empty name", "c": [1, {"k": "v"}], "d": 12, "e": "second", "f": [12, 12]}


def test_secrets_alone_and_on_the_round_trip_road(tree):
    assert tree.loads("a: !secret shared\nb: !include x\n", option=SEC) == {
        "a": "from root", "b": "x"}
    text = "# top\na: !secret shared  # kept\n"
    doc = tree.loads(text, option=SEC | o.OPT_ROUND_TRIP)
    assert doc.to_yaml() == text.encode()
    assert doc.to_dict() == {"a": "from root"}
    assert tree.loads("a: !secret shared\n", option=o.OPT_INCLUDES) == {"a": "shared"}


# ---------------------------------------------------------------------------
# logger


@pytest.mark.parametrize("value, warned", [
    ("debug", False), ("DEBUG", False), ("Debug", False), ("info", True), ("[debug]", True),
    ("debugx", True), ("", True),
])
def test_logger_is_never_a_secret_and_warns_unless_debug(tree, warnings, value, warned):
    tree.write("secrets.yaml", f"logger: {value}\nk: v\n")
    assert tree.loads("a: !secret k\n") == {"a": "v"}
    assert warnings() == ([LOGGER_WARNING] if warned else [])
    with pytest.raises(OstrevaneSecretNotFoundError):
        tree.loads("a: !secret logger\n")


def test_each_secrets_file_is_read_once_per_call(tree, warnings):
    tree.write("secrets.yaml", "logger: info\nk: v\n")
    tree.write("a/secrets.yaml", "logger: info\nother: o\n")
    text = "".join(f"- !include a/b/k{i}.yaml\n" for i in range(5)) + "- !secret k\n" * 5
    for i in range(5):
        tree.write(f"a/b/k{i}.yaml", "[!secret k, !secret other, !secret k]\n")
    assert tree.loads(text) == [["v", "o", "v"]] * 5 + ["v"] * 5
    # One warning per file read: a/secrets.yaml, then the root's.
    assert warnings() == [LOGGER_WARNING, LOGGER_WARNING]
    tree.loads(text)
    assert len(warnings()) == 4


# ---------------------------------------------------------------------------
# Errors of secrets files


@pytest.mark.parametrize("text, message", [
    ("a: [1\n", "invalid secrets.yaml: unclosed flow collection at end of input"),
    ("k: v\nbad: {x: [!secret other]}\n", "secrets not supported in a secrets.yaml file"),
    ("? !secret k\n: v\n", None),
    ("- a\n- b\n", "secrets.yaml does not contain a dictionary"),
    ("just text\n", "secrets.yaml does not contain a dictionary"),
])
def test_errors_of_secrets_files(tree, text, message):
    secrets = tree.write("a/secrets.yaml", text)
    if message is None:  # a tagged key is not a value: no error
        assert tree.loads("!include a/b/use.yaml\n") == ["from root", "r"]
        return
    e = tree.error("ok: 1\nv: !include a/b/use.yaml\n")
    assert type(e) is OstrevaneIncludeError
    assert str(e) == f"{message} in {secrets}"
    assert (e.file, e.include_stack) == (secrets, [])
    assert not hasattr(e, "line") or e.line is None


def test_a_broken_file_matters_only_when_the_search_reaches_it(tree):
    tree.write("secrets.yaml", "[broken\n")
    tree.write("a/b/near.yaml", "!secret shared\n")
    assert tree.loads("!include a/b/near.yaml\n") == "from a"
    e = tree.error("!include a/b/use.yaml\n")
    assert str(e) == ("invalid secrets.yaml: unclosed flow collection at end of input in "
                      f"{tree.path('secrets.yaml')}")


@pytest.mark.parametrize("text", ["", "# only a comment\n", "~\n", "null\n", "--- \n...\n"])
def test_an_empty_file_defines_nothing(tree, text):
    tree.write("a/secrets.yaml", text)
    assert tree.loads("!include a/b/use.yaml\n") == ["from root", "r"]


# ---------------------------------------------------------------------------
# Absent files: unreadable, not UTF-8, not regular, outside the root


def test_files_that_cannot_be_used_count_as_absent(tree):
    tree.write("a/secrets.yaml", b"shared: \xff\n")  # not UTF-8
    assert tree.loads("!include a/b/use.yaml\n") == ["from root", "r"]
    os.remove(tree.path("a/secrets.yaml"))
    os.makedirs(tree.path("a/secrets.yaml"))  # a directory
    assert tree.loads("!include a/b/use.yaml\n") == ["from root", "r"]
    os.rmdir(tree.path("a/secrets.yaml"))
    os.symlink(os.path.join(tree.base, "secrets.yaml"), tree.path("a/secrets.yaml"))
    assert tree.loads("!include a/b/use.yaml\n") == ["from root", "r"]  # a link leading out
    os.remove(tree.path("a/secrets.yaml"))
    os.symlink("secrets_real.yaml", tree.path("a/secrets.yaml"))  # dangling
    assert tree.loads("!include a/b/use.yaml\n") == ["from root", "r"]


def test_a_fifo_named_secrets_yaml_counts_as_absent_and_is_never_read(tree):
    os.mkfifo(tree.path("a/secrets.yaml.fifo"))
    os.rename(tree.path("a/secrets.yaml"), tree.path("a/old"))
    os.rename(tree.path("a/secrets.yaml.fifo"), tree.path("a/secrets.yaml"))
    code = textwrap.dedent(f"""\
        import ostrevane as o
        print(o.loads("!include a/b/use.yaml\\n", option=o.OPT_INCLUDES | o.OPT_SECRETS,
                      include_dir={tree.root!r}))
        """)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.stdout.strip() == repr(["from root", "r"]), done.stderr


# ---------------------------------------------------------------------------
# Missing secrets: deferral through the callback and the warning


def test_missing_secrets_are_deferred_to_the_callback_and_the_warning(tree, warnings):
    tree.write("a/b/miss.yaml", "x: 1\ny: !secret gone2\n")
    text = "a: !secret gone1\nb: !include a/b/miss.yaml\nc: !secret shared\n"
    calls = []
    result = tree.loads(text, on_missing_secret=lambda *a: calls.append(a) or "ignored")
    assert result == {"a": None, "b": {"x": 1, "y": None}, "c": "from root"}
    assert calls == [("gone1", tree.main, 1), ("gone2", tree.path("a/b/miss.yaml"), 2)]
    assert warnings() == []
    assert tree.loads(text, option=INC_SEC | o.OPT_SECRET_NOT_FOUND_WARN) == result
    assert warnings() == [
        f"secret 'gone1' is not defined in any secrets.yaml at {tree.main}:1",
        f"secret 'gone2' is not defined in any secrets.yaml at {tree.path('a/b/miss.yaml')}:2"]


def test_a_raising_secret_callback_stops_the_report(tree, monkeypatch):
    monkeypatch.delenv("OSV_NOT_SET_SECRETS", raising=False)
    env_calls = []

    def boom(name, file, line):
        raise KeyError(name)

    with pytest.raises(KeyError, match="gone"):
        tree.loads("a: !secret gone\nb: !env_var OSV_NOT_SET_SECRETS\n",
                   option=INC_SEC | o.OPT_ENV_VAR, on_missing_secret=boom,
                   on_missing_env_var=lambda *a: env_calls.append(a))
    assert env_calls == []


# ---------------------------------------------------------------------------
# Values with aliases and anchors stay within their secrets.yaml


def test_an_aliased_secret_value_means_its_own_files_anchor(tree):
    tree.write("secrets.yaml", textwrap.dedent("""\
        base: &base {user: admin, port: 5432}
        token: *base
        nested: {inner: *base, list: [*base]}
        scalar: &s plain
        again: *s
        """))
    text = "base: &base mine\nt: !secret token\nn: !secret nested\na: !secret again\nb: *base\n"
    expected_base = {"user": "admin", "port": 5432}
    assert tree.loads(text) == {"t": expected_base, "n": {"inner": expected_base,
                                                          "list": [expected_base]},
                                "a": "plain", "base": "mine", "b": "mine"}
    assert tree.loads(text, option=INC_SEC | o.OPT_ROUND_TRIP).to_dict() == tree.loads(text)


def test_a_secret_anchor_does_not_capture_the_loading_files_aliases(tree):
    tree.write("secrets.yaml", "pw: &x hunter2\nconf: &y {k: &x inner}\n")
    text = "first: &x mine\ns: !secret pw\nafter: *x\nc: !secret conf\nlast: *x\n"
    assert tree.loads(text) == {"first": "mine", "s": "hunter2", "after": "mine",
                                "c": {"k": "inner"}, "last": "mine"}
    doc = tree.loads(text, option=INC_SEC | o.OPT_ROUND_TRIP)
    assert doc.to_dict()["after"] == "mine" and doc.to_dict()["last"] == "mine"


def test_alias_expansion_past_the_bounds_fails_naming_the_limit(tree):
    # Seven levels of ten aliases each: far past a million nodes.
    lines = ["l0: &l0 x"] + [f"l{i}: &l{i} [" + ", ".join([f"*l{i - 1}"] * 10) + "]"
                             for i in range(1, 7)]
    secrets = tree.write("secrets.yaml", "\n".join(lines) + "\n")
    assert tree.loads("a: 1\n") == {"a": 1}  # no directive: nothing is read
    e = tree.error("a: !secret l1\n")
    assert type(e) is OstrevaneIncludeError
    assert str(e) == f"alias expansion in secrets.yaml exceeds the limit of 1000000 nodes in {secrets}"
    assert (e.file, e.include_stack) == (secrets, [])
    # A chain of 101 alias hops passes the depth of 100.
    lines = ["c0: &c0 end"] + [f"c{i}: &c{i} [*c{i - 1}]" for i in range(1, 102)]
    tree.write("secrets.yaml", "\n".join(lines) + "\n")
    e = tree.error("a: !secret c0\n")
    assert str(e) == f"alias expansion in secrets.yaml exceeds the maximum depth of 100 in {secrets}"
    lines = lines[:101]  # 100 hops: within the bound
    tree.write("secrets.yaml", "\n".join(lines) + "\n")
    value = tree.loads("a: !secret c100\n")["a"]
    for _ in range(100):
        value = value[0]
    assert value == "end"

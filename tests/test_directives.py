"""!include and !env_var through loads: the node road, confinement, limits,
errors with their exact text, file, position and include stack, and the
missing-variable reports.

Every case runs over a small tree made under tmp_path (tree fixture): the
include directory `root` with files, a subdirectory, links inside and
outside, a FIFO; and a directory `outside` beside it.
"""
import logging
import os
import socket
import subprocess
import sys
import textwrap

import pytest

import ostrevane as o
from ostrevane.exceptions import (
    OstrevaneCircularIncludeError,
    OstrevaneComplexKeyError,
    OstrevaneEnvVarError,
    OstrevaneIncludeConfinementError,
    OstrevaneIncludeDepthError,
    OstrevaneIncludeError,
    OstrevaneIncludeNotFoundError,
    OstrevaneParseError,
    OstrevaneSchemaError,
)
from include_tree import IncludeTree

INC = o.OPT_INCLUDES
ENV = o.OPT_ENV_VAR


@pytest.fixture
def tree(tmp_path):
    t = IncludeTree(tmp_path, INC)
    t.write("a.yaml", "x: 1\ny: [2, 3]\n")
    t.write("sub/b.yaml", "inner: !include c.yaml\n")
    t.write("sub/c.yaml", "deep\n")
    t.write("empty.yaml", "")
    t.write("two_docs.yaml", "first\n---\nsecond\n")
    t.write(" spaced.yaml ", "spaced\n")
    t.write("bad_utf8.yaml", b"a: \xff\xfe\n")
    t.write("broken.yaml", "ok: 1\nbad: [1\n")
    t.write("self.yaml", "me: !include self.yaml\n")
    t.write("m1.yaml", "next: !include m2.yaml\n")
    t.write("m2.yaml", "back: !include m1.yaml\n")
    with open(os.path.join(t.outside, "secret.yaml"), "w") as f:
        f.write("stolen: true\n")
    os.symlink("a.yaml", t.path("link_in.yaml"))
    os.symlink(os.path.join(t.outside, "secret.yaml"), t.path("link_out.yaml"))
    os.symlink("nowhere.yaml", t.path("dangling.yaml"))
    os.mkfifo(t.path("fifo"))
    return t


# ---------------------------------------------------------------------------
# !include results


def test_include_replaces_the_node_with_the_files_first_document(tree):
    text = textwrap.dedent("""\
        a: !include a.yaml
        b: !include sub/b.yaml
        c: !include two_docs.yaml
        d: !include empty.yaml
        e: !include ' spaced.yaml '
        f: !include link_in.yaml
        g: [!include a.yaml, !include a.yaml]
        """)
    assert tree.loads(text) == {
        "a": {"x": 1, "y": [2, 3]},
        "b": {"inner": "deep"},  # relative to the including file's directory
        "c": "first",
        "d": {},
        "e": "spaced",
        "f": {"x": 1, "y": [2, 3]},
        "g": [{"x": 1, "y": [2, 3]}, {"x": 1, "y": [2, 3]}],  # side by side: no cycle
    }


def test_keys_are_never_expanded_and_switches_off_keep_tags_as_data(tree):
    text = "? !include a.yaml\n: v\nb: !include a.yaml\nc: !env_var HOME\n"
    assert tree.loads(text) == {"a.yaml": "v", "b": {"x": 1, "y": [2, 3]}, "c": "HOME"}
    assert o.loads(text) == {"a.yaml": "v", "b": "a.yaml", "c": "HOME"}
    kept = tree.loads(text, option=ENV | o.OPT_PASSTHROUGH_TAG)
    assert isinstance(kept["b"], o.OstrevaneTag)
    assert (kept["b"].tag, kept["b"].value) == ("!include", "a.yaml")


def test_root_path_names_file_zero_and_sets_the_base_directory(tree, monkeypatch):
    tree.write("sub/here.yaml", "x: !env_var NOT_SET_ANYWHERE_1\n")
    # Without root_path the loaded text is "<root>" in the include directory.
    e = tree.error("a: !include sub/here.yaml\n", option=INC | ENV)
    here = tree.path("sub/here.yaml")
    assert str(e) == (f"environment variable NOT_SET_ANYWHERE_1 is not defined in {here}\n"
                      f"  included from {here}, line 1")
    assert (e.file, e.line, e.column, e.include_stack) == (here, 1, 13, None)
    e = tree.error("a: !env_var NOT_SET_ANYWHERE_1\n", option=ENV)
    assert e.file == tree.main
    # With root_path, relative paths start from its directory.
    rp = tree.path("sub/main.yaml")
    assert tree.loads("a: !include c.yaml\n", root_path=rp) == {"a": "deep"}
    e = tree.error("a: !env_var NOT_SET_ANYWHERE_1\n", option=ENV, root_path="cfg/app.yaml")
    assert e.file == "cfg/app.yaml"
    # A bare file name resolves against the current directory.
    monkeypatch.chdir(tree.path("sub"))
    assert tree.loads("a: !include c.yaml\n", root_path="app.yaml") == {"a": "deep"}


# ---------------------------------------------------------------------------
# Errors: class, exact text, file, line, column, include stack


def error_cases(t):
    main, inc = t.main, t.path
    return [
        # text, class, message, file, (line, column) or None, include_stack
        ("a: !include\n", OstrevaneIncludeError, "!include needs an argument", main, None, []),
        ("a: !include '  '\n", OstrevaneIncludeError, "!include needs an argument", main, None, []),
        ("a: !include [x]\n", OstrevaneIncludeError, "!include needs an argument", main, None, []),
        ("a: !include nope.yaml\n", OstrevaneIncludeNotFoundError,
         "cannot read included file 'nope.yaml': No such file or directory (os error 2)",
         inc("nope.yaml"), None, []),
        ("a: !include sub\n", OstrevaneIncludeNotFoundError,
         "cannot read included file 'sub': Is a directory (os error 21)", inc("sub"), None, []),
        ("a: !include bad_utf8.yaml\n", OstrevaneIncludeNotFoundError,
         "cannot read included file 'bad_utf8.yaml': stream did not contain valid UTF-8",
         inc("bad_utf8.yaml"), None, []),
        ("a: !include ../outside/secret.yaml\n", OstrevaneIncludeConfinementError,
         "'../outside/secret.yaml' resolves outside the configured include directory",
         main, None, []),
        ("a: !include ../outside/missing.yaml\n", OstrevaneIncludeConfinementError,
         "'../outside/missing.yaml' resolves outside the configured include directory",
         main, None, []),
        (f"a: !include {t.outside}/secret.yaml\n", OstrevaneIncludeConfinementError,
         f"'{t.outside}/secret.yaml' resolves outside the configured include directory",
         main, None, []),
        ("a: !include link_out.yaml\n", OstrevaneIncludeConfinementError,
         "'link_out.yaml' resolves outside the configured include directory", main, None, []),
        ("a: !include dangling.yaml\n", OstrevaneIncludeNotFoundError,
         "cannot read included file 'dangling.yaml': not found", main, None, []),
        ("a: !include self.yaml\n", OstrevaneCircularIncludeError,
         "circular include detected: 'self.yaml'", inc("self.yaml"), None,
         [(inc("self.yaml"), 1)]),
        ("a: !include m1.yaml\n", OstrevaneCircularIncludeError,
         "circular include detected: 'm1.yaml'", inc("m1.yaml"), None,
         [(inc("m1.yaml"), 1), (inc("m2.yaml"), 1)]),
        ("x: 1\ny:\n  - !include sub/b.yaml\n", None, None, None, None, None),
    ]


@pytest.mark.parametrize("case", range(13))
def test_include_errors(tree, case):
    text, cls, message, file, pos, stack = error_cases(tree)[case]
    e = tree.error(text)
    assert type(e) is cls
    assert str(e) == "\n".join(
        [f"{message} in {file}"] + [f"  included from {p}, line {n}" for p, n in stack])
    assert e.file == file
    assert e.include_stack == stack
    assert not hasattr(e, "line") or e.line is None


def test_a_nul_in_the_argument_names_no_file(tree):
    e = tree.error('a: !include "a.yaml\\0x"\n')
    assert type(e) is OstrevaneIncludeNotFoundError
    assert str(e) == ("cannot read included file 'a.yaml\x00x': No such file or directory "
                      f"(os error 2) in {tree.path('a.yaml')}\x00x")


def test_errors_deep_in_a_chain_carry_the_chain(tree):
    tree.write("sub/c.yaml", "!include ../nope.yaml\n")
    e = tree.error("x: 1\ny:\n  - !include sub/b.yaml\n")
    assert type(e) is OstrevaneIncludeNotFoundError
    assert e.file == tree.path("nope.yaml")
    assert e.include_stack == [(tree.path("sub/b.yaml"), 3), (tree.path("sub/c.yaml"), 1)]
    assert str(e) == (
        f"cannot read included file '../nope.yaml': No such file or directory (os error 2) "
        f"in {tree.path('nope.yaml')}\n"
        f"  included from {tree.path('sub/b.yaml')}, line 3\n"
        f"  included from {tree.path('sub/c.yaml')}, line 1")


def test_syntax_errors_in_included_and_loaded_text(tree):
    e = tree.error("top: !include broken.yaml\n")
    assert type(e) is OstrevaneParseError
    assert str(e) == "unclosed flow collection at end of input at line 3, column 1"
    assert (e.file, e.line, e.column) == (tree.path("broken.yaml"), 3, 1)
    assert e.include_stack == []
    tree.write("outer.yaml", "z: !include broken.yaml\n")
    e = tree.error("\n\nq: !include outer.yaml\n")
    assert (e.file, e.line, e.column) == (tree.path("broken.yaml"), 3, 1)
    assert e.include_stack == [(tree.path("outer.yaml"), 3)]
    # The loaded text is composed whole before any directive runs.
    e = tree.error("a: !include nope.yaml\nb: [\n")
    assert type(e) is OstrevaneParseError
    assert (e.file, e.line, e.column, e.include_stack) == (tree.main, 3, 1, [])


def test_a_chain_fifty_files_deep_loads_and_one_more_fails(tree):
    for i in range(1, 51):
        tree.write(f"chain/d{i}.yaml", f"level{i}: !include d{i + 1}.yaml\n" if i < 50 else "end\n")
    result = tree.loads("!include chain/d1.yaml\n")
    for i in range(1, 50):
        result = result[f"level{i}"]
    assert result == "end"
    tree.write("chain/d50.yaml", "more: !include d51.yaml\n")
    tree.write("chain/d51.yaml", "never\n")
    e = tree.error("!include chain/d1.yaml\n")
    assert type(e) is OstrevaneIncludeDepthError
    d50 = tree.path("chain/d50.yaml")
    assert e.file == d50
    assert e.include_stack == [(tree.path(f"chain/d{i}.yaml"), 1) for i in range(1, 51)]
    assert str(e).startswith(f"include chain exceeds the maximum depth of 50 in {d50}\n")


def test_the_ten_thousand_and_first_load_fails(tree):
    tree.write("leaf.yaml", "1\n")
    tree.write("fan.yaml", "".join("- !include leaf.yaml\n" for _ in range(100)))
    text = "".join("- !include fan.yaml\n" for _ in range(100))
    # Each fan.yaml costs 101 loads: the 100th one's first leaf is load 10,001.
    e = tree.error(text)
    assert type(e) is OstrevaneIncludeDepthError
    assert e.file == tree.path("leaf.yaml")
    assert e.include_stack == [(tree.path("fan.yaml"), 100)]
    assert str(e).splitlines()[0] == (
        "include expansion exceeded the maximum of 10000 files (a fan-out of nested includes) "
        f"in {tree.path('leaf.yaml')}")
    assert len(tree.loads("".join("- !include fan.yaml\n" for _ in range(99)))) == 99


def test_complex_keys_are_checked_in_included_files(tree):
    tree.write("ck.yaml", "ok: 1\n? [a]\n: 1\n")
    e = tree.error("a: !include ck.yaml\n", option=INC | o.OPT_REJECT_COMPLEX_KEYS)
    assert type(e) is OstrevaneComplexKeyError
    assert str(e) == "complex mapping key (a sequence used as a key) at line 2, column 1"
    assert (e.file, e.line, e.column) == (tree.path("ck.yaml"), 2, 1)
    e = tree.error("? [a]\n: !include nope.yaml\n", option=INC | o.OPT_REJECT_COMPLEX_KEYS)
    assert type(e) is OstrevaneComplexKeyError and e.file is None
    assert tree.loads("a: !include ck.yaml\n") == {"a": {"ok": 1, ("a",): 1}}


@pytest.mark.parametrize("option", [
    INC | o.OPT_SECRETS,
    INC | o.OPT_ANNOTATED,
    INC | o.OPT_DUPLICATE_KEYS_ERROR,
    INC | o.OPT_DUPLICATE_KEYS_WARN,
    INC | o.OPT_YAML_1_1 | o.OPT_YAML_1_1_WARN,
])
def test_options_of_later_stages_combine_with_directives(tree, option):
    assert tree.loads("a: 1\n", option=option) == {"a": 1}


@pytest.mark.parametrize("tag", ["!include_dir_list", "!include_dir_named",
                                 "!include_dir_merge_list", "!include_dir_merge_named"])
def test_directory_directives_need_opt_includes(tree, tag):
    assert tree.loads(f"a: {tag} sub\n", option=ENV) == {"a": "sub"}
    assert tree.loads(f"a: {tag} sub\n") != {"a": "sub"}


@pytest.mark.parametrize("option", [INC, INC | o.OPT_ROUND_TRIP])
def test_schema_checks_the_expanded_document(tree, option):
    tree.loads("a: 1\n", schema={"type": "object"}, option=option)
    schema = {"const": {"a": {"x": 1, "y": [2, 3]}}}
    tree.loads("a: !include a.yaml\n", schema=schema, option=option)
    with pytest.raises(OstrevaneSchemaError):
        tree.loads("a: !include a.yaml\n", schema={"const": {"a": "a.yaml"}}, option=option)
    # A node from an included file reports its position in that file.
    with pytest.raises(OstrevaneSchemaError) as info:
        tree.loads("# head\n!include sub/c.yaml\n", schema={"type": "integer"}, option=option)
    assert str(info.value) == (
        "schema validation failed: expected type integer, found string at $ (line 1, column 1)")


# ---------------------------------------------------------------------------
# Mends


def test_a_lexical_dotdot_over_a_missing_directory_cannot_escape(tree):
    # missing/.. normalises onto link_out.yaml, a link to outside the root.
    e = tree.error("a: !include missing/../link_out.yaml\n")
    assert type(e) is OstrevaneIncludeConfinementError
    assert str(e) == ("'missing/../link_out.yaml' resolves outside the configured include "
                      f"directory in {tree.main}")
    # Onto a file inside it reads that file; onto nothing, the read says so.
    assert tree.loads("a: !include missing/../a.yaml\n") == {"a": {"x": 1, "y": [2, 3]}}
    e = tree.error("a: !include missing/../nothere.yaml\n")
    assert type(e) is OstrevaneIncludeNotFoundError
    assert str(e) == ("cannot read included file 'missing/../nothere.yaml': No such file or "
                      f"directory (os error 2) in {tree.path('nothere.yaml')}")


def test_the_empty_include_dir_is_confined_to_the_current_directory(tree, monkeypatch):
    monkeypatch.chdir(tree.root)
    assert o.loads("a: !include a.yaml\n", option=INC, include_dir="") == {"a": {"x": 1, "y": [2, 3]}}
    for arg in ["../outside/secret.yaml", f"{tree.outside}/secret.yaml", "/etc/hostname"]:
        with pytest.raises(OstrevaneIncludeConfinementError) as info:
            o.loads(f"a: !include {arg}\n", option=INC, include_dir="")
        assert str(info.value) == f"'{arg}' resolves outside the configured include directory in <root>"


def test_a_fifo_is_refused_without_being_read(tree):
    # In a child process with a timeout: a read of the FIFO would block forever.
    code = textwrap.dedent(f"""\
        import ostrevane as o
        try:
            o.loads("a: !include fifo\\n", option=o.OPT_INCLUDES, include_dir={tree.root!r})
        except o.exceptions.OstrevaneIncludeNotFoundError as e:
            print(repr((str(e), e.file, e.include_stack)))
        """)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.stdout.strip() == repr((
        f"cannot read included file 'fifo': not a regular file in {tree.path('fifo')}",
        tree.path("fifo"), []))


@pytest.mark.parametrize("option", [INC, INC | o.OPT_ROUND_TRIP])
def test_a_unix_socket_is_not_a_regular_file(tree, monkeypatch, option):
    # Opening it used to fail as "No such device or address (os error 6)".
    monkeypatch.chdir(tree.root)
    with socket.socket(socket.AF_UNIX) as sock:
        sock.bind("sock.yaml")
        with pytest.raises(OstrevaneIncludeNotFoundError) as info:
            o.loads("a: !include sock.yaml\n", option=option, include_dir=tree.root)
    path = tree.path("sock.yaml")
    assert str(info.value) == f"cannot read included file 'sock.yaml': not a regular file in {path}"
    assert info.value.file == path


def test_anchors_of_included_files_do_not_capture_aliases_of_the_includer(tree):
    tree.write("anc.yaml", "&x included\n")
    tree.write("anc_nested.yaml", "- &x nested\n- *x\n- !include anc.yaml\n")
    text = "a: &x main\nb: !include anc.yaml\nc: *x\nd: !include anc_nested.yaml\ne: *x\n"
    assert tree.loads(text) == {"a": "main", "b": "included", "c": "main",
                                "d": ["nested", "nested", "included"], "e": "main"}
    doc = tree.loads(text, option=INC | o.OPT_ROUND_TRIP)
    assert doc.to_dict()["c"] == "main" and doc.to_dict()["e"] == "main"
    # An anchor on the directive node itself names what the directive
    # produced (its alias used to read None).
    value = {"x": 1, "y": [2, 3]}
    assert tree.loads("a: &y !include a.yaml\nb: *y\n") == {"a": value, "b": value}


# ---------------------------------------------------------------------------
# The node road's conversion: tag callbacks, aliases, merge keys


def test_tree_to_python_runs_tag_callbacks_aliases_and_merge_keys(tree):
    tree.write("tagged.yaml", textwrap.dedent("""\
        base: &b {x: 1, y: 2}
        over:
          <<: *b
          y: 3
        point: &p !pt [1, 2]
        again: *p
        other: !other text
        !k key: v
        """))
    seen = []

    def handler(name, value):
        seen.append((name, value))
        return ("handled", name, value)

    result = tree.loads("doc: !include tagged.yaml\n", tags={"!pt": tuple}, tag_handler=handler)
    doc = result["doc"]
    assert doc["base"] == {"x": 1, "y": 2}
    assert doc["over"] == {"x": 1, "y": 3}
    assert doc["point"] == (1, 2) and doc["again"] is doc["point"]
    assert doc["other"] == ("handled", "!other", "text")
    assert doc[("handled", "!k", "key")] == "v"
    assert ("!other", "text") in seen and ("!k", "key") in seen
    passed = tree.loads("a: !include tagged.yaml\n", option=INC | o.OPT_PASSTHROUGH_TAG)["a"]
    assert isinstance(passed["other"], o.OstrevaneTag) and passed["other"].value == "text"
    assert passed["base"] is not passed["over"]


def test_tag_callback_errors_propagate(tree):
    def boom(value):
        raise KeyError("boom")

    with pytest.raises(KeyError, match="boom"):
        tree.loads("a: !include sub/b.yaml\nb: !t 1\n", tags={"!t": boom})


def test_the_yaml_1_1_compatible_form_reads_timestamps(tree):
    tree.write("ts.yaml", "d: 2001-12-14\nflag: yes\n")
    import datetime
    assert tree.loads("a: !include ts.yaml\n", option=INC | o.OPT_PYYAML_COMPAT) == {
        "a": {"d": datetime.date(2001, 12, 14), "flag": True}}
    assert tree.loads("a: !include ts.yaml\n", option=INC | o.OPT_TIMESTAMPS) == {
        "a": {"d": "2001-12-14", "flag": "yes"}}


def test_an_empty_text_gives_none(tree):
    assert tree.loads("") is None
    assert tree.loads("# only a comment\n", option=ENV) is None


# ---------------------------------------------------------------------------
# The round-trip road keeps the directive text


def test_round_trip_keeps_directive_text_and_shows_included_content(tree, monkeypatch):
    monkeypatch.setenv("OSV_RT", "from env")
    text = "# config\na: !include sub/b.yaml  # kept\nb: !env_var OSV_RT\nc: [1, 2]\n"
    doc = tree.loads(text, option=INC | ENV | o.OPT_ROUND_TRIP)
    assert doc.to_yaml() == text.encode()
    assert o.dumps(doc) == text.encode()
    assert doc.to_dict() == {"a": {"inner": "deep"}, "b": "from env", "c": [1, 2]}
    with pytest.raises(OstrevaneIncludeNotFoundError):
        tree.loads("a: !include nope.yaml\n", option=INC | o.OPT_ROUND_TRIP)
    assert tree.loads("a: 1\n", option=INC | o.OPT_SECRETS | o.OPT_ROUND_TRIP).to_dict() == {"a": 1}


def test_missing_variables_in_included_files_name_their_file(tree, monkeypatch):
    monkeypatch.delenv("OSV_MISSING_X", raising=False)
    tree.write("sub/vars.yaml", "a: 1\nb: !env_var OSV_MISSING_X\n")
    calls = []
    result = tree.loads("top: !env_var OSV_MISSING_X\nv: !include sub/vars.yaml\n",
                        option=INC | ENV, on_missing_env_var=lambda *a: calls.append(a))
    assert result == {"top": None, "v": {"a": 1, "b": None}}
    assert calls == [("OSV_MISSING_X", tree.main, 1),
                     ("OSV_MISSING_X", tree.path("sub/vars.yaml"), 2)]


def test_an_include_dir_that_does_not_exist_refuses_every_include(tree):
    missing = os.path.join(tree.root, "no_such_dir")
    with pytest.raises(OstrevaneIncludeConfinementError) as info:
        o.loads("a: !include ../a.yaml\n", option=INC, include_dir=missing)
    assert str(info.value) == (
        f"'../a.yaml' resolves outside the configured include directory in {missing}/<root>")


def test_nesting_far_deeper_than_one_file_allows_stays_safe(tree):
    # Each file nests 900 levels and includes the next at the bottom.
    for i in range(20):
        inner = f"!include deep{i + 1}.yaml" if i < 19 else "end"
        tree.write(f"deep{i}.yaml", "[" * 900 + inner + "]" * 900 + "\n")
    result, depth = tree.loads("!include deep0.yaml\n"), 0
    while isinstance(result, list):
        result, depth = result[0], depth + 1
    assert (depth, result) == (18000, "end")


# ---------------------------------------------------------------------------
# An anchor written on a directive names what the directive produced: its
# aliases read that value on every road (they used to read None)

ANCHORED_DIRECTIVES = {
    "include": ("!include f.yaml", INC, {"x": 1}),
    "secret": ("!secret pw", INC | o.OPT_SECRETS, "hunter2"),
    "env_var": ("!env_var OSV_ANCHOR_VAR", INC | ENV, "from env"),
    "include_dir_named": ("!include_dir_named d", INC, {"one": 1, "two": [2]}),
}


def _plain(value):
    return value.to_dict() if isinstance(value, o.OstrevaneDocumentView) else value


def _read_back(doc):
    # Item by item through the document's reads, aliases included.
    c = doc["c"]
    return {"a": _plain(doc["a"]), "b": _plain(doc["b"]),
            "c": [_plain(c[0]), {"k": _plain(c[1]["k"])}]}


ANCHOR_ROADS = {
    "plain": lambda tree, text, opt: tree.loads(text, option=opt),
    "annotated": lambda tree, text, opt: tree.loads(text, option=opt | o.OPT_ANNOTATED),
    "round_trip": lambda tree, text, opt: tree.loads(text, option=opt | o.OPT_ROUND_TRIP).to_dict(),
    "round_trip_read": lambda tree, text, opt: _read_back(
        tree.loads(text, option=opt | o.OPT_ROUND_TRIP)),
}


@pytest.fixture
def anchor_tree(tree, monkeypatch):
    monkeypatch.setenv("OSV_ANCHOR_VAR", "from env")
    tree.write("f.yaml", "x: 1\n")
    tree.write("secrets.yaml", "pw: hunter2\n")
    tree.write("d/one.yaml", "1\n")
    tree.write("d/two.yaml", "[2]\n")
    return tree


@pytest.mark.parametrize("road", ANCHOR_ROADS)
@pytest.mark.parametrize("kind", ANCHORED_DIRECTIVES)
def test_alias_of_an_anchored_directive_reads_its_value(anchor_tree, kind, road):
    directive, option, value = ANCHORED_DIRECTIVES[kind]
    text = f"a: &a {directive}\nb: *a\nc: [*a, {{k: *a}}]\n"
    expected = {"a": value, "b": value, "c": [value, {"k": value}]}
    got = ANCHOR_ROADS[road](anchor_tree, text, option)
    assert got == expected
    if road in ("plain", "round_trip"):
        rt = option | o.OPT_ROUND_TRIP if road == "round_trip" else option
        anchor_tree.loads(text, option=rt, schema={"const": expected})
        with pytest.raises(OstrevaneSchemaError):
            anchor_tree.loads(text, option=rt, schema={"properties": {"b": {"type": "null"}}})


@pytest.mark.parametrize("road", ["plain", "annotated"])
@pytest.mark.parametrize("kind", ["include", "include_dir_named"])
def test_aliases_of_an_anchored_directive_share_its_object_as_any_anchors_do(
        anchor_tree, kind, road):
    # Each alias used to convert the directive's content anew: no other
    # anchor's aliases do on these roads.
    directive, option, _ = ANCHORED_DIRECTIVES[kind]
    for text in (f"a: &a {directive}\nb: *a\nc: [*a]\n", "a: &a {x: 1}\nb: *a\nc: [*a]\n"):
        got = ANCHOR_ROADS[road](anchor_tree, text, option)
        assert got["b"] is got["a"] and got["c"][0] is got["a"], text


@pytest.mark.parametrize("kind", ANCHORED_DIRECTIVES)
def test_anchored_directive_is_written_back_with_its_anchor(anchor_tree, kind):
    directive, option, value = ANCHORED_DIRECTIVES[kind]
    text = f"a: &a {directive}  # kept\nb: *a\n"
    doc = anchor_tree.loads(text, option=option | o.OPT_ROUND_TRIP)
    assert doc.to_yaml() == text.encode()
    assert o.dumps(doc) == text.encode()
    # Written from the tree (not the kept text), the anchor stays on the
    # directive line, so the alias still has its definition.
    doc["z"] = 1
    written = doc.to_yaml()
    assert written == (text + "z: 1\n").encode()
    assert anchor_tree.loads(written.decode(), option=option) == {"a": value, "b": value, "z": 1}
    main = anchor_tree.write("main.yaml", text)
    doc = anchor_tree.loads(text, option=option | o.OPT_ROUND_TRIP, root_path=main)
    doc["z"] = 1
    assert doc.save(main) == [main]
    with open(main, "rb") as f:
        assert f.read() == written
    assert anchor_tree.loads(written.decode(), option=option, root_path=main)["b"] == value


MISSING_DIRECTIVES = {
    "secret": ("!secret nowhere", INC | o.OPT_SECRETS, "on_missing_secret"),
    "env_var": ("!env_var OSV_MISSING_VAR", INC | ENV, "on_missing_env_var"),
}


@pytest.mark.parametrize("kind", MISSING_DIRECTIVES)
def test_a_deferred_missing_directive_is_written_back_as_the_directive(anchor_tree, kind,
                                                                        monkeypatch):
    # Saving after any edit used to write the missing value as a bare null
    # and drop its anchor, leaving the alias below without a definition.
    monkeypatch.delenv("OSV_MISSING_VAR", raising=False)
    directive, option, callback = MISSING_DIRECTIVES[kind]
    reported = []
    defer = {callback: lambda *a: reported.append(a[0])}
    text = f"a: &a {directive}  # kept\nb: *a\n"
    main = anchor_tree.write("main.yaml", text)
    anchor_tree.write("inc.yaml", f"k: {directive}\n")
    doc = anchor_tree.loads(text + "c: !include inc.yaml\n", option=option | o.OPT_ROUND_TRIP,
                            root_path=main, **defer)
    assert doc.to_dict() == {"a": None, "b": None, "c": {"k": None}}
    doc["z"] = 1
    doc["c"]["y"] = 2
    written = doc.to_yaml()
    assert written == (text + "c: !include inc.yaml\nz: 1\n").encode()
    assert sorted(doc.save(main)) == sorted([main, anchor_tree.path("inc.yaml")])
    with open(anchor_tree.path("inc.yaml"), "rb") as f:
        assert f.read() == f"k: {directive}\ny: 2\n".encode()
    assert anchor_tree.loads(written.decode(), option=option, root_path=main, **defer) == \
        {"a": None, "b": None, "c": {"k": None, "y": 2}, "z": 1}
    # A copy is the directive again, as a copy of a found value is.
    doc.node["b"].detach()
    assert doc.to_yaml() == f"a: &a {directive}  # kept\nb: {directive}  # kept\n" \
        "c: !include inc.yaml\nz: 1\n".encode()
    assert reported and set(reported) == {directive.split()[1]}


@pytest.mark.parametrize("kind", ANCHORED_DIRECTIVES)
def test_detached_alias_of_an_anchored_directive_is_that_directive(anchor_tree, kind):
    directive, option, value = ANCHORED_DIRECTIVES[kind]
    doc = anchor_tree.loads(f"a: &a {directive}\nb: *a\n", option=option | o.OPT_ROUND_TRIP)
    doc.node["b"].detach()
    # The copy is the directive again, without a second definition of &a.
    written = doc.to_yaml()
    assert written == f"a: &a {directive}\nb: {directive}\n".encode()
    assert anchor_tree.loads(written.decode(), option=option) == {"a": value, "b": value}


def test_anchors_stay_in_the_file_that_defines_them(anchor_tree):
    t = anchor_tree
    # An included root's own anchor and the directive's anchor both hold,
    # each in its own file.
    t.write("g.yaml", "&in {x: 1}\n")
    t.write("h.yaml", "base: &in [1]\nuse: *in\n")
    text = "a: &a !include g.yaml\nb: *a\nc: !include h.yaml\n"
    assert t.loads(text) == {"a": {"x": 1}, "b": {"x": 1}, "c": {"base": [1], "use": [1]}}
    doc = t.loads(text, option=INC | o.OPT_ROUND_TRIP)
    assert doc.to_dict() == t.loads(text)
    # The main file cannot name an included file's anchor, nor the reverse.
    e = t.error("a: !include h.yaml\nb: *in\n")
    assert type(e) is OstrevaneParseError and str(e).startswith("unknown alias: *in")
    t.write("k.yaml", "v: *a\n")
    e = t.error("a: &a 1\nb: !include k.yaml\n")
    assert type(e) is OstrevaneParseError and str(e).startswith("unknown alias: *a")

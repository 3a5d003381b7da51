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

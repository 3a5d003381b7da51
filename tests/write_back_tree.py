"""Shared set-up of the write-back tests (test_save.py, test_dump_includes.py):
an include tree with a main file, nested and repeated includes, a directory
include, secrets and a file whose whole content is a directive; and the
test-only edit hook that dirties a loaded document the way edits do."""
import os

import pytest

import _ostrevane as m
import ostrevane as o
from ostrevane.exceptions import OstrevaneIncludeError
from include_tree import IncludeTree

RT = o.OPT_ROUND_TRIP | o.OPT_INCLUDES
DIRECTIVES = RT | o.OPT_SECRETS | o.OPT_ENV_VAR
ENV_NAME = "OSV_WB_VALUE"

# Needs the test entry points of a test_hooks build (see conftest.py).
needs_hooks = pytest.mark.hooks

MAIN = ("# main file\n"
        "app: !include app.yaml\n"
        "name: demo   # kept as written\n")
APP = ("# app settings\n"
       "port: 8080  # the port\n"
       "db: !include sub/db.yaml\n")
DB = "host: localhost\nuser: admin\n"


def check_conflict(exc, path):
    """`exc` is the write-back refusal of two versions of the file `path`."""
    assert type(exc) is OstrevaneIncludeError
    assert str(exc) == (
        f"'{path}' is included more than once with conflicting edits; write-back cannot "
        f"store two different versions of one file in {path}")
    assert exc.file == path
    assert exc.include_stack == []


def edit(doc, path, how="set", text=None, root=0):
    """Dirty `doc` at `path` (keys and item indexes from root `root`)."""
    m._edit_for_test(doc, root, tuple(path), how, text)


class WriteBackTree(IncludeTree):
    def __init__(self, base):
        super().__init__(base, RT)
        self.write("main.yaml", MAIN)
        self.write("app.yaml", APP)
        self.write("sub/db.yaml", DB)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def inode(self, name):
        return os.stat(self.path(name)).st_ino

    def load_main(self, option=RT, origin=True, **kw):
        doc = self.loads(self.read("main.yaml").decode(), option=option,
                         root_path=self.path("main.yaml"), **kw)
        if origin:
            doc.set_origin(self.path("main.yaml"))
        return doc

    def add_directive_files(self, main_text):
        """Files whose whole content is a directive (middle.yaml: an include
        of third.yaml; env_mid.yaml and sec_mid.yaml: a variable and a
        secret), secrets.yaml, the directory d, and `main_text` as the main
        file. Load with DIRECTIVES and ENV_NAME set."""
        self.write("middle.yaml", "!include third.yaml\n")
        self.write("third.yaml", "deep: 1\n")
        self.write("env_mid.yaml", f"!env_var {ENV_NAME}\n")
        self.write("sec_mid.yaml", "!secret token\n")
        self.write("secrets.yaml", "token: s3cret\n")
        self.write("d/one.yaml", "v: 1\n")
        self.write("main.yaml", main_text)
        return self

    def leftovers(self):
        found = []
        for top, _, names in os.walk(self.base):
            found += [os.path.join(top, n) for n in names if ".ostrevane-tmp." in n]
        return found


SECRET_VALUE = "hunter2-zq"
ANCHOR_ENV = "OSV_WB_ANCHOR_HOME"


class AnchoredDirectiveTree(IncludeTree):
    """Anchors on directives and inside included files: secrets.yaml holds
    `pw` (SECRET_VALUE) and `st` (a mapping); f.yaml a plain mapping;
    g.yaml an anchored value and its alias; h.yaml an anchored secret and
    its alias; d/ a listed file. Set ANCHOR_ENV (monkeypatch) to use
    `!env_var`."""

    OPTION = DIRECTIVES

    def __init__(self, base):
        super().__init__(base, self.OPTION)
        self.write("secrets.yaml", f"pw: {SECRET_VALUE}\nst: {{a: 1, b: [2]}}\n")
        self.write("f.yaml", "x: 1 # cx\ny: 2\n")
        self.write("g.yaml", "p: &x two\nq: *x\n")
        self.write("h.yaml", "x: &fx !secret pw\ny: *fx\n")
        self.write("d/one.yaml", "v: 1\n")

    def read(self, name):
        with open(self.path(name)) as f:
            return f.read()

    def files(self):
        found = {}
        for top, _, names in os.walk(self.root):
            for name in names:
                path = os.path.join(top, name)
                with open(path, "rb") as f:
                    found[os.path.relpath(path, self.root)] = f.read()
        return found

    def load(self, main_text=None):
        """main.yaml (written first when `main_text` is given), loaded as a
        round-trip document with every directive and its origin set."""
        if main_text is not None:
            self.write("main.yaml", main_text)
        main = self.path("main.yaml")
        doc = self.loads(self.read("main.yaml"), root_path=main)
        doc.set_origin(main)
        return doc

    def state(self, doc):
        """What a refused edit must leave as it was."""
        return doc.to_yaml(), o.dump_includes_map(doc), doc.to_dict()

    def check_written(self, doc):
        """The document's values are what its texts read: the main text and
        every included file's, as shown and once saved; no secret value is
        in any file but secrets.yaml. Returns the saved files' paths."""
        values = doc.to_dict()
        for text in o.dump_includes_map(doc).values():
            o.loads(text, option=o.OPT_ROUND_TRIP)  # each file's text loads
        shown = doc.to_yaml().decode()
        written = doc.save()
        assert self.load().to_dict() == values
        assert self.loads(shown, root_path=self.path("main.yaml")).to_dict() == values
        for name, content in self.files().items():
            if os.path.basename(name) != "secrets.yaml":
                assert SECRET_VALUE.encode() not in content, name
        return written

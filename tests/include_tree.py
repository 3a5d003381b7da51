"""A fixture tree for the directive tests: the include directory `root` and
a directory `outside` beside it, both under the test's own tmp_path, with
loads and error helpers that use `root` as the include directory."""
import os

import pytest

import ostrevane as o


class IncludeTree:
    def __init__(self, base, option):
        self.base = os.path.realpath(base)
        self.root = os.path.join(self.base, "root")
        self.outside = os.path.join(self.base, "outside")
        self.main = os.path.join(self.root, "<root>")
        self.option = option
        os.makedirs(self.root)
        os.makedirs(self.outside)

    def path(self, name):
        return os.path.join(self.root, name)

    def write(self, name, text):
        p = self.path(name)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb" if isinstance(text, bytes) else "w") as f:
            f.write(text)
        return p

    def loads(self, text, option=None, **kw):
        kw.setdefault("include_dir", self.root)
        return o.loads(text, option=self.option if option is None else option, **kw)

    def error(self, text, option=None, **kw):
        with pytest.raises(BaseException) as info:
            self.loads(text, option=option, **kw)
        return info.value

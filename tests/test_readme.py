"""The README's examples, run against the installed package.

Every ```python block of README.md is a doctest: its `>>>` lines run in a
fresh namespace, inside a temporary directory of its own, and what each line
prints must be exactly what the README shows under it. A ```yaml block whose
info string names a file (```yaml file=db.yaml) is written to that file in
the directory of every later Python block of the same section (up to the
next "## " heading), so the README can show the files an example reads as
YAML; each block gets fresh copies, whatever an earlier block wrote. The environment variables and the "ostrevane"
logger's handlers are restored after every block.
"""

import doctest
import logging
import os
import re
import sys
from pathlib import Path

import pytest

README = Path(__file__).resolve().parent.parent / "README.md"

FENCE = re.compile(r"^```([^\n]*)\n(.*?)^```[ \t]*$", re.M | re.S)
SECTION = re.compile(r"^## ", re.M)
FILE_INFO = re.compile(r"^yaml\s+file=(\S+)\s*$")


def readme_examples():
    """(line, code, files) for every Python block, files being the
    {name: text} of the yaml file blocks before it in its section."""
    text = README.read_text(encoding="utf-8")
    examples = []
    for section in SECTION.split(text):
        offset = text.index(section)
        files, unused = {}, set()
        for match in FENCE.finditer(section):
            info, body = match.group(1).strip(), match.group(2)
            line = text.count("\n", 0, offset + match.start()) + 1
            named = FILE_INFO.match(info)
            if named:
                files[named.group(1)] = body
                unused.add(named.group(1))
            elif info == "python":
                examples.append(pytest.param(line, body, dict(files), id=f"README.md:{line}"))
                unused.clear()
        assert not unused, f"yaml file blocks {sorted(unused)} have no Python block after them"
    return examples


EXAMPLES = readme_examples()


def test_the_readme_has_examples_and_each_is_a_doctest():
    assert len(EXAMPLES) >= 15
    for param in EXAMPLES:
        line, code, _files = param.values
        assert code.lstrip().startswith(">>> "), f"README.md:{line} is not a doctest"


@pytest.fixture
def isolated(tmp_path, monkeypatch):
    """A working directory and environment that the block may change."""
    monkeypatch.chdir(tmp_path)
    saved_env = dict(os.environ)
    logger = logging.getLogger("ostrevane")
    saved_handlers, saved_level = list(logger.handlers), logger.level
    try:
        yield tmp_path
    finally:
        os.environ.clear()
        os.environ.update(saved_env)
        logger.handlers[:] = saved_handlers
        logger.setLevel(saved_level)


@pytest.mark.parametrize("line, code, files", EXAMPLES)
def test_readme_example(line, code, files, isolated):
    for name, content in files.items():
        path = isolated / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(content, encoding="utf-8")
    parser = doctest.DocTestParser()
    test = parser.get_doctest(code, {"__name__": "readme"}, f"README.md:{line}",
                              str(README), line)
    runner = doctest.DocTestRunner(verbose=False, optionflags=doctest.ELLIPSIS)
    report = []
    # pytest's capture would hide the report; collect it and fail with it.
    runner.run(test, out=report.append)
    sys.stdout.flush()
    failed, attempted = runner.summarize(verbose=False)
    assert attempted > 0, f"README.md:{line} has no example"
    assert failed == 0, "".join(report)

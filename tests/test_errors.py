"""Exception classes, the error converters, the entry guard and warnings."""

import logging
import subprocess
import sys
import textwrap

import pytest

import _ostrevane as m
from ostrevane import exceptions as E

ALL_CLASSES = [getattr(E, name) for name in E.__all__ if name != "OstrevaneError"]

# Needs the test entry points of a test_hooks build (see conftest.py).
hooks = pytest.mark.hooks


def test_fourteen_classes_with_a_common_base():
    assert len(ALL_CLASSES) == 14
    for cls in ALL_CLASSES:
        assert issubclass(cls, E.OstrevaneError)
        assert cls.__module__ == "ostrevane.exceptions"


@pytest.mark.parametrize("cls", ALL_CLASSES)
def test_one_message_argument_and_defaults(cls):
    exc = cls("the message")
    assert exc.args == ("the message",)
    assert str(exc) == "the message"
    assert exc.file is None and exc.line is None and exc.column is None
    assert exc.include_stack is None
    exc.file, exc.line, exc.column, exc.include_stack = "f.yaml", 2, 3, []
    exc.anything = 1
    assert (exc.file, exc.line, exc.column, exc.include_stack) == ("f.yaml", 2, 3, [])
    assert cls.file is None


@pytest.mark.parametrize(
    "cls,builtin",
    [
        (E.OstrevaneDecodeError, ValueError),
        (E.OstrevaneParseError, ValueError),
        (E.OstrevaneDuplicateKeyError, ValueError),
        (E.OstrevaneComplexKeyError, ValueError),
        (E.OstrevaneEncodeError, TypeError),
        (E.OstrevaneUnserializableError, TypeError),
    ],
)
def test_builtin_bases(cls, builtin):
    assert issubclass(cls, builtin)


def test_unserializable_is_not_a_base_of_encode_error():
    assert not issubclass(E.OstrevaneEncodeError, E.OstrevaneUnserializableError)


INCLUDE_KINDS = {
    0: E.OstrevaneIncludeNotFoundError,
    1: E.OstrevaneCircularIncludeError,
    2: E.OstrevaneIncludeDepthError,
    3: E.OstrevaneIncludeConfinementError,
    4: E.OstrevaneSecretNotFoundError,
    5: E.OstrevaneEnvVarError,
    7: E.OstrevaneIncludeError,
}


def raise_hook(case, *args):
    return m._error_for_test(case, args)


@hooks
@pytest.mark.parametrize(
    "case,category,cls",
    [
        ("decode", 0, E.OstrevaneParseError),
        ("decode", 1, E.OstrevaneDuplicateKeyError),
        ("decode", 2, E.OstrevaneComplexKeyError),
    ],
)
@pytest.mark.parametrize("file", [None, "inc/a.yaml"])
def test_decode_errors_by_category(case, category, cls, file):
    with pytest.raises(E.OstrevaneError) as info:
        raise_hook(case, category, "did not find expected key", 0, 6, file)
    exc = info.value
    assert type(exc) is cls
    assert exc.args == ("did not find expected key at line 1, column 7",)
    assert (exc.file, exc.line, exc.column) == (file, 1, 7)
    assert exc.include_stack is None and "include_stack" not in vars(exc)


@hooks
@pytest.mark.parametrize(
    "case,cls", [("scan", E.OstrevaneParseError), ("duplicate", E.OstrevaneDuplicateKeyError)]
)
def test_scan_and_duplicate_key_records(case, cls):
    with pytest.raises(cls) as info:
        raise_hook(case, "found character that cannot start any token", 4294967295, 0)
    exc = info.value
    assert str(exc) == "found character that cannot start any token at line 4294967296, column 1"
    assert (exc.file, exc.line, exc.column) == (None, 4294967296, 1)
    assert "file" in vars(exc)


CHAIN = [(b"conf/a.yaml", 0), (b"conf/b\xff.yaml", 11)]
CHAIN_TEXT = "\n  included from conf/a.yaml, line 1\n  included from conf/b\ufffd.yaml, line 12"
STACK = [("conf/a.yaml", 1), ("conf/b\ufffd.yaml", 12)]


@hooks
@pytest.mark.parametrize("kind,cls", sorted(INCLUDE_KINDS.items()))
@pytest.mark.parametrize("span", [None, (3, 4)])
def test_include_errors_by_kind(kind, cls, span):
    with pytest.raises(E.OstrevaneIncludeError) as info:
        raise_hook("include", kind, "cannot read", b"conf/c\xfe.yaml", CHAIN, span)
    exc = info.value
    assert type(exc) is cls
    assert exc.args == ("cannot read in conf/c\ufffd.yaml" + CHAIN_TEXT,)
    assert exc.file == "conf/c\ufffd.yaml"
    if span is None:
        assert "line" not in vars(exc) and "column" not in vars(exc)
    else:
        assert (exc.line, exc.column) == (4, 5)
    if kind in (4, 5):
        assert "include_stack" not in vars(exc)
    else:
        assert exc.include_stack == STACK


@hooks
def test_include_error_with_empty_chain():
    with pytest.raises(E.OstrevaneIncludeNotFoundError) as info:
        raise_hook("include", 0, "file not found", b"missing.yaml", [], None)
    assert str(info.value) == "file not found in missing.yaml"
    assert info.value.include_stack == []


@hooks
@pytest.mark.parametrize("span,position", [(None, (1, 1)), ((9, 0), (10, 1))])
def test_include_parse_error_uses_the_position_form(span, position):
    with pytest.raises(E.OstrevaneParseError) as info:
        raise_hook("include", 6, "mapping values are not allowed here", b"inc.yaml", CHAIN, span)
    exc = info.value
    assert type(exc) is E.OstrevaneParseError
    assert str(exc) == "mapping values are not allowed here at line %d, column %d" % position
    assert (exc.file, exc.line, exc.column) == ("inc.yaml",) + position
    assert exc.include_stack == STACK


@hooks
@pytest.mark.parametrize(
    "case,args,cls,message",
    [
        ("encode", ("unsupported type: set",), E.OstrevaneEncodeError, "unsupported type: set"),
        ("unserializable", ("no representer",), E.OstrevaneUnserializableError,
         "no representer"),
        ("too_deep", (), E.OstrevaneUnserializableError,
         "object is too deeply nested to serialize (possible self-reference)"),
        ("input_decode", ("invalid UTF-16: unpaired surrogate",), E.OstrevaneDecodeError,
         "invalid UTF-16: unpaired surrogate"),
    ],
)
def test_lazy_errors_carry_only_their_message(case, args, cls, message):
    with pytest.raises(cls) as info:
        raise_hook(case, *args)
    assert type(info.value) is cls
    assert info.value.args == (message,)
    assert vars(info.value) == {}


@hooks
@pytest.mark.parametrize("case", ["fault", "throw"])
def test_internal_faults_raise_panic_exception(case):
    with pytest.raises(BaseException) as info:
        raise_hook(case, "broken invariant: x")
    exc = info.value
    assert type(exc).__name__ == "PanicException"
    assert type(exc).__module__ == "_ostrevane"
    assert type(exc).__bases__ == (BaseException,)
    assert not isinstance(exc, Exception)
    assert str(exc) == "broken invariant: x"


@hooks
def test_panic_exception_class_is_created_once():
    types = set()
    for _ in range(3):
        try:
            raise_hook("fault", "x")
        except BaseException as exc:  # noqa: B902
            types.add(type(exc))
    assert len(types) == 1


@hooks
def test_bad_alloc_becomes_memory_error():
    with pytest.raises(MemoryError):
        raise_hook("bad_alloc")


def test_missing_exception_module_is_an_internal_fault():
    code = """
        import sys
        sys.modules["ostrevane.exceptions"] = None
        import _ostrevane
        try:
            _ostrevane.yaml_version(b"\\xc3\\x28")
        except BaseException as e:
            print(type(e).__name__)
            print(e)
        # The class was not cached: once the module is back, the real error comes.
        del sys.modules["ostrevane.exceptions"]
        try:
            _ostrevane.yaml_version(b"\\xc3\\x28")
        except BaseException as e:
            print(type(e).__name__)
    """
    proc = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60
    )
    assert proc.stdout.splitlines() == [
        "PanicException",
        "failed to import exception ostrevane.exceptions.OstrevaneDecodeError: "
        "import of ostrevane.exceptions halted; None in sys.modules",
        "OstrevaneDecodeError",
    ], proc.stderr


@hooks
def test_warnings_reach_the_logger_in_order(caplog):
    with caplog.at_level(logging.WARNING, logger="ostrevane"):
        raise_hook("warn", ["first", "second: caf\u00e9", ""])
    assert [(r.name, r.levelno, r.getMessage()) for r in caplog.records] == [
        ("ostrevane", logging.WARNING, "first"),
        ("ostrevane", logging.WARNING, "second: caf\u00e9"),
        ("ostrevane", logging.WARNING, ""),
    ]


class Exploding(logging.Handler):
    def __init__(self):
        super().__init__()
        self.seen = []

    def handle(self, record):
        self.seen.append(record.getMessage())
        raise RuntimeError("handler failed")


@hooks
def test_a_raising_handler_does_not_stop_the_warnings():
    logger = logging.getLogger("ostrevane")
    handler = Exploding()
    logger.addHandler(handler)
    try:
        assert raise_hook("warn", ["one", "two"]) is None
    finally:
        logger.removeHandler(handler)
    assert handler.seen == ["one", "two"]

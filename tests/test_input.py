"""Input acquisition and byte decoding, seen through yaml_version and
schema_ref (the two functions that answer from the text's head)."""

import array

import pytest

import _ostrevane as m
from ostrevane.exceptions import OstrevaneDecodeError, OstrevaneError

INPUT_TYPE_ERROR = "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)"
MODELINE = "# yaml-language-server: $schema=caf\u00e9.json\na: 1\n"


def as_every_form(data: bytes):
    return [data, bytearray(data), memoryview(data), memoryview(bytearray(data))]


@pytest.mark.parametrize(
    "encoding",
    ["utf-8", "utf-8-sig", "utf-16", "utf-16-le", "utf-16-be", "utf-32", "utf-32-le",
     "utf-32-be"],
)
def test_every_encoding_and_byte_form_gives_the_same_text(encoding):
    data = MODELINE.encode(encoding)
    for form in as_every_form(data):
        assert m.schema_ref(form) == "caf\u00e9.json"
    directive = "%YAML 1.1\n---\na: 1\n".encode(encoding)
    for form in as_every_form(directive):
        assert m.yaml_version(form) == "1.1"


def test_str_input_is_used_as_it_is():
    assert m.schema_ref(MODELINE) == "caf\u00e9.json"
    assert m.yaml_version("\ufeff%YAML 1.2\n") == "1.2"


def test_str_subclass_and_bytes_subclass():
    class S(str):
        pass

    class B(bytes):
        pass

    assert m.yaml_version(S("%YAML 1.1")) == "1.1"
    assert m.yaml_version(B(b"%YAML 1.1")) == "1.1"


def test_strided_memoryview_is_read_in_logical_order():
    data = b"%xYxAxMxLx x1x.x1x"
    view = memoryview(data)[::2]
    assert view.tobytes() == b"%YAML 1.1"
    assert m.yaml_version(view) == "1.1"


def test_byte_array_module_buffers():
    assert m.yaml_version(array.array("B", b"%YAML 1.1")) == "1.1"
    assert m.yaml_version(memoryview(b"%YAML 1.1").cast("c")) == "1.1"


@pytest.mark.parametrize(
    "data",
    [1, None, 1.5, ["%YAML 1.1"], object(), array.array("i", [1, 2, 3]),
     memoryview(array.array("H", [1, 2]))],
)
@pytest.mark.parametrize("function", ["loads", "loads_all", "schema_ref", "yaml_version"])
def test_other_objects_are_refused(function, data):
    with pytest.raises(TypeError) as info:
        getattr(m, function)(data)
    assert str(info.value) == INPUT_TYPE_ERROR
    assert not getattr(info.value, "__notes__", None)


def test_str_without_utf8_form():
    with pytest.raises(UnicodeEncodeError):
        m.yaml_version("\ud800")


@pytest.mark.parametrize("empty", ["", b"", bytearray(), memoryview(b"")])
def test_empty_input(empty):
    assert m.yaml_version(empty) is None
    assert m.schema_ref(empty) is None


DECODE_FAILURES = [
    (b"\xc3\x28", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"),
    (b"a: \xe2\x82", "invalid UTF-8: incomplete utf-8 byte sequence from index 3"),
    (b"key: \xf0\x9f\x98(", "invalid UTF-8: invalid utf-8 sequence of 3 bytes from index 5"),
    (b"\x00ab", "invalid UTF-16: byte count is not a multiple of 2"),
    (b"\xff\xfea\x00\x00\xd8", "invalid UTF-16: unpaired surrogate"),
    (b"\xff\xfe\x00\xdca\x00", "invalid UTF-16: unpaired surrogate"),
    (b"\x00\x00\xfe\xff\x00\x11\x00\x00", "invalid UTF-32: not a Unicode scalar value"),
    (b"\xff\xfe\x00\x00a\x00\x00", "invalid UTF-32: byte count is not a multiple of 4"),
]


@pytest.mark.parametrize("data,message", DECODE_FAILURES)
@pytest.mark.parametrize("function", ["loads", "loads_all", "schema_ref", "yaml_version"])
def test_decode_failures(function, data, message):
    for form in as_every_form(data):
        with pytest.raises(OstrevaneDecodeError) as info:
            getattr(m, function)(form)
        assert type(info.value) is OstrevaneDecodeError
        assert info.value.args == (message,)
        assert info.value.file is None and info.value.line is None
        assert isinstance(info.value, ValueError) and isinstance(info.value, OstrevaneError)


@pytest.mark.parametrize(
    "data,version",
    [
        (b"\xfe\xff\x00a", None),  # U+FEFF "a"
        (b"a\x00", None),
        (b"%\x00Y\x00A\x00M\x00L\x00 \x001\x00.\x001\x00", "1.1"),  # UTF-16-LE, no mark
        (b"\x00%\x00Y\x00A\x00M\x00L\x00 \x001\x00.\x002", "1.2"),  # UTF-16-BE, no mark
        ("%YAML 1.1".encode("utf-32-le"), "1.1"),
        ("%YAML 1.1".encode("utf-32-be"), "1.1"),
    ],
)
def test_encoding_detection_without_marks(data, version):
    assert m.yaml_version(data) == version

"""Argument matching and conversion, shared by every module function."""

import collections
import pathlib

import pytest

import _ostrevane as m

FUNCTIONS_AND_FIRST = [
    ("loads", "data"),
    ("loads_all", "data"),
    ("dumps", "obj"),
    ("to_json", "obj"),
    ("schema_ref", "data"),
    ("yaml_version", "data"),
    ("dump_includes", "doc"),
    ("dump_includes_map", "doc"),
]


@pytest.mark.parametrize("name,first", FUNCTIONS_AND_FIRST)
def test_missing_first_argument(name, first):
    with pytest.raises(TypeError) as info:
        getattr(m, name)()
    assert str(info.value) == f"{name}() missing 1 required positional argument: '{first}'"


@pytest.mark.parametrize("name,first", FUNCTIONS_AND_FIRST)
@pytest.mark.parametrize("count", [2, 3])
def test_too_many_positional_arguments(name, first, count):
    with pytest.raises(TypeError) as info:
        getattr(m, name)(*range(count))
    assert str(info.value) == (
        f"{name}() takes 1 positional arguments but {count} were given"
    )


@pytest.mark.parametrize("name,first", FUNCTIONS_AND_FIRST)
def test_first_argument_by_keyword(name, first):
    with pytest.raises(TypeError) as info:
        getattr(m, name)(**{first: "a"})
    assert str(info.value) == (
        f"{name}() got some positional-only arguments passed as keyword arguments: '{first}'"
    )


@pytest.mark.parametrize(
    "name,keyword",
    [
        ("loads", "width"),
        ("loads_all", "schema"),
        ("dumps", "tags"),
        ("to_json", "width"),
        ("schema_ref", "option"),
        ("yaml_version", "option"),
        ("dump_includes", "option"),
        ("dump_includes_map", "include_dir"),
    ],
)
def test_unexpected_keyword(name, keyword):
    with pytest.raises(TypeError) as info:
        getattr(m, name)("a", **{keyword: 1})
    assert str(info.value) == f"{name}() got an unexpected keyword argument '{keyword}'"
    assert not getattr(info.value, "__notes__", None)


def test_unexpected_keyword_is_reported_even_when_none():
    with pytest.raises(TypeError, match="unexpected keyword argument 'bogus'"):
        m.loads("a", bogus=None)


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class FsPath:
    def __init__(self, value):
        self.value = value

    def __fspath__(self):
        return self.value


CONVERSION_FAILURES = [
    ("loads", {"option": -1}, OverflowError, "can't convert negative int to unsigned", "option"),
    ("loads", {"option": 2**64}, OverflowError, "int too big to convert", "option"),
    ("loads", {"option": 1.0}, TypeError,
     "'float' object cannot be interpreted as an integer", "option"),
    ("loads", {"option": "1"}, TypeError,
     "'str' object cannot be interpreted as an integer", "option"),
    ("loads", {"option": Index(KeyError("k"))}, KeyError, "'k'", "option"),
    ("loads", {"include_dir": b"conf"}, TypeError,
     "'bytes' object is not an instance of 'str'", "include_dir"),
    ("loads", {"include_dir": FsPath(b"conf")}, TypeError,
     "'bytes' object is not an instance of 'str'", "include_dir"),
    ("loads", {"include_dir": 3}, TypeError,
     "expected str, bytes or os.PathLike object, not int", "include_dir"),
    ("loads", {"root_path": FsPath(7)}, TypeError,
     "expected FsPath.__fspath__() to return str or bytes, not int", "root_path"),
    ("loads", {"include_dir": "\ud800"}, UnicodeEncodeError, None, "include_dir"),
    # The first failing parameter in signature order is the one reported.
    ("loads", {"root_path": 1, "option": -1}, OverflowError,
     "can't convert negative int to unsigned", "option"),
    ("loads_all", {"option": -5}, OverflowError,
     "can't convert negative int to unsigned", "option"),
    ("dumps", {"option": 1.5}, TypeError,
     "'float' object cannot be interpreted as an integer", "option"),
    ("dumps", {"width": -1}, OverflowError, "can't convert negative int to unsigned", "width"),
    ("dumps", {"serializers": []}, TypeError,
     "'list' object is not an instance of 'dict'", "serializers"),
    ("dumps", {"serializers": collections.OrderedDict(), "width": "x"}, TypeError,
     "'str' object cannot be interpreted as an integer", "width"),
    ("to_json", {"option": -1}, OverflowError, "can't convert negative int to unsigned", "option"),
    ("dump_includes", {"include_dir": b"x"}, TypeError,
     "'bytes' object is not an instance of 'str'", "include_dir"),
]


@pytest.mark.parametrize("name,kwargs,exc_type,message,param", CONVERSION_FAILURES)
def test_conversion_failures_carry_a_note(name, kwargs, exc_type, message, param):
    with pytest.raises(exc_type) as info:
        getattr(m, name)("a: 1", **kwargs)
    assert type(info.value) is exc_type
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{param}'"]


ACCEPTED = [
    ("loads", {}),
    ("loads", {"option": None}),
    ("loads", {"option": 0}),
    ("loads", {"option": True}),
    ("loads", {"option": 1 << 40}),
    ("loads", {"option": Index(16)}),
    ("loads", {"option": 2**64 - 1}),
    ("loads", {"include_dir": pathlib.Path("conf"), "root_path": "main.yaml"}),
    ("loads", {"include_dir": None, "root_path": None}),
    ("loads", {"tags": {}}),
    ("loads", {"tags": collections.OrderedDict()}),
    ("loads", {"tags": None}),
    # Callbacks and schemas are not checked while arguments are read.
    ("loads", {"schema": 1, "schema_resolver": 2, "tag_handler": 3,
               "on_missing_secret": 4, "on_missing_env_var": 5}),
    ("loads_all", {"option": 5, "tag_handler": len, "tags": {"!x": len}}),
    ("dumps", {"default": 1, "option": 0, "serializers": {}, "width": 80,
               "represent": lambda obj: None}),
    ("to_json", {"default": 1, "option": Index(3)}),
    ("dump_includes", {"include_dir": pathlib.Path(".")}),
    ("dump_includes_map", {}),
]


@pytest.mark.parametrize("name,kwargs", ACCEPTED)
def test_accepted_arguments_reach_the_body(name, kwargs):
    # The body either works, names the part of it that is not built yet,
    # (for an option mask with every bit set) refuses the conflicting bits,
    # or (the write-back functions) refuses the text where a document belongs.
    try:
        getattr(m, name)("a: 1", **kwargs)
    except TypeError as e:
        assert name.startswith("dump_includes")
        assert str(e) == "'str' object is not an instance of 'OstrevaneDocument'"
    except NotImplementedError as e:
        assert str(e).startswith(f"{name}() ")
        assert str(e).endswith(" is not implemented yet")
    except ValueError as e:
        assert str(e) == "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive"


def test_represent_is_called_only_when_objects_are_met():
    # Reading the arguments does not check it; the first object does.
    with pytest.raises(TypeError) as info:
        m.dumps("a: 1", default=1, serializers={}, width=80, represent=2)
    assert str(info.value) == "'int' object is not callable"


@pytest.mark.parametrize("name", ["loads", "loads_all"])
@pytest.mark.parametrize("tags", [[], (), "x", 1])
def test_tags_must_be_a_dict(name, tags):
    with pytest.raises(TypeError) as info:
        getattr(m, name)("a: 1", tags=tags)
    assert str(info.value) == "tags must be a dict (or Tags) mapping each tag name to a callable"
    assert not getattr(info.value, "__notes__", None)


@pytest.mark.parametrize("name", ["loads", "loads_all"])
def test_input_errors_come_before_tags(name):
    with pytest.raises(TypeError) as info:
        getattr(m, name)(3, tags=[])
    assert str(info.value) == "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)"

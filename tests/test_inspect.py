"""yaml_version and schema_ref: answers from the head of a text, for every
input form."""

import pytest

import _ostrevane as m


def forms(text):
    data = text.encode("utf-8")
    return [text, data, bytearray(data), memoryview(data)]


YAML_VERSIONS = [
    ("%YAML 1.1\n---\na: 1\n", "1.1"),
    ("%YAML 1.2\n---\n", "1.2"),
    ("%YAML 1.2 # comment\n---\n", "1.2"),
    ("%YAML 2.0\n---\n", "2.0"),
    ("%YAML 01.001\n", "1.1"),
    ("%YAML 4294967295.4294967295\n", "4294967295.4294967295"),
    ("\n\n# head comment\n  # indented\n%YAML 1.1\n", "1.1"),
    ("%TAG ! tag:example.com,2000:\n%YAML 1.1\n---\n", "1.1"),
    ("  %YAML 1.1\n", "1.1"),
    ("\ufeff%YAML 1.1\n", "1.1"),
    ("%YAML 1.1\r\n---\r\n", "1.1"),
    ("a: 1\n", None),
    ("a: 1\n%YAML 1.1\n", None),
    ("---\n%YAML 1.1\n", None),
    ("%YAML\n", None),
    ("%YAML 1\n", None),
    ("%YAML 1.\n", None),
    ("%YAML .1\n", None),
    ("%YAML 1.2.3\n", None),
    ("%YAML +1.2\n", None),
    ("%YAML 1.x\n", None),
    ("%YAML 4294967296.0\n", None),
    ("# c\r%YAML 1.1\n", None),
    ("", None),
    ("[unclosed: {", None),
]


@pytest.mark.parametrize("text,expected", YAML_VERSIONS)
def test_yaml_version(text, expected):
    for data in forms(text):
        assert m.yaml_version(data) == expected


def test_yaml_version_of_utf16_with_mark():
    assert m.yaml_version("%YAML 1.1\n---\na: 1\n".encode("utf-16")) == "1.1"


SCHEMA_REFS = [
    ("# yaml-language-server: $schema=./config.schema.json\na: 1\n",
     "./config.schema.json"),
    ("# first\n# second\n\n# yaml-language-server: $schema=https://x/s.json\n",
     "https://x/s.json"),
    ("#yaml-language-server:$schema=x", "x"),
    ("  #  yaml-language-server:   $schema=  spaced value  \n", "spaced value"),
    ("# yaml-language-server: $schema=win.json\r\na: 1\r\n", "win.json"),
    ("# yaml-language-server: other $schema=x\n# yaml-language-server: $schema=y\n", "y"),
    ("# yaml-language-server: $schema=  \n# yaml-language-server: $schema=z\n", "z"),
    ("\ufeff# yaml-language-server: $schema=bom.json\n", "bom.json"),
    ("a: 1\n# yaml-language-server: $schema=x\n", None),
    ("%YAML 1.2\n# yaml-language-server: $schema=x\n", None),
    ("---\n# yaml-language-server: $schema=x\n", None),
    ("# YAML-Language-Server: $schema=x\n", None),
    ("key: value # yaml-language-server: $schema=x\n", None),
    ("", None),
]


@pytest.mark.parametrize("text,expected", SCHEMA_REFS)
def test_schema_ref(text, expected):
    for data in forms(text):
        assert m.schema_ref(data) == expected


def test_schema_ref_of_utf16_with_mark():
    text = "# yaml-language-server: $schema=wide.json\n"
    assert m.schema_ref(text.encode("utf-16")) == "wide.json"
    assert m.schema_ref(text.encode("utf-32-be")) == "wide.json"

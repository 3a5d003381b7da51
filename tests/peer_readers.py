"""What other readers make of a written text: PyYAML and ruamel.yaml (both
installed from Debian) must load what round-trip editing writes, to the same
values."""

import warnings

import yaml
from ruamel.yaml import YAML


def pyyaml_value(text):
    if isinstance(text, bytes):
        text = text.decode()
    return yaml.safe_load(text)


def ruamel_value(text):
    if isinstance(text, bytes):
        text = text.decode()
    with warnings.catch_warnings():
        # A name defined twice is a warning there, not an error.
        warnings.simplefilter("ignore")
        return YAML(typ="safe", pure=True).load(text)


def assert_peers_read(text, expected, pyyaml=True):
    """Both readers load `text` to `expected`; `pyyaml=False` leaves out
    PyYAML, which refuses a name defined twice."""
    if pyyaml:
        assert pyyaml_value(text) == expected
    assert ruamel_value(text) == expected

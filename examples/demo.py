"""What works so far: loading YAML into Python objects (loads, loads_all),
round-trip documents that keep the text as written (OPT_ROUND_TRIP) and
can be edited with their comments kept,
writing Python objects as YAML and JSON (dumps, to_json), a represent
callback that chooses styles and comments, the option constants, and the
two functions that read the head of a YAML text (its %YAML
version and its schema reference)."""

import sys

import ostrevane
from ostrevane.exceptions import OstrevaneDecodeError


def main(path):
    with open(path, "rb") as f:
        data = f.read()

    print(f"{path}:")
    print(f"  loads        -> {ostrevane.loads(data)!r}")
    print(f"  yaml_version -> {ostrevane.yaml_version(data)!r}")
    print(f"  schema_ref   -> {ostrevane.schema_ref(data)!r}")

    # The same text in another encoding gives the same answers.
    wide = data.decode("utf-8").encode("utf-16")
    print(f"  as UTF-16    -> {ostrevane.yaml_version(wide)!r}, {ostrevane.schema_ref(wide)!r}")

    try:
        ostrevane.yaml_version(b"a: \xe2\x82")
    except OstrevaneDecodeError as e:
        print(f"  bad bytes    -> {type(e).__name__}: {e}")

    stream = "--- {a: 1}\n--- !point [3, 4]\n"
    docs = ostrevane.loads_all(stream, tags={"!point": tuple})
    print(f"loads_all with a tag callback -> {docs!r}")

    config = ostrevane.loads(data)
    config["service"]["tags"] = ["fast", "exact"]
    print("dumps with OPT_INDENT_4 | OPT_SORT_KEYS ->")
    print(ostrevane.dumps(config, option=ostrevane.OPT_INDENT_4 | ostrevane.OPT_SORT_KEYS).decode())
    print(f"to_json -> {ostrevane.to_json(config).decode()}")

    # A represent callback answers for single objects: here the service name
    # is written double-quoted with a comment, the tags as a flow list.
    def represent(obj):
        if obj == config["service"]["name"]:
            return ostrevane.OstrevaneScalar(obj, style="double", comment="shown to users")
        if obj is config["service"]["tags"]:
            return ostrevane.OstrevaneSequence(obj, flow=True, comment_before="in order")
        return None

    print("dumps with a represent callback ->")
    print(ostrevane.dumps(config, represent=represent).decode())

    doc = ostrevane.loads(data, option=ostrevane.OPT_ROUND_TRIP)
    print(f"loads with OPT_ROUND_TRIP -> {doc!r}, explicit_start={doc.explicit_start}")
    print("  its text, comments and all, as loaded:")
    print(doc.to_yaml().decode(), end="")
    print(f"  to_dict() -> {doc.to_dict()!r}")
    print(f"  to_json   -> {ostrevane.to_json(doc).decode()}")

    # Editing: the changed values are written in place, every comment and
    # style around them kept.
    doc["service"]["port"] = 9090
    doc["service"]["tags"] = ["fast", "exact"]
    print("  after doc['service']['port'] = 9090 and a new 'tags' list:")
    print(doc.to_yaml().decode(), end="")

    options = [name for name in ostrevane.__all__ if name.startswith("OPT_")]
    print(f"{len(options)} option constants, for example:")
    for name in ("OPT_YAML_1_1", "OPT_ROUND_TRIP", "OPT_TIMESTAMPS"):
        print(f"  {name} = {getattr(ostrevane, name)}")
    combined = ostrevane.OPT_ROUND_TRIP | ostrevane.OPT_INCLUDES
    print(f"  OPT_ROUND_TRIP | OPT_INCLUDES = {combined}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/config.yaml")

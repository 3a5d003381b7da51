#!/usr/bin/env python3
"""Write the scanner benchmark's corpus: about 10 MB of config-like YAML.

Deterministic (fixed seed), so every run and every machine scans the same
bytes. The mix follows what configuration files hold: nested block mappings
and sequences, short plain values, flow collections, quoted strings (some
with escapes), literal and folded block scalars, full-line and trailing
comments, and the odd anchor and alias. Plain ASCII with a sprinkling of
non-ASCII text, as real files have.

Usage: gen_corpus.py OUTPUT [SIZE_BYTES]
"""
import random
import sys

WORDS = ("alpha beta gamma delta server client host port timeout retry limit cache "
         "queue worker region zone cluster node pod image tag version build release "
         "debug info warn error path file user group role policy token secret key "
         "value name label metric alert rule target source sink stream batch window").split()
NON_ASCII = ["café", "naïve", "Zürich", "São Paulo", "東京", "Ελλάδα", "smörgåsbord"]


class Writer:
    def __init__(self, rng):
        self.rng = rng
        self.lines = []
        self.size = 0
        self.anchors = 0

    def line(self, text):
        self.lines.append(text)
        self.size += len(text.encode("utf-8")) + 1

    def word(self):
        return self.rng.choice(WORDS)

    def key(self):
        r = self.rng.random()
        if r < 0.7:
            return self.word() + "_" + self.word()
        if r < 0.9:
            return self.word()
        return self.word() + "-" + str(self.rng.randrange(100))

    def plain(self):
        r = self.rng.random()
        if r < 0.25:
            return str(self.rng.randrange(100000))
        if r < 0.35:
            return self.rng.choice(["true", "false", "null", "~", "yes", "no"])
        if r < 0.45:
            return "%d.%d" % (self.rng.randrange(100), self.rng.randrange(1000))
        if r < 0.55:
            return "/var/%s/%s.%s" % (self.word(), self.word(), self.rng.choice(["log", "yaml", "d"]))
        if r < 0.6:
            return self.rng.choice(NON_ASCII) + " " + self.word()
        return " ".join(self.word() for _ in range(self.rng.randrange(1, 6)))

    def double_quoted(self):
        text = " ".join(self.word() for _ in range(self.rng.randrange(1, 8)))
        r = self.rng.random()
        if r < 0.2:
            text += "\\n" + self.word()
        elif r < 0.3:
            text += "\\t\\\"" + self.word() + "\\\""
        elif r < 0.35:
            text += " \\u00e9"
        return '"' + text + '"'

    def single_quoted(self):
        text = " ".join(self.word() for _ in range(self.rng.randrange(1, 6)))
        if self.rng.random() < 0.15:
            text += " it''s"
        return "'" + text + "'"

    def flow_sequence(self):
        items = [self.plain() if self.rng.random() < 0.7 else self.double_quoted()
                 for _ in range(self.rng.randrange(1, 7))]
        return "[" + ", ".join(i.replace(",", "") for i in items) + "]"

    def flow_mapping(self):
        items = ["%s: %s" % (self.word(), self.rng.randrange(1000))
                 for _ in range(self.rng.randrange(1, 5))]
        return "{" + ", ".join(items) + "}"

    def scalar_value(self):
        r = self.rng.random()
        if r < 0.55:
            return self.plain()
        if r < 0.68:
            return self.double_quoted()
        if r < 0.75:
            return self.single_quoted()
        if r < 0.85:
            return self.flow_sequence()
        return self.flow_mapping()

    def comment(self, indent):
        self.line(" " * indent + "# " + " ".join(self.word() for _ in range(self.rng.randrange(2, 10))))

    def block_scalar(self, indent, key):
        style = self.rng.choice(["|", "|-", ">", ">-", "|+"])
        self.line(" " * indent + key + ": " + style)
        for i in range(self.rng.randrange(2, 9)):
            if i and self.rng.random() < 0.1:
                self.line("")
                continue
            # The first line sets the indentation; later ones may go deeper.
            extra = "  " if i and style.startswith("|") and self.rng.random() < 0.2 else ""
            self.line(" " * (indent + 2) + extra +
                      " ".join(self.word() for _ in range(self.rng.randrange(3, 12))))

    def mapping(self, indent, depth):
        for _ in range(self.rng.randrange(2, 9)):
            r = self.rng.random()
            key = self.key()
            if r < 0.06:
                self.comment(indent)
            if depth < 4 and r < 0.25:
                self.line(" " * indent + key + ":")
                self.mapping(indent + 2, depth + 1)
            elif depth < 4 and r < 0.35:
                self.line(" " * indent + key + ":")
                self.sequence(indent + 2, depth + 1)
            elif r < 0.42:
                self.block_scalar(indent, key)
            elif r < 0.44 and self.anchors:
                self.line(" " * indent + key + ": *ref%d" % self.rng.randrange(self.anchors))
            elif r < 0.46:
                self.line(" " * indent + key + ": &ref%d %s" % (self.anchors, self.plain()))
                self.anchors += 1
            else:
                trailing = "  # " + self.word() if self.rng.random() < 0.1 else ""
                self.line(" " * indent + key + ": " + self.scalar_value() + trailing)

    def sequence(self, indent, depth):
        for _ in range(self.rng.randrange(1, 6)):
            if depth < 4 and self.rng.random() < 0.4:
                # A mapping as a sequence entry: "- k: v" then the rest aligned.
                self.line(" " * indent + "- " + self.key() + ": " + self.scalar_value())
                self.mapping(indent + 2, depth + 1)
            else:
                self.line(" " * indent + "- " + self.scalar_value())


def config_stream(target):
    """The corpus: config-like documents of about `target` bytes in all."""
    w = Writer(random.Random(20260611))
    w.line("# generated configuration corpus")
    documents = 0
    while w.size < target:
        if documents:
            w.line("---")
        w.anchors = 0  # anchors do not reach across documents
        w.comment(0)
        w.mapping(0, 0)
        documents += 1
    return "\n".join(w.lines) + "\n"


def main(argv):
    out = argv[1]
    target = int(argv[2]) if len(argv) > 2 else 10 * 1024 * 1024
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        f.write(config_stream(target))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

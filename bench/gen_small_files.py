#!/usr/bin/env python3
"""Generate a corpus of small YAML files like the ones projects keep around.

Deterministic (seeded), so every run and machine loads the same bytes. Eight
kinds: validation schemas and command descriptions (the bulk of the YAML a
system carries, as many short keys nested four or five deep), CI pipelines,
cluster manifests, automation playbooks, API descriptions, translation
catalogues and application configs. Each file is one document with what such
files hold: licence headers and other full-line comments, trailing comments,
anchors with aliases and merge keys, literal and folded block scalars,
quoted strings, flow collections, numbers and booleans. Only constructs
every compared loader reads alike are used (dates are quoted, booleans are
true and false).

The shape follows a set of real files found on a Linux machine: sizes with a
median of 1.1 KB, a tenth under 650 bytes, a tenth over 3.2 KB and the
largest 118 KB; about 8% of the lines are comments; scalars are short;
hardly any file holds a character beyond ASCII.

As a module: `generate(count, seed)` returns a list of (name, text).
As a script: gen_small_files.py OUTPUT_DIR [COUNT] writes the files.
"""
import math
import os
import random
import sys

WORDS = ("build test deploy lint release package cache artifact runner image service "
         "backend frontend worker api gateway auth billing search queue storage metrics "
         "logging alerting config secret volume network ingress cluster region node").split()
NON_ASCII = ["café", "Zürich", "São Paulo", "東京", "Ελλάδα", "naïve", "Kraków"]
LICENCE = ["Licensed under the Apache License, Version 2.0 (the \"License\");",
           "you may not use this file except in compliance with the License.",
           "", "Unless required by applicable law or agreed to in writing, software",
           "distributed under the License is distributed on an \"AS IS\" BASIS."]
TYPES = ["string", "string", "string", "integer", "boolean", "object", "array"]


class Doc:
    """Collects lines; `size` follows the text's length in bytes."""

    def __init__(self, rng):
        self.rng = rng
        self.lines = []
        self.size = 0
        # Share of sentences with a word beyond ASCII: almost no file has
        # one, but for translation catalogues.
        self.non_ascii = 0.0

    def add(self, indent, text):
        line = " " * indent + text
        self.lines.append(line)
        self.size += len(line.encode()) + 1

    def comment(self, indent, chance=0.7):
        if self.rng.random() < chance:
            self.add(indent, "# " + self.sentence(3, 9))

    def header(self):
        """The comment lines a file often opens with: a licence notice, a
        note that it was generated, or nothing."""
        r = self.rng.random()
        if r < 0.5:
            self.add(0, f"# Copyright 20{self.rng.randint(10, 25)} The {self.word().capitalize()} Authors.")
            self.add(0, "#")
            for line in LICENCE:
                self.add(0, f"# {line}" if line else "#")
        elif r < 0.75:
            self.add(0, f"# {self.sentence(3, 8)}")
            self.add(0, "# generated file: do not edit")

    def word(self):
        return self.rng.choice(WORDS)

    def name(self):
        return f"{self.word()}-{self.word()}"

    def sentence(self, lo, hi):
        words = [self.word() for _ in range(self.rng.randint(lo, hi))]
        if self.non_ascii and self.rng.random() < self.non_ascii:
            words.append(self.rng.choice(NON_ASCII))
        return " ".join(words)

    def trailing(self):
        return f"  # {self.sentence(1, 4)}" if self.rng.random() < 0.1 else ""

    def block(self, indent, lines_lo=2, lines_hi=6):
        for _ in range(self.rng.randint(lines_lo, lines_hi)):
            self.add(indent, self.shell_line())

    def shell_line(self):
        r = self.rng
        return r.choice([
            f"make {self.word()} JOBS={r.randint(1, 16)}",
            f"./scripts/{self.word()}.sh --env {r.choice(['dev', 'staging', 'prod'])}",
            f"echo \"{self.sentence(2, 6)}\"",
            f"docker build -t registry.example.com/{self.name()}:{r.randint(1, 9)}.{r.randint(0, 30)} .",
            f"python -m pytest -q tests/{self.word()} -k '{self.word()}'",
        ])

    def text(self):
        return "\n".join(self.lines) + "\n"


def ci_pipeline(d, target):
    r = d.rng
    d.add(0, f"# CI pipeline for {d.name()}")
    d.add(0, f"name: {d.name()}")
    d.add(0, "variables:")
    for i in range(r.randint(2, 6)):
        d.add(2, f"{d.word().upper()}_{i}: \"{d.sentence(1, 3)}\"")
    d.add(0, ".defaults: &defaults")
    d.add(2, f"image: registry.example.com/ci/{d.word()}:{r.randint(1, 20)}")
    d.add(2, "retry: 2")
    d.add(2, "tags: [linux, docker]")
    d.add(0, "stages:")
    for s in ("build", "test", "deploy"):
        d.add(2, f"- {s}")
    d.add(0, "jobs:")
    j = 0
    while d.size < target:
        d.comment(2)
        d.add(2, f"{d.word()}-{j}:")
        d.add(4, "<<: *defaults")
        d.add(4, f"stage: {r.choice(['build', 'test', 'deploy'])}")
        if r.random() < 0.5:
            d.add(4, f"needs: [{d.word()}-{max(j - 1, 0)}]")
        d.add(4, f"timeout: {r.randint(5, 120)}" + d.trailing())
        d.add(4, "script: |")
        d.block(6)
        if r.random() < 0.4:
            d.add(4, "only:")
            d.add(6, "- main")
            d.add(6, f"- /^release-{r.randint(1, 9)}\\..*$/")
        if r.random() < 0.3:
            d.add(4, "artifacts:")
            d.add(6, f"paths: [dist/, \"reports/{d.word()}.xml\"]")
            d.add(6, f"expire_in: {r.randint(1, 30)} days")
        j += 1


def manifest(d, target):
    r = d.rng
    app = d.name()
    d.add(0, "# Deployment manifest")
    d.add(0, "apiVersion: apps/v1")
    d.add(0, "kind: Deployment")
    d.add(0, "metadata:")
    d.add(2, f"name: {app}")
    d.add(2, f"namespace: {d.word()}")
    d.add(2, "labels: &labels")
    d.add(4, f"app: {app}")
    d.add(4, f"tier: {d.word()}")
    d.add(2, "annotations:")
    d.add(4, f"description: >")
    d.add(6, d.sentence(6, 12))
    d.add(6, d.sentence(6, 12))
    d.add(0, "spec:")
    d.add(2, f"replicas: {r.randint(1, 12)}")
    d.add(2, "selector:")
    d.add(4, "matchLabels: *labels")
    d.add(2, "template:")
    d.add(4, "metadata:")
    d.add(6, "labels: *labels")
    d.add(4, "spec:")
    d.add(6, "containers:")
    c = 0
    while d.size < target:
        d.comment(8)
        d.add(8, f"- name: {d.word()}-{c}")
        d.add(10, f"image: \"registry.example.com/{app}:{r.randint(1, 9)}.{r.randint(0, 40)}.{r.randint(0, 9)}\"")
        d.add(10, f"imagePullPolicy: {r.choice(['Always', 'IfNotPresent'])}")
        d.add(10, "ports:")
        for _ in range(r.randint(1, 3)):
            d.add(12, f"- containerPort: {r.randint(1024, 65535)}")
            d.add(14, "protocol: TCP")
        d.add(10, "env:")
        for k in range(r.randint(2, 8)):
            d.add(12, f"- name: {d.word().upper()}_{k}")
            d.add(14, f"value: \"{r.choice([d.word(), str(r.randint(0, 999)), 'true'])}\"")
        d.add(10, "resources:")
        d.add(12, f"limits: {{cpu: {r.choice(['250m', '500m', '1'])}, memory: {r.choice(['256Mi', '1Gi'])}}}")
        d.add(12, f"requests: {{cpu: 100m, memory: 128Mi}}")
        if r.random() < 0.5:
            d.add(10, "livenessProbe:")
            d.add(12, "httpGet: {path: /healthz, port: 8080}")
            d.add(12, f"initialDelaySeconds: {r.randint(1, 30)}")
        if r.random() < 0.3:
            d.add(10, "args:")
            d.add(12, "- |")
            d.block(14, 1, 3)
        c += 1


def playbook(d, target):
    r = d.rng
    d.add(0, "---")
    d.add(0, f"# Playbook: {d.sentence(2, 5)}")
    d.add(0, f"- name: {d.sentence(2, 5)}")
    d.add(2, f"hosts: {d.word()}")
    d.add(2, "become: true")
    d.add(2, "vars:")
    d.add(4, "common: &common")
    d.add(6, f"owner: {d.word()}")
    d.add(6, "mode: \"0644\"")
    for i in range(r.randint(2, 5)):
        d.add(4, f"{d.word()}_{i}: {r.choice([str(r.randint(1, 9999)), d.word(), 'true'])}")
    d.add(2, "tasks:")
    while d.size < target:
        d.comment(4)
        d.add(4, f"- name: {d.sentence(3, 7)}")
        kind = r.randrange(4)
        if kind == 0:
            d.add(6, "ansible.builtin.shell: |")
            d.block(8)
        elif kind == 1:
            d.add(6, "ansible.builtin.template:")
            d.add(8, f"src: templates/{d.word()}.j2")
            d.add(8, f"dest: /etc/{d.word()}/{d.word()}.conf")
            d.add(8, "<<: *common")
        elif kind == 2:
            d.add(6, "ansible.builtin.apt:")
            d.add(8, f"name: [{', '.join(d.word() for _ in range(r.randint(1, 5)))}]")
            d.add(8, "state: present")
        else:
            d.add(6, "ansible.builtin.copy:")
            d.add(8, f"content: \"{{{{ {d.word()}_config | to_nice_json }}}}\"")
            d.add(8, f"dest: /srv/{d.word()}.json")
        if r.random() < 0.3:
            d.add(6, f"when: {d.word()}_enabled and ansible_os_family == \"Debian\"")
        if r.random() < 0.2:
            d.add(6, "notify:")
            d.add(8, f"- restart {d.word()}")


def api_description(d, target):
    r = d.rng
    d.add(0, "openapi: 3.0.3")
    d.add(0, "info:")
    d.add(2, f"title: {d.name()} API")
    d.add(2, f"version: \"{r.randint(1, 5)}.{r.randint(0, 20)}.0\"")
    d.add(2, "description: |")
    d.add(4, d.sentence(5, 12))
    d.add(4, d.sentence(5, 12))
    d.add(0, "components:")
    d.add(2, "responses:")
    d.add(4, "NotFound: &notfound")
    d.add(6, "description: The resource was not found.")
    d.add(0, "paths:")
    n = 0
    while d.size < target:
        res = d.word()
        d.comment(2)
        d.add(2, f"/v{n}/{res}s/{{{res}Id}}:")
        n += 1
        for method in r.sample(["get", "put", "delete", "patch"], r.randint(1, 3)):
            d.add(4, f"{method}:")
            d.add(6, f"summary: {d.sentence(3, 8)}")
            d.add(6, f"operationId: {method}{res.capitalize()}")
            d.add(6, f"tags: [{res}]")
            d.add(6, "parameters:")
            d.add(8, f"- name: {res}Id")
            d.add(10, "in: path")
            d.add(10, "required: true")
            d.add(10, "schema: {type: string, format: uuid}")
            d.add(6, "responses:")
            d.add(8, "'200':")
            d.add(10, "description: >-")
            d.add(12, d.sentence(4, 10))
            d.add(10, "content:")
            d.add(12, "application/json:")
            d.add(14, f"schema: {{$ref: '#/components/schemas/{res.capitalize()}'}}")
            d.add(8, "'404': *notfound")


def catalogue(d, target):
    r = d.rng
    lang = r.choice(["en", "fr", "de", "ja", "pt-BR"])
    if lang == "ja":
        d.non_ascii = 0.3
    d.add(0, f"# Translation catalogue ({lang})")
    d.add(0, f"{lang}:")
    n = 0
    while d.size < target:
        section = f"{d.word()}_{n}"
        n += 1
        d.comment(2)
        d.add(2, f"{section}:")
        for i in range(r.randint(3, 10)):
            key = f"{d.word()}_{i}"
            kind = r.randrange(5)
            if kind == 0:
                d.add(4, f"{key}: \"{d.sentence(2, 8)} %{{count}}\"")
            elif kind == 1:
                d.add(4, f"{key}: '{d.sentence(2, 6)}{' — ' + r.choice(NON_ASCII) if d.non_ascii else ''}'")
            elif kind == 2:
                d.add(4, f"{key}:")
                d.add(6, f"one: \"{d.sentence(1, 4)}\"")
                d.add(6, f"other: \"%{{count}} {d.sentence(1, 4)}\"")
            elif kind == 3:
                d.add(4, f"{key}: |")
                d.add(6, d.sentence(4, 10))
                d.add(6, d.sentence(4, 10))
            else:
                d.add(4, f"{key}: {d.sentence(1, 6)}" + d.trailing())


def app_config(d, target):
    r = d.rng
    d.add(0, "# Application settings")
    d.add(0, "default: &default")
    d.add(2, "adapter: postgresql")
    d.add(2, "encoding: unicode")
    d.add(2, f"pool: {r.randint(2, 20)}")
    d.add(2, f"timeout: {r.randint(1000, 9000)}")
    d.add(2, f"ratio: {r.random():.3f}")
    d.add(2, f"released: \"20{r.randint(10, 25)}-0{r.randint(1, 9)}-1{r.randint(0, 9)}\"")
    env = 0
    while d.size < target:
        d.comment(0)
        d.add(0, f"{r.choice(['development', 'test', 'staging', 'production'])}_{env}:")
        d.add(2, "<<: *default")
        d.add(2, f"database: {d.word()}_{env}")
        d.add(2, f"host: {d.word()}.internal.example.com" + d.trailing())
        d.add(2, f"port: {r.randint(1024, 65535)}")
        d.add(2, f"debug: {r.choice(['true', 'false'])}")
        d.add(2, "features:")
        for k in range(r.randint(2, 6)):
            d.add(4, f"{d.word()}_{k}: {{enabled: {r.choice(['true', 'false'])}, weight: {r.randint(0, 100)}}}")
        d.add(2, f"allowed_hosts: [{', '.join(d.word() + '.example.com' for _ in range(r.randint(1, 4)))}]")
        d.add(2, "banner: >")
        d.add(4, d.sentence(5, 12))
        d.add(4, d.sentence(5, 12))
        if r.random() < 0.4:
            d.add(2, "cache:")
            d.add(4, f"ttl: {r.randint(1, 3600)}")
            d.add(4, f"max_entries: {r.randint(100, 100000)}")
        env += 1


def schema(d, target):
    """A validation schema: properties nested four or five deep, each with a
    type and a short description."""
    r = d.rng
    d.header()
    d.add(0, '$schema: "http://json-schema.org/draft-06/schema#"')
    d.add(0, "")
    d.add(0, f"title: {d.word()} v{r.randint(1, 3)} {d.name()} schema")
    d.add(0, "type: object")
    d.add(0, "additionalProperties: false")
    d.add(0, "properties:")

    def properties(indent, depth, used):
        for _ in range(r.randint(2, 5)):
            if d.size >= target and depth > 1:
                return
            kind = r.choice(TYPES) if depth < 5 else "string"
            name = f"{d.word()}{d.word().capitalize()}"
            while name in used:
                name += str(r.randint(0, 9))
            used.add(name)
            d.comment(indent, 0.16)
            d.add(indent, f"{name}:")
            if r.random() < 0.7:
                d.add(indent + 2, f"description: {d.sentence(2, 6).capitalize()}.")
            d.add(indent + 2, f"type: {kind}")
            if kind == "object":
                d.add(indent + 2, "additionalProperties: false")
                d.add(indent + 2, "properties:")
                properties(indent + 4, depth + 1, set())
            elif kind == "array":
                d.add(indent + 2, "items:")
                d.add(indent + 4, f"type: {r.choice(['string', 'integer'])}")
            elif kind == "string" and r.random() < 0.15:
                d.add(indent + 2, "enum:")
                for e in r.sample(WORDS, r.randint(2, 4)):
                    d.add(indent + 2, f"- {e.upper()}")

    top = set()
    while d.size < target:
        properties(2, 1, top)


def command(d, target):
    """A command description: help texts, a request, a response and
    arguments, as a list of release tracks."""
    r = d.rng
    d.header()
    d.add(0, f"- release_tracks: [{', '.join(r.sample(['GA', 'BETA', 'ALPHA'], r.randint(1, 3)))}]")
    d.add(2, "help_text:")
    d.add(4, f"brief: {d.sentence(3, 6).capitalize()}.")
    d.add(4, "description: |")
    d.add(6, f"{d.sentence(4, 9).capitalize()}.")
    d.add(4, "examples: |")
    d.add(6, f"To {d.word()} a {d.word()}, run:")
    d.add(0, "")
    d.add(6, f"$ {{command}} my-{d.word()} --location={d.word()}-{r.randint(1, 9)}")
    d.add(2, "request:")
    d.add(4, f"collection: {d.word()}.projects.locations.{d.word()}s")
    d.add(4, f"api_version: v{r.randint(1, 2)}")
    if r.random() < 0.4:
        d.add(4, "# " + d.sentence(4, 9))
        d.add(4, "# " + d.sentence(4, 9))
        d.add(4, f"disable_resource_check: {r.choice(['true', 'false'])}")
    d.add(2, "arguments:")
    d.add(4, "params:")
    while d.size < target:
        d.comment(4, 0.25)
        d.add(4, f"- arg_name: {d.word()}-{d.word()}")
        d.add(6, f"api_field: {d.word()}.{d.word()}{d.word().capitalize()}")
        d.add(6, "help_text: |")
        d.add(8, f"{d.sentence(3, 8).capitalize()}.")
        if r.random() < 0.4:
            d.add(6, f"required: {r.choice(['true', 'false'])}")
        if r.random() < 0.3:
            d.add(6, "choices:")
            for _ in range(r.randint(2, 3)):
                d.add(6, f"- arg_value: {d.word()}")
                d.add(8, f"enum_value: {d.word().upper()}")
        if r.random() < 0.3:
            d.add(6, "spec:")
            d.add(8, f"- name: {d.word()}")
            d.add(10, f"type: {r.choice(['str', 'int', 'bool'])}")
    d.add(2, "response:")
    d.add(4, "id_field: name")


KINDS = [("schema", schema), ("command", command), ("ci", ci_pipeline), ("manifest", manifest), ("playbook", playbook),
         ("api", api_description), ("i18n", catalogue), ("config", app_config)]


# Kinds and their share of the files: most YAML on a system is schemas and
# command descriptions; the rest is the configs of tools.
WEIGHTS = {"schema": 5, "command": 3, "ci": 1, "manifest": 1, "playbook": 1, "api": 1,
           "i18n": 1, "config": 1}
LARGEST = 118 * 1024


def target_size(rng):
    """A file size in bytes: log-normal around a median of 1.1 KB, wider
    above it than below (a tenth under 650 bytes, a tenth over 3.2 KB)."""
    z = rng.gauss(0.0, 1.0)
    return int(960 * math.exp(z * (0.34 if z < 0 else 1.02)))


def generate(count=4317, seed=20261210):
    """`count` (name, text) pairs; one of them (the middle one) is the
    largest, 118 KB."""
    rng = random.Random(seed)
    kinds = dict(KINDS)
    deck = [name for name, weight in WEIGHTS.items() for _ in range(weight)]
    files = []
    for i in range(count):
        kind = deck[i % len(deck)]
        target = LARGEST if i == count // 2 else min(target_size(rng), LARGEST)
        d = Doc(random.Random(rng.getrandbits(64)))
        # A file ends with the unit that crosses the target: aim lower.
        kinds[kind](d, target if target == LARGEST else int(target * 0.85) - 80)
        files.append((f"{kind}-{i:05d}.yaml", d.text()))
    return files


def main(argv):
    if not argv:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    out = argv[0]
    count = int(argv[1]) if len(argv) > 1 else 4317
    os.makedirs(out, exist_ok=True)
    for name, text in generate(count):
        with open(os.path.join(out, name), "w", encoding="utf-8") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

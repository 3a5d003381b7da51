#!/usr/bin/env python3
"""loads with !include, !env_var, !include_dir_merge_named and !secret
against a reference expander on PyYAML's C loader.

A generated configuration tree: a main file that includes 10 files, each
including 10 more, each of those including 10 leaves (1,110 included files
three levels deep), every file holding a few plain values and !env_var
values. The reference expander is written here: PyYAML's CSafeLoader with an
!include constructor (reads the file relative to the including file and
loads it with the same loader) and an !env_var constructor (the variable, or
the rest of the words as default). Both must give equal results; then each
is timed, interleaved, best of several runs, and the ratio printed, with the
spread over the rounds.

Two more cases: !include_dir_merge_named over a directory of 1,000 files
(the reference lists, sorts and filters the names the same way and merges
the mappings), and 1,000 services whose user and password are !secret
values drawn from a secrets.yaml of 200 (the reference reads that file once
per call, as ours does).

Usage: py_directives.py [ROUNDS] (default 5)
"""
import os
import statistics
import sys
import tempfile
import time

FAN = 10


def leaf_text(i):
    return (f"name: leaf{i}\n"
            f"port: {8000 + i}\n"
            f"host: !env_var OSV_BENCH_HOST localhost\n"
            f"user: !env_var OSV_BENCH_USER\n"
            f"ratio: {i / 7:.4f}\n"
            f"tags: [a, b, c{i}]\n"
            f"enabled: {'true' if i % 2 else 'false'}\n")


def make_tree(base):
    n = 0
    main = ["# generated main file", "settings:", "  region: !env_var OSV_BENCH_REGION eu",
            "groups:"]
    for a in range(FAN):
        mid = [f"group: g{a}", "members:"]
        for b in range(FAN):
            sub = [f"team: t{a}_{b}", f"owner: !env_var OSV_BENCH_USER", "leaves:"]
            for c in range(FAN):
                name = f"l{a}_{b}_{c}.yaml"
                with open(os.path.join(base, "g", f"{a}", f"{b}", name), "w") as f:
                    f.write(leaf_text(n))
                n += 1
                sub.append(f"  - !include {b}/{name}")
            with open(os.path.join(base, "g", f"{a}", f"t{b}.yaml"), "w") as f:
                f.write("\n".join(sub) + "\n")
            mid.append(f"  - !include {a}/t{b}.yaml")
        with open(os.path.join(base, "g", f"m{a}.yaml"), "w") as f:
            f.write("\n".join(mid) + "\n")
        main.append(f"  - !include g/m{a}.yaml")
    return "\n".join(main) + "\n"


def single_data(loader):
    try:
        return loader.get_single_data()
    finally:
        loader.dispose()


def reference_loader():
    import yaml

    class Loader(yaml.CSafeLoader):
        pass

    def load_file(path):
        with open(path, encoding="utf-8") as f:
            loader = Loader(f.read())
        loader.base = os.path.dirname(path)
        return single_data(loader)

    def include(loader, node):
        return load_file(os.path.join(loader.base, loader.construct_scalar(node)))

    def env_var(loader, node):
        words = loader.construct_scalar(node).split()
        if not words:
            return ""
        value = os.environ.get(words[0])
        if value is not None:
            return value
        return " ".join(words[1:]) if len(words) > 1 else None

    Loader.add_constructor("!include", include)
    Loader.add_constructor("!env_var", env_var)

    def load(text, base):
        loader = Loader(text)
        loader.base = base
        return single_data(loader)

    return load


DIR_FILES = 1000
SECRETS = 200
SECRET_USES = 2000


def make_dir_tree(base):
    os.makedirs(os.path.join(base, "conf.d"))
    for i in range(DIR_FILES):
        with open(os.path.join(base, "conf.d", f"part{i:04}.yaml"), "w") as f:
            f.write(f"service_{i}:\n  port: {9000 + i}\n  hosts: [a{i}, b{i}]\n"
                    f"  enabled: {'true' if i % 3 else 'false'}\n")
    return "# generated\nservices: !include_dir_merge_named conf.d\n"


def make_secrets(base):
    with open(os.path.join(base, "secrets.yaml"), "w") as f:
        for i in range(SECRETS):
            f.write(f"key_{i}: secret-value-{i}-{'x' * (i % 17)}\n")
    lines = []
    for i in range(SECRET_USES // 2):
        lines += [f"service_{i}:", f"  host: h{i}.internal", f"  port: {9000 + i}",
                  f"  user: !secret key_{(i * 7) % SECRETS}",
                  f"  password: !secret key_{(i * 11 + 1) % SECRETS}"]
    return "\n".join(lines) + "\n"


def reference_dir_secret_loader(base):
    import yaml

    class Loader(yaml.CSafeLoader):
        pass

    def load_file(path):
        with open(path, encoding="utf-8") as f:
            return single_data(Loader(f.read()))

    def merge_named(loader, node):
        directory = os.path.join(base, loader.construct_scalar(node))
        merged = {}
        for name in sorted(os.listdir(directory)):
            stem, dot, ext = name.rpartition(".")
            if name.startswith(".") or not stem or ext not in ("yaml", "yml"):
                continue
            value = load_file(os.path.join(directory, name))
            if isinstance(value, dict):
                merged.update(value)
        return merged

    def secret(loader, node):
        if loader.secrets is None:
            loader.secrets = load_file(os.path.join(base, "secrets.yaml"))
        return loader.secrets[loader.construct_scalar(node)]

    Loader.add_constructor("!include_dir_merge_named", merge_named)
    Loader.add_constructor("!secret", secret)

    def load(text):
        loader = Loader(text)
        loader.secrets = None
        return single_data(loader)

    return load


def compare(title, label, ours, ref, rounds):
    assert ours() == ref(), f"the two expanders disagree: {title}"
    ratios = []
    for _ in range(rounds):
        t_ours = best_of(ours, 3)
        t_ref = best_of(ref, 3)
        ratios.append(t_ref / t_ours)
    print(title)
    print(f"ostrevane loads({label}) vs PyYAML CSafeLoader expander: "
          f"{statistics.median(ratios):.2f}x (min {min(ratios):.2f}x, max {max(ratios):.2f}x, "
          f"{rounds} rounds)")


def best_of(fn, runs):
    best = float("inf")
    for _ in range(runs):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def main(argv):
    rounds = int(argv[0]) if argv else 5
    import ostrevane
    try:
        import yaml
        if not getattr(yaml, "__with_libyaml__", False):
            raise ImportError
    except ImportError:
        print("PyYAML with its C loader is missing: nothing to compare")
        return 0
    os.environ["OSV_BENCH_HOST"] = "db.internal"
    os.environ["OSV_BENCH_USER"] = "svc"
    os.environ.pop("OSV_BENCH_REGION", None)
    with tempfile.TemporaryDirectory() as base:
        for a in range(FAN):
            for b in range(FAN):
                os.makedirs(os.path.join(base, "g", f"{a}", f"{b}"))
        text = make_tree(base)
        option = ostrevane.OPT_INCLUDES | ostrevane.OPT_ENV_VAR
        ours = lambda: ostrevane.loads(text, option=option, include_dir=base)  # noqa: E731
        ref_load = reference_loader()
        ref = lambda: ref_load(text, base)  # noqa: E731
        files = FAN + FAN * FAN + FAN ** 3
        compare(f"main file including {files} files three levels deep, !env_var values",
                "OPT_INCLUDES | OPT_ENV_VAR", ours, ref, rounds)

    with tempfile.TemporaryDirectory() as base:
        ref_load = reference_dir_secret_loader(base)
        text = make_dir_tree(base)
        option = ostrevane.OPT_INCLUDES
        compare(f"\n!include_dir_merge_named over {DIR_FILES} files", "OPT_INCLUDES",
                lambda: ostrevane.loads(text, option=option, include_dir=base),
                lambda: ref_load(text), rounds)
        secrets_text = make_secrets(base)
        option = ostrevane.OPT_SECRETS
        compare(f"\n{SECRET_USES // 2} services with {SECRET_USES} !secret values from a "
                f"secrets.yaml of {SECRETS}", "OPT_SECRETS",
                lambda: ostrevane.loads(secrets_text, option=option, include_dir=base),
                lambda: ref_load(secrets_text), rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

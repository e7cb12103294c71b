#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The layers are listed in scripts/layers.txt, lowest first, one a line; folders
on one line form one layer. A file belongs to the longest folder that holds it.
Only the project's own includes ("folder/file.h") are looked at.
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_layers(path):
    layers = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                layers.append([d.rstrip("/") for d in line.split()])
    return layers


def layer_of(rel, layers):
    best, best_len = None, -1
    for rank, folders in enumerate(layers):
        for d in folders:
            if (rel == d or rel.startswith(d + "/")) and len(d) > best_len:
                best, best_len = rank, len(d)
    return best


def main():
    layers = read_layers(os.path.join(ROOT, "scripts", "layers.txt"))
    names = [" ".join(f) for f in layers]
    src = os.path.join(ROOT, "src")
    bad = []
    checked = 0
    for dirpath, _, files in os.walk(src):
        for name in files:
            if not name.endswith((".h", ".cc", ".inc")):
                continue
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, ROOT).replace(os.sep, "/")
            own = layer_of(rel, layers)
            if own is None:
                bad.append(f"{rel}: in no layer of scripts/layers.txt")
                continue
            checked += 1
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for m in INCLUDE.finditer(text):
                target = "src/" + m.group(1)
                if not os.path.exists(os.path.join(ROOT, target)):
                    continue  # a generated or system header
                rank = layer_of(target, layers)
                if rank is None or rank > own:
                    line = text.count("\n", 0, m.start()) + 1
                    where = names[rank] if rank is not None else "no layer"
                    bad.append(f"{rel}:{line}: includes {m.group(1)} ({where}) "
                               f"from layer {names[own]}")
    for b in bad:
        print(b)
    print(f"layer check: {checked} files, {len(bad)} problems")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())

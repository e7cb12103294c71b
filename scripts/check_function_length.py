#!/usr/bin/env python3
"""Fails when a product function under src/ is longer than 100 lines.

A function is a brace block at namespace level that is not a class, struct,
enum, union or initialiser; its length counts from the line of its opening
brace to the line of its closing one. Comments and string literals are taken
out first. Functions kept long on purpose are listed below with the reason.
"""
import os
import re
import sys

LIMIT = 100
# file: the reason the one long function there stays whole.
KEPT = {
    "src/merge/merge_run.cc": "MergeRun::Run reads as the merge's numbered steps 100 to 226",
}
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def long_functions(path):
    found = []
    stack = []
    start = 0
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    for number, line in enumerate(lines, 1):
        code = re.sub(r"//.*", "", line)
        code = re.sub(r'"(\\.|[^"\\])*"', '""', code)
        code = re.sub(r"'(\\.|[^'\\])*'", "''", code)
        for ch in code:
            if ch == "{":
                kind = "other"
                if re.match(r'\s*(namespace|extern "C")', code):
                    kind = "namespace"
                elif all(k in ("namespace", "class") for k in stack):
                    if re.match(r"\s*(class|struct|enum|union)\b", code) or (
                        "=" in code and "(" not in code
                    ):
                        kind = "class"
                    else:
                        kind = "function"
                        start = number
                stack.append(kind)
            elif ch == "}" and stack:
                if stack.pop() == "function" and number - start + 1 > LIMIT:
                    found.append((start, number - start + 1))
    return found


def main():
    problems = 0
    for dirpath, _, files in os.walk(os.path.join(ROOT, "src")):
        for name in sorted(files):
            if not name.endswith((".cc", ".h")):
                continue
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, ROOT).replace(os.sep, "/")
            for line, length in long_functions(path):
                if rel in KEPT:
                    print(f"{rel}:{line}: {length} lines, kept: {KEPT[rel]}")
                    continue
                print(f"{rel}:{line}: a function of {length} lines (at most {LIMIT})")
                problems += 1
    print(f"function length check: {problems} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks that each product folder includes only the folders below it.

The program is layered: base/ depends on nothing of ours; the device link
and the cloud client stand on base/ alone (the device link not even on
that), so that they can be tested, benchmarked and reused without a window;
the engine layer knows nothing of the controllers above it; and no product
code reaches into the testbed, the tests or the benchmarks.

Exit status 1 and one line per offending include when a rule is broken.
"""
import argparse
import os
import re
import sys

TEST_ONLY = ("tools/", "tests/", "bench/")

# folder -> the folders its sources may include from (its own always).
ALLOWED = {
    "base": [],
    "device": [],
    "cloud": ["base"],
    "ui_engine": ["base"],
}
# Every other product folder may include any product folder.
PRODUCT = ["app", "account", "browser", "divelog", "divesite", "sync", "update", "pages"]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def violations(root):
    for top in list(ALLOWED) + PRODUCT:
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for inc in INCLUDE.findall(text):
                    if "/" not in inc:
                        continue  # a file beside it
                    if inc.startswith(TEST_ONLY):
                        yield f"{rel}: includes test equipment {inc}"
                    elif top in ALLOWED:
                        first = inc.split("/", 1)[0]
                        if first != top and first not in ALLOWED[top]:
                            yield f"{rel}: {top}/ may not include {inc}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    args = parser.parse_args()
    found = list(violations(args.root))
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())

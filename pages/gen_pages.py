#!/usr/bin/env python3
"""Builds the run-time page folders from one set of templates.

Every file under templates/ is written once per language into <out>/ENG and
<out>/CHT, with {{key}} replaced by the label of key in that language
(ui_text.json, HTML-escaped), {{#KEY}} by the text of message KEY
(string.json, for labels the program also shows, such as the weather
names), {{@HTML_LANG}} by the page language code and
{{@VERSION}} by the program version. common/ and images/ are copied to
<out>/common and <out>/images, and string.json (the message table the program
loads) to <out>/string.json. Both tables are checked first: every entry needs
a non-empty text in every language, and every placeholder a label, or the
build stops.

Files are rewritten only when their content changes, so an unchanged page
keeps its time stamp.
"""

import argparse
import html
import json
import os
import re
import sys

LANGUAGES = {"ENG": "en", "CHT": "zh-Hant"}
TEXT_SUFFIXES = (".htm", ".html", ".css", ".js", ".svg", ".json", ".txt")
PLACEHOLDER = re.compile(r"\{\{([@#]?[A-Za-z_][A-Za-z0-9_]*)\}\}")


class BuildError(Exception):
    pass


def load_table(path, name):
    """A JSON object: key -> {language: non-empty text}. Keys starting with
    "_" are comments."""
    try:
        with open(path, encoding="utf-8") as f:
            table = json.load(f)
    except (OSError, ValueError) as e:
        raise BuildError(f"{name}: cannot read: {e}")
    if not isinstance(table, dict):
        raise BuildError(f"{name}: not a JSON object")
    problems = []
    for key, entry in table.items():
        if key.startswith("_"):
            continue
        if not isinstance(entry, dict):
            problems.append(f"{key}: not an object")
            continue
        for lang in LANGUAGES:
            text = entry.get(lang)
            if not isinstance(text, str) or not text.strip():
                problems.append(f"{key}: no {lang} text")
    if problems:
        raise BuildError(f"{name}: " + "; ".join(problems))
    return {k: v for k, v in table.items() if not k.startswith("_")}


def write_if_changed(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def render(text, lang, labels, messages, version, where):
    def substitute(m):
        key = m.group(1)
        if key.startswith("#"):
            if key[1:] not in messages:
                raise BuildError(f"{where}: no message {key[1:]} for {{{{{key}}}}}")
            return html.escape(messages[key[1:]][lang], quote=True)
        if key == "@HTML_LANG":
            return LANGUAGES[lang]
        if key == "@VERSION":
            return html.escape(version)
        if key not in labels:
            raise BuildError(f"{where}: no label for {{{{{key}}}}}")
        return html.escape(labels[key][lang], quote=True)

    out = PLACEHOLDER.sub(substitute, text)
    # A fragment (a list row the program appends) must yield exactly its one
    # element: no text nodes around it.
    if where.endswith((".htm", ".html")) and not out.lstrip().lower().startswith("<!doctype"):
        out = out.strip()
    return out


def walk(folder):
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            full = os.path.join(root, name)
            yield full, os.path.relpath(full, folder)


def copy_tree(src, dst):
    if not os.path.isdir(src):
        return
    for full, rel in walk(src):
        with open(full, "rb") as f:
            write_if_changed(os.path.join(dst, rel), f.read())


def build(src, out, version):
    labels = load_table(os.path.join(src, "ui_text.json"), "ui_text.json")
    messages = load_table(os.path.join(src, "string.json"), "string.json")

    templates = os.path.join(src, "templates")
    for full, rel in walk(templates):
        with open(full, "rb") as f:
            data = f.read()
        for lang in LANGUAGES:
            target = os.path.join(out, lang, rel)
            if rel.endswith(TEXT_SUFFIXES):
                page = render(data.decode("utf-8"), lang, labels, messages, version, rel)
                write_if_changed(target, page.encode("utf-8"))
            else:
                write_if_changed(target, data)

    copy_tree(os.path.join(src, "common"), os.path.join(out, "common"))
    copy_tree(os.path.join(src, "images"), os.path.join(out, "images"))
    with open(os.path.join(src, "string.json"), "rb") as f:
        write_if_changed(os.path.join(out, "string.json"), f.read())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--src", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", default="1.0.0")
    args = parser.parse_args()
    try:
        build(args.src, args.out, args.version)
    except BuildError as e:
        print(f"gen_pages: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

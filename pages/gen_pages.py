#!/usr/bin/env python3
"""Builds the run-time page folders from one set of templates.

Every file under templates/ is written once per language into <out>/ENG and
<out>/CHT, with {{key}} replaced by the label of key in that language
(ui_text.json, HTML-escaped), {{#KEY}} by the text of message KEY
(string.json, for labels the program also shows, such as the weather
names), {{@HTML_LANG}} by the page language code and
{{@VERSION}} by the program version. common/ and images/ are copied to
<out>/common and <out>/images, each SVG picture there as a PNG of twice its
own size (rsvg-convert): crisp at a desktop scale of 2, and a picture the web
engine decodes once, where an SVG costs it a whole hidden document per
picture (some 100 kB each, over 30 of them on the main page). string.json
(the message table the program loads) goes to <out>/string.json. Both
tables are checked first: every entry needs a non-empty text in every
language, and every placeholder a label, or the build stops.

The four output folders (ENG, CHT, common, images) belong to the generator:
a file there that no source produces any more (a removed template, picture
or style sheet) is deleted, so no stale page outlives its template.

With --manifest, a C++ header lists every page: its file name, the element
ids it holds and, for a dialog page, its size (data-w, data-h and data-drag
on <body>, in logical pixels). The program names its pages, elements and
dialog sizes through that header, so a template is the one place they are
written. Ids must be plain literal C++ names, unique within their page.

Files are rewritten only when their content changes, so an unchanged page
keeps its time stamp.
"""

import argparse
import html
import json
import os
import re
import subprocess
import sys

LANGUAGES = {"ENG": "en", "CHT": "zh-Hant"}
TEXT_SUFFIXES = (".htm", ".html", ".css", ".js", ".svg", ".json", ".txt")
PLACEHOLDER = re.compile(r"\{\{([@#]?[A-Za-z_][A-Za-z0-9_]*)\}\}")
ID_ATTR = re.compile(r"\sid=\"([^\"]*)\"")
BODY_TAG = re.compile(r"<body\b[^>]*>", re.IGNORECASE)
IDENTIFIER = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
OUTPUT_FOLDERS = tuple(LANGUAGES) + ("common", "images")
# Names the manifest uses itself in each page's namespace.
MANIFEST_NAMES = {"kFile", "kWidth", "kHeight", "kDragBand", "kIds"}
CPP_KEYWORDS = set("""
alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t char32_t
class compl concept const consteval constexpr constinit const_cast continue co_await co_return
co_yield decltype default delete do double dynamic_cast else enum explicit export extern false float
for friend goto if inline int long mutable namespace new noexcept not not_eq nullptr operator or
or_eq private protected public register reinterpret_cast requires return short signed sizeof static
static_assert static_cast struct switch template this thread_local throw true try typedef typeid
typename union unsigned using virtual void volatile wchar_t while xor xor_eq
""".split())


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


def write_if_changed(path, data, written=None):
    if written is not None:
        written.add(os.path.normpath(path))
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


def render_png(rsvg, svg):
    """The SVG at `svg` as a PNG of twice its own size."""
    try:
        done = subprocess.run([rsvg, "--zoom", "2", "--format", "png", svg], capture_output=True, check=True)
    except (OSError, subprocess.CalledProcessError) as e:
        raise BuildError(f"{svg}: cannot render it as PNG: {e}")
    return done.stdout


def copy_tree(src, dst, written, rsvg):
    if not os.path.isdir(src):
        return
    for full, rel in walk(src):
        if rel.endswith(".svg"):
            write_if_changed(os.path.join(dst, rel[: -len(".svg")] + ".png"), render_png(rsvg, full), written)
            continue
        with open(full, "rb") as f:
            write_if_changed(os.path.join(dst, rel), f.read(), written)


def remove_stale(out, written):
    """Deletes every file under the output folders that this run did not
    write, then the folders left empty."""
    for folder in OUTPUT_FOLDERS:
        top = os.path.join(out, folder)
        if not os.path.isdir(top):
            continue
        for root, dirs, files in os.walk(top, topdown=False):
            for name in files:
                path = os.path.normpath(os.path.join(root, name))
                if path not in written:
                    os.remove(path)
            if root != top and not os.listdir(root):
                os.rmdir(root)


def page_info(rel, text):
    """The manifest entry of one page template: its ids in document order and
    the size attributes of its <body>."""
    ids = ID_ATTR.findall(text)
    problems = []
    seen = set()
    for i in ids:
        if "{{" in i or not IDENTIFIER.match(i) or i in CPP_KEYWORDS or i in MANIFEST_NAMES:
            problems.append(f"id \"{i}\" is not a plain name the program can use")
        elif i in seen:
            problems.append(f"id \"{i}\" appears twice")
        seen.add(i)
    # A page in a subfolder ("web_html/maps.htm") is named "web_html_maps".
    stem = os.path.splitext(rel)[0].replace(os.sep, "_").replace("/", "_")
    if not IDENTIFIER.match(stem) or stem in CPP_KEYWORDS:
        problems.append("the file name is not a plain name the program can use")
    size = {"w": 0, "h": 0, "drag": 0}
    body = BODY_TAG.search(text)
    if body:
        for key in size:
            m = re.search(r"\sdata-" + key + r"=\"([^\"]*)\"", body.group(0))
            if m:
                if not m.group(1).isdigit() or int(m.group(1)) > 10000:
                    problems.append(f"data-{key}=\"{m.group(1)}\" is not a size")
                else:
                    size[key] = int(m.group(1))
    if (size["w"] == 0) != (size["h"] == 0):
        problems.append("data-w and data-h go together")
    if problems:
        raise BuildError(f"{rel}: " + "; ".join(problems))
    return {"file": rel.replace(os.sep, "/"), "name": stem, "ids": list(dict.fromkeys(ids)),
            "width": size["w"], "height": size["h"], "drag_band": size["drag"]}


def manifest_header(pages):
    lines = [
        "// Generated by pages/gen_pages.py from pages/templates: edit the templates.",
        "//",
        "// Every page of the language folders: pages::<page>::kFile, the element ids",
        "// as constants named like the ids (pages::msg::MsgText1), and for a dialog",
        "// page its logical size and drag band (kWidth, kHeight, kDragBand; 0 when",
        "// the page does not set them). pages::kPages lists them all for tests.",
        "#pragma once",
        "",
        "namespace pages {",
        "",
    ]
    for p in pages:
        lines.append(f"namespace {p['name']} {{")
        lines.append(f"inline constexpr char kFile[] = \"{p['file']}\";")
        lines.append(f"inline constexpr int kWidth = {p['width']};")
        lines.append(f"inline constexpr int kHeight = {p['height']};")
        lines.append(f"inline constexpr int kDragBand = {p['drag_band']};")
        for i in p["ids"]:
            lines.append(f"inline constexpr char {i}[] = \"{i}\";")
        ids = "".join(f"{i}, " for i in p["ids"])
        lines.append(f"inline constexpr const char* kIds[] = {{{ids}nullptr}};")
        lines.append(f"}}  // namespace {p['name']}")
        lines.append("")
    lines += [
        "struct PageInfo {",
        "    const char* file;",
        "    int width, height, drag_band;",
        "    const char* const* ids;  // ends with nullptr",
        "};",
        "",
        "inline constexpr PageInfo kPages[] = {",
    ]
    for p in pages:
        n = p["name"]
        lines.append(f"    {{{n}::kFile, {n}::kWidth, {n}::kHeight, {n}::kDragBand, {n}::kIds}},")
    lines += ["};", "", "}  // namespace pages", ""]
    return "\n".join(lines)


def build(src, out, version, rsvg, manifest=None):
    labels = load_table(os.path.join(src, "ui_text.json"), "ui_text.json")
    messages = load_table(os.path.join(src, "string.json"), "string.json")

    written = set()
    pages = []
    templates = os.path.join(src, "templates")
    for full, rel in walk(templates):
        with open(full, "rb") as f:
            data = f.read()
        if rel.endswith((".htm", ".html")):
            pages.append(page_info(rel, data.decode("utf-8")))
        for lang in LANGUAGES:
            target = os.path.join(out, lang, rel)
            if rel.endswith(TEXT_SUFFIXES):
                page = render(data.decode("utf-8"), lang, labels, messages, version, rel)
                write_if_changed(target, page.encode("utf-8"), written)
            else:
                write_if_changed(target, data, written)

    copy_tree(os.path.join(src, "common"), os.path.join(out, "common"), written, rsvg)
    copy_tree(os.path.join(src, "images"), os.path.join(out, "images"), written, rsvg)
    with open(os.path.join(src, "string.json"), "rb") as f:
        write_if_changed(os.path.join(out, "string.json"), f.read())
    remove_stale(out, written)
    if manifest:
        write_if_changed(manifest, manifest_header(pages).encode("utf-8"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--src", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--manifest", help="path of the C++ page manifest to write")
    parser.add_argument("--rsvg", default="rsvg-convert", help="the SVG renderer (librsvg's rsvg-convert)")
    args = parser.parse_args()
    try:
        build(args.src, args.out, args.version, args.rsvg, args.manifest)
    except BuildError as e:
        print(f"gen_pages: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

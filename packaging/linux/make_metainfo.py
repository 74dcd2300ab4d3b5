#!/usr/bin/python3
"""Writes the AppStream metainfo with its <releases> made from the release notes.

    make_metainfo.py TEMPLATE RELEASES_DIR OUT

Every docs/releases/vVERSION.md is one release, newest first, dated the day its notes were
first committed (the file's own date where git can't tell) and described by its notes in
the small part of Markdown they use: headings and paragraphs become paragraphs, bullets
list items, emphasis, code marks and link targets are left out.
"""
import datetime
import os
import re
import subprocess
import sys
from xml.sax.saxutils import escape

NAME = re.compile(r"^v(\d+)\.(\d+)\.(\d+)\.md$")


def release_date(path):
    try:
        out = subprocess.run(["git", "log", "--diff-filter=A", "--format=%cs", "-1", "--", os.path.basename(path)],
                             cwd=os.path.dirname(path), capture_output=True, text=True, check=True).stdout.strip()
        if re.fullmatch(r"\d{4}-\d{2}-\d{2}", out):
            return out
    except (OSError, subprocess.CalledProcessError):
        pass
    return datetime.datetime.fromtimestamp(os.path.getmtime(path), datetime.timezone.utc).strftime("%Y-%m-%d")


def plain(text):
    text = re.sub(r"\*\*|__|`", "", text)
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    return escape(text.strip())


def description(markdown, version):
    out, items = [], []

    def end_list():
        if items:
            out.append("<ul>" + "".join("<li>%s</li>" % i for i in items) + "</ul>")
            items.clear()

    for line in markdown.replace("\r", "").split("\n"):
        bullet = re.match(r"^\s*[-*+]\s+(.*)$", line)
        if bullet:
            items.append(plain(bullet.group(1)))
            continue
        end_list()
        heading = re.match(r"^#{1,6}\s+(.*)$", line)
        text = plain(heading.group(1) if heading else line)
        # A heading that only names the version says nothing the release entry doesn't.
        if not text or (heading and text == "mosswire " + version):
            continue
        out.append("<p>%s</p>" % text)
    end_list()
    return "".join(out)


def releases(folder):
    found = []
    for name in os.listdir(folder):
        m = NAME.match(name)
        if m:
            found.append((tuple(int(g) for g in m.groups()), os.path.join(folder, name)))
    if not found:
        sys.exit("make_metainfo.py: no release notes (vVERSION.md) in " + folder)
    lines = ["<releases>"]
    for parts, path in sorted(found, reverse=True):
        version = ".".join(str(p) for p in parts)
        with open(path, encoding="utf-8") as f:
            notes = description(f.read(), version)
        lines.append('    <release version="%s" date="%s">' % (version, release_date(path)))
        if notes:
            lines.append("      <description>%s</description>" % notes)
        lines.append("    </release>")
    lines.append("  </releases>")
    return "\n".join(lines)


def main():
    template, folder, out = sys.argv[1:4]
    with open(template, encoding="utf-8") as f:
        text = f.read()
    if "@RELEASES@" not in text:
        sys.exit("make_metainfo.py: " + template + " has no @RELEASES@ line")
    text = text.replace("@RELEASES@", releases(folder))
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out + ".tmp", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main()

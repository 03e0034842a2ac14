#!/usr/bin/env python3
"""Checks the relative links of README.md and docs/*.md: each names a file
or folder of the tree, and each #anchor a heading of the page it points at."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
pages = [root / "README.md", *sorted((root / "docs").glob("*.md"))]
link = re.compile(r"\]\(([^)\s]+)\)")


def anchors(page):
    names = set()
    for line in page.read_text(encoding="utf-8").splitlines():
        if line.startswith("#"):
            title = line.lstrip("#").strip().lower()
            names.add(re.sub(r"[^\w\- ]", "", title).replace(" ", "-"))
    return names


broken = []
for page in pages:
    for target in link.findall(page.read_text(encoding="utf-8")):
        if re.match(r"[a-z]+:", target):
            continue  # an address outside the tree
        path, _, anchor = target.partition("#")
        where = (page.parent / path).resolve() if path else page
        if not where.exists():
            broken.append(f"{page.relative_to(root)}: {target}: no such file")
        elif anchor and where.suffix == ".md" and anchor not in anchors(where):
            broken.append(f"{page.relative_to(root)}: {target}: no such heading")
print("\n".join(broken) or f"{len(pages)} pages, every link found")
sys.exit(1 if broken else 0)

#!/usr/bin/python3
"""Checks the rendered manual against its Markdown source.

    check_manual.py --source docs/manual.md --html manual.html --pdf manual.pdf
                    [--readme README.md]

- HTML: a table of contents that links every section and subsection, and every
  in-page link leads to an element with that id.
- PDF: an outline entry per section and subsection, every link annotation
  names a destination that exists, and every line of every code block is one
  line of the page text: whole, or cut with the marker when even the smallest
  type cannot hold it.
- README: its index links only sections that exist and names every section.

Needs pandoc (to read the source as the renderer does), qpdf and pdftotext.
Exits 1 with one line per fault.
"""
from __future__ import annotations

import argparse
import html.parser
import json
import re
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

CUT_MARKER = '→'


@dataclass
class Heading:
    level: int  # 2 for "##", 3 for "###"
    title: str  # plain text
    anchor: str  # the id pandoc (and GitHub) give it


def plain(inlines: list) -> str:
    """The text of pandoc inline elements, as a reader sees it."""
    out = []
    for item in inlines:
        kind = item['t']
        if kind == 'Str':
            out.append(item['c'])
        elif kind in ('Space', 'SoftBreak', 'LineBreak'):
            out.append(' ')
        elif kind == 'Code':
            out.append(item['c'][1])
        elif kind in ('Emph', 'Strong', 'Strikeout', 'Underline', 'SmallCaps'):
            out.append(plain(item['c']))
        elif kind in ('Link', 'Span'):
            out.append(plain(item['c'][1]))
        elif kind == 'Quoted':
            out.append('"' + plain(item['c'][1]) + '"')
    return ''.join(out)


def read_source(path: Path) -> tuple[list[Heading], list[str]]:
    """The headings below the title and the code lines of the manual."""
    tree = json.loads(subprocess.run(['pandoc', '-f', 'gfm', '-t', 'json', str(path)],
                                     check=True, capture_output=True, text=True).stdout)
    headings: list[Heading] = []
    code: list[str] = []

    def walk(blocks: list) -> None:
        for block in blocks:
            kind = block['t']
            if kind == 'Header':
                level, (anchor, _, _), inlines = block['c']
                if level in (2, 3):
                    headings.append(Heading(level, plain(inlines), anchor))
            elif kind == 'CodeBlock':
                code.extend(line for line in block['c'][1].split('\n') if line.strip())
            elif kind in ('BlockQuote', 'Div'):
                walk(block['c'] if kind == 'BlockQuote' else block['c'][1])
            elif kind in ('BulletList', 'OrderedList'):
                items = block['c'] if kind == 'BulletList' else block['c'][1]
                for item in items:
                    walk(item)

    walk(tree['blocks'])
    return headings, code


class HtmlLinks(html.parser.HTMLParser):
    """Every id, every in-page link, and the links inside nav#TOC."""

    def __init__(self) -> None:
        super().__init__()
        self.ids: set[str] = set()
        self.links: list[str] = []
        self.toc_links: list[str] = []
        self._in_toc = False

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        a = dict(attrs)
        if a.get('id'):
            self.ids.add(a['id'])
        if tag == 'nav' and a.get('id') == 'TOC':
            self._in_toc = True
        if tag == 'a' and (a.get('href') or '').startswith('#'):
            self.links.append(a['href'][1:])
            if self._in_toc:
                self.toc_links.append(a['href'][1:])

    def handle_endtag(self, tag: str) -> None:
        if tag == 'nav':
            self._in_toc = False


def check_html(path: Path, headings: list[Heading], faults: list[str]) -> None:
    parser = HtmlLinks()
    parser.feed(path.read_text(encoding='utf-8'))
    if not parser.toc_links:
        faults.append(f'{path}: no table of contents')
    for h in headings:
        if h.anchor not in parser.ids:
            faults.append(f'{path}: no anchor "{h.anchor}" for "{h.title}"')
        if h.anchor not in parser.toc_links:
            faults.append(f'{path}: the table of contents lacks "{h.title}"')
    for link in parser.links:
        if link not in parser.ids:
            faults.append(f'{path}: link to #{link} leads nowhere')


def pdf_objects(path: Path) -> dict:
    out = subprocess.run(['qpdf', '--json=2', str(path)], check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def outline_titles(entries: list) -> list[str]:
    titles = []
    for e in entries:
        titles.append(e['title'])
        titles.extend(outline_titles(e['kids']))
    return titles


def check_pdf(path: Path, headings: list[Heading], code: list[str], faults: list[str]) -> None:
    document = pdf_objects(path)
    titles = [' '.join(t.split()) for t in outline_titles(document['outlines'])]
    for h in headings:
        if ' '.join(h.title.split()) not in titles:
            faults.append(f'{path}: the outline lacks "{h.title}"')

    objects = document['qpdf'][1]
    destinations: set[str] = set()
    links: list[str] = []
    for entry in objects.values():
        value = entry.get('value') if isinstance(entry, dict) else None
        if not isinstance(value, dict):
            continue
        if value.get('/Type') == '/Catalog':
            names = value.get('/Names', {}).get('/Dests', {}).get('/Names', [])
            destinations.update(n[2:] for n in names[0::2] if isinstance(n, str))
        if value.get('/Subtype') == '/Link' and isinstance(value.get('/Dest'), str):
            links.append(value['/Dest'][2:])
    if len(links) < len(headings):
        faults.append(f'{path}: {len(links)} internal links for {len(headings)} sections')
    for link in links:
        if link not in destinations:
            faults.append(f'{path}: link to "{link}" has no destination')

    text = subprocess.run(['pdftotext', '-layout', '-enc', 'UTF-8', str(path), '-'],
                          check=True, capture_output=True, text=True).stdout
    page_lines = {' '.join(line.split()) for line in text.splitlines()}
    for line in code:
        whole = ' '.join(line.split())
        if whole in page_lines:
            continue
        cut = [p for p in page_lines if p.endswith(CUT_MARKER) and whole.startswith(p[:-1].rstrip())]
        if not cut:
            faults.append(f'{path}: the code line "{line.strip()}" is not one line on the page')


def github_anchor(title: str) -> str:
    anchor = re.sub(r'[^\w\- ]', '', title.strip().lower())
    return anchor.replace(' ', '-')


def check_readme(path: Path, manual: Path, headings: list[Heading], faults: list[str]) -> None:
    readme = path.read_text(encoding='utf-8')
    linked = re.findall(r'\]\((?:\./)?docs/' + re.escape(manual.name) + r'#([^)\s]+)\)', readme)
    anchors = {h.anchor for h in headings}
    for anchor in linked:
        if anchor not in anchors:
            faults.append(f'{path}: links {manual.name}#{anchor}, which is no section')
    for h in headings:
        if h.level == 2 and h.anchor not in linked:
            faults.append(f'{path}: the index lacks section "{h.title}"')
        if h.anchor != github_anchor(h.title):
            faults.append(f'{manual}: "{h.title}" gets the anchor {h.anchor} here, '
                          f'{github_anchor(h.title)} on a Git web page')


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--source', type=Path, required=True)
    parser.add_argument('--html', type=Path, required=True)
    parser.add_argument('--pdf', type=Path, required=True)
    parser.add_argument('--readme', type=Path)
    args = parser.parse_args()
    headings, code = read_source(args.source)
    faults: list[str] = []
    if not headings:
        faults.append(f'{args.source}: no sections')
    check_html(args.html, headings, faults)
    check_pdf(args.pdf, headings, code, faults)
    if args.readme:
        check_readme(args.readme, args.source, headings, faults)
    for fault in faults:
        print(fault)
    print(f'{len(headings)} sections, {len(code)} code lines: {len(faults)} faults')
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""Checks the relative links of the README and the guides.

    linkcheck.py DIR...

Each DIR holds the texts laid out as in the source: README and CONTRIBUTING
beside a doc/ folder with the guides, as Markdown (.md) or as the Windows
zip's copies (.txt, the same Markdown). In each text, every relative link and
image must lead to a file or folder inside DIR that exists, and a link with
an #anchor into a text must name one of that text's headings, as GitHub
makes anchors of them. Links with a scheme (https:, mailto:) are left alone.

Guards against a moved or renamed file, a renamed heading, and a link to a
source file that the packages, which carry these texts without the source,
cannot resolve. Exits 0 when every link resolves, 1 otherwise, 2 when a DIR
holds no README.
"""

import re
import sys
from pathlib import Path
from urllib.parse import unquote

FENCE = re.compile(r"^ *(`{3,}|~{3,})")
ATX = re.compile(r"^ {0,3}(#{1,6})(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
SETEXT = re.compile(r"^ {0,3}(=+|-+)[ \t]*$")
CODE_SPAN = re.compile(r"(`+)(?:.+?)\1", re.S)
# [text](target "title") and ![alt](target); the text may wrap over lines.
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>\n]*>|[^\s()]+)(?:\s+(?:\"[^\"]*\"|'[^']*'))?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:[ \t]*(<[^>\n]*>|\S+)", re.M)
HTML_TARGET = re.compile(r"<(?:a|img)\b[^>]*?\b(?:href|src)=\"([^\"]*)\"", re.I)
HTML_ANCHOR = re.compile(r"<[a-z]+\b[^>]*?\b(?:id|name)=\"([^\"]*)\"", re.I)
SCHEME = re.compile(r"^(?:[a-zA-Z][a-zA-Z0-9+.-]*:|//)")
TEXT_SUFFIXES = {".md", ".txt"}


def blank(match):
    """The match as spaces, keeping its line breaks, so offsets stay."""
    return re.sub(r"[^\n]", " ", match.group(0))


def prose(text):
    """The text with code blocks and code spans blanked out, and the
    headings of the rest as (line number, heading text)."""
    lines = text.split("\n")
    kept, headings, fence = [], [], None
    for number, line in enumerate(lines, 1):
        opening = FENCE.match(line)
        if fence:
            if opening and opening.group(1)[0] == fence[0] and len(opening.group(1)) >= len(fence) \
                    and not line.strip()[len(opening.group(1)):].strip():
                fence = None
            kept.append("")
            continue
        if opening:
            fence = opening.group(1)
            kept.append("")
            continue
        heading = ATX.match(line)
        if heading:
            headings.append((number, heading.group(2) or ""))
        elif SETEXT.match(line) and kept and kept[-1].strip() \
                and not ATX.match(kept[-1]) and "|" not in kept[-1]:
            headings.append((number - 1, kept[-1].strip()))
        kept.append(line)
    return CODE_SPAN.sub(blank, "\n".join(kept)), headings


def slug_text(heading):
    """A heading's text as GitHub renders it: code spans keep their content,
    links their text, and emphasis marks and tags go."""
    parts = re.split(r"(`+[^`]*`+)", heading)
    rendered = []
    for part in parts:
        if part.startswith("`"):
            rendered.append(part.strip("`").strip())
            continue
        part = re.sub(r"\\([!-/:-@\[-`{-~])", r"\1", part)
        part = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", part)
        part = re.sub(r"<[^>]+>", "", part)
        part = re.sub(r"(?<!\w)(__?)(?=\S)(.+?)(?<=\S)\1(?!\w)", r"\2", part)
        rendered.append(part)
    return "".join(rendered)


def anchors(text):
    """The anchors GitHub gives a text's headings: lower case, punctuation
    dropped, spaces turned into hyphens, and -1, -2, ... after repeats."""
    masked, headings = prose(text)
    found, seen = set(), {}
    for _, heading in headings:
        slug = re.sub(r"[^\w\- ]", "", slug_text(heading).strip().lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        found.add(slug if count == 0 else f"{slug}-{count}")
    found.update(HTML_ANCHOR.findall(masked))
    return found


def links(text):
    """(line number, target) of every link and image in the text's prose."""
    masked, _ = prose(text)
    result = []
    for pattern in (INLINE_LINK, REFERENCE, HTML_TARGET):
        for match in pattern.finditer(masked):
            target = match.group(1)
            if target.startswith("<") and target.endswith(">"):
                target = target[1:-1]
            result.append((masked.count("\n", 0, match.start()) + 1, target))
    return sorted(result)


def texts_in(root):
    names = [root / f"{stem}{suffix}" for stem in ("README", "CONTRIBUTING") for suffix in sorted(TEXT_SUFFIXES)]
    guides = sorted(path for path in (root / "doc").glob("*") if path.suffix in TEXT_SUFFIXES)
    return [path for path in names if path.is_file()] + guides


def check(root):
    """Messages for each link under root that does not resolve, and the
    number of links checked."""
    problems, checked, cache = [], 0, {}

    def anchors_of(path):
        if path not in cache:
            cache[path] = anchors(path.read_text(encoding="utf-8-sig"))
        return cache[path]

    for source in texts_in(root):
        where = source.relative_to(root)
        for line, target in links(source.read_text(encoding="utf-8-sig")):
            if SCHEME.match(target):
                continue
            checked += 1
            address, _, anchor = target.partition("#")
            address = unquote(address.split("?")[0])
            if address:
                base = root if address.startswith("/") else source.parent
                resolved = (base / address.lstrip("/")).resolve()
            else:
                resolved = source.resolve()
            problem = None
            if root.resolve() not in (resolved, *resolved.parents):
                problem = "leads outside " + str(root)
            elif not resolved.exists():
                problem = "no such file"
            elif anchor:
                if resolved.suffix not in TEXT_SUFFIXES or not resolved.is_file():
                    problem = "an anchor into a file that has no headings"
                elif unquote(anchor) not in anchors_of(resolved):
                    problem = f"no heading with the anchor #{anchor} in {resolved.name}"
            if problem:
                problems.append(f"{where}:{line}: link to {target}: {problem}")
    return problems, checked


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    problems, checked, files = [], 0, 0
    for name in argv[1:]:
        root = Path(name)
        if not any(path.stem == "README" for path in texts_in(root)):
            print(f"{name}: no README.md or README.txt here", file=sys.stderr)
            return 2
        found, count = check(root)
        problems += [f"{name}/{problem}" for problem in found]
        checked += count
        files += len(texts_in(root))
    for problem in problems:
        print(problem)
    print(f"{checked} links in {files} texts, {len(problems)} broken")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

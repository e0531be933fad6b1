"""Every link between the project's pages leads somewhere.

    docs_links_test.py SOURCE_ROOT [unittest options]

Reads README.md, CONTRIBUTING.md and docs/*.md. Each link to another file
of the project must name a file that exists, and each #anchor a heading of
the page it points into (as the usual Markdown renderers make anchors:
lower case, punctuation dropped, blanks turned into hyphens). Links to
other sites and text inside code blocks are not looked at.
"""

import glob
import os
import re
import sys
import unittest

SOURCE_ROOT = ""
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")


def pages(root):
    found = [os.path.join(root, "README.md"), os.path.join(root, "CONTRIBUTING.md")]
    return found + sorted(glob.glob(os.path.join(root, "docs", "*.md")))


def outside_code(text):
    """The lines of text that are not inside a fenced code block."""
    kept, fenced = [], False
    for line in text.split("\n"):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced:
            kept.append(line)
    return kept


def anchor_of(heading):
    words = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return words.replace(" ", "-")


def anchors(path):
    with open(path, encoding="utf-8") as page:
        return {anchor_of(line.lstrip("#")) for line in outside_code(page.read())
                if line.startswith("#")}


def broken_links(root):
    problems = []
    for page in pages(root):
        with open(page, encoding="utf-8") as f:
            lines = outside_code(f.read())
        for line in lines:
            for target in LINK.findall(line):
                if re.match(r"[a-z]+:", target):
                    continue  # another site
                path, _, anchor = target.partition("#")
                full = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
                where = os.path.relpath(page, root)
                if not os.path.exists(full):
                    problems.append(f"{where}: {target} leads to no file")
                elif anchor and full.endswith(".md") and anchor not in anchors(full):
                    problems.append(f"{where}: {target} names no heading there")
    return problems


class LinksLeadSomewhereTest(unittest.TestCase):
    def test_every_link_between_the_pages_works(self):
        self.assertEqual(broken_links(SOURCE_ROOT), [])

    def test_anchors_are_made_as_renderers_make_them(self):
        self.assertEqual(anchor_of(" Files already there"), "files-already-there")
        self.assertEqual(anchor_of("Pipelines, threads and many files"),
                         "pipelines-threads-and-many-files")


if __name__ == "__main__":
    SOURCE_ROOT = sys.argv.pop(1)
    unittest.main()

"""Keeps the manual pages and the README in step with the programs.

    man_pages_test.py SOURCE_ROOT PROGRAMS [unittest options]

PROGRAMS are the programs' names separated by ";", as the top-level
CMakeLists.txt lists them, the first the one whose page the others' pages
lead to.

Every message the programs print and every exit status they use is read
from the sources themselves (the message table in system/messages.cpp, the
only source that writes to stderr, and the constants of system/status.h) and looked for in the
DIAGNOSTICS and EXIT STATUS sections of the manual page, the reference for
them, and every status in the README's one table; entries there that the
code no longer has fail too. The pages must also render without a warning.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE_ROOT = ""
PROGRAMS = []
SOURCE_DIRS = ("bitmap", "system", "driver", "convert", "programs")

STRING_LITERALS = r'((?:"(?:[^"\\]|\\.)*"\s*)+)'
MESSAGE_ENTRY = re.compile(r"\{\s*message_id::\w+\s*,\s*" + STRING_LITERALS + r"\}")
MESSAGES_SOURCE = os.path.join("system", "messages.cpp")
CONVERSION = re.compile(r"%[sdu]")
STATUS_CONSTANT = re.compile(r"constexpr\s+int\s+(\w+)\s*=\s*(-?\d+)\s*;")


def decode_literals(text):
    """The value of adjacent C string literals (only the escapes used)."""
    pieces = re.findall(r'"((?:[^"\\]|\\.)*)"', text)
    joined = "".join(pieces)
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)),
                  joined)


TOKENS_WITH_COMMENTS = re.compile(r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|//[^\n]*|/\*.*?\*/',
                                  re.S)


def without_comments(text):
    """C++ source with its comments blanked out (strings left alone)."""
    return TOKENS_WITH_COMMENTS.sub(
        lambda m: " " if m.group(0).startswith("/") else m.group(0), text)


def source_files(root):
    for folder in SOURCE_DIRS:
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if name.endswith((".cpp", ".h")):
                    yield os.path.join(dirpath, name)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def program_messages(root):
    """(messages, problems): every text of the message table in
    system/messages.cpp, and a note for each other source that names stderr,
    since every message must go through that table."""
    table = without_comments(read(os.path.join(root, MESSAGES_SOURCE)))
    messages = {decode_literals(m.group(1)) for m in MESSAGE_ENTRY.finditer(table)}
    problems = []
    for path in source_files(root):
        relative = os.path.relpath(path, root)
        if relative != MESSAGES_SOURCE and re.search(r"\bstderr\b", without_comments(read(path))):
            problems.append(f"{relative}: writes to stderr outside {MESSAGES_SOURCE}")
    return messages, problems


def program_statuses(root):
    """Every exit status the programs can end with: the non-negative
    constants of system/status.h (the writer's -1 never reaches the exit)."""
    text = read(os.path.join(root, "system", "status.h"))
    return {int(value) for _, value in STATUS_CONSTANT.findall(text) if int(value) >= 0}


def message_pattern(message):
    """A regular expression for the text of one message as a reader sees it:
    the conversions (%s, %d, %u) stand for any placeholder text."""
    parts = CONVERSION.split(message.strip("\n"))
    return re.compile("^" + ".*?".join(re.escape(p) for p in parts) + "$")


# ---------------------------------------------------------------------------
# Reading the documents

def unroff(line):
    """The text of one roff source line as it prints, for the escapes the
    pages use."""
    if line.startswith("."):
        line = line.split(None, 1)[1] if " " in line else ""
        if line.startswith('"') and line.endswith('"'):
            line = line[1:-1]
    line = re.sub(r"\\f[BIRP]", "", line)
    line = line.replace("\\(aq", "'").replace("\\-", "-").replace("\\&", "")
    return line.replace("\\e", "\\")


def man_sections(text):
    sections = {}
    current = None
    for line in text.splitlines():
        if line.startswith(".SH "):
            current = line[4:].strip().strip('"')
            sections[current] = []
        elif current is not None:
            sections[current].append(line)
    return sections


def man_tags(lines):
    """The tag line of every .TP paragraph, as it prints."""
    return [unroff(lines[i + 1]) for i, line in enumerate(lines[:-1]) if line == ".TP"]


def readme_section(text, heading):
    match = re.search(r"^## " + re.escape(heading) + r"\n(.*?)(?=^## |\Z)", text,
                      re.M | re.S)
    return match.group(1) if match else ""


def readme_first_column(section):
    """The first cell of every body row of the section's table, backticks
    removed and the \\n escapes of the messages dropped."""
    cells = []
    for line in section.splitlines():
        if line.startswith("|") and not re.match(r"^\|\s*-", line):
            cells.append(line.split("|")[1].strip().strip("`").replace("\\n", ""))
    return cells[1:]  # the first row is the heading


def status_numbers(entries, where, problems):
    """The statuses that entries such as "4" or "11 to 15" stand for."""
    statuses = set()
    for entry in entries:
        span = re.fullmatch(r"(\d+)(?: to (\d+))?", entry)
        if span is None:
            problems.append(f"{where} has a status entry {entry!r} that is not a number")
            continue
        last = span.group(2) or span.group(1)
        statuses.update(range(int(span.group(1)), int(last) + 1))
    return statuses


def unmatched(messages, texts):
    """Messages that no text shows, and texts that show no message."""
    patterns = {m: message_pattern(m) for m in messages}
    missing = sorted(m for m, p in patterns.items() if not any(p.match(t) for t in texts))
    stale = sorted(t for t in texts if not any(p.match(t) for p in patterns.values()))
    return missing, stale


def check_documents(root):
    """Every disagreement between the code and the documents, as text."""
    problems = []
    messages, stray = program_messages(root)
    problems += stray
    statuses = program_statuses(root)
    if not messages or not statuses:
        problems.append("found no messages or no statuses in the sources")

    page = man_sections(read(os.path.join(root, "man", "man1", PROGRAMS[0] + ".1")))
    missing, stale = unmatched(messages, man_tags(page.get("DIAGNOSTICS", [])))
    problems += [f"manual page lacks message {m!r}" for m in missing]
    problems += [f"manual page shows message {t!r} that the programs lack" for t in stale]
    page_statuses = status_numbers(man_tags(page.get("EXIT STATUS", [])), "manual page",
                                   problems)
    problems += [f"manual page lacks status {s}" for s in sorted(statuses - page_statuses)]
    problems += [f"manual page shows status {s} that the programs lack"
                 for s in sorted(page_statuses - statuses)]

    readme = read(os.path.join(root, "README.md"))
    readme_status_set = status_numbers(
        readme_first_column(readme_section(readme, "Exit status")), "README", problems)
    problems += [f"README lacks status {s}" for s in sorted(statuses - readme_status_set)]
    problems += [f"README shows status {s} that the programs lack"
                 for s in sorted(readme_status_set - statuses)]
    return problems


class DocumentsMatchCodeTest(unittest.TestCase):
    def test_every_message_and_status_is_documented(self):
        self.assertEqual(check_documents(SOURCE_ROOT), [])

    def test_every_program_has_a_page_naming_it(self):
        for name in PROGRAMS:
            with self.subTest(program=name):
                page = os.path.join(SOURCE_ROOT, "man", "man1", name + ".1")
                name_section = man_sections(read(page)).get("NAME", [])
                listed = " ".join(name_section).split(" \\- ")[0]
                self.assertIn(name, [n.strip() for n in listed.split(",")])

    def test_a_new_message_or_status_is_caught(self):
        with tempfile.TemporaryDirectory() as tmp:
            for item in SOURCE_DIRS + ("man",):
                shutil.copytree(os.path.join(SOURCE_ROOT, item), os.path.join(tmp, item),
                                symlinks=True)
            shutil.copy(os.path.join(SOURCE_ROOT, "README.md"), tmp)
            self.assertEqual(check_documents(tmp), [])

            table = os.path.join(tmp, MESSAGES_SOURCE)
            text = read(table)
            end = text.index("};", text.index("message_texts[]"))
            with open(table, "w") as f:
                f.write(text[:end] + '    {message_id::too_colourful, "\'%s\' "\n'
                        '                                "too colourful.\\n"},\n' + text[end:])
            with open(os.path.join(tmp, "bitmap", "extra.cpp"), "w") as f:
                f.write('void f(const char* p) { std::fputs(p, stderr); }\n')
            with open(os.path.join(tmp, "system", "status.h"), "a") as f:
                f.write("constexpr int too_colourful = 16;\n")
            problems = check_documents(tmp)
            self.assertIn("manual page lacks message \"'%s' too colourful.\\n\"", problems)
            self.assertIn("manual page lacks status 16", problems)
            self.assertIn("README lacks status 16", problems)
            self.assertIn("bitmap/extra.cpp: writes to stderr outside system/messages.cpp", problems)


def numbered(labels):
    """"S1", "7" and ranges such as "3-6" or "S2-S4" as a set of labels."""
    found = set()
    for label in labels:
        prefix = "S" if label.startswith("S") else ""
        first, _, last = label.replace("S", "").partition("-")
        found |= {prefix + str(n) for n in range(int(first), int(last or first) + 1)}
    return found


def rule_numbers(root):
    """The rules' numbers as the page's tables, the rules' header and the rows
    of their unit test give them."""
    page = read(os.path.join(root, "docs", "files-and-names.md"))
    header = read(os.path.join(root, "system", "output_rules.h"))
    rows = read(os.path.join(root, "tests", "units", "output_rules_test.cpp"))
    return (numbered(re.findall(r"^\| (S?\d+) \|", page, re.M)),
            numbered(re.findall(r"^// *(S?\d+(?:-S?\d+)?)\. ", header, re.M)),
            numbered(re.findall(r'^ *\{"(S?\d+) ', rows, re.M)))


class RulesTableTest(unittest.TestCase):
    def test_page_code_and_rows_number_the_same_rules(self):
        page, header, rows = rule_numbers(SOURCE_ROOT)
        self.assertGreater(len(page), 20)
        self.assertEqual(header, page)
        self.assertEqual(rows, page)


class PagesRenderTest(unittest.TestCase):
    def pages(self):
        folder = os.path.join(SOURCE_ROOT, "man", "man1")
        return [os.path.join(folder, n) for n in sorted(os.listdir(folder))]

    def test_groff_finds_nothing_to_warn_about(self):
        if shutil.which("groff") is None:
            self.skipTest("groff is not installed")
        for page in self.pages():
            with self.subTest(page=page):
                run = subprocess.run(["groff", "-ww", "-z", "-man", page],
                                     capture_output=True, text=True)
                self.assertEqual((run.returncode, run.stderr), (0, ""))

    def test_man_renders_every_page_whole(self):
        if shutil.which("man") is None:
            self.skipTest("man is not installed")
        for page in self.pages():
            with self.subTest(page=page):
                run = subprocess.run(["man", "-l", page], capture_output=True, text=True,
                                     env=dict(os.environ, MANWIDTH="80", PAGER="cat"))
                self.assertEqual((run.returncode, run.stderr), (0, ""))
                self.assertIn("EXIT STATUS", run.stdout)
                self.assertIn("DIAGNOSTICS", run.stdout)
                self.assertIn(os.path.basename(page)[:-2], run.stdout)


def main():
    global SOURCE_ROOT, PROGRAMS
    if len(sys.argv) < 3:
        sys.exit(f"usage: {sys.argv[0]} SOURCE_ROOT PROGRAMS [unittest options]")
    SOURCE_ROOT = os.path.abspath(sys.argv[1])
    PROGRAMS = sys.argv[2].split(";")
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)


if __name__ == "__main__":
    main()

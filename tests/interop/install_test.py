"""Installs the build into a fresh prefix and checks what lands there.

    install_test.py CMAKE CPACK BUILD_DIR PROGRAMS [--emulator=COMMAND] [unittest options]

PROGRAMS are the installed programs' names separated by ";", the first the
one the manual page's file is named after.
"""

import gzip
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

CMAKE = ""
CPACK = ""
BUILD_DIR = ""

PROGRAMS = []
EMULATOR = []  # the command that runs programs built for another processor
DOC_DIR = "share/doc/colour-converters"
# This file is tests/interop/install_test.py: the source root is three levels up.
SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def read_source(name):
    with open(os.path.join(SOURCE_ROOT, name), encoding="utf-8") as f:
        return f.read()


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.prefix = os.path.join(cls.tmp.name, "prefix")
        cls.run_install = subprocess.run(
            [CMAKE, "--install", BUILD_DIR, "--prefix", cls.prefix],
            capture_output=True, text=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def installed_files(self):
        found = []
        for dirpath, _, names in os.walk(self.prefix):
            for name in names:
                found.append(os.path.relpath(os.path.join(dirpath, name), self.prefix))
        return sorted(found)

    def test_programs_pages_and_licence_and_nothing_else(self):
        self.assertEqual(self.run_install.returncode, 0, self.run_install.stderr)
        expected = sorted([f"bin/{p}" for p in PROGRAMS] +
                          [f"share/man/man1/{p}.1.gz" for p in PROGRAMS] +
                          [f"{DOC_DIR}/copyright", f"{DOC_DIR}/changelog.Debian.gz"])
        self.assertEqual(self.installed_files(), expected)

    def test_page_is_the_source_page_compressed_without_name_or_time(self):
        path = os.path.join(self.prefix, "share", "man", "man1", f"{PROGRAMS[0]}.1.gz")
        with open(path, "rb") as f:
            header = f.read(10)
        # gzip -n: no file name flag (byte 3) and a zero time stamp (4..7).
        self.assertEqual((header[3] & 0x08, header[4:8]), (0, b"\0\0\0\0"))
        with gzip.open(path, "rt", encoding="utf-8") as f:
            self.assertEqual(f.read(), read_source(f"man/man1/{PROGRAMS[0]}.1"))

    def test_copyright_carries_the_licence_in_debian_format(self):
        with open(os.path.join(self.prefix, DOC_DIR, "copyright"), encoding="utf-8") as f:
            copyright_file = f.read()
        self.assertTrue(copyright_file.startswith("Format: https://www.debian.org/doc/"
                                                  "packaging-manuals/copyright-format/1.0/\n"))
        body = copyright_file.split("\nLicense: Expat\n", 1)[1]
        unfolded = "\n".join("" if line == " ." else line[1:] for line in body.splitlines())
        self.assertEqual(unfolded, read_source("LICENSE").strip())

    def test_installed_programs_run(self):
        for name in PROGRAMS:
            with self.subTest(program=name):
                path = os.path.join(self.prefix, "bin", name)
                run = subprocess.run([*EMULATOR, path, "-h"], capture_output=True, text=True)
                self.assertEqual((run.returncode, run.stdout, run.stderr),
                                 (1, "", f"\nusage: {name}  [input_bmp [output_bmp]]\n\n"))

    def test_installed_programs_are_hardened(self):
        """As Debian builds its packages: a position-independent program, its
        relocations resolved at start and then read-only, its stack and its
        string and memory calls checked."""
        if shutil.which("readelf") is None:
            self.skipTest("readelf is not installed")
        for name in PROGRAMS:
            with self.subTest(program=name):
                path = os.path.join(self.prefix, "bin", name)
                def readelf(*options):
                    return subprocess.run(["readelf", "-W", *options, path], capture_output=True,
                                          text=True, check=True).stdout
                segments, dynamic, symbols = readelf("-l"), readelf("-d"), readelf("--dyn-syms")
                self.assertIn("Position-Independent Executable", segments)
                self.assertIn("GNU_RELRO", segments)
                self.assertRegex(dynamic, r"\(FLAGS\).*BIND_NOW")
                self.assertIn("__stack_chk_fail", symbols)
                self.assertRegex(symbols, r"__(memcpy|memmove|memset|snprintf)_chk")

    def test_man_finds_every_page_by_name(self):
        if shutil.which("man") is None:
            self.skipTest("man is not installed")
        for name in PROGRAMS:
            with self.subTest(program=name):
                run = subprocess.run(
                    ["man", "-M", os.path.join(self.prefix, "share", "man"), "1", name],
                    capture_output=True, text=True,
                    env=dict(os.environ, MANWIDTH="80", PAGER="cat", MANPAGER="cat"))
                self.assertEqual((run.returncode, run.stderr), (0, ""))
                self.assertIn("EXIT STATUS", run.stdout)
                self.assertIn(name, run.stdout.split("SYNOPSIS")[1])


def debian_architecture(program):
    """Debian's name for the architecture an ELF program was built for."""
    with open(program, "rb") as f:
        header = f.read(52)
    is_64_bit = header[4] == 2
    byte_order = "little" if header[5] == 1 else "big"
    machine = int.from_bytes(header[18:20], byte_order)
    if machine == 40:  # ARM: the hard-float calling convention is flag 0x400
        flags = int.from_bytes(header[36:40], byte_order)
        return "armhf" if flags & 0x400 else "armel"
    names = {(62, True): "amd64", (183, True): "arm64", (22, True): "s390x", (3, False): "i386"}
    return names.get((machine, is_64_bit), f"machine {machine}")


class DebianPackageTest(unittest.TestCase):
    """The package is built and inspected, not installed: installing would
    change the machine the tests run on."""

    def test_package_holds_the_programs_and_pages_under_usr(self):
        if shutil.which("dpkg-deb") is None:
            self.skipTest("dpkg-deb is not installed")
        with tempfile.TemporaryDirectory() as out:
            run = subprocess.run([CPACK, "-G", "DEB", "-B", out,
                                  "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake")],
                                 capture_output=True, text=True, cwd=BUILD_DIR)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            debs = [n for n in os.listdir(out) if n.endswith(".deb")]
            self.assertEqual(len(debs), 1, os.listdir(out))
            deb = os.path.join(out, debs[0])

            fields = subprocess.run(["dpkg-deb", "--field", deb, "Package", "Version",
                                     "Depends", "Architecture"], capture_output=True, text=True,
                                    check=True)
            info = dict(line.split(": ", 1) for line in fields.stdout.splitlines())
            self.assertEqual(info["Package"], "colour-converters")
            self.assertTrue(info["Depends"].startswith("libc6"), info["Depends"])
            self.assertEqual(info["Architecture"],
                             debian_architecture(os.path.join(BUILD_DIR, "programs",
                                                              PROGRAMS[0])))

            # The changelog names the package's own version.
            unpacked = os.path.join(out, "unpacked")
            subprocess.run(["dpkg-deb", "--extract", deb, unpacked], check=True)
            with gzip.open(os.path.join(unpacked, "usr", DOC_DIR, "changelog.Debian.gz"),
                           "rt", encoding="utf-8") as f:
                first_line = f.readline()
            self.assertTrue(first_line.startswith(f"colour-converters ({info['Version']}) "),
                            first_line)

            listing = subprocess.run(["dpkg-deb", "--contents", deb], capture_output=True,
                                     text=True, check=True).stdout
            entries = {}
            for line in listing.splitlines():
                mode, _, _, _, _, path = line.split(None, 5)
                if not mode.startswith("d"):
                    entries[path] = mode
            expected = {f"./usr/bin/{p}": "-rwxr-xr-x" for p in PROGRAMS}
            page = f"{PROGRAMS[0]}.1.gz"
            expected[f"./usr/share/man/man1/{page}"] = "-rw-r--r--"
            for alias in PROGRAMS[1:]:
                expected[f"./usr/share/man/man1/{alias}.1.gz -> {page}"] = "lrwxrwxrwx"
            for name in ("copyright", "changelog.Debian.gz"):
                expected[f"./usr/{DOC_DIR}/{name}"] = "-rw-r--r--"
            self.assertEqual(entries, expected)


def main():
    global CMAKE, CPACK, BUILD_DIR, PROGRAMS, EMULATOR
    if len(sys.argv) < 5:
        sys.exit(f"usage: {sys.argv[0]} CMAKE CPACK BUILD_DIR PROGRAMS [unittest options]")
    CMAKE, CPACK, BUILD_DIR = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3])
    PROGRAMS = sys.argv[4].split(";")
    rest = sys.argv[5:]
    if rest and rest[0].startswith("--emulator="):
        EMULATOR = shlex.split(rest.pop(0).split("=", 1)[1])
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()

"""Installs the build into a fresh prefix and checks what lands there.

    install_test.py CMAKE CPACK BUILD_DIR [unittest options]
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

CMAKE = ""
CPACK = ""
BUILD_DIR = ""

PROGRAMS = ["morvane", "morvanex", "tesvar", "tesvarex"]


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

    def test_programs_and_pages_and_nothing_else(self):
        self.assertEqual(self.run_install.returncode, 0, self.run_install.stderr)
        expected = sorted([f"bin/{p}" for p in PROGRAMS] +
                          [f"share/man/man1/{p}.1" for p in PROGRAMS])
        self.assertEqual(self.installed_files(), expected)

    def test_installed_programs_run(self):
        for name in PROGRAMS:
            with self.subTest(program=name):
                path = os.path.join(self.prefix, "bin", name)
                run = subprocess.run([path, "-h"], capture_output=True, text=True)
                self.assertEqual((run.returncode, run.stdout, run.stderr),
                                 (1, "", f"\nusage: {name}  [input_bmp [output_bmp]]\n\n"))

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

            fields = subprocess.run(["dpkg-deb", "--field", deb, "Package", "Architecture",
                                     "Depends"], capture_output=True, text=True, check=True)
            info = dict(line.split(": ", 1) for line in fields.stdout.splitlines())
            self.assertEqual(info["Package"], "colour-converters")
            self.assertTrue(info["Depends"].startswith("libc6"), info["Depends"])

            listing = subprocess.run(["dpkg-deb", "--contents", deb], capture_output=True,
                                     text=True, check=True).stdout
            entries = {}
            for line in listing.splitlines():
                mode, _, _, _, _, path = line.split(None, 5)
                if not mode.startswith("d"):
                    entries[path.split(" -> ")[0]] = mode
            expected = {f"./usr/bin/{p}": "-rwxr-xr-x" for p in PROGRAMS}
            expected["./usr/share/man/man1/tesvar.1"] = "-rw-r--r--"
            for alias in ("morvane", "tesvarex", "morvanex"):
                expected[f"./usr/share/man/man1/{alias}.1"] = "lrwxrwxrwx"
            self.assertEqual(entries, expected)


def main():
    global CMAKE, CPACK, BUILD_DIR
    if len(sys.argv) < 4:
        sys.exit(f"usage: {sys.argv[0]} CMAKE CPACK BUILD_DIR [unittest options]")
    CMAKE, CPACK, BUILD_DIR = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3])
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)


if __name__ == "__main__":
    main()

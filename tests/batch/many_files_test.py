"""The recipes of docs/many-files.md, run as printed on a real batch.

    many_files_test.py BIN_DIR GROUP [SECONDS]

GROUP is "local" (the folder, job log, resume, halt and thread recipes) or
"ssh" (the recipes for several machines, against an OpenSSH server this
test starts on 127.0.0.1 for a throwaway user), to be done within SECONDS
(420 when not given). Each recipe is the fenced block after a
"<!-- recipe: NAME -->" line of the page, run with bash in a prepared
directory (the folder "photos", the programs on PATH, the "machines" file
and, for ssh, a client configuration named by PARALLEL_SSH), so that the
page and the test cannot drift apart.

The batch holds 200 small pictures of every depth and both row orders in a
folder tree (one folder name has a space) and three broken files. Every
output must equal, byte for byte, what a single run of the program makes of
that picture in a directory of its own; nothing else may appear (no
temporary file, no plane of another picture).

Status 77 (skipped) when GNU parallel is missing, and for "ssh" when an
ssh server cannot run here (not root, or no sshd, ssh, ssh-keygen, rsync
or useradd). The ssh group removes its user, server, keys and directory
also when it fails or is ended by SIGTERM or SIGINT.
"""

import collections
import ctypes
import os
import pwd
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

SKIP = 77
PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                    "many-files.md")
BIN_DIR = ""
PROGRAMS = ("tesvar", "morvane", "tesvarex", "morvanex")
PLANES = {"tesvarex": ("bmp_yuv_v.bmp", "bmp_yuv_u.bmp", "bmp_yuv_y.bmp"),
          "morvanex": ("bmp_hsv_h.bmp", "bmp_hsv_s.bmp", "bmp_hsv_v.bmp")}
DEADLINE = 0.0  # time.monotonic() by which the whole group must be done
SCRATCH = ""
SSH = None  # the server of the ssh group


def remaining():
    left = DEADLINE - time.monotonic()
    if left <= 0:
        raise TimeoutError("the test ran past its deadline")
    return left


# -- The page -----------------------------------------------------------------

def page_blocks(text):
    """{(kind, name): block text} for every marked fenced block."""
    marked = re.compile(r"^<!-- (recipe|file|output): ([\w-]+) -->\n```\w*\n(.*?)^```$",
                        re.M | re.S)
    return {(m.group(1), m.group(2)): m.group(3) for m in marked.finditer(text)}


with open(PAGE, encoding="utf-8") as page_file:
    BLOCKS = page_blocks(page_file.read())


def recipe(name):
    return BLOCKS[("recipe", name)]


# -- The batch ----------------------------------------------------------------

def bitmap(width, height, bits, top_down, seed):
    """An uncompressed BMP with the 40-byte header; every picture's pixels
    and palette differ with seed."""
    row_bytes = (width * bits + 31) // 32 * 4
    palette = b""
    if bits == 1:
        palette = bytes([seed % 256, 40, 200, 0, 250, seed * 7 % 256, 10, 0])
    elif bits == 8:
        palette = b"".join(bytes([(i * 3 + seed) % 256, i * 5 % 256, 255 - i, 0])
                           for i in range(256))
    pixels = bytearray()
    for y in range(height):
        row = bytearray(row_bytes)
        for x in range(width):
            v = x * 37 + y * 11 + seed * 13
            if bits == 1:
                row[x // 8] |= (0x80 >> (x % 8)) if v & 1 else 0
            elif bits == 8:
                row[x] = v % 256
            else:
                at = x * bits // 8
                row[at:at + 3] = bytes([v % 256, v * 3 % 256, (v * 7 + y) % 256])
        pixels += row
    offset = 54 + len(palette)
    header = struct.pack("<2sIHHIIiiHHIIiiII", b"BM", offset + len(pixels), 0, 0, offset, 40,
                         width, -height if top_down else height, 1, bits, 0, len(pixels),
                         2835, 2835, 0, 0)
    return header + palette + bytes(pixels)


FOLDERS = ("photos/2022", "photos/2023/march", "photos/2024/day trip", "photos/2025/scans")

# The broken files and the status the README's table gives each: 4, rows
# cut short; 13, 54 bytes or fewer; 2, not a bitmap.
BROKEN = {
    "photos/2023/march/cut.bmp": (bitmap(20, 10, 24, False, 1)[:154], 4),
    "photos/2023/march/short.bmp": (b"BM" + bytes(38), 13),
    "photos/2024/day trip/notes.bmp": (b"Shopping list: milk, bread, 200 photos.\n" * 3, 2),
}


def good_pictures():
    """{relative path: bytes}: 200 pictures, 1, 8, 24 and 32 bits, both row
    orders, 50 in each folder."""
    pictures = {}
    for i in range(200):
        bits = (1, 8, 24, 32)[i % 4]
        name = f"{FOLDERS[i // 50]}/p{i:03d}.bmp"
        pictures[name] = bitmap(1 + i % 17, 1 + i % 9, bits, i % 8 >= 4, i)
    return pictures


GOOD = good_pictures()


def write_tree(root, files):
    for name, data in files.items():
        os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)


def read_tree(root, leave_out=()):
    """{relative path: bytes} of every file under root."""
    found = {}
    for dirpath, _, names in os.walk(root):
        for name in names:
            path = os.path.join(dirpath, name)
            relative = os.path.relpath(path, root)
            if relative not in leave_out:
                with open(path, "rb") as f:
                    found[relative] = f.read()
    return found


SINGLE_RUNS = {}


def single(program, picture):
    """What one run of a program writes for a picture, alone in a directory
    of its own: {"out.bmp": result, plane name: plane}."""
    if (program, picture) not in SINGLE_RUNS:
        work = tempfile.mkdtemp(dir=SCRATCH)
        with open(os.path.join(work, "in.bmp"), "wb") as f:
            f.write(picture)
        run = subprocess.run([os.path.join(BIN_DIR, program), "in.bmp", "out.bmp"],
                             cwd=work, capture_output=True, timeout=remaining())
        assert (run.returncode, run.stderr) == (0, b""), (program, run)
        SINGLE_RUNS[program, picture] = read_tree(work, leave_out=("in.bmp",))
        shutil.rmtree(work)
    return SINGLE_RUNS[program, picture]


def beside(program, pictures, suffix, prefix=""):
    """Expected outputs: each result as PREFIX NAME_SUFFIX.bmp."""
    return {prefix + name[:-4] + suffix + ".bmp": single(program, data)["out.bmp"]
            for name, data in pictures.items()}


def in_directories(program, pictures, prefix, suffix, result):
    """Expected outputs: PREFIX NAME_SUFFIX/ holding RESULT and the planes."""
    expected = {}
    for name, data in pictures.items():
        directory = prefix + name[:-4] + suffix + "/"
        files = single(program, data)
        expected[directory + result] = files["out.bmp"]
        for plane in PLANES[program]:
            expected[directory + plane] = files[plane]
    return expected


# -- Running recipes ----------------------------------------------------------

def start_recipes(names, cwd, env):
    """The named blocks, one after another in one bash, as a user pastes them
    into one terminal; in a process group of its own."""
    script = "\n".join(recipe(name) for name in names)
    process = subprocess.Popen(["/bin/bash", "-c", script], cwd=cwd, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
    return process


def finish(process):
    try:
        out, err = process.communicate(timeout=remaining())
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        raise
    return process.returncode, (out or b"").decode(), err.decode()


def run_recipes(names, cwd, env):
    return finish(start_recipes(names, cwd, env))


def job_log(path):
    """[(seq, host, exit value, signal)] of a GNU parallel job log."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    assert lines[0].startswith("Seq\tHost"), lines[:1]
    fields = [line.split("\t") for line in lines[1:]]
    return [(int(f[0]), f[1], int(f[6]), int(f[7])) for f in fields]


def jobs_logged(path):
    """The number of jobs in a job log being written."""
    with open(path, "rb") as f:
        return max(0, f.read().count(b"\n") - 1)


class Batch(unittest.TestCase):
    """A fresh copy of the batch for each recipe, with a wrapper ahead of
    each program on PATH that notes which picture it was started for."""

    replaced = {}  # good pictures added to the batch or put over broken ones

    def setUp(self):
        self.work = tempfile.mkdtemp(dir=SCRATCH)
        write_tree(self.work, self.inputs())
        wrappers = os.path.join(self.work, "..", "bin-" + os.path.basename(self.work))
        os.makedirs(wrappers)
        for program in PROGRAMS:
            path = os.path.join(wrappers, program)
            with open(path, "w", encoding="utf-8") as f:
                f.write('#!/bin/sh\ncase $1 in /*) p=$1 ;; *) p=$PWD/$1 ;; esac\n'
                        'printf "%s\\n" "$p" >> "$BATCH_TEST_STARTS"\n'
                        f'exec "{os.path.join(BIN_DIR, program)}" "$@"\n')
            os.chmod(path, 0o755)
        self.starts = os.path.join(wrappers, "starts")
        home = os.path.join(wrappers, "home")  # GNU parallel's ~/.parallel goes here
        os.makedirs(home)
        self.env = {"PATH": wrappers + ":/usr/bin:/bin", "HOME": home, "LC_ALL": "C.UTF-8",
                    "BATCH_TEST_STARTS": self.starts}
        if SSH:
            self.env["PARALLEL_SSH"] = SSH.ssh_command

    def good(self):
        return dict(GOOD, **self.replaced)

    def broken(self):
        """{name: documented status} of the broken files still there."""
        return {name: status for name, (_, status) in BROKEN.items()
                if name not in self.replaced}

    def inputs(self):
        return dict({name: data for name, (data, _) in BROKEN.items()}, **self.good())

    def started(self):
        """How many times each picture was started since the last call."""
        if not os.path.exists(self.starts):
            return collections.Counter()
        with open(self.starts, encoding="utf-8") as f:
            names = f.read().splitlines()
        os.remove(self.starts)
        return collections.Counter(os.path.relpath(os.path.normpath(n), self.work)
                                   for n in names)

    def order(self):
        """The pictures in the order the recipes hand them to GNU parallel."""
        run = subprocess.run("find photos -name '*.bmp' -print0 | sort -z", shell=True,
                             cwd=self.work, env=self.env, capture_output=True, check=True)
        return run.stdout.decode().split("\0")[:-1]

    def assert_outputs(self, expected, leave_out=()):
        """The directory holds the inputs, unchanged, and exactly the
        expected outputs."""
        found = read_tree(self.work, leave_out)
        want = dict(self.inputs(), **expected)
        self.assertEqual(sorted(set(found) - set(want)), [], "files nobody asked for")
        self.assertEqual(sorted(set(want) - set(found)), [], "files missing")
        wrong = sorted(name for name in want if found[name] != want[name])
        self.assertEqual(wrong, [], "files whose bytes differ from a single run's")

    def assert_statuses(self, log, expected_count=None):
        """Each picture of the log has its documented status."""
        order = self.order()
        broken = self.broken()
        for seq, _, status, sig in log:
            name = order[seq - 1]
            self.assertEqual((status, sig), (broken.get(name, 0), 0), name)
        if expected_count is not None:
            self.assertEqual(sorted(seq for seq, *_ in log), list(range(1, expected_count + 1)))


# -- On this machine ----------------------------------------------------------

class FolderRecipes(Batch):
    def test_every_folder_recipe(self):
        good = self.good()
        cases = [  # recipe, its status, the outputs
            ("xargs-beside", 123, beside("tesvar", good, "_yuv")),
            ("xargs-planes", 123, in_directories("tesvarex", good, "", "_yuv", "yuv.bmp")),
            ("parallel-mirror", len(BROKEN), beside("morvane", good, "_hsv", "results/")),
            ("parallel-planes", len(BROKEN),
             in_directories("morvanex", good, "results/", "_hsv", "hsv.bmp")),
        ]
        for name, status, expected in cases:
            with self.subTest(recipe=name):
                self.setUp()
                code, _, err = run_recipes([name], self.work, self.env)
                self.assertEqual(code, status, err)
                self.assert_outputs(expected)
                self.assertEqual(self.started(), collections.Counter(list(self.inputs())))

    def test_big_pictures_alone_after_the_others(self):
        self.replaced = {"photos/2025/scans/wide.bmp": bitmap(3000, 2400, 24, False, 7)}
        self.setUp()  # 21.6 MB, over 20 MiB, among the small ones
        code, _, err = run_recipes(["big-alone"], self.work, self.env)
        self.assertEqual(code, 0, err)  # the second command's: the big one alone
        self.assert_outputs(beside("morvane", self.good(), "_hsv", "results/"))
        self.assertEqual(self.started(), collections.Counter(list(self.inputs())))


LOGS = ("batch.log", "errors.txt")


class JobLogRecipes(Batch):
    def test_failures_are_listed_and_rerun_once_fixed(self):
        code, _, err = run_recipes(["convert-one", "joblog"], self.work, self.env)
        self.assertEqual(code, len(BROKEN), err)
        self.assert_outputs(beside("tesvar", self.good(), "_yuv", "results/"), LOGS)
        self.assert_statuses(job_log(os.path.join(self.work, "batch.log")), len(self.inputs()))
        self.assertEqual(self.started(), collections.Counter(list(self.inputs())))

        code, listing, err = run_recipes(["convert-one", "failed"], self.work, self.env)
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(sorted(line.split("\t")[:2] for line in listing.splitlines()),
                         sorted([name, str(status)] for name, status in self.broken().items()))
        shown = BLOCKS[("output", "failed")]  # what the page says it prints
        self.assertEqual(sorted(line.rstrip("\t") for line in listing.splitlines()),
                         sorted(shown.splitlines()))

        log_before = job_log(os.path.join(self.work, "batch.log"))
        self.replaced = {name: bitmap(4, 3, 24, False, 99 + i) for i, name in enumerate(BROKEN)}
        write_tree(self.work, self.replaced)
        code, _, err = run_recipes(["convert-one", "resume-failed"], self.work, self.env)
        self.assertEqual(code, 0, err)
        rerun = job_log(os.path.join(self.work, "batch.log"))[len(log_before):]
        order = self.order()
        self.assertEqual(sorted(order[seq - 1] for seq, *_ in rerun), sorted(BROKEN))
        self.assert_statuses(rerun)
        self.assertEqual(self.started(), collections.Counter(list(BROKEN)))
        self.assert_outputs(beside("tesvar", self.good(), "_yuv", "results/"), LOGS)

    def test_an_interrupted_batch_resumes_without_converting_twice(self):
        count = len(self.inputs())
        log = os.path.join(self.work, "batch.log")
        batch = start_recipes(["convert-one", "joblog"], self.work, self.env)
        while batch.poll() is None and remaining():
            if os.path.exists(log) and jobs_logged(log) >= count // 2:
                os.killpg(batch.pid, signal.SIGINT)  # as Ctrl-C in a terminal
                break
            time.sleep(0.005)
        code, _, err = finish(batch)
        # A job that GNU parallel started in the instant of the interrupt
        # may run on after it; this process adopted it (a subreaper).
        wait_for_orphans()
        first = job_log(log)
        self.assertLess(len(first), count, "the batch ended before it was interrupted")
        self.assertNotEqual(code, 0)

        # What is there is whole: no result cut short, no temporary file.
        expected = beside("tesvar", self.good(), "_yuv", "results/")
        converted = {name for name in GOOD
                     if os.path.exists(os.path.join(self.work, "results", name[:-4] + "_yuv.bmp"))}
        self.assert_outputs({k: v for k, v in expected.items()
                             if os.path.exists(os.path.join(self.work, k))}, LOGS)
        self.assertEqual(set(self.started().values()), {1})

        code, _, err = run_recipes(["convert-one", "resume"], self.work, self.env)
        order = self.order()
        logged = {order[seq - 1] for seq, *_ in first}
        self.assertEqual(code, len(set(BROKEN) - logged), err)
        self.assert_outputs(expected, LOGS)
        # Started again: each picture with no result yet, once, and the
        # broken ones that the interrupted run had not logged; none of the
        # pictures converted before.
        self.assertEqual(self.started(),
                         collections.Counter((set(GOOD) - converted) | (set(BROKEN) - logged)))
        both = job_log(log)
        self.assertEqual(sorted(seq for seq, *_ in both), list(range(1, count + 1)))
        self.assert_statuses(both)

    def test_halt_stops_at_the_first_failure(self):
        code, _, err = run_recipes(["convert-one", "halt"], self.work, self.env)
        log = job_log(os.path.join(self.work, "batch.log"))
        order = self.order()
        failed = [(order[seq - 1], status) for seq, _, status, _ in log if status]
        self.assertEqual(len(failed), 1, log)
        name, status = failed[0]
        self.assertEqual((code, status), (BROKEN[name][1],) * 2, err)
        # Nothing started after the failure but the jobs already running.
        self.assertLess(max(seq for seq, *_ in log), order.index(name) + 1 + 4)
        self.assert_statuses(log)
        self.assertEqual(set(self.started()), {order[seq - 1] for seq, *_ in log})


# -- Over ssh -----------------------------------------------------------------

def why_no_ssh_server():
    if os.geteuid() != 0:
        return "not root: starting sshd and adding a user need root"
    for tool in ("/usr/sbin/sshd", "ssh", "ssh-keygen", "rsync", "useradd", "userdel"):
        if not shutil.which(tool):
            return f"{tool} is not installed"
    return None


def set_child_subreaper():
    """Orphaned descendants (an sshd session, an ssh master) become this
    process's children, so that nothing outlives the test unreaped."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER


def end_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGTERM, 0, 0, 0)  # PR_SET_PDEATHSIG


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SshServer:
    """sshd on 127.0.0.1 for a throwaway user whose home holds the
    programs; every step is undone by close(), whatever got done."""

    def __init__(self, root):
        self.root = root
        self.user = f"mfbatch{os.getpid()}"
        self.home = os.path.join(root, "remote-home")
        self.user_made = self.made_run_sshd = False
        self.sshd = None
        self.aliases = BLOCKS[("file", "machines")].split()

    def start(self):
        r = self.root
        try:
            pwd.getpwnam(self.user)
            raise RuntimeError(f"user {self.user} already exists")
        except KeyError:
            pass
        os.makedirs(os.path.join(r, "skel"))
        self.user_made = True  # from here on, userdel is tried
        subprocess.run(["useradd", "--create-home", "--home-dir", self.home, "--skel",
                        os.path.join(r, "skel"), "--shell", "/bin/bash", "--user-group",
                        "--password", "*", self.user], check=True, timeout=60)
        for key in ("host_key", "user_key"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", key, "-f",
                            os.path.join(r, key)], check=True, timeout=60)
        # The programs in the remote home's bin, on the PATH of commands run
        # through ssh as the page says.
        os.makedirs(os.path.join(self.home, ".ssh"), mode=0o700)
        shutil.copy(os.path.join(r, "user_key.pub"),
                    os.path.join(self.home, ".ssh", "authorized_keys"))
        os.makedirs(os.path.join(self.home, "bin"))
        for program in PROGRAMS:
            shutil.copy(os.path.join(BIN_DIR, program), os.path.join(self.home, "bin"))
        with open(os.path.join(self.home, ".bashrc"), "w", encoding="utf-8") as f:
            f.write('PATH="$HOME/bin:$PATH"\n')
        account = pwd.getpwnam(self.user)
        for dirpath, dirs, files in os.walk(self.home):
            for name in [dirpath] + [os.path.join(dirpath, n) for n in dirs + files]:
                os.chown(name, account.pw_uid, account.pw_gid)
        if not os.path.isdir("/run/sshd"):
            os.makedirs("/run/sshd", mode=0o755)
            self.made_run_sshd = True
        for _ in range(3):  # another program may take the free port first
            self.port = free_port()
            if self.start_sshd():
                break
        else:
            raise RuntimeError("sshd did not start: " + self.log())
        self.write_client_config()

    def start_sshd(self):
        r = self.root
        config = os.path.join(r, "sshd_config")
        with open(config, "w", encoding="utf-8") as f:
            f.write(f"""ListenAddress 127.0.0.1
Port {self.port}
HostKey {r}/host_key
PidFile {r}/sshd.pid
UsePAM no
AuthenticationMethods publickey
PasswordAuthentication no
KbdInteractiveAuthentication no
AuthorizedKeysFile .ssh/authorized_keys
AllowUsers {self.user}
PermitRootLogin no
X11Forwarding no
PrintMotd no
PrintLastLog no
MaxStartups 100
""")
        subprocess.run(["/usr/sbin/sshd", "-t", "-f", config], check=True, timeout=60)
        with open(os.path.join(r, "sshd.log"), "wb") as log:
            # The server ends with this process even if it is killed.
            self.sshd = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", config],
                                         stdout=log, stderr=log, preexec_fn=end_with_parent)
        while self.sshd.poll() is None and "Server listening" not in self.log():
            time.sleep(0.02)
            remaining()
        if self.sshd.poll() is not None:
            self.sshd = None
            return False
        return True

    def log(self):
        with open(os.path.join(self.root, "sshd.log"), encoding="utf-8",
                  errors="replace") as f:
            return f.read()

    def write_client_config(self):
        r = self.root
        with open(os.path.join(r, "host_key.pub"), encoding="utf-8") as f:
            host_key = " ".join(f.read().split()[:2])
        with open(os.path.join(r, "known_hosts"), "w", encoding="utf-8") as f:
            f.write(f"[127.0.0.1]:{self.port} {host_key}\n")
        # Shared connections and a cheap key exchange keep the hundreds of
        # connections of a batch quick on two busy cores.
        with open(os.path.join(r, "ssh_config"), "w", encoding="utf-8") as f:
            f.write(f"""Host {" ".join(self.aliases)}
  HostName 127.0.0.1
  Port {self.port}
  User {self.user}
  IdentityFile {r}/user_key
  IdentitiesOnly yes
  BatchMode yes
  StrictHostKeyChecking yes
  UserKnownHostsFile {r}/known_hosts
  GlobalKnownHostsFile /dev/null
  KexAlgorithms curve25519-sha256
  ControlMaster auto
  ControlPath {r}/cm-%C
  ControlPersist 60
  LogLevel ERROR
""")
        self.ssh_command = f"ssh -F {r}/ssh_config"

    def close(self):
        problems = []
        if self.sshd:
            for alias in self.aliases:
                subprocess.run(self.ssh_command.split() + ["-O", "exit", alias],
                               capture_output=True, timeout=30)
            self.sshd.terminate()
            try:
                self.sshd.wait(10)
            except subprocess.TimeoutExpired:
                self.sshd.kill()
                self.sshd.wait()
        end_descendants()  # the sessions and the jobs that ran on
        if self.user_made:
            deleted = subprocess.run(["userdel", "--remove", self.user], capture_output=True,
                                     timeout=60)
            if subprocess.run(["getent", "passwd", self.user],
                              capture_output=True).returncode == 0:
                problems.append(f"userdel: {deleted.stderr.decode()}")
        if self.made_run_sshd:
            try:
                os.rmdir("/run/sshd")
            except OSError as error:
                problems.append(f"/run/sshd: {error}")
        return problems


def wait_for_orphans():
    """Waits until every process this one adopted has ended."""
    deadline = time.monotonic() + 30
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            if time.monotonic() > deadline:
                raise TimeoutError("a job of the interrupted batch runs on")
            time.sleep(0.01)


def descendants():
    """Every process below this one, by process id."""
    parents = {}
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat", encoding="utf-8", errors="replace") as f:
                parents[int(entry)] = int(f.read().rsplit(")", 1)[1].split()[1])
        except (ValueError, OSError):
            pass
    found, frontier = set(), {os.getpid()}
    while frontier:
        frontier = {pid for pid, parent in parents.items() if parent in frontier} - found
        found |= frontier
    return found


def end_descendants():
    """Kills and reaps every process this test started, directly or not:
    GNU parallel's jobs live in process groups of their own, and whatever
    they leave running is adopted by this process (a subreaper)."""
    for _ in range(100):
        below = descendants()
        if not below:
            return
        for pid in below:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.05)
        while True:
            try:
                if os.waitpid(-1, os.WNOHANG)[0] == 0:
                    break
            except ChildProcessError:
                break


def remote_home():
    """The remote home's names, relative to it."""
    names = set()
    for dirpath, dirs, files in os.walk(SSH.home):
        for name in dirs + files:
            names.add(os.path.relpath(os.path.join(dirpath, name), SSH.home))
    return names


class SshRecipes(Batch):
    def setUp(self):
        super().setUp()
        with open(os.path.join(self.work, "machines"), "w", encoding="utf-8") as f:
            f.write(BLOCKS[("file", "machines")])
        self.home_before = remote_home()

    def test_each_machine_has_the_programs(self):
        code, out, err = run_recipes(["ssh-check"], self.work, self.env)
        self.assertEqual(code, 0, err)
        self.assertEqual(sorted(out.splitlines()),
                         sorted(f"{alias}\tusage: {p}  [input_bmp [output_bmp]]"
                                for alias in SSH.aliases for p in PROGRAMS))
        self.assertEqual(remote_home(), self.home_before)

    def test_the_batch_over_ssh(self):
        code, _, err = run_recipes(["ssh-batch"], self.work, self.env)
        self.assertEqual(code, len(BROKEN), err)
        self.assert_outputs(beside("tesvar", self.good(), "_yuv", "results/"),
                            ("remote.log", "machines"))
        log = job_log(os.path.join(self.work, "remote.log"))
        self.assert_statuses(log, len(self.inputs()))
        self.assertEqual({host for _, host, *_ in log}, set(SSH.aliases))
        self.assertEqual(remote_home(), self.home_before, "--cleanup left files there")

    def test_the_planes_come_back_over_ssh(self):
        code, _, err = run_recipes(["ssh-planes"], self.work, self.env)
        self.assertEqual(code, len(BROKEN), err)
        broken_dirs = {"results/" + n[:-4] + "_hsv" for n in BROKEN}
        expected = in_directories("morvanex", self.good(), "results/", "_hsv", "hsv.bmp")
        self.assert_outputs(expected, ("remote-planes.log", "machines"))
        for directory in broken_dirs:  # came back, empty
            self.assertEqual(os.listdir(os.path.join(self.work, directory)), [])
        self.assert_statuses(job_log(os.path.join(self.work, "remote-planes.log")),
                             len(self.inputs()))
        self.assertEqual(remote_home(), self.home_before, "--cleanup left files there")


# -- Main -----------------------------------------------------------------------

def end_on_sigterm(signum, frame):
    raise KeyboardInterrupt(f"signal {signum}")


def main():
    global BIN_DIR, DEADLINE, SCRATCH, SSH
    BIN_DIR, group = sys.argv[1], sys.argv[2]
    DEADLINE = time.monotonic() + (float(sys.argv[3]) if len(sys.argv) > 3 else 420)
    if not shutil.which("parallel"):
        print("skipped: GNU parallel is not installed")
        return SKIP
    if group == "ssh":
        reason = why_no_ssh_server()
        if reason:
            print(f"skipped: no ssh server can run here: {reason}")
            return SKIP
    signal.signal(signal.SIGTERM, end_on_sigterm)
    problems = []
    result = None
    SCRATCH = tempfile.mkdtemp(prefix="many_files_")
    try:
        os.chmod(SCRATCH, 0o755)  # the remote user's home lies below
        set_child_subreaper()
        if group == "ssh":
            SSH = SshServer(os.path.join(SCRATCH, "server"))
            os.makedirs(SSH.root)
            SSH.start()
            tests = unittest.defaultTestLoader.loadTestsFromTestCase(SshRecipes)
        else:
            tests = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(case)
                                       for case in (FolderRecipes, JobLogRecipes))
        result = unittest.TextTestRunner(verbosity=2).run(tests)
    finally:
        if SSH:
            problems += SSH.close()
        end_descendants()
        shutil.rmtree(SCRATCH, ignore_errors=True)
        for problem in problems:
            print("cleanup:", problem)
    return 0 if result.wasSuccessful() and not problems else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""What a picture from a pipe costs against the same picture from a file.

Three measurements, each of which --parts can pick:

  memory  peak RSS of a run fed through `cat FILE | PROGRAM /dev/stdin OUT`
          with the result (and the planes) written to files, on sparse
          inputs with valid headers: 30000 x 50000 at 24 bits (4.5 GB),
          2147483647 x 1 at 1 bit and 20000000 x 2 at 32 bits. The inputs
          take no room; the outputs (6 to 8.6 GB each, four times that with
          planes) go to --work when tmpfs has room for them and memory is
          free to hold them, else to --disk-work, and are removed right after
          each run. A run that fits nowhere is skipped with a message.
  cost    on a 6000 x 4000 photo-like 24-bit picture, `cat in.bmp | PROGRAM
          /dev/stdin out.bmp` against `PROGRAM in.bmp out.bmp`, paired and
          alternating after a warm-up round (the order flips every round).
          Each side runs as `sh -c` under bench/measure_run, which gives the
          wall time of the whole pipeline (or run), while a second
          measure_run inside gives the program's own CPU (user + sys, not
          cat's) and peak RSS. Reports medians with the 95th percentile
          beside, and the medians of the per-round pipe/file ratios. With
          --baseline BUILD_DIR that build's programs run in the same rounds.
  full    `/dev/full` as the only output of a piped run of the 4.5 GB
          picture: a small feeder here writes the file into the pipe and
          counts the bytes the program took from it (written, less what was
          still in the pipe when it ended), with the program's status.

    bench/pipe_benchmark.py BUILD_DIR [--baseline BUILD_DIR] [--pairs N]
        [--parts memory,cost,full] [--programs LIST] [--work DIR]
        [--disk-work DIR] [--run-timeout S]

BUILD_DIR is a build configured with -DCONVERTERS_BENCH=ON (its bench
directory gives measure_run and make_bench_image; --baseline needs only
programs/). Uses the Python standard library only.
"""
import argparse
import array
import collections
import fcntl
import os
import shlex
import signal
import statistics
import subprocess
import sys
import termios
import threading
import time

PROGRAMS = ["tesvar", "morvane", "tesvarex", "morvanex"]
Sparse = collections.namedtuple("Sparse", "name width height bits")
SPARSE = [Sparse("30000x50000-24", 30000, 50000, 24),
          Sparse("2147483647x1-1", 2147483647, 1, 1),
          Sparse("20000000x2-32", 20000000, 2, 32)]
PHOTO = (6000, 4000, 24)
Run = collections.namedtuple("Run", "cpu wall rss status")
PLANES = ["bmp_yuv_y.bmp", "bmp_yuv_u.bmp", "bmp_yuv_v.bmp",
          "bmp_hsv_h.bmp", "bmp_hsv_s.bmp", "bmp_hsv_v.bmp"]


def kill_group(leader):
    try:
        os.killpg(leader, signal.SIGKILL)
    except ProcessLookupError:
        pass


def parse_report(text, limit):
    """measure_run's "USER SYS WALL RSS_KIB STATUS" as a Run (a killed run: NaN, status 137)."""
    fields = text.split()
    if len(fields) != 5:
        return Run(float("nan"), float(limit), float("nan"), 128 + signal.SIGKILL)
    user, system, wall, rss_kib, status = fields
    return Run(float(user) + float(system), float(wall), int(rss_kib) / 1024.0, int(status))


def bounded(children, limit):
    """A started timer that kills every child's process group after limit seconds."""
    killer = threading.Timer(limit, lambda: [kill_group(c.pid) for c in children])
    killer.start()
    return killer


def stride_of(width, bits):
    return ((width * bits + 31) // 32) * 4


def result_bytes(width, height):
    return 54 + width * height * 4  # 32-bit rows need no padding


def write_header(f, width, height, bits, size):
    """A 40-byte info header, one plane, no compression; 1-bit gets a black and white palette."""
    palette = b"\0\0\0\0\xff\xff\xff\0" if bits == 1 else b""
    offset = 54 + len(palette)
    image_size = stride_of(width, bits) * height
    header = bytearray(54)
    header[0:2] = b"BM"
    if size < 1 << 32:  # larger sizes do not fit the field: left 0
        header[2:6] = size.to_bytes(4, "little")
    header[10:14] = offset.to_bytes(4, "little")
    header[14:18] = (40).to_bytes(4, "little")
    header[18:22] = width.to_bytes(4, "little")
    header[22:26] = height.to_bytes(4, "little", signed=True)
    header[26:28] = (1).to_bytes(2, "little")
    header[28:30] = bits.to_bytes(2, "little")
    if image_size < 1 << 32:
        header[34:38] = image_size.to_bytes(4, "little")
    f.write(bytes(header) + palette)
    return offset


def make_sparse(image, directory):
    """The header, then a hole up to the size: the pixels read as zeros and take no room."""
    path = os.path.join(directory, image.name + ".bmp")
    stride = stride_of(image.width, image.bits)
    size = 54 + (8 if image.bits == 1 else 0) + stride * image.height
    with open(path, "wb") as f:
        write_header(f, image.width, image.height, image.bits, size)
    os.truncate(path, size)
    return path


def free_bytes(directory):
    info = os.statvfs(directory)
    return info.f_bavail * info.f_frsize


def available_bytes():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return 0


def is_tmpfs(directory):
    with open("/proc/mounts") as mounts:
        entries = [line.split() for line in mounts]
    path = os.path.realpath(directory)
    best = max((e for e in entries if path == e[1] or path.startswith(e[1].rstrip("/") + "/")),
               key=lambda e: len(e[1]))
    return best[2] == "tmpfs"


def room_in(directory, needed):
    """A tenth to spare; on tmpfs the outputs are memory, so that must be free as well."""
    if free_bytes(directory) < needed * 1.1:
        return False
    return not is_tmpfs(directory) or available_bytes() > needed + (2 << 30)


def remove_outputs(directory, out):
    for path in [out] + [os.path.join(directory, n) for n in PLANES]:
        if os.path.exists(path):
            os.remove(path)


class Setup:
    def __init__(self, args):
        self.build = os.path.abspath(args.build_dir)
        self.baseline = os.path.abspath(args.baseline) if args.baseline else None
        self.launcher = os.path.join(self.build, "bench", "measure_run")
        self.maker = os.path.join(self.build, "bench", "make_bench_image")
        self.limit = args.run_timeout
        for tool in (self.launcher, self.maker):
            if not os.path.exists(tool):
                sys.exit("no %s: build with -DCONVERTERS_BENCH=ON" % tool)

    def program(self, build, name):
        return os.path.join(build, "programs", name)


def piped_run(setup, argv, source, cwd, limit):
    """`cat source | measure_run argv`; the program's own Run."""
    cat = subprocess.Popen(["cat", source], stdout=subprocess.PIPE, start_new_session=True)
    child = subprocess.Popen([setup.launcher] + argv, stdin=cat.stdout, stdout=subprocess.PIPE,
                             cwd=cwd, start_new_session=True)
    cat.stdout.close()  # the program holds the only reading end
    killer = bounded([cat, child], limit)
    try:
        report = child.communicate()[0]
        cat.wait()
    finally:
        killer.cancel()
    return parse_report(report, limit)


def measure_memory(setup, args, programs, directory):
    print("\nPeak RSS of piped runs (`cat FILE | PROGRAM /dev/stdin OUT`), outputs to files:\n")
    print("| input | program | output on | status | CPU s | wall s | peak RSS MiB |")
    print("|---|---|---|---|---|---|---|")
    worst = 0.0
    for image in SPARSE:
        source = make_sparse(image, directory)
        try:
            for name in programs:
                needed = result_bytes(image.width, image.height) * (4 if name.endswith("ex") else 1)
                target = next((d for d in (args.work, args.disk_work) if room_in(d, needed)), None)
                if target is None:
                    print("| %s | %s | skipped: no room for %.1f GB | | | | |"
                          % (image.name, name, needed / 1e9), flush=True)
                    continue
                out = os.path.join(target, "out-pipe-" + name + ".bmp")
                remove_outputs(target, out)
                try:
                    run = piped_run(setup, [setup.program(setup.build, name), "/dev/stdin", out],
                                    source, target, setup.limit * 10)
                    written = os.path.exists(out) and os.path.getsize(out) == \
                        result_bytes(image.width, image.height)
                finally:
                    remove_outputs(target, out)
                worst = max(worst, run.rss)
                print("| %s | %s | %s | %d%s | %.2f | %.2f | **%.1f** |"
                      % (image.name, name, target, run.status, "" if written else " (no result)",
                         run.cpu, run.wall, run.rss), flush=True)
        finally:
            os.remove(source)
    print("\nlargest peak RSS %.1f MiB (goal: at most 32)" % worst)


def shell_run(setup, script, report, cwd):
    """Runs script under sh through measure_run: (the whole's wall, the inner Run it reported)."""
    outer = subprocess.Popen([setup.launcher, "/bin/sh", "-c", script], cwd=cwd,
                             stdout=subprocess.PIPE, start_new_session=True)
    killer = bounded([outer], setup.limit)
    try:
        whole = parse_report(outer.communicate()[0], setup.limit)
    finally:
        killer.cancel()
    with open(report) as f:
        inner = parse_report(f.read(), setup.limit)
    os.remove(report)
    if whole.status != 0 or inner.status != 0:
        sys.exit("`%s` ended with status %d (program %d)" % (script, whole.status, inner.status))
    return whole.wall, inner


def p95(values):
    values = list(values)
    if len(values) < 2:
        return values[0]
    return statistics.quantiles(values, n=20, method="inclusive")[-1]


def measure_cost(setup, args, programs, directory):
    width, height, bits = PHOTO
    photo = os.path.join(directory, "%dx%d-%d.bmp" % PHOTO)
    if not os.path.exists(photo):
        subprocess.run([setup.maker, str(width), str(height), str(bits), photo], check=True,
                       timeout=600)
    builds = [("this", setup.build)] + ([("baseline", setup.baseline)] if setup.baseline else [])
    q = shlex.quote
    report = os.path.join(directory, "report.txt")
    # Every (build, program) pairs its pipe run with its file run; kinds: "pipe", "file".
    subjects = [(label, build, name) for name in programs for label, build in builds]
    results = {(s, kind): [] for s in subjects for kind in ("pipe", "file")}
    for round_number in range(args.pairs + 1):
        order = subjects if round_number % 2 == 0 else subjects[::-1]
        for subject in order:
            label, build, name = subject
            program = setup.program(build, name)
            out = os.path.join(directory, "out-%s-%s" % (label, name))
            scripts = {
                "pipe": "cat %s | %s %s /dev/stdin %s > %s"
                        % (q(photo), q(setup.launcher), q(program), q(out + "-pipe.bmp"), q(report)),
                "file": "%s %s %s %s > %s"
                        % (q(setup.launcher), q(program), q(photo), q(out + "-file.bmp"), q(report)),
            }
            kinds = ("pipe", "file") if round_number % 2 == 0 else ("file", "pipe")
            for kind in kinds:
                wall, inner = shell_run(setup, scripts[kind], report, directory)
                if round_number > 0:
                    results[(subject, kind)].append((inner.cpu, wall, inner.rss))
    print("\n%s, %d rounds after a warm-up round; pipe = `cat in.bmp | PROGRAM /dev/stdin "
          "out.bmp`, file = `PROGRAM in.bmp out.bmp`; CPU is the program's own, wall the whole "
          "pipeline's; medians (p95):\n" % (os.path.basename(photo), args.pairs))
    print("| build | program | pipe CPU s | file CPU s | CPU ratio | pipe wall s | file wall s "
          "| wall ratio | RSS MiB pipe / file |")
    print("|---|---|---|---|---|---|---|---|---|")
    for subject in subjects:
        pipe, file = results[(subject, "pipe")], results[(subject, "file")]

        def cell(runs, i):
            values = [r[i] for r in runs]
            return "%.3f (%.3f)" % (statistics.median(values), p95(values))

        def ratio(i):
            values = [p[i] / f[i] for p, f in zip(pipe, file)]
            return "**%.2f** (%.2f)" % (statistics.median(values), p95(values))

        print("| %s | %s | %s | %s | %s | %s | %s | %s | %.1f / %.1f |"
              % (subject[0], subject[2], cell(pipe, 0), cell(file, 0), ratio(0), cell(pipe, 1),
                 cell(file, 1), ratio(1), max(r[2] for r in pipe), max(r[2] for r in file)),
              flush=True)
    print("\ngoals for this build: CPU ratio at most 1.15, wall ratio at most 1.30")
    for name in os.listdir(directory):
        if name.startswith("out-") or name in PLANES:
            os.remove(os.path.join(directory, name))


def unread_bytes(descriptor):
    count = array.array("i", [0])
    fcntl.ioctl(descriptor, termios.FIONREAD, count)
    return count[0]


def fed_run(setup, argv, source, cwd):
    """Feeds source into argv's standard input; (bytes the program took, its Run)."""
    reading, writing = os.pipe()
    child = subprocess.Popen([setup.launcher] + argv, stdin=reading, stdout=subprocess.PIPE,
                             cwd=cwd, start_new_session=True)
    os.close(reading)
    killer = bounded([child], setup.limit * 10)
    fed = 0
    try:
        with open(source, "rb", buffering=0) as f:
            while True:
                block = f.read(1 << 16)
                if not block:
                    break
                view = memoryview(block)
                while view:
                    written = os.write(writing, view)
                    fed += written
                    view = view[written:]
    except BrokenPipeError:  # the program has ended
        pass
    finally:
        report = child.communicate()[0]
        killer.cancel()
        taken = fed - unread_bytes(writing)
        os.close(writing)
    return taken, parse_report(report, setup.limit * 10)


def measure_full(setup, programs, directory):
    image = SPARSE[0]
    source = make_sparse(image, directory)
    stride = stride_of(image.width, image.bits)
    print("\n`/dev/full` as the only output, %s (%.1f GB) fed through a pipe:\n"
          % (image.name, os.path.getsize(source) / 1e9))
    print("| program | status | bytes read | rows | wall s | peak RSS MiB |")
    print("|---|---|---|---|---|---|")
    try:
        for name in programs:
            if name.endswith("ex"):
                continue  # its planes would be outputs too
            taken, run = fed_run(setup, [setup.program(setup.build, name), "/dev/stdin",
                                         "/dev/full"], source, directory)
            print("| %s | %d | %d | %.1f | %.3f | %.1f |"
                  % (name, run.status, taken, (taken - 54) / stride, run.wall, run.rss),
                  flush=True)
    finally:
        os.remove(source)
    print("\none row is %d bytes, a band of 64 Ki pixels %d; goal: status 10, "
          "little more than the header and a band read" % (stride, 65536 * 3))


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--baseline", help="another build whose programs run in the same rounds")
    parser.add_argument("--pairs", type=int, default=11)
    parser.add_argument("--parts", default="memory,cost,full")
    parser.add_argument("--programs", default=",".join(PROGRAMS))
    parser.add_argument("--work", default="/dev/shm/converters-pipe")
    parser.add_argument("--disk-work", default="/var/tmp/converters-pipe",
                        help="for large outputs that do not fit --work")
    parser.add_argument("--run-timeout", type=float, default=120.0,
                        help="seconds before one run is killed (ten times that for the large)")
    return parser.parse_args()


def main():
    args = parse_args()
    setup = Setup(args)
    programs = args.programs.split(",")
    parts = args.parts.split(",")
    if set(programs) - set(PROGRAMS) or set(parts) - {"memory", "cost", "full"}:
        sys.exit("unknown programs or parts")
    for directory in (args.work, args.disk_work):
        os.makedirs(directory, exist_ok=True)
    start = time.time()
    print("load average %.2f at the start" % os.getloadavg()[0])
    if "memory" in parts:
        measure_memory(setup, args, programs, args.work)
    if "cost" in parts:
        measure_cost(setup, args, programs, args.work)
    if "full" in parts:
        measure_full(setup, programs, args.work)
    print("\nload average %.2f at the end, %.0f s" % (os.getloadavg()[0], time.time() - start))


if __name__ == "__main__":
    main()

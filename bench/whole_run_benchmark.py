#!/usr/bin/env python3
"""Whole-run timing of the four converters against the I/O floors.

Makes photo-like test images (6000 x 4000 at 24, 32 and 8 bits and top-down
at 24 bits, and 2000 x 1500 at 24 bits), then for every program and image
runs the program and its floor alternately, pair after pair, after one
warm-up pair. The floor is bench/band_floor, the floor of the design the
programs have: bands of 32 rows read with pread, expanded and written in
constant memory, with --planes for the programs that also write channel
planes. The programs take their threads as CONVERTERS_NUM_THREADS says
(every usable processor by default), and the floor runs on as many
(--threads, writing each band at its offset as the programs do); with one
thread it appends its bands.

Inputs and outputs live on tmpfs so that disk write-back stays out of the
figures. Reports, for the subject and its floor, the median and the 95th
percentile of CPU seconds (user + sys) and of wall seconds, the medians of
the per-pair CPU and wall ratios, and the largest peak RSS (ru_maxrss of the run, taken
by the small launcher bench/measure_run so that the harness's own memory is
not counted in it).
Where ImageMagick is installed, its YCbCr conversion of the large 24-bit
image is compared with the floor too, for context.

Options beyond the plain timing:
  --neighbour   a separate process keeps allocating, touching and freeing
                --neighbour-gib GiB (default 3) in 4 KiB pages while the runs
                go on, as a busy machine would; it is stopped at the end.
  --large       adds a 1 Mpx and a 400 Mpx (20000 x 20000, 1.2 GB) image
                with --large-pairs pairs, and a sparse 24-bit file over
                4 GiB (40000 x 36000, pixels all zero) run once each by tesvar,
                morvane and band_floor with /dev/null as output; then prints
                peak RSS at 1, 24, 400 Mpx and over 4 GiB and the CPU per
                pixel at 400 Mpx against 24 Mpx (flat means within 1.2).
                The large files go to --work, or when --work is not given to
                /dev/shm if it has room, else /var/tmp; they are removed at
                the end. Takes minutes and gigabytes.
  --vips        pairs morvane with `vips colourspace in.v out.v hsv` and
                tesvar with `vips copy in.v out.v`, each with its default
                threads (every core; set CONVERTERS_NUM_THREADS=1 and
                VIPS_CONCURRENCY=1 for one each), on the 6000 x 4000 24-bit image;
                skipped with a message when vips is missing.

    bench/whole_run_benchmark.py BUILD_DIR [--pairs N] [--work DIR]
        [--images LIST] [--programs LIST]
        [--yardsticks DIR] [--neighbour [--neighbour-gib G]]
        [--large [--large-pairs N]] [--vips] [--run-timeout S]

BUILD_DIR is a build configured with -DCONVERTERS_BENCH=ON. --yardsticks
takes the floors and the image maker from another build's bench directory,
so that an older build's programs can be measured with today's floors.
Uses the Python standard library only.
"""
import argparse
import collections
import mmap
import multiprocessing
import os
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time

PROGRAMS = ["tesvar", "morvane", "band", "tesvarex", "morvanex", "band-planes"]
Image = collections.namedtuple("Image", "name width height bits top_down")
IMAGES = [
    Image("6000x4000-24", 6000, 4000, 24, False),
    Image("6000x4000-32", 6000, 4000, 32, False),
    Image("6000x4000-8", 6000, 4000, 8, False),
    Image("6000x4000-24td", 6000, 4000, 24, True),
    Image("2000x1500-24", 2000, 1500, 24, False),
]
REFERENCE = IMAGES[0]  # the 24 Mpx image the per-pixel and peer figures use
LARGE_IMAGES = [Image("1000x1000-24", 1000, 1000, 24, False),
                Image("20000x20000-24", 20000, 20000, 24, False)]
HUGE = Image("40000x36000-24", 40000, 36000, 24, False)  # 4.3 GB, sparse
HUGE_SUBJECTS = ["tesvar", "morvane", "band"]  # the plane programs would write 17 GB of planes

Run = collections.namedtuple("Run", "cpu wall rss status")


def kill_group(leader):
    """Ends the launcher and the run it started."""
    try:
        os.killpg(leader, signal.SIGKILL)
    except ProcessLookupError:  # both ended just now
        pass


def timed_run(launcher, argv, cwd, limit, env=None, must_succeed=True):
    """Runs argv once through bench/measure_run, killed after limit seconds; returns a Run.

    The launcher reports the run's own peak RSS: timed straight from here, a
    child would count the interpreter's memory it was forked from."""
    child = subprocess.Popen([launcher] + argv, cwd=cwd, env=env, stdout=subprocess.PIPE,
                             start_new_session=True)
    killer = threading.Timer(limit, kill_group, (child.pid,))
    killer.start()
    try:
        report = child.communicate()[0].split()
    finally:
        killer.cancel()
    if len(report) == 5:
        user, system, wall, rss_kib, status = report
        run = Run(float(user) + float(system), float(wall), int(rss_kib) / 1024.0, int(status))
    else:  # the launcher itself was killed: the run took too long
        run = Run(float("nan"), float(limit), float("nan"), 128 + signal.SIGKILL)
    if must_succeed and run.status != 0:
        sys.exit("%s ended with status %d" % (" ".join(argv), run.status))
    return run


def compare(setup, subject, floor, cwd, pairs, env=None, after_each=None):
    """Alternates subject and floor runs after a warm-up pair; returns the two lists of runs."""
    runs = ([], [])
    for pair in range(pairs + 1):
        for argv, kept in zip((subject, floor), runs):
            run = timed_run(setup.launcher, argv, cwd, setup.limit, env)
            if after_each:
                after_each()
            if pair > 0:
                kept.append(run)
    return runs


def p95(values):
    values = list(values)
    if len(values) < 2:
        return values[0]
    return statistics.quantiles(values, n=20, method="inclusive")[-1]


def median_ratio(subject_runs, floor_runs, field="cpu"):
    return statistics.median(getattr(s, field) / getattr(f, field)
                             for s, f in zip(subject_runs, floor_runs))


def table_header():
    print("| program       | image          | CPU s | p95   | floor | p95   | ratio    "
          "| wall s | p95    | floor  | p95    | ratio    | RSS MiB | floor   |")
    print("|---------------|----------------|-------|-------|-------|-------|----------"
          "|--------|--------|--------|--------|----------|---------|---------|")


def table_row(label, image, subject_runs, floor_runs):
    def stat(runs, field):
        values = [getattr(r, field) for r in runs]
        return statistics.median(values), p95(values)
    cells = [label.ljust(13), image.ljust(14)]
    cells += ["%.3f" % v for v in stat(subject_runs, "cpu") + stat(floor_runs, "cpu")]
    cells.append("**%.2f**" % median_ratio(subject_runs, floor_runs))
    cells += ["%.3f" % v for v in stat(subject_runs, "wall") + stat(floor_runs, "wall")]
    cells.append("**%.2f**" % median_ratio(subject_runs, floor_runs, "wall"))
    cells += ["%.1f" % max(r.rss for r in runs) for runs in (subject_runs, floor_runs)]
    return "| " + " | ".join(cells) + " |"


class Setup:
    """Where the programs, floors and images are, and how runs are bounded."""

    def __init__(self, args):
        self.build = os.path.abspath(args.build_dir)
        self.yard = os.path.abspath(args.yardsticks or os.path.join(self.build, "bench"))
        self.threads = program_threads()
        self.limit = args.run_timeout
        self.launcher = self.tool("measure_run")
        if not os.path.exists(self.launcher):
            sys.exit("no %s: build with -DCONVERTERS_BENCH=ON, or name a build that has it "
                     "with --yardsticks" % self.launcher)

    def tool(self, name):
        return os.path.join(self.yard, name)

    def floor_argv(self, planes, image, out):
        threads = ["--threads", str(self.threads)] if self.threads > 1 else []
        return [self.tool("band_floor"), image, out] + (["--planes"] if planes else []) + threads

    def subject_argv(self, name, image, out):
        if name == "band":
            return [self.tool("band_floor"), image, out]
        if name == "band-planes":
            return [self.tool("band_floor"), image, out, "--planes"]
        return [os.path.join(self.build, "programs", name), image, out]

    def make_image(self, image, directory):
        path = os.path.join(directory, image.name + ".bmp")
        if not os.path.exists(path):
            argv = [self.tool("make_bench_image"), str(image.width), str(image.height),
                    str(image.bits), path] + (["--top-down"] if image.top_down else [])
            subprocess.run(argv, check=True, timeout=max(600, self.limit))
        return path


def program_threads():
    """The threads a program takes on a large picture: CONVERTERS_NUM_THREADS
    when it holds 1 to 64, else every usable processor."""
    value = os.environ.get("CONVERTERS_NUM_THREADS", "")
    if value.isdigit() and 1 <= int(value) <= 64:
        return int(value)
    return min(64, len(os.sched_getaffinity(0)))


def has_planes(subject):
    return subject.endswith("ex") or subject == "band-planes"


def label_of(subject):
    return {"band": "band_floor", "band-planes": "band --planes"}.get(subject, subject)


def outputs_of(directory):
    """The result and plane files a run of any subject or floor leaves in directory."""
    names = [n for n in os.listdir(directory)
             if n.startswith(("out-", "plane_", "floor_plane_", "bmp_yuv_", "bmp_hsv_"))]
    return [os.path.join(directory, n) for n in names]


def remove_outputs(directory):
    for path in outputs_of(directory):
        os.remove(path)


def measure_image(setup, image, subjects, directory, pairs, results, drop_outputs=False):
    """One table row per subject on image; results[(subject, image name)] keeps the runs."""
    path = setup.make_image(image, directory)
    after_each = (lambda: remove_outputs(directory)) if drop_outputs else None
    for subject in subjects:
        out = os.path.join(directory, "out-" + subject + ".bmp")
        floor_out = os.path.join(directory, "out-floor.bmp")
        runs = compare(setup, setup.subject_argv(subject, path, out),
                       setup.floor_argv(has_planes(subject), path, floor_out),
                       directory, pairs, after_each=after_each)
        results[(subject, image.name)] = runs
        print(table_row(label_of(subject), image.name, *runs), flush=True)


def measure_magick(setup, directory, pairs):
    # Debian's versioned name first: it is the binary itself, never a wrapper.
    magick = shutil.which("convert-im6.q16") or shutil.which("convert")
    if not magick:
        return
    image = os.path.join(directory, REFERENCE.name + ".bmp")
    out = os.path.join(directory, "out-magick.bmp")
    runs = compare(setup, [magick, image, "-colorspace", "YCbCr", "BMP3:" + out],
                   setup.floor_argv(False, image, os.path.join(directory, "out-floor.bmp")),
                   directory, max(3, pairs // 3))
    print(table_row("ImageMagick", REFERENCE.name, *runs), flush=True)


# The neighbour holds about its share of memory at all times but keeps
# replacing it: each step maps a fresh slice, touches every 4 KiB page of it
# and unmaps the oldest, so the kernel clears and frees pages the whole time.
NEIGHBOUR_SLICE = 256 << 20


def churn(total_bytes, parent):
    signal.signal(signal.SIGTERM, signal.SIG_DFL)  # the benchmark's handler is not for it
    held = collections.deque()
    while os.getppid() == parent:  # ends with the benchmark, however that ends
        block = mmap.mmap(-1, NEIGHBOUR_SLICE)
        block.madvise(mmap.MADV_NOHUGEPAGE)  # 4 KiB pages, whatever the THP setting
        for offset in range(0, NEIGHBOUR_SLICE, 4096):
            block[offset] = 1
        held.append(block)
        if len(held) * NEIGHBOUR_SLICE >= total_bytes:
            held.popleft().close()


def start_neighbour(gib):
    neighbour = multiprocessing.Process(target=churn, args=(int(gib * (1 << 30)), os.getpid()),
                                        daemon=True)
    neighbour.start()
    time.sleep(1.0)  # let it reach its full size before the first run
    return neighbour


def stop_neighbour(neighbour):
    neighbour.terminate()
    neighbour.join(10)
    if neighbour.is_alive():
        neighbour.kill()
        neighbour.join()


def make_sparse_image(image, directory):
    """A valid 24-bit header, then holes up to the size: the pixels read as zeros."""
    path = os.path.join(directory, image.name + ".bmp")
    stride = (image.width * 3 + 3) & ~3
    size = 54 + stride * image.height
    header = bytearray(54)
    header[0:2] = b"BM"  # sizes over 4 GiB do not fit their fields: left 0
    header[10:14] = (54).to_bytes(4, "little")
    header[14:18] = (40).to_bytes(4, "little")
    header[18:22] = image.width.to_bytes(4, "little")
    header[22:26] = image.height.to_bytes(4, "little")
    header[26] = 1
    header[28] = 24
    with open(path, "wb") as f:
        f.write(header)
    os.truncate(path, size)
    return path


def large_directory(args):
    """--work if given, else /dev/shm when it has room for the 400 Mpx case, else /var/tmp."""
    if args.work_given:
        return args.work
    big = LARGE_IMAGES[-1]
    needed = big.width * big.height * (3 + 4 * 4) * 1.1  # input, result and three planes
    shm = os.statvfs("/dev/shm")
    if shm.f_bavail * shm.f_frsize > needed:
        return args.work
    return "/var/tmp/converters-bench-large"


def available_mib():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) / 1024.0
    return float("inf")


def room_for_huge(results, subject):
    """False when the 400 Mpx run's peak RSS, scaled to the file over 4 GiB,
    would not fit in the memory free now: a whole-image program would bring
    the machine to its knees, a streaming one fits anywhere."""
    big = LARGE_IMAGES[-1]
    runs = results.get((subject, big.name))
    if not runs:
        return True
    need = max(r.rss for r in runs[0]) * (HUGE.width * HUGE.height) / (big.width * big.height)
    if need < 0.8 * available_mib():
        return True
    print("%s on %s skipped: would need about %.0f MiB, %.0f MiB free"
          % (label_of(subject), HUGE.name, need, available_mib()), flush=True)
    return False


def measure_huge(setup, directory, subjects, results):
    """Peak RSS and status of one run each on the sparse file over 4 GiB."""
    path = make_sparse_image(HUGE, directory)
    huge = {}
    try:
        for subject in subjects:
            if subject not in HUGE_SUBJECTS or not room_for_huge(results, subject):
                continue
            run = timed_run(setup.launcher, setup.subject_argv(subject, path, "/dev/null"),
                            directory, setup.limit * 4, must_succeed=False)
            huge[subject] = run
            print("%s on %s (%.1f GB): status %d, CPU %.2f s, wall %.2f s, peak RSS %.1f MiB"
                  % (label_of(subject), HUGE.name, os.path.getsize(path) / 1e9, run.status,
                     run.cpu, run.wall, run.rss), flush=True)
    finally:
        os.remove(path)
    return huge


def peak_rss(runs):
    return max(r.rss for r in runs[0])


def cpu_per_pixel(runs, image):
    """Nanoseconds of CPU per pixel in the median run."""
    return statistics.median(r.cpu for r in runs[0]) / (image.width * image.height) * 1e9


def scaling_row(subject, results, huge):
    small, big = LARGE_IMAGES
    cells = [label_of(subject).ljust(13)]
    for image in (small, REFERENCE, big):
        runs = results.get((subject, image.name))
        cells.append("%.1f" % peak_rss(runs) if runs else "-")
    run = huge.get(subject)
    if run is None:
        cells.append("-")
    else:
        cells.append("%.1f" % run.rss + ("" if run.status == 0 else " (status %d)" % run.status))
    per_pixel = [cpu_per_pixel(results[(subject, image.name)], image)
                 for image in (REFERENCE, big) if (subject, image.name) in results]
    cells += ["%.2f" % v for v in per_pixel]
    if len(per_pixel) == 2:
        cells.append("**%.2f**" % (per_pixel[1] / per_pixel[0]))
    return "| " + " | ".join(cells) + " |"


def print_scaling(results, huge, subjects):
    """Peak RSS against size, and CPU per pixel at 400 Mpx against 24 Mpx."""
    print("\n| program       | RSS MiB 1 Mpx | 24 Mpx | 400 Mpx | >4 GiB | ns/px 24 Mpx "
          "| 400 Mpx | 400/24 |")
    print("|---------------|---------------|--------|---------|--------|--------------"
          "|---------|--------|")
    for subject in subjects:
        print(scaling_row(subject, results, huge), flush=True)


def measure_large(setup, args, subjects, results):
    directory = large_directory(args)
    os.makedirs(directory, exist_ok=True)
    print("\nLarge images in %s, %d pairs each:\n" % (directory, args.large_pairs))
    table_header()
    made = []
    try:
        for image in LARGE_IMAGES:
            made.append(os.path.join(directory, image.name + ".bmp"))
            large = image.width * image.height > 100e6
            measure_image(setup, image, subjects, directory,
                          args.large_pairs if large else args.pairs, results, drop_outputs=large)
        os.remove(made.pop())  # room for the file over 4 GiB
        remove_outputs(directory)
        huge = measure_huge(setup, directory, subjects, results)
    finally:
        remove_outputs(directory)
        for path in made:
            if os.path.exists(path):
                os.remove(path)
    print_scaling(results, huge, subjects)


def measure_vips(setup, directory, pairs):
    """The programs against libvips on the 24 Mpx image, each with the
    threads it takes by default (CONVERTERS_NUM_THREADS and VIPS_CONCURRENCY,
    when set, apply to both sides alike)."""
    vips = shutil.which("vips")
    if not vips:
        print("\nvips not found: libvips peer skipped (apt-get install libvips-tools)")
        return
    photo = setup.make_image(REFERENCE, directory)
    vips_in = os.path.join(directory, "in.v")
    vips_out = os.path.join(directory, "out-vips.v")
    subprocess.run([vips, "copy", photo, vips_in], check=True, timeout=setup.limit)
    env = dict(os.environ)
    peers = [("morvane", [vips, "colourspace", vips_in, vips_out, "hsv"], "vips colourspace hsv"),
             ("tesvar", [vips, "copy", vips_in, vips_out], "vips copy")]
    print("\nAgainst libvips (VIPS_CONCURRENCY %s), %s; the floor columns are the peer's:\n"
          % (env.get("VIPS_CONCURRENCY", "unset: every core"), REFERENCE.name))
    table_header()
    try:
        for program, peer, label in peers:
            out = os.path.join(directory, "out-" + program + ".bmp")
            runs = compare(setup, setup.subject_argv(program, photo, out), peer, directory,
                           pairs, env=env)
            print(table_row(program, "vs " + label, *runs), flush=True)
    finally:
        for path in (vips_in, vips_out):
            if os.path.exists(path):
                os.remove(path)


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--pairs", type=int, default=9)
    parser.add_argument("--work", default=None)
    parser.add_argument("--images", default=",".join(i.name for i in IMAGES),
                        help="comma-separated subset of the image names")
    parser.add_argument("--programs", default=",".join(PROGRAMS),
                        help="comma-separated subset of " + ",".join(PROGRAMS))
    parser.add_argument("--yardsticks", help="bench directory of the floors and image maker")
    parser.add_argument("--neighbour", action="store_true")
    parser.add_argument("--neighbour-gib", type=float, default=3.0)
    parser.add_argument("--large", action="store_true")
    parser.add_argument("--large-pairs", type=int, default=3)
    parser.add_argument("--vips", action="store_true")
    parser.add_argument("--run-timeout", type=float, default=120.0,
                        help="seconds before one run is killed (four times that over 4 GiB)")
    args = parser.parse_args()
    args.work_given = args.work is not None
    args.work = args.work or "/dev/shm/converters-bench"
    return args


def end_on_signal(signum, _frame):
    sys.exit("stopped by signal %d" % signum)  # unwinds, so the neighbour is stopped


def main():
    signal.signal(signal.SIGTERM, end_on_signal)
    args = parse_args()
    setup = Setup(args)
    subjects = args.programs.split(",")
    unknown = set(subjects) - set(PROGRAMS)
    if unknown:
        sys.exit("unknown programs: " + ",".join(sorted(unknown)))
    wanted = args.images.split(",")
    if args.large and REFERENCE.name not in wanted:
        wanted.append(REFERENCE.name)  # the per-pixel figures compare with it
    os.makedirs(args.work, exist_ok=True)
    neighbour = start_neighbour(args.neighbour_gib) if args.neighbour else None
    results = {}
    try:
        print("floor: band_floor on %d threads; %d pairs; load average %.2f at the start%s\n"
              % (setup.threads, args.pairs, os.getloadavg()[0],
                 "; neighbour churning %.1f GiB" % args.neighbour_gib if neighbour else ""))
        table_header()
        for image in IMAGES:
            if image.name in wanted:
                measure_image(setup, image, subjects, args.work, args.pairs, results)
        if REFERENCE.name in wanted:
            measure_magick(setup, args.work, args.pairs)
        if args.vips:
            measure_vips(setup, args.work, args.pairs)
        if args.large:
            measure_large(setup, args, subjects, results)
        print("\nload average %.2f at the end" % os.getloadavg()[0])
    finally:
        if neighbour:
            stop_neighbour(neighbour)


if __name__ == "__main__":
    main()

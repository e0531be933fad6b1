#!/usr/bin/env python3
"""Whole-run timing of the four converters against the design floor.

Makes photo-like test images (6000 x 4000 at 24, 32 and 8 bits, and
2000 x 1500 at 24 bits), then for every program and image runs the program
and the design floor alternately, pair after pair, after one warm-up pair.
Inputs and outputs live on tmpfs so that disk write-back stays out of the
figures. Reports median CPU seconds (user + sys), the median of the
per-pair CPU ratios, median wall seconds and the largest peak RSS. The
programs that write channel planes are compared with the floor's plane
variant. Where ImageMagick is installed, its YCbCr conversion of the large
24-bit image is compared with the floor too, for context.

    bench/whole_run_benchmark.py BUILD_DIR [--pairs N] [--work DIR]

BUILD_DIR is a build configured with -DCONVERTERS_BENCH=ON. Uses the
Python standard library only.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

PROGRAMS = ["tesvar", "morvane", "tesvarex", "morvanex"]
IMAGES = [  # name, width, height, bits
    ("6000x4000-24", 6000, 4000, 24),
    ("6000x4000-32", 6000, 4000, 32),
    ("6000x4000-8", 6000, 4000, 8),
    ("2000x1500-24", 2000, 1500, 24),
]


def timed_run(argv, cwd):
    """Runs argv once; returns (cpu seconds, wall seconds, peak RSS MiB)."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("%s ended with status %d" % (" ".join(argv), child.returncode))
    return usage.ru_utime + usage.ru_stime, wall, usage.ru_maxrss / 1024.0


def compare(subject, floor, cwd, pairs):
    """Alternates subject and floor runs; returns the two lists of results."""
    timed_run(subject, cwd)
    timed_run(floor, cwd)
    subject_runs, floor_runs = [], []
    for _ in range(pairs):
        subject_runs.append(timed_run(subject, cwd))
        floor_runs.append(timed_run(floor, cwd))
    return subject_runs, floor_runs


def summary(label, image, subject_runs, floor_runs):
    ratios = [s[0] / f[0] for s, f in zip(subject_runs, floor_runs)]
    med = lambda runs, i: statistics.median(r[i] for r in runs)
    peak = lambda runs: max(r[2] for r in runs)
    return "| %-9s | %-13s | %6.3f | %6.3f | **%5.2f** | %6.3f | %6.3f | %6.1f | %6.1f |" % (
        label, image, med(subject_runs, 0), med(floor_runs, 0), statistics.median(ratios),
        med(subject_runs, 1), med(floor_runs, 1), peak(subject_runs), peak(floor_runs))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--pairs", type=int, default=9)
    parser.add_argument("--work", default="/dev/shm/converters-bench")
    parser.add_argument("--images", default=",".join(i[0] for i in IMAGES),
                        help="comma-separated subset of the image names")
    parser.add_argument("--programs", default=",".join(PROGRAMS))
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    floor = os.path.join(build, "bench", "design_floor")
    maker = os.path.join(build, "bench", "make_bench_image")
    os.makedirs(args.work, exist_ok=True)
    wanted = args.images.split(",")

    print("| program   | image         | CPU s  | floor  | ratio     | wall s | floor  | RSS MiB| floor  |")
    print("|-----------|---------------|--------|--------|-----------|--------|--------|--------|--------|")
    for name, width, height, bits in IMAGES:
        if name not in wanted:
            continue
        image = os.path.join(args.work, name + ".bmp")
        if not os.path.exists(image):
            subprocess.run([maker, str(width), str(height), str(bits), image], check=True)
        for program in args.programs.split(","):
            planes = program.endswith("ex")
            out = os.path.join(args.work, "out-" + program + ".bmp")
            floor_out = os.path.join(args.work, "out-floor.bmp")
            floor_argv = [floor] + (["--planes"] if planes else []) + [image, floor_out]
            runs = compare([os.path.join(build, "programs", program), image, out], floor_argv,
                           args.work, args.pairs)
            print(summary(program, name, *runs), flush=True)
        # Debian's versioned name first: it is the binary itself, never a wrapper.
        magick = shutil.which("convert-im6.q16") or shutil.which("convert")
        if magick and name == "6000x4000-24":
            out = os.path.join(args.work, "out-magick.bmp")
            runs = compare([magick, image, "-colorspace", "YCbCr", "BMP3:" + out],
                           [floor, image, os.path.join(args.work, "out-floor.bmp")],
                           args.work, max(3, args.pairs // 3))
            print(summary("ImageMagick", name, *runs), flush=True)


if __name__ == "__main__":
    main()

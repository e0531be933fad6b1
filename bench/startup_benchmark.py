#!/usr/bin/env python3
"""Start-up cost of the four converters against a C program's read and write.

On a 16 x 16 24-bit image the work of a run is all in starting the process,
reading the file and writing the result. Runs each program and
bench/startup_floor (a C program that reads the file whole and writes a
32-bit bitmap of the same size as the programs do: a fresh file beside the
output, flushed and renamed over it; three more for the programs that write
channel planes) alternately, in batches of --batch runs
each, since one run costs a fraction of a millisecond; one warm-up pair of
batches first, then --pairs pairs. Reports the median CPU milliseconds
(user + sys) per run of each and the median of the per-pair CPU ratios.
Inputs and outputs live on tmpfs.

    bench/startup_benchmark.py BUILD_DIR [--pairs N] [--batch N] [--work DIR]

BUILD_DIR is a build configured with -DCONVERTERS_BENCH=ON. Uses the
Python standard library only.
"""
import argparse
import os
import statistics
import subprocess
import sys



def built_programs(build):
    """The programs as the top-level CMakeLists.txt lists them."""
    with open(os.path.join(build, "converters_programs.txt")) as listing:
        return listing.read().split(";")


def batch_cpu(argv, cwd, runs):
    """CPU seconds of runs runs of argv, each waited for before the next."""
    total = 0.0
    for _ in range(runs):
        child = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("%s ended with status %d" % (" ".join(argv), os.waitstatus_to_exitcode(status)))
        total += usage.ru_utime + usage.ru_stime
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--pairs", type=int, default=9)
    parser.add_argument("--batch", type=int, default=200)
    parser.add_argument("--work", default="/dev/shm/converters-startup")
    parser.add_argument("--programs", help="comma-separated (default: every program)")
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    programs = args.programs.split(",") if args.programs else built_programs(build)
    os.makedirs(args.work, exist_ok=True)
    image = os.path.join(args.work, "16x16-24.bmp")
    if not os.path.exists(image):
        subprocess.run([os.path.join(build, "bench", "make_bench_image"), "16", "16", "24", image],
                       check=True)
    floor = os.path.join(build, "bench", "startup_floor")

    print("| program   | CPU ms/run | floor  | ratio     |")
    print("|-----------|------------|--------|-----------|")
    for program in programs:
        subject = [os.path.join(build, "programs", program), image,
                   os.path.join(args.work, "out-" + program + ".bmp")]
        floor_argv = [floor] + (["--planes"] if program.endswith("ex") else []) + [
            image, os.path.join(args.work, "out-floor.bmp")]
        batch_cpu(subject, args.work, args.batch)
        batch_cpu(floor_argv, args.work, args.batch)
        pairs = []
        for _ in range(args.pairs):
            pairs.append((batch_cpu(subject, args.work, args.batch),
                          batch_cpu(floor_argv, args.work, args.batch)))
        per_run = lambda i: 1000.0 * statistics.median(p[i] for p in pairs) / args.batch
        ratio = statistics.median(s / f for s, f in pairs)
        print("| %-9s | %10.3f | %6.3f | **%5.2f** |" % (program, per_run(0), per_run(1), ratio),
              flush=True)


if __name__ == "__main__":
    main()

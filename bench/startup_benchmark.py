#!/usr/bin/env python3
"""Start-up cost of the four converters against a C program's read and write.

On a 16 x 16 24-bit image the work of a run is all in starting the process,
reading the file and writing the result. Runs each program and a floor
alternately, in batches of --batch runs each, since one run costs a fraction
of a millisecond; one warm-up round of batches first, then --pairs rounds.
Reports the median CPU milliseconds (user + sys) per run of each and the
median of the per-round CPU ratios. Inputs and outputs live on tmpfs.

The floor is bench/startup_floor by default (it reads the file whole and
writes a 32-bit bitmap of the same size as the programs do: a fresh file
beside the output, flushed and renamed over it; three more for the programs
that write channel planes), or --floor, any program run as FLOOR IN OUT: the
shared yardsticks safe_floor (for a run that replaces a file) and iofloor
(for a new file or a stream). --output says what the output name is: a file
each run replaces (replace, the default), a name that is new to each run
(new), or /dev/null (null). --baseline BUILD times that build's programs in
the same rounds, so that a change is paired against the code before it.

    bench/startup_benchmark.py BUILD_DIR [--pairs N] [--batch N] [--work DIR]
        [--floor PATH] [--output replace|new|null] [--baseline BUILD_DIR]

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


def batch_cpu(argv, cwd, runs, fresh=None):
    """CPU seconds of runs runs of argv, each waited for before the next;
    fresh, if given, is a path removed before each run."""
    total = 0.0
    for _ in range(runs):
        if fresh is not None and os.path.exists(fresh):
            os.unlink(fresh)
        child = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("%s ended with status %d" % (" ".join(argv), os.waitstatus_to_exitcode(status)))
        total += usage.ru_utime + usage.ru_stime
    return total


def output_path(work, name, output):
    return "/dev/null" if output == "null" else os.path.join(work, "out-" + name + ".bmp")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--pairs", type=int, default=9)
    parser.add_argument("--batch", type=int, default=200)
    parser.add_argument("--work", default="/dev/shm/converters-startup")
    parser.add_argument("--programs", help="comma-separated (default: every program)")
    parser.add_argument("--floor", help="a floor run as FLOOR IN OUT (default: startup_floor)")
    parser.add_argument("--output", choices=["replace", "new", "null"], default="replace")
    parser.add_argument("--baseline", help="another build whose programs are paired too")
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    programs = args.programs.split(",") if args.programs else built_programs(build)
    os.makedirs(args.work, exist_ok=True)
    image = os.path.join(args.work, "16x16-24.bmp")
    if not os.path.exists(image):
        subprocess.run([os.path.join(build, "bench", "make_bench_image"), "16", "16", "24", image],
                       check=True)
    fresh = lambda path: path if args.output == "new" else None

    builds = [("this", build)]
    if args.baseline:
        builds.append(("baseline", os.path.abspath(args.baseline)))
    header = "| program   | " + " | ".join("%s ms/run" % b[0] for b in builds) + \
        " | floor ms/run | " + " | ".join("%s/floor" % b[0] for b in builds) + \
        (" | this/baseline |" if args.baseline else " |")
    print(header)
    print("|" + "---|" * (header.count("|") - 1))
    for program in programs:
        commands = []
        for label, directory in builds:
            out = output_path(args.work, label + "-" + program, args.output)
            commands.append(([os.path.join(directory, "programs", program), image, out], out))
        floor_out = output_path(args.work, "floor", args.output)
        if args.floor:
            floor_argv = [os.path.abspath(args.floor), image, floor_out]
        else:
            floor_argv = [os.path.join(build, "bench", "startup_floor")] + \
                (["--planes"] if program.endswith("ex") else []) + [image, floor_out]
        commands.append((floor_argv, floor_out))
        rounds = []
        for round_number in range(args.pairs + 1):
            times = [batch_cpu(argv, args.work, args.batch, fresh(out)) for argv, out in commands]
            if round_number > 0:
                rounds.append(times)
        per_run = lambda i: 1000.0 * statistics.median(r[i] for r in rounds) / args.batch
        ratio = lambda i, j: statistics.median(r[i] / r[j] for r in rounds)
        floor_index = len(commands) - 1
        cells = ["%.3f" % per_run(i) for i in range(len(builds))]
        cells.append("%.3f" % per_run(floor_index))
        cells += ["**%.2f**" % ratio(i, floor_index) for i in range(len(builds))]
        if args.baseline:
            cells.append("%.3f" % ratio(0, 1))
        print("| %-9s | %s |" % (program, " | ".join(cells)), flush=True)


if __name__ == "__main__":
    main()

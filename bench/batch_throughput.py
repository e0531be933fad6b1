#!/usr/bin/python3
"""Files per second of a batch through GNU parallel, beside a floor.

    bench/batch_throughput.py BUILD_DIR [--count N] [--size WxH] [--rounds R]
                              [--jobs J] [--program NAME] [--floor-source FILE]

Makes N 24-bit pictures of W x H on /dev/shm, then converts them all with
`parallel -jJ` (CONVERTERS_NUM_THREADS=1, one thread a run), one run per
file as docs/many-files.md does, in paired rounds that alternate with the
same batch through the safe-replacement floor (safe_floor: read the file,
expand the rows, write a temporary file, fsync, rename; no conversion),
compiled from FILE with cc -O2. Prints each round and the medians with
their spread (lowest and highest) in files per second, and their ratio.
"""

import argparse
import os
import shutil
import statistics
import struct
import subprocess
import tempfile
import time


def picture(width, height, seed):
    row = (width * 3 + 3) // 4 * 4
    pixels = bytes((x * 7 + seed) % 256 for x in range(row)) * height
    return struct.pack("<2sIHHIIiiHHIIiiII", b"BM", 54 + len(pixels), 0, 0, 54, 40, width,
                       height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0) + pixels


def batch(command, inputs, outputs, jobs):
    """Wall seconds for parallel to run command on every input."""
    shutil.rmtree(outputs, ignore_errors=True)
    os.makedirs(outputs)
    env = dict(os.environ, CONVERTERS_NUM_THREADS="1")
    start = time.monotonic()
    subprocess.run(f"find {inputs} -name '*.bmp' -print0 | "
                   f"parallel -0 -j{jobs} '{command} {{}} {outputs}/{{/}}'",
                   shell=True, check=True, env=env)
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--size", default="16x16")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--program", default="tesvar")
    parser.add_argument("--floor-source", default="/work/shared/yardsticks/safe_floor.c")
    args = parser.parse_args()
    width, height = map(int, args.size.split("x"))
    work = tempfile.mkdtemp(dir="/dev/shm", prefix="batch_throughput_")
    try:
        floor = os.path.join(work, "safe_floor")
        subprocess.run(["cc", "-O2", "-o", floor, args.floor_source], check=True)
        program = os.path.join(os.path.abspath(args.build), "programs", args.program)
        inputs = os.path.join(work, "in")
        for i in range(args.count):
            folder = os.path.join(inputs, f"{i // 1000:02d}")
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, f"p{i:05d}.bmp"), "wb") as f:
                f.write(picture(width, height, i))
        outputs = os.path.join(work, "out")
        batch(program, inputs, outputs, args.jobs)  # warm-up
        rates = {"program": [], "floor": []}
        for round_number in range(args.rounds):
            for name, command in (("program", program), ("floor", floor)):
                rates[name].append(args.count / batch(command, inputs, outputs, args.jobs))
            print(f"round {round_number + 1}: {args.program} {rates['program'][-1]:.0f}, "
                  f"safe_floor {rates['floor'][-1]:.0f} files/s", flush=True)
        for name, values in rates.items():
            print(f"{name}: median {statistics.median(values):.0f} files/s "
                  f"({min(values):.0f} to {max(values):.0f})")
        ratios = [p / f for p, f in zip(rates["program"], rates["floor"])]
        print(f"{args.program} / safe_floor, paired: median {statistics.median(ratios):.3f} "
              f"({min(ratios):.3f} to {max(ratios):.3f})")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

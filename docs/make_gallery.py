#!/usr/bin/python3
"""Renders the README's gallery: the sample picture that make_sample_bitmap
writes (the one the README's Try-it converts), the result of each program
and the six plane images, as PNG files.

    docs/make_gallery.py [--programs DIR] [--sample-maker PATH] [--out DIR] [--check]
                         [--exe-suffix SUFFIX] [--emulator COMMAND]

DIR for --programs defaults to build/programs, PATH for --sample-maker to
build/docs/make_sample_bitmap, DIR for --out to docs/gallery (all from the
project root). With --check nothing is written: the exit
status is 0 when the PNG files in --out show exactly what the programs make
now, 1 when they do not, and 77 when Pillow is missing. SUFFIX is added to
the program names (".exe" for Windows programs), and COMMAND (such as wine)
runs them and the sample maker.

Needs Pillow (Debian: python3-pil); run it with /usr/bin/python3 when
another python3 comes first on PATH.
"""

import argparse
import os
import shlex
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (program, its result file) and the gallery name of each file it writes.
RUNS = [
    ("tesvar", {"result.bmp": "tesvar_result.png"}),
    ("morvane", {"result.bmp": "morvane_result.png"}),
    ("tesvarex", {"result.bmp": "tesvar_result.png", "bmp_yuv_y.bmp": "plane_yuv_y.png",
                  "bmp_yuv_u.bmp": "plane_yuv_u.png", "bmp_yuv_v.bmp": "plane_yuv_v.png"}),
    ("morvanex", {"result.bmp": "morvane_result.png", "bmp_hsv_h.bmp": "plane_hsv_h.png",
                  "bmp_hsv_s.bmp": "plane_hsv_s.png", "bmp_hsv_v.bmp": "plane_hsv_v.png"}),
]


def render(programs, sample_maker, exe_suffix="", emulator=()):
    """{gallery name: picture} for everything the gallery shows."""
    from PIL import Image
    pictures = {}
    with tempfile.TemporaryDirectory() as work:
        made = subprocess.run([*emulator, sample_maker, "input.bmp"], cwd=work,
                              capture_output=True)
        if made.returncode != 0:
            sys.exit(f"{sample_maker} failed with status {made.returncode}: {made.stderr!r}")
        with Image.open(os.path.join(work, "input.bmp")) as sample:
            pictures["input.png"] = sample.convert("RGB")
        for program, outputs in RUNS:
            run = subprocess.run([*emulator, os.path.join(programs, program + exe_suffix),
                                  "input.bmp", "result.bmp"], cwd=work, capture_output=True)
            if run.returncode != 0 or run.stderr:
                sys.exit(f"{program} failed with status {run.returncode}: {run.stderr!r}")
            for file_name, gallery_name in outputs.items():
                with Image.open(os.path.join(work, file_name)) as written:
                    picture = written.convert("RGB")
                if file_name.startswith("bmp_"):
                    grey = picture.convert("L")
                    if grey.convert("RGB").tobytes() != picture.tobytes():
                        sys.exit(f"{program}: {file_name} is not grey")
                    picture = grey
                # tesvarex and morvanex must repeat the result of tesvar
                # and morvane; the gallery shows it once.
                if gallery_name in pictures and pictures[gallery_name].tobytes() != \
                        picture.tobytes():
                    sys.exit(f"{program}: {file_name} differs from the other {gallery_name}")
                pictures[gallery_name] = picture
    return pictures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--programs", default=os.path.join(ROOT, "build", "programs"))
    parser.add_argument("--sample-maker",
                        default=os.path.join(ROOT, "build", "docs", "make_sample_bitmap"))
    parser.add_argument("--out", default=os.path.join(ROOT, "docs", "gallery"))
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--exe-suffix", default="")
    parser.add_argument("--emulator", default="")
    args = parser.parse_args()
    try:
        from PIL import Image
    except ImportError:
        print("skipped: Pillow is not installed (Debian: python3-pil)")
        sys.exit(77)

    pictures = render(os.path.abspath(args.programs), os.path.abspath(args.sample_maker),
                      args.exe_suffix, shlex.split(args.emulator))
    if args.check:
        stale = []
        for name, picture in sorted(pictures.items()):
            path = os.path.join(args.out, name)
            if not os.path.exists(path):
                stale.append(f"{name} is missing")
                continue
            with Image.open(path) as shown:
                if shown.mode != picture.mode or shown.size != picture.size or \
                        shown.tobytes() != picture.tobytes():
                    stale.append(f"{name} differs")
        for line in stale:
            print(line)
        print("gallery is current" if not stale else "run docs/make_gallery.py to renew it")
        sys.exit(1 if stale else 0)

    os.makedirs(args.out, exist_ok=True)
    for name, picture in sorted(pictures.items()):
        picture.save(os.path.join(args.out, name), "PNG", optimize=True)
        print(os.path.join(args.out, name))


if __name__ == "__main__":
    main()

"""The four programs next to real image tools: files that Pillow,
ImageMagick and GraphicsMagick write go in, also through pipes, and the
files the programs write are read back by them.

    interop_test.py BIN_DIR GROUP --programs PROGRAMS [--exe-suffix SUFFIX]
                    [--emulator COMMAND]

PROGRAMS are the programs' names separated by ";", as the top-level
CMakeLists.txt lists them; each needs its entry in EXPECTED_OUTPUT below.

SUFFIX is added to the program names (".exe" for Windows programs, which
are then run by COMMAND, such as wine; their CRLF line ends on the
standard error stream are read as plain newlines).

GROUP is "reference" (checks the reference conversion itself; needs
nothing), "pillow" (needs Pillow), "imagemagick" (needs Pillow and
ImageMagick) or "graphicsmagick" (needs Pillow and GraphicsMagick). A group
whose tools are missing exits with status 77, which CTest reports as
skipped.

Expected pixels come from colour_reference, applied to the pixels that
Pillow decodes from the input. Inputs that differ only in how they carry
the picture (a larger header, a pipe) are compared instead with a run on
the plain 24-bit file, a case the reference checks.
"""

import argparse
import os
import shlex
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import colour_reference as ref  # noqa: E402

SKIP = 77

# Debian's ImageMagick, called by its full path so that some other program
# named convert earlier on PATH is never picked up.
CONVERT = "/usr/bin/convert"
IDENTIFY = "/usr/bin/identify"
GM = "/usr/bin/gm"

BIN_DIR = ""
PROGRAMS = []
EXE_SUFFIX = ""
EMULATOR = []
WINDOWS_PROGRAMS = False

WIDTH, HEIGHT = 61, 37  # odd sizes, so 1-, 8- and 24-bit rows need padding

yuv = ref.CachedConversion(ref.yuv_bytes)
hsv = ref.CachedConversion(ref.hsv_bytes)

# What each program writes: its conversion, and the result byte shown by
# each plane file, in writing order.
EXPECTED_OUTPUT = {
    "tesvar": (yuv, []),
    "morvane": (hsv, []),
    "tesvarex": (yuv, [("bmp_yuv_v.bmp", 2), ("bmp_yuv_u.bmp", 0), ("bmp_yuv_y.bmp", 1)]),
    "morvanex": (hsv, [("bmp_hsv_h.bmp", 2), ("bmp_hsv_s.bmp", 0), ("bmp_hsv_v.bmp", 1)]),
}


def have_pillow():
    try:
        import PIL.Image  # noqa: F401
    except ImportError:
        return False
    return True


def have_imagemagick():
    return os.access(CONVERT, os.X_OK) and os.access(IDENTIFY, os.X_OK)


def have_graphicsmagick():
    return os.access(GM, os.X_OK)


def run_program(name, args, cwd, stdin_bytes=None):
    run = subprocess.run(EMULATOR + [os.path.join(BIN_DIR, name + EXE_SUFFIX)] + args, cwd=cwd,
                         input=stdin_bytes, capture_output=True, timeout=60)
    if WINDOWS_PROGRAMS:
        run.stderr = run.stderr.replace(b"\r\n", b"\n")
    return run


def skip_for_windows_programs(test, reason):
    if WINDOWS_PROGRAMS:
        test.skipTest(f"Windows programs: {reason}")


def run_in_fresh_dir(program, args, parent, stdin_bytes=None):
    """(run, {file name: bytes} of every file the run wrote) for a run in a
    new directory under parent."""
    work = tempfile.mkdtemp(dir=parent)
    run = run_program(program, args, work, stdin_bytes)
    return run, {name: read_file(os.path.join(work, name)) for name in os.listdir(work)}


def assert_converts_as(test, program, source, stdin_bytes, reference, parent):
    """program run on source (fed stdin_bytes) succeeds silently and writes
    the same files, byte for byte, as when run on the file reference."""
    run, written = run_in_fresh_dir(program, [source, "out.bmp"], parent, stdin_bytes)
    test.assertEqual((run.returncode, run.stderr), (0, b""), program)
    reference_run, wanted = run_in_fresh_dir(program, [reference, "out.bmp"], parent)
    test.assertEqual(reference_run.returncode, 0, program)
    test.assertEqual(sorted(written), sorted(wanted), program)
    for name in wanted:
        test.assertTrue(written[name] == wanted[name], f"{program}: {name} differs")


def source_picture():
    """A picture with smooth ramps, strong colours, greys and colours whose
    conversion rounds a value that lies near a half."""
    from PIL import Image
    picture = Image.new("RGB", (WIDTH, HEIGHT))
    for y in range(HEIGHT):
        for x in range(WIDTH):
            picture.putpixel((x, y), (x * 255 // (WIDTH - 1), y * 255 // (HEIGHT - 1),
                                      (x * 37 + y * 11) % 256))
    special = [(0, 0, 0), (255, 255, 255), (255, 0, 0), (0, 255, 0), (0, 0, 255),
               (1, 1, 1), (128, 128, 128), (255, 255, 0), (0, 255, 255),
               (0, 12, 4), (10, 0, 251), (0, 227, 247)]
    for i, rgb in enumerate(special):
        picture.putpixel((i, 0), rgb)
    return picture


def decoded_rgb(path):
    """The pixels Pillow decodes from a file, top row first."""
    from PIL import Image
    with Image.open(path) as picture:
        return list(picture.convert("RGB").getdata()), picture.size


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


class ReferenceTest(unittest.TestCase):
    """The reference against worked examples (source colours as red, green,
    blue; results as bytes 0, 1, 2)."""

    def test_luma_and_colour_differences(self):
        cases = [((0, 0, 0), (128, 0, 128)), ((255, 255, 255), (128, 255, 128)),
                 ((255, 0, 0), (85, 76, 255)), ((0, 255, 0), (44, 150, 21)),
                 ((0, 0, 255), (255, 29, 107)), ((255, 255, 0), (1, 226, 149)),
                 ((0, 255, 255), (171, 179, 1)), ((0, 12, 4), (126, 8, 123))]
        for rgb, expected in cases:
            with self.subTest(rgb=rgb):
                self.assertEqual(ref.yuv_bytes(*rgb), expected)

    def test_hue_saturation_value(self):
        cases = [((0, 0, 0), (0, 0, 128)), ((255, 255, 255), (0, 255, 236)),
                 ((255, 0, 0), (252, 76, 204)), ((0, 255, 0), (255, 150, 37)),
                 ((0, 0, 255), (242, 29, 121)), ((10, 0, 251), (233, 32, 123)),
                 ((0, 227, 247), (234, 161, 80))]
        for rgb, expected in cases:
            with self.subTest(rgb=rgb):
                self.assertEqual(ref.hsv_bytes(*rgb), expected)

    def test_every_grey_has_the_same_hue(self):
        for g in range(1, 256):
            self.assertEqual(ref.hsv_bytes(g, g, g), (0, g, 236), g)

    def test_rounding_to_single_precision_is_exact(self):
        from fractions import Fraction
        # 1 + 2^-24 lies halfway between two floats: ties go to the even one.
        self.assertEqual(ref.round_to_float32(1 + Fraction(1, 2 ** 24)), 1.0)
        self.assertEqual(ref.round_to_float32(1 + Fraction(3, 2 ** 24)), 1 + 2 ** -22)
        # Just above the halfway point rounds up, where a detour through
        # double precision would land on the tie and round down.
        self.assertEqual(ref.round_to_float32(1 + Fraction(1, 2 ** 24) + Fraction(1, 2 ** 60)),
                         1 + 2 ** -23)
        self.assertEqual(ref.round_to_float32(Fraction(-7, 2 ** 56)), -7 * 2 ** -56)


class SourcePictureDir:
    """A scratch directory holding the source picture as source.png."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.png = os.path.join(self.dir, "source.png")
        source_picture().save(self.png)

    def tearDown(self):
        self.tmp.cleanup()


class WrittenInputs(SourcePictureDir):
    """Shared by the two writers: every file the writer makes for a case
    converts, bottom-up and top-down, to the reference conversion of the
    pixels Pillow decodes from it."""

    # (case name, bits per pixel the file must have)
    cases = []

    def write_case(self, name, png_path, bmp_path):
        raise NotImplementedError

    def check_converts(self, bmp_path):
        expected_rgb, size = decoded_rgb(bmp_path)
        self.assertEqual(size, (WIDTH, HEIGHT))
        for program, convert in (("tesvar", yuv), ("morvane", hsv)):
            run = run_program(program, [bmp_path, "out.bmp"], self.dir)
            self.assertEqual((run.returncode, run.stderr, run.stdout), (0, b"", b""), program)
            out = read_file(os.path.join(self.dir, "out.bmp"))
            pixels, fourth = ref.read_result_pixels(out)
            self.assertEqual(fourth, {0}, program)
            expected = [convert(rgb) for rgb in expected_rgb]
            self.assertEqual(len(pixels), len(expected))
            wrong = [i for i, (a, b) in enumerate(zip(pixels, expected)) if a != b]
            if wrong:
                first = wrong[0]
                self.fail(f"{program}: {len(wrong)} pixels differ; pixel {first} of the "
                          f"top row first order is {pixels[first]}, not {expected[first]}")

    def test_inputs_convert_bottom_up_and_top_down(self):
        for name, bit_count in self.cases:
            with self.subTest(case=name):
                path = os.path.join(self.dir, name + ".bmp")
                self.write_case(name, self.png, path)
                data = read_file(path)
                h = ref.read_header(data)
                # Pin what the writer made, so a changed writer cannot turn
                # the case into another one silently.
                self.assertEqual((h["info_size"], h["bit_count"], h["compression"]),
                                 (40, bit_count, 0))
                self.assertGreater(h["height"], 0)
                self.check_converts(path)

                # Neither writer stores the top row first; the same file
                # with its rows reversed and its height negated stands in.
                flipped = os.path.join(self.dir, name + "_top_down.bmp")
                write_file(flipped, ref.to_top_down(data))
                self.assertEqual(decoded_rgb(flipped), decoded_rgb(path))
                self.check_converts(flipped)


class PillowInputsTest(WrittenInputs, unittest.TestCase):
    cases = [("rgb", 24), ("rgba", 32), ("palette", 8), ("grey", 8), ("bilevel", 1)]

    def write_case(self, name, png_path, bmp_path):
        from PIL import Image
        with Image.open(png_path) as picture:
            picture = picture.convert("RGB")
            if name == "rgba":
                picture = picture.convert("RGBA")
                picture.putalpha(200)
            elif name == "palette":
                picture = picture.convert("P", palette=Image.ADAPTIVE, colors=256)
            elif name == "grey":
                picture = picture.convert("L")
            elif name == "bilevel":
                picture = picture.convert("1")
            picture.save(bmp_path, "BMP")


class ImageMagickInputsTest(WrittenInputs, unittest.TestCase):
    options = {
        "truecolor": (["-type", "TrueColor"], 24),
        "truecolor_alpha": (["-alpha", "set", "-define", "bmp3:alpha=true"], 32),
        "palette": (["-colors", "200", "-type", "Palette", "-compress", "None"], 8),
        "grey": (["-colorspace", "Gray", "-type", "Palette", "-compress", "None"], 8),
        "two_colours": (["-colors", "2", "-type", "Palette", "-compress", "None"], 1),
    }
    cases = [(name, bits) for name, (_, bits) in options.items()]

    def write_case(self, name, png_path, bmp_path):
        subprocess.run([CONVERT, png_path] + self.options[name][0] + ["BMP3:" + bmp_path],
                       check=True, capture_output=True)


class OutputsReadBack:
    """Every file every program writes, read back by another tool."""

    def setUp(self):
        from PIL import Image
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.input = os.path.join(self.dir, "input.bmp")
        source_picture().save(self.input, "BMP")
        with Image.open(self.input) as picture:
            self.input_rgb = list(picture.convert("RGB").getdata())

    def tearDown(self):
        self.tmp.cleanup()

    def expected_files(self, program):
        """(file name, expected red, green, blue of every pixel, top row first)."""
        convert, planes = EXPECTED_OUTPUT[program]
        results = [convert(rgb) for rgb in self.input_rgb]
        files = [(name, [(r[byte],) * 3 for r in results]) for name, byte in planes]
        # A reader's red is byte 2, its green byte 1 and its blue byte 0.
        files.append(("result.bmp", [(r[2], r[1], r[0]) for r in results]))
        return files

    def read_back(self, path):
        """(width, height, bits per channel, pixels) as the tool reads them."""
        raise NotImplementedError

    def test_every_output_reads_back(self):
        for program in PROGRAMS:
            work = os.path.join(self.dir, program)
            os.mkdir(work)
            run = run_program(program, [self.input, "result.bmp"], work)
            self.assertEqual(run.returncode, 0, run.stderr)
            for name, expected in self.expected_files(program):
                with self.subTest(program=program, file=name):
                    width, height, depth, pixels = self.read_back(os.path.join(work, name))
                    self.assertEqual((width, height, depth), (WIDTH, HEIGHT, 8))
                    self.assertEqual(pixels, expected)


class PillowReadsOutputsTest(OutputsReadBack, unittest.TestCase):
    def read_back(self, path):
        from PIL import Image
        with Image.open(path) as picture:
            self.assertEqual((picture.format, picture.mode), ("BMP", "RGB"))
            return picture.width, picture.height, 8, list(picture.getdata())


class ImageMagickReadsOutputsTest(OutputsReadBack, unittest.TestCase):
    def read_back(self, path):
        described = subprocess.run([IDENTIFY, "-format", "%m %w %h %z", path],
                                   check=True, capture_output=True, text=True).stdout.split()
        self.assertEqual(described[0], "BMP3")  # the 40-byte information header
        width, height, depth = (int(v) for v in described[1:])
        raw = subprocess.run([CONVERT, path, "-depth", "8", "rgb:-"],
                             check=True, capture_output=True).stdout
        pixels = [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]
        return width, height, depth, pixels


class RefusedFilesTest(unittest.TestCase):
    """Files the writers make that the programs do not take, with the exit
    status and message the README documents; nothing is written for them."""

    # (case, how to write it from source.png, status, message)
    cases = [
        ("larger_header_24", [CONVERT, "source.png", "-type", "TrueColor", "BMP:in.bmp"], 6, b""),
        ("bit_fields_32", [CONVERT, "source.png", "-alpha", "set", "BMP:in.bmp"], 3, b""),
        ("bit_fields_16", [CONVERT, "source.png", "-define", "bmp:subtype=RGB565",
                           "BMP3:in.bmp"], 3, b""),
        ("run_length_8", [CONVERT, "source.png", "-colors", "200", "-type", "Palette",
                          "-compress", "RLE", "BMP3:in.bmp"], 3, b""),
        ("four_bits", [CONVERT, "source.png", "-colors", "12", "-type", "Palette",
                       "-compress", "None", "BMP3:in.bmp"], 1, b""),
        ("larger_header_1", [CONVERT, "source.png", "-colors", "2", "-type", "Palette",
                             "-compress", "None", "BMP:in.bmp"], 8,
         b"Unexpected, requirement is 2, lut size. 146, 23\n"),
        ("no_file_header", "pillow_dib", 2, b""),
    ]

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        source_picture().save(os.path.join(self.dir, "source.png"))

    def tearDown(self):
        self.tmp.cleanup()

    def test_refused_with_documented_status(self):
        from PIL import Image
        for name, writer, status, message in self.cases:
            with self.subTest(case=name):
                if writer == "pillow_dib":
                    with Image.open(os.path.join(self.dir, "source.png")) as picture:
                        picture.convert("RGB").save(os.path.join(self.dir, "in.bmp"), "DIB")
                else:
                    subprocess.run(writer, cwd=self.dir, check=True, capture_output=True)
                for program in PROGRAMS:
                    run = run_program(program, ["in.bmp", "out.bmp"], self.dir)
                    self.assertEqual((run.returncode, run.stderr), (status, message), program)
                    self.assertEqual(sorted(os.listdir(self.dir)), ["in.bmp", "source.png"])


class LargerHeaderPalettes(SourcePictureDir):
    """8-bit files whose palette follows an information header larger than
    40 bytes convert exactly as the same picture written with 24 bits per
    pixel and the 40-byte header."""

    # (case name, information header size the file must have)
    cases = []

    def write_case(self, name, png_path, bmp_path):
        raise NotImplementedError

    def write_true_colour(self, bmp_path, out_path):
        raise NotImplementedError

    def test_converts_as_the_true_colour_file(self):
        for name, info_size in self.cases:
            with self.subTest(case=name):
                path = os.path.join(self.dir, name + ".bmp")
                self.write_case(name, self.png, path)
                h = ref.read_header(read_file(path))
                self.assertEqual((h["info_size"], h["bit_count"], h["compression"]),
                                 (info_size, 8, 0))
                true_colour = os.path.join(self.dir, name + "_24.bmp")
                self.write_true_colour(path, true_colour)
                h = ref.read_header(read_file(true_colour))
                self.assertEqual((h["info_size"], h["bit_count"], h["off_bits"]), (40, 24, 54))
                for program in ("tesvar", "morvanex"):
                    assert_converts_as(self, program, path, None, true_colour, self.dir)


def with_larger_header(data, info_size):
    """A 40-byte-header file rewritten with an information header of
    info_size bytes, the palette and pixels moved up behind it. The added
    header bytes are non-zero, as a colour space block would be, so that a
    palette read from byte 54 shows."""
    extra = info_size - 40
    out = bytearray(data[:54]) + bytes(range(1, extra + 1)) + data[54:]
    (off_bits,) = struct.unpack_from("<I", data, 10)
    struct.pack_into("<I", out, 2, len(out))
    struct.pack_into("<I", out, 10, off_bits + extra)
    struct.pack_into("<I", out, 14, info_size)
    return bytes(out)


class BuiltLargerHeaderPalettesTest(LargerHeaderPalettes, unittest.TestCase):
    cases = [("header_108", 108), ("header_124", 124)]

    def write_case(self, name, png_path, bmp_path):
        from PIL import Image
        plain = bmp_path + ".plain.bmp"
        with Image.open(png_path) as picture:
            picture.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=256).save(plain)
        write_file(bmp_path, with_larger_header(read_file(plain), dict(self.cases)[name]))

    def write_true_colour(self, bmp_path, out_path):
        from PIL import Image
        with Image.open(bmp_path) as picture:
            picture.convert("RGB").save(out_path, "BMP")


class ImageMagickLargerHeaderPalettesTest(LargerHeaderPalettes, unittest.TestCase):
    cases = [("plain_bmp", 124)]

    def write_case(self, name, png_path, bmp_path):
        subprocess.run([CONVERT, png_path, "-colors", "200", "-compress", "None",
                        "BMP:" + bmp_path], check=True, capture_output=True)

    def write_true_colour(self, bmp_path, out_path):
        subprocess.run([CONVERT, bmp_path, "-type", "TrueColor", "BMP3:" + out_path],
                       check=True, capture_output=True)


class GraphicsMagickLargerHeaderPalettesTest(LargerHeaderPalettes, unittest.TestCase):
    # GraphicsMagick's default writer picks the header from the colour
    # information of its input: a gamma gives 108 bytes, sRGB 124.
    cases = [("gamma", 108), ("srgb", 124)]
    chunks = {"gamma": (b"gAMA", struct.pack(">I", 45455)), "srgb": (b"sRGB", b"\x00")}

    def write_case(self, name, png_path, bmp_path):
        from PIL import Image, PngImagePlugin
        tagged = bmp_path + ".png"
        info = PngImagePlugin.PngInfo()
        info.add(*self.chunks[name])
        with Image.open(png_path) as picture:
            picture.save(tagged, pnginfo=info)
        subprocess.run([GM, "convert", tagged, "-colors", "100", "-compress", "None", bmp_path],
                       check=True, capture_output=True)

    def write_true_colour(self, bmp_path, out_path):
        subprocess.run([GM, "convert", bmp_path, "-type", "TrueColor", "BMP3:" + out_path],
                       check=True, capture_output=True)


class PipedInputTest(unittest.TestCase):
    """A pipe or FIFO as the input is read to its end and converts as the
    same bytes in a file do; what it cannot give is refused as a file of
    that many bytes would be."""

    def setUp(self):
        skip_for_windows_programs(self, "Windows has no /dev/stdin, /dev/zero or FIFOs to name")
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.input = os.path.join(self.dir, "input.bmp")
        source_picture().save(self.input, "BMP")
        self.data = read_file(self.input)

    def tearDown(self):
        self.tmp.cleanup()

    def test_pipe_converts_as_the_file(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                assert_converts_as(self, program, "/dev/stdin", self.data, self.input, self.dir)

    def test_long_pipe_converts_as_the_file(self):
        # Several megabytes, far beyond the first block a stream is read into.
        from PIL import Image
        large = os.path.join(self.dir, "large.bmp")
        source_picture().resize((1500, 1100), Image.BILINEAR).save(large, "BMP")
        self.assertGreater(os.path.getsize(large), 4 << 20)
        assert_converts_as(self, "tesvar", "/dev/stdin", read_file(large), large, self.dir)

    def test_fifo_converts_as_the_file(self):
        fifo = os.path.join(self.dir, "fifo.bmp")
        os.mkfifo(fifo)

        def feed():
            with open(fifo, "wb") as f:
                f.write(self.data)

        writer = threading.Thread(target=feed)
        writer.start()
        try:
            assert_converts_as(self, "morvane", fifo, None, self.input, self.dir)
        finally:
            writer.join(timeout=60)

    def test_short_streams_are_refused_with_their_length(self):
        # (what, input path, bytes on stdin, status, message)
        cases = [
            ("empty pipe", "/dev/stdin", b"", 13,
             b"'/dev/stdin' file size erro. too small(0 Byte)\n"),
            ("30-byte pipe", "/dev/stdin", self.data[:30], 13,
             b"'/dev/stdin' file size erro. too small(30 Byte)\n"),
            ("54-byte pipe", "/dev/stdin", self.data[:54], 13,
             b"'/dev/stdin' file size erro. too small(54 Byte)\n"),
            # One byte more passes the loader; the rows are missing.
            ("55-byte pipe", "/dev/stdin", self.data[:55], 4, b""),
            # A character device keeps its size of 0 and is never read.
            ("endless device", "/dev/zero", None, 13,
             b"'/dev/zero' file size erro. too small(0 Byte)\n"),
        ]
        for what, path, stdin_bytes, status, message in cases:
            with self.subTest(case=what):
                run, written = run_in_fresh_dir("tesvarex", [path, "out.bmp"], self.dir,
                                                stdin_bytes)
                self.assertEqual((run.returncode, run.stderr), (status, message))
                self.assertEqual(written, {})


class ImageMagickPipeTest(unittest.TestCase):
    def test_writer_piped_into_a_program(self):
        skip_for_windows_programs(self, "Windows has no /dev/stdin to name")
        with tempfile.TemporaryDirectory() as tmp:
            png = os.path.join(tmp, "source.png")
            source_picture().save(png)
            file_path = os.path.join(tmp, "in.bmp")
            subprocess.run([CONVERT, png, "-type", "TrueColor", "BMP3:" + file_path], check=True)
            piped = subprocess.run([CONVERT, png, "-type", "TrueColor", "BMP3:-"], check=True,
                                   capture_output=True).stdout
            assert_converts_as(self, "morvanex", "/dev/stdin", piped, file_path, tmp)


GROUPS = {
    "reference": ([ReferenceTest], []),
    "pillow": ([PillowInputsTest, PillowReadsOutputsTest, BuiltLargerHeaderPalettesTest,
                PipedInputTest], [have_pillow]),
    "imagemagick": ([ImageMagickInputsTest, ImageMagickReadsOutputsTest, RefusedFilesTest,
                     ImageMagickLargerHeaderPalettesTest, ImageMagickPipeTest],
                    [have_pillow, have_imagemagick]),
    "graphicsmagick": ([GraphicsMagickLargerHeaderPalettesTest],
                       [have_pillow, have_graphicsmagick]),
}


def main():
    global BIN_DIR, PROGRAMS, EXE_SUFFIX, EMULATOR, WINDOWS_PROGRAMS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bin_dir")
    parser.add_argument("group", choices=sorted(GROUPS))
    parser.add_argument("--programs", required=True)
    parser.add_argument("--exe-suffix", default="")
    parser.add_argument("--emulator", default="")
    args = parser.parse_args()
    BIN_DIR = os.path.abspath(args.bin_dir)
    PROGRAMS = args.programs.split(";")
    unknown = [p for p in PROGRAMS if p not in EXPECTED_OUTPUT]
    if unknown:
        sys.exit(f"no expected output for {', '.join(unknown)}: add it to EXPECTED_OUTPUT")
    EXE_SUFFIX = args.exe_suffix
    EMULATOR = shlex.split(args.emulator)
    WINDOWS_PROGRAMS = EXE_SUFFIX.lower() == ".exe"
    classes, needs = GROUPS[args.group]
    for need in needs:
        if not need():
            print(f"skipped: {need.__name__[5:]} is not installed")
            sys.exit(SKIP)
    loader = unittest.TestLoader()
    suite = unittest.TestSuite(loader.loadTestsFromTestCase(c) for c in classes)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()

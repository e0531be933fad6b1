#!/usr/bin/env bash
# Scale checks, run by hand (not part of the test suite; needs ~5 GB of
# memory and of space under the work directory):
#   bench/scale_check.sh [--past-2g]
# 1. Converts a 16384 x 16384 24-bit image with tesvar and morvane and
#    checks every pixel of each result (bench/scale_check.cpp).
# 2. Runs tiny files whose headers claim gigabytes of pixels and checks each
#    is refused with its status, at once and without reserving the memory.
# --past-2g adds a 23171 x 23171 image, whose working images are just past
# 2^31 bytes (about 8 GB in all).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target scale_check tesvar morvane >/dev/null
work=$(mktemp -d "${SCALE_DIR:-/dev/shm}/scale-XXXXXX")
trap 'rm -rf "$work"' EXIT


for program in tesvar morvane; do
  /usr/bin/time -f "$program 16384 x 16384: %e s wall, %M KiB peak (check included)" \
    "$build/bench/scale_check" "$PWD/$build/programs/$program" "$work"
  rm -f "$work"/*.bmp
done
if [[ " $* " == *" --past-2g "* ]]; then
  "$build/bench/scale_check" "$PWD/$build/programs/tesvar" "$work" 23171 23171
  rm -f "$work"/*.bmp
fi

# Tiny files that claim huge images: each must end with its status, in
# well under a second and a few MiB.
python3 - "$work" <<'PY'
import struct, sys
def bmp(name, width, height, bits, off=54, size_image=0, pixels=46):
    header = struct.pack('<2sIHHIIiiHHIIiiII', b'BM', 0, 0, 0, off, 40, width, height,
                         1, bits, 0, size_image, 0, 0, 0, 0)
    open(f'{sys.argv[1]}/{name}.bmp', 'wb').write(header + bytes(pixels))
bmp('s4_24bit_65536x65536', 65536, 65536, 24)
bmp('s4_8bit_max_width_min_height', 2**31 - 1, -2**31, 8, off=58)
bmp('s4_1bit_max_width', 2**31 - 1, 1, 1, off=62)
bmp('s4_size_image_wraps', 65536, 65537, 32, size_image=2**32 - 1)
bmp('s1_16bit_40000x40000', 40000, 40000, 16)
bmp('s9_negative_width', -65536, 65536, 24)
PY
failed=0
for file in "$work"/s*_*.bmp; do
  name=$(basename "$file" .bmp)
  want=${name%%_*}; want=${want#s}
  set +e
  /usr/bin/time -o "$work/time" -f '%e %M' "$build/programs/tesvar" "$file" "$work/out.bmp" 2>/dev/null
  status=$?
  set -e
  read -r seconds kib < <(tail -n 1 "$work/time")
  verdict=ok
  if [ "$status" != "$want" ] || [ "$kib" -gt 16384 ] || [ -e "$work/out.bmp" ]; then
    verdict=FAILED; failed=1
  fi
  printf '%-32s status %2s (want %s)  %5s s  %6s KiB peak  %s\n' "$name" "$status" "$want" \
    "$seconds" "$kib" "$verdict"
  rm -f "$work/out.bmp"
done
exit "$failed"

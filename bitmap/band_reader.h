// The input bitmap as the programs read it: a band of pixels at a time.
// The reader owns everything the format decides: the header and its check,
// the layout, the palette (at most 256 entries, since an index is one
// byte), where each band lies in the file, and how its stored bytes become
// what a conversion reads.
#pragma once

#include <cstdint>

#include "bitmap/bitmap_input.h"
#include "bitmap/pixel_rows.h"
#include "bitmap/unpack_rows.h"

// The working pixels of one band: enough to share out the cost of each
// read and write, few enough to stay in the processor's cache. A row wider
// than this is read in pieces of this many pixels (a multiple of 8, so that
// a piece of a 1-bit row starts on a whole byte).
constexpr std::uint64_t band_pixels = std::uint64_t{64} << 10;

// An index is one byte, so no more palette entries can be looked up.
constexpr std::uint32_t most_palette_entries = 256;

// Where the bands of the image lie: each is rows_per_band whole rows or,
// when a row is wider than a band, one piece of a row.
struct band_plan {
  std::uint64_t rows_per_band = 0;   // 1 for pieces
  std::uint64_t pieces_per_row = 1;  // 1 for whole rows
  std::uint64_t piece_pixels = 0;    // pixels of each row in a band
  std::uint64_t count = 0;           // bands in the image; 0 when it is empty
};

struct band {
  std::uint64_t index;
  std::uint64_t first_row;  // working row, the bottom row 0
  std::uint64_t rows;
  std::uint64_t first_pixel;  // of each of its rows
  std::uint64_t pixels;       // of each of its rows
};

struct band_reader {
  bitmap_input input;
  bitmap_header header{};
  bitmap_layout layout{};
  std::uint8_t palette_entries[4 * most_palette_entries] = {};
  palette_view palette{palette_entries, 0};
  band_plan plan;
  std::uint64_t working_bytes = 0;  // of one band: pixels x 4
  std::uint64_t stored_bytes = 0;   // the most stored bytes of one band
};

// Opens path, reads and checks its header and plans its bands. Returns 0,
// the loader's or the header check's status (with their messages), or
// status::unsupported_depth (no message) for a depth the programs refuse.
// A stream's length is not known yet: a header the rules refuse at every
// length ends it here, with the status the bytes read so far give; any
// other is checked against the length by finish_band_reader.
int open_band_reader(const char* path, band_reader* reader);

// After the last band: a stream is counted to the end its header declares
// and checked as a file of that length would be. Returns 0 (always for a
// file), or the header check's status, or read_error after its message.
int finish_band_reader(band_reader* reader);

// Reads the palette the rows may look up, once. Returns 0, or read_error
// after printing its message.
int read_band_palette(band_reader* reader);

// Why a band or the palette could not be read: a stream that ended gets
// the status its length gives as a file (no message, as for a file cut
// short); anything else is a read error, its message printed.
int report_band_read_failure(band_reader* reader);

band band_at(const band_reader& reader, std::uint64_t index);

// The band read k-th: band k of a file, read at its offsets; for a stream,
// the band whose bytes come k-th (the top one first where rows are stored
// top first).
band band_in_read_order(const band_reader& reader, std::uint64_t k);

// The band's first pixel's index in the working image (rows of width
// pixels, the bottom row first): where its bytes go in every output.
std::uint64_t band_first_pixel(const band_reader& reader, const band& b);

// What a conversion reads for a band: working pixels (width x rows, 4 bytes
// each) or, when from_24_bit was asked for and the rows are 24-bit, the
// stored rows themselves (3 bytes a pixel; row r at first_row + r * stride,
// the stride negative for rows stored top first).
struct band_source {
  std::uint8_t* working = nullptr;
  const std::uint8_t* first_row = nullptr;
  std::int64_t stride = 0;
};

// Reads band b into stored (stored_bytes long) and makes its pixels ready:
// unpacked into working (working_bytes long), or, where the stored bytes
// already are what a conversion reads (32-bit rows, and 24-bit ones when
// from_24_bit), left where they are. False when the bytes could not all be
// read (nothing printed).
bool read_band(const band_reader& reader, const band& b, std::uint8_t* stored,
               std::uint8_t* working, bool from_24_bit, band_source* source);

void close_band_reader(band_reader* reader);

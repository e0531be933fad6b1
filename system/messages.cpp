#include "system/messages.h"

#include <cstdio>
#include <cstring>

#include "system/text_output.h"

namespace {

struct message_entry {
  message_id id;
  const char* text;
};

// Indexed by message_id; each entry names its id so that the order can be
// checked at compile time.
constexpr message_entry message_texts[] = {
    {message_id::usage, "\nusage: %s %s [input_bmp [output_bmp]]\n\n"},
    {message_id::open_error, "'%s' open error.\n"},
    {message_id::stat_error, "'%s' stat error.\n"},
    {message_id::file_too_small, "'%s' file size erro. too small(%d Byte)\n"},
    {message_id::load_no_memory, "Couldn't allocate memory.\n"},
    {message_id::read_error, "'%s' read error.\n"},
    {message_id::palette_8bit, "Unexpected lut size. %u, %u\n"},
    {message_id::palette_1bit, "Unexpected, requirement is 2, lut size. %u, %u\n"},
    {message_id::no_memory_destination, "Couldn't allocate memory. destination\n"},
    {message_id::no_memory_source, "Couldn't allocate memory. source\n"},
    {message_id::no_memory_planes, "Couldn't allocate memory. planes\n"},
    {message_id::conversion_not_completed, "Image processing is not completed.\n"},
    {message_id::cannot_create, "File '%s' cannot create.\n"},
    {message_id::write_error, "File '%s' write error.\n"},
};

constexpr bool table_in_id_order() {
  for (std::size_t i = 0; i < sizeof message_texts / sizeof message_texts[0]; ++i) {
    if (static_cast<std::size_t>(message_texts[i].id) != i) {
      return false;
    }
  }
  return true;
}
static_assert(table_in_id_order(), "message_texts must follow the order of message_id");

// Collects a message so that it reaches the stream in one write where it
// fits, and in as few as possible where a long name does not.
struct message_buffer {
  char bytes[message_piece_bytes];
  std::size_t used = 0;
};

void flush(message_buffer& out) {
  if (out.used > 0) {
    write_text(stderr, out.bytes, out.used);
    out.used = 0;
  }
}

// The bytes of a full buffer up to the start of a UTF-8 character that the
// buffer does not hold whole, so that no write splits a character.
std::size_t complete_characters(const message_buffer& out) {
  for (std::size_t back = 1; back <= 3 && back <= out.used; ++back) {
    const auto c = static_cast<unsigned char>(out.bytes[out.used - back]);
    if ((c & 0xC0u) != 0x80u) {
      const std::size_t length = c >= 0xF0u ? 4 : c >= 0xE0u ? 3 : c >= 0xC0u ? 2 : 1;
      return length > back ? out.used - back : out.used;
    }
  }
  return out.used;
}

// Writes a full buffer, keeping back a character it holds only in part.
void flush_full(message_buffer& out) {
  const std::size_t whole = complete_characters(out);
  write_text(stderr, out.bytes, whole);
  out.used -= whole;
  std::memmove(out.bytes, out.bytes + whole, out.used);
}

void put(message_buffer& out, char c) {
  if (out.used == sizeof out.bytes) {
    flush_full(out);
  }
  out.bytes[out.used++] = c;
}

bool is_control_byte(unsigned char c) { return c < 0x20 || c == 0x7F; }

void put_name(message_buffer& out, const char* name) {
  for (const char* p = name; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (is_control_byte(c)) {
      put(out, '\\');
      put(out, static_cast<char>('0' + (c >> 6)));
      put(out, static_cast<char>('0' + ((c >> 3) & 7)));
      put(out, static_cast<char>('0' + (c & 7)));
    } else {
      put(out, *p);
    }
  }
}

// %u prints the low 32 bits as an unsigned number, %d as a signed one.
void put_number(message_buffer& out, std::int64_t value, bool as_unsigned) {
  char digits[24];
  const auto low_bits = static_cast<std::uint32_t>(static_cast<std::uint64_t>(value));
  if (as_unsigned) {
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(low_bits));
  } else {
    const long long signed_value = low_bits <= 0x7FFFFFFFu
                                       ? static_cast<long long>(low_bits)
                                       : static_cast<long long>(low_bits) - 0x100000000LL;
    std::snprintf(digits, sizeof digits, "%lld", signed_value);
  }
  for (const char* p = digits; *p != '\0'; ++p) {
    put(out, *p);
  }
}

}  // namespace

const char* message_text(message_id id) { return message_texts[static_cast<int>(id)].text; }

void print_message(message_id id, const message_values& values) {
  message_buffer out;
  const char* const names[2] = {values.name, values.second_name};
  const std::int64_t numbers[2] = {values.first, values.second};
  int next_name = 0;
  int next_number = 0;
  for (const char* p = message_text(id); *p != '\0'; ++p) {
    if (p[0] != '%' || p[1] == '\0') {
      put(out, *p);
      continue;
    }
    ++p;
    if (*p == 's' && next_name < 2) {
      const char* name = names[next_name++];
      put_name(out, name != nullptr ? name : "");
    } else if ((*p == 'd' || *p == 'u') && next_number < 2) {
      put_number(out, numbers[next_number++], *p == 'u');
    }
  }
  flush(out);
}

void print_name_message(message_id id, const char* name) {
  message_values values;
  values.name = name;
  print_message(id, values);
}

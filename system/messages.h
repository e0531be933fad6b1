// Every text the programs print on the standard error stream, and the one
// place that prints them. A file name or program name inside a message is
// printed with each control byte (below 0x20, and 0x7F) written as a
// backslash and three octal digits, so that no name can move the cursor,
// ring the bell or break a message over two lines.
#pragma once

#include <cstdint>

enum class message_id {
  usage,
  open_error,
  stat_error,
  file_too_small,
  load_no_memory,
  read_error,
  palette_8bit,
  palette_1bit,
  no_memory_destination,
  no_memory_source,
  no_memory_planes,
  conversion_not_completed,
  cannot_create,
  write_error,
};

// What fills the conversions of a message's text, in order: the first and
// second %s take name and second_name, the first and second number
// conversions (%d or %u, of the low 32 bits) take first and second.
struct message_values {
  const char* name = nullptr;
  const char* second_name = "";
  std::int64_t first = 0;
  std::int64_t second = 0;
};

// The text of id with its conversions still in it.
const char* message_text(message_id id);

// Prints message id on the standard error stream in one write.
void print_message(message_id id, const message_values& values = {});

// Prints a message whose only conversion is one name.
void print_name_message(message_id id, const char* name);

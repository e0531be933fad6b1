#include "system/wide_names_windows.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>

namespace {

bool is_high_surrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

bool is_low_surrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Writes code point c as UTF-8 at out, when out is not null; returns its
// byte count.
std::size_t put_utf8(std::uint32_t c, char* out) {
  unsigned char bytes[4];
  std::size_t count = 0;
  if (c < 0x80) {
    bytes[count++] = static_cast<unsigned char>(c);
  } else {
    const std::size_t tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    static const unsigned char lead[] = {0, 0xC0, 0xE0, 0xF0};
    bytes[count++] = static_cast<unsigned char>(lead[tail] | c >> (6 * tail));
    for (std::size_t i = tail; i-- > 0;) {
      bytes[count++] = static_cast<unsigned char>(0x80 | ((c >> (6 * i)) & 0x3F));
    }
  }
  if (out != nullptr) {
    std::memcpy(out, bytes, count);
  }
  return count;
}

bool starts_with(const wchar_t* text, const wchar_t* prefix) {
  return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

}  // namespace

bool to_wide_text(const char* utf8, std::size_t count, wchar_t* out, std::size_t capacity,
                  std::size_t* units) {
  *units = 0;
  if (capacity == 0) {
    return false;
  }
  out[0] = L'\0';
  if (count == 0) {
    return true;
  }
  if (count > INT_MAX || capacity - 1 > INT_MAX) {
    return false;
  }
  const int room = static_cast<int>(capacity - 1);
  const int written =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, static_cast<int>(count), out, room);
  if (written <= 0) {
    return false;
  }
  out[written] = L'\0';
  *units = static_cast<std::size_t>(written);
  return true;
}

bool to_wide_name(const char* utf8, wide_name* wide) {
  return to_wide_text(utf8, std::strlen(utf8), wide->text, sizeof wide->text / sizeof(wchar_t),
                      &wide->length);
}

bool to_literal_wide_name(const char* utf8, wide_name* wide) {
  if (!to_wide_name(utf8, wide)) {
    return false;
  }
  if (starts_with(wide->text, L"\\\\?\\") || starts_with(wide->text, L"\\\\.\\")) {
    return true;
  }
  // The full path goes behind room for the longest prefix, then is moved up
  // to the one it takes.
  static const wchar_t share_prefix[] = L"\\\\?\\UNC";  // its own "\" is the share's first
  constexpr std::size_t room_ahead = sizeof share_prefix / sizeof(wchar_t);
  const wide_name plain = *wide;
  wchar_t* full = wide->text + room_ahead;
  const std::size_t room = sizeof wide->text / sizeof(wchar_t) - room_ahead;
  const DWORD length = GetFullPathNameW(plain.text, static_cast<DWORD>(room), full, nullptr);
  if (length == 0 || length >= room) {
    return false;
  }
  const bool share = starts_with(full, L"\\\\");
  const bool literal = share && (full[2] == L'?' || full[2] == L'.') && full[3] == L'\\';
  const wchar_t* prefix = literal ? L"" : share ? share_prefix : L"\\\\?\\";
  const std::size_t skipped = share && !literal ? 1 : 0;
  const std::size_t prefix_length = std::wcslen(prefix);
  std::memmove(wide->text + prefix_length, full + skipped,
               (length - skipped + 1) * sizeof(wchar_t));
  std::memcpy(wide->text, prefix, prefix_length * sizeof(wchar_t));
  wide->length = prefix_length + length - skipped;
  return true;
}

std::size_t to_argument_utf8(const wchar_t* argument, char* out) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; argument[i] != L'\0'; ++i) {
    std::uint32_t c = static_cast<std::uint16_t>(argument[i]);
    const auto next = static_cast<std::uint16_t>(argument[i + 1]);
    if (is_high_surrogate(c) && is_low_surrogate(next)) {
      c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    }
    bytes += put_utf8(c, out == nullptr ? nullptr : out + bytes);
  }
  if (out != nullptr) {
    out[bytes] = '\0';
  }
  return bytes;
}

void show_unpaired_surrogates(char* bytes, std::size_t count) {
  for (std::size_t i = 0; i + 2 < count; ++i) {
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    const auto third = static_cast<unsigned char>(bytes[i + 2]);
    if (static_cast<unsigned char>(bytes[i]) == 0xED && second >= 0xA0 && second <= 0xBF &&
        (third & 0xC0) == 0x80) {
      bytes[i] = static_cast<char>(0xEF);
      bytes[i + 1] = static_cast<char>(0xBF);
      bytes[i + 2] = static_cast<char>(0xBD);
      i += 2;
    }
  }
}

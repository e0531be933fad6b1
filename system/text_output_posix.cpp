#include "system/text_output.h"

void write_text(std::FILE* stream, const char* bytes, std::size_t count) {
  std::fwrite(bytes, 1, count, stream);
}

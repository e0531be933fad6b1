#include "system/write_output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system/status.h"
#include "system/temporary_files.h"

namespace {

// Writes count bytes in parts of at most largest_stdio_transfer bytes; false
// when any part is not written whole.
bool write_all(std::FILE* file, const std::uint8_t* bytes, std::uint64_t count) {
  if (count > SIZE_MAX) {
    return false;
  }
  const auto total = static_cast<std::size_t>(count);
  for (std::size_t done = 0; done < total;) {
    const std::size_t part = transfer_part(total - done);
    if (std::fwrite(bytes + done, part, 1, file) != 1) {
      return false;
    }
    done += part;
  }
  return true;
}

bool replaces_file(const output_place& place) {
  return place.facts.holds == name_holds::regular_file;
}

// The file the bytes go to: a new temporary file beside the name or, where
// the rules say so, the old file itself.
std::FILE* open_file_at(output_file* out) {
  output_place& place = out->place;
  if (place.decision.action == output_action::write_in_place) {
    // Cut only when the first byte is written: the file may be the input.
    place.cut_before_writing = true;
    return open_in_place(place);
  }
  if (place.decision.action == output_action::create_directly) {
    return create_at_place(place);
  }
  // A file that keeps an old one's attributes is private until it has them.
  std::FILE* file = create_temporary_file(place, place.decision.keep_attributes, &out->slot);
  if (file == nullptr) {
    // The directory refused the new file after all (where the system tells
    // only by refusing): decided again as a directory the user cannot
    // write, which never chooses a replacement.
    if (!creation_was_refused() || !place.facts.directory_writable) {
      return nullptr;
    }
    place.facts.directory_writable = false;
    place.decision = decide_output(place.facts);
    return place.decision.action == output_action::write_in_place ? open_file_at(out) : nullptr;
  }
  if (place.decision.keep_attributes && !copy_file_attributes(file, place)) {
    out->failed = true;
  }
  return file;
}

}  // namespace

int open_output_file(const char* path, const output_request& request, output_file* out) {
  out->path = path;
  out->slot = -1;
  out->failed = false;
  find_output_place(path, request, &out->place);
  const output_action action = out->place.decision.action;
  out->file = action == output_action::refuse ? nullptr
              : out->place.stream != nullptr  ? out->place.stream
                                              : open_file_at(out);
  if (out->file == nullptr) {
    release_output_place(&out->place);
    out->failed = true;
    out->failure = message_id::cannot_create;
    return status::write_failed;
  }
  return status::ok;
}

bool spool_output_file(output_file* out) {
  out->spool = takes_any_write(out->file) ? create_unnamed_file(out->place) : nullptr;
  out->failed = out->failed || out->spool == nullptr;
  return out->spool != nullptr;
}

namespace {

// Writes to the file itself, cut first where that is pending.
void write_directly(output_file* out, const std::uint8_t* bytes, std::uint64_t count) {
  if (out->place.cut_before_writing) {
    out->place.cut_before_writing = false;
    out->failed = out->failed || !cut_to_start(out->file);
  }
  if (!out->failed && !write_all(out->file, bytes, count)) {
    out->failed = true;
  }
}

// The spooled bytes, from their start, written to the file itself.
bool copy_spool(output_file* out) {
  std::int64_t size = 0;
  bool is_pipe = false;
  name_info identity;
  if (std::fflush(out->spool) != 0 || !query_file_size(out->spool, &size, &is_pipe, &identity)) {
    return false;
  }
  std::uint8_t part[std::size_t{64} << 10];
  const auto total = static_cast<std::uint64_t>(size);
  for (std::uint64_t done = 0; done < total && !out->failed; done += sizeof part) {
    const std::uint64_t left = total - done;
    const std::size_t count = left < sizeof part ? static_cast<std::size_t>(left) : sizeof part;
    if (!read_at(out->spool, done, part, count)) {
      return false;
    }
    write_directly(out, part, count);
  }
  return !out->failed;
}

// Where the bytes go now: the spool while there is one.
std::FILE* bytes_go_to(const output_file& out) {
  return out.spool != nullptr ? out.spool : out.file;
}

}  // namespace

void write_output_bytes(output_file* out, const std::uint8_t* bytes, std::uint64_t count) {
  if (out->spool == nullptr) {
    write_directly(out, bytes, count);
  } else if (!out->failed && !write_all(out->spool, bytes, count)) {
    out->failed = true;
  }
}

void flush_output_bytes(output_file* out) {
  if (out->file != nullptr && !out->failed && std::fflush(bytes_go_to(*out)) != 0) {
    out->failed = true;
  }
}

bool writes_at_offsets(const output_file& out) {
  // A temporary file or a spool is a regular file of the run's own, not
  // appended to.
  return out.file != nullptr &&
         (out.slot >= 0 || out.spool != nullptr || takes_writes_at_offsets(out.file));
}

bool write_output_at(const output_file& out, std::uint64_t offset, const std::uint8_t* bytes,
                     std::uint64_t count) {
  return count <= SIZE_MAX &&
         write_file_at(bytes_go_to(out), offset, bytes, static_cast<std::size_t>(count));
}

int close_output_file(output_file* out) {
  if (out->file == nullptr) {
    return out->failed ? status::write_failed : status::ok;
  }
  if (out->spool != nullptr) {
    out->failed = !copy_spool(out);
    std::fclose(out->spool);
    out->spool = nullptr;
  }
  bool whole = !out->failed && std::fflush(out->file) == 0 && std::ferror(out->file) == 0;
  // Only an existing file's content is at stake if the rename reaches the
  // disk before the data it names.
  if (whole && out->slot >= 0 && replaces_file(out->place)) {
    whole = sync_to_storage(out->file);
  }
  const bool closed = std::fclose(out->file) == 0;
  out->file = nullptr;
  bool placed = whole && closed;
  if (out->slot >= 0) {
    if (placed) {
      placed = commit_temporary_file(out->slot, out->place);
    } else {
      discard_temporary_file(out->slot);
    }
  }
  release_output_place(&out->place);
  if (!placed) {
    out->failed = true;
    out->failure = message_id::write_error;
  }
  return placed ? status::ok : status::write_failed;
}

void abandon_output_file(output_file* out) {
  if (out->spool != nullptr) {
    std::fclose(out->spool);
    out->spool = nullptr;
  }
  if (out->file == nullptr) {
    return;
  }
  std::fclose(out->file);
  out->file = nullptr;
  if (out->slot >= 0) {
    discard_temporary_file(out->slot);
  }
  release_output_place(&out->place);
}

void report_output_failure(const output_file& out) {
  if (out.failed) {
    print_name_message(out.failure, out.path);
  }
}

bool writes_directly_over(const output_file& out, const name_info& file) {
  if (out.file == nullptr || out.slot >= 0) {
    return false;
  }
  return is_same_file(inspect_open_file(out.file), file);
}

int write_output_file(const char* path, const output_piece* pieces, int piece_count,
                      output_name_kind kind) {
  output_file out;
  output_request request;
  request.kind = kind;
  if (open_output_file(path, request, &out) == status::ok) {
    for (int i = 0; i < piece_count; ++i) {
      write_output_bytes(&out, pieces[i].bytes, pieces[i].count);
    }
    close_output_file(&out);
  }
  report_output_failure(out);
  return out.failed ? status::write_failed : status::ok;
}

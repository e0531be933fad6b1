#include "core/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

name_info describe(const struct stat& st) {
  name_info info;
  info.exists = true;
  info.regular = S_ISREG(st.st_mode);
  info.directory = S_ISDIR(st.st_mode);
  info.link = S_ISLNK(st.st_mode);
  info.stream = S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
  info.owned_by_user = st.st_uid == geteuid();
  info.permissions = static_cast<unsigned>(st.st_mode) & 0777u;
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.inode = static_cast<std::uint64_t>(st.st_ino);
  return info;
}

}  // namespace

std::FILE* open_for_reading(const char* path) { return std::fopen(path, "rb"); }

bool query_file_size(std::FILE* file, std::int64_t* size, bool* is_pipe) {
  struct stat st {};
  if (fstat(fileno(file), &st) != 0) {
    return false;
  }
  *is_pipe = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
  *size = static_cast<std::int64_t>(st.st_size);
  return true;
}

name_info inspect_name(const char* path, bool follow_links) {
  struct stat st {};
  const int result = follow_links ? stat(path, &st) : lstat(path, &st);
  return result == 0 ? describe(st) : name_info{};
}

name_info inspect_open_file(std::FILE* file) {
  struct stat st {};
  return fstat(fileno(file), &st) == 0 ? describe(st) : name_info{};
}

std::size_t directory_part_length(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

unsigned new_file_permissions() {
  // umask can only be read by setting it; the program is single-threaded.
  const mode_t mask = umask(0);
  umask(mask);
  return 0666u & ~static_cast<unsigned>(mask);
}

std::FILE* create_unique_file(char* path) {
  const int fd = mkostemp(path, O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    unlink(path);
    errno = error;
  }
  return file;
}

bool set_permissions(std::FILE* file, unsigned permissions) {
  return fchmod(fileno(file), static_cast<mode_t>(permissions)) == 0;
}

bool sync_to_storage(std::FILE* file) { return fsync(fileno(file)) == 0; }

bool rename_replacing(const char* from, const char* to) { return rename(from, to) == 0; }

void remove_name(const char* path) { unlink(path); }

std::FILE* open_stream_for_writing(const char* path, bool* is_stream) {
  *is_stream = inspect_name(path, true).stream;
  return *is_stream ? std::fopen(path, "wb") : nullptr;
}

std::FILE* open_regular_file_in_place(const char* path) {
  // Non-blocking so that a FIFO put there since it was inspected cannot
  // hold the run; the descriptor is checked before anything is truncated.
  const int fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd, 0) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
  }
  return file;
}

bool creation_was_refused() { return errno == EACCES || errno == EPERM; }

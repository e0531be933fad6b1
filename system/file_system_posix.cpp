// Linux: names are looked up one link at a time through directory handles
// (openat with O_PATH), so that each decision is made on the very entry
// that is then used.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "system/file_system.h"

namespace {

name_info describe(const struct stat& st) {
  name_info info;
  info.exists = true;
  info.regular = S_ISREG(st.st_mode);
  info.directory = S_ISDIR(st.st_mode);
  info.stream = S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.inode = static_cast<std::uint64_t>(st.st_ino);
  return info;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void close_handle(int* handle) {
  if (*handle >= 0) {
    close(*handle);
    *handle = -1;
  }
}

// The kernel's limit on links met in one lookup.
constexpr int most_links = 40;

// The access list that a file's permission bits are only part of.
constexpr const char access_list_name[] = "system.posix_acl_access";

// Which symbolic links a lookup follows.
enum class link_rule {
  none,     // none: the link itself is the entry
  trusted,  // those of the user or of the owner of the directory they stand in
  all,
};

// The user's own links and those of the directory's owner are the ones
// the kernel follows in sticky directories; nobody else can plant them.
bool may_follow(link_rule rule, const struct stat& link, int directory) {
  if (rule == link_rule::all) {
    return true;
  }
  if (rule == link_rule::none) {
    return false;
  }
  struct stat holder {};
  return link.st_uid == geteuid() ||
         (fstat(directory, &holder) == 0 && holder.st_uid == link.st_uid);
}

// The directory whose entries are the process's open descriptors:
// /proc/self/fd, which /dev/fd leads to on Linux. It is looked up while
// directory is held open, so both lookups meet the same directory.
bool is_descriptor_directory(int directory) {
  struct stat here {};
  struct stat descriptors {};
  return fstat(directory, &here) == 0 && stat("/proc/self/fd", &descriptors) == 0 &&
         same_file(here, descriptors);
}

// The descriptor an entry of the descriptor directory names (decimal, no
// leading zero, as the kernel spells them), or -1.
int descriptor_number(const char* entry) {
  if (entry[0] == '\0' || (entry[0] == '0' && entry[1] != '\0')) {
    return -1;
  }
  int number = 0;
  for (const char* digit = entry; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || number > (INT_MAX - 9) / 10) {
      return -1;
    }
    number = number * 10 + (*digit - '0');
  }
  return number;
}

// Opens the directory that holds the last part of path, looked up from
// base, and copies that part into entry (path_buffer_bytes long). -1 with
// errno set when the directory cannot be opened.
int open_parent(int base, const char* path, char* entry) {
  const char* slash = std::strrchr(path, '/');
  const char* name = slash == nullptr ? path : slash + 1;
  const std::size_t name_length = std::strlen(name);
  if (name_length >= path_buffer_bytes) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(entry, name, name_length + 1);
  if (slash == nullptr) {
    return openat(base, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  char parent[path_buffer_bytes];
  // "/NAME" lies in "/", which keeps its slash.
  const auto parent_length = static_cast<std::size_t>(slash == path ? 1 : slash - path);
  if (parent_length >= sizeof parent) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(parent, path, parent_length);
  parent[parent_length] = '\0';
  return openat(base, parent, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Where a name leads: the directory its final entry stands in, and a handle
// of that entry itself (-1 when nothing stands there).
struct found_name {
  int directory = -1;
  int object = -1;
  struct stat info {};
  bool in_descriptor_directory = false;
};

void release_found_name(found_name* found) {
  close_handle(&found->object);
  close_handle(&found->directory);
}

// Walks to the entry path finally names, following the links rule allows.
// entry receives that entry's name. True when the entry was found, or is
// known to be missing (found->object -1); false when the name leads nowhere
// usable. The caller releases found either way.
bool find_name(const char* path, link_rule rule, char* entry, found_name* found) {
  int directory = open_parent(AT_FDCWD, path, entry);
  for (int links = 0; directory >= 0; ++links) {
    found->directory = directory;
    if (rule != link_rule::none && is_descriptor_directory(directory)) {
      found->in_descriptor_directory = true;
      return true;
    }
    if (entry[0] == '\0') {
      return false;  // a name ending in "/" names a directory
    }
    found->object = openat(directory, entry, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (found->object < 0) {
      return errno == ENOENT;
    }
    if (fstat(found->object, &found->info) != 0) {
      return false;
    }
    if (!S_ISLNK(found->info.st_mode) || !may_follow(rule, found->info, directory)) {
      return true;
    }
    char target[path_buffer_bytes];
    const ssize_t length =
        links < most_links ? readlinkat(found->object, "", target, sizeof target - 1) : -1;
    close_handle(&found->object);
    if (length <= 0) {
      return false;
    }
    target[length] = '\0';
    directory = open_parent(directory, target, entry);
    close_handle(&found->directory);
  }
  return false;
}

// A copy of the process's descriptor that an entry of the descriptor
// directory names, or -1.
int copy_named_descriptor(const char* entry) {
  const int number = descriptor_number(entry);
  return number < 0 ? -1 : fcntl(number, F_DUPFD_CLOEXEC, 0);
}

std::FILE* stream_of(int handle, const char* mode) {
  if (handle < 0) {
    return nullptr;
  }
  std::FILE* file = fdopen(handle, mode);
  if (file == nullptr) {
    close(handle);
  }
  return file;
}

// A descriptor of the process, named through the descriptor directory, is
// written as opening its name would write it: a regular file from its
// start, cut to what is written (*cut: just before the first byte). One
// open for writing is written through a copy of it (a socket cannot be
// opened again); one open only for reading is opened again through its
// name.
std::FILE* open_descriptor_for_writing(int directory, const char* entry, bool* cut) {
  const int number = descriptor_number(entry);
  const int flags = number < 0 ? -1 : fcntl(number, F_GETFL);
  if (flags < 0) {
    return nullptr;
  }
  const int handle = (flags & O_ACCMODE) == O_RDONLY
                         ? openat(directory, entry, O_WRONLY | O_NOCTTY | O_CLOEXEC)
                         : copy_named_descriptor(entry);
  struct stat info {};
  *cut = handle >= 0 && fstat(handle, &info) == 0 && S_ISREG(info.st_mode);
  return stream_of(handle, "wb");
}

// A device, FIFO or socket at the entry, opened for writing only if it is
// still the one that was looked up.
std::FILE* open_stream_entry(const found_name& found, const char* entry) {
  int handle = openat(found.directory, entry, O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  struct stat now {};
  if (handle >= 0 && (fstat(handle, &now) != 0 || !same_file(now, found.info))) {
    close_handle(&handle);
  }
  return stream_of(handle, "wb");
}

// Whether the user may write the file at entry, by the kernel's own check
// for this user (root may write any).
bool may_write(int directory, const char* entry) {
  return faccessat(directory, entry, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0 ||
         (errno != EACCES && errno != EPERM);
}

// What to do with the regular file found at a name.
void place_over_file(found_name* found, bool typed, output_place* place) {
  if (typed && !may_write(found->directory, place->entry)) {
    return;  // refused: its owner made it read-only
  }
  place->refused = false;
  place->replaces_file = true;
  // A file the program chose the name of keeps its attributes only when it
  // is the user's own: nobody keeps access through a file they planted.
  place->keep_attributes = typed || found->info.st_uid == geteuid();
  place->old_file = found->object;
  found->object = -1;
}

void place_at(found_name* found, bool typed, output_place* place) {
  const mode_t type = found->info.st_mode & S_IFMT;
  if (found->in_descriptor_directory) {
    place->stream =
        open_descriptor_for_writing(found->directory, place->entry, &place->cut_before_writing);
    place->refused = place->stream == nullptr;
  } else if (found->object < 0 || type == S_IFLNK) {
    place->refused = false;  // a new file, over a link not followed
  } else if (type == S_IFREG) {
    place_over_file(found, typed, place);
  } else if (type == S_IFDIR) {
    place->refused = true;
  } else if (typed) {
    place->stream = open_stream_entry(*found, place->entry);
    place->refused = place->stream == nullptr;
  } else {
    place->refused = false;  // a device or FIFO the program never opens
  }
}

// Six letters or digits, from the system's random numbers where it has
// them, else from the clock and the process.
void fill_random_letters(char* letters) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  constexpr unsigned alphabet_size = sizeof alphabet - 1;
  static unsigned counter = 0;
  unsigned char random[6];
  if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t mix = static_cast<std::uint64_t>(now.tv_nsec) ^
                        static_cast<std::uint64_t>(getpid()) ^
                        (static_cast<std::uint64_t>(++counter) << 20);
    for (unsigned char& byte : random) {
      mix = mix * 6364136223846793005u + 1442695040888963407u;
      byte = static_cast<unsigned char>(mix >> 33);
    }
  }
  for (std::size_t i = 0; i < sizeof random; ++i) {
    letters[i] = alphabet[random[i] % alphabet_size];
  }
}

// Calls whose failure changes nothing the run reports.
void ignore_result(int /*result*/) {}

// The access list of the old file (read through its handle's name in the
// descriptor directory), set on the new one; skipped where there is none.
void copy_access_list(int old_file, int new_file) {
  char old_name[40];
  std::snprintf(old_name, sizeof old_name, "/proc/self/fd/%d", old_file);
  static char list[65536];  // the largest value the kernel stores
  const ssize_t length = getxattr(old_name, access_list_name, list, sizeof list);
  if (length > 0) {
    ignore_result(fsetxattr(new_file, access_list_name, list, static_cast<std::size_t>(length), 0));
  }
}

}  // namespace

std::FILE* open_for_reading(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file != nullptr) {
    return file;
  }
  // A socket cannot be opened again through its name: a name that leads to
  // a descriptor of the process reads that descriptor.
  const int error = errno;
  char entry[path_buffer_bytes];
  found_name found;
  if (find_name(path, link_rule::all, entry, &found) && found.in_descriptor_directory) {
    file = stream_of(copy_named_descriptor(entry), "rb");
  }
  release_found_name(&found);
  if (file == nullptr) {
    errno = error;
  }
  return file;
}

bool read_at(std::FILE* file, std::uint64_t offset, std::uint8_t* out, std::size_t count) {
  const int handle = fileno(file);
  for (std::size_t done = 0; done < count;) {
    const std::size_t part = transfer_part(count - done);
    const ssize_t got = pread(handle, out + done, part, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

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

bool open_files_can_be_replaced() { return true; }

std::size_t directory_part_length(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

void find_output_place(const char* path, bool follow_links, output_place* place) {
  *place = output_place{};
  place->refused = true;
  found_name found;
  if (find_name(path, follow_links ? link_rule::trusted : link_rule::none, place->entry, &found)) {
    place_at(&found, follow_links, place);
  }
  if (place->stream == nullptr && !place->refused) {
    place->directory = found.directory;
    found.directory = -1;
  }
  release_found_name(&found);
}

void release_output_place(output_place* place) {
  close_handle(&place->old_file);
  close_handle(&place->directory);
}

std::FILE* create_unique_file(int directory, char* pattern, bool private_file) {
  const std::size_t length = std::strlen(pattern);
  if (length < 6) {
    errno = EINVAL;
    return nullptr;
  }
  const mode_t mode = private_file ? 0600 : 0666;
  constexpr int attempts = 100;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    fill_random_letters(pattern + length - 6);
    const int handle =
        openat(directory, pattern, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (handle >= 0) {
      std::FILE* file = fdopen(handle, "wb");
      if (file == nullptr) {
        const int error = errno;
        close(handle);
        unlinkat(directory, pattern, 0);
        errno = error;
      }
      return file;
    }
    if (errno != EEXIST) {
      return nullptr;
    }
  }
  return nullptr;
}

bool copy_file_attributes(std::FILE* file, const output_place& place) {
  const int handle = fileno(file);
  struct stat old_info {};
  struct stat new_info {};
  if (place.old_file < 0 || fstat(place.old_file, &old_info) != 0 ||
      fstat(handle, &new_info) != 0) {
    return false;
  }
  // Root may give the file to anyone; others only to a group of theirs,
  // which the system checks. Either way a refusal leaves the file theirs.
  if (geteuid() == 0 &&
      (new_info.st_uid != old_info.st_uid || new_info.st_gid != old_info.st_gid)) {
    ignore_result(fchown(handle, old_info.st_uid, old_info.st_gid));
  } else if (new_info.st_gid != old_info.st_gid) {
    ignore_result(fchown(handle, static_cast<uid_t>(-1), old_info.st_gid));
  }
  if (fchmod(handle, old_info.st_mode & 0777) != 0) {
    return false;
  }
  copy_access_list(place.old_file, handle);
  return true;
}

bool sync_to_storage(std::FILE* file) { return fsync(fileno(file)) == 0; }

bool rename_entry(int directory, const char* from, const char* to) {
  return renameat(directory, from, directory, to) == 0;
}

void remove_entry(int directory, const char* name) { unlinkat(directory, name, 0); }

std::FILE* open_in_place(const output_place& place) {
  // Non-blocking so that a FIFO put there since the look cannot hold the
  // run; the file must be the one looked up.
  int handle = place.old_file < 0 ? -1
                                  : openat(place.directory, place.entry,
                                           O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat now {};
  struct stat old_info {};
  if (handle >= 0 && (fstat(handle, &now) != 0 || fstat(place.old_file, &old_info) != 0 ||
                      !same_file(now, old_info) || !S_ISREG(now.st_mode))) {
    close_handle(&handle);
  }
  return stream_of(handle, "wb");
}

bool cut_to_start(std::FILE* file) {
  return std::fflush(file) == 0 && ftruncate(fileno(file), 0) == 0 &&
         std::fseek(file, 0, SEEK_SET) == 0;
}

bool creation_was_refused() { return errno == EACCES || errno == EPERM; }

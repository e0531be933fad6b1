// Linux: names are looked up one link at a time through directory handles
// (openat with O_PATH), so that each decision is made on the very entry
// that is then used.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "system/file_system.h"
#include "system/handed_descriptors.h"
#include "system/temporary_names.h"

namespace {

name_holds holds_of(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
      return name_holds::regular_file;
    case S_IFDIR:
      return name_holds::directory;
    case S_IFLNK:
      return name_holds::symbolic_link;
    case S_IFIFO:
      return name_holds::fifo;
    case S_IFSOCK:
      return name_holds::socket;
    default:
      return name_holds::device;
  }
}

name_info describe(const struct stat& st) {
  name_info info;
  info.holds = holds_of(st.st_mode);
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

// Whether directory is one whose entries are the process's own open
// descriptors, however it was reached: /proc/self/fd (where /dev/fd leads),
// /proc/PID/fd with the process's own number, /proc/thread-self/fd or
// /proc/PID/task/TID/fd of the calling thread. Known by what the directory
// is, not by how it was named; only a directory of the process file system
// is worth the lookups.
bool is_descriptor_directory(int directory) {
  constexpr long process_file_system = 0x9fa0;  // PROC_SUPER_MAGIC
  struct statfs system {};
  if (fstatfs(directory, &system) != 0 || system.f_type != process_file_system) {
    return false;
  }
  struct stat here {};
  struct stat descriptors {};
  if (fstat(directory, &here) != 0) {
    return false;
  }
  return (stat("/proc/self/fd", &descriptors) == 0 && same_file(here, descriptors)) ||
         (stat("/proc/thread-self/fd", &descriptors) == 0 && same_file(here, descriptors));
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
  bool fixed = false;  // the entry's flags forbid changing it
  bool in_descriptor_directory = false;
};

// The status of the file behind handle, and whether its flags (where the
// file system has them) make it immutable or append-only. statx gives both
// in one call; where the system lacks it, fstat, and no flags.
bool status_of(int handle, struct stat* info, bool* fixed) {
  struct statx x {};
  *fixed = false;
  if (statx(handle, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &x) != 0) {
    return fstat(handle, info) == 0;
  }
  *info = {};
  info->st_mode = x.stx_mode;
  info->st_uid = x.stx_uid;
  info->st_gid = x.stx_gid;
  info->st_nlink = x.stx_nlink;
  info->st_ino = x.stx_ino;
  info->st_size = static_cast<off_t>(x.stx_size);
  info->st_dev = makedev(x.stx_dev_major, x.stx_dev_minor);
  constexpr std::uint64_t fixing = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  *fixed = (x.stx_attributes & x.stx_attributes_mask & fixing) != 0;
  return true;
}

void release_found_name(found_name* found) {
  close_handle(&found->object);
  close_handle(&found->directory);
}

// Opens the entry in found's directory without following it; found->object
// is -1 when nothing stands there. False when the name leads nowhere usable.
bool look_at_entry(const char* entry, found_name* found) {
  if (entry[0] == '\0') {
    return false;  // a name ending in "/" names a directory
  }
  found->object = openat(found->directory, entry, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (found->object < 0) {
    return errno == ENOENT;
  }
  return status_of(found->object, &found->info, &found->fixed);
}

// Moves found from the link it holds to the directory the link's target
// stands in, with that target's last part in entry; false when the link
// cannot be read or more links were met than the kernel would follow.
bool follow_link(int links, char* entry, found_name* found) {
  char target[path_buffer_bytes];
  const ssize_t length =
      links < most_links ? readlinkat(found->object, "", target, sizeof target - 1) : -1;
  close_handle(&found->object);
  if (length <= 0) {
    return false;
  }
  target[length] = '\0';
  const int directory = open_parent(found->directory, target, entry);
  close_handle(&found->directory);
  found->directory = directory;
  return directory >= 0;
}

// Walks to the entry path finally names, every link followed, for reading.
// entry receives that entry's name. True when the entry was found, or is
// known to be missing (found->object -1); false when the name leads nowhere
// usable. The caller releases found either way.
bool find_name(const char* path, char* entry, found_name* found) {
  found->directory = open_parent(AT_FDCWD, path, entry);
  for (int links = 0; found->directory >= 0; ++links) {
    if (is_descriptor_directory(found->directory)) {
      found->in_descriptor_directory = true;
      return true;
    }
    if (!look_at_entry(entry, found)) {
      return false;
    }
    if (found->object < 0 || !S_ISLNK(found->info.st_mode)) {
      return true;
    }
    if (!follow_link(links, entry, found)) {
      return false;
    }
  }
  return false;
}

// A copy of a descriptor the process was handed open, which an entry of
// the descriptor directory names, or -1.
int copy_named_descriptor(const char* entry) {
  const int number = descriptor_number(entry);
  return number < 0 || handed_descriptor(number) == descriptor_start::closed
             ? -1
             : fcntl(number, F_DUPFD_CLOEXEC, 0);
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

bool is_pipe(int handle) {
  struct stat info {};
  return fstat(handle, &info) == 0 && S_ISFIFO(info.st_mode);
}

bool is_regular(int handle) {
  struct stat info {};
  return handle >= 0 && fstat(handle, &info) == 0 && S_ISREG(info.st_mode);
}

// A device or FIFO at the entry, opened for writing only if it is still
// the one that was looked up.
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

// What a descriptor name's descriptor was at start and what is behind it.
void gather_descriptor_facts(const char* entry, output_facts* facts) {
  const int number = descriptor_number(entry);
  facts->holds = name_holds::descriptor;
  facts->descriptor = number < 0 ? descriptor_start::closed : handed_descriptor(number);
  if (facts->descriptor != descriptor_start::closed) {
    struct stat behind {};
    const bool known = fstat(number, &behind) == 0;
    facts->descriptor_regular = known && S_ISREG(behind.st_mode);
    facts->descriptor_directory = known && S_ISDIR(behind.st_mode);
  }
}

// Whether the entry, or the file a link there leads to, is the input.
bool entry_is_input(const found_name& found, const char* entry, const name_info& input) {
  struct stat target {};
  return is_same_file(describe(found.info), input) ||
         (S_ISLNK(found.info.st_mode) && fstatat(found.directory, entry, &target, 0) == 0 &&
          is_same_file(describe(target), input));
}

// The facts of the directory found's entry stands in. Its flags matter
// only where a file would be made, at the last part.
void gather_directory_facts(const found_name& found, bool step, output_facts* facts) {
  struct stat directory {};
  bool keeps_entries = false;
  const bool known = step ? fstat(found.directory, &directory) == 0
                          : status_of(found.directory, &directory, &keeps_entries);
  if (known) {
    facts->directory_owner = directory.st_uid;
    facts->directory_sticky = (directory.st_mode & S_ISVTX) != 0;
    facts->directory_writable_by_others = (directory.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    facts->directory_writable_by_anyone = (directory.st_mode & S_IWOTH) != 0;
    facts->directory_keeps_entries = keeps_entries;
  }
}

// The facts at the entry found stands at, for decide_output: the last part
// of the name, or a step on the way to it.
output_facts gather_facts(const found_name& found, const output_request& request, const char* entry,
                          bool step) {
  output_facts facts;
  facts.kind = request.kind;
  facts.plane = request.plane;
  facts.step = step;
  facts.user = geteuid();
  facts.root = facts.user == 0;
  if (found.in_descriptor_directory) {
    gather_descriptor_facts(entry, &facts);
    return facts;
  }
  facts.holds = found.object < 0 ? name_holds::nothing : holds_of(found.info.st_mode);
  // A step that is no link is decided by what it is alone.
  if (!step || facts.holds == name_holds::symbolic_link) {
    gather_directory_facts(found, step, &facts);
  }
  // Whether the directory takes a new entry is learned by creating one (see
  // open_output_file): asking first would tell no more, and cost a call.
  if (found.object < 0) {
    return facts;  // nothing stands there
  }
  facts.owner = found.info.st_uid;
  facts.links = found.info.st_nlink;
  facts.fixed = found.fixed;
  facts.writable =
      step || facts.holds != name_holds::regular_file || may_write(found.directory, entry);
  facts.is_input = !step && request.plane && request.input != nullptr &&
                   entry_is_input(found, entry, *request.input);
  return facts;
}

// A descriptor name, written as opening its name would write it: a regular
// file from its start, cut to what is written (just before the first
// byte). One open for writing is written through a copy of it (a socket
// cannot be opened again); one open only for reading is opened again.
void open_descriptor(const found_name& found, output_place* place) {
  const bool reopen = place->decision.action == output_action::reopen_descriptor;
  const int handle =
      reopen ? openat(found.directory, place->lookup.entry, O_WRONLY | O_NOCTTY | O_CLOEXEC)
             : copy_named_descriptor(place->lookup.entry);
  place->cut_before_writing = is_regular(handle);
  place->stream = stream_of(handle, "wb");
}

// Carries out the decision up to the opening of the file: a stream is
// opened, a replacement or an in-place write keeps the directory and the
// old file's handle for the writer. A stream that cannot be opened is a
// refusal.
void carry_out(found_name* found, output_place* place) {
  switch (place->decision.action) {
    case output_action::write_through_descriptor:
    case output_action::reopen_descriptor:
      open_descriptor(*found, place);
      break;
    case output_action::write_as_stream:
      place->stream = open_stream_entry(*found, place->lookup.entry);
      break;
    case output_action::replace:
    case output_action::write_in_place:
    case output_action::create_directly:
      place->lookup.directory = found->directory;
      found->directory = -1;
      if (place->facts.holds == name_holds::regular_file) {
        place->lookup.old_file = found->object;
        found->object = -1;
      }
      return;
    case output_action::refuse:
    case output_action::follow_link:
    case output_action::walk_through:
      return;
  }
  if (place->stream == nullptr) {
    place->decision = output_decision{};
  }
}

// Six letters or digits, from the system's random numbers where it has
// them, else from the clock and the process.
void fill_random_letters(char* letters) {
  static unsigned counter = 0;
  unsigned char random[random_name_letters];
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
  letters_from_random_bytes(random, letters);
}

// Calls whose failure changes nothing the run reports.
void ignore_result(int /*result*/) {}

// The access list of the old file (read through its handle's name in the
// descriptor directory), set on the new one; skipped where there is none.
void copy_access_list(int old_file, int new_file) {
  char old_name[40];
  std::snprintf(old_name, sizeof old_name, "/proc/self/fd/%d", old_file);
  char list[65536];  // the largest value the kernel stores
  const ssize_t length = getxattr(old_name, access_list_name, list, sizeof list);
  if (length > 0) {
    ignore_result(fsetxattr(new_file, access_list_name, list, static_cast<std::size_t>(length), 0));
  }
}

// A walk along an output name, one part at a time, each decided by the
// rules before it is used: the directory the next part stands in, and the
// parts still to walk (a link's target is put in front of them).
struct name_walk {
  int directory = -1;
  bool in_descriptor_directory = false;
  char left[path_buffer_bytes] = {};
  int links = 0;
};

// The process's root directory. Reached through /proc/self/root where it
// can be: an emulator that runs programs of another processor may answer
// "/" itself with the root of that processor's libraries, and a walk from
// there would not find /dev or /proc.
int open_root_directory() {
  const int root = open("/proc/self/root", O_PATH | O_DIRECTORY | O_CLOEXEC);
  return root >= 0 ? root : open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Makes directory the one the walk stands in.
void enter_directory(name_walk* walk, int directory) {
  close_handle(&walk->directory);
  walk->directory = directory;
  walk->in_descriptor_directory = directory >= 0 && is_descriptor_directory(directory);
}

// Opens the directory part of path in one call when no link stands
// anywhere in it, the common case; the part-by-part walk is needed only
// where a link does (or the system cannot tell).
int open_directory_without_links(const char* path, std::size_t length) {
  char directory[path_buffer_bytes];
  std::memcpy(directory, path, length);
  directory[length] = '\0';
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  return static_cast<int>(syscall(SYS_openat2, AT_FDCWD, directory, &how, sizeof how));
}

// Starts the walk at the current or the root directory, or past the
// directory part of path when it holds no link.
bool start_walk(const char* path, name_walk* walk) {
  const std::size_t length = std::strlen(path);
  if (length >= sizeof walk->left) {
    return false;
  }
  const char* slash = std::strrchr(path, '/');
  const int direct =
      slash != nullptr && slash != path
          ? open_directory_without_links(path, static_cast<std::size_t>(slash - path))
          : -1;
  if (direct >= 0) {
    std::memcpy(walk->left, slash + 1, length - static_cast<std::size_t>(slash - path));
    enter_directory(walk, direct);
  } else {
    std::memcpy(walk->left, path, length + 1);
    enter_directory(
        walk, path[0] == '/' ? open_root_directory() : open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
  return walk->directory >= 0;
}

// Takes the next part of the walk into part (path_buffer_bytes long): ""
// for a name that ends in "/" (which names a directory). *last tells
// whether any part is left after it. "." parts are skipped.
void take_part(name_walk* walk, char* part, bool* last) {
  char* start = walk->left;
  while (*start == '/' || (start[0] == '.' && (start[1] == '/' || start[1] == '\0'))) {
    ++start;
  }
  char* end = std::strchr(start, '/');
  const std::size_t length =
      end == nullptr ? std::strlen(start) : static_cast<std::size_t>(end - start);
  std::memcpy(part, start, length);
  part[length] = '\0';
  const char* rest = end == nullptr ? start + length : end;
  while (*rest == '/' && rest[1] == '/') {
    ++rest;
  }
  // "NAME/" ends with an empty part of its own.
  *last = rest[0] == '\0' || (rest[0] == '/' && rest[1] == '\0' && length == 0);
  std::memmove(walk->left, rest, std::strlen(rest) + 1);
}

// Puts the target of the link found holds in front of the parts left, and
// goes to the root directory for an absolute one; false when the link
// cannot be read, the name grows too long or more links were met than the
// kernel would follow.
bool follow_into(name_walk* walk, found_name* found) {
  char target[path_buffer_bytes];
  const ssize_t length =
      walk->links++ < most_links ? readlinkat(found->object, "", target, sizeof target - 1) : -1;
  const std::size_t left = std::strlen(walk->left);
  if (length <= 0 || static_cast<std::size_t>(length) + left >= sizeof walk->left) {
    return false;
  }
  // What is left starts with its "/", or is empty.
  std::memmove(walk->left + length, walk->left, left + 1);
  std::memcpy(walk->left, target, static_cast<std::size_t>(length));
  if (target[0] == '/') {
    enter_directory(walk, open_root_directory());
  }
  return walk->directory >= 0;
}

// Goes on from one part the rules let the walk pass: into a directory, or
// through a link or a descriptor handed open on a directory.
bool pass(const output_decision& decision, const char* part, name_walk* walk, found_name* found) {
  if (decision.action == output_action::walk_through) {
    enter_directory(walk, found->object);
    found->object = -1;
    return true;
  }
  if (found->in_descriptor_directory) {
    enter_directory(walk, openat(descriptor_number(part), ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    return walk->directory >= 0;
  }
  return follow_into(walk, found);
}

// Walks the name part by part: every step (a directory on the way, and
// each link met, the last part's included) is decided by the rules on the
// very entry that is then used, and the last part's decision is carried
// out. Anything the rules do not let through is a refusal.
void walk_output_name(const output_request& request, name_walk* walk, found_name* found,
                      output_place* place) {
  const bool typed = request.kind == output_name_kind::typed;
  for (;;) {
    bool last = false;
    char* part = place->lookup.entry;
    take_part(walk, part, &last);
    close_handle(&found->object);
    found->directory = walk->directory;
    // Only a typed name can lead to a descriptor: no link is followed
    // from a chosen one.
    found->in_descriptor_directory = typed && walk->in_descriptor_directory;
    if (std::strcmp(part, "..") == 0 && !last) {
      enter_directory(walk, openat(walk->directory, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (walk->directory < 0) {
        return;
      }
      continue;
    }
    if (!found->in_descriptor_directory && !look_at_entry(part, found)) {
      return;
    }
    const output_facts facts = gather_facts(*found, request, part, !last);
    const output_decision decision = decide_output(facts);
    const bool passes = decision.action == output_action::follow_link ||
                        decision.action == output_action::walk_through;
    if (last && !passes) {
      place->facts = facts;
      place->decision = decision;
      walk->directory = -1;  // found's now, which carry_out may hand on
      carry_out(found, place);
      return;
    }
    if (!passes || !pass(decision, part, walk, found)) {
      return;
    }
  }
}

}  // namespace

std::FILE* open_for_reading(const char* path) {
  std::FILE* file = std::fopen(path, "rbe");
  const int error = errno;
  char entry[path_buffer_bytes];
  found_name found;
  // A standard descriptor the caller left closed is now the null device,
  // which a name of that descriptor must not read, and the pipe behind a
  // descriptor handed open only for writing would never end (the program
  // holds a writer of it); otherwise only a name that cannot be opened is
  // looked at further: a socket cannot be opened again through its name,
  // so a name that leads to a descriptor the process was handed reads a
  // copy of that descriptor.
  const bool pipe = file != nullptr && is_pipe(fileno(file));
  const bool look = file == nullptr || pipe || standard_descriptor_was_closed();
  if (look && find_name(path, entry, &found) && found.in_descriptor_directory) {
    const int number = descriptor_number(entry);
    const bool unreadable = handed_descriptor(number) == descriptor_start::closed ||
                            (pipe && (fcntl(number, F_GETFL) & O_ACCMODE) == O_WRONLY);
    if (file != nullptr && unreadable) {
      std::fclose(file);
      file = nullptr;
    } else if (file == nullptr) {
      file = stream_of(copy_named_descriptor(entry), "rb");
    }
  }
  release_found_name(&found);
  if (file == nullptr) {
    errno = error != 0 ? error : EBADF;
  }
  return file;
}

namespace {

// Moves count bytes at offset with pread or pwrite (transfer), in parts of
// at most largest_stdio_transfer, going on after an interruption; false when
// the file ends or fails first.
template <typename Bytes, typename Transfer>
bool transfer_at(std::FILE* file, std::uint64_t offset, Bytes* bytes, std::size_t count,
                 Transfer transfer) {
  const int handle = fileno(file);
  for (std::size_t done = 0; done < count;) {
    const std::size_t part = transfer_part(count - done);
    const ssize_t moved = transfer(handle, bytes + done, part, static_cast<off_t>(offset + done));
    if (moved < 0 && errno == EINTR) {
      continue;
    }
    if (moved <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(moved);
  }
  return true;
}

}  // namespace

bool read_at(std::FILE* file, std::uint64_t offset, std::uint8_t* out, std::size_t count) {
  return transfer_at(file, offset, out, count, pread);
}

extern "C" bool write_file_at(std::FILE* file, std::uint64_t offset, const std::uint8_t* bytes,
                              std::size_t count) {
  return transfer_at(file, offset, bytes, count, pwrite);
}

bool takes_writes_at_offsets(std::FILE* file) {
  const int flags = fcntl(fileno(file), F_GETFL);
  return flags >= 0 && (flags & O_APPEND) == 0 && is_regular(fileno(file));
}

bool query_file_size(std::FILE* file, std::int64_t* size, bool* is_pipe, name_info* identity) {
  struct stat st {};
  if (fstat(fileno(file), &st) != 0) {
    return false;
  }
  *is_pipe = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
  *size = static_cast<std::int64_t>(st.st_size);
  *identity = describe(st);
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

void find_output_place(const char* path, const output_request& request, output_place* place) {
  *place = output_place{};
  name_walk walk;
  found_name found;
  if (start_walk(path, &walk)) {
    walk_output_name(request, &walk, &found, place);
  }
  if (found.directory == walk.directory) {
    found.directory = -1;  // the walk's own
  }
  release_found_name(&found);
  close_handle(&walk.directory);
}

void release_output_place(output_place* place) {
  close_handle(&place->lookup.old_file);
  close_handle(&place->lookup.directory);
}

namespace {

// Creates a new file at pattern in directory, its last six characters
// replaced to make a name nobody else can predict or share, open with
// access; its handle, or -1 with errno set.
int create_unique_handle(int directory, char* pattern, int access, mode_t mode) {
  const std::size_t length = std::strlen(pattern);
  if (length < 6) {
    errno = EINVAL;
    return -1;
  }
  constexpr int attempts = 100;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    fill_random_letters(pattern + length - 6);
    const int handle =
        openat(directory, pattern, access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (handle >= 0 || errno != EEXIST) {
      return handle;
    }
  }
  return -1;
}

// Creates a new file at pattern in directory, as create_unique_handle
// makes one, and opens a stream for writing it; null with errno set.
std::FILE* create_unique_file(int directory, char* pattern, bool private_file) {
  const int handle = create_unique_handle(directory, pattern, O_WRONLY, private_file ? 0600 : 0666);
  if (handle < 0) {
    return nullptr;
  }
  std::FILE* file = fdopen(handle, "wb");
  if (file == nullptr) {
    const int error = errno;
    close(handle);
    unlinkat(directory, pattern, 0);
    errno = error;
  }
  return file;
}

}  // namespace

std::FILE* create_file_beside(const output_place& place, bool private_file, int* directory,
                              char* name) {
  *directory = place.lookup.directory;
  if (!make_temporary_pattern(place.lookup.entry, name)) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  return create_unique_file(*directory, name, private_file);
}

bool copy_file_attributes(std::FILE* file, const output_place& place) {
  const int handle = fileno(file);
  struct stat old_info {};
  struct stat new_info {};
  const int old_file = place.lookup.old_file;
  if (old_file < 0 || fstat(old_file, &old_info) != 0 || fstat(handle, &new_info) != 0) {
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
  copy_access_list(old_file, handle);
  return true;
}

bool sync_to_storage(std::FILE* file) { return fsync(fileno(file)) == 0; }

bool rename_over_entry(int directory, const char* name, const output_place& place) {
  return renameat(directory, name, place.lookup.directory, place.lookup.entry) == 0;
}

void remove_entry(int directory, const char* name) { unlinkat(directory, name, 0); }

std::FILE* open_in_place(const output_place& place) {
  // Non-blocking so that a FIFO put there since the look cannot hold the
  // run; the file must be the one looked up.
  const place_lookup& found = place.lookup;
  int handle = found.old_file < 0 ? -1
                                  : openat(found.directory, found.entry,
                                           O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat now {};
  struct stat old_info {};
  if (handle >= 0 && (fstat(handle, &now) != 0 || fstat(found.old_file, &old_info) != 0 ||
                      !same_file(now, old_info) || !S_ISREG(now.st_mode))) {
    close_handle(&handle);
  }
  return stream_of(handle, "wb");
}

std::FILE* create_at_place(const output_place& place) {
  return stream_of(openat(place.lookup.directory, place.lookup.entry,
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666),
                   "wb");
}

namespace {

// An unnamed file in directory, or null.
std::FILE* unnamed_file_in(int directory) {
  return directory < 0
             ? nullptr
             : stream_of(openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600), "w+b");
}

// The directory TMPDIR names, or /tmp, opened for unnamed files.
int temporary_directory() {
  const char* named = std::getenv("TMPDIR");
  const char* path = named != nullptr && named[0] != '\0' ? named : "/tmp";
  return open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// A file made with a name nobody can guess and removed at once, where the
// file system makes no unnamed ones.
std::FILE* file_named_then_removed(int directory) {
  char name[] = ".spool.XXXXXX";
  const int handle = directory < 0 ? -1 : create_unique_handle(directory, name, O_RDWR, 0600);
  if (handle >= 0) {
    unlinkat(directory, name, 0);
  }
  return stream_of(handle, "w+b");
}

}  // namespace

std::FILE* create_unnamed_file(const output_place& place) {
  std::FILE* file = unnamed_file_in(place.lookup.directory);
  if (file == nullptr) {
    int temporary = temporary_directory();
    file = unnamed_file_in(temporary);
    if (file == nullptr) {
      file = file_named_then_removed(temporary);
    }
    close_handle(&temporary);
  }
  return file;
}

bool takes_any_write(std::FILE* file) {
  const char nothing = 0;
  return write(fileno(file), &nothing, 0) >= 0;
}

bool move_to_end(std::FILE* file) {
  return std::fflush(file) == 0 && lseek(fileno(file), 0, SEEK_END) >= 0;
}

bool cut_to_start(std::FILE* file) {
  return std::fflush(file) == 0 && ftruncate(fileno(file), 0) == 0 &&
         std::fseek(file, 0, SEEK_SET) == 0;
}

bool creation_was_refused() { return errno == EACCES || errno == EPERM; }

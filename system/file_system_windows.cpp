#include "system/file_system.h"

// windows.h first: bcrypt.h needs its types.
#include <windows.h>

#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>

#include "system/temporary_names.h"
#include "system/wide_names_windows.h"

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handle_of(std::FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// A stream for writing that owns handle; the handle is closed on failure.
std::FILE* stream_from_handle(HANDLE handle) {
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, "wb");
  if (file == nullptr) {
    _close(descriptor);
  }
  return file;
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A name in the pipe namespace (\\.\pipe\NAME). Opening one connects to the
// pipe and takes up one of its instances, so such a name is never opened
// merely to be inspected.
bool is_pipe_name(const wide_name& name) {
  const wchar_t* t = name.text;
  return name.length > 9 && is_separator(t[0]) && is_separator(t[1]) &&
         (t[2] == L'.' || t[2] == L'?') && is_separator(t[3]) &&
         _wcsnicmp(t + 4, L"pipe", 4) == 0 && is_separator(t[8]);
}

// The last part of the name holds a ':' after any drive prefix ("C:"):
// NAME:stream or NAME::$DATA names a stream of a file, not a file.
bool has_stream_part(const char* path) {
  return std::strchr(path + directory_part_length(path), ':') != nullptr;
}

name_info stream_info(name_holds holds) {
  name_info info;
  info.holds = holds;
  return info;
}

// True for the reparse points that are links to another name (symbolic
// links and junctions); a file whose reparse point cannot be read counts as
// one.
bool is_link_reparse_point(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) == 0) {
    return true;
  }
  return tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT;
}

// What stands behind an open handle. links_opened says the handle was opened
// on a link itself rather than on what it leads to.
name_info describe_handle(HANDLE handle, bool links_opened) {
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
    return stream_info(type == FILE_TYPE_CHAR ? name_holds::device : name_holds::fifo);
  }
  BY_HANDLE_FILE_INFORMATION details{};
  if (type != FILE_TYPE_DISK || GetFileInformationByHandle(handle, &details) == 0) {
    return name_info{};
  }
  name_info info;
  const DWORD attributes = details.dwFileAttributes;
  const bool link = links_opened && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                    is_link_reparse_point(handle);
  info.holds = link                                           ? name_holds::symbolic_link
               : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? name_holds::directory
                                                              : name_holds::regular_file;
  info.device = details.dwVolumeSerialNumber;
  info.inode = std::uint64_t{details.nFileIndexHigh} << 32 | details.nFileIndexLow;
  return info;
}

// errno for the system's reason a file could not be created.
int errno_for(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

// Replaces the six characters at letters with random letters and digits
// from the system's random number generator.
bool fill_random_letters(char* letters) {
  unsigned char random[random_name_letters];
  if (!BCRYPT_SUCCESS(
          BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return false;
  }
  letters_from_random_bytes(random, letters);
  return true;
}

bool copy_name(const char* path, char* entry) {
  const std::size_t length = std::strlen(path);
  if (length >= path_buffer_bytes) {
    return false;
  }
  std::memcpy(entry, path, length + 1);
  return true;
}

// The stream at a name that is a device or pipe (CON, NUL, \\.\pipe\NAME),
// opened for writing; null when something else stands there or it cannot
// be opened. Opening a name that does not exist creates nothing.
std::FILE* open_stream(const wide_name& name) {
  const HANDLE handle = CreateFileW(name.text, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  const DWORD type = GetFileType(handle);
  if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) {
    CloseHandle(handle);
    return nullptr;
  }
  return stream_from_handle(handle);
}

// The path a handle's file finally has, links and junctions resolved, as
// UTF-8 in entry; false when it cannot be had or does not fit.
bool final_path_of(HANDLE handle, char* entry) {
  wchar_t final_path[32768];
  const DWORD units = GetFinalPathNameByHandleW(handle, final_path, 32768, FILE_NAME_NORMALIZED);
  if (units == 0 || units >= 32768) {
    return false;
  }
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, final_path, static_cast<int>(units), entry,
                                        static_cast<int>(path_buffer_bytes - 1), nullptr, nullptr);
  if (bytes <= 0) {
    return false;
  }
  entry[bytes] = '\0';
  return true;
}

// The facts Windows can give about what stands at an open handle: no
// owners or sticky directories here (every file counts as the user's own),
// and whether the directory takes a new file is learned only when it
// refuses one.
void describe_for_rules(HANDLE handle, bool links_opened, output_facts* facts) {
  const name_info info = describe_handle(handle, links_opened);
  BY_HANDLE_FILE_INFORMATION details{};
  const bool detailed = GetFileInformationByHandle(handle, &details) != 0;
  // What cannot be described at all is taken for a device.
  facts->holds = info.holds == name_holds::nothing ? name_holds::device : info.holds;
  facts->writable = !detailed || (details.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
  facts->links = detailed ? details.nNumberOfLinks : 1;
}

// The facts at a name. A name that cannot be opened merely to be inspected
// is a console device (CON) when it opens as a stream, which a typed name
// then keeps for writing; otherwise nothing stands there.
void gather_facts(const char* path, const wide_name& name, const output_request& request,
                  output_place* place) {
  output_facts& facts = place->facts;
  facts = output_facts{};
  facts.kind = request.kind;
  facts.plane = request.plane;
  facts.is_input = request.plane && request.input != nullptr && name_leads_to(path, *request.input);
  const bool typed = request.kind == output_name_kind::typed;
  if (is_pipe_name(name)) {
    facts.holds = name_holds::fifo;
    return;
  }
  // Refused as it is: nothing there is opened, not even to be inspected.
  facts.stream_part = has_stream_part(path);
  if (facts.stream_part) {
    return;
  }
  const HANDLE handle =
      CreateFileW(name.text, FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    describe_for_rules(handle, true, &facts);
    CloseHandle(handle);
  } else if (typed && (place->stream = open_stream(name)) != nullptr) {
    facts.holds = name_holds::device;
  }
}

// The system's limit on links met in one lookup.
constexpr int most_links = 63;

// The name a link or junction holds, as its reparse data gives it; false
// when it has none to read. An absolute target in the system's own form
// ("\??\C:\x") becomes the literal form ("\\?\C:\x"), which names the
// same file.
bool read_link_name(const wide_name& link, wchar_t* target, std::size_t* units, bool* relative) {
  const HANDLE handle =
      CreateFileW(link.text, FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  // The reparse data: a tag, two lengths, then where the substitute name
  // lies among the names; a symbolic link's flags come before its names.
  unsigned char data[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
  DWORD size = 0;
  const bool read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof data,
                                    &size, nullptr) != 0;
  CloseHandle(handle);
  ULONG tag = 0;
  USHORT offset = 0;
  USHORT length = 0;
  ULONG flags = 0;
  if (!read || size < 20) {
    return false;
  }
  std::memcpy(&tag, data, sizeof tag);
  std::memcpy(&offset, data + 8, sizeof offset);
  std::memcpy(&length, data + 10, sizeof length);
  std::memcpy(&flags, data + 16, sizeof flags);
  const bool symbolic = tag == IO_REPARSE_TAG_SYMLINK;
  const std::size_t start = (symbolic ? 20u : 16u) + offset;
  if ((!symbolic && tag != IO_REPARSE_TAG_MOUNT_POINT) || start + length > size) {
    return false;
  }
  *units = length / sizeof(wchar_t);
  std::memcpy(target, data + start, *units * sizeof(wchar_t));
  target[*units] = L'\0';
  constexpr ULONG relative_link = 1;  // SYMLINK_FLAG_RELATIVE
  *relative = symbolic && (flags & relative_link) != 0;
  if (!*relative && *units >= 4 && std::wcsncmp(target, L"\\??\\", 4) == 0) {
    target[1] = L'\\';
  }
  return true;
}

// Moves path from the link standing there to the name the link holds, a
// relative one taken from the link's own folder: where a link that leads
// nowhere points. False when the link cannot be read or the name does not
// fit.
bool move_to_link_target(const wide_name& link, char* path) {
  wchar_t target[MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(wchar_t) + 1];
  std::size_t units = 0;
  bool relative = false;
  if (!read_link_name(link, target, &units, &relative)) {
    return false;
  }
  const std::size_t kept = relative ? directory_part_length(path) : 0;
  const int room = static_cast<int>(path_buffer_bytes - 1 - kept);
  const int bytes = units == 0 ? 0
                               : WideCharToMultiByte(CP_UTF8, 0, target, static_cast<int>(units),
                                                     path + kept, room, nullptr, nullptr);
  if (bytes <= 0) {
    return false;
  }
  path[kept + static_cast<std::size_t>(bytes)] = '\0';
  return true;
}

// A link or junction the rules follow: the place moves to the path its
// target finally has, and the facts are those of that target. A link that
// leads nowhere leads to the name it holds, which is decided as any name
// is (nothing there: made anew, as the rules for nothing say; another link:
// followed in turn).
void follow_to_target(const output_request& request, wide_name* name, output_place* place) {
  for (int links = 0; place->decision.action == output_action::follow_link; ++links) {
    const HANDLE handle = CreateFileW(name->text, FILE_READ_ATTRIBUTES, share_all, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      const bool found = final_path_of(handle, place->lookup.path);
      describe_for_rules(handle, false, &place->facts);
      CloseHandle(handle);
      place->decision = found ? decide_output(place->facts) : output_decision{};
      return;
    }
    const DWORD error = GetLastError();
    const bool nowhere = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    if (!nowhere || links == most_links || !move_to_link_target(*name, place->lookup.path) ||
        !to_wide_name(place->lookup.path, name)) {
      place->decision = output_decision{};
      return;
    }
    gather_facts(place->lookup.path, *name, request, place);
    place->decision = decide_output(place->facts);
  }
}

}  // namespace

std::FILE* open_for_reading(const char* path) {
  wide_name name;
  return to_wide_name(path, &name) ? _wfopen(name.text, L"rb") : nullptr;
}

namespace {

// Moves count bytes at offset with ReadFile or WriteFile (transfer), in
// parts of at most largest_stdio_transfer; false when the file ends or
// fails first.
template <typename Bytes, typename Transfer>
bool transfer_at(std::FILE* file, std::uint64_t offset, Bytes* bytes, std::size_t count,
                 Transfer transfer) {
  const HANDLE handle = handle_of(file);
  for (std::size_t done = 0; done < count;) {
    const auto part = static_cast<DWORD>(transfer_part(count - done));
    const std::uint64_t at = offset + done;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD moved = 0;
    if (transfer(handle, bytes + done, part, &moved, &where) == 0 || moved == 0) {
      return false;
    }
    done += moved;
  }
  return true;
}

}  // namespace

bool read_at(std::FILE* file, std::uint64_t offset, std::uint8_t* out, std::size_t count) {
  return transfer_at(file, offset, out, count, ReadFile);
}

extern "C" bool write_file_at(std::FILE* file, std::uint64_t offset, const std::uint8_t* bytes,
                              std::size_t count) {
  return transfer_at(file, offset, bytes, count, WriteFile);
}

// The programs open no file for appending on Windows.
bool takes_writes_at_offsets(std::FILE* file) {
  return GetFileType(handle_of(file)) == FILE_TYPE_DISK;
}

bool query_file_size(std::FILE* file, std::int64_t* size, bool* is_pipe, name_info* identity) {
  struct _stat64 st {};
  if (_fstat64(_fileno(file), &st) != 0) {
    return false;
  }
  *is_pipe = (st.st_mode & _S_IFMT) == _S_IFIFO;
  *size = st.st_size;
  *identity = inspect_open_file(file);
  return true;
}

name_info inspect_name(const char* path, bool follow_links) {
  wide_name name;
  if (!to_wide_name(path, &name)) {
    return name_info{};
  }
  if (is_pipe_name(name)) {
    return stream_info(name_holds::fifo);
  }
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? DWORD{0} : DWORD{FILE_FLAG_OPEN_REPARSE_POINT});
  const HANDLE handle = CreateFileW(name.text, FILE_READ_ATTRIBUTES, share_all, nullptr,
                                    OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return name_info{};
  }
  const name_info info = describe_handle(handle, !follow_links);
  CloseHandle(handle);
  return info;
}

name_info inspect_open_file(std::FILE* file) {
  const HANDLE handle = handle_of(file);
  return handle == INVALID_HANDLE_VALUE ? name_info{} : describe_handle(handle, false);
}

bool open_files_can_be_replaced() { return false; }

std::size_t directory_part_length(const char* path) {
  std::size_t length = 0;
  for (std::size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '/' || path[i] == '\\') {
      length = i + 1;
    }
  }
  // "C:NAME" names NAME in drive C's current directory.
  const bool drive_relative = length == 0 && path[0] != '\0' && path[1] == ':';
  return drive_relative ? 2 : length;
}

namespace {

// Creates a new file at pattern, whose last six characters are replaced
// to make a name nobody else can predict or share. The new file is shared
// for deletion so that the interrupt handler, which runs on a thread of its
// own, can remove it while it is still open. It gets the folder's inherited
// permissions, as any new file there does. Temporary names are used in
// their literal form (here, in rename_over_entry and in remove_entry), so
// that an output name a plain call takes is never refused because its
// temporary name is longer.
std::FILE* create_unique_file(char* pattern) {
  const std::size_t length = std::strlen(pattern);
  constexpr int attempts = 100;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    wide_name name;
    if (length < 6 || !fill_random_letters(pattern + length - 6) ||
        !to_literal_wide_name(pattern, &name)) {
      errno = EINVAL;
      return nullptr;
    }
    const HANDLE handle = CreateFileW(name.text, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      std::FILE* file = stream_from_handle(handle);
      if (file == nullptr) {
        DeleteFileW(name.text);
        errno = EMFILE;
      }
      return file;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      errno = errno_for(error);
      return nullptr;
    }
  }
  errno = EEXIST;
  return nullptr;
}

}  // namespace

std::FILE* create_file_beside(const output_place& place, bool /*private_file*/, int* directory,
                              char* name) {
  *directory = -1;
  if (!make_temporary_pattern(place.lookup.path, name)) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  return create_unique_file(name);
}

bool copy_file_attributes(std::FILE* /*file*/, const output_place& /*place*/) { return true; }

bool sync_to_storage(std::FILE* file) { return FlushFileBuffers(handle_of(file)) != 0; }

// A virus scanner or an indexer may hold a file that was just written or is
// about to be replaced for a moment, so a refused rename is tried again a
// few times, for half a second at most, before it counts as failed.
bool rename_over_entry(int /*directory*/, const char* name, const output_place& place) {
  wide_name old_name;
  wide_name new_name;
  if (!to_literal_wide_name(name, &old_name) || !to_wide_name(place.lookup.path, &new_name)) {
    return false;
  }
  constexpr DWORD attempts = 10;
  for (DWORD attempt = 1;; ++attempt) {
    if (MoveFileExW(old_name.text, new_name.text,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
      return true;
    }
    const DWORD error = GetLastError();
    const bool held_by_another = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    if (!held_by_another || attempt == attempts) {
      return false;
    }
    Sleep(10 * attempt);
  }
}

void remove_entry(int /*directory*/, const char* name) {
  wide_name wide;
  if (to_literal_wide_name(name, &wide)) {
    DeleteFileW(wide.text);
  }
}

void find_output_place(const char* path, const output_request& request, output_place* place) {
  *place = output_place{};
  wide_name name;
  if (path[0] == '\0' || !to_wide_name(path, &name) || !copy_name(path, place->lookup.path)) {
    return;
  }
  gather_facts(path, name, request, place);
  place->decision = decide_output(place->facts);
  follow_to_target(request, &name, place);
  const bool as_stream = place->decision.action == output_action::write_as_stream;
  if (as_stream && place->stream == nullptr) {
    place->stream = open_stream(name);
  } else if (!as_stream && place->stream != nullptr) {
    std::fclose(place->stream);
    place->stream = nullptr;
  }
  if (as_stream && place->stream == nullptr) {
    place->decision = output_decision{};
  }
}

void release_output_place(output_place* /*place*/) {}

std::FILE* open_in_place(const output_place& place) {
  wide_name name;
  if (!to_wide_name(place.lookup.path, &name) || is_pipe_name(name)) {
    return nullptr;
  }
  const HANDLE handle = CreateFileW(name.text, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  // Only a regular file is written over.
  if (describe_handle(handle, true).holds != name_holds::regular_file) {
    CloseHandle(handle);
    return nullptr;
  }
  return stream_from_handle(handle);
}

bool cut_to_start(std::FILE* file) {
  return std::fflush(file) == 0 && _chsize_s(_fileno(file), 0) == 0 &&
         std::fseek(file, 0, SEEK_SET) == 0;
}

bool creation_was_refused() { return errno == EACCES; }

// No directory here keeps its entries (the rules never choose this).
std::FILE* create_at_place(const output_place& /*place*/) {
  errno = EACCES;
  return nullptr;
}

bool move_to_end(std::FILE* file) {
  return std::fflush(file) == 0 && _fseeki64(file, 0, SEEK_END) == 0;
}

// In the user's temporary directory: a file named by the system, opened so
// that it is removed when it is closed.
std::FILE* create_unnamed_file(const output_place& /*place*/) {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"spl", 0, name) == 0) {
    errno = EACCES;
    return nullptr;
  }
  std::FILE* file = _wfopen(name, L"w+bTD");
  if (file == nullptr) {
    DeleteFileW(name);
  }
  return file;
}

bool takes_any_write(std::FILE* /*file*/) { return true; }

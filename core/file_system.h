// The calls into the operating system's file system that loading and
// writing need beyond the standard library, each behind one small function.
// Every name is UTF-8 text. Each system has its own implementation
// (file_system_posix.cpp, file_system_windows.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// What stands at a name.
struct name_info {
  bool exists = false;
  bool regular = false;  // a regular file
  bool directory = false;
  bool link = false;           // a symbolic link (only when links are not followed)
  bool stream = false;         // a character device, FIFO, socket or pipe
  bool owned_by_user = false;  // belongs to the user running the program
  unsigned permissions = 0;    // read, write and execute bits (none on Windows)
  // The file's identity: device and inode, or on Windows the volume serial
  // number and the file index. Both 0 where the system gives none.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// The most bytes one fread or fwrite call is given. Windows' C library hands
// a count on to the system as a 32-bit number, so a larger transfer is made
// in parts of this size.
constexpr std::size_t largest_stdio_transfer = std::size_t{1} << 30;

// Opens path for reading in binary mode; null when it cannot be opened.
std::FILE* open_for_reading(const char* path);

// The byte count of the file behind an open stream. A pipe or socket has no
// size to ask for: *is_pipe is set instead. False when the system cannot
// tell.
bool query_file_size(std::FILE* file, std::int64_t* size, bool* is_pipe);

// Fills info for path, following a symbolic link at path when follow_links
// is set. A name that cannot be inspected counts as absent.
name_info inspect_name(const char* path, bool follow_links);

// Identity of the file behind an open stream; absent when it cannot be had.
name_info inspect_open_file(std::FILE* file);

// The length of the directory part of path, its last separator included;
// 0 for a name without one.
std::size_t directory_part_length(const char* path);

// The permission bits a new file gets from fopen under the current umask
// (0 where the system has none).
unsigned new_file_permissions();

// Creates a file that did not exist, from the pattern path (whose last six
// characters are "XXXXXX" and are replaced to make a name nobody else can
// predict or share), readable and writable by the user alone at first
// where the system has permission bits. Returns the open stream, or null
// with errno set.
std::FILE* create_unique_file(char* path);

// Gives the open file's permission bits; true on success (always, where
// the system has none).
bool set_permissions(std::FILE* file, unsigned permissions);

// Pushes the data of an open, flushed file to storage.
bool sync_to_storage(std::FILE* file);

// Renames from to to, replacing whatever non-directory stands at to.
bool rename_replacing(const char* from, const char* to);

// Removes the name path.
void remove_name(const char* path);

// Opens for writing the character device, FIFO, socket or pipe that stands
// at path (directly or through a link). *is_stream tells whether one stands
// there; the result is null when none does or it cannot be opened.
std::FILE* open_stream_for_writing(const char* path, bool* is_stream);

// Opens the regular file at path to write it over in place, without
// creating it and without following a link. Null when that cannot be done.
std::FILE* open_regular_file_in_place(const char* path);

// True when the last failure to create a file was for want of permission
// (not because the directory is missing, full or read-only).
bool creation_was_refused();

// The few calls into the operating system's file system that the write
// path needs beyond the standard library, each behind one small function.
#pragma once

#include <cstdint>
#include <cstdio>

// What stands at a name.
struct name_info {
  bool exists = false;
  bool regular = false;  // a regular file
  bool directory = false;
  bool link = false;           // a symbolic link (only when links are not followed)
  bool stream = false;         // a character device, FIFO or socket
  bool owned_by_user = false;  // belongs to the user running the program
  unsigned permissions = 0;    // read, write and execute bits
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// Fills info for path, following a symbolic link at path when follow_links
// is set. A name that cannot be inspected counts as absent.
name_info inspect_name(const char* path, bool follow_links);

// Identity of the file behind an open stream; absent when it cannot be had.
name_info inspect_open_file(std::FILE* file);

// The permission bits a new file gets from fopen under the current umask.
unsigned new_file_permissions();

// Creates a file that did not exist, from the pattern path (whose last six
// characters are "XXXXXX" and are replaced to make a name nobody else can
// predict or share), readable and writable by the user alone at first.
// Returns the open stream, or null with errno set.
std::FILE* create_unique_file(char* path);

// Gives the open file's permission bits; true on success.
bool set_permissions(std::FILE* file, unsigned permissions);

// Pushes the data of an open, flushed file to storage.
bool sync_to_storage(std::FILE* file);

// Renames from to to, replacing whatever non-directory stands at to.
bool rename_replacing(const char* from, const char* to);

// Removes the name path; safe to call from a signal handler.
void remove_name(const char* path);

// Opens the regular file at path to write it over in place, without
// creating it and without following a link. Null when that cannot be done.
std::FILE* open_regular_file_in_place(const char* path);

// True when the last failure to create a file was for want of permission
// (not because the directory is missing, full or read-only).
bool creation_was_refused();

// The calls into the operating system's file system that loading and
// writing need beyond the standard library, each behind one small function.
// Every name is UTF-8 text. Each system has its own implementation
// (file_system_linux.cpp, file_system_windows.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "system/output_rules.h"
#include "system/path_buffer.h"
// Each system's own part of an output_place: the folder of this system's
// place_lookup.h is on the include path (system/CMakeLists.txt).
#include "place_lookup.h"

// What stands at a name.
struct name_info {
  name_holds holds = name_holds::nothing;
  // The file's identity: device and inode, or on Windows the volume serial
  // number and the file index. Both 0 where the system gives none.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// True when a and b are one file, known by an identity the system gave.
inline bool is_same_file(const name_info& a, const name_info& b) {
  const bool identified = a.device != 0 || a.inode != 0;
  const bool both = a.holds != name_holds::nothing && b.holds != name_holds::nothing;
  return both && identified && a.device == b.device && a.inode == b.inode;
}

// Whether a file may be renamed over while the run still has it open for
// reading: POSIX systems allow it; Windows refuses, so an input that its own
// output replaces is read whole and closed first.
bool open_files_can_be_replaced();

// The most bytes one fread or fwrite call is given. Windows' C library hands
// a count on to the system as a 32-bit number, so a larger transfer is made
// in parts of this size.
constexpr std::size_t largest_stdio_transfer = std::size_t{1} << 30;

// How much of left bytes one read or write call is given.
constexpr std::size_t transfer_part(std::size_t left) {
  return left < largest_stdio_transfer ? left : largest_stdio_transfer;
}

// Opens path for reading in binary mode; null when it cannot be opened. A
// name that leads to one of the process's own descriptors (/dev/stdin,
// /dev/fd/N) reads that descriptor, whatever it is, a socket included.
std::FILE* open_for_reading(const char* path);

// Reads count bytes at offset of an open file into out, whatever the
// stream's own position; false when fewer arrive (the file ended or could
// not be read). The file is never mapped, so one that shrinks meanwhile
// gives a short read, not a fault.
bool read_at(std::FILE* file, std::uint64_t offset, std::uint8_t* out, std::size_t count);

// Writes count bytes at offset of an open file, whatever the stream's own
// position and buffer; false when not all of them were written. Several
// threads may write different offsets of one file at once. C linkage gives
// it one name on every system, which the test builds interpose to fail it.
extern "C" bool write_file_at(std::FILE* file, std::uint64_t offset, const std::uint8_t* bytes,
                              std::size_t count);

// True when bytes can be written at any offset of the open file: a regular
// file, not opened for appending (where every write lands at the end).
bool takes_writes_at_offsets(std::FILE* file);

// The byte count of the file behind an open stream, and which file it is
// (as inspect_open_file tells). A pipe or socket has no size to ask for:
// *is_pipe is set instead. False when the system cannot tell.
bool query_file_size(std::FILE* file, std::int64_t* size, bool* is_pipe, name_info* identity);

// Fills info for path, following a symbolic link at path when follow_links
// is set. A name that cannot be inspected counts as absent.
name_info inspect_name(const char* path, bool follow_links);

// Identity of the file behind an open stream; absent when it cannot be had.
name_info inspect_open_file(std::FILE* file);

// True when path (the name itself, or the file a link there leads to) is
// the file identified by file.
inline bool name_leads_to(const char* path, const name_info& file) {
  return is_same_file(inspect_name(path, false), file) ||
         is_same_file(inspect_name(path, true), file);
}

// The length of the directory part of path, its last separator included;
// 0 for a name without one.
std::size_t directory_part_length(const char* path);

// What an output is, besides its name: what the rules ask of it.
struct output_request {
  output_name_kind kind = output_name_kind::typed;
  bool plane = false;                // a plane file, never written over the input
  const name_info* input = nullptr;  // the run's input, when there is one
};

// Where an output name leads, looked up once and decided by decide_output.
// What is written there goes through what was found here, so that nobody
// can change what the name means between the look and the write.
struct output_place {
  // The facts at the entry the name finally leads to, and what the rules
  // made of them.
  output_facts facts;
  output_decision decision;
  // For the descriptor and stream actions: what is written, opened for
  // writing.
  std::FILE* stream = nullptr;
  // What is written directly is a regular file to be cut to nothing just
  // before its first byte, as opening it anew would have cut it, and not
  // before: it may be the input, still to be read. Cleared once it is cut.
  bool cut_before_writing = false;
  // Where the entry stands, as this system found it; read only by the
  // functions below.
  place_lookup lookup;
};

// Looks path up for writing: gathers the facts at the name, follows the
// links the rules follow, and carries out what they decide up to the
// opening of the file (a stream is opened here; a replacement only finds
// its directory). Every refusal the names can tell is made here.
void find_output_place(const char* path, const output_request& request, output_place* place);

// Closes what find_output_place opened (the stream excepted, which its
// writer closes).
void release_output_place(output_place* place);

// Creates a new file beside the place's entry, under a name made from the
// entry's by make_temporary_pattern (temporary_names.h) whose "XXXXXX" is replaced so that
// nobody else can predict or share it. Where it stands goes to *directory
// and name (path_buffer_bytes long), as rename_over_entry and remove_entry
// take them. A private file is readable and writable by the user alone
// until its attributes are set; otherwise it gets what a plain creation
// would give it. Returns the open stream, or null with errno set.
std::FILE* create_file_beside(const output_place& place, bool private_file, int* directory,
                              char* name);

// Gives the new file the old one's owner and group (where the user may),
// its permission bits (without setuid and setgid) and its access list;
// false when the permission bits cannot be set.
bool copy_file_attributes(std::FILE* file, const output_place& place);

// Pushes the data of an open, flushed file to storage.
bool sync_to_storage(std::FILE* file);

// Renames the file at directory and name, as create_file_beside gave them,
// over the place's entry, replacing whatever non-directory stands there.
bool rename_over_entry(int directory, const char* name, const output_place& place);

// Removes name from directory, as create_file_beside gave them. Safe to
// call from a signal handler.
void remove_entry(int directory, const char* name);

// Opens the regular file standing at the place to write it over in place
// (it is cut only when cut_to_start is called), only if it is still the
// one that was looked up. Null when that cannot be done.
std::FILE* open_in_place(const output_place& place);

// Creates the file at the place's entry, which nothing stood at, and opens
// it for writing, as the shell's ">" makes a new file (the user's umask);
// fails when something stands there by now. Null with errno set when it
// cannot be made.
std::FILE* create_at_place(const output_place& place);

// A new file with no name, open for reading and writing, that vanishes
// when it is closed: in the directory of the place's entry where the system
// can make one there, else in the directory TMPDIR names, or /tmp (on
// Windows, the user's temporary directory). Null with errno set when none
// can be made.
std::FILE* create_unnamed_file(const output_place& place);

// False when the open file refuses every write, as a full device does; a
// write of no bytes tells, which hands nothing over.
bool takes_any_write(std::FILE* file);

// Cuts an open regular file to nothing and goes back to its start.
bool cut_to_start(std::FILE* file);

// Moves the open file's position, which a descriptor it was copied from
// shares, to the file's end: where a writer that wrote in order would
// have left it.
bool move_to_end(std::FILE* file);

// True when the last failure to create a file was for want of permission
// (not because the directory is missing, full or read-only).
bool creation_was_refused();

// What a run does with each output name, decided from the facts about the
// name alone. This is the only place the rules live: each system's file
// layer gathers the facts on the very entry it then uses, asks
// decide_output, and carries out the answer; a link that is followed is
// asked about again at what it leads to. No call here touches the system.
//
// The rules, first match wins (docs/files-and-names.md, row for row;
// "typed" is the result's name as the user gave it, "chosen" a plane's or
// the default name). Every part of a name is decided: the directories on
// the way to the last part (steps) by rules S1-S5, the last part by 1-18.
//
// A link is trusted, wherever it stands, when only the directory's owner,
// its group or root could have put it there (a directory not everyone may
// write), or when it is the user's, the directory owner's or root's.
//
// Steps (typed or chosen alike):
// S1. A descriptor name: through the directory the caller handed open
//     under that number; refused when it was not handed open or is not a
//     directory.
// S2. A directory: walked through.
// S3. In a sticky directory others may write, a link owned by neither the
//     user nor the directory's owner: refused, root included.
// S4. A trusted link: followed, and what it leads to decided anew.
// S5. Anything else (nothing, a file, an untrusted link): refused.
//
// The last part:
//  1. The input at a plane name: refused.
//  2. A name with a stream part (Windows' "NAME:stream"): refused.
//  3-6. A descriptor name (typed only): refused when the descriptor was
//     not handed over open; written through it when open for writing; the
//     file behind it opened anew when open only for reading and a regular
//     file; refused otherwise.
//  7. A directory: refused.
//  8. A file whose flags forbid changing it (immutable, append-only):
//     refused.
//  9. In a sticky directory others may write, anything owned by neither
//     the user nor the directory's owner: refused, root included.
// 10. A trusted link: followed when typed, and what it leads to decided
//     anew; where it leads nowhere, its target is made as 14, 17 and 18
//     decide there.
// 11. A device or FIFO: written as a stream when typed.
// 12. A socket or an untrusted link: refused when typed.
// 13. A regular file the user may not write: refused when typed.
// 14-15. Anything the directory lets the user replace: replaced by a new
//     file through a temporary file and a rename; a regular file keeps its
//     attributes when it is the user's own, or typed in a directory not
//     everyone may write.
// 16. A regular file the directory does not let the user replace, typed or
//     the user's own with one name: written in place.
// 17. Nothing, typed, in a directory that keeps its entries (append-only):
//     a new file created and written directly.
// 18. Everything else: refused.
#pragma once

#include <cstdint>

// Where an output name came from, which decides what may stand at it.
enum class output_name_kind {
  // Typed by the user: treated as the shell treats a name after ">".
  typed,
  // Chosen by the program (a plane file, the default name): never opened
  // through a link, a device or a descriptor, and never written into a file
  // that is not the user's own.
  chosen,
};

// What stands at a name.
enum class name_holds {
  nothing,
  regular_file,
  directory,
  symbolic_link,
  descriptor,  // an entry of the directory of the process's descriptors
  device,
  fifo,
  socket,
};

// How a descriptor named by a descriptor name stood when the program began.
enum class descriptor_start {
  closed,  // closed then, or one the program has opened since
  read_only,
  writable,
};

struct output_facts {
  output_name_kind kind = output_name_kind::typed;
  bool plane = false;  // a plane file, which must never replace the input
  // A directory on the way to the last part, not the last part itself.
  bool step = false;
  // The name has a stream part (Windows' "NAME:stream", "NAME::$DATA").
  bool stream_part = false;
  name_holds holds = name_holds::nothing;
  // Who runs.
  std::uint32_t user = 0;
  bool root = false;
  // The directory the entry stands in.
  // The user may create and remove entries; taken as so until the
  // directory refuses the temporary file, and then decided again.
  bool directory_writable = true;
  bool directory_sticky = false;
  bool directory_writable_by_others = false;  // by its group or by everyone
  bool directory_writable_by_anyone = false;  // by everyone
  // Its flags keep every entry it has (append-only or immutable): a file
  // made there could never be removed.
  bool directory_keeps_entries = false;
  std::uint32_t directory_owner = 0;
  // What stands at the name.
  std::uint32_t owner = 0;
  bool writable = true;  // by its permission bits, or its read-only attribute
  bool fixed = false;    // its flags forbid changing it: immutable or append-only
  std::uint64_t links = 1;
  bool is_input = false;  // the entry, or what a link there leads to
  // A descriptor name: how that descriptor stood at start, and whether a
  // regular file is behind it.
  descriptor_start descriptor = descriptor_start::closed;
  bool descriptor_regular = false;
  bool descriptor_directory = false;
};

enum class output_action {
  refuse,                    // "File '%s' cannot create.", status 10
  replace,                   // a temporary file renamed over the name
  follow_link,               // decide again at what the link (or a step's descriptor) leads to
  write_through_descriptor,  // a copy of the descriptor, cut first if a file
  reopen_descriptor,         // the file behind it opened anew, cut first
  write_as_stream,           // opened for writing, bytes written in order
  write_in_place,            // the file itself cut and written: the last resort
  create_directly,           // a new file made at the name and written there
  walk_through,              // a step: go on in this directory
};

struct output_decision {
  output_action action = output_action::refuse;
  // For replace: the new file takes the old one's owner, group,
  // permission bits and access list.
  bool keep_attributes = false;
};

output_decision decide_output(const output_facts& facts);

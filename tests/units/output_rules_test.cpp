// The rules for output names, each row named by the number of the rule that
// decides it in docs/files-and-names.md (documents_match_code checks that
// every rule has a row), asked for a name the user typed (the result's) and
// for one the program chose (a plane's, or the default name).
#include "system/output_rules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

constexpr std::uint32_t me = 1001;
constexpr std::uint32_t other = 1002;
constexpr std::uint32_t directory_owner = 1003;

// A regular file of the user's, one name, writable, in a directory of the
// user's that nobody else may write.
output_facts own_file() {
  output_facts f;
  f.holds = name_holds::regular_file;
  f.user = me;
  f.owner = me;
  f.directory_owner = me;
  return f;
}

// A sticky directory everyone may write, owned by someone else (/tmp).
output_facts in_shared_sticky(output_facts f) {
  f.directory_sticky = true;
  f.directory_writable_by_others = f.directory_writable_by_anyone = true;
  f.directory_owner = directory_owner;
  return f;
}

constexpr name_holds link = name_holds::symbolic_link;
constexpr name_holds file = name_holds::regular_file;

// holds, of owner's, in the user's own directory.
output_facts at(name_holds holds, std::uint32_t owner) {
  output_facts f = own_file();
  f.holds = holds;
  f.owner = owner;
  return f;
}

// The directory's group may write it, or everyone (not sticky); or its
// flags keep every entry (append-only).
output_facts group_writes(output_facts f) {
  f.directory_writable_by_others = true;
  return f;
}
output_facts anyone_writes(output_facts f) {
  f.directory_writable_by_others = f.directory_writable_by_anyone = true;
  f.directory_owner = directory_owner;
  return f;
}
output_facts keeps_entries(output_facts f) {
  f.directory_keeps_entries = true;
  return f;
}

output_facts as_root(output_facts f) {
  f.user = 0;
  f.root = true;
  return f;
}

output_facts descriptor(descriptor_start start, bool regular) {
  output_facts f;
  f.holds = name_holds::descriptor;
  f.user = me;
  f.descriptor = start;
  f.descriptor_regular = regular;
  return f;
}

output_facts with(output_facts f, const std::function<void(output_facts&)>& change) {
  change(f);
  return f;
}

constexpr output_decision refuse{output_action::refuse, false};
constexpr output_decision replace{output_action::replace, false};
constexpr output_decision replace_keeping{output_action::replace, true};
constexpr output_decision in_place{output_action::write_in_place, false};
constexpr output_decision follow{output_action::follow_link, false};
constexpr output_decision stream{output_action::write_as_stream, false};

// A step: a directory on the way to the last part, decided the same for
// typed and chosen names.
output_facts step(output_facts f) {
  f.step = true;
  return f;
}

constexpr output_decision walk{output_action::walk_through, false};

output_facts handed_directory(descriptor_start start) {
  output_facts f = descriptor(start, false);
  f.descriptor_directory = true;
  return f;
}

struct rule_case {
  std::string line;  // the README's line, and what differs within it
  output_facts facts;
  output_decision typed;
  output_decision chosen;
};

const rule_case rule_cases[] = {
    {"1 the input at a plane name", with(own_file(), [](auto& f) { f.plane = f.is_input = true; }),
     replace_keeping, refuse},
    {"1 a link to the input at a plane name",
     with(own_file(),
          [](auto& f) {
            f.holds = name_holds::symbolic_link;
            f.plane = f.is_input = true;
          }),
     follow, refuse},
    {"3 descriptor closed at start", descriptor(descriptor_start::closed, true), refuse, refuse},
    {"4 descriptor open for writing",
     descriptor(descriptor_start::writable, false),
     {output_action::write_through_descriptor, false},
     refuse},
    {"5 descriptor open only for reading, a regular file behind it",
     descriptor(descriptor_start::read_only, true),
     {output_action::reopen_descriptor, false},
     refuse},
    {"6 descriptor open only for reading, a pipe behind it",
     descriptor(descriptor_start::read_only, false), refuse, refuse},
    {"7 a directory", with(own_file(), [](auto& f) { f.holds = name_holds::directory; }), refuse,
     refuse},
    {"9 sticky, shared: another user's file",
     in_shared_sticky(with(own_file(), [](auto& f) { f.owner = other; })), refuse, refuse},
    {"9 sticky, shared: another user's file, run by root",
     in_shared_sticky(with(own_file(),
                           [](auto& f) {
                             f.owner = other;
                             f.user = 0;
                             f.root = true;
                           })),
     refuse, refuse},
    {"9 sticky, shared: another user's link",
     in_shared_sticky(with(own_file(),
                           [](auto& f) {
                             f.holds = name_holds::symbolic_link;
                             f.owner = other;
                           })),
     refuse, refuse},
    // Moved down from the program tests, which now run these as the rules
    // alone: the user (root) owns the sticky directory, and another user's
    // link or file stands at the name.
    {"9 sticky, shared: another user's link, run by root who owns the directory",
     in_shared_sticky(with(own_file(),
                           [](auto& f) {
                             f.holds = name_holds::symbolic_link;
                             f.owner = other;
                             f.user = f.directory_owner = 0;
                             f.root = true;
                           })),
     refuse, refuse},
    {"9 sticky, shared: another user's file, run by root who owns the directory",
     in_shared_sticky(with(own_file(),
                           [](auto& f) {
                             f.owner = other;
                             f.user = f.directory_owner = 0;
                             f.root = true;
                           })),
     refuse, refuse},
    {"9 sticky, shared: another user's link, run by an ordinary user",
     in_shared_sticky(with(own_file(),
                           [](auto& f) {
                             f.holds = name_holds::symbolic_link;
                             f.owner = other;
                             f.directory_owner = 0;
                           })),
     refuse, refuse},
    {"9 sticky, group-writable: another user's FIFO",
     with(own_file(),
          [](auto& f) {
            f.holds = name_holds::fifo;
            f.owner = other;
            f.directory_owner = directory_owner;
            f.directory_sticky = f.directory_writable_by_others = true;
          }),
     refuse, refuse},
    {"10 the user's own link",
     with(own_file(), [](auto& f) { f.holds = name_holds::symbolic_link; }), follow, replace},
    {"10 the directory owner's link in a shared sticky directory",
     in_shared_sticky(with(own_file(),
                           [](auto& f) {
                             f.holds = name_holds::symbolic_link;
                             f.owner = directory_owner;
                           })),
     follow, refuse},
    {"11 a device", with(own_file(), [](auto& f) { f.holds = name_holds::device; }), stream,
     replace},
    {"11 a FIFO", with(own_file(), [](auto& f) { f.holds = name_holds::fifo; }), stream, replace},
    {"12 a named socket", with(own_file(), [](auto& f) { f.holds = name_holds::socket; }), refuse,
     replace},
    {"13 a regular file the user may not write",
     with(own_file(), [](auto& f) { f.writable = false; }), refuse, replace_keeping},
    {"15 the user's own file with two names, directory writable (a hard link)",
     with(own_file(), [](auto& f) { f.links = 2; }), replace_keeping, replace_keeping},
    {"13 a regular file the user may not write, in a directory anyone may write",
     with(own_file(),
          [](auto& f) {
            f.writable = false;
            f.directory_owner = 0;
            f.directory_writable_by_others = true;
          }),
     refuse, replace_keeping},
    {"14 nothing, directory writable",
     with(own_file(), [](auto& f) { f.holds = name_holds::nothing; }), replace, replace},
    {"14 nothing, in a shared sticky directory",
     in_shared_sticky(with(own_file(), [](auto& f) { f.holds = name_holds::nothing; })), replace,
     replace},
    {"15 the user's own file", own_file(), replace_keeping, replace_keeping},
    {"15 another user's file, directory writable",
     with(own_file(), [](auto& f) { f.owner = other; }), replace_keeping, replace},
    // A link is trusted where only the directory's owner, its group or root
    // could have put it, or when it is the user's, the owner's or root's.
    {"10 another user's link, group-writable directory", group_writes(at(link, other)), follow,
     replace},
    {"12 another user's link, world-writable directory", anyone_writes(at(link, other)), refuse,
     replace},
    {"10 root's link, world-writable directory", anyone_writes(at(link, 0)), follow, replace},
    {"15 another user's file, world-writable directory, run by root",
     as_root(anyone_writes(at(file, other))), replace, replace},
    {"15 another user's file, group-writable directory", group_writes(at(file, other)),
     replace_keeping, replace},
    {"8 an immutable or append-only file", with(own_file(), [](auto& f) { f.fixed = true; }),
     refuse, refuse},
    {"17 nothing, append-only directory",
     keeps_entries(at(name_holds::nothing, me)),
     {output_action::create_directly, false},
     refuse},
    {"16 the user's own file, append-only directory", keeps_entries(own_file()), in_place,
     in_place},
    {"16 another user's file, append-only directory", keeps_entries(at(file, other)), in_place,
     refuse},
    {"11 a FIFO, append-only directory", keeps_entries(at(name_holds::fifo, me)), stream, refuse},
    {"16 the directory owner's file in a sticky directory only the owner writes",
     with(own_file(),
          [](auto& f) {
            f.owner = f.directory_owner = directory_owner;
            f.directory_sticky = true;
          }),
     in_place, refuse},
    {"16 the user's own file, directory not writable",
     with(own_file(), [](auto& f) { f.directory_writable = false; }), in_place, in_place},
    {"16 the user's own file with two names, directory not writable",
     with(own_file(),
          [](auto& f) {
            f.directory_writable = false;
            f.links = 2;
          }),
     in_place, refuse},
    {"16 another user's writable file, directory not writable",
     with(own_file(),
          [](auto& f) {
            f.directory_writable = false;
            f.owner = other;
          }),
     in_place, refuse},
    {"13 the user's own read-only file, directory not writable",
     with(own_file(),
          [](auto& f) {
            f.directory_writable = false;
            f.writable = false;
          }),
     refuse, refuse},
    {"18 nothing, directory not writable",
     with(own_file(),
          [](auto& f) {
            f.holds = name_holds::nothing;
            f.directory_writable = false;
          }),
     refuse, refuse},
    {"10 the user's own link, directory not writable",
     with(own_file(),
          [](auto& f) {
            f.holds = name_holds::symbolic_link;
            f.directory_writable = false;
          }),
     follow, refuse},
    // Windows: a name with a stream part, whatever stands at the file.
    {"2 a stream part (out.bmp:stream)", with(own_file(), [](auto& f) { f.stream_part = true; }),
     refuse, refuse},
    {"2 a stream part of the input (in.bmp::$DATA)",
     with(own_file(), [](auto& f) { f.stream_part = f.is_input = true; }), refuse, refuse},
    // The directories on the way to the last part, decided alike for typed
    // and chosen names.
    {"S1 a descriptor handed open on a directory",
     step(handed_directory(descriptor_start::read_only)), follow, follow},
    {"S1 a descriptor closed at start (or the program's own)",
     step(handed_directory(descriptor_start::closed)), refuse, refuse},
    {"S1 a descriptor handed open on a file", step(descriptor(descriptor_start::writable, true)),
     refuse, refuse},
    {"S2 a directory", step(at(name_holds::directory, me)), walk, walk},
    {"S2 another user's directory, world-writable directory",
     step(anyone_writes(at(name_holds::directory, other))), walk, walk},
    {"S3 another user's link in a shared sticky directory, run by root",
     step(as_root(in_shared_sticky(at(link, other)))), refuse, refuse},
    {"S4 another user's link, directory only its owner writes", step(at(link, other)), follow,
     follow},
    {"S4 the directory owner's link, world-writable directory",
     step(anyone_writes(at(link, directory_owner))), follow, follow},
    {"S5 another user's link, world-writable directory, run by root",
     step(as_root(anyone_writes(at(link, other)))), refuse, refuse},
    {"S5 nothing", step(at(name_holds::nothing, me)), refuse, refuse},
    {"S5 a regular file", step(own_file()), refuse, refuse},
};

void expect_decision(const output_decision& got, const output_decision& want) {
  EXPECT_EQ(static_cast<int>(got.action), static_cast<int>(want.action));
  EXPECT_EQ(got.keep_attributes, want.keep_attributes);
}

TEST(OutputRules, EveryLineOfTheTableForTypedAndChosenNames) {
  for (const rule_case& c : rule_cases) {
    SCOPED_TRACE(c.line);
    output_facts typed = c.facts;
    typed.kind = output_name_kind::typed;
    typed.plane = false;  // only the result's name is typed
    output_facts chosen = c.facts;
    chosen.kind = output_name_kind::chosen;
    {
      SCOPED_TRACE("typed");
      expect_decision(decide_output(typed), c.typed);
    }
    {
      SCOPED_TRACE("chosen");
      expect_decision(decide_output(chosen), c.chosen);
    }
  }
}

}  // namespace

#include "system/output_rules.h"

namespace {

constexpr output_decision refused{output_action::refuse, false};

output_decision act(output_action action) { return {action, false}; }

bool typed(const output_facts& f) { return f.kind == output_name_kind::typed; }

// Something owned by the user or by the directory's owner: what the kernel
// trusts in a sticky directory.
bool trusted_owner(const output_facts& f) {
  return f.owner == f.user || f.owner == f.directory_owner;
}

// A link only the directory's owner, its group or root could have put
// there, or one of the user's, the directory owner's or root's.
bool trusted_link(const output_facts& f) {
  return !f.directory_writable_by_anyone || trusted_owner(f) || f.owner == 0;
}

// In a sticky directory others may write, something of a third user's:
// the kernel's own rule for such directories, root included.
bool foreign_in_sticky(const output_facts& f) {
  return f.holds != name_holds::nothing && f.directory_sticky && f.directory_writable_by_others &&
         !trusted_owner(f);
}

output_decision through_descriptor(const output_facts& f) {
  if (f.descriptor == descriptor_start::writable) {
    return act(output_action::write_through_descriptor);
  }
  if (f.descriptor == descriptor_start::read_only && f.descriptor_regular) {
    return act(output_action::reopen_descriptor);
  }
  return refused;
}

// Whether a rename may put a new file at the name: the directory takes new
// entries and lets them go, and, when sticky, lets this user remove what
// stands there.
bool replaceable(const output_facts& f) {
  if (!f.directory_writable || f.directory_keeps_entries) {
    return false;
  }
  if (f.holds == name_holds::nothing || !f.directory_sticky || f.root) {
    return true;
  }
  return f.owner == f.user || f.directory_owner == f.user;
}

// A replaced regular file keeps its owner and mode when it is the user's,
// or typed where only people the directory trusts could have put it.
bool keeps_attributes(const output_facts& f) {
  if (f.holds != name_holds::regular_file) {
    return false;
  }
  return f.owner == f.user || (typed(f) && !f.directory_writable_by_anyone);
}

bool may_write_in_place(const output_facts& f) {
  if (f.holds != name_holds::regular_file || !f.writable) {
    return false;
  }
  return typed(f) || (f.owner == f.user && f.links == 1);
}

// A directory on the way to the last part.
output_decision decide_step(const output_facts& f) {
  if (f.holds == name_holds::descriptor) {
    const bool handed = f.descriptor != descriptor_start::closed;
    return handed && f.descriptor_directory ? act(output_action::follow_link) : refused;
  }
  if (f.holds == name_holds::directory) {
    return act(output_action::walk_through);
  }
  if (f.holds == name_holds::symbolic_link && !foreign_in_sticky(f) && trusted_link(f)) {
    return act(output_action::follow_link);
  }
  return refused;
}

}  // namespace

output_decision decide_output(const output_facts& f) {
  if (f.step) {
    return decide_step(f);
  }
  if ((f.plane && f.is_input) || f.stream_part) {
    return refused;
  }
  if (f.holds == name_holds::descriptor) {
    return typed(f) ? through_descriptor(f) : refused;
  }
  if (f.holds == name_holds::directory || f.fixed || foreign_in_sticky(f)) {
    return refused;
  }
  if (typed(f)) {
    if (f.holds == name_holds::symbolic_link) {
      return trusted_link(f) ? act(output_action::follow_link) : refused;
    }
    if (f.holds == name_holds::device || f.holds == name_holds::fifo) {
      return act(output_action::write_as_stream);
    }
    if (f.holds == name_holds::socket) {
      return refused;
    }
    if (f.holds == name_holds::regular_file && !f.writable) {
      return refused;
    }
  }
  if (replaceable(f)) {
    return {output_action::replace, keeps_attributes(f)};
  }
  if (typed(f) && f.holds == name_holds::nothing && f.directory_writable &&
      f.directory_keeps_entries) {
    return act(output_action::create_directly);
  }
  return may_write_in_place(f) ? act(output_action::write_in_place) : refused;
}

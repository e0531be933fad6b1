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
// entries and, when sticky, lets this user remove what stands there.
bool replaceable(const output_facts& f) {
  if (!f.directory_writable) {
    return false;
  }
  if (f.holds == name_holds::nothing || !f.directory_sticky || f.root) {
    return true;
  }
  return f.owner == f.user || f.directory_owner == f.user;
}

bool may_write_in_place(const output_facts& f) {
  if (f.holds != name_holds::regular_file || !f.writable) {
    return false;
  }
  return typed(f) || (f.owner == f.user && f.links == 1);
}

}  // namespace

output_decision decide_output(const output_facts& f) {
  if (f.plane && f.is_input) {
    return refused;
  }
  if (f.holds == name_holds::descriptor) {
    return typed(f) ? through_descriptor(f) : refused;
  }
  if (f.holds == name_holds::directory) {
    return refused;
  }
  if (f.holds != name_holds::nothing && f.directory_sticky && f.directory_writable_by_others &&
      !trusted_owner(f)) {
    return refused;
  }
  if (typed(f)) {
    if (f.holds == name_holds::symbolic_link && trusted_owner(f)) {
      return act(output_action::follow_link);
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
    const bool keep = f.holds == name_holds::regular_file && (typed(f) || f.owner == f.user);
    return {output_action::replace, keep};
  }
  return may_write_in_place(f) ? act(output_action::write_in_place) : refused;
}

#include "core/temporary_file.h"

#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "core/file_system.h"

namespace {

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

// The temporary file's name, read by the signal handler. held is set only
// while the name is complete and the file exists.
char temporary_path[4096 + 64];
volatile std::sig_atomic_t held = 0;

void remove_and_reraise(int signal_number) {
  if (held != 0) {
    remove_name(temporary_path);
    held = 0;
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Installs the handler once, except for a signal the parent left ignored
// (a background job's SIGINT, a SIGXFSZ ignored on purpose): that one stays
// ignored, as it would without the handler.
void install_cleanup_handlers() {
  static bool installed = false;
  if (installed) {
    return;
  }
  installed = true;
  for (const int signal_number : cleanup_signals) {
    struct sigaction old_action {};
    if (sigaction(signal_number, nullptr, &old_action) != 0 || old_action.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = remove_and_reraise;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

// Holds the cleanup signals back while the file and its record change
// together, so that the handler never sees one without the other; returns
// the mask to restore.
sigset_t hold_cleanup_signals() {
  sigset_t set;
  sigset_t saved;
  sigemptyset(&set);
  for (const int signal_number : cleanup_signals) {
    sigaddset(&set, signal_number);
  }
  sigprocmask(SIG_BLOCK, &set, &saved);
  return saved;
}

void restore_signals(const sigset_t& saved) { sigprocmask(SIG_SETMASK, &saved, nullptr); }

// Writes DIRECTORY/.NAME.XXXXXX into temporary_path for final_path =
// DIRECTORY/NAME (or NAME alone); false when it does not fit or NAME is
// empty. A long NAME is shortened so that the hidden name stays within the
// usual 255-byte limit.
bool make_temporary_pattern(const char* final_path) {
  const char* slash = std::strrchr(final_path, '/');
  const std::size_t directory_length =
      slash == nullptr ? 0 : static_cast<std::size_t>(slash - final_path) + 1;
  const char* name = final_path + directory_length;
  std::size_t name_length = std::strlen(name);
  if (name_length == 0) {
    return false;
  }
  constexpr std::size_t longest_name = 200;
  name_length = name_length < longest_name ? name_length : longest_name;
  const char suffix[] = ".XXXXXX";
  if (directory_length + 1 + name_length + sizeof suffix > sizeof temporary_path) {
    return false;
  }
  char* out = temporary_path;
  std::memcpy(out, final_path, directory_length);
  out += directory_length;
  *out++ = '.';
  std::memcpy(out, name, name_length);
  out += name_length;
  std::memcpy(out, suffix, sizeof suffix);
  return true;
}

}  // namespace

std::FILE* create_temporary_file(const char* final_path) {
  install_cleanup_handlers();
  const sigset_t saved = hold_cleanup_signals();
  std::FILE* file = nullptr;
  if (held != 0 || !make_temporary_pattern(final_path)) {
    errno = ENAMETOOLONG;
  } else {
    file = create_unique_file(temporary_path);
    held = file != nullptr ? 1 : 0;
  }
  const int error = errno;
  restore_signals(saved);
  errno = error;
  return file;
}

bool commit_temporary_file(const char* final_path) {
  const sigset_t saved = hold_cleanup_signals();
  const bool renamed = rename_replacing(temporary_path, final_path);
  if (!renamed) {
    remove_name(temporary_path);
  }
  held = 0;
  restore_signals(saved);
  return renamed;
}

void discard_temporary_file() {
  const sigset_t saved = hold_cleanup_signals();
  if (held != 0) {
    remove_name(temporary_path);
    held = 0;
  }
  restore_signals(saved);
}

// Runs a program with fork and execve, the limits and identity of the
// child set between the two. A program built for another processor is
// started through its emulator, which is given the program's argument 0.
#include "tests/support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "tests/support/program_emulator.h"

namespace {

bool emulated() { return program_emulator[0] != nullptr; }

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct pipe_ends {
  int read_end = -1;
  int write_end = -1;
};

pipe_ends make_pipe() {
  int fds[2];
  // Close-on-exec keeps the pipes from leaking into the program; dup2
  // clears the flag on the copies the child keeps as 1 and 2.
  if (pipe2(fds, O_CLOEXEC) != 0) {
    fail("pipe2");
  }
  return {fds[0], fds[1]};
}

void close_fd(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

void write_all(int fd, const char* text) {
  for (std::size_t left = std::strlen(text); left > 0;) {
    const ssize_t n = write(fd, text, left);
    if (n <= 0) {
      return;
    }
    text += n;
    left -= static_cast<std::size_t>(n);
  }
}

// The limits and identity of the child, prepared before fork.
struct child_setup {
  const char* executable;
  char* const* argv;
  char* const* envp;
  const char* dir;
  const run_options* options;
};

// A cap of bytes (0: none); false when it cannot be set, also when rlim_t
// cannot hold it.
bool apply_limit(int resource, std::uint64_t bytes) {
  if (bytes == 0) {
    return true;
  }
  if (bytes > std::numeric_limits<rlim_t>::max()) {
    return false;
  }
  const auto cap = static_cast<rlim_t>(bytes);
  const rlimit limit{cap, cap};
  return setrlimit(resource, &limit) == 0;
}

// The nobody user of Debian and most systems.
constexpr uid_t nobody = 65534;

// Runs in the forked child: only async-signal-safe calls from here on.
// Gives the child the tests' descriptors under their numbers: each is first
// copied above every number it could be given, so that no copy overwrites
// another's source.
bool hand_over_descriptors(const std::vector<std::pair<int, int>>& descriptors) {
  constexpr int above = 100;
  for (const auto& [number, fd] : descriptors) {
    if (fd >= 0 && fcntl(fd, F_DUPFD, above + number) != above + number) {
      return false;
    }
  }
  for (const auto& [number, fd] : descriptors) {
    const bool handed = fd < 0 ? close(number) == 0 || errno == EBADF
                               : dup2(above + number, number) >= 0 && close(above + number) == 0;
    if (!handed) {
      return false;
    }
  }
  return true;
}

// No core files: a program a test ends with SIGQUIT must leave nothing.
void no_core_files() {
  const rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);
}

[[noreturn]] void exec_child(const child_setup& setup, int null_in, int out, int err) {
  const run_options& options = *setup.options;
  if (dup2(null_in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
      dup2(err, STDERR_FILENO) < 0 || !hand_over_descriptors(options.descriptors)) {
    _exit(127);
  }
  no_core_files();
  if (!apply_limit(RLIMIT_AS, options.address_space_limit) ||
      !apply_limit(RLIMIT_FSIZE, options.file_size_limit)) {
    write_all(STDERR_FILENO, "run_program: setrlimit failed\n");
    _exit(127);
  }
  if (options.file_size_limit != 0 && !options.file_size_limit_kills) {
    signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec
  }
  if (options.without_root && geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0)) {
    write_all(STDERR_FILENO, "run_program: cannot become nobody\n");
    _exit(127);
  }
  if (options.umask >= 0) {
    umask(static_cast<mode_t>(options.umask));
  }
  alarm(options.time_limit_seconds);  // kept across execve
  if (chdir(setup.dir) != 0) {
    write_all(STDERR_FILENO, "run_program: chdir failed\n");
    _exit(127);
  }
  execve(setup.executable, setup.argv, setup.envp);
  write_all(STDERR_FILENO, "run_program: execve failed\n");
  _exit(127);
}

std::vector<std::string> child_environment(const run_options& options) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    entries.emplace_back(*entry);
  }
  entries.insert(entries.end(), options.environment.begin(), options.environment.end());
  return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// What the parent watches while the child runs: a directory in which the
// appearance of a hidden entry sends the child a signal.
struct watch {
  int fd = -1;  // inotify descriptor, or -1
  int signal = 0;
  int hidden_entries_left = 0;  // before the signal is sent
  pid_t pid = 0;
};

watch start_watch(const std::string& dir, int signal, int hidden_entries) {
  watch w;
  if (signal == 0) {
    return w;
  }
  w.hidden_entries_left = hidden_entries;
  w.fd = inotify_init1(IN_CLOEXEC);
  if (w.fd < 0 || inotify_add_watch(w.fd, dir.c_str(), IN_CREATE) < 0) {
    fail("inotify");
  }
  w.signal = signal;
  return w;
}

// Reads the watch's events and signals the child once, when the awaited
// count of hidden entries has been created.
void check_watch(watch& w) {
  alignas(inotify_event) char events[4096];
  const ssize_t n = read(w.fd, events, sizeof events);
  for (ssize_t at = 0; at < n;) {
    const auto* event = reinterpret_cast<const inotify_event*>(events + at);
    if (event->len > 0 && event->name[0] == '.' && --w.hidden_entries_left <= 0) {
      kill(w.pid, w.signal);
      close_fd(w.fd);
      return;
    }
    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
  }
}

// Reads both pipes until the child has closed them; reading them together
// keeps a full pipe from blocking the child.
void drain(int& out_fd, int& err_fd, std::string& out, std::string& err, watch& w) {
  char buffer[4096];
  while (out_fd >= 0 || err_fd >= 0) {
    pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {w.fd, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail("poll");
    }
    if (w.fd >= 0 && fds[2].revents != 0) {
      check_watch(w);
    }
    int* fd_of[2] = {&out_fd, &err_fd};
    std::string* text_of[2] = {&out, &err};
    for (int i = 0; i < 2; ++i) {
      if (*fd_of[i] < 0 || fds[i].revents == 0) {
        continue;
      }
      const ssize_t n = read(*fd_of[i], buffer, sizeof buffer);
      if (n > 0) {
        text_of[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close_fd(*fd_of[i]);
      }
    }
  }
}

void wait_for(pid_t pid, program_result& result) {
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) {
      fail("waitpid");
    }
  }
  if (WIFEXITED(wait_status)) {
    result.exited = true;
    result.exit_status = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    result.signal = WTERMSIG(wait_status);
  }
}

}  // namespace

std::string unsupported_options(const run_options& options) {
  // qemu-user maps the guest's memory itself and does not apply the
  // address-space cap to it.
  if (emulated() && options.address_space_limit != 0) {
    return "the emulator does not apply an address-space limit to the program it runs";
  }
  // qemu-user's threads of its own (its RCU thread) leave SIGSEGV, SIGFPE and
  // SIGILL unblocked, and one of them sent with kill (not a fault) that the
  // kernel hands to such a thread crashes the emulator at once: its handler
  // finds no emulated processor there. The kernel does so whenever the
  // program's thread has the signal blocked on the host for a moment, as the
  // emulator has around its system calls and thread starts, so that the
  // program's own handler never runs: from one run in 60 (qemu-arm) to one
  // in 8 (qemu-s390x) under load.
  const int sent = options.signal_on_temporary_file;
  if (emulated() && (sent == SIGSEGV || sent == SIGFPE || sent == SIGILL)) {
    return "qemu-user crashes itself, before the program can clean up, when the kernel hands a "
           "sent SIGSEGV, SIGFPE or SIGILL to one of the emulator's own threads";
  }
  return std::string();
}

namespace {

// The argument vector that runs executable with args: the program itself,
// or the emulator, which sets argument 0 (-0) and then loads the program.
std::vector<std::string> command_line(const std::string& executable,
                                      const std::vector<std::string>& args) {
  if (!emulated()) {
    return args;
  }
  std::vector<std::string> command;
  for (const char* const* part = program_emulator; *part != nullptr; ++part) {
    command.emplace_back(*part);
  }
  command.emplace_back("-0");
  command.emplace_back(args.empty() ? executable : args[0]);
  command.push_back(executable);
  if (!args.empty()) {
    command.insert(command.end(), args.begin() + 1, args.end());
  }
  return command;
}

}  // namespace

program_result run_program(const std::string& executable, const std::vector<std::string>& args,
                           const std::string& working_dir, const run_options& options) {
  // An emulator would start and then fail to load the program; a missing
  // program is reported as execve would.
  if (emulated() && access(executable.c_str(), X_OK) != 0) {
    fail("cannot run " + executable);
  }
  // Everything the child needs is prepared before fork.
  std::vector<std::string> arg_copies = command_line(executable, args);
  std::vector<std::string> env_copies = child_environment(options);
  const std::vector<char*> argv = pointers_to(arg_copies);
  const std::vector<char*> envp = pointers_to(env_copies);
  const char* const started = emulated() ? program_emulator[0] : executable.c_str();
  const child_setup setup{started, argv.data(), envp.data(), working_dir.c_str(), &options};

  int null_in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_in < 0) {
    fail("open /dev/null");
  }
  pipe_ends out = make_pipe();
  pipe_ends err = make_pipe();
  watch w = start_watch(working_dir, options.signal_on_temporary_file,
                        options.temporary_files_before_signal);
  const pid_t pid = fork();
  if (pid < 0) {
    fail("fork");
  }
  if (pid == 0) {
    exec_child(setup, null_in, out.write_end, err.write_end);
  }
  close_fd(null_in);
  close_fd(out.write_end);
  close_fd(err.write_end);

  w.pid = pid;
  program_result result;
  drain(out.read_end, err.read_end, result.out, result.err, w);
  close_fd(w.fd);
  wait_for(pid, result);
  return result;
}

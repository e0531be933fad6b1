// An allocator interposed at link time (-Wl,--wrap=...) in the test builds
// of the programs, so that a test can make any one allocation of a run
// fail and see that every block taken was given back. Only the programs'
// own calls pass through here; the C library's internal ones do not.
//
// CONVERTERS_FAIL_ALLOCATION=N makes the N-th allocation (counting from 1)
// return null. CONVERTERS_FAIL_WRITE=N makes the N-th write to a file (an
// fwrite, the standard error stream not counted, or a write at an offset)
// write nothing. CONVERTERS_ALLOCATION_REPORT=PATH makes
// the process write "calls=C live=L" to PATH at exit: the allocations asked for and the blocks
// still held.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t size);
#ifndef _WIN32
void* __real_aligned_alloc(std::size_t alignment, std::size_t size);
int __real_posix_memalign(void** block, std::size_t alignment, std::size_t size);
#endif
void __real_free(void* block);
std::size_t __real_fwrite(const void* data, std::size_t size, std::size_t count, std::FILE* stream);
bool __real_write_file_at(std::FILE* file, std::uint64_t offset, const std::uint8_t* bytes,
                          std::size_t count);
}

namespace {

long calls = 0;
long live = 0;
long failing_call = -1;  // -1: not read yet; 0: never fail

// On Windows the C runtime and the statically linked C++ and thread
// libraries allocate through these same wrappers, before main and on the
// first use of a lock, and fail badly when refused. Only the run's own
// allocations are counted: from the moment main's start-up call to __main
// (which runs the constructors) returns, after a first guarded static has
// made the thread library set up its locks.
#ifdef _WIN32
bool counting = false;
#else
constexpr bool counting = true;
#endif

long read_failing_call() {
  const char* text = std::getenv("CONVERTERS_FAIL_ALLOCATION");
  return text == nullptr ? 0 : std::strtol(text, nullptr, 10);
}

// Counts one allocation; false when this one is to fail.
bool may_allocate() {
  if (!counting) {
    return true;
  }
  if (failing_call < 0) {
    failing_call = read_failing_call();
  }
  ++calls;
  return calls != failing_call;
}

void* counted(void* block) {
  if (counting && block != nullptr) {
    ++live;
  }
  return block;
}

__attribute__((destructor)) void write_report() {
  const char* path = std::getenv("CONVERTERS_ALLOCATION_REPORT");
  if (path == nullptr) {
    return;
  }
  // The C library's own allocations for the stream do not pass through
  // the wrappers above.
  if (std::FILE* report = std::fopen(path, "w")) {
    std::fprintf(report, "calls=%ld live=%ld\n", calls, live);
    std::fclose(report);
  }
}

// Writes at offsets come from several threads at once.
std::atomic<long> writes{0};
long failing_write = -1;  // -1: not read yet; 0: never fail

long read_failing_write() {
  const char* text = std::getenv("CONVERTERS_FAIL_WRITE");
  return text == nullptr ? 0 : std::strtol(text, nullptr, 10);
}

// Counts one write to a file; false when this one is to fail. The first
// write of a run comes before any thread is started.
bool may_write(std::FILE* stream) {
  if (stream == stderr) {
    return true;
  }
  if (failing_write < 0) {
    failing_write = read_failing_write();
  }
  return ++writes != failing_write;
}

}  // namespace

extern "C" {

std::size_t __wrap_fwrite(const void* data, std::size_t size, std::size_t count,
                          std::FILE* stream) {
  return may_write(stream) ? __real_fwrite(data, size, count, stream) : 0;
}

bool __wrap_write_file_at(std::FILE* file, std::uint64_t offset, const std::uint8_t* bytes,
                          std::size_t count) {
  return may_write(file) && __real_write_file_at(file, offset, bytes, count);
}

void* __wrap_malloc(std::size_t size) {
  return may_allocate() ? counted(__real_malloc(size)) : nullptr;
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
  return may_allocate() ? counted(__real_calloc(count, size)) : nullptr;
}

void* __wrap_realloc(void* block, std::size_t size) {
  if (!may_allocate()) {
    return nullptr;
  }
  void* moved = __real_realloc(block, size);
  if (block == nullptr) {
    return counted(moved);
  }
  return moved;
}

// Windows' C runtime has neither of these two.
#ifndef _WIN32
void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
  return may_allocate() ? counted(__real_aligned_alloc(alignment, size)) : nullptr;
}

int __wrap_posix_memalign(void** block, std::size_t alignment, std::size_t size) {
  if (!may_allocate()) {
    return ENOMEM;
  }
  const int result = __real_posix_memalign(block, alignment, size);
  if (counting && result == 0) {
    ++live;
  }
  return result;
}
#endif

void __wrap_free(void* block) {
  if (counting && block != nullptr) {
    --live;
  }
  __real_free(block);
}

#ifdef _WIN32
void __real___main();

void __wrap___main() {
  __real___main();
  static volatile int guarded = std::rand();
  static_cast<void>(guarded);
  counting = true;
}
#endif

}  // extern "C"

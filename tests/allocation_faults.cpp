// An allocator interposed at link time (-Wl,--wrap=...) in the test builds
// of the programs, so that a test can make any one allocation of a run
// fail and see that every block taken was given back. Only the programs'
// own calls pass through here; the C library's internal ones do not.
//
// CONVERTERS_FAIL_ALLOCATION=N makes the N-th allocation (counting from 1)
// return null. CONVERTERS_ALLOCATION_REPORT=PATH makes the process write
// "calls=C live=L" to PATH at exit: the allocations asked for and the
// blocks still held.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t size);
void* __real_aligned_alloc(std::size_t alignment, std::size_t size);
int __real_posix_memalign(void** block, std::size_t alignment, std::size_t size);
void __real_free(void* block);
}

namespace {

long calls = 0;
long live = 0;
long failing_call = -1;  // -1: not read yet; 0: never fail

long read_failing_call() {
  const char* text = std::getenv("CONVERTERS_FAIL_ALLOCATION");
  return text == nullptr ? 0 : std::strtol(text, nullptr, 10);
}

// Counts one allocation; false when this one is to fail.
bool may_allocate() {
  if (failing_call < 0) {
    failing_call = read_failing_call();
  }
  ++calls;
  return calls != failing_call;
}

void* counted(void* block) {
  if (block != nullptr) {
    ++live;
  }
  return block;
}

__attribute__((destructor)) void write_report() {
  const char* path = std::getenv("CONVERTERS_ALLOCATION_REPORT");
  if (path == nullptr) {
    return;
  }
  char text[64];
  const int length = std::snprintf(text, sizeof text, "calls=%ld live=%ld\n", calls, live);
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0 && length > 0) {
    const ssize_t written = write(fd, text, static_cast<std::size_t>(length));
    static_cast<void>(written);
  }
  if (fd >= 0) {
    close(fd);
  }
}

}  // namespace

extern "C" {

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

void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
  return may_allocate() ? counted(__real_aligned_alloc(alignment, size)) : nullptr;
}

int __wrap_posix_memalign(void** block, std::size_t alignment, std::size_t size) {
  if (!may_allocate()) {
    return ENOMEM;
  }
  const int result = __real_posix_memalign(block, alignment, size);
  if (result == 0) {
    ++live;
  }
  return result;
}

void __wrap_free(void* block) {
  if (block != nullptr) {
    --live;
  }
  __real_free(block);
}

}  // extern "C"

// Preloaded into a receiver (LD_PRELOAD) to count its heap allocations: every
// malloc, calloc, realloc and aligned allocation adds one to a counter kept in
// the 8-byte file named by DRAVIK_BENCH_ALLOCS, mapped shared, so the benchmark
// reads it from outside while the process runs.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
}

namespace {

std::uint64_t early = 0;  // allocations before the mapping exists
volatile std::uint64_t* counter = &early;

__attribute__((constructor)) void map_counter() {
  const char* path = std::getenv("DRAVIK_BENCH_ALLOCS");
  if (path == nullptr) return;
  int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0 || ::ftruncate(fd, sizeof(std::uint64_t)) != 0) return;
  void* m = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (m == MAP_FAILED) return;
  auto* shared = static_cast<std::uint64_t*>(m);
  *shared = early;
  counter = shared;
}

void count() { *counter = *counter + 1; }

}  // namespace

extern "C" {
void* malloc(std::size_t n) {
  count();
  return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
  count();
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
  count();
  return __libc_realloc(p, n);
}
void* memalign(std::size_t align, std::size_t n) {
  count();
  return __libc_memalign(align, n);
}
void* aligned_alloc(std::size_t align, std::size_t n) {
  count();
  return __libc_memalign(align, n);
}
int posix_memalign(void** out, std::size_t align, std::size_t n) {
  count();
  void* p = __libc_memalign(align, n);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}

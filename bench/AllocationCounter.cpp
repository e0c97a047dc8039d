// Replaces the global allocation functions with counting ones. The array
// forms of the standard library forward to these, so they are counted too.
#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> allocations{0};
std::atomic<uint64_t> releases{0};

}  // namespace

namespace benchsupport {

uint64_t allocationCount() { return allocations.load(std::memory_order_relaxed); }
uint64_t releaseCount() { return releases.load(std::memory_order_relaxed); }

}  // namespace benchsupport

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  // malloc(0) may return null; a zero-size request still needs a unique pointer.
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
  if (block != nullptr) {
    releases.fetch_add(1, std::memory_order_relaxed);
  }
  std::free(block);
}

void operator delete(void* block, std::size_t /*size*/) noexcept { operator delete(block); }

// The heap as a static arena: newlib's malloc asks _sbrk for memory, and
// this _sbrk hands out a fixed array and nothing beyond it, so the heap's
// size is fixed at link time and shows in the RAM the linker reports.
//
// The detector keeps 40 bytes from its set-up to its close (plus 24 bytes
// made once per program) and at most some 200 bytes more during one
// sample, in blocks of at most 72 bytes that are freed before the sample
// ends. But newlib's malloc takes memory from _sbrk in large steps: for
// the detector alone it takes 3,776 bytes, so 4 KiB is about the least an
// arena can be. This example also prints and reads a file through the C
// library, whose buffers come from the same heap, hence 8 KiB.
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace {

constexpr std::size_t kArenaSize = 8 * 1024;
alignas(8) unsigned char arena[kArenaSize];
std::size_t used = 0;

}  // namespace

std::size_t heapArenaUsed() { return used; }

extern "C" void* _sbrk(ptrdiff_t increment) {
  if (increment < 0 ? static_cast<std::size_t>(-increment) > used
                    : static_cast<std::size_t>(increment) > kArenaSize - used) {
    errno = ENOMEM;
    return reinterpret_cast<void*>(-1);
  }
  void* const previous = arena + used;
  used += static_cast<std::size_t>(increment);
  return previous;
}

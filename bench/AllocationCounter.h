// Counts the heap allocations made through the global operator new, so that
// benchmarks and checks can report and bound allocations per sample.
#pragma once

#include <cstdint>

namespace benchsupport {

// Allocations and releases since the program started (all threads).
[[nodiscard]] uint64_t allocationCount();
[[nodiscard]] uint64_t releaseCount();

}  // namespace benchsupport

// What the harness programs can ask of the target's runtime (Semihosting.cpp).
#pragma once

#include <cstddef>

// Bytes of the linker script's heap handed out so far, the most ever handed
// out, and the heap's size.
[[nodiscard]] std::size_t TargetHeapUsed();
[[nodiscard]] std::size_t TargetHeapHighWater();
[[nodiscard]] std::size_t TargetHeapSize();

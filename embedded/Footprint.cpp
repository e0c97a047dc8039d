// footprint: what the detector takes of a Cortex-M4's memory while it
// replays one recording. Prints the context's size, the heap the set-up
// takes, the allocations per sample and the heap's peak while processing,
// the deepest stack one VelmoraProcess call uses (by stack painting), and
// whether the close gives every byte back.
//
// Only the detector's calls are measured; the recording is read and split
// between them. Allocations are counted by replacing
// the global operator new and delete, which the detector's vectors use.
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>

#include "RecordingReader.h"
#include "TargetRuntime.h"
#include "Velmora.h"

extern "C" char __stack_bottom[];

namespace {

struct AllocationCounter {
  uint64_t allocations = 0;
  std::size_t liveBytes = 0;
  std::size_t peakBytes = 0;
  std::size_t liveBlocks = 0;
  std::size_t peakBlocks = 0;
  std::size_t largest = 0;
};
AllocationCounter counter;

// Each block carries its size in front, so that delete can count it off.
constexpr std::size_t kHeader = 8;

constexpr uint32_t kPaint = 0xC5A1AB1Eu;

// Paints the stack below this function's frame, calls VelmoraProcess, and
// returns how far below this frame the call wrote.
[[gnu::noinline]] std::size_t processMeasuringStack(DetectorContext* context,
                                                    const SampleRecord* sample, int32_t* code) {
  char* sp;
  asm volatile("mov %0, sp" : "=r"(sp));
  // Leave a margin for this function's own pushes during the loops.
  volatile uint32_t* const end = reinterpret_cast<volatile uint32_t*>(sp - 64);
  volatile uint32_t* word = reinterpret_cast<volatile uint32_t*>(__stack_bottom);
  for (; word < end; ++word) {
    *word = kPaint;
  }
  *code = VelmoraProcess(context, sample);
  word = reinterpret_cast<volatile uint32_t*>(__stack_bottom);
  while (word < end && *word == kPaint) {
    ++word;
  }
  return static_cast<std::size_t>(sp - reinterpret_cast<char*>(const_cast<uint32_t*>(word)));
}

struct Pass {
  uint64_t samples = 0;
  uint64_t allocations = 0;
  uint64_t mostAllocationsInOneSample = 0;
  std::size_t peakBlocksInCall = 0;
  std::size_t peakInCall = 0;  // bytes live at once beyond those before the call
  std::size_t deepestStack = 0;
  int32_t falls = 0;
};

// Replays the recording through a fresh context, measuring every call.
// Lines are read and split between the calls, outside what is measured.
Pass replay(const char* path, std::size_t& setUpBytes, uint64_t& setUpAllocations,
            std::size_t& leftAfterClose) {
  // Destroyed before the heap is counted after the close, since it keeps
  // blocks of its own (the numbers of short lines).
  std::optional<RecordingReader> reader(std::in_place);
  if (!reader->open(path)) {
    std::fprintf(stderr, "footprint: %s, not opened\n", path);
    std::exit(1);
  }
  static DetectorContext storage;
  DetectorContext* const context = &storage;
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  const std::size_t before = counter.liveBytes;
  const uint64_t allocationsBefore = counter.allocations;
  if (VelmoraSet(context, &settings) < 0) {
    std::fputs("footprint: VelmoraSet failed\n", stderr);
    std::exit(1);
  }
  setUpBytes = counter.liveBytes - before;
  setUpAllocations = counter.allocations - allocationsBefore;

  Pass pass;
  reader->skipHeader();
  SampleRecord sample{};
  for (RecordingReader::Status status;
       (status = reader->next(sample)) != RecordingReader::Status::End;) {
    if (status != RecordingReader::Status::Sample) {
      continue;
    }
    counter.peakBytes = counter.liveBytes;
    counter.peakBlocks = counter.liveBlocks;
    const std::size_t liveBefore = counter.liveBytes;
    const std::size_t blocksBefore = counter.liveBlocks;
    const uint64_t allocations = counter.allocations;
    int32_t code = 0;
    const std::size_t stack = processMeasuringStack(context, &sample, &code);
    const uint64_t made = counter.allocations - allocations;
    pass.allocations += made;
    pass.mostAllocationsInOneSample = std::max(pass.mostAllocationsInOneSample, made);
    pass.peakInCall = std::max(pass.peakInCall, counter.peakBytes - liveBefore);
    pass.peakBlocksInCall = std::max(pass.peakBlocksInCall, counter.peakBlocks - blocksBefore);
    pass.deepestStack = std::max(pass.deepestStack, stack);
    pass.falls += code > 0 ? 1 : 0;
    ++pass.samples;
  }
  reader.reset();
  VelmoraClose(context);
  leftAfterClose = counter.liveBytes - before;
  return pass;
}

}  // namespace

// Kept out of line: inlined into the callers, the size header in front of
// each block confuses the compiler's checks of matching new and delete.
[[gnu::noinline]] void* operator new(std::size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  *static_cast<std::size_t*>(block) = size;
  ++counter.allocations;
  counter.liveBytes += size;
  counter.peakBytes = std::max(counter.peakBytes, counter.liveBytes);
  ++counter.liveBlocks;
  counter.peakBlocks = std::max(counter.peakBlocks, counter.liveBlocks);
  counter.largest = std::max(counter.largest, size);
  return static_cast<char*>(block) + kHeader;
}

[[gnu::noinline]] void operator delete(void* pointer) noexcept {
  if (pointer == nullptr) {
    return;
  }
  char* const block = static_cast<char*>(pointer) - kHeader;
  counter.liveBytes -= *reinterpret_cast<std::size_t*>(block);
  --counter.liveBlocks;
  std::free(block);
}

void operator delete(void* pointer, std::size_t) noexcept { operator delete(pointer); }

int main(int argc, char** argv) {
  // Taken before main by the runtime's constructors (libstdc++'s reserve
  // for throwing exceptions when the heap is exhausted, above all).
  const std::size_t beforeMain = static_cast<std::size_t>(mallinfo().uordblks);
  if (argc != 2) {
    std::fputs("Usage: footprint <data_file>\n", stderr);
    return 2;
  }
  std::size_t setUpBytes = 0;
  uint64_t setUpAllocations = 0;
  std::size_t leftAfterClose = 0;
  const Pass quiet = replay(argv[1], setUpBytes, setUpAllocations, leftAfterClose);

  // Once more with the trace written (to the host's /dev/null), for the
  // stack the formatted output takes on top.
  std::FILE* sink = std::fopen("/dev/null", "w");
  traceStream = sink;
  std::size_t ignoredBytes = 0;
  uint64_t ignoredAllocations = 0;
  std::size_t leftAfterSecondClose = 0;
  const Pass traced = replay(argv[1], ignoredBytes, ignoredAllocations, leftAfterSecondClose);
  traceStream = nullptr;
  if (sink != nullptr) {
    std::fclose(sink);
  }

  std::printf("samples                          %llu\n",
              static_cast<unsigned long long>(quiet.samples));
  std::printf("falls reported                   %ld\n", static_cast<long>(quiet.falls));
  std::printf("sizeof(DetectorContext)          %u bytes\n",
              static_cast<unsigned>(sizeof(DetectorContext)));
  std::printf("heap in use before main          %u bytes (C++ runtime)\n",
              static_cast<unsigned>(beforeMain));
  std::printf("heap taken by VelmoraSet         %u bytes in %llu allocations\n",
              static_cast<unsigned>(setUpBytes), static_cast<unsigned long long>(setUpAllocations));
  std::printf("allocations per sample           %.2f on average, %llu at most\n",
              quiet.samples == 0
                  ? 0.0
                  : static_cast<double>(quiet.allocations) / static_cast<double>(quiet.samples),
              static_cast<unsigned long long>(quiet.mostAllocationsInOneSample));
  std::printf("heap peak within one call        %u bytes above what was live before it\n",
              static_cast<unsigned>(quiet.peakInCall));
  // What the first run leaves and the second does not is made once per
  // program (a function-local static), not per set-up.
  std::printf("blocks within one call           %u at most, the largest %u bytes\n",
              static_cast<unsigned>(quiet.peakBlocksInCall),
              static_cast<unsigned>(counter.largest));
  std::printf("heap kept after the first run    %u bytes, made once per program\n",
              static_cast<unsigned>(leftAfterClose - leftAfterSecondClose));
  std::printf("heap left after VelmoraClose     %u bytes\n",
              static_cast<unsigned>(leftAfterSecondClose));
  // newlib's malloc takes the heap from _sbrk in steps of 4 KiB and more;
  // this is all this program took, stdio's buffers and the reader included.
  std::printf("heap taken from the linker's     %u bytes of %u (whole program)\n",
              static_cast<unsigned>(TargetHeapHighWater()),
              static_cast<unsigned>(TargetHeapSize()));
  std::printf("stack of one VelmoraProcess call %u bytes at most (trace off)\n",
              static_cast<unsigned>(quiet.deepestStack));
  std::printf("                                 %u bytes at most (trace on)\n",
              static_cast<unsigned>(traced.deepestStack));
  return traced.falls == quiet.falls ? 0 : 1;
}

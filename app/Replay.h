// Replays one recording through a freshly set-up detector and prints the
// verdict for the first detected fall.
#pragma once

#include <cstdint>

// Returns 0 after the recording was replayed, whatever the verdict; -1 when
// the file cannot be opened or the detector cannot be set up. A fallFlag
// above 0 asks for the delay from fallPosition in the message.
int32_t ReplayRecording(const char* path, int32_t fallPosition, int32_t fallFlag);

// Drovik: replays one recording through the fall detector and prints the
// verdict.
#include <cstdio>

#include "InfoFile.h"
#include "Replay.h"
#include "Velmora.h"

int main(int argc, char** argv) {
  std::printf("%s\n\n", VelmoraGetVersion());
  if (argc < 2 || argc > 3) {
    std::printf("Usage: Drovik <data_file> [<info_file>]\n\n");
    return 1;
  }
  int32_t fallPosition = 0;
  int32_t fallFlag = 0;
  if (argc == 3) {
    // A missing or malformed info file leaves both values at 0.
    (void)ReadInfoFile(argv[2], &fallPosition, &fallFlag);
  }
  (void)ReplayRecording(argv[1], fallPosition, fallFlag);
  return 0;
}

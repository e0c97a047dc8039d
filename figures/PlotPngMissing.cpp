// Built when librsvg or cairo was not found at configure time.
#include "PlotPng.h"

bool pngSupported() { return false; }

std::string renderPng(const std::string& /*svg*/, std::string& /*png*/) {
  return "this build has no PNG support (install librsvg2-dev and libcairo2-dev and configure "
         "again)";
}

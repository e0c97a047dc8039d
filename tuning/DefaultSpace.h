// The space a search covers when no --space file is given.
#pragma once

#include <vector>

#include "TuneSpace.h"

namespace tune {

[[nodiscard]] std::vector<Dimension> defaultSpace();

}  // namespace tune

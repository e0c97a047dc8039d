// The space a search covers when no --space file is given.
#pragma once

#include <vector>

#include "TuneSpace.h"

[[nodiscard]] std::vector<Dimension> defaultSpace();

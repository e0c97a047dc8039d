#include "DefaultSpace.h"

namespace tune {

std::vector<Dimension> defaultSpace() {
  // Every setting the library's table gives a tuning range (the unused
  // ones and those not worth tuning have none).
  std::vector<Dimension> space;
  for (const VelmoraSetting& field : VelmoraSettingsTable()) {
    if (field.tuneMin < field.tuneMax && field.tuneStep > 0) {
      space.push_back(Dimension{&field, field.tuneMin, field.tuneMax, field.tuneStep});
    }
  }
  return space;
}

}  // namespace tune

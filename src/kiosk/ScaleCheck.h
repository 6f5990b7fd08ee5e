#pragma once
// The scale check a kiosk screen makes before it takes the weight, with the
// kiosk's message for a reading that cannot be used.

#include "devices/ScaleReading.h"

#include <string>

namespace kiosk {

// Makes the check and, when the reading cannot be used, shows its message
// (error picture, OK). Gives true when the reading is valid; the weight is
// then in `weight`.
bool CheckScaleReading(std::string& weight,
                       devices::ScaleCheckScreen screen = devices::ScaleCheckScreen::kStandard,
                       const devices::ScaleReadingState& reading = devices::ScaleReading());

}  // namespace kiosk

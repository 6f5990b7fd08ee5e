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

// The check of a weight the reading gave before it goes on a ticket: a
// weight that is not a whole number (debris of a garbled frame such as
// "12-3", "-" or "--", or more digits than the weight fields hold) is no
// reading, and shows the message of an invalid reading. An empty weight is
// the caller's to handle. Gives true when the weight can be used.
bool CheckWholeWeight(const std::string& weight);

// The message of an invalid reading, for a weight found unusable later.
void ShowUnreadableWeight();

}  // namespace kiosk

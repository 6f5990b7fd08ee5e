#include "kiosk/ScaleCheck.h"

#include "dialogs/MessageSeam.h"
#include "kiosk/uDB.h"

namespace kiosk {

bool CheckScaleReading(std::string& weight, devices::ScaleCheckScreen screen,
                       const devices::ScaleReadingState& reading)
{
    const devices::ScaleCheck check = devices::CheckScale(reading, screen);
    if (check.status != devices::ScaleStatus::kValid) {
        dialogs::ShowMsgBox(check.caption, check.line1, check.line2, dialogs::kError, dialogs::kOk);
        return false;
    }
    weight = check.weight;
    return true;
}

bool CheckWholeWeight(const std::string& weight)
{
    if (IsWholeWeight(weight))
        return true;
    ShowUnreadableWeight();
    return false;
}

void ShowUnreadableWeight()
{
    // Worded as the indicator's own invalid reading.
    devices::ScaleReadingState invalid;
    invalid.unit = "X";
    std::string unused;
    CheckScaleReading(unused, devices::ScaleCheckScreen::kStandard, invalid);
}

}  // namespace kiosk

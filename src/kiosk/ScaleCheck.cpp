#include "kiosk/ScaleCheck.h"

#include "dialogs/MessageSeam.h"

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

}  // namespace kiosk

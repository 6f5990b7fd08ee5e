#include "kiosk/KioskSettings.h"

namespace kiosk {

Settings& KioskSettings()
{
    static Settings s;
    return s;
}

}  // namespace kiosk

#pragma once
// What the kiosk reads at start-up: the ports and printer type from
// setup.dbf, the driver instructions and time-outs from setup.ini, and the
// kiosk's data connection.

#include "data/CodeBase.h"

#include <string>
#include <vector>

namespace kiosk {

struct Settings {
    int scalePort = 0;    // serial port number of the scale indicator; 0 when not configured
    int printerPort = 0;  // serial port number of the ticket printer
    int PrinterType = 0;  // 1 to 5 select the ticket printer's output; 0 when not configured
    std::vector<std::string> inboundLines;   // driver instructions after an inbound visit
    std::vector<std::string> outboundLines;  // after an outbound visit
    int licenseTimeout = 0;       // seconds; 0 = no timer
    int outboundTimeout = 0;
    int instructionsTimeout = 0;
    xb::Connection* connection = nullptr;  // the kiosk's data connection
};

// The program's one KioskSettings.
Settings& KioskSettings();

}  // namespace kiosk

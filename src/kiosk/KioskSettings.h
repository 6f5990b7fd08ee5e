#pragma once
// What the kiosk reads at start-up: the ports and printer type from
// setup.dbf, the driver instructions and time-outs from setup.ini, and the
// kiosk's data connection.

#include "data/CodeBase.h"
#include "data/TicketStore.h"

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
    int steadyMs = 1000;  // how long the scale's frames must agree before a weight is taken; 0 = at once
    int printerCodePage = xb::kDefaultCodePage;  // the code page the ticket printer prints its text in
    xb::Connection* connection = nullptr;  // the kiosk's data connection
};

// The program's one KioskSettings.
Settings& KioskSettings();

// The kiosk's data connection: opened at start-up (a second call keeps the
// one that is open), closed at Ctrl+F1 with every table still open in it.
void OpenKioskData();
void CloseKioskData();

// The connection a kiosk table operation works in: the kiosk's own, or when
// it is not open (a test, a tool), one of this operation's own, ended with it.
class KioskConnection {
public:
    KioskConnection();
    ~KioskConnection();
    KioskConnection(const KioskConnection&) = delete;
    KioskConnection& operator=(const KioskConnection&) = delete;
    xb::Connection* get() const { return connection_; }

private:
    xb::Connection* connection_ = nullptr;
    bool own_ = false;
};

// A table opened for one operation, closed when it leaves it.
using ScopedTable = store::ScopedTable;

// The ports and the printer type from the first record of setup.dbf in the
// program directory: scalport, prtport and printer, each trimmed and read as
// a whole number, 0 when blank or not a number. A setup.dbf that is missing,
// empty or unreadable, or a field that is missing (older tables have no
// printer), gives 0; the kiosk then reports "Hardware setting is not
// available." for the scale.
struct Ports {
    int scalePort = 0;
    int printerPort = 0;
    int printerType = 0;
};
Ports ReadPorts();

// The three time-outs of setup.ini [Timer], in seconds, and the scale's
// steadiness of [Scale] steady, in milliseconds.
constexpr int kDefaultSteadyMs = 1000;
constexpr int kMaxSteadyMs = 60 * 1000;
struct KioskTimeouts {
    int license = 0;
    int outbound = 0;
    int instructions = 0;
    int steadyMs = kDefaultSteadyMs;
};

// [Scale] steady: seconds, whole or with a decimal point ("1", "0.5",
// "1,5" as a Windows editor in some languages writes it), as milliseconds;
// 0 turns the check off. Blanks around the number are allowed. Anything
// else (a missing key, text, a negative number) gives the default of a
// second; more than a minute is held to a minute.
int steadyMsOf(const std::string& value, bool present);
// The longest a kiosk screen waits before it moves on: a day. setup.ini
// takes any number of seconds; a longer time-out is held to a day, so the
// timer's interval in milliseconds always fits an int.
constexpr int kMaxTimeoutSeconds = 24 * 60 * 60;

// A time-out in seconds as a screen timer's interval in milliseconds: 0 (no
// timer) for 0 or less, at most kMaxTimeoutSeconds * 1000.
int TimeoutMs(int seconds);

// The screens that have no other way out (the material screen, the outbound
// screen, the instructions) never wait for ever: a time-out of 0 (none set,
// or no setup.ini) gives them these, or the kiosk would hold the next
// driver's card and his visit. The licence screen has its way back and keeps
// 0 as no time-out.
constexpr int kMaterialSecondsWithoutTimeout = 60;
constexpr int kOutboundSecondsWithoutTimeout = 8;
constexpr int kInstructionsSecondsWithoutTimeout = 8;
// TimeoutMs of `seconds`, or of `noneSeconds` when `seconds` is 0 or less.
int TimeoutMsOr(int seconds, int noneSeconds);

// Empties both lists; when setup.ini exists in the program directory fills
// them with [Inbound] and [Outbound] msg1 and msg2 (always two lines each,
// empty for a missing key or section) and gives [Timer] license, outbound
// and instructions (0 for a missing or non-numeric value) and [Scale]
// steady. Without the file the lists stay empty, every time-out is 0 and
// the steadiness is the default.
KioskTimeouts ReadKioskIni(std::vector<std::string>& inbound, std::vector<std::string>& outbound);

// [Printer] codepage of setup.ini: the code page the ticket printer prints
// its text in, by its number (437, 850, 1252: those of xb::CodePage). A
// missing key (or file) gives 1252, the code page of the program's tables,
// so a site prints the bytes its printer printed before; a value that is no
// code page known here gives 1252 too, and `problem` says so.
int printerCodePageOf(const std::string& value, bool present, std::string* problem = nullptr);
int ReadPrinterCodePage(std::string* problem = nullptr);

// The start-up reads into KioskSettings: ReadPorts, then ReadKioskIni and
// ReadPrinterCodePage (a value it cannot use is logged).
void LoadKioskSettings();

// The [Ports] value of setup.ini in the program directory for "com1".."com9"
// or "lpt1" (the device a port number stands for on this machine), or empty
// when the file, the section or the key is missing. The serial port code
// takes its port names from here.
std::string portNameFromIni(const std::string& key);

// The program directory's setup.ini.
std::string kioskIniPath();

}  // namespace kiosk

#include "kiosk/KioskSettings.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "data/TicketValues.h"
#include "data/Util.h"
#include "dialogs/MessageSeam.h"
#include "kiosk/IniFile.h"

#include <algorithm>
#include <charconv>

namespace kiosk {

Settings& KioskSettings()
{
    static Settings s;
    return s;
}

void OpenKioskData()
{
    Settings& s = KioskSettings();
    if (!s.connection)
        s.connection = util::openData();
}

void CloseKioskData()
{
    Settings& s = KioskSettings();
    if (s.connection) {
        util::closeData(s.connection);
        s.connection = nullptr;
    }
}

KioskConnection::KioskConnection()
{
    connection_ = KioskSettings().connection;
    if (!connection_) {
        connection_ = util::openData();
        own_ = true;
    }
}

KioskConnection::~KioskConnection()
{
    if (own_)
        util::closeData(connection_);
}

namespace {

// A port number or printer type as the setup table holds it: a whole
// number, 0 when blank, not a number or negative.
int settingNumber(const std::string& v)
{
    long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + (c - '0');
        if (n > 1000000)
            return 0;
    }
    return int(n);
}

}  // namespace

Ports ReadPorts()
{
    Ports p;
    const catalogue::SetupTable s = catalogue::readSetupTable();
    if (!s.hasRecord)
        return p;
    p.scalePort = settingNumber(s.scalport);
    p.printerPort = settingNumber(s.prtport);
    p.printerType = settingNumber(s.printer);
    return p;
}

std::string kioskIniPath() { return catalogue::programDir() + "setup.ini"; }

int TimeoutMs(int seconds)
{
    if (seconds <= 0)
        return 0;
    return std::min(seconds, kMaxTimeoutSeconds) * 1000;
}

int TimeoutMsOr(int seconds, int noneSeconds) { return TimeoutMs(seconds > 0 ? seconds : noneSeconds); }

KioskTimeouts ReadKioskIni(std::vector<std::string>& inbound, std::vector<std::string>& outbound)
{
    inbound.clear();
    outbound.clear();
    KioskTimeouts t;
    std::optional<IniFile> ini = IniFile::load(kioskIniPath());
    if (!ini)
        return t;
    inbound = {ini->value("Inbound", "msg1"), ini->value("Inbound", "msg2")};
    outbound = {ini->value("Outbound", "msg1"), ini->value("Outbound", "msg2")};
    t.license = ini->getInt("Timer", "license");
    t.outbound = ini->getInt("Timer", "outbound");
    t.instructions = ini->getInt("Timer", "instructions");
    t.steadyMs = steadyMsOf(ini->value("Scale", "steady"), ini->hasKey("Scale", "steady"));
    return t;
}

int steadyMsOf(const std::string& value, bool present)
{
    if (!present)
        return kDefaultSteadyMs;
    std::string_view v = value;
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
        v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
        v.remove_suffix(1);
    long long whole = 0, fraction = 0, scale = 1;
    bool digits = false, point = false;
    for (char c : v) {
        if (c >= '0' && c <= '9') {
            digits = true;
            if (!point) {
                whole = std::min<long long>(whole * 10 + (c - '0'), kMaxSteadyMs);
            } else if (scale < 1000) {
                fraction = fraction * 10 + (c - '0');
                scale *= 10;
            }
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
        } else {
            return kDefaultSteadyMs;
        }
    }
    if (!digits)
        return kDefaultSteadyMs;
    const long long ms = whole * 1000 + fraction * 1000 / scale;
    return int(std::min<long long>(ms, kMaxSteadyMs));
}

void LoadKioskSettings()
{
    Settings& s = KioskSettings();
    Ports p = ReadPorts();
    s.scalePort = p.scalePort;
    s.printerPort = p.printerPort;
    s.PrinterType = p.printerType;
    KioskTimeouts t = ReadKioskIni(s.inboundLines, s.outboundLines);
    s.licenseTimeout = t.license;
    s.outboundTimeout = t.outbound;
    s.instructionsTimeout = t.instructions;
    s.steadyMs = t.steadyMs;
    std::string problem;
    s.printerCodePage = ReadPrinterCodePage(&problem);
    if (!problem.empty())
        dialogs::logLine(problem);
}

int printerCodePageOf(const std::string& value, bool present, std::string* problem)
{
    if (!present)
        return xb::kDefaultCodePage;
    const std::string_view v = values::trim(value);
    int number = 0;
    const auto r = std::from_chars(v.data(), v.data() + v.size(), number);
    if (r.ec == std::errc() && r.ptr == v.data() + v.size() && xb::CodePage::ofNumber(number))
        return number;
    if (problem) {
        std::string known;
        for (int n : xb::CodePage::numbers())
            known += (known.empty() ? "" : ", ") + std::to_string(n);
        *problem = "setup.ini: [Printer] codepage=" + value + " is no code page the program knows (" + known +
                   "): the ticket printer prints in 1252";
    }
    return xb::kDefaultCodePage;
}

int ReadPrinterCodePage(std::string* problem)
{
    std::optional<IniFile> ini = IniFile::load(kioskIniPath());
    if (!ini)
        return xb::kDefaultCodePage;
    return printerCodePageOf(ini->value("Printer", "codepage"), ini->hasKey("Printer", "codepage"), problem);
}

std::string portNameFromIni(const std::string& key)
{
    std::optional<IniFile> ini = IniFile::load(kioskIniPath());
    return ini ? ini->value("Ports", key) : std::string();
}

}  // namespace kiosk

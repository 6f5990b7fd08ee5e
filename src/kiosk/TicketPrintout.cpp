#include "kiosk/TicketPrintout.h"

#include "devices/SerialPort.h"
#include "dialogs/MessageSeam.h"
#include "kiosk/KioskSettings.h"
#include "data/CodePage.h"
#include "data/TicketValues.h"

#include <QElapsedTimer>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace kiosk {

namespace {

constexpr const char* kPrinterCaption = "Printer Error";
int g_printerTimeoutMs = 5000;

// What went wrong, for the caller to word; `printed` stays false.
struct Fault {
    PrintOutcome& out;
    bool operator()(const std::string& line1, const std::string& line2 = {}) const
    {
        out.fault = line1;
        out.detail = line2;
        return false;
    }
};

bool sendSerial(devices::SerialPort& port, int printerPort, const std::string& bytes, const Fault& report)
{
    port.close();
    port.setKeepOpen(false);  // opened for each ticket only
    port.setPortNumber(printerPort);
    port.setLineSettings({9600, 8, devices::Parity::None, 1});
    port.setBufferSizes(8192, 8192);
    devices::FlowControl flow;
    flow.transmit = true;
    flow.xon = kPrinterXOn;
    flow.xoff = kPrinterXOff;
    port.setFlowControl(flow);
    if (!port.open()) {
        return report("The ticket printer cannot be opened.", port.lastError());
    }
    port.discardOutput();
    const bool taken = port.writeText(bytes) && port.flush(g_printerTimeoutMs);
    if (!taken) {
        // Whatever still waits would otherwise hold up the close (the driver
        // waits for its output queue to drain) and come out later as the
        // start of a torn ticket.
        port.discardOutput();
        port.close();
        return report("The ticket printer is not taking the ticket.", "Check its paper and its cable.");
    }
    port.close();  // nothing is left to cut off: the flush saw every byte leave
    return true;
}

bool sendParallel(const std::string& bytes, const Fault& report)
{
    const std::string device = devices::parallelDeviceName();
    // Not created when missing: a printer that is not there must not turn
    // into a file of that name that nobody reads.
    const int fd = ::open(device.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        return report("The ticket printer cannot be opened.", device + ": " + std::strerror(errno));
    }
    QElapsedTimer idle;
    idle.start();
    std::size_t done = 0;
    bool failed = false;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            idle.restart();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failed = true;
            break;
        }
        if (idle.elapsed() >= g_printerTimeoutMs) {
            failed = true;
            break;
        }
        // The parallel driver does not poll; a short pause keeps this from spinning.
        pollfd p {fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
        ::usleep(5000);
    }
    const bool closed = ::close(fd) == 0;
    if (failed || !closed)
        return report("The ticket printer is not taking the ticket.", "Check its paper and its cable.");
    return true;
}

}  // namespace

PrinterPath printerPathFor(int printerType)
{
    switch (printerType) {
    case 1: return {PrinterOutput::kSerial, "\r", "\x17", "\x1A"};
    case 2: return {PrinterOutput::kParallel, "\r\n", "", ""};
    case 3: return {PrinterOutput::kSerial, "\n", "", "\x1A"};
    case 4: return {PrinterOutput::kSerial, "\n", "", "\x1A"};
    case 5: return {PrinterOutput::kParallel, "\r\n", "", ""};
    default: return {};
    }
}

void PrintText(TicketOutput& out, std::string_view text, bool endLine)
{
    out.bytes.append(text);
    if (endLine)
        out.bytes.append(out.path.lineEnd);
}

void PrintSpaces(TicketOutput& out, int n)
{
    if (n > 0)
        out.bytes.append(std::size_t(n), ' ');
}

void PrintCentred(TicketOutput& out, std::string_view text)
{
    const double blanks = std::nearbyint(20.0 - double(text.size()) / 2.0);  // ties to even
    PrintSpaces(out, int(blanks));
    PrintText(out, text, true);
}

void PrintRight(TicketOutput& out, std::string_view text, int margin)
{
    PrintSpaces(out, 20 - margin - int(text.size()));
    PrintText(out, text, false);
}

std::string ticketTimeText(std::string_view stored) { return values::timeText(stored); }

std::string ticketDateText(std::string_view stored)
{
    // Held as the station shows a date (with '/'): printed as held;
    // otherwise the characters of yyyymmdd put in the order mm/dd/yyyy.
    const std::string_view d = values::trim(stored);
    if (d.empty() || d.find('/') != std::string_view::npos)
        return std::string(d);
    auto part = [d](std::size_t pos, std::size_t len) {
        return pos >= d.size() ? std::string() : std::string(d.substr(pos, len));
    };
    return part(4, 2) + "/" + part(6, 2) + "/" + part(0, 4);
}

std::string timeOfDayText(const xb::LocalTime& t) { return values::timeText(t); }

std::string dateText(const xb::LocalTime& t) { return values::dateText(values::dateOf(t)); }

std::optional<std::string> KioskTicketBytes(const Ticket& t, int printerType, const xb::LocalTime& today,
                                            int codePage)
{
    TicketOutput out;
    out.path = printerPathFor(printerType);
    if (out.path.output == PrinterOutput::kNone)
        return std::nullopt;
    const xb::CodePage* page = xb::CodePage::ofNumber(codePage);
    if (!page)
        page = &xb::CodePage::ofMark(xb::kDefaultCodePageMark);
    // A name in the printer's code page, in upper case: one byte a
    // character, so it lines up; what the printer cannot print is a '?'.
    auto printed = [page](const std::string& text) { return page->encodeLossy(xb::upperCase(text)); };
    const auto weights = values::weighing(t.in_wgt, t.out_wgt);
    if (!weights)
        return std::nullopt;
    const std::string& w = out.path.wrap;
    auto blankLine = [&out] { PrintText(out, " ", true); };
    auto weightLine = [&](const char* label, const std::string& value) {
        PrintSpaces(out, 5);
        PrintText(out, w + label, false);
        PrintRight(out, value, 5);
        PrintSpaces(out, 2);
        PrintText(out, "kg", false);
        PrintText(out, w, true);
    };

    PrintText(out, out.path.firstLine, true);
    PrintCentred(out, w + "VELMORE GREENHOUSE" + w);
    PrintCentred(out, w + "ARDWICK HOLLOW, REGION" + w);
    blankLine();
    PrintSpaces(out, 25);
    PrintText(out, dateText(today), true);
    blankLine();
    blankLine();
    PrintText(out, "TICKET  : " + std::to_string(t.ticket), true);
    PrintText(out, "CUSTOMER: " + printed(t.customer), true);
    PrintText(out, "IN TIME : " + ticketTimeText(t.in_time) + "  " + ticketDateText(t.in_date), false);
    blankLine();
    PrintText(out, "OUT TIME: " + timeOfDayText(t.out_time) + "  " + dateText(t.out_date), false);
    blankLine();
    PrintText(out, "MATERIAL: " + printed(t.product).substr(0, 31), true);
    blankLine();
    weightLine("GROSS: ", weights->gross);
    blankLine();
    weightLine("TARE:  ", weights->tare);
    blankLine();
    weightLine("NET:   ", std::to_string(weights->net));
    for (int i = 0; i < 12; ++i)
        blankLine();
    PrintText(out, "\x1Bi", true);
    PrintText(out, w, true);
    return std::move(out.bytes);
}

PrintOutcome SendKioskTicket(devices::SerialPort& port)
{
    PrintOutcome out;
    const Fault report {out};
    const Settings& settings = KioskSettings();
    const PrinterPath path = printerPathFor(settings.PrinterType);
    if (path.output == PrinterOutput::kNone) {
        report("No ticket printer is configured.");
        return out;
    }
    const auto bytes = KioskTicketBytes(CurrentTicket(), settings.PrinterType, xb::now(), settings.printerCodePage);
    if (!bytes) {
        report("The ticket cannot be printed:", "its weights are not whole numbers.");
        return out;
    }
    out.printed = path.output == PrinterOutput::kSerial ? sendSerial(port, settings.printerPort, *bytes, report)
                                                        : sendParallel(*bytes, report);
    return out;
}

bool PrintKioskTicket(devices::SerialPort& port)
{
    const PrintOutcome out = SendKioskTicket(port);
    if (!out.printed)
        dialogs::ShowMsgBox(kPrinterCaption, out.fault, out.detail, dialogs::kError, dialogs::kOk);
    return out.printed;
}

int setPrinterTimeout(int ms)
{
    const int previous = g_printerTimeoutMs;
    g_printerTimeoutMs = ms > 0 ? ms : 1;
    return previous;
}

}  // namespace kiosk

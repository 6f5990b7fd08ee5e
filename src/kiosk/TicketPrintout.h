#pragma once
// The weighing ticket: a 40-column text ticket of CurrentTicket printed on
// the site's ticket printer, through a serial port or the parallel printer
// device. The byte stream is built first (KioskTicketBytes, no device
// involved), then sent whole; the printer must take all of it.
//
// Output by printer type:
//   type  output    line end  wrap W  first line
//   1     serial    CR        0x17    0x1A
//   2     parallel  CR LF     -       empty
//   3     serial    LF        -       0x1A
//   4     serial    LF        -       0x1A
//   5     parallel  CR LF     -       empty
// Any other type has no ticket printer.

#include "data/Clock.h"
#include "data/CodePage.h"
#include "kiosk/CurrentTicket.h"

#include <optional>
#include <string>
#include <string_view>

namespace devices { class SerialPort; }

namespace kiosk {

enum class PrinterOutput { kNone, kSerial, kParallel };

struct PrinterPath {
    PrinterOutput output = PrinterOutput::kNone;
    std::string lineEnd;
    std::string wrap;       // W: around the header and weight lines, or empty
    std::string firstLine;  // written as the ticket's first line
};

PrinterPath printerPathFor(int printerType);

// The ticket being built: its bytes and the output path they are for.
struct TicketOutput {
    PrinterPath path;
    std::string bytes;
};

// The printing primitives.
// The text, then the line end when endLine is set.
void PrintText(TicketOutput& out, std::string_view text, bool endLine);
// n blanks (none for n below 1).
void PrintSpaces(TicketOutput& out, int n);
// 20 - length/2 blanks, rounded to the nearest whole number with halves to
// the even one (none when the text is wider than the ticket), then the text
// with a line end.
void PrintCentred(TicketOutput& out, std::string_view text);
// 20 - margin - length blanks (none when negative), then the text without a
// line end: values of up to 15 characters end in the same column.
void PrintRight(TicketOutput& out, std::string_view text, int margin);

// The values as the ticket shows them (the forms of data/TicketValues.h).
std::string ticketTimeText(std::string_view stored);  // "930" -> "09:30", "5" -> "00:05"; blank -> ""
std::string ticketDateText(std::string_view stored);  // "20261208" -> "12/08/2026"; with "/" as held
std::string timeOfDayText(const xb::LocalTime& t);    // hh:mm
std::string dateText(const xb::LocalTime& t);         // mm/dd/yyyy

// The whole byte stream of one ticket; nothing when the printer type has no
// output path or the weights are not whole numbers. Its text is in the
// printer's code page `codePage` (by number: 437, 850, 1252, ...; 1252
// for one not known), a character it cannot print a '?'.
std::optional<std::string> KioskTicketBytes(const Ticket& ticket, int printerType, const xb::LocalTime& today,
                                            int codePage = xb::kDefaultCodePage);

// Prints one ticket of CurrentTicket on the printer of KioskSettings: the
// serial port passed in (closed, set up for the printer port at 9600 8N1 with
// transmit flow control XOff 0x13 / XOn 0x11, opened, pending output
// discarded) or the parallel device. Gives true once the printer has taken
// the whole ticket. Any failure — no printer configured, a device that cannot
// be opened, a printer that takes nothing for the printer time-out (holding
// XOff when out of paper, or offline) — is reported through ShowMsgBox and
// gives false; the ticket is not retried.
bool PrintKioskTicket(devices::SerialPort& port);

// The same without a message: what went wrong is in `fault` (the lines
// PrintKioskTicket would show), for a caller that words it itself.
struct PrintOutcome {
    bool printed = false;
    std::string fault;   // the first line of the fault
    std::string detail;  // the second (a device and its error)
};
PrintOutcome SendKioskTicket(devices::SerialPort& port);

// How long the printer may take no byte before the ticket is given up, in
// milliseconds; gives the previous value. 5000 unless set.
int setPrinterTimeout(int ms);

constexpr unsigned char kPrinterXOn = 0x11;
constexpr unsigned char kPrinterXOff = 0x13;

}  // namespace kiosk

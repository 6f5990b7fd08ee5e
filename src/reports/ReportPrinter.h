#pragma once
// Where the reports print: the system's default printer (through CUPS),
// found when a report is printed. Tests put a printer of their own in its
// place.

#include <functional>
#include <memory>
#include <string>

class QPrinter;

namespace reports {

class BandedReport;

// The printer a report's Print uses; null when there is none.
using PrinterSource = std::function<std::unique_ptr<QPrinter>()>;
// Installs another source; an empty one restores the default printer. Gives
// the source installed before.
PrinterSource setPrinterSource(PrinterSource source);
std::unique_ptr<QPrinter> defaultPrinter();

// Prints the report on the default printer. No printer, or a printer that
// fails, is reported through the message seam ("<what> was not printed.").
bool printOnDefaultPrinter(BandedReport& report, const std::string& what);
// Prints the report on `printer`; reports a failure as above.
bool printOn(BandedReport& report, QPrinter& printer, const std::string& what);

}  // namespace reports

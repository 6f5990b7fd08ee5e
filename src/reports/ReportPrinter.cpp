#include "reports/ReportPrinter.h"

#include "dialogs/MessageSeam.h"
#include "reports/BandedReport.h"

#include <QPrinter>
#include <QPrinterInfo>

namespace reports {

namespace {

PrinterSource& installedSource()
{
    static PrinterSource s;
    return s;
}

}  // namespace

PrinterSource setPrinterSource(PrinterSource source)
{
    PrinterSource previous = std::move(installedSource());
    installedSource() = std::move(source);
    return previous;
}

std::unique_ptr<QPrinter> defaultPrinter()
{
    if (installedSource())
        return installedSource()();
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return nullptr;
    auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    if (!printer->isValid())
        return nullptr;
    return printer;
}

bool printOn(BandedReport& report, QPrinter& printer, const std::string& what)
{
    if (report.print(printer) && printer.printerState() != QPrinter::Error)
        return true;
    const std::string name = printer.printerName().toStdString();
    dialogs::ShowMessage(dialogs::kError, "Print Error",
                         "The printer " + (name.empty() ? std::string() : "\"" + name + "\" ") +
                             "could not print.\r\r" + what + " was not printed.");
    return false;
}

bool printOnDefaultPrinter(BandedReport& report, const std::string& what)
{
    std::unique_ptr<QPrinter> printer = defaultPrinter();
    if (!printer) {
        dialogs::ShowMessage(dialogs::kError, "Print Error",
                             "There is no default printer on this computer.\r\r" + what +
                                 " was not printed. Set up a printer, or use Preview to save it as a file.");
        return false;
    }
    return printOn(report, *printer, what);
}

}  // namespace reports

// grazulo-admin report: the transactions report and the customer and
// product lists into a PDF file (the pages the printer gets) or a CSV file
// (one heading line, one line per detail line).
//
//   report transactions FROM TO -o FILE    FROM, TO as YYYY-MM-DD
//   report customers -o FILE
//   report products -o FILE

#include "AdminCommands.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "reports/ReportData.h"
#include "reports/rCustomer.h"
#include "reports/rProduct.h"
#include "reports/rTransactionRpt.h"

#include <QGuiApplication>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

namespace admin {

namespace {

constexpr const char* kUsage =
    "usage: grazulo-admin report transactions FROM TO -o FILE   (FROM, TO as YYYY-MM-DD)\n"
    "       grazulo-admin report customers -o FILE\n"
    "       grazulo-admin report products -o FILE\n"
    "FILE ending in .pdf gets the printed pages, ending in .csv the lines as CSV.";

int wrongUse(const std::string& text) { return fail(text + "\n" + kUsage, 2); }

// YYYY-MM-DD, a day of the calendar.
std::optional<xb::Date> parseDay(const std::string& text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    return xb::Date::fromText(text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2));
}

enum class Format { kPdf, kCsv };

std::optional<Format> formatOf(const std::string& path)
{
    auto endsWith = [&](const char* ext) {
        const std::string e = ext;
        if (path.size() <= e.size())
            return false;
        std::string tail = path.substr(path.size() - e.size());
        for (char& c : tail)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return tail == e;
    };
    if (endsWith(".pdf"))
        return Format::kPdf;
    if (endsWith(".csv"))
        return Format::kCsv;
    return std::nullopt;
}

// A PDF is drawn with the fonts of a window system; without a display the
// offscreen one serves. Qt's own notes on its set-up are not the
// administrator's business; its errors are.
std::unique_ptr<QGuiApplication> guiApplication()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::cerr << "grazulo-admin: " << text.toStdString() << "\n";
    });
    static int argc = 1;
    static char name[] = "grazulo-admin";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

int writePdf(reports::BandedReport& report, const std::string& path)
{
    auto app = guiApplication();
    QString error;
    if (!report.writePdf(QString::fromStdString(path), error))
        return fail(error.toStdString() + " (no file written)");
    return 0;
}

int writeCsv(const std::string& text, const std::string& path)
{
    std::string error;
    if (!reports::writeFile(path, text, error))
        return fail(error + " (no file written)");
    return 0;
}

std::string plural(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int report(const Args& argsIn)
{
    Args args;
    std::string output;
    for (std::size_t i = 0; i < argsIn.size(); ++i) {
        if (argsIn[i] == "-o" || argsIn[i] == "--output") {
            if (i + 1 >= argsIn.size())
                return wrongUse(argsIn[i] + " needs a file name");
            output = argsIn[++i];
        } else {
            args.push_back(argsIn[i]);
        }
    }
    if (args.empty())
        return wrongUse("which report: transactions, customers or products?");
    const std::string kind = args[0];
    if (kind != "transactions" && kind != "customers" && kind != "products")
        return wrongUse("unknown report " + kind);
    const std::size_t wanted = kind == "transactions" ? 3 : 1;
    if (args.size() != wanted)
        return wrongUse(kind == "transactions" ? "report transactions needs FROM and TO"
                                               : "report " + kind + " takes no other arguments");
    if (output.empty())
        return wrongUse("-o FILE is missing");
    const auto format = formatOf(output);
    if (!format)
        return wrongUse(output + ": the file name must end in .pdf or .csv");

    std::optional<xb::Date> from, to;
    if (kind == "transactions") {
        from = parseDay(args[1]);
        if (!from)
            return wrongUse(args[1] + " is not a date (YYYY-MM-DD)");
        to = parseDay(args[2]);
        if (!to)
            return wrongUse(args[2] + " is not a date (YYYY-MM-DD)");
        if (to->julianDay() < from->julianDay())
            return fail("The Dates are invalid! (" + args[2] + " is before " + args[1] + ")", 2);
        if (const std::string why = reports::rangeProblem(*from, *to); !why.empty())
            return fail(why, 2);
    }

    if (!xb::fileExists(catalogue::setupTablePath()))
        return fail(catalogue::setupTablePath() + " does not exist: no data directory (use --home DIR)");
    const std::string data = dataDir();
    if (data.empty())
        return fail(catalogue::setupTablePath() + " names no data directory (datapath is blank)");
    if (!xb::directoryExists(data))
        return fail("the data directory " + data + " does not exist");

    if (kind == "transactions") {
        reports::Transactions t = reports::gatherTransactions(data, *from, *to);
        if (!t.ok())
            return fail(t.error + " (no file written)");
        const std::size_t count = t.rows.size();
        int r = 0;
        int pages = 0;
        if (*format == Format::kCsv) {
            r = writeCsv(reports::transactionsCsv(t.rows), output);
        } else {
            TrptTransactionRpt report;
            report.setRange(*from, *to, catalogue::today());
            report.setRows(std::move(t.rows));
            r = writePdf(report, output);
            pages = report.pageCount();
        }
        if (r == 0)
            std::cout << output << ": " << plural(count, "transaction", "transactions") << " from "
                      << plural(std::size_t(t.daysRead), "day table", "day tables")
                      << (pages ? ", " + plural(std::size_t(pages), "page", "pages") : std::string()) << "\n";
        return r;
    }

    const reports::ListKind list = kind == "customers" ? reports::ListKind::kCustomers : reports::ListKind::kProducts;
    reports::ListRows rows = reports::listRows(list, data);
    if (!rows.ok())
        return fail(rows.error + " (no file written)");
    const std::size_t count = rows.rows.size();
    int r = 0;
    int pages = 0;
    if (*format == Format::kCsv) {
        r = writeCsv(reports::csvText(reports::listHeadings(list), rows.rows), output);
    } else {
        std::unique_ptr<reports::ListReport> report;
        if (list == reports::ListKind::kCustomers)
            report = std::make_unique<TrptCustomer>();
        else
            report = std::make_unique<TrptProduct>();
        report->setRows(std::move(rows.rows));
        r = writePdf(*report, output);
        pages = report->pageCount();
    }
    if (r == 0)
        std::cout << output << ": " << plural(count, "record", "records")
                  << (pages ? ", " + plural(std::size_t(pages), "page", "pages") : std::string()) << "\n";
    return r;
}

}  // namespace admin

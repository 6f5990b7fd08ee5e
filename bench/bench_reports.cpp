// bench_reports: the transactions report over a year of day tables.
//
//   bench_reports [DIRECTORY]
//
// Makes a data directory in DIRECTORY (default $TMPDIR, else /tmp) with 365
// day tables of 200 completed tickets each (the last two months already
// moved to their archive folders), then times gathering the rows of the
// whole year, writing them as CSV, and drawing the report of all of them
// into a PDF file, per page. The directory is removed at the end.

#include "RunFigures.h"
#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "reports/ReportData.h"
#include "reports/rTransactionRpt.h"

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDays = 365;
constexpr int kPerDay = 200;
const xb::Date kFirst {2026, 1, 1};

[[noreturn]] void die(const std::string& why)
{
    std::fprintf(stderr, "bench_reports: %s\n", why.c_str());
    std::exit(1);
}

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

void makeDay(const std::string& dataDir, const xb::Date& day, long firstTicket)
{
    std::string folder = dataDir;
    if (day.month >= 11) {
        folder += catalogue::monthDirName(day.year, day.month) + "/";
        std::filesystem::create_directories(folder);
    }
    const std::string path = folder + catalogue::dayTableName(day);
    if (!catalogue::CreateTable(catalogue::kTicketLayout, path))
        die("cannot create " + path);
    xb::Connection c;
    xb::Table* t = c.open(path);
    if (!t)
        die("cannot open " + path);
    for (int i = 0; i < kPerDay; ++i) {
        t->appendStart();
        t->blank();
        t->field("ticket")->assignInteger((firstTicket + i) % 100000);
        t->field("customer")->assign("CUSTOMER " + std::to_string(i % 400) + " HAULING");
        t->field("product")->assign("PEA GRAVEL");
        t->field("truck")->assign("T-" + std::to_string(i));
        t->field("in_time")->assignInteger(700 + i % 300);
        t->field("in_date")->assignDate(day);
        t->field("out_time")->assignInteger(1000 + i % 300);
        t->field("out_date")->assignDate(day);
        t->field("in_wgt")->assignInteger(14020 + i);
        t->field("out_wgt")->assignInteger(8760);
        t->field("net_wgt")->assignInteger(5260 + i);
        t->field("complete")->assignLogical(true);
        if (t->append() != xb::kSuccess)
            die("cannot append to " + path);
    }
    if (t->close() != xb::kSuccess)
        die("cannot close " + path);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    const std::string root = base + "/bench_reports." + std::to_string(::getpid());
    const std::string data = root + "/data/";
    std::filesystem::create_directories(data);

    auto start = Clock::now();
    const xb::Date last = xb::Date::fromJulianDay(kFirst.julianDay() + kDays - 1);
    for (int d = 0; d < kDays; ++d)
        makeDay(data, xb::Date::fromJulianDay(kFirst.julianDay() + d), long(d) * kPerDay + 1);
    std::printf("made %d day tables of %d tickets (Nov and Dec archived) in %.1f s\n", kDays, kPerDay,
                msSince(start) / 1000);

    // Wall time, and the processor time of this process: on a machine busy
    // with other work the first overstates what the gathering costs.
    std::vector<double> gather, gatherCpu;
    reports::Transactions t;
    for (int run = 0; run < 5; ++run) {
        start = Clock::now();
        const std::clock_t cpu = std::clock();
        t = reports::gatherTransactions(data, kFirst, last);
        gather.push_back(msSince(start));
        gatherCpu.push_back(1000.0 * double(std::clock() - cpu) / CLOCKS_PER_SEC);
        if (!t.ok() || t.rows.size() != std::size_t(kDays) * kPerDay)
            die("gathered " + std::to_string(t.rows.size()) + " rows: " + t.error);
    }
    printRuns("gather the rows of 365 days (73,000 tickets), wall", gather);
    printRuns("gather the rows of 365 days (73,000 tickets), cpu", gatherCpu);

    std::vector<double> csv;
    for (int run = 0; run < 3; ++run) {
        start = Clock::now();
        std::string error;
        if (!reports::writeFile(root + "/year.csv", reports::transactionsCsv(t.rows), error))
            die(error);
        csv.push_back(msSince(start));
    }
    printRuns("the CSV of all of them", csv);

    TrptTransactionRpt report;
    report.setRange(kFirst, last, last);
    report.setRows(std::move(t.rows));
    start = Clock::now();
    const std::clock_t pdfCpu = std::clock();
    QString error;
    if (!report.writePdf(QString::fromStdString(root + "/year.pdf"), error))
        die(error.toStdString());
    const double pdf = msSince(start);
    const double cpuMs = 1000.0 * double(std::clock() - pdfCpu) / CLOCKS_PER_SEC;
    const auto size = std::filesystem::file_size(root + "/year.pdf");
    std::printf("the PDF of all of them: %d pages, %.1f MB; wall %.1f s, %.2f ms a page; cpu %.1f s, %.2f ms a page\n",
                report.pageCount(), double(size) / 1e6, pdf / 1000, pdf / report.pageCount(), cpuMs / 1000,
                cpuMs / report.pageCount());

    std::filesystem::remove_all(root);
    return 0;
}

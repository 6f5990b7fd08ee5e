#pragma once
// Small helpers shared by the test programs.

#include <QString>
#include <QTemporaryDir>
#include <functional>

namespace xb { struct EngineError; }
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// The live records of a table (read-only), each field as trimmed text by
// lower-case name; none when the file is missing.
using Row = std::map<std::string, std::string>;
std::vector<Row> tableRows(const QString& path);

// A ticket table made by hand, as the station or another program leaves it.
struct HandTicket {
    long ticket;
    const char* customer;
    const char* truck = "";
    long long inWeight = 0;
    bool complete = false;
    bool deleted = false;
};
bool writeTicketTable(const QString& path, const std::vector<HandTicket>& tickets);

// The directory of the fixture tables made by other xBase programs, or an
// empty string when it is absent (tests then QSKIP with a message).
QString fixturesDir();

// Copy one fixture file (and its index or memo file when one exists beside it)
// into dir; gives the path of the copy of `name`.
QString copyFixture(const QString& name, const QString& dir);

// The directory holding the built command-line tools.
QString binDir();

// Runs a program and collects what it prints; exit code, or -1 when it could not run.
struct RunResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
RunResult run(const QString& program, const QStringList& args, const QByteArray& input = {}, int timeoutMs = 120000);

// Collects the reports of the table engine while it is alive and installs
// itself as the engine's error report.
class EngineErrors {
public:
    EngineErrors();
    ~EngineErrors();
    std::vector<std::string> messages;
    void clear() { messages.clear(); }
    bool contains(const std::string& needle) const;

private:
    std::function<void(const xb::EngineError&)> previous_;
};

}  // namespace testsupport

#define REQUIRE_FIXTURES()                                                             \
    do {                                                                               \
        if (testsupport::fixturesDir().isEmpty())                                      \
            QSKIP("shared fixtures (../shared/fixtures/xbase) are absent; skipped");   \
    } while (0)

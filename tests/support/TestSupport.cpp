#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace testsupport {

std::vector<Row> tableRows(const QString& path)
{
    std::vector<Row> out;
    if (!QFile::exists(path))
        return out;
    xb::Connection c;
    c.setReadOnly(true);
    xb::Table* t = c.open(path.toStdString());
    for (int r = t ? t->top() : xb::kEof; r == xb::kSuccess; r = t->skip(1)) {
        Row row;
        for (int i = 1; i <= t->fieldCount(); ++i)
            row[QString::fromStdString(t->fieldAt(i)->name()).toLower().toStdString()] = t->fieldAt(i)->text();
        out.push_back(row);
    }
    return out;
}

bool writeTicketTable(const QString& path, const std::vector<HandTicket>& tickets)
{
    QFile::remove(path);  // made anew: a table is never created over another
    if (!catalogue::CreateTable(catalogue::kTicketLayout, path.toStdString()))
        return false;
    xb::Connection c;
    xb::Table* t = c.open(path.toStdString());
    if (!t)
        return false;
    for (const auto& h : tickets) {
        t->appendStart();
        t->blank();
        t->field("ticket")->assignInteger(h.ticket);
        t->field("customer")->assign(h.customer);
        t->field("truck")->assign(h.truck);
        t->field("in_wgt")->assignInteger(h.inWeight);
        t->field("complete")->assignLogical(h.complete);
        if (t->append() != xb::kSuccess)
            return false;
        if (h.deleted)
            t->deleteRecord();
    }
    return t->close() == xb::kSuccess;
}

QString fixturesDir()
{
    QString dir = qEnvironmentVariable("GRAZULO_FIXTURES");
    if (dir.isEmpty())
        dir = QStringLiteral(GRAZULO_FIXTURES_DIR);
    return QFileInfo(dir + "/customer.dbf").exists() ? dir : QString();
}

QString copyFixture(const QString& name, const QString& dir)
{
    QDir src(fixturesDir());
    QString base = QFileInfo(name).completeBaseName();
    for (const QFileInfo& fi : src.entryInfoList(QDir::Files)) {
        if (fi.completeBaseName().compare(base, Qt::CaseInsensitive) != 0)
            continue;
        QString to = dir + "/" + fi.fileName();
        QFile::remove(to);
        QFile::copy(fi.filePath(), to);
        QFile(to).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                 QFileDevice::ReadOther);
    }
    return dir + "/" + name;
}

QString binDir()
{
    QString dir = qEnvironmentVariable("GRAZULO_BIN");
    return dir.isEmpty() ? QStringLiteral(GRAZULO_BIN_DIR) : dir;
}

RunResult run(const QString& program, const QStringList& args, const QByteArray& input, int timeoutMs)
{
    RunResult r;
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return r;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

EngineErrors::EngineErrors()
{
    previous_ = xb::setErrorReport([this](const xb::EngineError& e) { messages.push_back(e.text()); });
}

EngineErrors::~EngineErrors() { xb::setErrorReport(std::move(previous_)); }

bool EngineErrors::contains(const std::string& needle) const
{
    for (const auto& m : messages)
        if (m.find(needle) != std::string::npos)
            return true;
    return false;
}

}  // namespace testsupport

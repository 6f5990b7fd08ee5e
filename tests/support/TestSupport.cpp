#include "TestSupport.h"

#include "data/CodeBase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace testsupport {

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

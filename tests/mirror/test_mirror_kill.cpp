// The mirror cut short at random moments: grazulo-admin mirror killed, its
// connection ended by the server, the server itself crashing and starting
// again. After each, every day at the head office is as it was before the
// run or as the site holds it now, never a mix, and the record of what was
// sent says which; the next run sends exactly the days still old, after
// which the head office holds every ticket once.

#include "MirrorSite.h"
#include "PgServer.h"
#include "TestSupport.h"

#include "mirror/Pg.h"
#include "mirror/Schema.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <map>
#include <memory>
#include <sys/stat.h>

using namespace testmirror;

namespace {

constexpr int kDays = 40;
constexpr int kPerDay = 50;
const xb::Date kFirst {2026, 9, 1};

xb::Date dayAt(int i) { return xb::Date::fromJulianDay(kFirst.julianDay() + i); }

std::string isoOf(const xb::Date& d)
{
    const std::string t = d.text();
    return t.substr(0, 4) + "-" + t.substr(4, 2) + "-" + t.substr(6);
}

using Days = std::map<std::string, QStringList>;  // by yyyy-mm-dd

}  // namespace

class TestMirrorKill : public QObject {
    Q_OBJECT

    std::unique_ptr<testpg::PgServer> server_;
    QTemporaryDir home_;
    std::string dataDir_;
    std::string hq_ = "hq";
    QRandomGenerator random_;

    std::unique_ptr<mirror::Pg> connect(const std::string& role = "postgres")
    {
        std::string error;
        auto db = mirror::Pg::connect(server_->conninfo(hq_, role), error);
        if (!db)
            qFatal("connect: %s", error.c_str());
        return db;
    }

    // Each day as the site's tables hold it: "ticket truck remarks" in order.
    Days siteDays() const
    {
        Days out;
        for (int i = 0; i < kDays; ++i) {
            QStringList day;
            for (const auto& r : testsupport::tableRows(QString::fromStdString(dayPath(dataDir_, dayAt(i)))))
                day << QString::fromStdString(r.at("ticket") + " " + r.at("truck") + " " + r.at("remarks"));
            out[isoOf(dayAt(i))] = day;
        }
        return out;
    }

    // Each day at the head office, and how many rows the record of what was
    // sent gives it.
    Days centralDays(std::map<std::string, long>* sentRows = nullptr)
    {
        auto db = connect();
        std::vector<mirror::PgRow> rows;
        if (!db->exec("SELECT to_char(day, 'YYYY-MM-DD'), ticket || ' ' || coalesce(truck, '') || ' ' || "
                      "coalesce(remarks, '') FROM grazulo.tickets WHERE site = 'quarry' ORDER BY day, seq",
                      {}, &rows))
            qFatal("%s", db->error().c_str());
        Days out;
        for (const auto& r : rows)
            out[*r[0]] << QString::fromStdString(*r[1]);
        if (sentRows) {
            if (!db->exec("SELECT substr(part, 5), row_count FROM grazulo.sent WHERE site = 'quarry' AND part LIKE 'day %'",
                          {}, &rows))
                qFatal("%s", db->error().c_str());
            sentRows->clear();
            for (const auto& r : rows)
                (*sentRows)[*r[0]] = std::stol(*r[1]);
        }
        return out;
    }

    // Runs grazulo-admin mirror; `interrupt` is called `delayMs` after it
    // starts while it still runs. Gives its exit status (-1 when killed).
    int runMirror(int delayMs = -1, const std::function<void(QProcess&)>& interrupt = {})
    {
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("GRAZULO_HOME", home_.path());
        p.setProcessEnvironment(env);
        // About a day a transaction: many commits for the interruptions to fall between.
        p.start(testsupport::binDir() + "/grazulo-admin", {"mirror", "--batch-rows", QString::number(kPerDay)});
        if (!p.waitForStarted())
            qFatal("grazulo-admin does not start");
        if (interrupt && !p.waitForFinished(delayMs) && p.state() == QProcess::Running)
            interrupt(p);
        if (p.state() != QProcess::NotRunning && !p.waitForFinished(300000))
            qFatal("grazulo-admin mirror does not end");
        lastOutput_ = p.readAllStandardOutput() + p.readAllStandardError();
        return p.exitStatus() == QProcess::CrashExit ? -1 : p.exitCode();
    }
    QByteArray lastOutput_;

    // A run after an interrupted one; the server may not yet have seen the
    // killed run's session go, whose lock then makes this one stop at once.
    int runAfterInterruption()
    {
        for (int tries = 0;; ++tries) {
            const int status = runMirror();
            if (status == 0 || !lastOutput_.contains("another mirror") || tries > 100)
                return status;
            QThread::msleep(100);
        }
    }

    // Every day of the site changed: new remarks, and on odd rounds one
    // ticket more.
    void changeEveryDay(int round)
    {
        for (int i = 0; i < kDays; ++i) {
            const std::string path = dayPath(dataDir_, dayAt(i));
            QVERIFY(setEveryRecord(path, "remarks", "round " + std::to_string(round)));
            if (round % 2) {
                xb::Connection c;
                xb::Table* t = c.open(path);
                QVERIFY(t && t->appendStart() == xb::kSuccess);
                t->blank();
                t->field("ticket")->assignInteger(50000 + round);
                t->field("remarks")->assign("round " + std::to_string(round));
                t->field("in_date")->assignDate(dayAt(i));
                QVERIFY(t->append() == xb::kSuccess && t->close() == xb::kSuccess);
            }
        }
    }

private slots:
    void initTestCase()
    {
        const quint32 seed = quint32(QDateTime::currentMSecsSinceEpoch());
        random_.seed(seed);
        qInfo("random seed %u", seed);
        server_ = std::make_unique<testpg::PgServer>();
        if (!server_->ok())
            QSKIP(("no PostgreSQL server for the mirror's tests: " + server_->problem()).c_str());
        std::string error;
        QVERIFY2(server_->sql("postgres", "CREATE DATABASE hq", &error), error.c_str());
        {
            auto db = connect();
            QVERIFY(mirror::initSchema(*db).ok);
            QVERIFY(db->script("CREATE ROLE site_quarry LOGIN IN ROLE grazulo_site;"
                               "INSERT INTO grazulo.site_roles VALUES ('site_quarry', 'quarry')"));
        }
        const QString home = home_.path();
        const auto made = testsupport::run(testsupport::binDir() + "/grazulo-admin", {"new-site", home});
        QVERIFY2(made.exitCode == 0, made.err.constData());
        QFile ini(home + "/setup.ini");
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QByteArray text = ini.readAll();
        ini.close();
        QVERIFY(text.contains("\nsite=\n") && text.contains("\nconnection=\n"));
        text.replace("\nsite=\n", "\nsite=quarry\n").replace("\nconnection=\n", "\nconnection=head-office.conn\n");
        QVERIFY(xb::writeFileDurably(home.toStdString() + "/setup.ini", text.toStdString()));
        const std::string conn = home.toStdString() + "/head-office.conn";
        QVERIFY(xb::writeFileDurably(conn, server_->conninfo(hq_, "site_quarry") + "\n"));
        QCOMPARE(::chmod(conn.c_str(), 0600), 0);
        dataDir_ = home.toStdString() + "/database/";
        for (int i = 0; i < kDays; ++i)
            QVERIFY(writeDay(dayPath(dataDir_, dayAt(i)), dayAt(i), tickets(1 + i * kPerDay, kPerDay, "round 0")));
    }

    void interrupted_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("mirror killed") << "kill";
        QTest::newRow("connection ended by the server") << "terminate";
        QTest::newRow("server crashed and started again") << "crash";
    }
    void interrupted()
    {
        QFETCH(QString, how);
        // How long a run of every day takes here, to aim the interruptions within it.
        static int round = 0;
        changeEveryDay(++round);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runMirror(), 0);
        const int whole = int(std::max<qint64>(timer.elapsed(), 50));
        QCOMPARE(centralDays(), siteDays());

        for (int i = 0; i < 4; ++i) {
            const Days before = siteDays();
            changeEveryDay(++round);
            const Days after = siteDays();
            const int delay = int(random_.bounded(whole + whole / 5 + 1));
            runMirror(delay, [&](QProcess& p) {
                if (how == "kill") {
                    p.kill();
                } else if (how == "terminate") {
                    auto db = connect();
                    db->exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                             "WHERE application_name = 'grazulo-mirror'");
                } else {
                    server_->stop(true);
                    p.waitForFinished(60000);
                    QVERIFY(server_->start());
                }
            });
            std::map<std::string, long> sentRows;
            const Days central = centralDays(&sentRows);
            int old = 0;
            for (const auto& [day, now] : after) {
                const QStringList held = central.count(day) ? central.at(day) : QStringList();
                QVERIFY2(held == before.at(day) || held == now,
                         qPrintable(QString("round %1, %2 after %3 ms: a day half sent").arg(round).arg(day.c_str()).arg(delay)));
                QCOMPARE(sentRows.count(day) ? sentRows.at(day) : 0L, long(held.size()));
                old += held == now ? 0 : 1;
            }
            qInfo("round %d: interrupted after %d of %d ms, %d of %d days still old", round, delay, whole, old, kDays);
            QCOMPARE(runAfterInterruption(), 0);
            QVERIFY2(lastOutput_.contains(old == 0 ? "nothing to send" : QByteArray("sent ") + QByteArray::number(old) +
                                                                                 (old == 1 ? " day " : " days ")),
                     lastOutput_.constData());
            QCOMPARE(centralDays(), after);
        }
    }
};

QTEST_GUILESS_MAIN(TestMirrorKill)
#include "test_mirror_kill.moc"

// The device simulator, run as the built program: the program's own ports
// open its devices and read its scale frames and card lines, and what they
// send its printer lands in the printer file.

#include "TestSupport.h"
#include "devices/CardReader.h"
#include "devices/ScaleReading.h"
#include "devices/SerialPort.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Swipe : devices::CardTarget {
    std::vector<std::string> got;
    bool accepts() const override { return true; }
    void deliver(const std::string& text) override { got.push_back(text); }
};

QString devsimPath() { return testsupport::binDir() + "/devsim"; }

}  // namespace

class TestDevsim : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QProcess sim;
    QByteArray pending;

    QString path(const char* role) const { return dir.path() + "/" + role + "-" + QString::number(::getpid()); }

    // The next line the simulator prints.
    QString nextLine(int timeoutMs = 5000)
    {
        for (;;) {
            const int eol = pending.indexOf('\n');
            if (eol >= 0) {
                const QString line = QString::fromUtf8(pending.left(eol));
                pending.remove(0, eol + 1);
                return line;
            }
            if (!sim.waitForReadyRead(timeoutMs))
                return QStringLiteral("<nothing>");
            pending += sim.readAllStandardOutput();
        }
    }
    QString command(const QByteArray& line)
    {
        sim.write(line + "\n");
        return nextLine();
    }

private slots:
    void initTestCase()
    {
        if (!QFileInfo(devsimPath()).isExecutable())
            QSKIP("devsim is not built");
        QVERIFY(dir.isValid());
        sim.start(devsimPath(), {"--scale", path("scale"), "--card", path("card"), "--printer", path("printer"),
                                 "--printer-file", dir.path() + "/printed.txt", "--rate", "20", "--weight",
                                 "1500"});
        QVERIFY(sim.waitForStarted(10000));
        QString line;
        while ((line = nextLine()) != "ready")
            QVERIFY2(line.contains(" -> /dev/"), qPrintable(line));
        QVERIFY(QFileInfo(path("scale")).isSymLink());
    }
    void init() { devices::ResetScaleReading(); }

    void scaleFramesFollowTheCommands()
    {
        devices::SerialPort port;
        devices::configureScalePort(port, 1);
        port.setDeviceName(path("scale").toStdString());
        connect(&port, &devices::SerialPort::dataAvailable,
                [&](int count) { devices::ParseScaleData(port, count); });
        QVERIFY2(port.open(), port.lastError().c_str());
        const auto& r = devices::ScaleReading();
        QTRY_COMPARE_WITH_TIMEOUT(r.weight, std::string("1500"), 5000);
        QCOMPARE(r.unit, std::string("K"));

        QCOMPARE(command("weight 12340"), QString("ok weight 12340"));
        QTRY_COMPARE_WITH_TIMEOUT(r.weight, std::string("12340"), 5000);
        QCOMPARE(command("unit L"), QString("ok unit L"));
        QTRY_COMPARE_WITH_TIMEOUT(r.unit, std::string("L"), 5000);
        QCOMPARE(command("weight -40"), QString("ok weight -40"));
        QTRY_COMPARE_WITH_TIMEOUT(r.weight, std::string("-40"), 5000);

        QCOMPARE(command("overload"), QString("ok overload"));
        QTRY_COMPARE_WITH_TIMEOUT(r.unit, std::string("X"), 5000);
        QCOMPARE(command("unit K"), QString("ok unit K"));
        QTest::qWait(200);
        QCOMPARE(r.unit, std::string("X"));  // still overloaded
        QCOMPARE(command("weight 800"), QString("ok weight 800"));
        QTRY_VERIFY_WITH_TIMEOUT(r.unit == "K" && r.weight == "800", 5000);

        // Silent: the freshness check finds no frame and invalidates.
        QCOMPARE(command("silence"), QString("ok silence"));
        QTest::qWait(200);  // frames already on their way
        devices::CheckScaleFreshness();
        QTest::qWait(400);  // eight frame periods
        QVERIFY(!r.fresh);
        devices::CheckScaleFreshness();
        QCOMPARE(r.unit, std::string("X"));
        QCOMPARE(r.weight, std::string());
        QCOMPARE(command("resume"), QString("ok resume"));
        QTRY_VERIFY_WITH_TIMEOUT(r.unit == "K" && r.weight == "800" && r.fresh, 5000);

        QVERIFY(command("weight 12x").startsWith("error"));
        QVERIFY(command("unit G").startsWith("error"));
    }

    void cardLinesReachTheSwipeScreen()
    {
        Swipe swipe;
        devices::CardLines().setSwipeScreen(&swipe);
        devices::ResetCardReader();
        devices::SerialPort port;
        devices::configureCardPort(port);
        port.setDeviceName(path("card").toStdString());
        connect(&port, &devices::SerialPort::dataAvailable,
                [&](int count) { devices::ParseCardData(port, count); });
        QVERIFY2(port.open(), port.lastError().c_str());
        QCOMPARE(command("card 1234"), QString("ok card 1234"));
        QTRY_COMPARE_WITH_TIMEOUT(swipe.got.size(), std::size_t(1), 5000);
        QCOMPARE(swipe.got[0], std::string("1234\r"));
        QCOMPARE(command("card ;0042 77?"), QString("ok card ;0042 77?"));
        QTRY_COMPARE_WITH_TIMEOUT(swipe.got.size(), std::size_t(2), 5000);
        QCOMPARE(swipe.got[1], std::string(";0042 77?\r"));
    }

    void printerWritesWhatItReceivesAndSpeaksXOnXOff()
    {
        devices::SerialPort port;
        port.setDeviceName(path("printer").toStdString());
        devices::FlowControl flow;
        flow.transmit = true;
        flow.xon = 0x11;
        flow.xoff = 0x13;
        port.setFlowControl(flow);
        QVERIFY2(port.open(), port.lastError().c_str());
        QVERIFY(port.writeText("first\r\n"));
        QVERIFY(port.flush(3000));

        QCOMPARE(command("xoff"), QString("ok xoff"));
        QTest::qWait(100);
        QVERIFY(port.writeText("second\r\n"));
        QVERIFY(!port.flush(200));
        QCOMPARE(command("xon"), QString("ok xon"));
        QVERIFY(port.flush(3000));
        port.close();

        QFile printed(dir.path() + "/printed.txt");
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(printed).size(), qint64(15), 5000);
        QVERIFY(printed.open(QIODevice::ReadOnly));
        QCOMPARE(printed.readAll(), QByteArray("first\r\nsecond\r\n"));
        QCOMPARE(command("status").left(9), QString("ok scale:"));
        QCOMPARE(nextLine(), QString("ok card reader: 0 bytes unread"));
        QCOMPARE(nextLine(), QString("ok printer: 15 bytes received"));
    }

    void quitRemovesTheLinks()
    {
        QVERIFY(command("nonsense").startsWith("error: unknown command"));
        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(path("scale")) && !QFileInfo(path("scale")).isSymLink());
        QVERIFY(!QFileInfo(path("card")).isSymLink());
        QVERIFY(!QFileInfo(path("printer")).isSymLink());
    }

    void refusesToReplaceAFile()
    {
        const QString taken = dir.path() + "/taken";
        QFile f(taken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
        f.close();
        const auto r = testsupport::run(devsimPath(), {"--scale", taken}, "quit\n", 10000);
        QCOMPARE(r.exitCode, 1);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));

        QCOMPARE(testsupport::run(devsimPath(), {}, {}, 10000).exitCode, 2);
        QCOMPARE(testsupport::run(devsimPath(), {"--scale", dir.path() + "/x", "--rate", "0"}, {}, 10000).exitCode,
                 2);
    }

    void signalEndsItCleanly()
    {
        QProcess p;
        const QString link = dir.path() + "/sig-" + QString::number(::getpid());
        p.start(devsimPath(), {"--card", link});
        QVERIFY(p.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 5000);
        p.closeWriteChannel();  // without input it keeps running
        QTest::qWait(200);
        QCOMPARE(p.state(), QProcess::Running);
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void cleanupTestCase()
    {
        if (sim.state() != QProcess::NotRunning) {
            sim.kill();
            sim.waitForFinished();
        }
    }
};

QTEST_GUILESS_MAIN(TestDevsim)
#include "test_devsim.moc"

// The serial port over real pseudo-terminals: the test holds the master end
// (the device) and the port opens the slave through a symbolic link, as it
// would open /dev/ttyUSB0.

#include "devices/SerialPort.h"

#include "Pty.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

using testsupport::Pty;

// Link names must differ between test programs: the port's lock file is
// named after the link.
std::string linkIn(const QTemporaryDir& dir, const char* role)
{
    return dir.path().toStdString() + "/" + role + "-" + std::to_string(::getpid());
}

bool pointLink(const std::string& link, const std::string& target)
{
    std::string tmp = link + ".new";
    ::unlink(tmp.c_str());
    return ::symlink(target.c_str(), tmp.c_str()) == 0 && ::rename(tmp.c_str(), link.c_str()) == 0;
}

devices::FlowControl receiveFlow()
{
    devices::FlowControl f;
    f.receive = true;
    f.xon = 0x02;
    f.xoff = 0x13;
    return f;
}

devices::FlowControl transmitFlow()
{
    devices::FlowControl f;
    f.transmit = true;
    f.xon = 0x11;
    f.xoff = 0x13;
    return f;
}

}  // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { devices::setPortNameSource({}); }

    void portNumbersNameDevicesByDefault()
    {
        QCOMPARE(devices::portDeviceName(1), std::string("/dev/ttyS0"));
        QCOMPARE(devices::portDeviceName(2), std::string("/dev/ttyS1"));
        QCOMPARE(devices::portDeviceName(9), std::string("/dev/ttyS8"));
        QCOMPARE(devices::portDeviceName(12), std::string("/dev/ttyS11"));
        QCOMPARE(devices::portDeviceName(0), std::string());
        QCOMPARE(devices::portDeviceName(-3), std::string());
        QCOMPARE(devices::parallelDeviceName(), std::string("/dev/lp0"));
    }

    void configuredNamesWinAndOthersKeepTheDefault()
    {
        std::vector<std::string> asked;
        devices::setPortNameSource([&](const std::string& key) -> std::string {
            asked.push_back(key);
            if (key == "com1")
                return "/dev/ttyUSB0";
            if (key == "lpt1")
                return "/dev/usb/lp0";
            return {};
        });
        QCOMPARE(devices::portDeviceName(1), std::string("/dev/ttyUSB0"));
        QCOMPARE(devices::portDeviceName(3), std::string("/dev/ttyS2"));
        QCOMPARE(devices::parallelDeviceName(), std::string("/dev/usb/lp0"));
        QCOMPARE(asked, (std::vector<std::string> {"com1", "com3", "lpt1"}));
        // Beyond com9 there is no key to ask.
        asked.clear();
        QCOMPARE(devices::portDeviceName(10), std::string("/dev/ttyS9"));
        QVERIFY(asked.empty());

        devices::SerialPort port;
        port.setPortNumber(1);
        QCOMPARE(port.deviceName(), std::string("/dev/ttyUSB0"));
        port.setDeviceName("/dev/pts/99");
        QCOMPARE(port.deviceName(), std::string("/dev/pts/99"));
    }

    void bytesFromTheDeviceArriveWithTheirCount()
    {
        Pty pty;
        QVERIFY(pty.ok());
        QTemporaryDir dir;
        const std::string link = linkIn(dir, "card");
        QVERIFY(pointLink(link, pty.name));
        devices::setPortNameSource([&](const std::string& key) { return key == "com2" ? link : std::string(); });

        devices::SerialPort port;
        port.setPortNumber(2);
        std::string got;
        std::vector<int> counts;
        connect(&port, &devices::SerialPort::dataAvailable, [&](int count) {
            counts.push_back(count);
            for (int i = 0; i < count; ++i) {
                const int b = port.readByte();
                QVERIFY(b >= 0);
                got.push_back(char(b));
            }
        });
        QVERIFY2(port.open(), port.lastError().c_str());
        pty.send("12");
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), std::size_t(2), 5000);
        pty.send(std::string("34\r\n\0\xff", 6));
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("1234\r\n\0\xff", 8), 5000);
        int sum = 0;
        for (int c : counts) {
            QVERIFY(c > 0);
            sum += c;
        }
        QCOMPARE(sum, 8);
        QCOMPARE(port.readByte(), -1);
    }

    void printerPortHoldsOutputOnXOffAndFlushGivesUp()
    {
        Pty pty;
        QVERIFY(pty.ok());
        devices::SerialPort port;
        port.setDeviceName(pty.name);
        port.setFlowControl(transmitFlow());
        QVERIFY2(port.open(), port.lastError().c_str());
        pty.send("\x13");
        QTRY_VERIFY_WITH_TIMEOUT(pty.outputStopped(), 3000);
        const std::string text(300, 'A');
        QVERIFY(port.writeText(text));
        QVERIFY(!port.flush(200));
        QVERIFY(port.pendingOutput() > 0);
        QCOMPARE(pty.receive(1, 100), std::string());

        pty.send("\x11");  // the printer has paper again
        QVERIFY(port.flush(3000));
        QCOMPARE(port.pendingOutput(), 0L);
        QCOMPARE(pty.receive(text.size()), text);
    }

    void writesBeyondTheOutputBufferAreRefused()
    {
        Pty pty;
        QVERIFY(pty.ok());
        devices::SerialPort port;
        port.setDeviceName(pty.name);
        port.setBufferSizes(4096, 100);
        port.setFlowControl(transmitFlow());
        QVERIFY(port.open());
        pty.send("\x13");
        QTRY_VERIFY_WITH_TIMEOUT(pty.outputStopped(), 3000);
        QVERIFY(port.writeText(std::string(60, 'a')));
        QVERIFY(!port.writeText(std::string(60, 'b')));  // nothing of it is queued
        QVERIFY(port.writeText(std::string(40, 'c')));
        pty.send("\x11");
        QVERIFY(port.flush(3000));
        QCOMPARE(pty.receive(100), std::string(60, 'a') + std::string(40, 'c'));

        devices::SerialPort closed;
        QVERIFY(!closed.writeText("x"));
        QVERIFY(!closed.flush(10));
    }

    void bytesArrivingDuringAModalLoopAreNotLeftBehind()
    {
        Pty pty;
        QVERIFY(pty.ok());
        devices::SerialPort port;
        port.setDeviceName(pty.name);
        QVERIFY(port.open());
        std::string got;
        bool first = true;
        connect(&port, &devices::SerialPort::dataAvailable, [&](int count) {
            for (int i = 0; i < count; ++i)
                got.push_back(char(port.readByte()));
            if (first) {
                // A message box: the handler runs an event loop while the
                // device sends the next line, then returns.
                first = false;
                pty.send("second\n");
                QEventLoop modal;
                QTimer::singleShot(300, &modal, &QEventLoop::quit);
                modal.exec();
            }
        });
        pty.send("first\n");
        // Nothing more arrives after "second": it must come out anyway.
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("first\nsecond\n"), 5000);
    }

    void missingDeviceFailsAndOpensOnceItAppears()
    {
        QTemporaryDir dir;
        const std::string link = linkIn(dir, "late");
        devices::SerialPort port;
        port.setDeviceName(link);
        port.setReopenInterval(50);
        QSignalSpy opened(&port, &devices::SerialPort::opened);
        QVERIFY(!port.open());
        QVERIFY(!port.lastError().empty());
        QVERIFY(!port.isOpen());

        Pty pty;
        QVERIFY(pty.ok());
        QVERIFY(pointLink(link, pty.name));
        QTRY_VERIFY_WITH_TIMEOUT(port.isOpen(), 5000);
        QCOMPARE(opened.count(), 1);
    }

    void aClosedPortStaysClosed()
    {
        QTemporaryDir dir;
        const std::string link = linkIn(dir, "closed");
        devices::SerialPort port;
        port.setDeviceName(link);
        port.setReopenInterval(20);
        QVERIFY(!port.open());
        port.close();
        Pty pty;
        QVERIFY(pointLink(link, pty.name));
        QTest::qWait(200);
        QVERIFY(!port.isOpen());

        // Nor does a port that is not to keep itself open.
        devices::SerialPort once;
        once.setDeviceName(link + "-none");
        once.setKeepOpen(false);
        once.setReopenInterval(20);
        QVERIFY(!once.open());
        QVERIFY(pointLink(link + "-none", pty.name));
        QTest::qWait(200);
        QVERIFY(!once.isOpen());
    }

    void aVanishedDeviceIsReopenedWhenItComesBack()
    {
        QTemporaryDir dir;
        const std::string link = linkIn(dir, "usb");
        auto first = std::make_unique<Pty>();
        QVERIFY(first->ok());
        QVERIFY(pointLink(link, first->name));

        devices::SerialPort port;
        port.setDeviceName(link);
        port.setFlowControl(receiveFlow());
        port.setReopenInterval(100);
        port.setWatchInterval(50);
        std::string got;
        int events = 0;
        connect(&port, &devices::SerialPort::dataAvailable, [&](int count) {
            ++events;
            char buf[256];
            got.append(buf, port.read(buf, std::size_t(count) < sizeof buf ? std::size_t(count) : sizeof buf));
        });
        QSignalSpy lost(&port, &devices::SerialPort::lost);
        QSignalSpy opened(&port, &devices::SerialPort::opened);
        QVERIFY(port.open());
        first->send("a");
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("a"), 5000);

        // The adapter is pulled out: its device goes, its name goes.
        ::unlink(link.c_str());
        first.reset();
        QTRY_VERIFY_WITH_TIMEOUT(lost.count() == 1, 5000);
        QVERIFY(!port.isOpen());
        const int eventsWhileGone = events;
        QTest::qWait(300);  // quietly trying, without a storm of events
        QCOMPARE(events, eventsWhileGone);
        QVERIFY(!port.isOpen());

        // Plugged in again: a new device under the same name.
        Pty second;
        QVERIFY(second.ok());
        QVERIFY(pointLink(link, second.name));
        QTRY_VERIFY_WITH_TIMEOUT(port.isOpen(), 5000);
        QCOMPARE(opened.count(), 2);
        const termios t = second.settings();
        QVERIFY(t.c_iflag & IXOFF);
        QVERIFY(!(t.c_iflag & IXON));
        QCOMPARE(int(t.c_cc[VSTART]), 0x02);
        second.send("b\x02");
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("ab\x02"), 5000);
    }

    void aNameThatNowNamesAnotherDeviceIsFollowed()
    {
        QTemporaryDir dir;
        const std::string link = linkIn(dir, "moved");
        Pty first, second;
        QVERIFY(first.ok() && second.ok());
        QVERIFY(pointLink(link, first.name));
        devices::SerialPort port;
        port.setDeviceName(link);
        port.setReopenInterval(50);
        port.setWatchInterval(50);
        QSignalSpy opened(&port, &devices::SerialPort::opened);
        std::string got;
        connect(&port, &devices::SerialPort::dataAvailable, [&](int count) {
            for (int i = 0; i < count; ++i)
                got.push_back(char(port.readByte()));
        });
        QVERIFY(port.open());
        QVERIFY(pointLink(link, second.name));
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 2, 5000);
        second.send("x");
        QTRY_COMPARE_WITH_TIMEOUT(got, std::string("x"), 5000);
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serialport.moc"

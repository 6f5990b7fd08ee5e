// Printing a ticket on real devices: a printer on a pseudo-terminal (the test
// holds the printer's end), a printer that holds XOff, a missing printer, and
// the parallel device as a file.

#include "devices/SerialPort.h"
#include "dialogs/MessageSeam.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/TicketPrintout.h"

#include "Pty.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Printer = testsupport::Pty;

const xb::LocalTime kNow {2026, 12, 9, 16, 40, 0};

void fillTicket()
{
    kiosk::ClearTicket();
    kiosk::Ticket& t = kiosk::CurrentTicket();
    t.ticket = 77;
    t.customer = "Ardwick Haulage";
    t.product = "Topsoil";
    t.in_time = "815";
    t.in_date = "20261209";
    t.out_time = kNow;
    t.out_date = kNow;
    t.in_wgt = "14020";
    t.out_wgt = "8760";
}

std::string expectedTicket(int type)
{
    return *kiosk::KioskTicketBytes(kiosk::CurrentTicket(), type, kNow);
}

}  // namespace

class TestPrintoutDevices : public QObject {
    Q_OBJECT

    std::string comDevice;
    std::string lptDevice;

private slots:
    void init()
    {
        xb::setClockSource([] { return kNow; });
        comDevice.clear();
        lptDevice.clear();
        devices::setPortNameSource([this](const std::string& key) {
            if (key == "com3")
                return comDevice;
            if (key == "lpt1")
                return lptDevice;
            return std::string();
        });
        kiosk::KioskSettings().printerPort = 3;
        kiosk::KioskSettings().PrinterType = 1;
        kiosk::setPrinterTimeout(2000);
        fillTicket();
    }
    void cleanup()
    {
        xb::setClockSource({});
        devices::setPortNameSource({});
    }

    void serialPrinterGetsTheWholeTicketTwice()
    {
        Printer printer;
        comDevice = printer.name;
        // The port comes in with other settings (the station's, say).
        devices::SerialPort port;
        port.setPortNumber(5);
        port.setLineSettings({1200, 7, devices::Parity::Even, 2});
        termios seen {};
        connect(&port, &devices::SerialPort::opened, [&] { seen = printer.settings(); });
        dialogs::RecordingMessages shown;
        // The outbound screen prints two copies in a row.
        QVERIFY(kiosk::PrintKioskTicket(port));
        QVERIFY(kiosk::PrintKioskTicket(port));
        QVERIFY(shown.shown.empty());
        const std::string one = expectedTicket(1);
        QCOMPARE(printer.received(), one + one);
        QVERIFY(!port.isOpen());
        QCOMPARE(port.portNumber(), 3);
        QVERIFY(seen.c_iflag & IXON);
        QVERIFY(!(seen.c_iflag & IXOFF));
        QVERIFY(!(seen.c_iflag & IXANY));
        QCOMPARE(int(seen.c_cc[VSTOP]), 0x13);
        QCOMPARE(int(seen.c_cc[VSTART]), 0x11);
        QCOMPARE(int(cfgetospeed(&seen)), int(B9600));
        QCOMPARE(int(seen.c_cflag & CSIZE), int(CS8));
        QVERIFY(!(seen.c_cflag & PARENB));
        QVERIFY(!(seen.c_cflag & CSTOPB));
    }

    void printerPausedByXOffFinishesOnXOn()
    {
        Printer printer;
        comDevice = printer.name;
        devices::SerialPort port;
        connect(&port, &devices::SerialPort::opened, [&] {
            QVERIFY(printer.send("\x13"));
            QTRY_VERIFY_WITH_TIMEOUT(printer.outputStopped(), 3000);
        });
        std::atomic<bool> done {false};
        std::thread resume([&] {
            ::usleep(400 * 1000);  // busy printing the last ticket
            const char xon = 0x11;
            (void)!::write(printer.master, &xon, 1);
            done = true;
        });
        dialogs::RecordingMessages shown;
        const bool printed = kiosk::PrintKioskTicket(port);
        resume.join();
        QVERIFY(done);
        QVERIFY(printed);
        QVERIFY(shown.shown.empty());
        QCOMPARE(printer.received(), expectedTicket(1));
    }

    void printerHoldingXOffIsReportedAndLeavesNoRemnant()
    {
        Printer printer;
        comDevice = printer.name;
        kiosk::setPrinterTimeout(300);
        devices::SerialPort port;
        auto hold = connect(&port, &devices::SerialPort::opened, [&] {
            QVERIFY(printer.send("\x13"));  // out of paper, and never says XOn
            QTRY_VERIFY_WITH_TIMEOUT(printer.outputStopped(), 3000);
        });
        dialogs::RecordingMessages shown;
        QVERIFY(!kiosk::PrintKioskTicket(port));
        QCOMPARE(shown.shown.size(), std::size_t(1));
        QCOMPARE(shown.last().caption, std::string("Printer Error"));
        QCOMPARE(shown.last().line1, std::string("The ticket printer is not taking the ticket."));
        QCOMPARE(shown.last().kind, int(dialogs::kError));
        QVERIFY(!port.isOpen());
        QCOMPARE(printer.received(), std::string());

        // Paper in: the next ticket comes out whole, without the rest of the
        // one given up.
        disconnect(hold);
        QVERIFY(printer.send("\x11"));
        kiosk::setPrinterTimeout(2000);
        QVERIFY(kiosk::PrintKioskTicket(port));
        QCOMPARE(printer.received(), expectedTicket(1));
        QCOMPARE(shown.shown.size(), std::size_t(1));
    }

    void missingSerialPrinterIsReported()
    {
        QTemporaryDir dir;
        comDevice = dir.path().toStdString() + "/no-printer";
        devices::SerialPort port;
        dialogs::RecordingMessages shown;
        QVERIFY(!kiosk::PrintKioskTicket(port));
        QCOMPARE(shown.shown.size(), std::size_t(1));
        QCOMPARE(shown.last().caption, std::string("Printer Error"));
        QCOMPARE(shown.last().line1, std::string("The ticket printer cannot be opened."));
        QVERIFY(shown.last().line2.find("no-printer") != std::string::npos);
        QVERIFY(!port.isOpen());
        QTest::qWait(100);
        QVERIFY(!port.isOpen());  // and no quiet reopening behind the kiosk's back

        // No printer port in the settings at all.
        kiosk::KioskSettings().printerPort = 0;
        QVERIFY(!kiosk::PrintKioskTicket(port));
        QCOMPARE(shown.shown.size(), std::size_t(2));
        QCOMPARE(shown.last().line1, std::string("The ticket printer cannot be opened."));
    }

    void noPrinterTypeIsReported()
    {
        Printer printer;
        comDevice = printer.name;
        for (int type : {0, 6}) {
            kiosk::KioskSettings().PrinterType = type;
            devices::SerialPort port;
            dialogs::RecordingMessages shown;
            QVERIFY(!kiosk::PrintKioskTicket(port));
            QCOMPARE(shown.shown.size(), std::size_t(1));
            QCOMPARE(shown.last().caption, std::string("Printer Error"));
            QCOMPARE(shown.last().line1, std::string("No ticket printer is configured."));
            QVERIFY(!port.isOpen());
        }
        QCOMPARE(printer.received(100), std::string());
    }

    void unreadableWeightsAreReportedNotPrinted()
    {
        Printer printer;
        comDevice = printer.name;
        kiosk::CurrentTicket().out_wgt = "87-60";
        devices::SerialPort port;
        dialogs::RecordingMessages shown;
        QVERIFY(!kiosk::PrintKioskTicket(port));
        QCOMPARE(shown.shown.size(), std::size_t(1));
        QCOMPARE(shown.last().caption, std::string("Printer Error"));
        QCOMPARE(printer.received(100), std::string());
    }

    void parallelPrinterIsWrittenAsAFile()
    {
        QTemporaryDir dir;
        lptDevice = dir.path().toStdString() + "/lp0";
        {
            QFile old(QString::fromStdString(lptDevice));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(std::string(5000, '#').c_str());  // longer than a ticket
        }
        kiosk::KioskSettings().PrinterType = 2;
        devices::SerialPort unused;
        dialogs::RecordingMessages shown;
        QVERIFY(kiosk::PrintKioskTicket(unused));
        QVERIFY(shown.shown.empty());
        QFile file(QString::fromStdString(lptDevice));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().toStdString(), expectedTicket(2));
        QVERIFY(!unused.isOpen());
    }

    void missingParallelPrinterIsReportedAndNotCreated()
    {
        QTemporaryDir dir;
        lptDevice = dir.path().toStdString() + "/lp0";
        kiosk::KioskSettings().PrinterType = 2;
        devices::SerialPort unused;
        dialogs::RecordingMessages shown;
        QVERIFY(!kiosk::PrintKioskTicket(unused));
        QCOMPARE(shown.shown.size(), std::size_t(1));
        QCOMPARE(shown.last().caption, std::string("Printer Error"));
        QCOMPARE(shown.last().line1, std::string("The ticket printer cannot be opened."));
        QVERIFY(!QFile::exists(QString::fromStdString(lptDevice)));
    }
};

QTEST_GUILESS_MAIN(TestPrintoutDevices)
#include "test_printout_devices.moc"

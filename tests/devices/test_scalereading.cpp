// The scale indicator's reading: frames, overloads, unit letters, the
// freshness check, and frames arriving through a real pseudo-terminal on a
// port set up as the scale port.

#include "devices/ScaleReading.h"

#include "Pty.h"
#include "devices/SerialPort.h"

#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

using devices::ScaleReadingState;

namespace {

ScaleReadingState parsed(std::string_view bytes)
{
    ScaleReadingState r;
    devices::ParseScaleBytes(bytes, r);
    return r;
}

}  // namespace

class TestScaleReading : public QObject {
    Q_OBJECT

private slots:
    void init() { devices::ResetScaleReading(); }

    void framesGiveWeightAndUnit_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("weight");
        QTest::newRow("blanks and kg") << QByteArray("\x02  1234 kg\r") << "K" << "1234";
        QTest::newRow("leading zeros kept") << QByteArray("\x02" "001234K\r") << "K" << "001234";
        QTest::newRow("decimal point dropped") << QByteArray("\x02" "12.34\r") << "" << "1234";
        QTest::newRow("negative, KG") << QByteArray("\x02-50KG\r") << "K" << "-50";
        QTest::newRow("pounds") << QByteArray("\x02 26455 lb\r") << "L" << "26455";
        QTest::newRow("plus and LF ignored") << QByteArray("\x02+ 800 K\r\n") << "K" << "800";
        QTest::newRow("STX restarts a frame") << QByteArray("\x02 99\x02 12K\r") << "K" << "12";
        QTest::newRow("digits before STX ignored") << QByteArray("777\x02 5K\r") << "K" << "5";
        QTest::newRow("empty frame") << QByteArray("\x02K\r") << "K" << "";
    }
    void framesGiveWeightAndUnit()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, unit);
        QFETCH(QString, weight);
        const ScaleReadingState r = parsed(bytes.toStdString());
        QCOMPARE(QString::fromStdString(r.unit), unit);
        QCOMPARE(QString::fromStdString(r.weight), weight);
        QVERIFY(r.fresh);
        QVERIFY(!r.inFrame);
    }

    void overloadInvalidatesTheReading()
    {
        ScaleReadingState r = parsed("\x02 12000K\r");
        QCOMPARE(r.unit, std::string("K"));
        r.fresh = false;
        devices::ParseScaleBytes("\x02------KG\r", r);
        QCOMPARE(r.unit, std::string("X"));
        QCOMPARE(r.weight, std::string("12000"));  // kept, not used while the unit is X
        QVERIFY(!r.fresh);
        // Three minus signs anywhere in the frame.
        ScaleReadingState s = parsed("\x02" "1---2K\r");
        QCOMPARE(s.unit, std::string("X"));
        QCOMPARE(parsed("\x02--5K\r").unit, std::string("K"));  // two are a minus sign

        // The next valid frame brings the reading back.
        devices::ParseScaleBytes("\x02 9000K\r", r);
        QCOMPARE(r.unit, std::string("K"));
        QCOMPARE(r.weight, std::string("9000"));
        QVERIFY(r.fresh);
    }

    void unitAndWeightOfOneFrameGoTogether()
    {
        // A consumer may look between two data events. Half a frame must not
        // pair its unit letter with the previous frame's weight.
        ScaleReadingState r = parsed("\x02 26455L\r");
        devices::ParseScaleBytes("\x02 12000K", r);
        QCOMPARE(r.unit, std::string("L"));
        QCOMPARE(r.weight, std::string("26455"));
        devices::ParseScaleBytes("\r", r);
        QCOMPARE(r.unit, std::string("K"));
        QCOMPARE(r.weight, std::string("12000"));

        // After an overload, half of the next frame does not bring back the
        // old weight as a kilogram reading.
        devices::ParseScaleBytes("\x02---K\r\x02 500K", r);
        QCOMPARE(r.unit, std::string("X"));

        // A unit letter outside any frame is the unit at once.
        ScaleReadingState u = parsed("\x02 700\rL");
        QCOMPARE(u.unit, std::string("L"));
        QCOMPARE(u.weight, std::string("700"));
    }

    void framesSplitAcrossEventsAreAssembled()
    {
        const std::string stream = "\x02  01234 KG\r\n\x02  01240 KG\r\n";
        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            ScaleReadingState r;
            devices::ParseScaleBytes(stream.substr(0, cut), r);
            devices::ParseScaleBytes(stream.substr(cut), r);
            QCOMPARE(r.weight, std::string("01240"));
            QCOMPARE(r.unit, std::string("K"));
        }
        // Byte by byte.
        ScaleReadingState r;
        for (char c : stream)
            devices::ParseScaleBytes(std::string_view(&c, 1), r);
        QCOMPARE(r.weight, std::string("01240"));
    }

    void aCrOutsideAFrameRenewsNothing()
    {
        ScaleReadingState r = parsed("\x02 1234K\r");
        devices::CheckScaleFreshness(r);  // fresh cleared, reading kept
        QVERIFY(!r.fresh);
        devices::ParseScaleBytes("\r\r 5678 K\r", r);
        QCOMPARE(r.weight, std::string("1234"));
        QVERIFY(!r.fresh);  // no frame came, so the next check invalidates
        devices::CheckScaleFreshness(r);
        QCOMPARE(r.unit, std::string("X"));
        QCOMPARE(r.weight, std::string());
    }

    void freshnessCheck()
    {
        ScaleReadingState r = parsed("\x02 1234K\r");
        devices::CheckScaleFreshness(r);
        QCOMPARE(r.unit, std::string("K"));
        QCOMPARE(r.weight, std::string("1234"));
        QVERIFY(!r.fresh);
        devices::ParseScaleBytes("\x02 1300K\r", r);
        devices::CheckScaleFreshness(r);
        QCOMPARE(r.weight, std::string("1300"));
        // The indicator falls silent: the next tick without a frame.
        devices::CheckScaleFreshness(r);
        QCOMPARE(r.unit, std::string("X"));
        QCOMPARE(r.weight, std::string());

        // Before any frame at all: the first tick makes it invalid.
        ScaleReadingState empty;
        devices::CheckScaleFreshness(empty);
        QCOMPARE(empty.unit, std::string("X"));
    }

    void endlessGarbageDoesNotGrowTheBuffer()
    {
        ScaleReadingState r = parsed("\x02 4321K\r");
        std::string noise(1 << 20, '7');
        noise[0] = 0x02;
        devices::ParseScaleBytes(noise, r);
        QVERIFY(r.frameBuffer.size() <= devices::kMaxScaleFrame);
        QVERIFY(r.frameBuffer.capacity() <= 2 * devices::kMaxScaleFrame);
        // The abandoned frame's end gives no reading.
        devices::ParseScaleBytes("K\r", r);
        QCOMPARE(r.weight, std::string("4321"));
        // The next frame is read again.
        devices::ParseScaleBytes("\x02 4400K\r", r);
        QCOMPARE(r.weight, std::string("4400"));
        QCOMPARE(r.unit, std::string("K"));

        // A frame at the bound itself is still whole.
        ScaleReadingState full;
        devices::ParseScaleBytes("\x02" + std::string(devices::kMaxScaleFrame, '1') + "K\r", full);
        QCOMPARE(full.weight.size(), devices::kMaxScaleFrame);
    }

    // How long the frames have agreed: each frame timed as it comes (ms),
    // then the steadiness asked at `now`. "-" marks an overload frame, "L"
    // a frame in pounds, "tick" the freshness check, "?" the answer.
    void steadiness_data()
    {
        QTest::addColumn<QStringList>("frames");  // "at:weight"
        QTest::addColumn<int>("now");
        QTest::addColumn<int>("steady");
        QTest::newRow("one frame") << QStringList {"0:1200"} << 0 << 0;
        QTest::newRow("agreeing frames") << QStringList {"0:1200", "250:1200", "500:1200", "1000:1200"} << 1000 << 1000;
        QTest::newRow("leading zeros are another text") << QStringList {"0:1200", "500:001200"} << 500 << 0;
        QTest::newRow("a change starts again") << QStringList {"0:1200", "500:1220", "900:1220"} << 900 << 400;
        QTest::newRow("back to an earlier weight starts again")
            << QStringList {"0:1200", "300:1220", "600:1200", "900:1200"} << 900 << 300;
        QTest::newRow("an overload ends the run") << QStringList {"0:1200", "500:-", "700:1200"} << 700 << 0;
        QTest::newRow("after an overload, no run") << QStringList {"0:1200", "500:-"} << 500 << -1;
        QTest::newRow("pounds start again") << QStringList {"0:1200", "500:L1200", "800:L1200"} << 800 << 300;
        QTest::newRow("stale: the indicator stopped") << QStringList {"0:1200", "1000:1200"} << 3001 << -1;
        QTest::newRow("not yet stale") << QStringList {"0:1200", "1000:1200"} << 3000 << 1000;
        QTest::newRow("the freshness check ends it") << QStringList {"0:1200", "100:tick", "200:tick"} << 200 << -1;
        QTest::newRow("nothing yet") << QStringList {} << 0 << -1;
    }
    void steadiness()
    {
        QFETCH(QStringList, frames);
        QFETCH(int, now);
        QFETCH(int, steady);
        ScaleReadingState r;
        for (const QString& f : frames) {
            const long long at = f.section(':', 0, 0).toLongLong();
            const QString w = f.section(':', 1);
            if (w == "tick")
                devices::CheckScaleFreshness(r);
            else if (w == "-")
                devices::ParseScaleBytes("\x02---K\r", r, at);
            else if (w.startsWith('L'))
                devices::ParseScaleBytes("\x02" + w.mid(1).toStdString() + "L\r", r, at);
            else
                devices::ParseScaleBytes("\x02" + w.toStdString() + "K\r", r, at);
        }
        QCOMPARE(devices::steadyForMs(r, now), (long long)steady);
    }

    void framesThroughTheScalePort()
    {
        testsupport::Pty pty;
        QVERIFY(pty.ok());
        const int slave = pty.slave;
        const std::string name = pty.name;

        devices::SerialPort port;
        devices::configureScalePort(port, 4);
        port.setDeviceName(name);
        connect(&port, &devices::SerialPort::dataAvailable,
                [&](int count) { devices::ParseScaleData(port, count); });
        QVERIFY2(port.open(), port.lastError().c_str());
        termios t {};
        ::tcgetattr(slave, &t);
        QVERIFY(!(t.c_iflag & IXON));  // or the driver would eat every STX
        QVERIFY(t.c_iflag & IXOFF);
        QCOMPARE(int(t.c_cc[VSTART]), 0x02);
        QCOMPARE(int(t.c_cc[VSTOP]), 0x13);
        QCOMPARE(int(cfgetospeed(&t)), int(B1200));

        const std::string frames = "\x02  12345 KG\r\n\x02  12350";
        QVERIFY(pty.send(frames));
        QTRY_COMPARE_WITH_TIMEOUT(devices::ScaleReading().weight, std::string("12345"), 5000);
        QCOMPARE(devices::ScaleReading().unit, std::string("K"));
        QVERIFY(pty.send(" KG\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(devices::ScaleReading().weight, std::string("12350"), 5000);
        port.close();
    }
};

QTEST_GUILESS_MAIN(TestScaleReading)
#include "test_scalereading.moc"

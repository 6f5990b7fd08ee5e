// The kiosk's scale check: the message a reading that cannot be used shows,
// and the weight of one that can.

#include "kiosk/ScaleCheck.h"

#include "dialogs/MessageSeam.h"

#include <QTest>

using devices::ScaleReadingState;

namespace {

ScaleReadingState parsed(std::string_view bytes)
{
    ScaleReadingState r;
    devices::ParseScaleBytes(bytes, r);
    return r;
}

}  // namespace

class TestScaleCheck : public QObject {
    Q_OBJECT
private slots:
    void scaleCheck_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<bool>("material");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("line1");
        QTest::addColumn<QString>("line2");
        const int invalid = int(devices::ScaleStatus::kInvalid);
        const int mismatch = int(devices::ScaleStatus::kUnitMismatch);
        QTest::newRow("X") << "X" << false << invalid << "Scale Indicator Error!" << "Unable to read the weight.";
        QTest::newRow("X on material") << "X" << true << invalid << "Scale Indicator Error!"
                                       << "Unable to read the weight.";
        QTest::newRow("empty") << "" << false << mismatch << "Unit mis-matched!"
                               << "Please set the Unit of the Scale to \"kg\"";
        QTest::newRow("L") << "L" << false << mismatch << "Unit mis-matched!"
                           << "Please set the Unit of the Scale to \"kg\"";
        QTest::newRow("L on material") << "L" << true << mismatch << "Unit mis-matched!"
                                       << "Please set the Unit of the Scale to \"kg\",";
    }
    void scaleCheck()
    {
        QFETCH(QString, unit);
        QFETCH(bool, material);
        QFETCH(int, status);
        QFETCH(QString, line1);
        QFETCH(QString, line2);
        ScaleReadingState r;
        r.unit = unit.toStdString();
        r.weight = "1234";
        dialogs::RecordingMessages shown;
        std::string weight = "untouched";
        const auto screen = material ? devices::ScaleCheckScreen::kMaterial : devices::ScaleCheckScreen::kStandard;
        QVERIFY(!kiosk::CheckScaleReading(weight, screen, r));
        QCOMPARE(weight, std::string("untouched"));
        QCOMPARE(int(devices::CheckScale(r, screen).status), status);
        QCOMPARE(shown.shown.size(), std::size_t(1));
        QCOMPARE(shown.last().caption, std::string("Weigh Scale Error"));
        QCOMPARE(QString::fromStdString(shown.last().line1), line1);
        QCOMPARE(QString::fromStdString(shown.last().line2), line2);
        QCOMPARE(shown.last().kind, int(dialogs::kError));
        QCOMPARE(shown.last().buttons, int(dialogs::kOk));
    }

    void validReadingGivesItsWeightWithoutAMessage()
    {
        ScaleReadingState r = parsed("\x02 005678K\r");
        dialogs::RecordingMessages shown;
        std::string weight;
        QVERIFY(kiosk::CheckScaleReading(weight, devices::ScaleCheckScreen::kStandard, r));
        QCOMPARE(weight, std::string("005678"));
        QVERIFY(shown.shown.empty());
        // Empty weight is still valid: the consumer decides.
        ScaleReadingState e = parsed("\x02K\r");
        QVERIFY(kiosk::CheckScaleReading(weight, devices::ScaleCheckScreen::kStandard, e));
        QCOMPARE(weight, std::string());
    }

    // A weight for a ticket: the reading judged with the steadiness asked.
    // The frames came at 0 and 500 ms (the second one's weight given, the
    // first the same or, with "moving", another).
    void judgeWeight_data()
    {
        QTest::addColumn<QByteArray>("frame");  // the latest frame's body
        QTest::addColumn<bool>("moving");
        QTest::addColumn<int>("steadyMs");
        QTest::addColumn<int>("now");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("result");  // the weight, or the message's first line
        const int take = int(kiosk::WeightVerdict::kTake), wait = int(kiosk::WeightVerdict::kWait),
                  empty = int(kiosk::WeightVerdict::kEmpty), refuse = int(kiosk::WeightVerdict::kRefuse);
        const QString scale = "Scale Indicator Error!";
        QTest::newRow("steady") << QByteArray(" 14020K") << false << 500 << 500 << take << "14020";
        QTest::newRow("leading zeros kept") << QByteArray("008760K") << false << 500 << 500 << take << "008760";
        QTest::newRow("not steady long enough") << QByteArray(" 14020K") << false << 501 << 501 << wait << "";
        QTest::newRow("moving") << QByteArray(" 14020K") << true << 500 << 500 << wait << "";
        QTest::newRow("moving, check off") << QByteArray(" 14020K") << true << 0 << 500 << take << "14020";
        QTest::newRow("steady but stale") << QByteArray(" 14020K") << false << 500 << 2600 << wait << "";
        QTest::newRow("zero") << QByteArray("      0K") << false << 500 << 500 << refuse << scale;
        QTest::newRow("zero, check off") << QByteArray("      0K") << false << 0 << 500 << refuse << scale;
        QTest::newRow("below zero") << QByteArray("    -40K") << false << 0 << 500 << refuse << scale;
        QTest::newRow("zero still moving waits") << QByteArray("      0K") << true << 500 << 500 << wait << "";
        QTest::newRow("garbled") << QByteArray("  12-3K") << false << 500 << 500 << refuse << scale;
        QTest::newRow("no digits") << QByteArray("K") << false << 500 << 500 << empty << "";
        QTest::newRow("pounds") << QByteArray(" 14020L") << false << 500 << 500 << refuse << "Unit mis-matched!";
        QTest::newRow("overload") << QByteArray("---K") << false << 500 << 500 << refuse << scale;
    }
    void judgeWeight()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, moving);
        QFETCH(int, steadyMs);
        QFETCH(int, now);
        QFETCH(int, verdict);
        QFETCH(QString, result);
        ScaleReadingState r;
        devices::ParseScaleBytes(moving ? std::string("\x02 99K\r") : "\x02" + frame.toStdString() + "\r", r, 0);
        devices::ParseScaleBytes("\x02" + frame.toStdString() + "\r", r, 500);
        const kiosk::WeightJudgement j =
            kiosk::judgeWeight(r, devices::ScaleCheckScreen::kMaterial, steadyMs, now);
        QCOMPARE(int(j.verdict), verdict);
        QCOMPARE(QString::fromStdString(verdict == int(kiosk::WeightVerdict::kRefuse) ? j.refusal.line1 : j.weight),
                 result);
    }
};

QTEST_GUILESS_MAIN(TestScaleCheck)
#include "test_scalecheck.moc"

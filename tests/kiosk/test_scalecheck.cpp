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

};

QTEST_GUILESS_MAIN(TestScaleCheck)
#include "test_scalecheck.moc"

// The swipe screen's failure paths, through the real screen with the card
// reader and the scale on pseudo-terminals: unknown cards, scale errors,
// garbled and empty weights at an outbound swipe, each of which empties the
// swipe box; a scale that falls silent; lines that arrive while another
// screen shows; start-up without a scale port or without setup.ini.

#include "TestSupport.h"

#include "KioskSite.h"

#include <QLabel>
#include <QPlainTextEdit>
#include "kiosk/KioskFlow.h"

#include <QtTest>

using namespace kiosktest;

namespace {

const QStringList kUnknownCard {"Card Error", "Invalid Swipe Card!", "", "error", "OK"};
const QStringList kUnitMismatch {"Weigh Scale Error", "Unit mis-matched!", "Please set the Unit of the Scale to \"kg\"",
                                 "error", "OK"};
const QStringList kScaleError {"Weigh Scale Error", "Scale Indicator Error!", "Unable to read the weight.", "error",
                               "OK"};
const QStringList kNoScalePort {"Unable to read the scale!", "Hardware setting is not available.", "", "error",
                                "OK"};

}  // namespace

class TestKioskSwipe : public QObject {
    Q_OBJECT

private slots:
    void unknownCards();
    void scaleErrorsEmptyTheSwipeText();
    void garbledWeightIsNoReading_data();
    void garbledWeightIsNoReading();
    void silentScaleGivesTheIndicatorError();
    void emptyWeightAsksForAnotherSwipe();
    void linesWhileAnotherScreenShowsAreDropped();
    void noScalePort_data();
    void noScalePort();
    void withoutSetupIni();
};

void TestKioskSwipe::unknownCards()
{
    Site site;
    site.writeStandard();
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();

    QVERIFY(site.swipeCard("9999"));
    QTRY_COMPARE(shown.shown.size(), std::size_t(1));
    QCOMPARE(texts(shown.last()), kUnknownCard);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QCOMPARE(Site::showing(), swipe);

    // A keyboard-type reader, and a card number that only starts like a customer's.
    typeSwipe(swipe, "10011");
    QCOMPARE(shown.shown.size(), std::size_t(2));
    QCOMPARE(texts(shown.last()), kUnknownCard);
    QCOMPARE(swipe->txtSwipe->text(), QString());

    // Enter on an empty box is no card either.
    QTest::keyClick(swipe->txtSwipe, Qt::Key_Return);
    QCOMPARE(shown.shown.size(), std::size_t(3));
    QCOMPARE(texts(shown.last()), kUnknownCard);

    // A line without CR is written into the box but is no swipe.
    QVERIFY(site.card.send("1001\n"));
    QVERIFY(site.cardTaken());
    QCOMPARE(swipe->txtSwipe->text(), QString("1001"));
    QCOMPARE(shown.shown.size(), std::size_t(3));
    QCOMPARE(Site::showing(), swipe);

    // A line split over several writes is one swipe.
    QVERIFY(site.card.send("10"));
    QVERIFY(site.cardTaken());
    QVERIFY(site.card.send("02\r"));
    QVERIFY(site.cardTaken());
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(site.card.send("\n"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    QCOMPARE(kiosk::Flow().license->txtCust->text(), QString("BLUE RIVER AGGREGATES"));
    QCOMPARE(shown.shown.size(), std::size_t(3));
}

void TestKioskSwipe::scaleErrorsEmptyTheSwipeText()
{
    Site site;
    site.writeStandard();
    site.writeOpenTicket(77, "ARDWICK HAULAGE", "BC12345", 14020);
    dialogs::RecordingMessages recorded;
    const std::vector<dialogs::Message>& shown = recorded.shown;
    TfrmSwipe* swipe = site.startKiosk();

    // No reading has come yet: no unit either.
    QVERIFY(site.swipeCard("1001"));
    QTRY_COMPARE(shown.size(), std::size_t(1));
    QCOMPARE(texts(shown.back()), kUnitMismatch);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QCOMPARE(Site::showing(), swipe);

    // The box is empty again, so the same card swiped again gets its answer.
    QVERIFY(site.swipeCard("1001"));
    QTRY_COMPARE(shown.size(), std::size_t(2));
    QCOMPARE(texts(shown.back()), kUnitMismatch);
    QCOMPARE(swipe->txtSwipe->text(), QString());

    // Pounds, by keyboard: the typed number is not kept either.
    QVERIFY(site.weigh("9000", 'L'));
    typeSwipe(swipe, "1001");
    QCOMPARE(shown.size(), std::size_t(3));
    QCOMPARE(texts(shown.back()), kUnitMismatch);
    QCOMPARE(swipe->txtSwipe->text(), QString());

    // Overload: the reading is invalid; by keyboard, then by card.
    QVERIFY(site.weigh("---"));
    typeSwipe(swipe, "1001");
    QCOMPARE(shown.size(), std::size_t(4));
    QCOMPARE(texts(shown.back()), kScaleError);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QVERIFY(site.swipeCard("1001"));
    QTRY_COMPARE(shown.size(), std::size_t(5));
    QCOMPARE(texts(shown.back()), kScaleError);
    QCOMPARE(swipe->txtSwipe->text(), QString());

    // Nothing was stored or printed, and the ticket is still open.
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(!kiosk::Flow().outbound);
    auto open = Site::rows(site.db("ticket.dbf"));
    QCOMPARE(open.size(), std::size_t(1));
    QCOMPARE(open[0]["ticket"], std::string("77"));
    QCOMPARE(QDir(site.db("")).entryList({"???[0-9][0-9][0-9][0-9].dbf"}, QDir::Files), QStringList());
    QCOMPARE(site.printer.received(50), std::string());

    // Once the scale reads again the same card, swiped the same way, goes out.
    QVERIFY(site.weigh("8000"));
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().outbound && Site::showing() == kiosk::Flow().outbound);
    QCOMPARE(kiosk::Flow().outbound->txtNet->text(), QString("6020"));
    QTRY_COMPARE(kiosk::Flow().outbound->printed, 2);
    QCOMPARE(shown.size(), std::size_t(5));
}

void TestKioskSwipe::garbledWeightIsNoReading_data()
{
    // Frames in kilograms whose weight characters make no whole number.
    QTest::addColumn<QString>("weight");
    QTest::newRow("minus inside") << "12-3";
    QTest::newRow("minus alone") << "-";
    QTest::newRow("two minus signs") << "--";
    QTest::newRow("minus after") << "5-";
    QTest::newRow("minus twice before") << "--5";
    QTest::newRow("eleven digits") << "12345678901";
}

void TestKioskSwipe::garbledWeightIsNoReading()
{
    QFETCH(QString, weight);
    Site site;
    site.writeStandard({0, 1, 1});
    site.writeOpenTicket(77, "ARDWICK HAULAGE", "BC12345", 14020);
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.weigh(weight.toStdString()));
    QCOMPARE(devices::ScaleReading().unit, std::string("K"));

    // By card and by keyboard: the scale's message, and the swipe screen stays.
    QVERIFY(site.swipeCard("1001"));
    QTRY_COMPARE(shown.shown.size(), std::size_t(1));
    QCOMPARE(texts(shown.last()), kScaleError);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    typeSwipe(swipe, "1001");
    QCOMPARE(shown.shown.size(), std::size_t(2));
    QCOMPARE(texts(shown.last()), kScaleError);
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(!kiosk::Flow().outbound);
    QVERIFY(!kiosk::Flow().instructions);

    // Nothing completed or printed; the ticket stays open for this truck.
    auto open = Site::rows(site.db("ticket.dbf"));
    QCOMPARE(open.size(), std::size_t(1));
    QCOMPARE(open[0]["ticket"], std::string("77"));
    QCOMPARE(QDir(site.db("")).entryList({"???[0-9][0-9][0-9][0-9].dbf"}, QDir::Files), QStringList());
    QCOMPARE(site.printer.received(50), std::string());

    // A good frame: the same card completes the visit.
    QVERIFY(site.weigh("8000"));
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().outbound && Site::showing() == kiosk::Flow().outbound);
    QTRY_COMPARE(kiosk::Flow().outbound->printed, 2);
    QCOMPARE(kiosk::Flow().outbound->txtNet->text(), QString("6020"));
    QCOMPARE(shown.shown.size(), std::size_t(2));
}

void TestKioskSwipe::silentScaleGivesTheIndicatorError()
{
    // The freshness check runs every 5000 ms from the start. Its interval is
    // shortened here; each tick is counted as it happens, so the test knows
    // how many periods of silence have passed.
    Site site;
    site.writeStandard();
    site.writeOpenTicket(77, "ARDWICK HAULAGE", "BC12345", 14020);
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(swipe->Timer1->isActive());
    QCOMPARE(swipe->Timer1->interval(), 5000);

    int ticks = 0;
    QString unitAtFirstTick;
    connect(swipe->Timer1, &QTimer::timeout, this, [&] {
        if (++ticks == 1)
            unitAtFirstTick = QString::fromStdString(devices::ScaleReading().unit);
    });
    QVERIFY(site.weigh("9000"));
    swipe->Timer1->setInterval(100);  // restarts it: the frame came within this period
    // The first tick after the frame finds it; the second finds silence.
    QTRY_VERIFY(ticks >= 2);
    QCOMPARE(unitAtFirstTick, QString("K"));
    QCOMPARE(devices::ScaleReading().unit, std::string("X"));
    QCOMPARE(devices::ScaleReading().weight, std::string());

    QVERIFY(site.swipeCard("1001"));
    QTRY_COMPARE(shown.shown.size(), std::size_t(1));
    QCOMPARE(texts(shown.last()), kScaleError);
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(!kiosk::Flow().outbound);
    QCOMPARE(Site::rows(site.db("ticket.dbf")).size(), std::size_t(1));

    // Frames again, at the real interval: the card goes out.
    swipe->Timer1->setInterval(5000);
    QVERIFY(site.weigh("8000"));
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().outbound && Site::showing() == kiosk::Flow().outbound);
    QCOMPARE(kiosk::Flow().outbound->txtNet->text(), QString("6020"));
}

void TestKioskSwipe::emptyWeightAsksForAnotherSwipe()
{
    Site site;
    site.writeStandard();
    site.writeOpenTicket(77, "ARDWICK HAULAGE", "BC12345", 14020);
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.weigh(""));  // a frame in kilograms without digits
    QCOMPARE(devices::ScaleReading().unit, std::string("K"));

    QVERIFY(site.swipeCard("1001"));
    QTRY_COMPARE(shown.shown.size(), std::size_t(1));
    QCOMPARE(texts(shown.last()), (QStringList {"Weight Error", "Please swipe the card again.", "", "error", "OK"}));
    QCOMPARE(swipe->txtSwipe->text(), QString());

    typeSwipe(swipe, "1001");
    QCOMPARE(shown.shown.size(), std::size_t(2));
    QCOMPARE(texts(shown.last()), (QStringList {"Weight Error", "Please Swipe the card again.", "", "error", "OK"}));
    QCOMPARE(swipe->txtSwipe->text(), QString());

    QCOMPARE(Site::showing(), swipe);
    QVERIFY(!kiosk::Flow().outbound);
    QCOMPARE(Site::rows(site.db("ticket.dbf")).size(), std::size_t(1));
    QCOMPARE(site.printer.received(50), std::string());
}

void TestKioskSwipe::linesWhileAnotherScreenShowsAreDropped()
{
    Site site;
    site.writeStandard({0, 0, 1});
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.weigh("12000"));

    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    // Another driver swipes while the plate is being typed.
    QVERIFY(site.swipeCard("1002"));
    QVERIFY(site.cardTaken());
    QCOMPARE(Site::showing(), kiosk::Flow().license);
    QCOMPARE(kiosk::CurrentTicket().customer, std::string("ARDWICK HAULAGE"));
    typePlate(kiosk::Flow().license, "BC1");

    // ... and while the material screen shows.
    QCOMPARE(Site::showing(), kiosk::Flow().material);
    QVERIFY(site.swipeCard("1002"));
    QVERIFY(site.cardTaken());
    QCOMPARE(Site::showing(), kiosk::Flow().material);
    QCOMPARE(kiosk::CurrentTicket().customer, std::string("ARDWICK HAULAGE"));
    QTest::mouseClick(kiosk::Flow().material->cmdMat[0], Qt::LeftButton);

    // ... and while the instructions show.
    QCOMPARE(Site::showing(), kiosk::Flow().instructions);
    QVERIFY(site.swipeCard("1002"));
    QVERIFY(site.cardTaken());
    QCOMPARE(Site::showing(), kiosk::Flow().instructions);
    QTRY_COMPARE_WITH_TIMEOUT(Site::showing(), static_cast<KioskScreen*>(swipe), 5000);

    // None of them was kept for later.
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QTest::qWait(50);
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(shown.shown.empty());
    QCOMPARE(Site::rows(site.db("ticket.dbf")).size(), std::size_t(1));

    // The next swipe on the swipe screen works.
    QVERIFY(site.swipeCard("1002"));
    QTRY_VERIFY(Site::showing() == kiosk::Flow().license);
    QCOMPARE(kiosk::Flow().license->txtCust->text(), QString("BLUE RIVER AGGREGATES"));
}

void TestKioskSwipe::noScalePort_data()
{
    QTest::addColumn<QString>("scalport");
    QTest::addColumn<bool>("setupTable");
    QTest::newRow("blank") << "" << true;
    QTest::newRow("not a number") << "x" << true;
    QTest::newRow("no setup.dbf") << "" << false;
}

void TestKioskSwipe::noScalePort()
{
    QFETCH(QString, scalport);
    QFETCH(bool, setupTable);
    Site site;
    site.writeStandard();
    if (setupTable)
        site.writeSetup(scalport.toStdString(), "3", "1");
    else
        QVERIFY(QFile::remove(site.path("setup.dbf")));
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();

    QCOMPARE(shown.shown.size(), std::size_t(1));
    QCOMPARE(texts(shown.last()), kNoScalePort);
    QCOMPARE(kiosk::KioskSettings().scalePort, 0);
    // Shown, the screen opens port 1, its design value; here that is the scale.
    QVERIFY(swipe->comOutWeigh->isOpen());
    QCOMPARE(swipe->comOutWeigh->portNumber(), 1);
    QVERIFY(site.weigh("4321"));
    QVERIFY(swipe->comCard->isOpen());
    QCOMPARE(shown.shown.size(), std::size_t(1));
}

void TestKioskSwipe::withoutSetupIni()
{
    // No instruction lines, no time-outs and no [Ports]: the devices are
    // named by the test's own lookup here.
    Site site;
    site.writeStandard();
    QVERIFY(QFile::remove(site.path("setup.ini")));
    site.writeOpenTicket(77, "BLUE RIVER AGGREGATES", "TRK9", 9000);
    devices::setPortNameSource([&site](const std::string& key) {
        if (key == "com1")
            return site.linkOf("scale");
        if (key == "com2")
            return site.linkOf("card");
        if (key == "com3")
            return site.linkOf("printer");
        return site.linkOf("none");
    });
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    const kiosk::Settings& s = kiosk::KioskSettings();
    QVERIFY(s.inboundLines.empty());
    QVERIFY(s.outboundLines.empty());
    // The default steadiness: a weight is taken once the frames have agreed
    // for a second.
    QCOMPARE(s.steadyMs, 1000);
    QVERIFY(site.stream("15000"));

    // The outbound screen has no other way out: it moves on after its
    // time-out for none.
    QVERIFY(site.swipeCard("1002"));
    QTRY_VERIFY(kiosk::Flow().outbound && Site::showing() == kiosk::Flow().outbound);
    QTRY_COMPARE(kiosk::Flow().outbound->printed, 2);
    QVERIFY(kiosk::Flow().outbound->timerDisplay->isActive());
    QCOMPARE(kiosk::Flow().outbound->timerDisplay->interval(), kiosk::kOutboundSecondsWithoutTimeout * 1000);

    // A new run of the kiosk: the licence screen has no timer (it has its
    // way back), and the inbound instructions are an empty text.
    site.closeSwipe();
    swipe = site.startKiosk();
    QVERIFY(site.stream("11000"));
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    QVERIFY(!kiosk::Flow().license->timerBack->isActive());
    typePlate(kiosk::Flow().license, "X1");
    QTest::mouseClick(kiosk::Flow().material->cmdMat[1], Qt::LeftButton);
    QTRY_VERIFY(kiosk::Flow().instructions);
    QCOMPARE(Site::showing(), kiosk::Flow().instructions);
    QCOMPARE(kiosk::Flow().instructions->memoInst->toPlainText(), QString());
    QVERIFY(kiosk::Flow().instructions->timerDisplay->isActive());
    QCOMPARE(kiosk::Flow().instructions->timerDisplay->interval(), kiosk::kInstructionsSecondsWithoutTimeout * 1000);
    QVERIFY(shown.shown.empty());
}

QTEST_MAIN(TestKioskSwipe)
#include "test_kiosk_swipe.moc"

// The outbound screen when the ticket cannot be completed: its message, no
// ticket printed, no instructions to take one, and the swipe screen again
// with the ticket still open; and card lines while the screen shows.

#include "TestSupport.h"

#include "KioskSite.h"
#include "kiosk/uDB.h"

#include <QLabel>
#include "kiosk/KioskFlow.h"

#include <QtTest>

using namespace kiosktest;

namespace {

const xb::LocalTime kOut {2026, 12, 9, 16, 40, 0};

// Another message handler for the time of a test.
struct MessageHandlerScope {
    explicit MessageHandlerScope(dialogs::MessageHandler h) : previous(dialogs::setMessageHandler(std::move(h))) {}
    ~MessageHandlerScope() { dialogs::setMessageHandler(std::move(previous)); }
    dialogs::MessageHandler previous;
};

}  // namespace

class TestKioskOutbound : public QObject {
    Q_OBJECT

private slots:
    void refusedCompletion_data();
    void refusedCompletion();
    void linesWhileTheOutboundScreenShowsAreDropped();
};

void TestKioskOutbound::refusedCompletion_data()
{
    QTest::addColumn<long>("ticket");
    QTest::addColumn<QString>("outWeight");
    QTest::addColumn<bool>("byHand");  // the visit set up without a swipe
    QTest::addColumn<bool>("dayTableBlocked");
    QTest::addColumn<QStringList>("message");
    QTest::addColumn<int>("answerAfterMs");  // how long the message stays
    // A number the store refuses: the open ticket cannot be found by it.
    QTest::newRow("not found") << 0L << "12000" << false << false
                               << QStringList {"Ticket Error", "The open ticket was not found.",
                                               "Please see the scale office."}
                               << 0;
    // The swipe lets no such weight through; the screen refuses it too.
    QTest::newRow("bad weight") << 77L << "12-3" << true << false
                                << QStringList {"Weigh Scale Error", "Scale Indicator Error!",
                                                "Unable to read the weight."}
                                << 0;
    // The day's table cannot be written.
    const QStringList notSaved {"Ticket Error", "The ticket could not be completed; it stays open.",
                                "Please see the scale office."};
    QTest::newRow("not saved") << 77L << "12000" << false << true << notSaved << 0;
    // The outbound time-out (1 s) passes while the message shows.
    QTest::newRow("not saved, answered late") << 77L << "12000" << false << true << notSaved << 1500;
}

void TestKioskOutbound::refusedCompletion()
{
    QFETCH(long, ticket);
    QFETCH(QString, outWeight);
    QFETCH(bool, byHand);
    QFETCH(bool, dayTableBlocked);
    QFETCH(QStringList, message);
    QFETCH(int, answerAfterMs);
    Site site;
    site.writeStandard({0, 1, 1});
    site.writeOpenTicket(ticket, "ARDWICK HAULAGE", "BC12345", 9000);
    xb::setClockSource([] { return kOut; });
    const QString day = site.db(QString::fromStdString(catalogue::dayTableName(xb::Date {2026, 12, 9})));
    if (dayTableBlocked)
        QVERIFY(QDir().mkpath(day));  // a directory where the table would be
    dialogs::RecordingMessages shown;
    MessageHandlerScope slow([&](const dialogs::Message& m) {
        shown.shown.push_back(m);
        QTest::qWait(answerAfterMs);
        return dialogs::Answer::kOk;
    });
    TfrmSwipe* swipe = site.startKiosk();

    if (byHand) {
        kiosk::CurrentTicket().customer = "ARDWICK HAULAGE";
        QVERIFY(kiosk::FindOpenTicket("ARDWICK HAULAGE"));
        kiosk::CurrentTicket().out_wgt = outWeight.toStdString();
        kiosk::Flow().weighOut();
    } else {
        QVERIFY(site.weigh(outWeight.toStdString()));
        QVERIFY(site.swipeCard("1001"));
    }
    QTRY_VERIFY(!shown.shown.empty());
    QCOMPARE(texts(shown.shown[0]).mid(0, 3), message);

    // Back to the swipe screen, without the instructions to take a ticket.
    QTRY_COMPARE(Site::showing(), static_cast<KioskScreen*>(swipe));
    QVERIFY(kiosk::Flow().outbound);
    QVERIFY(!kiosk::Flow().outbound->stored);
    QCOMPARE(kiosk::Flow().outbound->printed, 0);
    QVERIFY(!kiosk::Flow().outbound->timerDisplay->isActive());
    QVERIFY(!kiosk::Flow().instructions);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QCOMPARE(kiosk::CurrentTicket().customer, std::string());

    // Nothing printed; the ticket is still open.
    QCOMPARE(site.printer.received(50), std::string());
    auto open = Site::rows(site.db("ticket.dbf"));
    QCOMPARE(open.size(), std::size_t(1));
    QCOMPARE(open[0]["customer"], std::string("ARDWICK HAULAGE"));
    QCOMPARE(open[0]["complete"], std::string("F"));
    if (!dayTableBlocked)
        QVERIFY(!QFile::exists(day));
}

void TestKioskOutbound::linesWhileTheOutboundScreenShowsAreDropped()
{
    Site site;
    site.writeStandard({0, 0, 1});
    site.writeOpenTicket(77, "ARDWICK HAULAGE", "BC12345", 14020);
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.weigh("8000"));
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().outbound && Site::showing() == kiosk::Flow().outbound);
    QTRY_COMPARE(kiosk::Flow().outbound->printed, 2);

    // The next driver swipes, and the one who left swipes again.
    QVERIFY(site.swipeCard("1002"));
    QVERIFY(site.cardTaken());
    QVERIFY(site.swipeCard("1001"));
    QVERIFY(site.cardTaken());
    QCOMPARE(Site::showing(), kiosk::Flow().outbound);
    QVERIFY(!kiosk::Flow().license);
    QCOMPARE(swipe->txtSwipe->text(), QString("1001\r"));  // the swipe of this visit
    QCOMPARE(kiosk::CurrentTicket().customer, std::string());

    // The outbound screen has no time-out here: it stays, and the lines were
    // not kept for the swipe screen.
    kiosk::ShowSwipeScreen(kiosk::Flow().outbound);
    QCOMPARE(Site::showing(), swipe);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QTest::qWait(50);
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(!kiosk::Flow().license);
    QVERIFY(shown.shown.empty());
    QCOMPARE(QFile::exists(site.db("ticket.dbf")) ? Site::rows(site.db("ticket.dbf")).size() : 0, std::size_t(0));
}

QTEST_MAIN(TestKioskOutbound)
#include "test_kiosk_outbound.moc"

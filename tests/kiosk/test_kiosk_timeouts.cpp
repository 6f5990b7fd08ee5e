// The time-outs of setup.ini [Timer] on the real screens: a licence screen
// left while typing, the way back without a time-out, time-outs of 0, which
// give the screens no timer at all, and time-outs too long for a timer,
// which every screen holds to a day.

#include "TestSupport.h"

#include "KioskSite.h"

#include <QLabel>
#include <QPlainTextEdit>
#include "kiosk/KioskFlow.h"

#include <QtTest>

using namespace kiosktest;

class TestKioskTimeouts : public QObject {
    Q_OBJECT

private slots:
    void licenceTimesOutWhileTyping();
    void backToMainScreenWithoutTimeOut();
    void zeroTimeOutsHoldNoScreenWithoutAWayOut();
    void longTimeOutsHoldToADay_data();
    void longTimeOutsHoldToADay();
};

void TestKioskTimeouts::licenceTimesOutWhileTyping()
{
    Site site;
    site.writeStandard({1, 0, 0});
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    QVERIFY(kiosk::Flow().license->timerBack->isActive());
    typePlate(kiosk::Flow().license, "BC1", false);

    QTRY_COMPARE_WITH_TIMEOUT(Site::showing(), static_cast<KioskScreen*>(swipe), 5000);
    QVERIFY(!kiosk::Flow().license->timerBack->isActive());
    QCOMPARE(kiosk::CurrentTicket().customer, std::string());
    QCOMPARE(kiosk::CurrentTicket().truck, std::string());
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QVERIFY(!kiosk::Flow().material);
    QVERIFY(!QFile::exists(site.db("ticket.dbf")) || Site::rows(site.db("ticket.dbf")).empty());
    QCOMPARE(site.counter(), 500LL);
    QVERIFY(shown.shown.empty());

    // The next visit's licence screen has its own time, from its showing.
    QVERIFY(site.swipeCard("1002"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    QCOMPARE(kiosk::Flow().license->txtCust->text(), QString("BLUE RIVER AGGREGATES"));
    QCOMPARE(kiosk::Flow().license->txtLicense->text(), QString());
    QVERIFY(kiosk::Flow().license->timerBack->isActive());
}

void TestKioskTimeouts::backToMainScreenWithoutTimeOut()
{
    Site site;
    site.writeStandard({0, 0, 0});
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    QVERIFY(!kiosk::Flow().license->timerBack->isActive());
    typePlate(kiosk::Flow().license, "BC1", false);

    QTest::mouseClick(kiosk::Flow().license->cmdHome, Qt::LeftButton);
    QCOMPARE(Site::showing(), swipe);
    QCOMPARE(kiosk::CurrentTicket().customer, std::string());
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QVERIFY(shown.shown.empty());
}

void TestKioskTimeouts::zeroTimeOutsHoldNoScreenWithoutAWayOut()
{
    Site site;
    site.writeStandard({0, 0, 0});
    site.writeOpenTicket(77, "BLUE RIVER AGGREGATES", "TRK9", 9000);
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.weigh("12000"));

    // Inbound: the licence screen, which has its way back, has no timer; the
    // material screen and the instructions, which have none, take their
    // time-outs for none.
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    QVERIFY(!kiosk::Flow().license->timerBack->isActive());
    typePlate(kiosk::Flow().license, "BC1");
    QVERIFY(kiosk::Flow().material->timerBack->isActive());
    QCOMPARE(kiosk::Flow().material->timerBack->interval(), kiosk::kMaterialSecondsWithoutTimeout * 1000);
    QTest::mouseClick(kiosk::Flow().material->cmdMat[0], Qt::LeftButton);
    QCOMPARE(Site::showing(), kiosk::Flow().instructions);
    QVERIFY(kiosk::Flow().instructions->timerDisplay->isActive());
    QCOMPARE(kiosk::Flow().instructions->timerDisplay->interval(), kiosk::kInstructionsSecondsWithoutTimeout * 1000);

    // Outbound, in a new run: the outbound screen takes its time-out for none.
    site.closeSwipe();
    swipe = site.startKiosk();
    QVERIFY(site.weigh("15000"));
    QVERIFY(site.swipeCard("1002"));
    QTRY_VERIFY(kiosk::Flow().outbound && Site::showing() == kiosk::Flow().outbound);
    QTRY_COMPARE(kiosk::Flow().outbound->printed, 2);
    QVERIFY(kiosk::Flow().outbound->timerDisplay->isActive());
    QCOMPARE(kiosk::Flow().outbound->timerDisplay->interval(), kiosk::kOutboundSecondsWithoutTimeout * 1000);
    QCOMPARE(kiosk::Flow().outbound->txtNet->text(), QString("6000"));
    QVERIFY(shown.shown.empty());
}

void TestKioskTimeouts::longTimeOutsHoldToADay_data()
{
    QTest::addColumn<QByteArray>("seconds");
    QTest::addColumn<int>("interval");
    QTest::newRow("one second") << QByteArray("1") << 1000;
    QTest::newRow("a day") << QByteArray("86400") << 86400000;
    QTest::newRow("a day and a second") << QByteArray("86401") << 86400000;
    // 4294968 s in milliseconds is just past 2^32: 704 ms once it wraps.
    QTest::newRow("past 32 bits") << QByteArray("4294968") << 86400000;
    QTest::newRow("largest int") << QByteArray("2147483647") << 86400000;
    QTest::newRow("past int") << QByteArray("99999999999") << 86400000;
}

void TestKioskTimeouts::longTimeOutsHoldToADay()
{
    QFETCH(QByteArray, seconds);
    QFETCH(int, interval);
    Site site;
    site.writeStandard();
    site.writeOpenTicket(77, "BLUE RIVER AGGREGATES", "TRK9", 9000);
    QByteArray ini = "[Outbound]\r\nmsg1=Take your ticket.\r\n[Timer]\r\nlicense=" + seconds +
                     "\r\noutbound=" + seconds + "\r\ninstructions=" + seconds +
                     "\r\n[Scale]\r\nsteady=0\r\n[Ports]\r\ncom1=" +
                     QByteArray::fromStdString(site.linkOf("scale")) + "\r\ncom2=" +
                     QByteArray::fromStdString(site.linkOf("card")) + "\r\ncom3=" +
                     QByteArray::fromStdString(site.linkOf("printer")) + "\r\n";
    Site::writeFile(site.path("setup.ini"), ini);
    dialogs::RecordingMessages shown;
    site.startKiosk();
    QVERIFY(site.weigh("15000"));

    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    QVERIFY(kiosk::Flow().license->timerBack->isActive());
    QCOMPARE(kiosk::Flow().license->timerBack->interval(), interval);
    QTest::mouseClick(kiosk::Flow().license->cmdHome, Qt::LeftButton);

    QVERIFY(site.swipeCard("1002"));
    QTRY_VERIFY(kiosk::Flow().outbound && Site::showing() == kiosk::Flow().outbound);
    QVERIFY(kiosk::Flow().outbound->timerDisplay->isActive());
    QCOMPARE(kiosk::Flow().outbound->timerDisplay->interval(), interval);
    QTRY_COMPARE(kiosk::Flow().outbound->printed, 2);

    kiosk::Flow().showInstructions(false, kiosk::Flow().outbound);
    QCOMPARE(Site::showing(), kiosk::Flow().instructions);
    QVERIFY(kiosk::Flow().instructions->timerDisplay->isActive());
    QCOMPARE(kiosk::Flow().instructions->timerDisplay->interval(), interval);
    QVERIFY(shown.shown.empty());
}

QTEST_MAIN(TestKioskTimeouts)
#include "test_kiosk_timeouts.moc"

// Whole visits through the real kiosk screens: a truck weighed in and out
// with the card reader, the scale and the printer on pseudo-terminals, the
// plate typed on the on-screen keyboard and the material touched; what the
// tables hold and what the printer got afterwards. One visit runs with the
// real message box.

#include "TestSupport.h"

#include "KioskSite.h"
#include "dialogs/MessageSeam.h"
#include "dialogs/fMsgBox.h"
#include "kiosk/Keyboard.h"

#include <QLabel>
#include <QPlainTextEdit>
#include "kiosk/KioskFlow.h"

#include <QtTest>

using namespace kiosktest;

namespace {

const xb::LocalTime kIn {2026, 12, 9, 8, 15, 0};
const xb::LocalTime kOut {2026, 12, 9, 16, 40, 0};

void setClock(const xb::LocalTime& t)
{
    xb::setClockSource([t] { return t; });
}

QString dayTable(const Site& site, const xb::LocalTime& t)
{
    return site.db(QString::fromStdString(catalogue::dayTableName(xb::Date {t.year, t.month, t.day})));
}

}  // namespace

class TestKioskFlow : public QObject {
    Q_OBJECT

private slots:
    void inboundThenOutbound();
    void secondVisitReusesTheInstructions();
    void visitWithTheRealMessageBox();
};

void TestKioskFlow::inboundThenOutbound()
{
    Site site;
    site.writeStandard({0, 1, 1});
    dialogs::RecordingMessages shown;
    setClock(kIn);
    TfrmSwipe* swipe = site.startKiosk();
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(swipe->comOutWeigh->isOpen());
    QVERIFY(swipe->comCard->isOpen());

    // ---- inbound: card, plate, material ----
    QVERIFY(site.weigh("14020"));
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    TfrmLicense* license = kiosk::Flow().license;
    QCOMPARE(license->txtCust->text(), QString("ARDWICK HAULAGE"));
    QCOMPARE(kiosk::CurrentTicket().customer, std::string("ARDWICK HAULAGE"));
    typePlate(license, "BC12345");
    QVERIFY(kiosk::Flow().material);
    TfrmMaterial* material = kiosk::Flow().material;
    QCOMPARE(Site::showing(), material);
    QCOMPARE(material->txtLicense->text(), QString("BC12345"));
    QCOMPARE(material->txtCust->text(), QString("ARDWICK HAULAGE"));
    QCOMPARE(material->findChild<MaterialButton*>("cmdMat2")->caption(), QString("PEA GRAVEL"));
    QVERIFY(material->findChild<MaterialButton*>("cmdMat4")->caption().isEmpty());
    QTest::mouseClick(material->findChild<QPushButton*>("cmdMat2"), Qt::LeftButton);

    QVERIFY(kiosk::Flow().instructions);
    TfrmDriverInst* instructions = kiosk::Flow().instructions;
    QCOMPARE(Site::showing(), instructions);
    QCOMPARE(instructions->memoInst->toPlainText(),
             QString("Drive forward to the loader.\nCome back to the scale when loaded."));
    QVERIFY(shown.shown.empty());

    // The open ticket and the counter, and the visit is over.
    auto open = Site::rows(site.db("ticket.dbf"));
    QCOMPARE(open.size(), std::size_t(1));
    QCOMPARE(open[0]["ticket"], std::string("500"));
    QCOMPARE(open[0]["truck"], std::string("BC12345"));
    QCOMPARE(open[0]["customer"], std::string("ARDWICK HAULAGE"));
    QCOMPARE(open[0]["product"], std::string("PEA GRAVEL"));
    QCOMPARE(open[0]["in_time"], std::string("815"));
    QCOMPARE(open[0]["in_date"], std::string("20261209"));
    QCOMPARE(open[0]["in_wgt"], std::string("14020"));
    QCOMPARE(open[0]["complete"], std::string("F"));
    QCOMPARE(open[0]["out_wgt"], std::string());
    QCOMPARE(site.counter(), 501LL);
    QCOMPARE(kiosk::CurrentTicket().customer, std::string());
    QCOMPARE(kiosk::CurrentTicket().ticket, -1L);
    QVERIFY(!QFile::exists(dayTable(site, kIn)));
    QCOMPARE(site.printer.received(50), std::string());

    // The instructions time out back to the swipe screen.
    QTRY_COMPARE_WITH_TIMEOUT(Site::showing(), static_cast<KioskScreen*>(swipe), 5000);
    QCOMPARE(swipe->txtSwipe->text(), QString());

    // ---- outbound: the same card, the truck now lighter ----
    setClock(kOut);
    QVERIFY(site.weigh("008760"));
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().outbound && Site::showing() == kiosk::Flow().outbound);
    TfrmOutbound* outbound = kiosk::Flow().outbound;
    QCOMPARE(outbound->txtLicense->text(), QString("BC12345"));
    QCOMPARE(outbound->txtCust->text(), QString("ARDWICK HAULAGE"));
    // The heavier weighing is the gross; weights show as the scale sent them.
    QCOMPARE(outbound->txtGross->text(), QString("14020"));
    QCOMPARE(outbound->txtTare->text(), QString("008760"));
    QCOMPARE(outbound->txtNet->text(), QString("5260"));
    QTRY_COMPARE(outbound->printed, 2);
    QVERIFY(outbound->stored);
    QVERIFY(shown.shown.empty());

    QCOMPARE(Site::rows(site.db("ticket.dbf")).size(), std::size_t(0));
    auto done = Site::rows(dayTable(site, kOut));
    QCOMPARE(done.size(), std::size_t(1));
    QCOMPARE(done[0]["ticket"], std::string("500"));
    QCOMPARE(done[0]["truck"], std::string("BC12345"));
    QCOMPARE(done[0]["customer"], std::string("ARDWICK HAULAGE"));
    QCOMPARE(done[0]["product"], std::string("PEA GRAVEL"));
    QCOMPARE(done[0]["in_time"], std::string("815"));
    QCOMPARE(done[0]["in_date"], std::string("20261209"));
    QCOMPARE(done[0]["out_time"], std::string("1640"));
    QCOMPARE(done[0]["out_date"], std::string("20261209"));
    QCOMPARE(done[0]["in_wgt"], std::string("14020"));
    QCOMPARE(done[0]["out_wgt"], std::string("8760"));
    QCOMPARE(done[0]["net_wgt"], std::string("5260"));
    QCOMPARE(done[0]["complete"], std::string("T"));
    QCOMPARE(site.counter(), 501LL);

    // Two identical tickets, each exactly the ticket of this visit.
    kiosk::Ticket t;
    t.ticket = 500;
    t.customer = "ARDWICK HAULAGE";
    t.product = "PEA GRAVEL";
    t.in_time = "815";
    t.in_date = "20261209";
    t.out_time = kOut;
    t.out_date = kOut;
    t.in_wgt = "14020";
    t.out_wgt = "008760";
    const std::optional<std::string> one = kiosk::KioskTicketBytes(t, 1, kOut);
    QVERIFY(one);
    const std::string printed = site.printer.received();
    QCOMPARE(printed.size(), 2 * one->size());
    QCOMPARE(printed, *one + *one);
    QVERIFY(printed.find("TICKET  : 500") != std::string::npos);

    // Outbound time-out: the outbound instructions; then back again.
    QTRY_COMPARE_WITH_TIMEOUT(Site::showing(), static_cast<KioskScreen*>(instructions), 5000);
    QCOMPARE(instructions->memoInst->toPlainText(), QString("Take your ticket.\nDrive safely."));
    QCOMPARE(kiosk::CurrentTicket().customer, std::string());
    QTRY_COMPARE_WITH_TIMEOUT(Site::showing(), static_cast<KioskScreen*>(swipe), 5000);
    QVERIFY(shown.shown.empty());
}

void TestKioskFlow::secondVisitReusesTheInstructions()
{
    // Two trucks in a row; the instructions screen of the first visit serves
    // the second, showing only the second visit's lines.
    Site site;
    site.writeStandard({0, 0, 1});
    dialogs::RecordingMessages shown;
    setClock(kIn);
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.weigh("9000"));

    // A keyboard-type reader this time.
    typeSwipe(swipe, "1002");
    QVERIFY(kiosk::Flow().license);
    QCOMPARE(Site::showing(), kiosk::Flow().license);
    typePlate(kiosk::Flow().license, "TRK9");
    QTest::mouseClick(kiosk::Flow().material->cmdMat[2], Qt::LeftButton);
    QPointer<TfrmDriverInst> first = kiosk::Flow().instructions;
    QVERIFY(first);
    QTRY_COMPARE_WITH_TIMEOUT(Site::showing(), static_cast<KioskScreen*>(swipe), 5000);

    QVERIFY(site.weigh("12000"));
    QVERIFY(site.swipeCard("1001"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    typePlate(kiosk::Flow().license, "AB1");
    QTest::mouseClick(kiosk::Flow().material->cmdMat[0], Qt::LeftButton);
    QCOMPARE(kiosk::Flow().instructions.data(), first.data());
    QCOMPARE(Site::showing(), first.data());
    QCOMPARE(first->memoInst->toPlainText(),
             QString("Drive forward to the loader.\nCome back to the scale when loaded."));

    auto open = Site::rows(site.db("ticket.dbf"));
    QCOMPARE(open.size(), std::size_t(2));
    QCOMPARE(open[0]["ticket"], std::string("500"));
    QCOMPARE(open[0]["customer"], std::string("BLUE RIVER AGGREGATES"));
    QCOMPARE(open[0]["product"], std::string("WASHED SAND"));
    QCOMPARE(open[0]["in_wgt"], std::string("9000"));
    QCOMPARE(open[1]["ticket"], std::string("501"));
    QCOMPARE(open[1]["customer"], std::string("ARDWICK HAULAGE"));
    QCOMPARE(open[1]["truck"], std::string("AB1"));
    QCOMPARE(open[1]["in_wgt"], std::string("12000"));
    QCOMPARE(site.counter(), 502LL);

    // The lighter truck of the first visit leaves: gross is its in weight.
    QTRY_COMPARE_WITH_TIMEOUT(Site::showing(), static_cast<KioskScreen*>(swipe), 5000);
    QVERIFY(site.weigh("9000"));
    typeSwipe(swipe, "1002");
    QVERIFY(kiosk::Flow().outbound);
    QCOMPARE(kiosk::Flow().outbound->txtGross->text(), QString("9000"));
    QCOMPARE(kiosk::Flow().outbound->txtTare->text(), QString("9000"));
    QCOMPARE(kiosk::Flow().outbound->txtNet->text(), QString("0"));
    QTRY_COMPARE(kiosk::Flow().outbound->printed, 2);
    auto done = Site::rows(dayTable(site, kIn));
    QCOMPARE(done.size(), std::size_t(1));
    QCOMPARE(done[0]["ticket"], std::string("500"));
    QCOMPARE(done[0]["net_wgt"], std::string("0"));
    QCOMPARE(Site::rows(site.db("ticket.dbf")).size(), std::size_t(1));
    QVERIFY(shown.shown.empty());
}

void TestKioskFlow::visitWithTheRealMessageBox()
{
    // The kiosk's own message box over the swipe screen, with the pictures
    // the program ships: an unknown card, then a visit that goes on.
    Site site;
    site.writeStandard();
    for (const char* pic : {"warning.bmp", "error.bmp", "question.bmp"}) {
        const QString shipped = QFINDTESTDATA(QString("../../assets/") + pic);
        QVERIFY2(!shipped.isEmpty(), pic);
        QVERIFY(QFile::copy(shipped, site.path(pic)));
    }
    auto previous = dialogs::setMessageHandler(dialogs::answerInMsgBox);
    TfrmSwipe* swipe = site.startKiosk();

    QStringList seen;
    bool picture = false;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<TfrmMsgBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen << box->windowTitle() << box->txtMessage1->text() << box->txtMessage2->text();
        picture = !box->imgSign->pixmap().isNull();
        QTest::mouseClick(box->cmdOK, Qt::LeftButton);
    });
    answer.start();

    QVERIFY(site.swipeCard("4242"));
    QTRY_COMPARE(seen, (QStringList {"Card Error", "Invalid Swipe Card!", ""}));
    QVERIFY(picture);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QCOMPARE(Site::showing(), swipe);

    // The next card is a customer's: the box is gone and the visit goes on.
    QVERIFY(site.swipeCard("1002"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    QCOMPARE(kiosk::Flow().license->txtCust->text(), QString("BLUE RIVER AGGREGATES"));
    QTest::mouseClick(kiosk::Flow().license->Keyboard1->key("Enter"), Qt::LeftButton);
    QTRY_COMPARE(seen.size(), 6);
    QCOMPARE(seen.mid(3), (QStringList {"License Plate", "Please enter License Plate.", ""}));
    QCOMPARE(Site::showing(), kiosk::Flow().license);
    answer.stop();
    dialogs::setMessageHandler(previous);
}

QTEST_MAIN(TestKioskFlow)
#include "test_kiosk_flow.moc"

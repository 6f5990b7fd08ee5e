// The swipe screen's hidden keys, and what the window system may ask of the
// kiosk screens: Ctrl+F10 opens the station and the kiosk comes back ready,
// other key combinations do nothing, close requests are refused, every
// screen covers the whole screen; Ctrl+F1 ends the program (last, as it
// ends the application's event handling).

#include "TestSupport.h"

#include "KioskSite.h"

#include <QCloseEvent>
#include <QScreen>
#include <QWindow>
#include <map>
#include <QApplication>
#include <QCursor>
#include "kiosk/KioskFlow.h"

#include <QtTest>

using namespace kiosktest;

namespace {

// The window system asks the screen to close, as Alt+F4 or a close button would.
bool windowSystemCloses(QWidget* w)
{
    QWindow* win = w->windowHandle();
    return win && win->close();
}

void coversTheScreen(QWidget* w)
{
    QVERIFY(w->isVisible());
    QVERIFY(w->screen());
    QCOMPARE(w->geometry(), w->screen()->geometry());
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
}

void refusesToClose(QWidget* w)
{
    QVERIFY(!windowSystemCloses(w));
    QVERIFY(w->isVisible());
    QCloseEvent e;
    QApplication::sendEvent(w, &e);
    QVERIFY(!e.isAccepted());
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
}

}  // namespace

class TestKioskKeys : public QObject {
    Q_OBJECT

private slots:
    void stationAndBack();
    void withoutStation();
    void otherKeysDoNothing();
    void screensRefuseToCloseAndCoverTheScreen();
    void ctrlF1EndsTheProgram();
};

void TestKioskKeys::stationAndBack()
{
    Site site;
    site.writeStandard();
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();

    int opened = 0;
    bool scaleWhileAway = false, cardWhileAway = true;
    // The pointer is hidden on the kiosk and shown on the station.
    auto pointerHidden = [] {
        return QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BlankCursor;
    };
    QVERIFY(pointerHidden());
    bool pointerOnStation = false;
    auto station = [&](TfrmSwipe* from) {
        ++opened;
        QCOMPARE(from, swipe);
        pointerOnStation = !pointerHidden();
        // What the station does: the kiosk hides while it shows.
        swipe->hide();
        if (opened == 1) {
            // The operator's work closed the scale port and left text behind.
            swipe->comOutWeigh->close();
            swipe->txtSwipe->setText("typed");
        } else {
            // The kiosk's devices keep working under the station: the scale
            // reading follows the scale, a card line goes nowhere.
            scaleWhileAway = site.weigh("3210");
            QVERIFY(site.swipeCard("1001"));
            QVERIFY(site.cardTaken());
            cardWhileAway = swipe->isVisible() || kiosk::Flow().license;
        }
    };
    auto previous = kiosk::setStationOpener([&](TfrmSwipe* from) {
        station(from);
        return false;
    });

    QTest::keyClick(swipe->txtSwipe, Qt::Key_F10, Qt::ControlModifier);
    QCOMPARE(opened, 1);
    QVERIFY(pointerOnStation);
    QVERIFY(pointerHidden());
    QCOMPARE(Site::showing(), swipe);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QVERIFY(swipe->comOutWeigh->isOpen());
    QVERIFY(site.weigh("1234"));
    QCOMPARE(swipe->focusWidget(), swipe->txtSwipe);

    QTest::keyClick(swipe->txtSwipe, Qt::Key_F10, Qt::ControlModifier);
    QCOMPARE(opened, 2);
    QVERIFY(scaleWhileAway);
    QVERIFY(!cardWhileAway);
    QCOMPARE(Site::showing(), swipe);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QVERIFY(!kiosk::Flow().license);
    QVERIFY(kiosk::KioskSettings().connection);
    QVERIFY(shown.shown.empty());

    // The kiosk takes the next swipe as usual.
    QVERIFY(site.swipeCard("1002"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    kiosk::setStationOpener(std::move(previous));
}

void TestKioskKeys::withoutStation()
{
    // No station built in: the key says so and the kiosk stays ready.
    Site site;
    site.writeStandard();
    dialogs::RecordingMessages shown;
    auto previous = kiosk::setStationOpener({});
    TfrmSwipe* swipe = site.startKiosk();
    swipe->txtSwipe->setText("12");
    QTest::keyClick(swipe->txtSwipe, Qt::Key_F10, Qt::ControlModifier);
    QCOMPARE(shown.shown.size(), std::size_t(1));
    QCOMPARE(Site::showing(), swipe);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    kiosk::setStationOpener(std::move(previous));
}

void TestKioskKeys::otherKeysDoNothing()
{
    Site site;
    site.writeStandard();
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    int opened = 0;
    auto previous = kiosk::setStationOpener([&](TfrmSwipe*) { return ++opened < 0; });

    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
    } keys[] = {
        {Qt::Key_F1, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_F1, Qt::ControlModifier | Qt::AltModifier},
        {Qt::Key_F10, Qt::ControlModifier | Qt::AltModifier},
        {Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_F1, Qt::NoModifier},
        {Qt::Key_F10, Qt::NoModifier},
        {Qt::Key_F1, Qt::AltModifier},
        {Qt::Key_F2, Qt::ControlModifier},
        {Qt::Key_F11, Qt::ControlModifier},
    };
    for (const auto& k : keys) {
        QTest::keyClick(swipe->txtSwipe, k.key, k.mods);
        QCOMPARE(opened, 0);
        QCOMPARE(Site::showing(), swipe);
        QVERIFY(kiosk::KioskSettings().connection);
        QVERIFY(swipe->comOutWeigh->isOpen());
    }
    QVERIFY(shown.shown.empty());
    // The swipe still works after them.
    typeSwipe(swipe, "1001");
    QCOMPARE(Site::showing(), kiosk::Flow().license);
    kiosk::setStationOpener(std::move(previous));
}

void TestKioskKeys::screensRefuseToCloseAndCoverTheScreen()
{
    Site site;
    site.writeStandard({0, 0, 0});
    site.writeOpenTicket(77, "BLUE RIVER AGGREGATES", "TRK9", 9000);
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.weigh("12000"));

    coversTheScreen(swipe);
    refusesToClose(swipe);

    typeSwipe(swipe, "1001");
    QVERIFY(kiosk::Flow().license);
    QVERIFY(QTest::qWaitForWindowExposed(kiosk::Flow().license));
    coversTheScreen(kiosk::Flow().license);
    refusesToClose(kiosk::Flow().license);
    QCOMPARE(kiosk::Flow().license->Keyboard1->geometry().bottom() <= kiosk::Flow().license->height(), true);

    typePlate(kiosk::Flow().license, "BC1");
    QVERIFY(kiosk::Flow().material);
    QVERIFY(QTest::qWaitForWindowExposed(kiosk::Flow().material));
    coversTheScreen(kiosk::Flow().material);
    refusesToClose(kiosk::Flow().material);
    for (MaterialButton* b : kiosk::Flow().material->cmdMat)
        QVERIFY(kiosk::Flow().material->rect().contains(b->geometry()));

    QTest::mouseClick(kiosk::Flow().material->cmdMat[0], Qt::LeftButton);
    QVERIFY(kiosk::Flow().instructions);
    QVERIFY(QTest::qWaitForWindowExposed(kiosk::Flow().instructions));
    coversTheScreen(kiosk::Flow().instructions);
    refusesToClose(kiosk::Flow().instructions);

    // Back to the swipe screen (the program's own way), then out.
    kiosk::ShowSwipeScreen(kiosk::Flow().instructions);
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(site.weigh("12000"));
    typeSwipe(swipe, "1002");
    QVERIFY(kiosk::Flow().outbound);
    QVERIFY(QTest::qWaitForWindowExposed(kiosk::Flow().outbound));
    coversTheScreen(kiosk::Flow().outbound);
    refusesToClose(kiosk::Flow().outbound);
    QTRY_COMPARE(kiosk::Flow().outbound->printed, 2);

    // The program's own close is not refused.
    kiosk::Flow().outbound->closeByProgram();
    QVERIFY(!kiosk::Flow().outbound->isVisible());
    QVERIFY(shown.shown.empty());
}

void TestKioskKeys::ctrlF1EndsTheProgram()
{
    Site site;
    site.writeStandard({0, 0, 0});
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.weigh("12000"));
    // A visit leaves its screens behind (hidden), and the instructions show.
    typeSwipe(swipe, "1001");
    typePlate(kiosk::Flow().license, "BC1");
    QTest::mouseClick(kiosk::Flow().material->cmdMat[0], Qt::LeftButton);
    QVERIFY(kiosk::Flow().instructions && kiosk::Flow().instructions->isVisible());
    kiosk::ShowSwipeScreen(kiosk::Flow().instructions);
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(kiosk::Flow().license && kiosk::Flow().material && kiosk::Flow().instructions);

    // Every kiosk screen that exists is closed, hidden or not.
    std::map<QObject*, int> closes;
    struct CloseCounter : QObject {
        std::map<QObject*, int>* counts;
        bool eventFilter(QObject* o, QEvent* e) override
        {
            if (e->type() == QEvent::Close)
                ++(*counts)[o];
            return false;
        }
    } counter;
    counter.counts = &closes;
    const std::vector<QObject*> screens {swipe, kiosk::Flow().license, kiosk::Flow().material, kiosk::Flow().instructions};
    for (QObject* o : screens)
        o->installEventFilter(&counter);

    // The key, pressed while the program's event loop runs, ends that loop.
    QTimer::singleShot(0, [swipe] { QTest::keyClick(swipe->txtSwipe, Qt::Key_F1, Qt::ControlModifier); });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 0);

    QCOMPARE(kiosk::KioskSettings().connection, nullptr);
    QVERIFY(kiosk::KioskSettings().inboundLines.empty());
    QVERIFY(kiosk::KioskSettings().outboundLines.empty());
    for (QObject* o : screens)
        QVERIFY2(closes[o] >= 1, qPrintable(o->objectName()));
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY2(!qobject_cast<KioskScreen*>(w) || !w->isVisible(), qPrintable(w->objectName()));
    QVERIFY(!swipe->comOutWeigh->isOpen());
    QVERIFY(!swipe->comCard->isOpen());
    for (QObject* o : screens)
        o->removeEventFilter(&counter);
    QVERIFY(shown.shown.empty());
}

QTEST_MAIN(TestKioskKeys)
#include "test_kiosk_keys.moc"

// Takes a picture of every kiosk screen on the display it runs on (the
// screenshot test runs it under Xvfb at several screen sizes) and checks
// what a driver would notice: every text inside its control, every control
// on the screen, the material buttons large enough for a finger, the swipe
// box holding the keyboard focus.
//
//   kiosk_screenshots OUTDIR
//
// It makes a site of its own in a temporary directory: a scale on a
// pseudo-terminal, the ticket printer as a parallel-port file, customers and
// materials with long names. Prints one line per fault; exit status 1 when
// there was any, 2 when the screens could not be driven.

#include "KioskSite.h"
#include "dialogs/ProgramMessages.h"
#include "dialogs/fMsgBox.h"

#include <QAbstractScrollArea>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTextDocument>

#include <cstdio>

using namespace kiosktest;

namespace {

QStringList g_faults;
QString g_out;

void fault(const QString& screen, const QString& what)
{
    g_faults << screen + ": " + what;
    std::printf("FAULT %s: %s\n", qPrintable(screen), qPrintable(what));
    std::fflush(stdout);
}

QString describe(const QWidget* w)
{
    return w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
}

QString clip(const QString& s) { return s.size() > 40 ? s.left(37) + "..." : s; }

// Lets the screen be mapped and painted.
void settle(QWidget* w)
{
    if (w)
        (void)QTest::qWaitForWindowExposed(w, 3000);
    QTest::qWait(400);
}

void grab(const QString& name)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    QPixmap shot = screen->grabWindow(0);
    const QString file = g_out + "/" + name + ".png";
    if (shot.isNull() || !shot.save(file, "PNG"))
        fault(name, "no screenshot could be taken");
    else
        std::printf("screenshot %s (%dx%d)\n", qPrintable(file), shot.width(), shot.height());
}

// The text of every label and button fits its control; every control lies
// on the screen.
void checkScreen(const QString& name, QWidget* screen)
{
    const QRect whole(QPoint(0, 0), screen->size());
    for (QWidget* w : screen->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(screen) || w->width() <= 0)
            continue;
        const QRect onScreen(w->mapTo(screen, QPoint(0, 0)), w->size());
        if (!whole.contains(onScreen))
            fault(name, describe(w) + " lies partly off the screen");
    }
    for (QLabel* l : screen->findChildren<QLabel*>()) {
        if (!l->isVisibleTo(screen) || l->text().isEmpty())
            continue;
        const QRect r = l->contentsRect();
        auto* fit = qobject_cast<FitLabel*>(l);
        const QFontMetrics fm(fit ? fit->fittedFont() : l->font());
        if (fit && fit->fittedFont().pixelSize() < fit->font().pixelSize() * 2 / 3)
            fault(name, QString("%1 \"%2\" is drawn at less than two thirds of its size")
                            .arg(describe(l), clip(l->text())));
        const int flags = int(l->alignment()) | (l->wordWrap() ? int(Qt::TextWordWrap) : 0);
        const QRect need = fm.boundingRect(r, flags, l->text());
        if (need.width() > r.width() || need.height() > r.height())
            fault(name, QString("text of %1 \"%2\" needs %3x%4, has %5x%6")
                            .arg(describe(l->parentWidget() && qobject_cast<MaterialButton*>(l->parentWidget())
                                              ? l->parentWidget()
                                              : l),
                                 clip(l->text()))
                            .arg(need.width())
                            .arg(need.height())
                            .arg(r.width())
                            .arg(r.height()));
    }
    for (QPushButton* b : screen->findChildren<QPushButton*>()) {
        if (!b->isVisibleTo(screen) || b->text().isEmpty())
            continue;
        const QFontMetrics fm(b->font());
        const int pad = 8;  // the button's frame on both sides
        if (fm.horizontalAdvance(b->text()) + pad > b->width() || fm.height() + 4 > b->height())
            fault(name, QString("caption of %1 \"%2\" needs %3x%4, has %5x%6")
                            .arg(describe(b), b->text())
                            .arg(fm.horizontalAdvance(b->text()) + pad)
                            .arg(fm.height() + 4)
                            .arg(b->width())
                            .arg(b->height()));
    }
    for (QLineEdit* e : screen->findChildren<QLineEdit*>()) {
        if (!e->isVisibleTo(screen) || e->text().isEmpty())
            continue;
        const QFontMetrics fm(e->font());
        if (fm.horizontalAdvance(e->text()) + 12 > e->width() || fm.height() + 4 > e->height())
            fault(name, QString("%1 does not show all of \"%2\"").arg(describe(e), e->text()));
    }
    for (QPlainTextEdit* m : screen->findChildren<QPlainTextEdit*>()) {
        if (!m->isVisibleTo(screen))
            continue;
        if (m->verticalScrollBar()->maximum() > 0 || m->horizontalScrollBar()->maximum() > 0)
            fault(name, describe(m) + " does not show all its lines");
    }
}

// A finger is about 10 mm wide; at the usual 96 pixels per inch of a kiosk
// screen that is some 40 pixels, and the buttons should be well above it.
void checkTouchTargets(const QString& name, QWidget* screen, const QList<QWidget*>& targets, int minimum)
{
    for (QWidget* t : targets)
        if (t->width() < minimum || t->height() < minimum)
            fault(name, QString("%1 is %2x%3, too small to touch").arg(describe(t)).arg(t->width()).arg(t->height()));
}

KioskScreen* waitFor(std::function<KioskScreen*()> which)
{
    for (int i = 0; i < 300; ++i) {
        KioskScreen* s = which();
        if (s && Site::showing() == s)
            return s;
        QTest::qWait(10);
    }
    return nullptr;
}

int drive()
{
    Site site;
    site.writeSetup("1", "0", "2");
    QByteArray ini = "[Inbound]\r\nmsg1=Drive forward slowly to the loader at bay 3 and follow the loader "
                     "operator's signals.\r\nmsg2=Return to the scale with your card when loaded.\r\n"
                     "[Outbound]\r\nmsg1=Take both copies of your ticket from the printer.\r\n"
                     "msg2=Cover your load before leaving the site. Drive safely!\r\n"
                     "[Timer]\r\nlicense=0\r\noutbound=0\r\ninstructions=0\r\n[Ports]\r\ncom1=";
    ini += QByteArray::fromStdString(site.linkOf("scale")) + "\r\ncom2=";
    ini += QByteArray::fromStdString(site.linkOf("card")) + "\r\nlpt1=";
    ini += site.path("lp0").toUtf8() + "\r\n";
    Site::writeFile(site.path("setup.ini"), ini);
    Site::writeFile(site.path("lp0"), "");
    // Names as long as the customer field holds.
    site.writeCustomers({{"BLUE RIVER AGGREGATES AND HAULING", "1001"}, {"CASCADE CONCRETE AND GRAVEL COMPANY", "1002"}});
    site.writeProducts({"3/4 INCH CLEAR CRUSHED LIMESTONE", "PEA GRAVEL", "WASHED CONCRETE SAND",
                        "ROAD BASE", "RIP RAP 6-12 INCH", "SCREENED TOPSOIL", "BARK MULCH", "FILL DIRT",
                        "RECYCLED ASPHALT", "RIVER ROCK", "MASONRY SAND", "DRAIN ROCK 1 1/2 INCH"});
    site.writeControl(1);
    site.writeOpenTicket(41, "CASCADE CONCRETE AND GRAVEL COMPANY", "WMW2041WMW", 9120);
    QDir pictures(QStringLiteral(GRAZULO_ASSETS_DIR));
    for (const QString& pic : pictures.entryList({"*.bmp"}, QDir::Files))
        QFile::copy(pictures.filePath(pic), site.path(pic));

    // The scale keeps sending, as an indicator does.
    QTimer scaleFeed;
    QObject::connect(&scaleFeed, &QTimer::timeout, [&] { site.scale.send(frame("12480")); });
    scaleFeed.start(200);

    dialogs::installProgramMessages();
    TfrmSwipe* swipe = site.startKiosk();
    settle(swipe);
    if (!site.weigh("12480"))
        fault("swipe", "the scale is not read");
    for (int i = 0; i < 100 && !swipe->txtSwipe->hasFocus(); ++i)
        QTest::qWait(20);
    if (!swipe->txtSwipe->hasFocus())
        fault("swipe", "txtSwipe does not have the keyboard focus");
    checkScreen("swipe", swipe);
    grab("1-swipe");

    // An unknown card: the message box over the swipe screen (it stays
    // there until it is answered; the kiosk does not wait for it).
    typeSwipe(swipe, "999");
    TfrmMsgBox* box = nullptr;
    for (int i = 0; i < 300 && !box; ++i) {
        box = qobject_cast<TfrmMsgBox*>(QApplication::activeModalWidget());
        if (!box)
            QTest::qWait(10);
    }
    if (!box) {
        fault("message", "the message box did not show");
    } else {
        settle(box);
        checkScreen("message", box);
        grab("2-message");
        box->cmdOK->click();
    }

    typeSwipe(swipe, "1001");
    auto* license = static_cast<TfrmLicense*>(waitFor([&] { return kiosk::Flow().license.data(); }));
    if (!license)
        return 2;
    typePlate(license, "MWB1234567KW", false);
    settle(license);
    checkScreen("license", license);
    QList<QWidget*> keys;
    for (QPushButton* k : license->Keyboard1->findChildren<QPushButton*>())
        if (k->isEnabled())
            keys << k;
    checkTouchTargets("license", license, keys, 48);
    grab("3-license");

    QTest::mouseClick(license->Keyboard1->key("Enter"), Qt::LeftButton);
    auto* material = static_cast<TfrmMaterial*>(waitFor([&] { return kiosk::Flow().material.data(); }));
    if (!material)
        return 2;
    settle(material);
    checkScreen("material", material);
    QList<QWidget*> buttons;
    for (MaterialButton* b : material->cmdMat)
        buttons << b;
    checkTouchTargets("material", material, buttons, 80);
    grab("4-material");

    QTest::mouseClick(material->cmdMat[0], Qt::LeftButton);
    auto* instructions = static_cast<TfrmDriverInst*>(waitFor([&] { return kiosk::Flow().instructions.data(); }));
    if (!instructions)
        return 2;
    settle(instructions);
    checkScreen("instructions", instructions);
    grab("5-instructions");

    kiosk::ShowSwipeScreen(instructions);
    settle(swipe);
    typeSwipe(swipe, "1002");
    auto* outbound = static_cast<TfrmOutbound*>(waitFor([&] { return kiosk::Flow().outbound.data(); }));
    if (!outbound)
        return 2;
    for (int i = 0; i < 300 && outbound->printed < 2; ++i)
        QTest::qWait(10);
    if (outbound->printed != 2)
        fault("outbound", "the tickets were not printed");
    settle(outbound);
    checkScreen("outbound", outbound);
    grab("6-outbound");

    kiosk::Flow().showInstructions(false, outbound);
    settle(instructions);
    checkScreen("instructions", instructions);
    grab("7-instructions-outbound");

    scaleFeed.stop();
    swipe->CloseKiosk();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kiosk_screenshots OUTDIR\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    const QRect geometry = QGuiApplication::primaryScreen()->geometry();
    std::printf("screen %dx%d on %s\n", geometry.width(), geometry.height(), qPrintable(app.platformName()));
    const int r = drive();
    if (r != 0) {
        std::printf("FAULT the screens could not be driven\n");
        return r;
    }
    std::printf("%lld faults\n", static_cast<long long>(g_faults.size()));
    return g_faults.isEmpty() ? 0 : 1;
}

// Shows the kiosk's large-print box on the display it runs on (its test runs
// it under Xvfb, with no window manager, at several screen sizes) for short
// and long messages, and checks what a driver would see: the caption drawn
// in the box's own caption bar, every line in full inside the box, the box
// on the screen, and the design's sizes for the messages that fit them.
//
//   msgbox_x11 OUTDIR
//
// Keeps a picture of each box in OUTDIR. Prints one line per fault; exit
// status 1 when there was any, 2 when the box could not be shown.

#include "MsgBoxChecks.h"

#include "dialogs/fMsgBox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

struct Case {
    const char* name;
    dialogs::Message message;
    bool fitsDesign;
};

// Pixels of the caption bar on the screen: most of them the bar's ground,
// some of them the light text on it.
QString captionPixels(TfrmMsgBox* box)
{
    auto* caption = box->findChild<QLabel*>("lblCaption");
    if (!caption)
        return "no caption bar";
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QRect r(caption->mapToGlobal(QPoint(0, 0)), caption->size());
    const QRect inside = r.intersected(shot.rect());
    if (inside.isEmpty())
        return "the caption bar is not on the screen";
    long ground = 0, light = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.blue() > 90 && c.red() < 60 && c.green() < 60)
                ++ground;
            else if (c.red() > 200 && c.green() > 200 && c.blue() > 200)
                ++light;
        }
    const long all = long(inside.width()) * inside.height();
    if (ground * 2 < all)
        return QString("the caption bar is not drawn (%1 of %2 pixels)").arg(ground).arg(all);
    if (light * 100 < all)
        return QString("no caption text in the bar (%1 of %2 pixels)").arg(light).arg(all);
    return {};
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: msgbox_x11 OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir home;
    qputenv("GRAZULO_HOME", home.path().toUtf8());
    QDir pictures(QStringLiteral(GRAZULO_ASSETS_DIR));
    for (const QString& pic : pictures.entryList({"*.bmp"}, QDir::Files))
        QFile::copy(pictures.filePath(pic), home.path() + "/" + pic);

    const QRect geometry = QGuiApplication::primaryScreen()->geometry();
    std::printf("screen %dx%d on %s\n", geometry.width(), geometry.height(), qPrintable(app.platformName()));

    // A full-screen window beneath, as the kiosk's screens are.
    QWidget screen;
    screen.setObjectName("screen");
    QPalette grey = screen.palette();
    grey.setColor(QPalette::Window, QColor(200, 200, 200));
    screen.setPalette(grey);
    screen.setAutoFillBackground(true);
    screen.setGeometry(geometry);
    screen.show();
    screen.activateWindow();
    if (!QTest::qWaitForWindowExposed(&screen, 5000))
        return 2;

    using namespace dialogs;
    const Case cases[] = {
        {"card", {"Card Error", "Invalid Swipe Card!", "", kError, kOk}, true},
        {"scale", {"Weigh Scale Error", "Scale Indicator Error!", "Unable to read the weight.", kError, kOk}, true},
        {"confirm", {"Delete", "Delete this record?", "It cannot be undone.", kConfirmation, kYes | kNo}, true},
        {"open-ticket",
         {"Ticket Error", "The ticket was completed but is still listed as open.", "Please see the scale office.",
          kError, kOk},
         false},
        {"printer",
         {"Printer Error", "The ticket printer cannot be opened.",
          "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0: Permission denied", kError, kOk},
         false},
        {"longer-than-the-screen",
         {"Table Error",
          "Customer.dbf: the index is damaged and was rebuilt, but some records could not be read back and were "
          "left out of the index, so a card may not be found until the table is checked",
          "Please see the scale office, and keep the kiosk running until the tables have been checked.", kError,
          kOk},
         false},
    };

    QStringList faults;
    int shown = 0;
    for (const Case& c : cases) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<TfrmMsgBox*>(QApplication::activeModalWidget());
            for (int i = 0; i < 100 && !box; ++i) {
                QTest::qWait(20);
                box = qobject_cast<TfrmMsgBox*>(QApplication::activeModalWidget());
            }
            if (!box)
                return;
            seen = true;
            (void)QTest::qWaitForWindowExposed(box, 3000);
            QTest::qWait(300);
            QStringList found = msgboxcheck::faults(box, c.message, c.fitsDesign);
            if (const QString pixels = captionPixels(box); !pixels.isEmpty())
                found << pixels;
            for (const QString& f : found) {
                faults << f;
                std::printf("FAULT %s: %s\n", c.name, qPrintable(f));
            }
            const QString file = out + "/msgbox-" + c.name + ".png";
            if (QGuiApplication::primaryScreen()->grabWindow(0).save(file, "PNG"))
                std::printf("screenshot %s (box %dx%d)\n", qPrintable(file), box->width(), box->height());
            std::fflush(stdout);
            box->cmdOK->click();
        });
        answerInMsgBox(c.message);
        if (!seen) {
            std::printf("FAULT %s: the box did not show\n", c.name);
            return 2;
        }
        ++shown;
    }
    std::printf("%d boxes, %lld faults\n", shown, static_cast<long long>(faults.size()));
    return faults.isEmpty() ? 0 : 1;
}

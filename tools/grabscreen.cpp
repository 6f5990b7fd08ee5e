// grabscreen: saves a picture of the whole X display (DISPLAY) as PNG, to
// look at a kiosk running on a screen nobody watches.
//
//   DISPLAY=:N grabscreen FILE.png

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: grabscreen FILE.png\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap shot = screen ? screen->grabWindow(0) : QPixmap();
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "grabscreen: cannot take or save the picture\n");
        return 1;
    }
    return 0;
}

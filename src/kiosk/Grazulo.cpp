// The program entry: the kiosk's swipe screen is the main window, and the
// program ends when it closes.

#include "devices/SerialPort.h"
#include "dialogs/fMsgBox.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/fSwipe.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName("grazulo");
    app.setQuitOnLastWindowClosed(false);
    dialogs::installMsgBoxHandler();
    devices::setPortNameSource(kiosk::portNameFromIni);

    auto* swipe = new TfrmSwipe;
    swipe->FormCreate();
    kiosk::ShowSwipeScreen(nullptr);
    int r = app.exec();
    delete swipe;
    return r;
}

// The program entry: the kiosk's swipe screen is the main window, and the
// program ends when it closes.

#include "data/Catalogue.h"
#include "devices/SerialPort.h"
#include "dialogs/ProgramMessages.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/KioskFlow.h"
#include "kiosk/fSwipe.h"
#include "monthend/EndMonth.h"
#include "records/View.h"
#include "setup/Setup.h"
#include "reports/Reports.h"
#include "station/main.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// SIGTERM, SIGINT and SIGHUP (a service stopping, Ctrl+C in the terminal
// that started it) end the kiosk as Ctrl+F1 does: the data connection
// closed, the ports closed, the screens closed. The handler only writes a
// byte; the work is done on the user-interface thread.
int g_signalPipe[2] = {-1, -1};
bool g_ending = false;  // a signal came: the kiosk has been closed

void onSignal(int)
{
    const char byte = 1;
    (void)!::write(g_signalPipe[1], &byte, 1);
}

void endOnSignals(QApplication& app)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char buf[16];
        while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        if (g_ending)
            return;
        g_ending = true;
        // A message showing is answered as closed, so its loop ends too.
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QDialog*>(w); box && box->isVisible())
                box->reject();
        if (TfrmSwipe* swipe = kiosk::SwipeScreen())
            swipe->CloseKiosk();
        else
            QApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName("grazulo");
    app.setQuitOnLastWindowClosed(false);
    dialogs::installProgramMessages();
    dialogs::routeEngineErrors();
    devices::setPortNameSource(kiosk::portNameFromIni);
    endOnSignals(app);
    station::installStation();
    records::installRecordWindows();
    monthend::installMonthEnd();
    setup::installSetup();
    reports::installReports();

    // The site's log (the journal under the kiosk's service) says when and
    // where the program ran.
    dialogs::logLine("kiosk started; program directory " + catalogue::programDir());
    setup::settleAtStartUp();
    auto* swipe = new TfrmSwipe;
    swipe->FormCreate();
    // A signal answered while the start-up message showed has ended the
    // kiosk already.
    int r = 0;
    if (!g_ending) {
        kiosk::Flow().start(swipe);
        r = app.exec();
    }
    delete swipe;
    dialogs::logLine("kiosk ended");
    return r;
}

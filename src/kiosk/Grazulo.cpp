// The program entry: the kiosk's swipe screen is the main window, and the
// program ends when it closes, with a status that says how (KioskExit.h).

#include "data/Catalogue.h"
#include "devices/SerialPort.h"
#include "dialogs/ProgramMessages.h"
#include "kiosk/KioskExit.h"
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
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// SIGTERM, SIGINT and SIGHUP (a service stopping, a kill, Ctrl+C in the
// terminal that started it) close the kiosk as Ctrl+F1 does: the data
// connection closed, the ports closed, the screens closed; but the program
// ends with 128 plus the signal's number, so that the site's session starts
// the kiosk again unless it is stopping itself. The handler only writes a
// byte, the signal's number; the work is done on the user-interface thread.
int g_signalPipe[2] = {-1, -1};
bool g_ending = false;  // a signal came: the kiosk has been closed
int g_endingSignal = 0;  // the first signal that came

void onSignal(int sig)
{
    const char byte = char(sig);
    (void)!::write(g_signalPipe[1], &byte, 1);
}

void endOnSignals(QApplication& app)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char buf[16];
        ssize_t n = 0;
        while ((n = ::read(g_signalPipe[0], buf, sizeof buf)) > 0)
            if (!g_endingSignal)
                g_endingSignal = buf[0];
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
    // Ctrl+F1 has a status of its own; a signal says which one ended the
    // kiosk; any other end (the station's start-up ending the program) is 0.
    if (kiosk::exitStatus() == kiosk::kExitCtrlF1) {
        dialogs::logLine("kiosk ended by Ctrl+F1");
        return kiosk::kExitCtrlF1;
    }
    if (g_endingSignal) {
        const char* name = ::sigabbrev_np(g_endingSignal);
        dialogs::logLine(std::string("kiosk ended by the signal SIG") + (name ? name : "?"));
        return 128 + g_endingSignal;
    }
    dialogs::logLine("kiosk ended");
    return r != 0 ? r : kiosk::exitStatus();
}

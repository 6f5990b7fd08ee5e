#include "dialogs/ProgramMessages.h"

#include "data/CodeBase.h"
#include "data/Paths.h"
#include "dialogs/WindowFocus.h"
#include "dialogs/fMsgBox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <vector>

namespace dialogs {

namespace {
Face g_reportFace = Face::kKiosk;

struct EngineQueue {
    std::vector<xb::EngineError> waiting;
    bool scheduled = false;
};
EngineQueue& engineQueue()
{
    static EngineQueue q;
    return q;
}

void showWaitingEngineErrors()
{
    EngineQueue& q = engineQueue();
    q.scheduled = false;
    std::vector<xb::EngineError> errors;
    errors.swap(q.waiting);
    // The kiosk's drivers see the kiosk's own words, from the operation
    // that failed; the engine's (file names, offsets) are in the log only.
    if (g_reportFace != Face::kOperator)
        return;
    for (const xb::EngineError& e : errors)
        ShowMessage(kError, "Table Error", e.text(), kOk);
}
// Escape and the close box on a question without Cancel choose none of its
// buttons (the caller hears kClosed), where the dialog itself would take
// Abort or No for them.
class StandardBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    bool withoutChoice() const { return buttons().size() > 1 && !button(QMessageBox::Cancel); }
    void keyPressEvent(QKeyEvent* e) override
    {
        if (withoutChoice() && e->matches(QKeySequence::Cancel))
            done(QDialog::Rejected);
        else
            QMessageBox::keyPressEvent(e);
    }
    void closeEvent(QCloseEvent* e) override
    {
        if (withoutChoice())
            QDialog::closeEvent(e);
        else
            QMessageBox::closeEvent(e);
    }
};
}  // namespace

Answer showStandardMessage(const Message& m)
{
    QMessageBox::Icon icon = QMessageBox::Warning;
    switch (m.kind) {
    case kError: icon = QMessageBox::Critical; break;
    case kInformation: icon = QMessageBox::Information; break;
    case kConfirmation: icon = QMessageBox::Question; break;
    default: icon = QMessageBox::Warning; break;
    }
    QMessageBox::StandardButtons buttons;
    if (m.buttons & kYes) buttons |= QMessageBox::Yes;
    if (m.buttons & kNo) buttons |= QMessageBox::No;
    if (m.buttons & kOk) buttons |= QMessageBox::Ok;
    if (m.buttons & kCancel) buttons |= QMessageBox::Cancel;
    if (m.buttons & kAbort) buttons |= QMessageBox::Abort;
    if (!buttons)
        buttons = QMessageBox::Ok;
    QString text = QString::fromStdString(m.line1);
    text.replace("\r\n", "\n").replace('\r', '\n');
    QPointer<QWidget> parent = QApplication::activeWindow();
    StandardBox box(icon, QString::fromStdString(m.caption), text, buttons, parent);
    box.setObjectName("StandardMessage");
    box.exec();
    // Without a window manager nobody gives the window beneath the keyboard
    // focus again: it takes it back itself.
    takeFocus(parent);
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes: return Answer::kYes;
    case QMessageBox::No: return Answer::kNo;
    case QMessageBox::Ok: return Answer::kOk;
    case QMessageBox::Cancel: return Answer::kCancel;
    case QMessageBox::Abort: return Answer::kAbort;
    default: return Answer::kClosed;
    }
}

Answer programMessage(const Message& m)
{
    logLine("message: " + messageText(m));
    if (m.face == Face::kOperator)
        return showStandardMessage(m);
    // A kiosk box without a choice holds up nothing: it waits on the screen
    // for the driver while the kiosk goes on.
    if ((m.buttons & ~kOk) == 0) {
        postMsgBox(m);
        return Answer::kOk;
    }
    return answerInMsgBox(m);
}

void installProgramMessages() { setMessageHandler(programMessage); }

void routeEngineErrors()
{
    xb::setErrorReport([](const xb::EngineError& e) {
        logLine("table engine: " + e.text());
        if (g_reportFace != Face::kOperator)
            return;
        EngineQueue& q = engineQueue();
        for (const auto& w : q.waiting)
            if (w.file == e.file && w.fault == e.fault)
                return;
        q.waiting.push_back(e);
        if (!q.scheduled && QCoreApplication::instance()) {
            q.scheduled = true;
            QTimer::singleShot(0, QCoreApplication::instance(), showWaitingEngineErrors);
        }
    });
}

void setReportFace(Face face) { g_reportFace = face; }
Face reportFace() { return g_reportFace; }

}  // namespace dialogs

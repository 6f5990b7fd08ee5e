#include "kiosk/fDriverInst.h"

#include "kiosk/KioskSettings.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>

TfrmDriverInst::TfrmDriverInst(QWidget* parent) : KioskScreen(1012, 726, parent)
{
    setObjectName("frmDriverInst");
    setWindowTitle("Driver Instructions");

    Label1 = new QLabel("DRIVER INSTRUCTIONS", this);
    Label1->setObjectName("Label1");
    Label1->setAlignment(Qt::AlignCenter);
    place(Label1, 0, 8, 1012, 80, 64);

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Box);
    Panel1->setLineWidth(2);
    place(Panel1, 40, 100, 932, 160);
    Label5 = new QLabel(QString::fromUtf8("Transaction Complete \xE2\x80\x93 Please read the instructions below before "
                                          "moving the vehicle."),
                        this);
    Label5->setObjectName("Label5");
    Label5->setWordWrap(true);
    Label5->setAlignment(Qt::AlignCenter);
    QPalette p = Label5->palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    Label5->setPalette(p);
    place(Label5, 56, 104, 900, 152, 40);

    memoInst = new QPlainTextEdit(this);
    memoInst->setObjectName("memoInst");
    memoInst->setAccessibleName("Driver instructions");
    memoInst->installEventFilter(this);
    memoInst->setContextMenuPolicy(Qt::NoContextMenu);
    // Only to be read: no text cursor blinking in it.
    memoInst->setReadOnly(true);
    memoInst->setFocusPolicy(Qt::NoFocus);
    memoInst->setTextInteractionFlags(Qt::NoTextInteraction);
    memoInst->document()->setDocumentMargin(12);
    place(memoInst, 40, 280, 932, 400, 40);

    timerDisplay = new QTimer(this);
    timerDisplay->setObjectName("timerDisplay");
    timerDisplay->setSingleShot(true);
    connect(timerDisplay, &QTimer::timeout, this, &TfrmDriverInst::timerDisplayTimer);
}

bool TfrmDriverInst::eventFilter(QObject* watched, QEvent* e)
{
    // Every typed character is discarded: the lines cannot be edited.
    if (watched == memoInst && (e->type() == QEvent::KeyPress || e->type() == QEvent::InputMethod))
        return true;
    return KioskScreen::eventFilter(watched, e);
}

void TfrmDriverInst::showEvent(QShowEvent* e)
{
    KioskScreen::showEvent(e);
    timerDisplay->stop();
    timerDisplay->start(kiosk::TimeoutMsOr(kiosk::KioskSettings().instructionsTimeout,
                                           kiosk::kInstructionsSecondsWithoutTimeout));
}

void TfrmDriverInst::timerDisplayTimer()
{
    timerDisplay->stop();
    emit timedOut();
}

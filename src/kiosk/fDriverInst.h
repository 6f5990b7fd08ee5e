#pragma once
// Driver instructions after a visit; created on first use and reused.

#include "kiosk/KioskScreen.h"

class QLabel;
class QFrame;
class QPlainTextEdit;
class QTimer;

class TfrmDriverInst : public KioskScreen {
    Q_OBJECT
public:
    explicit TfrmDriverInst(QWidget* parent = nullptr);

    QLabel* Label1;
    QFrame* Panel1;
    QLabel* Label5;
    QPlainTextEdit* memoInst;
    QTimer* timerDisplay;

signals:
    // The instructions have shown their time: the visit is over.
    void timedOut();

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void timerDisplayTimer();
};

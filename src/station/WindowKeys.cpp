#include "station/WindowKeys.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>

namespace station {

namespace {

bool isEnter(const QKeyEvent* k) { return k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter; }

// Whether Enter is held down, from every Enter press and release the
// program receives, whichever control they go to. A press is fresh when the
// key was up; a release that is part of a repeat does not count as one.
class EnterState : public QObject {
public:
    using QObject::QObject;
    // Whether `k` is the press the key went down with.
    bool fresh(const QKeyEvent* k) const { return k == last_ && lastType_ == QEvent::KeyPress && fresh_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease)
            return QObject::eventFilter(watched, e);
        auto* k = static_cast<QKeyEvent*>(e);
        if (!isEnter(k))
            return QObject::eventFilter(watched, e);
        // The same event passed on from a control to its parents is seen
        // once.
        if (e == last_ && e->type() == lastType_ && k->timestamp() == lastTime_)
            return QObject::eventFilter(watched, e);
        // An X server repeats a held key as a release and a press of one
        // moment; the toolkit flags the pair as a repeat only when the press
        // had arrived by the time it read the release. (Events made by a
        // program carry no moment: 0.)
        const bool pairedWithRelease =
            e->type() == QEvent::KeyPress && lastType_ == QEvent::KeyRelease && k->timestamp() != 0 &&
            k->timestamp() == lastTime_;
        last_ = e;
        lastType_ = e->type();
        lastTime_ = k->timestamp();
        if (e->type() == QEvent::KeyRelease) {
            if (!k->isAutoRepeat())
                held_ = false;
            return QObject::eventFilter(watched, e);
        }
        // A release lost on the way (a window that closed in between) must
        // not hold Enter down for ever: a press long after the last one is
        // a new one (an X server repeats a held key every few dozen
        // milliseconds once it started).
        const bool longAfter = k->timestamp() > lastPress_ + 1500;
        fresh_ = !k->isAutoRepeat() && !pairedWithRelease && (!held_ || longAfter);
        held_ = true;
        lastPress_ = k->timestamp();
        return QObject::eventFilter(watched, e);
    }

private:
    const QEvent* last_ = nullptr;
    QEvent::Type lastType_ = QEvent::None;
    quint64 lastTime_ = 0;
    quint64 lastPress_ = 0;
    bool held_ = false;
    bool fresh_ = false;
};

EnterState* enterState()
{
    static QPointer<EnterState> state;
    if (!state && QCoreApplication::instance()) {
        state = new EnterState(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(state);
    }
    return state.data();
}

class EnterPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress)
            return false;
        auto* k = static_cast<QKeyEvent*>(e);
        if (!isEnter(k))
            return false;
        // Enter with Alt, Ctrl or Shift is some other command's.
        if (k->modifiers() & ~Qt::KeypadModifier)
            return false;
        auto* b = static_cast<QAbstractButton*>(watched);
        const EnterState* state = enterState();
        const bool fresh = state ? state->fresh(k) : !k->isAutoRepeat();
        if (fresh && b->isEnabled() && b->isVisible())
            b->click();
        return true;
    }
};

}  // namespace

void pressOnEnter(QAbstractButton* button)
{
    enterState();
    button->installEventFilter(new EnterPresses(button));
}

}  // namespace station

#include "station/WindowKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace station {

namespace {

class EnterPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress)
            return false;
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() != Qt::Key_Return && k->key() != Qt::Key_Enter)
            return false;
        // Enter with Alt, Ctrl or Shift is some other command's.
        if (k->modifiers() & ~Qt::KeypadModifier)
            return false;
        auto* b = static_cast<QAbstractButton*>(watched);
        if (!k->isAutoRepeat() && b->isEnabled() && b->isVisible())
            b->click();
        return true;
    }
};

}  // namespace

void pressOnEnter(QAbstractButton* button)
{
    button->installEventFilter(new EnterPresses(button));
}

}  // namespace station

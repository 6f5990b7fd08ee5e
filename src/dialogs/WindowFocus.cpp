#include "dialogs/WindowFocus.h"

#include <QWidget>

namespace dialogs {

void takeFocus(QWidget* window)
{
    if (!window)
        return;
    window = window->window();
    if (!window->isVisible())
        return;
    window->raise();
    window->activateWindow();
}

}  // namespace dialogs

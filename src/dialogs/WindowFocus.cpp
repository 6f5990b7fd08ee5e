#include "dialogs/WindowFocus.h"

#include "dialogs/fMsgBox.h"

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
    // A kiosk box waiting for its answer stays above it.
    keepMsgBoxOnTop();
}

}  // namespace dialogs

#include "kiosk/Keyboard.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace {
// Rows of the keyboard in key units (a key is 1 unit wide); 5 rows of 15 units.
constexpr double kUnitsWide = 15.0;
constexpr double kRows = 5.0;
}  // namespace

OnScreenKeyboard::OnScreenKeyboard(QWidget* parent) : QWidget(parent)
{
    setObjectName("Keyboard1");
    auto add = [this](const QString& label, double x, double y, double w, bool enabled = true) {
        auto* b = new QPushButton(label, this);
        b->setObjectName("key" + QString(label).remove(' '));
        b->setFocusPolicy(Qt::NoFocus);
        b->setEnabled(enabled);
        if (enabled)
            connect(b, &QPushButton::clicked, this, [this, label] { press(label); });
        keys_.push_back({b, x, y, w});
    };
    // A row of single-character keys, one unit wide each, from x on.
    auto addRow = [&add](const QString& chars, double x, double y) {
        for (int i = 0; i < chars.size(); ++i)
            add(chars.mid(i, 1), x + i, y, 1);
    };
    add("Esc", 0, 0, 1, false);
    addRow("1234567890", 1, 0);
    add("Backspace", 11, 0, 4);
    add("Tab", 0, 1, 1.5, false);
    addRow("QWERTYUIOP", 1.5, 1);
    add("Caps Lock", 0, 2, 1.75, false);
    addRow("ASDFGHJKL", 1.75, 2);
    add("Enter", 10.75, 2, 4.25);
    add("Shift", 0, 3, 2.25, false);
    addRow("ZXCVBNM", 2.25, 3);
    add("Shift ", 9.25, 3, 2.25, false);
    keys_.back().button->setObjectName("keyShiftRight");
    layoutKeys();
}

QPushButton* OnScreenKeyboard::key(const QString& label) const
{
    for (const auto& k : keys_)
        if (k.button->text() == label)
            return k.button;
    return nullptr;
}

QRect OnScreenKeyboard::spareArea() const
{
    const double uw = width() / kUnitsWide, uh = height() / kRows;
    return QRect(int(3 * uw), int(4 * uh), int(9 * uw), int(uh) - 2);
}

void OnScreenKeyboard::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    layoutKeys();
}

void OnScreenKeyboard::layoutKeys()
{
    const double uw = width() / kUnitsWide, uh = height() / kRows;
    QFont f = font();
    f.setPixelSize(std::max(10, int(uh * 0.35)));
    f.setBold(true);
    for (const auto& k : keys_) {
        const int w = int(k.w * uw) - 4;
        k.button->setGeometry(int(k.x * uw) + 2, int(k.y * uh) + 2, w, int(uh) - 4);
        // A long label on a narrow key ("Caps Lock") gets a smaller font
        // rather than being cut off at both ends.
        QFont kf = f;
        while (kf.pixelSize() > 8 && QFontMetrics(kf).horizontalAdvance(k.button->text()) > w - 12)
            kf.setPixelSize(kf.pixelSize() - 1);
        k.button->setFont(kf);
    }
}

void OnScreenKeyboard::press(const QString& label)
{
    if (!edit_)
        return;
    if (label == "Backspace") {
        edit_->backspace();
    } else if (label == "Enter") {
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(QChar(13)));
        QApplication::sendEvent(edit_, &down);
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QString(QChar(13)));
        QApplication::sendEvent(edit_, &up);
    } else {
        edit_->insert(label.toUpper());
    }
}

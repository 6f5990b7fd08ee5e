#pragma once
// The on-screen keyboard of the licence plate screen: touches type upper-case
// letters and digits into the edit box it is linked to, Backspace deletes,
// and its Enter key sends the Enter character to the edit box. Tab, Caps
// Lock, both Shift keys and Escape are shown but do nothing; there is no
// space bar and no decimal key.

#include <QWidget>

class QLineEdit;
class QPushButton;

class OnScreenKeyboard : public QWidget {
    Q_OBJECT
public:
    explicit OnScreenKeyboard(QWidget* parent = nullptr);
    void setEdit(QLineEdit* edit) { edit_ = edit; }
    // The key showing this label ("A", "7", "Enter", "Backspace", "Tab", ...).
    QPushButton* key(const QString& label) const;
    // Room at the right end of the bottom row for a button of the screen's own.
    QRect spareArea() const;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void press(const QString& label);
    void layoutKeys();
    QLineEdit* edit_ = nullptr;
    struct Key {
        QPushButton* button;
        double x, y, w;  // in key units
    };
    std::vector<Key> keys_;
};

#pragma once
// "About Ponderix...": the program's name and who to call about it.

#include <QDialog>

class QLabel;
class QPushButton;
class QTextEdit;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    QLabel* imgIcon;
    QTextEdit* txtAbout;
    QPushButton* cmdOK;

    // The text box's contents, as rich text.
    static QString aboutText();
};

#pragma once
// The transactions report's question whether to print or to preview.

#include <QDialog>

class QGroupBox;
class QPushButton;
class QRadioButton;

class TfrmPrintPreview : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPrintPreview(QWidget* parent = nullptr);

    QGroupBox* radgrpPrintPreview;
    QRadioButton* radPrint;
    QRadioButton* radPreview;
    QPushButton* cmdOK;

    // The group's selection: true for Print.
    bool printChosen() const;

protected:
    void showEvent(QShowEvent* e) override;
};

namespace reports {

// True for Print, false for Preview: the selection when the dialog closes,
// however it closes.
bool AskPrintOrPreview(QWidget* parent = nullptr);

}  // namespace reports

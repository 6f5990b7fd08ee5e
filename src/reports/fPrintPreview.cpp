#include "reports/fPrintPreview.h"

#include "dialogs/WindowFocus.h"
#include "reports/ReportPreview.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TfrmPrintPreview::TfrmPrintPreview(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmPrintPreview");
    setWindowTitle("Print or Preview");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* root = new QVBoxLayout(this);

    radgrpPrintPreview = new QGroupBox("Do you want to Print or Preview?", this);
    radgrpPrintPreview->setObjectName("radgrpPrintPreview");
    radgrpPrintPreview->setAccessibleName(radgrpPrintPreview->title());
    auto* items = new QVBoxLayout(radgrpPrintPreview);
    radPrint = new QRadioButton("Print", radgrpPrintPreview);
    radPrint->setObjectName("radPrint");
    radPrint->setAccessibleName("Print");
    radPreview = new QRadioButton("Preview", radgrpPrintPreview);
    radPreview->setObjectName("radPreview");
    radPreview->setAccessibleName("Preview");
    radPrint->setChecked(true);
    items->addWidget(radPrint);
    items->addWidget(radPreview);
    root->addWidget(radgrpPrintPreview);

    cmdOK = new QPushButton("&OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setAccessibleName("OK");
    cmdOK->setDefault(true);
    root->addWidget(cmdOK, 0, Qt::AlignCenter);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

bool TfrmPrintPreview::printChosen() const { return radPrint->isChecked(); }

void TfrmPrintPreview::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    reports::centreOnDesktop(this);
    radPrint->isChecked() ? radPrint->setFocus() : radPreview->setFocus();
}

namespace reports {

bool AskPrintOrPreview(QWidget* parent)
{
    TfrmPrintPreview form(parent);
    form.exec();
    if (parent)
        dialogs::takeFocus(parent->window());
    return form.printChosen();
}

}  // namespace reports

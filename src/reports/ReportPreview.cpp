#include "reports/ReportPreview.h"

#include "dialogs/MessageSeam.h"
#include "reports/BandedReport.h"
#include "reports/ReportData.h"
#include "reports/ReportPrinter.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>

namespace reports {

namespace {

SaveFileChooser& installedChooser()
{
    static SaveFileChooser c;
    return c;
}

QString chooseFile(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter)
{
    if (installedChooser())
        return installedChooser()(parent, caption, suggested, filter);
    return QFileDialog::getSaveFileName(parent, caption, QDir::home().filePath(suggested), filter);
}

QString withExtension(QString path, const QString& ext)
{
    if (!path.endsWith(ext, Qt::CaseInsensitive))
        path += ext;
    return path;
}

}  // namespace

SaveFileChooser setSaveFileChooser(SaveFileChooser chooser)
{
    SaveFileChooser previous = std::move(installedChooser());
    installedChooser() = std::move(chooser);
    return previous;
}

void centreOnDesktop(QWidget* w)
{
    const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect r = w->frameGeometry();
    r.moveCenter(screen->availableGeometry().center());
    w->move(r.topLeft());
}

bool savePdf(BandedReport& report, const QString& baseName, QWidget* parent)
{
    const QString chosen = chooseFile(parent, "Save as PDF", baseName + ".pdf", "PDF files (*.pdf)");
    if (chosen.isEmpty())
        return false;
    const QString path = withExtension(chosen, ".pdf");
    QString error;
    if (!report.writePdf(path, error)) {
        dialogs::ShowMessage(dialogs::kError, "Save Error", error.toStdString() + "\r\rThe PDF file was not written.");
        return false;
    }
    return true;
}

bool saveCsv(const std::function<std::string()>& csv, const QString& baseName, QWidget* parent)
{
    const QString chosen = chooseFile(parent, "Save as CSV", baseName + ".csv", "CSV files (*.csv)");
    if (chosen.isEmpty())
        return false;
    const QString path = withExtension(chosen, ".csv");
    std::string error;
    if (!writeFile(path.toStdString(), csv(), error)) {
        dialogs::ShowMessage(dialogs::kError, "Save Error", error + "\r\rThe CSV file was not written.");
        return false;
    }
    return true;
}

void showPreview(BandedReport& report, const std::function<std::string()>& csv, const QString& baseName,
                 QWidget* parent)
{
    // The default printer when there is one; otherwise the preview's Print
    // writes a PDF file.
    std::unique_ptr<QPrinter> printer = defaultPrinter();
    if (!printer)
        printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setPageLayout(report.pageLayout());

    QPrintPreviewDialog preview(printer.get(), parent);
    preview.setObjectName("frmPreview");
    preview.setWindowTitle("Preview");
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&report](QPrinter* p) {
        if (!report.print(*p))
            dialogs::ShowMessage(dialogs::kError, "Print Error", "The report's pages could not be drawn.");
    });

    if (QToolBar* bar = preview.findChild<QToolBar*>()) {
        bar->addSeparator();
        QAction* pdf = bar->addAction("Save as PDF\u2026");
        pdf->setObjectName("actSavePdf");
        QAction* csvAction = bar->addAction("Save as CSV\u2026");
        csvAction->setObjectName("actSaveCsv");
        for (QAction* a : {pdf, csvAction}) {
            if (auto* b = qobject_cast<QToolButton*>(bar->widgetForAction(a))) {
                b->setObjectName(a->objectName() == "actSavePdf" ? "cmdSavePdf" : "cmdSaveCsv");
                b->setAccessibleName(a->text());
                b->setToolButtonStyle(Qt::ToolButtonTextOnly);
            }
        }
        QObject::connect(pdf, &QAction::triggered, &preview,
                         [&report, baseName, &preview] { savePdf(report, baseName, &preview); });
        QObject::connect(csvAction, &QAction::triggered, &preview,
                         [csv, baseName, &preview] { saveCsv(csv, baseName, &preview); });
    }
    preview.exec();
}

}  // namespace reports

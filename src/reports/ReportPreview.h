#pragma once
// The reports' windows: the preview of a report's pages with Print (to the
// default or any other printer), Save as PDF and Save as CSV, and the
// placing of the report dialogs.

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace reports {

class BandedReport;

// Shows the report's pages modally. `csv` gives the report's lines as CSV;
// `baseName` is the file name offered when saving, without its extension.
void showPreview(BandedReport& report, const std::function<std::string()>& csv, const QString& baseName,
                 QWidget* parent);

// Asks where to save a file: the path, or empty when the operator cancels.
// Tests install another.
using SaveFileChooser =
    std::function<QString(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter)>;
SaveFileChooser setSaveFileChooser(SaveFileChooser chooser);

// Save as PDF and Save as CSV of the preview: ask for the file, write it,
// report a failure through the message seam. True when a file was written.
bool savePdf(BandedReport& report, const QString& baseName, QWidget* parent);
bool saveCsv(const std::function<std::string()>& csv, const QString& baseName, QWidget* parent);

// Puts a dialog in the middle of the screen it shows on.
void centreOnDesktop(QWidget* w);

}  // namespace reports

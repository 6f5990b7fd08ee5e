#pragma once
// The Setup Configuration window: the data directory, typed or chosen, and
// the move of the tables there (MoveData does the work).

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

class TfrmSetup : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSetup(QWidget* parent = nullptr);

    QTabWidget* pagSetUp;
    QWidget* tabGeneral;
    QLabel* lblDatabasePath;
    QLineEdit* txtDatabasePath;
    QPushButton* cmdBrowse;
    QPushButton* cmdApply;
    QPushButton* cmdCancel;

    bool CheckPath();
    void cmdBrowseClick();
    void cmdApplyClick();

    // The directory chooser; replaceable for tests. Gives the chosen
    // directory, or an empty text when the operator cancels.
    using DirectoryChooser = std::function<QString(QWidget* parent, const QString& start)>;
    static DirectoryChooser setDirectoryChooser(DirectoryChooser chooser);

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void FormShow();
    void SetHints();
    bool shown_ = false;
};

namespace setup {

// Installs the window into the station's menu and start-up.
void installSetup();

// Settles a move of the data directory a dead process left half done, and
// says what was done: at the program's and the station's start-up, before
// any table is used.
void settleAtStartUp();

}  // namespace setup

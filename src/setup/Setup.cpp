#include "setup/Setup.h"

#include "data/Catalogue.h"
#include "dialogs/MessageSeam.h"
#include "dialogs/WindowFocus.h"
#include "setup/MoveData.h"
#include "station/main.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
TfrmSetup::DirectoryChooser& chooser()
{
    static TfrmSetup::DirectoryChooser c = [](QWidget* parent, const QString& start) {
        return QFileDialog::getExistingDirectory(parent, "Database Path", start, QFileDialog::ShowDirsOnly);
    };
    return c;
}
}  // namespace

TfrmSetup::DirectoryChooser TfrmSetup::setDirectoryChooser(DirectoryChooser c)
{
    DirectoryChooser previous = std::move(chooser());
    chooser() = std::move(c);
    return previous;
}

TfrmSetup::TfrmSetup(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmSetup");
    setWindowTitle("Setup Configuration");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    auto* root = new QVBoxLayout(this);
    pagSetUp = new QTabWidget(this);
    pagSetUp->setObjectName("pagSetUp");
    tabGeneral = new QWidget(pagSetUp);
    tabGeneral->setObjectName("tabGeneral");
    auto* g = new QGridLayout(tabGeneral);
    lblDatabasePath = new QLabel("Database Path:", tabGeneral);
    lblDatabasePath->setObjectName("lblDatabasePath");
    QFont bold = lblDatabasePath->font();
    bold.setBold(true);
    lblDatabasePath->setFont(bold);
    txtDatabasePath = new QLineEdit(tabGeneral);
    txtDatabasePath->setObjectName("txtDatabasePath");
    txtDatabasePath->setMinimumWidth(360);
    lblDatabasePath->setBuddy(txtDatabasePath);
    txtDatabasePath->setAccessibleName("Database Path:");
    cmdBrowse = new QPushButton("&Browse...", tabGeneral);
    cmdBrowse->setObjectName("cmdBrowse");
    cmdBrowse->setAutoDefault(false);
    g->addWidget(lblDatabasePath, 0, 0);
    g->addWidget(txtDatabasePath, 1, 0);
    g->addWidget(cmdBrowse, 1, 1);
    g->setRowStretch(2, 1);
    pagSetUp->addTab(tabGeneral, "General");
    root->addWidget(pagSetUp);
    auto* buttons = new QHBoxLayout;
    cmdApply = new QPushButton("&Apply", this);
    cmdApply->setObjectName("cmdApply");
    cmdCancel = new QPushButton("&Cancel", this);
    cmdCancel->setObjectName("cmdCancel");
    for (QPushButton* b : {cmdApply, cmdCancel}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->insertStretch(0);
    root->addLayout(buttons);
    setTabOrder(pagSetUp, txtDatabasePath);
    setTabOrder(txtDatabasePath, cmdBrowse);
    setTabOrder(cmdBrowse, cmdApply);
    setTabOrder(cmdApply, cmdCancel);
    connect(cmdBrowse, &QPushButton::clicked, this, &TfrmSetup::cmdBrowseClick);
    connect(cmdApply, &QPushButton::clicked, this, &TfrmSetup::cmdApplyClick);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    txtDatabasePath->installEventFilter(this);
}

void TfrmSetup::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfrmSetup::FormShow()
{
    txtDatabasePath->setText(QString::fromStdString(setup::currentDataDir()));
    SetHints();
    txtDatabasePath->setFocus();
}

void TfrmSetup::SetHints()
{
    for (QWidget* w : std::initializer_list<QWidget*> {lblDatabasePath, txtDatabasePath})
        w->setToolTip("Path for Database");
    cmdBrowse->setToolTip("Browse Directory");
}

bool TfrmSetup::CheckPath()
{
    const setup::PathCheck c = setup::checkPath(txtDatabasePath->text().toStdString());
    if (c == setup::PathCheck::kOk)
        return true;
    dialogs::ShowMessage(dialogs::kWarning, "Warning", setup::pathMessage(c));
    txtDatabasePath->setFocus();
    return false;
}

void TfrmSetup::cmdBrowseClick()
{
    const QString dir = chooser()(this, txtDatabasePath->text());
    dialogs::takeFocus(this);
    if (!dir.isEmpty())
        txtDatabasePath->setText(dir.endsWith('/') ? dir : dir + "/");
}

void TfrmSetup::cmdApplyClick()
{
    if (!CheckPath())
        return;
    const setup::MoveResult r = setup::moveData(txtDatabasePath->text().toStdString(), [](const std::string& q) {
        return dialogs::ShowMessage(dialogs::kWarning, "Warning", q, dialogs::kYes | dialogs::kNo) ==
               dialogs::Answer::kYes;
    });
    if (!r.ok) {
        dialogs::ShowMessage(dialogs::kError, "Setup Configuration", r.message);
        return;
    }
    // The setup table names the new directory: the station takes it now,
    // whatever is said about the old one.
    std::string notes;
    for (const std::string& n : r.notes)
        notes += (notes.empty() ? "" : "\r") + n;
    if (!notes.empty())
        dialogs::ShowMessage(dialogs::kInformation, "Setup Configuration", notes);
    accept();
}

bool TfrmSetup::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == txtDatabasePath && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            cmdApply->setFocus();
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

namespace setup {

void settleAtStartUp()
{
    const Settled s = settleInterruptedMove();
    if (!s.found)
        return;
    dialogs::ShowMessage(dialogs::kWarning, "Setup Configuration", s.message);
}

void installSetup()
{
    station::Windows().settleMove = [] { settleAtStartUp(); };
    station::Windows().setup = [](TfrmMain& s) {
        TfrmSetup w(&s);
        const bool ok = w.exec() == QDialog::Accepted;
        dialogs::takeFocus(&s);
        return ok;
    };
}

}  // namespace setup

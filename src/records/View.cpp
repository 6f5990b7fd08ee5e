#include "records/View.h"

#include "data/Catalogue.h"
#include "data/TicketValues.h"
#include "dialogs/MessageSeam.h"
#include "dialogs/QtText.h"
#include "dialogs/WindowFocus.h"
#include "station/WindowKeys.h"
#include "station/main.h"

#include <QAction>
#include <QCalendarWidget>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using records::Mode;

namespace {

enum Page { kViewRecordScreen = 0, kDateSelectionScreen = 1, kInfoScreen = 2 };

QString qs(const std::string& s) { return dialogs::toQt(s); }
std::string ss(const QString& s) { return dialogs::fromQt(s); }

TfrmView::ListPrinter& listPrinter()
{
    static TfrmView::ListPrinter p;
    return p;
}

const char* const kTicketHeadings[records::kTicketColumns] = {
    "TICKET",   "CUSTOMER", "LICENCE",  "PRODUCT",  "IN TIME",  "IN DATE", "OUT TIME",
    "OUT DATE", "IN WGT.",  "OUT WGT.", "NET WGT.", "COMPLETE", "REMARKS"};
const int kTicketWidths[records::kTicketColumns] = {50, 115, 115, 115, 50, 75, 60, 75, 60, 60, 60, 80, 200};

QPushButton* button(QWidget* parent, const char* name, const char* caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setMinimumSize(80, 40);
    QFont f = b->font();
    f.setBold(true);
    b->setFont(f);
    b->setAutoDefault(false);
    return b;
}

QLineEdit* field(QWidget* parent, const char* name, QLabel* label)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    label->setBuddy(e);
    e->setAccessibleName(label->text());
    return e;
}

}  // namespace

TfrmView::ListPrinter TfrmView::setListPrinter(ListPrinter printer)
{
    ListPrinter previous = std::move(listPrinter());
    listPrinter() = std::move(printer);
    return previous;
}

TfrmView::TfrmView(Mode mode, QWidget* parent) : QDialog(parent), mode_(mode)
{
    setObjectName("frmView");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    auto* root = new QVBoxLayout(this);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName("lblTitle");
    lblTitle->setStyleSheet("QLabel { color: blue; font-weight: bold; text-decoration: underline; }");
    lblTitle->setAlignment(Qt::AlignCenter);
    root->addWidget(lblTitle);

    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName("Notebook1");
    root->addWidget(Notebook1, 1);

    auto* view = new QWidget(Notebook1);
    view->setObjectName("ViewRecordScreen");
    auto* vl = new QVBoxLayout(view);
    StringGrid1 = new QTableWidget(view);
    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->setAccessibleName("Records");
    QFont gridFont("Arial", 9);
    StringGrid1->setFont(gridFont);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setDefaultSectionSize(20);
    StringGrid1->horizontalHeader()->setStyleSheet("QHeaderView::section { background: aqua; }");
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    StringGrid1->horizontalHeader()->setStretchLastSection(true);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    vl->addWidget(StringGrid1);
    Notebook1->addWidget(view);

    auto* dates = new QWidget(Notebook1);
    dates->setObjectName("DateSelectionScreen");
    auto* dl = new QVBoxLayout(dates);
    lblSelectDate = new QLabel("Click on the Calendar to select a date.", dates);
    lblSelectDate->setObjectName("lblSelectDate");
    lblSelectDate->setStyleSheet("QLabel { color: #a08000; font-weight: bold; }");
    MonthCalendar1 = new QCalendarWidget(dates);
    MonthCalendar1->setObjectName("MonthCalendar1");
    MonthCalendar1->setAccessibleName("Click on the Calendar to select a date.");
    lblSelectDate->setBuddy(MonthCalendar1);
    dl->addWidget(lblSelectDate);
    dl->addWidget(MonthCalendar1, 1);
    Notebook1->addWidget(dates);

    auto* info = new QWidget(Notebook1);
    info->setObjectName("InfoScreen");
    auto* il = new QGridLayout(info);
    lblRecordInformation = new QLabel("Record Information", info);
    lblRecordInformation->setObjectName("lblRecordInformation");
    QFont bold = lblRecordInformation->font();
    bold.setBold(true);
    lblRecordInformation->setFont(bold);
    lblCodeNo = new QLabel("Code Number", info);
    lblCodeNo->setObjectName("lblCodeNo");
    txtCodeNo = field(info, "txtCodeNo", lblCodeNo);
    txtCodeNo->setMaxLength(3);
    lblName = new QLabel("Name", info);
    lblName->setObjectName("lblName");
    txtName = field(info, "txtName", lblName);
    txtName->setMaxLength(35);
    lblContact = new QLabel("Swipe Card No.", info);
    lblContact->setObjectName("lblContact");
    txtContact = field(info, "txtContact", lblContact);
    // The width of fax_no: a longer number is refused, not cut.
    txtContact->setMaxLength(20);
    txtContact->setFocusPolicy(Qt::ClickFocus);
    txtContact->setVisible(mode == Mode::kCustomer);
    lblContact->setVisible(mode == Mode::kCustomer);
    il->addWidget(lblRecordInformation, 0, 0, 1, 2);
    il->addWidget(lblCodeNo, 1, 0);
    il->addWidget(txtCodeNo, 1, 1);
    il->addWidget(lblName, 2, 0);
    il->addWidget(txtName, 2, 1);
    il->addWidget(lblContact, 3, 0);
    il->addWidget(txtContact, 3, 1);
    il->setRowStretch(4, 1);
    il->setColumnStretch(1, 1);
    Notebook1->addWidget(info);

    auto* buttons = new QHBoxLayout;
    cmdEdit = button(this, "cmdEdit", "&Edit");
    cmdAdd = button(this, "cmdAdd", "&Add");
    cmdDelete = button(this, "cmdDelete", "&Delete");
    cmdPrint = button(this, "cmdPrint", "&Print");
    cmdNext = button(this, "cmdNext", "&Next >>");
    // E&xit: Alt+E is Edit's.
    cmdExit = button(this, "cmdExit", "E&xit");
    buttons->addStretch();
    for (QPushButton* b : {cmdEdit, cmdAdd, cmdDelete, cmdPrint, cmdNext, cmdExit}) {
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        buttons->addWidget(b);
        station::pressOnEnter(b);
    }
    buttons->addStretch();
    root->addLayout(buttons);
    QWidget* order[] = {cmdEdit, cmdAdd, cmdDelete, cmdPrint, cmdNext, cmdExit};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(cmdEdit, &QPushButton::clicked, this, &TfrmView::cmdEditClick);
    connect(cmdAdd, &QPushButton::clicked, this, &TfrmView::cmdAddClick);
    connect(cmdDelete, &QPushButton::clicked, this, &TfrmView::cmdDeleteClick);
    connect(cmdNext, &QPushButton::clicked, this, &TfrmView::cmdNextClick);
    connect(cmdExit, &QPushButton::clicked, this, &TfrmView::cmdExitClick);
    connect(cmdPrint, &QPushButton::clicked, this, [this] {
        if (listPrinter())
            listPrinter()(mode_, dataDir_, this);
    });
    connect(StringGrid1, &QTableWidget::cellDoubleClicked, this, &TfrmView::StringGrid1DblClick);
    for (QLineEdit* e : {txtCodeNo, txtName, txtContact})
        e->installEventFilter(this);
    StringGrid1->installEventFilter(this);

    // Usable at 1024x768 and up: the grid grows with the window.
    resize(QSize(660, 470).expandedTo(sizeHint()));
    if (mode_ == Mode::kCustomer)
        devices::CardLines().setRecordEditor(this);
}

TfrmView::~TfrmView()
{
    devices::CardLines().forget(this);
    table_.reset();
}

void TfrmView::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TfrmView::FormShow()
{
    dataDir_ = catalogue::dataDir();
    if (records::isTicketMode(mode_)) {
        for (QPushButton* b : {cmdEdit, cmdAdd, cmdDelete, cmdPrint})
            b->hide();
        if (mode_ == Mode::kTickets) {
            Notebook1->setCurrentIndex(kDateSelectionScreen);
            MonthCalendar1->setSelectedDate(QDate(catalogue::today().year, catalogue::today().month,
                                                  catalogue::today().day));
            lblTitle->clear();
            cmdNext->setText("&Next >>");
        } else {
            Notebook1->setCurrentIndex(kViewRecordScreen);
            cmdNext->hide();
            lblTitle->setText("Incompleted Inbound Records");
            ShowRecord(dataDir_ + "Ticket.dbf");
        }
        return;
    }
    Notebook1->setCurrentIndex(kViewRecordScreen);
    cmdNext->hide();
    lblTitle->setText(mode_ == Mode::kCustomer ? "Customer Records" : "Product Records");
    table_ = std::make_unique<records::MasterTable>(mode_, dataDir_);
    if (!table_->indexMessage().empty())
        dialogs::ShowMessage(table_->isOpen() ? dialogs::kInformation : dialogs::kError, "Record Information",
                             table_->indexMessage());
    if (!table_->isOpen())
        dialogs::ShowMessage(dialogs::kError, "Record Error",
                             "The table " + table_->path() + " cannot be opened.\rNothing can be changed here.");
    ShowRecord(dataDir_ + "Ticket.dbf");
    SetHints();
    StringGrid1->setFocus();
}

void TfrmView::SetHints()
{
    const bool customer = mode_ == Mode::kCustomer;
    for (QWidget* w : std::initializer_list<QWidget*> {txtCodeNo, lblCodeNo})
        w->setToolTip("Code Number");
    for (QWidget* w : std::initializer_list<QWidget*> {txtName, lblName})
        w->setToolTip(customer ? "Customer Name" : "Product Name");
    if (customer)
        for (QWidget* w : std::initializer_list<QWidget*> {txtContact, lblContact})
            w->setToolTip("Swipe Card No.");
}

void TfrmView::fillMasters()
{
    const bool customer = mode_ == Mode::kCustomer;
    StringGrid1->clear();
    StringGrid1->setColumnCount(customer ? 3 : 2);
    StringGrid1->setHorizontalHeaderLabels(customer ? QStringList {"CODE NO.", "CUSTOMER NAME", "SWIPE CARD NO."}
                                                    : QStringList {"CODE NO.", "NAME"});
    const int widths[] = {customer ? 60 : 100, customer ? 240 : 300, 150};
    for (int c = 0; c < StringGrid1->columnCount(); ++c)
        StringGrid1->setColumnWidth(c, widths[c]);
    shown_ = table_ ? table_->rows() : std::vector<records::MasterRow> {};
    // With no records the headings stand over one empty row.
    StringGrid1->setRowCount(std::max<int>(1, int(shown_.size())));
    for (int r = 0; r < int(shown_.size()); ++r) {
        const auto& row = shown_[std::size_t(r)];
        StringGrid1->setItem(r, 0, new QTableWidgetItem(qs(row.code)));
        StringGrid1->setItem(r, 1, new QTableWidgetItem(qs(row.name)));
        if (customer)
            StringGrid1->setItem(r, 2, new QTableWidgetItem(qs(row.card)));
    }
    if (!shown_.empty())
        StringGrid1->setCurrentCell(0, 0);
}

void TfrmView::fillTickets(const std::vector<records::TicketRow>& rows)
{
    StringGrid1->clear();
    StringGrid1->setColumnCount(records::kTicketColumns);
    QStringList headings;
    for (const char* h : kTicketHeadings)
        headings << h;
    StringGrid1->setHorizontalHeaderLabels(headings);
    for (int c = 0; c < records::kTicketColumns; ++c)
        StringGrid1->setColumnWidth(c, kTicketWidths[c]);
    StringGrid1->setRowCount(std::max<int>(1, int(rows.size())));
    for (int r = 0; r < int(rows.size()); ++r)
        for (int c = 0; c < records::kTicketColumns; ++c)
            StringGrid1->setItem(r, c, new QTableWidgetItem(qs(rows[std::size_t(r)][std::size_t(c)])));
    if (!rows.empty())
        StringGrid1->setCurrentCell(0, 0);
}

void TfrmView::ShowRecord(const std::string& path)
{
    if (records::isTicketMode(mode_)) {
        fillTickets(records::ticketRows(path));
        return;
    }
    fillMasters();
    CheckStatus();
}

void TfrmView::UpdateGrid() { fillMasters(); }

void TfrmView::CheckStatus()
{
    const bool any = !shown_.empty();
    cmdEdit->setEnabled(any);
    cmdDelete->setEnabled(any);
    cmdPrint->setEnabled(any && bool(listPrinter()));
}

int TfrmView::selectedRow() const
{
    const int r = StringGrid1->currentRow();
    return r >= 0 && r < int(shown_.size()) ? r : -1;
}

void TfrmView::browsing()
{
    ++entryShown_;
    Notebook1->setCurrentIndex(kViewRecordScreen);
    for (QPushButton* b : {cmdEdit, cmdAdd, cmdDelete})
        b->show();
    cmdNext->hide();
    cmdNext->setText("&OK");
    cmdExit->setText("E&xit");
    cmdPrint->show();
    CheckStatus();
    StringGrid1->setFocus();
}

void TfrmView::entryOpen()
{
    ++entryShown_;
    for (QPushButton* b : {cmdEdit, cmdAdd, cmdDelete, cmdPrint})
        b->hide();
    cmdNext->setText("&OK");
    cmdNext->show();
    cmdExit->setText("&Cancel");
    const bool customer = mode_ == Mode::kCustomer;
    txtContact->setVisible(customer);
    lblContact->setVisible(customer);
}

void TfrmView::refreshAfterChange()
{
    dialogs::ShowMessage(dialogs::kWarning, "Warning",
                         "The records have been changed by another program.\r\rThe list shows them as they are now; "
                         "please choose the record again.");
    UpdateGrid();
    browsing();
}

void TfrmView::cmdAddClick()
{
    editing_ = false;
    cmdPrint->hide();
    Notebook1->setCurrentIndex(kInfoScreen);
    for (QLineEdit* e : {txtCodeNo, txtName, txtContact})
        e->clear();
    entryOpen();
    txtCodeNo->setFocus();
}

void TfrmView::cmdEditClick()
{
    const int row = selectedRow();
    if (row < 0 || !table_)
        return;
    if (!table_->rowIs(row, shown_[std::size_t(row)])) {
        refreshAfterChange();
        return;
    }
    editing_ = true;
    for (QLineEdit* e : {txtCodeNo, txtName, txtContact})
        e->clear();
    entryOpen();
    const auto& r = shown_[std::size_t(row)];
    txtCodeNo->setText(qs(r.code));
    txtName->setText(qs(r.name));
    if (mode_ == Mode::kCustomer)
        txtContact->setText(qs(r.card));
    Notebook1->setCurrentIndex(kInfoScreen);
    txtCodeNo->setFocus();
}

bool TfrmView::CheckInputData()
{
    const records::MasterEntry e {ss(txtCodeNo->text()), ss(txtName->text()), ss(txtContact->text())};
    const std::optional<int> row = editing_ ? std::optional<int>(selectedRow()) : std::nullopt;
    const records::MasterRow shown = row && *row >= 0 ? shown_[std::size_t(*row)] : records::MasterRow {};
    switch (table_ ? table_->checkInput(e, row, shown) : records::Check::kOk) {
    case records::Check::kStale: refreshAfterChange(); return false;
    case records::Check::kBlankName:
        dialogs::BlankWarning("Name");
        txtName->setFocus();
        return false;
    case records::Check::kDuplicate:
        dialogs::ShowMessage(dialogs::kWarning, "Warning",
                             "Record with the same Name already exists.\r\rUse another Name for the new record.");
        txtName->setFocus();
        return false;
    case records::Check::kUnstorable:
        dialogs::ShowMessage(dialogs::kWarning, "Warning", table_->refusal().message);
        (table_->refusal().card ? txtContact : txtName)->setFocus();
        return false;
    default: return true;
    }
}

void TfrmView::UpdateTable()
{
    const records::MasterEntry e {ss(txtCodeNo->text()), ss(txtName->text()), ss(txtContact->text())};
    const int row = selectedRow();
    const std::optional<int> editingRow = editing_ ? std::optional<int>(row) : std::nullopt;
    const records::MasterRow shown = editing_ && row >= 0 ? shown_[std::size_t(row)] : records::MasterRow {};
    switch (table_->write(e, editingRow, shown)) {
    case records::Written::kStoredWithoutCard:
        dialogs::ShowMessage(dialogs::kError, "Error", "Swipe card number has been used by another customer!");
        break;
    case records::Written::kStale: refreshAfterChange(); return;
    case records::Written::kCardTooLong:
        dialogs::ShowMessage(dialogs::kError, "Error", "The swipe card number is longer than a card number can be.");
        txtContact->setFocus();
        return;
    case records::Written::kFailed:
        dialogs::ShowMessage(dialogs::kError, "Record Error", "The record could not be stored in " + table_->path() + ".");
        return;
    default: break;
    }
    UpdateGrid();
    browsing();
}

void TfrmView::cmdNextClick()
{
    if (mode_ == Mode::kTickets) {
        if (Notebook1->currentIndex() == kDateSelectionScreen) {
            const QDate q = MonthCalendar1->selectedDate();
            const xb::Date day {q.year(), q.month(), q.day()};
            const auto rows = records::dayTicketRows(dataDir_, day);
            if (!rows) {
                dialogs::ShowMessage(dialogs::kWarning, "Warning",
                                     "No record can be found for the selected date.\r\rPlease select another date.");
                return;
            }
            Notebook1->setCurrentIndex(kViewRecordScreen);
            cmdNext->setText("<< &Back");
            lblTitle->setText(qs("Ticket Records on " + values::longDateText(day)));
            fillTickets(*rows);
        } else {
            Notebook1->setCurrentIndex(kDateSelectionScreen);
            cmdNext->setText("&Next >>");
            lblTitle->clear();
        }
        return;
    }
    if (cmdNext->text() != "&OK" || !table_)
        return;
    if (!CheckInputData())
        return;
    UpdateTable();
}

void TfrmView::cmdDeleteClick()
{
    const int row = selectedRow();
    if (row < 0 || !table_)
        return;
    if (dialogs::ShowMessage(dialogs::kWarning, "Delete Warning",
                             "Are you sure you would like to delete the selected record?",
                             dialogs::kYes | dialogs::kNo) != dialogs::Answer::kYes)
        return;
    bool stale = false;
    if (!table_->remove(row, shown_[std::size_t(row)], stale)) {
        if (stale)
            refreshAfterChange();
        return;
    }
    // The row goes from the grid as the record went from the table.
    shown_.erase(shown_.begin() + row);
    if (shown_.empty()) {
        for (int c = 0; c < StringGrid1->columnCount(); ++c)
            delete StringGrid1->takeItem(0, c);
    } else {
        StringGrid1->removeRow(row);
    }
    CheckStatus();
    StringGrid1->setFocus();
}

void TfrmView::cmdExitClick()
{
    if (cmdExit->text() == "&Cancel") {
        browsing();
        return;
    }
    table_.reset();  // the connection closes with its tables
    done(QDialog::Rejected);
}

void TfrmView::reject()
{
    // Escape and the close box: Cancel while an entry is open, else Exit.
    cmdExitClick();
}

void TfrmView::StringGrid1DblClick()
{
    if (Notebook1->currentIndex() != kViewRecordScreen)
        return;
    table_.reset();
    done(QDialog::Accepted);
}

std::string TfrmView::chosenTicket() const
{
    if (result() != QDialog::Accepted || mode_ != Mode::kPartial)
        return {};
    const int r = StringGrid1->currentRow();
    const QTableWidgetItem* item = r >= 0 ? StringGrid1->item(r, 0) : nullptr;
    return item ? ss(item->text()) : std::string();
}

bool TfrmView::accepts() const
{
    return mode_ == Mode::kCustomer && isVisible() && Notebook1->currentIndex() == kInfoScreen;
}

void TfrmView::deliver(const std::string& text)
{
    txtContact->setFocus();
    const QString card = qs(text);
    if (card.size() > txtContact->maxLength()) {
        dialogs::ShowMessage(dialogs::kError, "Card Error",
                             "The card read is longer than the " + std::to_string(txtContact->maxLength()) +
                                 " characters a card number can hold.\rIt was not taken.");
        return;
    }
    txtContact->setText(card);
}

bool TfrmView::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::FocusOut && watched == txtName && mode_ == Mode::kCustomer &&
        Notebook1->currentIndex() == kInfoScreen) {
        // Leaving the name by the operator's means (Tab, Shift+Tab, a click)
        // goes on to the card number; not when the window moves the focus
        // itself (opening an entry, a message over it, a page changing).
        const Qt::FocusReason why = static_cast<QFocusEvent*>(e)->reason();
        if (why == Qt::TabFocusReason || why == Qt::BacktabFocusReason || why == Qt::MouseFocusReason)
            QTimer::singleShot(0, this, [this, entry = entryShown_] {
                if (entry == entryShown_ && Notebook1->currentIndex() == kInfoScreen && !cmdExit->hasFocus() &&
                    !cmdNext->hasFocus())
                    txtContact->setFocus();
            });
        return QDialog::eventFilter(watched, e);
    }
    if (e->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, e);
    auto* k = static_cast<QKeyEvent*>(e);
    const int key = k->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (watched == StringGrid1) {
        // Enter on a row is the keyboard's double-click.
        if (enter) {
            StringGrid1DblClick();
            return true;
        }
        return QDialog::eventFilter(watched, e);
    }
    if (enter) {
        if (watched == txtCodeNo)
            txtName->setFocus();
        else if (watched == txtName && mode_ == Mode::kCustomer)
            txtContact->setFocus();
        else if (watched == txtContact)
            cmdNext->setFocus();
        return true;
    }
    if (watched == txtCodeNo && !k->text().isEmpty() && key != Qt::Key_Backspace) {
        const QChar c = k->text()[0];
        if (!(c >= '0' && c <= '9') || txtCodeNo->text().size() >= 3)
            return true;
    }
    return QDialog::eventFilter(watched, e);
}

// ---------------------------------------------------------------- opening

namespace records {

namespace {

template <class F>
auto showView(TfrmMain& station, Mode mode, const char* caption, F&& after)
{
    TfrmView view(mode, &station);
    view.setWindowTitle(caption);
    view.exec();
    dialogs::takeFocus(&station);
    if (station.txtTicketNo->isEnabled())
        station.txtTicketNo->setFocus();
    return after(view);
}

}  // namespace

void installRecordWindows()
{
    station::StationWindows& w = station::Windows();
    w.editCustomers = [](TfrmMain& s) { showView(s, Mode::kCustomer, "Customer Information", [](TfrmView&) {}); };
    w.editProducts = [](TfrmMain& s) { showView(s, Mode::kProduct, "Product Information", [](TfrmView&) {}); };
    w.viewTickets = [](TfrmMain& s) { showView(s, Mode::kTickets, "View Records", [](TfrmView&) {}); };
    w.choosePartial = [](TfrmMain& s) -> std::optional<std::string> {
        std::string chosen = showView(s, Mode::kPartial, "View Records", [](TfrmView& v) { return v.chosenTicket(); });
        if (chosen.empty())
            return std::nullopt;
        return chosen;
    };
}

}  // namespace records

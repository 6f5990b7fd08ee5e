#include "monthend/EndMonth.h"

#include "data/Catalogue.h"
#include "data/TicketValues.h"
#include "dialogs/MessageSeam.h"
#include "dialogs/WindowFocus.h"
#include "station/main.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kFixedColumns = 3;

const char* const kHeadings[monthend::kColumns] = {
    "TICKET",  "CUSTOMER", "CARRIER",  "COMPANY",  "TRUCK",   "PRODUCT",  "P.O. NO.", "PAYMENT",
    "AMOUNT",  "GST",      "PST",      "TOTAL",    "LBS.",    "IN TIME",  "IN DATE",  "OUT TIME",
    "OUT DATE", "IN WGT.", "OUT WGT.", "NET WGT.", "COMPLETE", "USER ID"};
const int kWidths[monthend::kColumns] = {50, 115, 115, 115, 115, 115, 100, 70, 80, 40, 100,
                                         100, 30, 50, 75, 60, 75, 60, 60, 60, 80, 100};

QPushButton* button(QWidget* parent, const char* name, const char* caption, const char* colour = nullptr)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setMinimumSize(80, 36);
    b->setAutoDefault(false);
    if (colour)
        b->setStyleSheet(QString("QPushButton { color: %1; font-weight: bold; }").arg(colour));
    return b;
}

}  // namespace

TfrmEndMonth::TfrmEndMonth(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmEndMonth");
    setWindowTitle("End Of Month");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
    auto* root = new QVBoxLayout(this);
    pages = new QStackedWidget(this);
    pages->setObjectName("pages");
    root->addWidget(pages, 1);

    auto* p0 = new QWidget(pages);
    auto* g = new QGridLayout(p0);
    lblTitle = new QLabel("Select Date for Month End", p0);
    lblTitle->setObjectName("lblTitle");
    QFont big = lblTitle->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 4);
    lblTitle->setFont(big);
    lblYear = new QLabel("Year", p0);
    lblYear->setObjectName("lblYear");
    speYear = new QSpinBox(p0);
    speYear->setObjectName("speYear");
    speYear->setRange(1000, 9999);
    lblYear->setBuddy(speYear);
    speYear->setAccessibleName("Year");
    lblMonth = new QLabel("Month", p0);
    lblMonth->setObjectName("lblMonth");
    txtMonth = new QLineEdit(p0);
    txtMonth->setObjectName("txtMonth");
    txtMonth->setEnabled(false);
    txtMonth->setFocusPolicy(Qt::NoFocus);
    txtMonth->setAccessibleName("Month");
    spbMonth = new QWidget(p0);
    spbMonth->setObjectName("spbMonth");
    auto* sl = new QVBoxLayout(spbMonth);
    sl->setContentsMargins(0, 0, 0, 0);
    sl->setSpacing(0);
    spbMonthUp = new QToolButton(spbMonth);
    spbMonthUp->setObjectName("spbMonthUp");
    spbMonthUp->setArrowType(Qt::UpArrow);
    spbMonthUp->setAccessibleName("Next month");
    spbMonthDown = new QToolButton(spbMonth);
    spbMonthDown->setObjectName("spbMonthDown");
    spbMonthDown->setArrowType(Qt::DownArrow);
    spbMonthDown->setAccessibleName("Previous month");
    sl->addWidget(spbMonthUp);
    sl->addWidget(spbMonthDown);
    lblMonth->setBuddy(spbMonthUp);
    g->addWidget(lblTitle, 0, 0, 1, 3, Qt::AlignCenter);
    g->addWidget(lblYear, 1, 0);
    g->addWidget(speYear, 1, 1);
    g->addWidget(lblMonth, 2, 0);
    g->addWidget(txtMonth, 2, 1);
    g->addWidget(spbMonth, 2, 2);
    g->setRowStretch(3, 1);
    pages->addWidget(p0);

    auto* p1 = new QWidget(pages);
    auto* v = new QVBoxLayout(p1);
    lblPg1 = new QLabel(p1);
    lblPg1->setObjectName("lblPg1");
    lblPg1->setFont(big);
    auto* countRow = new QHBoxLayout;
    lblTotalRecord = new QLabel("Total No. of Records:", p1);
    lblTotalRecord->setObjectName("lblTotalRecord");
    lblTotalRecord->setStyleSheet("QLabel { color: red; }");
    txtTotalRecord = new QLineEdit(p1);
    txtTotalRecord->setObjectName("txtTotalRecord");
    txtTotalRecord->setReadOnly(true);
    lblTotalRecord->setBuddy(txtTotalRecord);
    txtTotalRecord->setAccessibleName("Total No. of Records:");
    countRow->addWidget(lblTotalRecord);
    countRow->addWidget(txtTotalRecord);
    countRow->addStretch();
    StringGrid1 = new QTableWidget(p1);
    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->setAccessibleName("Records");
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setDefaultSectionSize(20);
    StringGrid1->horizontalHeader()->setStyleSheet("QHeaderView::section { background: aqua; }");
    StringGrid1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    StringGrid1Fixed = new QTableView(StringGrid1);
    StringGrid1Fixed->setObjectName("StringGrid1Fixed");
    StringGrid1Fixed->setAccessibleName("Records, first columns");
    StringGrid1Fixed->setModel(StringGrid1->model());
    StringGrid1Fixed->setSelectionModel(StringGrid1->selectionModel());
    StringGrid1Fixed->setFocusPolicy(Qt::NoFocus);
    StringGrid1Fixed->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1Fixed->verticalHeader()->hide();
    StringGrid1Fixed->verticalHeader()->setDefaultSectionSize(20);
    StringGrid1Fixed->horizontalHeader()->setStyleSheet("QHeaderView::section { background: aqua; }");
    StringGrid1Fixed->setStyleSheet("QTableView { background: aqua; }");
    StringGrid1Fixed->setFrameShape(QFrame::NoFrame);
    StringGrid1Fixed->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1Fixed->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1Fixed->setVerticalScrollMode(StringGrid1->verticalScrollMode());
    // The rows scroll together, and a fixed column keeps the width the
    // operator gives it in either view.
    connect(StringGrid1->verticalScrollBar(), &QScrollBar::valueChanged, StringGrid1Fixed->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(StringGrid1Fixed->verticalScrollBar(), &QScrollBar::valueChanged, StringGrid1->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(StringGrid1->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int c, int, int w) {
        if (c < kFixedColumns) {
            StringGrid1Fixed->setColumnWidth(c, w);
            placeFixedColumns();
        }
    });
    connect(StringGrid1Fixed->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int c, int, int w) {
        if (c < kFixedColumns)
            StringGrid1->setColumnWidth(c, w);
    });
    // A cell reached with the keyboard comes into view beside the fixed
    // columns: the grid's own scrolling would leave it beneath them.
    connect(StringGrid1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!current.isValid() || current.column() < kFixedColumns)
                    return;
                const int fixedRight = StringGrid1Fixed->x() + StringGrid1Fixed->width() - StringGrid1->viewport()->x();
                const int left = StringGrid1->visualRect(current).left();
                if (left < fixedRight) {
                    QScrollBar* bar = StringGrid1->horizontalScrollBar();
                    bar->setValue(bar->value() - (fixedRight - left));
                }
            });
    StringGrid1->installEventFilter(this);
    StringGrid1->viewport()->installEventFilter(this);
    v->addWidget(lblPg1);
    v->addLayout(countRow);
    v->addWidget(StringGrid1, 1);
    pages->addWidget(p1);

    auto* buttons = new QHBoxLayout;
    cmdBack = button(this, "cmdBack", "<< &Back");
    cmdNext = button(this, "cmdNext", "&Next >>");
    cmdOK = button(this, "cmdOK", "&OK", "blue");
    cmdCancel = button(this, "cmdCancel", "&Cancel", "red");
    buttons->addStretch();
    for (QPushButton* b : {cmdBack, cmdNext, cmdOK, cmdCancel})
        buttons->addWidget(b);
    root->addLayout(buttons);

    connect(spbMonthUp, &QToolButton::clicked, this, &TfrmEndMonth::spbMonthUpClick);
    connect(spbMonthDown, &QToolButton::clicked, this, &TfrmEndMonth::spbMonthDownClick);
    connect(cmdNext, &QPushButton::clicked, this, &TfrmEndMonth::cmdNextClick);
    connect(cmdBack, &QPushButton::clicked, this, &TfrmEndMonth::cmdBackClick);
    connect(cmdOK, &QPushButton::clicked, this, &TfrmEndMonth::cmdOKClick);
    connect(cmdCancel, &QPushButton::clicked, this, &TfrmEndMonth::cmdCancelClick);
    resize(QSize(760, 480).expandedTo(sizeHint()));
}

void TfrmEndMonth::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfrmEndMonth::FormShow()
{
    const xb::Date today = catalogue::today();
    setMonth(today.year, today.month);
    dataDir_ = catalogue::dataDir();
    GoPage(0);
    SetHints();
}

void TfrmEndMonth::SetHints()
{
    for (QWidget* w : std::initializer_list<QWidget*> {speYear, lblYear})
        w->setToolTip("Select the Year for Month End");
    for (QWidget* w : std::initializer_list<QWidget*> {spbMonth, spbMonthUp, spbMonthDown, lblMonth})
        w->setToolTip("Select the Month for Month End");
}

int TfrmEndMonth::month() const
{
    for (int m = 12; m >= 1; --m)
        if (txtMonth->text() == values::monthName(m))
            return m;
    return 0;
}

int TfrmEndMonth::year() const { return speYear->value(); }

void TfrmEndMonth::setMonth(int y, int m)
{
    speYear->setValue(y);
    txtMonth->setText(values::monthName(m));
}

void TfrmEndMonth::spbMonthUpClick()
{
    const int m = month();
    if (m == 12)
        setMonth(year() + 1, 1);
    else
        setMonth(year(), m + 1);
}

void TfrmEndMonth::spbMonthDownClick()
{
    const int m = month();
    if (m <= 1)
        setMonth(year() - 1, 12);
    else
        setMonth(year(), m - 1);
}

void TfrmEndMonth::GoPage(int page)
{
    if (page == 0) {
        pages->setCurrentIndex(0);
        cmdBack->hide();
        cmdOK->hide();
        cmdNext->show();
        cmdNext->setEnabled(true);
        spbMonthUp->setFocus();
        return;
    }
    txtTotalRecord->setText(QString::number(count_));
    cmdBack->show();
    cmdOK->show();
    pages->setCurrentIndex(1);
    cmdNext->hide();
    lblPg1->setText(QString("Records in %1, %2").arg(txtMonth->text()).arg(year()));
    // A month end cut short is finished by OK, whatever is left to show.
    const bool finish = monthend::interrupted(dataDir_, year(), month());
    cmdOK->setEnabled(count_ > 0 || finish);
    (cmdOK->isEnabled() ? cmdOK : cmdBack)->setFocus();
}

long TfrmEndMonth::ShowRecords()
{
    StringGrid1->clear();
    StringGrid1->setColumnCount(monthend::kColumns);
    QStringList headings;
    for (const char* h : kHeadings)
        headings << h;
    StringGrid1->setHorizontalHeaderLabels(headings);
    for (int c = 0; c < monthend::kColumns; ++c)
        StringGrid1->setColumnWidth(c, kWidths[c]);
    for (int c = 0; c < monthend::kColumns; ++c)
        StringGrid1Fixed->setColumnHidden(c, c >= kFixedColumns);
    placeFixedColumns();
    const monthend::Listing l = monthend::listMonth(dataDir_, year(), month());
    if (!l.error.empty())
        dialogs::ShowMessage(dialogs::kError, "End Of Month", l.error + "\rThe month cannot be closed until it can.");
    StringGrid1->setRowCount(std::max<int>(1, int(l.rows.size())));
    placeFixedColumns();
    for (int r = 0; r < int(l.rows.size()); ++r)
        for (int c = 0; c < monthend::kColumns; ++c)
            StringGrid1->setItem(r, c, new QTableWidgetItem(QString::fromStdString(l.rows[std::size_t(r)][std::size_t(c)])));
    return l.error.empty() ? long(l.rows.size()) : 0;
}

void TfrmEndMonth::placeFixedColumns()
{
    int width = 0;
    for (int c = 0; c < kFixedColumns && c < StringGrid1->columnCount(); ++c) {
        StringGrid1Fixed->setColumnWidth(c, StringGrid1->columnWidth(c));
        width += StringGrid1->columnWidth(c);
    }
    const int frame = StringGrid1->frameWidth();
    StringGrid1Fixed->horizontalHeader()->setFixedHeight(StringGrid1->horizontalHeader()->height());
    StringGrid1Fixed->setGeometry(frame, frame, width,
                                  StringGrid1->viewport()->height() + StringGrid1->horizontalHeader()->height());
    StringGrid1Fixed->verticalScrollBar()->setValue(StringGrid1->verticalScrollBar()->value());
}

bool TfrmEndMonth::eventFilter(QObject* watched, QEvent* e)
{
    if ((watched == StringGrid1 || watched == StringGrid1->viewport()) &&
        (e->type() == QEvent::Resize || e->type() == QEvent::Show))
        placeFixedColumns();
    return QDialog::eventFilter(watched, e);
}

void TfrmEndMonth::cmdNextClick()
{
    count_ = ShowRecords();
    GoPage(1);
}

void TfrmEndMonth::cmdBackClick() { GoPage(0); }

void TfrmEndMonth::cmdOKClick()
{
    const monthend::Result r = monthend::closeMonth(dataDir_, year(), month());
    if (!r.done) {
        dialogs::ShowMessage(dialogs::kError, "End Of Month", r.message);
        return;
    }
    dialogs::ShowMessage(dialogs::kInformation, "End Of Month", r.message);
    accept();
}

void TfrmEndMonth::cmdCancelClick() { reject(); }

namespace monthend {

void installMonthEnd()
{
    station::Windows().endOfMonth = [](TfrmMain& s) {
        TfrmEndMonth w(&s);
        w.exec();
        dialogs::takeFocus(&s);
    };
}

}  // namespace monthend

#include "station/main.h"

#include "data/Catalogue.h"
#include "data/Paths.h"
#include "data/TicketValues.h"
#include "devices/ScaleReading.h"
#include "devices/SerialPort.h"
#include "dialogs/MessageSeam.h"
#include "dialogs/ProgramMessages.h"
#include "dialogs/QtText.h"
#include "dialogs/WindowFocus.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskScreen.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/TicketPrintout.h"
#include "kiosk/fSwipe.h"
#include "station/WindowKeys.h"
#include "station/fAbout.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

using namespace station;

namespace station {

StationWindows& Windows()
{
    static StationWindows w;
    return w;
}

namespace {
QPointer<TfrmMain> g_station;

QString qs(const std::string& s) { return dialogs::toQt(s); }
std::string ss(const QString& s) { return dialogs::fromQt(s); }

const char* const kMissingTables =
    "One or more data files missing in the Setup Directory.\r"
    "Company.dbf, Customer.dbf, Product.dbf, Consignee.dbf, house.dbf and Carrier.dbf.\r\r"
    "Do you want to go back to the Setup Configuration?\r\r"
    "Click  \"Yes\"    will go back to the Setup Configuration.\r"
    "Click  \"No\"     will start the program and new tables will be created automatically.\r"
    "Click  \"Abort\"  will exit the program.";

const char* const kDatabaseNotFound =
    "Database not found in the Setup Directory.\rDo you want to enter the Setup Configuration now?\r\r"
    "Click \"Yes\" will go to Setup Configuration.\rClick \"No\" will exit program.";

// The station's own word on what failed or what comes next, after the
// reports waiting to be shown once the operation returned to the event loop
// (the table engine's reason for it): one box at a time, never one over the
// other.
// Ticket.dbf cut short inside its last record: left for the site to see to.
std::string openCutShortText()
{
    return "The open tickets' table Ticket.dbf is cut short inside a record: it is left as it is, and "
           "nothing was stored.\r\r"
           "Run \"dbftool check\" on it, or ask the site's support.";
}

dialogs::Answer say(int kind, const std::string& caption, const std::string& text, int buttons = dialogs::kOk)
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return dialogs::ShowMessage(kind, caption, text, buttons);
}

}  // namespace

TfrmMain* StationWindow() { return g_station.data(); }

}  // namespace station

// ---------------------------------------------------------------- building

TfrmMain::TfrmMain(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmMain");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    g_station = this;

    lblCaption = new QLabel(this);
    lblCaption->setObjectName("lblCaption");
    lblCaption->setStyleSheet("QLabel { background: navy; color: white; font-weight: bold; padding: 4px 8px; }");
    connect(this, &QWidget::windowTitleChanged, lblCaption, &QLabel::setText);
    setWindowTitle("Ponderix ");

    ApdComPort2 = new devices::SerialPort(this);
    ApdComPort2->setObjectName("ApdComPort2");
    ApdComPort2->setPortNumber(2);

    buildMenu();
    buildEntry();
    connectEvents();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
    lastTick_ = xb::now();
    Timer1->start();
    showPanel(lblDate, qs(values::clockText(lastTick_)));

    // Sized for its layout on a 1024x768 screen and up, centred.
    resize(sizeHint().expandedTo(QSize(900, 560)));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    dialogs::setReportFace(dialogs::Face::kOperator);
}

TfrmMain::~TfrmMain()
{
    dialogs::setReportFace(dialogs::Face::kKiosk);
    if (g_station == this)
        g_station = nullptr;
}

void TfrmMain::buildMenu()
{
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName("MainMenu1");
    auto item = [this](QMenu* menu, const char* name, const char* caption, bool mark = false) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        a->setCheckable(mark);
        return a;
    };
    QMenu* file = MainMenu1->addMenu("&File");
    file->addSeparator();
    mnuExit = item(file, "mnuExit", "&Exit");
    QMenu* edit = MainMenu1->addMenu("&Edit");
    mnuReprintTicket = item(edit, "mnuReprintTicket", "&Reprint Ticket");
    edit->addSeparator();
    mnuEditCustomer = item(edit, "mnuEditCustomer", "Edit Cus&tomer Records", true);
    mnuEditProduct = item(edit, "mnuEditProduct", "Edit &Product Records", true);
    QMenu* view = MainMenu1->addMenu("&View");
    mnuViewPartial = item(view, "mnuViewPartial", "&Partial Records", true);
    mnuViewTicket = item(view, "mnuViewTicket", "&Ticket Records", true);
    // Alt+R is Read Scale's.
    QMenu* reports = MainMenu1->addMenu("Rep&orts");
    mnuTransactionsReport = item(reports, "mnuTransactionsReport", "&Transactions Report");
    QMenu* utilities = MainMenu1->addMenu("&Utilities");
    utilities->addSeparator();
    mnuEndofMonth = item(utilities, "mnuEndofMonth", "&End of Month");
    mnuSetup = item(utilities, "mnuSetup", "&Setup Configuration");
    QMenu* about = MainMenu1->addMenu("&About");
    mnuAbout = item(about, "mnuAbout", "Ponderix...");
}

namespace {

QLabel* label(QWidget* parent, const char* name, const char* caption)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
}

QLineEdit* edit(QWidget* parent, const char* name, QLabel* buddy)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    if (buddy) {
        buddy->setBuddy(e);
        e->setAccessibleName(buddy->text().remove('&'));
    }
    return e;
}

QComboBox* combo(QWidget* parent, const char* name, QLabel* buddy)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->lineEdit()->setMaxLength(35);
    buddy->setBuddy(c);
    c->setAccessibleName(buddy->text());
    c->lineEdit()->setAccessibleName(buddy->text());
    return c;
}

// A black panel with bold text of a colour, for the frame's values.
QLabel* panel(QWidget* parent, const char* name, const char* colour, const QString& text)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setStyleSheet(QString("QLabel { background: black; color: %1; font-weight: bold; padding: 3px; }").arg(colour));
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return l;
}

}  // namespace

void TfrmMain::buildEntry()
{
    auto* root = new QVBoxLayout(this);
    // The title bar of its own and the menu above the window's contents,
    // from edge to edge.
    auto* header = new QWidget(this);
    header->setObjectName("pnlHeader");
    auto* bars = new QVBoxLayout(header);
    bars->setContentsMargins(0, 0, 0, 0);
    bars->setSpacing(0);
    lblCaption->setParent(header);
    MainMenu1->setParent(header);
    bars->addWidget(lblCaption);
    bars->addWidget(MainMenu1);
    root->setMenuBar(header);

    QFont big = font();
    big.setPointSize(big.pointSize() + 2);

    // Top panel: the ticket.
    auto* top = new QGroupBox(this);
    top->setObjectName("pnlTicket");
    auto* g = new QGridLayout(top);
    lblTicketNo = label(top, "lblTicketNo", "Scale Ticket No.");
    txtTicketNo = edit(top, "txtTicketNo", lblTicketNo);
    lblNewTicketNo = label(top, "lblNewTicketNo", "New Ticket No.");
    lblNewTicketNo->setStyleSheet("color: red;");
    txtNewTicketNo = edit(top, "txtNewTicketNo", lblNewTicketNo);
    lblCustomerName = label(top, "lblCustomerName", "Customer Name");
    cboCustomerName = combo(top, "cboCustomerName", lblCustomerName);
    lblProductName = label(top, "lblProductName", "Product Name");
    cboProductName = combo(top, "cboProductName", lblProductName);
    lblTruck = label(top, "lblTruck", "License Plate:");
    txtTruck = edit(top, "txtTruck", lblTruck);
    txtTruck->setMaxLength(12);
    lblRemark = label(top, "lblRemark", "Remarks");
    txtRemarks = edit(top, "txtRemarks", lblRemark);
    txtRemarks->setMaxLength(50);
    g->addWidget(lblTicketNo, 0, 0);
    g->addWidget(txtTicketNo, 0, 1);
    g->addWidget(lblNewTicketNo, 0, 2);
    g->addWidget(txtNewTicketNo, 0, 3);
    g->addWidget(lblCustomerName, 1, 0);
    g->addWidget(cboCustomerName, 1, 1, 1, 3);
    g->addWidget(lblProductName, 2, 0);
    g->addWidget(cboProductName, 2, 1, 1, 3);
    g->addWidget(lblTruck, 3, 0);
    g->addWidget(txtTruck, 3, 1);
    g->addWidget(lblRemark, 4, 0);
    g->addWidget(txtRemarks, 4, 1, 1, 3);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(3, 1);
    root->addWidget(top);

    // Weights panel.
    auto* weights = new QGroupBox(this);
    weights->setObjectName("pnlWeights");
    auto* w = new QGridLayout(weights);
    cmdReadScale = new QPushButton("&Read Scale", weights);
    cmdReadScale->setObjectName("cmdReadScale");
    cmdReadScale->setMinimumHeight(64);
    cmdReadScale->setFont(big);
    chkManualEntry = new QCheckBox("&Manual Weight", weights);
    chkManualEntry->setObjectName("chkManualEntry");
    lblInWeight = label(weights, "lblInWeight", "In Weight");
    txtInWeight = edit(weights, "txtInWeight", lblInWeight);
    lblInTime = label(weights, "lblInTime", "In Time");
    txtInTime = edit(weights, "txtInTime", lblInTime);
    txtInTime->setMaxLength(5);
    txtInTime->setFocusPolicy(Qt::NoFocus);
    txtInTime->setEnabled(false);
    lblOutWeight = label(weights, "lblOutWeight", "Out Weight");
    txtOutWeight = edit(weights, "txtOutWeight", lblOutWeight);
    txtOutWeight->setAlignment(Qt::AlignRight);
    lblInDate = label(weights, "lblInDate", "In Date");
    txtInDate = edit(weights, "txtInDate", lblInDate);
    txtInDate->setFocusPolicy(Qt::NoFocus);
    txtInDate->setEnabled(false);
    lblNetWeight = label(weights, "lblNetWeight", "Net Weight");
    txtNetWeight = new QLCDNumber(10, weights);
    txtNetWeight->setObjectName("txtNetWeight");
    txtNetWeight->setSegmentStyle(QLCDNumber::Flat);
    txtNetWeight->setMinimumHeight(64);
    txtNetWeight->setAccessibleName("Net Weight");
    lblNetWeight->setBuddy(txtNetWeight);
    txtInWeight->setEnabled(false);
    txtOutWeight->setEnabled(false);
    w->addWidget(cmdReadScale, 0, 0, 2, 1);
    w->addWidget(chkManualEntry, 2, 0);
    w->addWidget(lblInWeight, 0, 1);
    w->addWidget(txtInWeight, 0, 2);
    w->addWidget(label(weights, "lblInKg", "kg"), 0, 3);
    w->addWidget(lblInTime, 0, 4);
    w->addWidget(txtInTime, 0, 5);
    w->addWidget(lblOutWeight, 1, 1);
    w->addWidget(txtOutWeight, 1, 2);
    w->addWidget(label(weights, "lblOutKg", "kg"), 1, 3);
    w->addWidget(lblInDate, 1, 4);
    w->addWidget(txtInDate, 1, 5);
    w->addWidget(lblNetWeight, 2, 1);
    w->addWidget(txtNetWeight, 2, 2, 1, 4);
    w->setColumnStretch(2, 1);
    w->setColumnStretch(5, 1);
    root->addWidget(weights, 1);

    auto* buttons = new QHBoxLayout;
    cmdClear = new QPushButton("&Clear/Reset", this);
    cmdClear->setObjectName("cmdClear");
    cmdPrint = new QPushButton("&Done", this);
    cmdPrint->setObjectName("cmdPrint");
    for (QPushButton* b : {cmdClear, cmdPrint}) {
        b->setMinimumHeight(40);
        b->setAutoDefault(false);
    }
    cmdReadScale->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(cmdClear);
    buttons->addWidget(cmdPrint);
    root->addLayout(buttons);

    // Frame: the clock, the user and the status line.
    auto* frame = new QGridLayout;
    lblCurrentDate = label(this, "lblCurrentDate", "Current Date/Time:");
    lblDate = panel(this, "lblDate", "lime", {});
    lblLoginUser = label(this, "lblLoginUser", "Current Login User:");
    lblUser = panel(this, "lblUser", "lime", "User");
    lblStatus = label(this, "lblStatus", "Status:");
    pnlStatus = panel(this, "pnlStatus", "yellow", "System Ready");
    lblCurrentDate->setBuddy(lblDate);
    lblLoginUser->setBuddy(lblUser);
    lblStatus->setBuddy(pnlStatus);
    // Each panel is named by its caption and the value it shows, kept up
    // to date, so a screen reader reads both.
    showPanel(lblUser, "User");
    showPanel(pnlStatus, "System Ready");
    frame->addWidget(lblCurrentDate, 0, 0);
    frame->addWidget(lblDate, 0, 1);
    frame->addWidget(lblLoginUser, 0, 2);
    frame->addWidget(lblUser, 0, 3);
    frame->addWidget(lblStatus, 1, 0);
    frame->addWidget(pnlStatus, 1, 1, 1, 3);
    frame->setColumnStretch(1, 1);
    frame->setColumnStretch(3, 1);
    root->addLayout(frame);

    // Tab order: the top panel, then the weights panel.
    QWidget* order[] = {txtTicketNo, txtNewTicketNo, cboCustomerName, cboProductName, txtTruck,
                        txtRemarks, cmdReadScale, chkManualEntry, txtInWeight, txtOutWeight,
                        cmdClear, cmdPrint};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    // Numbers and weights take as many digits as they may be typed with and
    // nothing else, however they arrive (typed, pasted, dropped). A reading
    // of the scale is put in as it came.
    for (auto [field, digits] : {std::pair {txtTicketNo, 5}, std::pair {txtNewTicketNo, 5},
                                 std::pair {txtInWeight, 6}, std::pair {txtOutWeight, 6}}) {
        const QString pattern = QString("[0-9]{0,%1}").arg(digits);
        field->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), field));
    }
    txtTicketNo->setMaxLength(5);
    txtNewTicketNo->setMaxLength(5);
    // Enter presses the buttons; the Manual Weight box keeps Space to
    // change it, so an Enter meant for Print never turns it over.
    for (QPushButton* b : {cmdReadScale, cmdClear, cmdPrint})
        station::pressOnEnter(b);

    lblNewTicketNo->hide();
    txtNewTicketNo->hide();
    showNet();
}

void TfrmMain::connectEvents()
{
    connect(mnuExit, &QAction::triggered, this, [this] { done(QDialog::Rejected); });
    connect(mnuReprintTicket, &QAction::triggered, this, &TfrmMain::mnuReprintTicketClick);
    connect(mnuEditCustomer, &QAction::triggered, this, [this] {
        openRecordWindow(mnuEditCustomer, Windows().editCustomers, "Edit Customer Records");
        loadList(cboCustomerName, catalogue::kCustomerLayout);
    });
    connect(mnuEditProduct, &QAction::triggered, this, [this] {
        openRecordWindow(mnuEditProduct, Windows().editProducts, "Edit Product Records");
        loadList(cboProductName, catalogue::kProductLayout);
    });
    connect(mnuViewTicket, &QAction::triggered, this,
            [this] { openRecordWindow(mnuViewTicket, Windows().viewTickets, "View Ticket Records"); });
    connect(mnuViewPartial, &QAction::triggered, this, &TfrmMain::mnuViewPartialClick);
    connect(mnuTransactionsReport, &QAction::triggered, this, [this] {
        if (Windows().transactionsReport)
            Windows().transactionsReport(*this);
        else
            notAvailable("The Transactions Report");
    });
    connect(mnuEndofMonth, &QAction::triggered, this, [this] {
        if (Windows().endOfMonth)
            Windows().endOfMonth(*this);
        else
            notAvailable("End of Month");
    });
    connect(mnuSetup, &QAction::triggered, this, &TfrmMain::mnuSetupClick);
    connect(mnuAbout, &QAction::triggered, this, &TfrmMain::aboutClick);

    connect(cmdReadScale, &QPushButton::clicked, this, &TfrmMain::cmdReadScaleClick);
    connect(chkManualEntry, &QCheckBox::clicked, this, &TfrmMain::SetWeightEntryPanel);
    connect(cmdPrint, &QPushButton::clicked, this, &TfrmMain::cmdPrintClick);
    connect(cmdClear, &QPushButton::clicked, this, &TfrmMain::ClearScreen);
    // The net follows the weights' texts as they are, however they changed.
    for (QLineEdit* w : {txtInWeight, txtOutWeight})
        connect(w, &QLineEdit::textChanged, this, &TfrmMain::showNet);

    for (QObject* o : std::initializer_list<QObject*> {txtTicketNo, txtNewTicketNo, cboCustomerName->lineEdit(),
                                                       cboProductName->lineEdit(), txtTruck, txtRemarks, txtInWeight,
                                                       txtOutWeight})
        o->installEventFilter(this);
}

// ---------------------------------------------------------------- frame

void TfrmMain::notAvailable(const char* what)
{
    say(dialogs::kInformation, "Ponderix", std::string(what) + " is not available yet.");
}

void TfrmMain::openRecordWindow(QAction* mark, const std::function<void(TfrmMain&)>& window, const char* what)
{
    mark->setChecked(true);
    if (window)
        window(*this);
    else
        notAvailable(what);
    mark->setChecked(false);
}

void TfrmMain::aboutClick()
{
    TfrmAbout about(this);
    about.exec();
    dialogs::takeFocus(this);
}

void TfrmMain::keyPressEvent(QKeyEvent* e)
{
    // The station closes by Exit or its close box only: Escape, pressed to
    // leave a list, must not throw the screen away.
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void TfrmMain::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!shown_) {
        shown_ = true;
        // After the window is up, so that a dialog of the start-up shows
        // over it and the start-up may close it.
        QTimer::singleShot(0, this, &TfrmMain::FormShow);
    }
}

void TfrmMain::requestTerminate()
{
    terminate_ = true;
    done(QDialog::Rejected);
}

bool TfrmMain::GetSettings()
{
    ApdComPort2->close();
    const SettingsResult r = readStationSettings();
    if (!r.settings) {
        // Nothing is stored through settings that could not be read.
        tickets_.reset();
        settingsRead_ = false;
        say(dialogs::kError, "Ponderix", r.error);
        return false;
    }
    settings_ = *r.settings;
    settingsRead_ = true;
    followSetup_ = true;
    ApdComPort2->setPortNumber(settings_.printerPort);
    kiosk::KioskSettings().printerPort = settings_.printerPort;
    // Without a data directory the tables would land in whatever directory
    // the program was started in: no tickets then.
    if (settings_.dataDir.empty())
        tickets_.reset();
    else
        tickets_.emplace(settings_.dataDir);
    return true;
}

void TfrmMain::followDataDir()
{
    // setup.dbf may name another data directory since it was read (the
    // site tool moved the data, another program's Setup): the tickets go
    // where it names now, never into the directory left behind.
    if (!followSetup_)
        return;
    const SettingsResult r = readStationSettings();
    if (!r.settings) {
        // Nothing is stored through settings that cannot be read now.
        tickets_.reset();
        settingsRead_ = false;
        return;
    }
    const bool moved = r.settings->dataDir != settings_.dataDir || !settingsRead_;
    settings_.dataDir = r.settings->dataDir;
    settings_.foreignDataPath = r.settings->foreignDataPath;
    settingsRead_ = true;
    if (!moved)
        return;
    if (settings_.dataDir.empty())
        tickets_.reset();
    else
        tickets_.emplace(settings_.dataDir);
}

TfrmMain::StartUp TfrmMain::askForMissingTables()
{
    while (!catalogue::TablesExist(dataDir())) {
        const dialogs::Answer a = say(dialogs::kWarning, "Ponderix", kMissingTables,
                                                       dialogs::kYes | dialogs::kNo | dialogs::kAbort);
        if (a == dialogs::Answer::kYes) {
            if (Windows().setup)
                Windows().setup(*this);
            else
                notAvailable("The Setup Configuration");
            // Settings that cannot be read after Setup stop the start-up
            // as they do before it: the operator has seen why.
            if (!GetSettings())
                return StartUp::kStop;
        } else if (a == dialogs::Answer::kAbort) {
            return StartUp::kEnd;  // the program ends
        } else {
            break;  // No; Escape or the close box is no request to end the site
        }
    }
    return StartUp::kGoOn;
}

void TfrmMain::FormShow()
{
    if (Windows().settleMove)
        Windows().settleMove();
    if (!xb::fileExists(catalogue::setupTablePath())) {
        requestTerminate();
        return;
    }
    // A question or message of the start-up may have come before the
    // station had the keyboard; it takes it once they are answered.
    struct TakeFocus {
        TfrmMain* w;
        ~TakeFocus() { dialogs::takeFocus(w); }
    } takeFocus {this};
    // A setting that cannot be read stops the start-up: the operator sees
    // why, and the station shows with nothing stored through it.
    if (!GetSettings())
        return;
    switch (askForMissingTables()) {
    case StartUp::kGoOn: break;
    case StartUp::kStop: return;
    case StartUp::kEnd: requestTerminate(); return;
    }
    inbound_ = true;
    reprint_ = false;
    const std::string dir = dataDir();
    for (auto [name, layout] : {std::pair<const char*, int> {"Ticket.dbf", catalogue::kTicketLayout},
                                {"Payment.dbf", catalogue::kPaymentLayout},
                                {"Company.dbf", catalogue::kCompanyLayout}})
        if (!dir.empty() && !xb::fileExists(dir + name))
            catalogue::CreateTable(layout, dir + name);
    UpdateComboBox();
    setWindowTitle("Ponderix " + qs(GetCompanyName(dir)));
    cmdPrint->setText("&Done");
    SetHints();
    GetTicketNo();
    txtTicketNo->setEnabled(false);
    SetWeightEntryPanel();
    cboCustomerName->setFocus();
}

void TfrmMain::loadList(QComboBox* box, int layout)
{
    // Without a data directory the loader would make tables in the working
    // directory: the list stays empty.
    std::vector<std::string> names;
    followDataDir();
    if (!dataDir().empty())
        catalogue::LoadList(layout, names, dataDir());
    const QString text = box->currentText();
    box->clear();
    for (const auto& n : names)
        box->addItem(qs(n));
    box->setCurrentIndex(-1);
    box->setEditText(text);
}

void TfrmMain::UpdateComboBox()
{
    loadList(cboCustomerName, catalogue::kCustomerLayout);
    loadList(cboProductName, catalogue::kProductLayout);
}

void TfrmMain::showPanel(QLabel* panel, const QString& text)
{
    panel->setText(text);
    const QLabel* caption = panel == lblDate ? lblCurrentDate : panel == lblUser ? lblLoginUser : lblStatus;
    panel->setAccessibleName(caption->text() + " " + text);
}

void TfrmMain::Status(const QString& text)
{
    showPanel(pnlStatus, text);
    pnlStatus->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TfrmMain::SetHints()
{
    struct Hint {
        QWidget* control;
        QWidget* label;
        const char* text;
    };
    const Hint hints[] = {
        {txtTicketNo, lblTicketNo, "Scale Ticket Number"},
        {txtNewTicketNo, lblNewTicketNo, "New Ticket Number"},
        {cboCustomerName, lblCustomerName, "Customer Name"},
        {cboProductName, lblProductName, "Product Name"},
        {txtTruck, lblTruck, "Truck Number"},
        {txtRemarks, lblRemark, "Remarks or Comments"},
        {txtInDate, lblInDate, "Date for Inbound Transaction"},
        {txtInTime, lblInTime, "Time for Inbound Transaction"},
        {txtInWeight, lblInWeight, "In Weight"},
        {txtOutWeight, lblOutWeight, "Out Weight"},
        {txtNetWeight, lblNetWeight, "Net Weight"},
    };
    for (const Hint& h : hints) {
        h.control->setToolTip(h.text);
        h.label->setToolTip(h.text);
    }
}

void TfrmMain::Timer1Timer()
{
    const xb::LocalTime now = xb::now();
    showPanel(lblDate, qs(values::clockText(now)));
    // A busy or suspended machine skips ticks: the purge runs for every
    // midnight or noon passed since the last one, once.
    if (crossesPurgeMoment(lastTick_, now))
        purgeOldFiles(dataDir(), now);
    lastTick_ = now;
}

void TfrmMain::mnuSetupClick()
{
    if (!Windows().setup) {
        notAvailable("The Setup Configuration");
        return;
    }
    if (!Windows().setup(*this))
        return;  // nothing changes
    if (!GetSettings())
        return;
    while (!catalogue::TablesExist(dataDir())) {
        const dialogs::Answer a =
            say(dialogs::kError, "Ponderix", kDatabaseNotFound, dialogs::kYes | dialogs::kNo);
        if (a == dialogs::Answer::kNo) {
            requestTerminate();
            return;
        }
        // Yes; Escape or the close box is no request to end the site.
        Windows().setup(*this);
        if (!GetSettings())
            return;
    }
    show();
    dialogs::takeFocus(this);
    ClearScreen();
    UpdateComboBox();
}

// ---------------------------------------------------------------- entry

void TfrmMain::SetWeightEntryPanel()
{
    const bool manual = chkManualEntry->isChecked();
    cmdReadScale->setEnabled(!manual);
    txtInWeight->setEnabled(manual && inbound_);
    txtOutWeight->setEnabled(manual && !inbound_);
}

void TfrmMain::showNet()
{
    // The net of the weights' texts as they stand; blank until the weight
    // of this pass is there (inbound, where there is no out weight, the net
    // is the in weight).
    const std::string in = ss(txtInWeight->text());
    const std::string out = ss(txtOutWeight->text());
    const QString text = (inbound_ ? in : out).empty() ? QString() : QString::number(values::netOf(in, out));
    txtNetWeight->display(text);
    txtNetWeight->setProperty("valueText", text);
    txtNetWeight->setAccessibleDescription(text.isEmpty() ? QString() : text + " kg");
}

QString TfrmMain::netWeightText() const { return txtNetWeight->property("valueText").toString(); }

void TfrmMain::setInTime(const std::string& digits)
{
    inTime_ = digits;
    const auto t = values::parseStoredTime(digits);
    txtInTime->setText(t ? QString("%1:%2").arg(t->hour).arg(t->minute, 2, 10, QChar('0')) : QString());
}

void TfrmMain::cmdReadScaleClick()
{
    const devices::ScaleReadingState& r = devices::ScaleReading();
    // A frame that is no whole weight ("12-3") is no reading either, nor
    // is a scale drifted below zero: no truck weighs less than nothing.
    const auto reading = values::wholeWeight(r.weight);
    if (r.unit == "X" || (r.unit == "K" && (!reading || *reading < 0))) {
        say(dialogs::kWarning, "Warning", "Scale Indicator Error!\r\rUnable to read the weight.");
        return;
    }
    if (r.unit != "K") {
        say(dialogs::kWarning, "Warning",
                             "Unit mis-matched.\r\rPlease set the Unit of the Scale to \"kg\",\r"
                             "then try Read Scale again.");
        return;
    }
    Status("Reading Scale. Please wait ...");
    cmdReadScale->setEnabled(false);
    // The reading current after the status was painted.
    const std::string weight = devices::ScaleReading().weight;
    const auto now = values::wholeWeight(weight);
    if (!now || *now < 0) {
        Status(inbound_ ? "Inbound" : "Outbound");
        cmdReadScale->setEnabled(!chkManualEntry->isChecked());
        say(dialogs::kWarning, "Warning", "Scale Indicator Error!\r\rUnable to read the weight.");
        return;
    }
    (inbound_ ? txtInWeight : txtOutWeight)->setText(qs(weight));
    Status(inbound_ ? "Inbound" : "Outbound");
    // The reading taken, the next step is the button that saves (Enter
    // then presses it, wherever the focus was when Alt+R read the scale).
    cmdPrint->setFocus();
}

void TfrmMain::focusWeightOr(QLineEdit* manualField)
{
    QWidget* target = chkManualEntry->isChecked() ? static_cast<QWidget*>(manualField) : cmdReadScale;
    // A control that cannot take the focus now (a reading already taken)
    // passes it to the button that saves.
    if (!target->isEnabled())
        target = manualField->isEnabled() ? static_cast<QWidget*>(manualField) : cmdPrint;
    target->setFocus();
}

bool TfrmMain::CheckInputData()
{
    // Inbound, the number is the counter's (the store issues it); only a
    // reprint's numbers are typed.
    if (!inbound_ && txtTicketNo->text().isEmpty()) {
        dialogs::BlankWarning("Scale Ticket No.");
        if (txtTicketNo->isEnabled())
            txtTicketNo->setFocus();
        return false;
    }
    if (txtNewTicketNo->isVisible() && txtNewTicketNo->text().isEmpty()) {
        dialogs::BlankWarning("New Ticket No.");
        txtNewTicketNo->setFocus();
        return false;
    }
    if (cboCustomerName->currentText().isEmpty()) {
        dialogs::BlankWarning("Customer Name");
        cboCustomerName->setFocus();
        return false;
    }
    if (cboProductName->currentText().isEmpty()) {
        dialogs::BlankWarning("Product Name");
        cboProductName->setFocus();
        return false;
    }
    if (txtInWeight->text().isEmpty()) {
        dialogs::BlankWarning("In Weight");
        focusWeightOr(txtInWeight);
        return false;
    }
    if (!inbound_ && txtOutWeight->text().isEmpty()) {
        dialogs::BlankWarning("Out Weight");
        focusWeightOr(txtOutWeight);
        return false;
    }
    // A character the tickets' code page cannot hold is refused, never
    // stored as another.
    const bool completing = !inbound_ && !reprint_;
    if (const auto refused = tickets_ ? tickets_->refusedText(entry(), completing, xb::now()) : std::nullopt) {
        dialogs::ShowMessage(dialogs::kWarning, "Warning", refused->message);
        QWidget* const fields[] = {cboCustomerName, cboProductName, txtTruck, txtRemarks};
        fields[int(refused->text)]->setFocus();
        return false;
    }
    return true;
}

station::Entry TfrmMain::entry() const
{
    station::Entry e;
    e.ticket = ss(txtTicketNo->text());
    e.newTicket = ss(txtNewTicketNo->text());
    e.customer = ss(cboCustomerName->currentText());
    e.product = ss(cboProductName->currentText());
    e.truck = ss(txtTruck->text());
    e.remarks = ss(txtRemarks->text());
    e.inTime = inTime_;
    e.inDate = ss(txtInDate->text());
    e.inWeight = ss(txtInWeight->text());
    e.outWeight = ss(txtOutWeight->text());
    return e;
}

bool TfrmMain::storeAvailable()
{
    if (tickets_)
        return true;
    std::string text = "The station's settings could not be read.\r\rThe ticket was not stored.";
    if (settingsRead_ && !settings_.foreignDataPath.empty())
        text = "The data directory \"" + settings_.foreignDataPath +
               "\" of the Setup Configuration names no directory of this computer.\r\r"
               "The ticket was not stored; choose the data directory in Utilities, Setup Configuration.";
    else if (settingsRead_)
        text = "No data directory is set in the Setup Configuration.\r\r"
               "The ticket was not stored; choose the data directory in Utilities, Setup Configuration.";
    say(dialogs::kError, "Ponderix", text);
    return false;
}

void TfrmMain::cmdPrintClick()
{
    // One save at a time: a second press while the first one prints (the
    // printer's wait lets events in) must not store again.
    if (saving_)
        return;
    saving_ = true;
    struct Guard {
        bool& flag;
        ~Guard() { flag = false; }
    } guard {saving_};
    followDataDir();
    if (!storeAvailable() || !CheckInputData())
        return;
    const xb::LocalTime at = xb::now();
    if (inbound_)
        saveInbound(entry(), at);
    else
        saveCompleted(entry(), at);
}

void TfrmMain::saveInbound(const station::Entry& e, const xb::LocalTime& at)
{
    const InboundSaved saved = tickets_->UpdateTempTable(e, at);
    switch (saved.outcome) {
    case SaveOutcome::kStored: break;
    case SaveOutcome::kBadWeight:
        say(dialogs::kWarning, "Warning",
                             "The In Weight \"" + e.inWeight + "\" is not a whole number of kilograms of 0 or more.");
        focusWeightOr(txtInWeight);
        return;
    case SaveOutcome::kNoCounter:
        say(dialogs::kError, "Ponderix",
                             "The ticket counter Control.dbf cannot be read or written: no ticket number can be "
                             "issued.\r\rThe ticket was not stored.");
        return;
    case SaveOutcome::kOpenCutShort: say(dialogs::kError, "Ponderix", openCutShortText()); return;
    default:
        say(dialogs::kError, "Ponderix",
                             "The ticket could not be stored in Ticket.dbf.\rNothing was saved.");
        return;
    }
    if (std::to_string(saved.number) != e.ticket)
        say(dialogs::kInformation, "Ponderix",
                             "Ticket No. " + (e.ticket.empty() ? std::string("shown") : e.ticket) +
                                 " is taken by another ticket.\r"
                                 "The ticket was stored as Ticket No. " + std::to_string(saved.number) + ".");
    ClearScreen();
}

void TfrmMain::saveCompleted(const station::Entry& e, const xb::LocalTime& at)
{
    Status("Printing Ticket. Please wait ...");
    // The ticket is stored, on the disk, before it is printed: a ticket
    // that could not be stored is never handed to a driver.
    SaveOutcome outcome = SaveOutcome::kNotSaved;
    const store::MoveResult result = tickets_->UpdateTables(e, reprint_, at, outcome);
    if (outcome == SaveOutcome::kStored || outcome == SaveOutcome::kLeftBehind) {
        printStored(result.stored);
        ClearScreen();
        return;
    }
    std::string text;
    QWidget* focus = cmdPrint;
    switch (outcome) {
    case SaveOutcome::kNumberInUse:
        text = "Ticket No. " + e.newTicket + " is already in today's record.\r\rPlease enter another New Ticket No.";
        focus = txtNewTicketNo;
        break;
    case SaveOutcome::kNumberOpen:
        text = "Ticket No. " + e.newTicket + " is held by an open ticket.\r\rPlease enter another New Ticket No.";
        focus = txtNewTicketNo;
        break;
    case SaveOutcome::kBadNumber:
        text = "The ticket number is not a number from 1 to 99999.";
        focus = reprint_ ? static_cast<QWidget*>(txtNewTicketNo) : cmdPrint;
        break;
    case SaveOutcome::kBadWeight: text = "The weights must be whole numbers of kilograms of 0 or more."; break;
    case SaveOutcome::kOpenCutShort: text = openCutShortText(); break;
    case SaveOutcome::kNotFound:
        text = reprint_ ? "Ticket No. " + e.ticket + " is no longer in today's record."
                        : "Ticket No. " + e.ticket + " is no longer an open ticket.";
        break;
    default:
        text = std::string("The ticket could not be stored in ") +
               (reprint_ ? catalogue::dayTableName(values::dateOf(at)) : std::string("the day's table")) +
               ".\rNothing was printed; the ticket is as it was.";
        break;
    }
    say(outcome == SaveOutcome::kNotSaved ? dialogs::kError : dialogs::kWarning, "Ponderix", text);
    Status(reprint_ ? "Reprint Ticket" : "Outbound");
    focus->setFocus();
}

void TfrmMain::printStored(const store::TicketRecord& stored)
{
    // The paper carries the ticket as it was stored: its number, its times,
    // its weights.
    kiosk::Ticket& ct = kiosk::CurrentTicket();
    ct.ticket = stored.ticket;
    ct.customer = stored.customer;
    ct.product = stored.product;
    ct.truck = stored.truck;
    ct.in_time = stored.inTime;
    ct.in_date = stored.inDate;
    xb::LocalTime out {};
    if (const auto d = values::parseDate(stored.outDate))
        out = xb::LocalTime {d->year, d->month, d->day, 0, 0, 0};
    if (const auto t = values::parseStoredTime(stored.outTime)) {
        out.hour = t->hour;
        out.minute = t->minute;
    }
    ct.out_time = ct.out_date = out;
    ct.in_wgt = std::to_string(stored.inWeight);
    ct.out_wgt = std::to_string(stored.outWeight);
    ct.net_wgt = std::to_string(stored.netWeight);
    // The ticket is stored whatever the printer does, and printing it
    // again stores nothing. A printer that fails says why in the
    // operator's dialog, answered before the question comes: the kiosk's
    // box would wait beside it.
    for (;;) {
        const kiosk::PrintOutcome printed = kiosk::SendKioskTicket(*ApdComPort2);
        if (printed.printed)
            break;
        say(dialogs::kError, "Printer Error",
            printed.detail.empty() ? printed.fault : printed.fault + "\r\r" + printed.detail);
        const std::string number = std::to_string(stored.ticket);
        const dialogs::Answer again = say(
            dialogs::kWarning, "Ponderix",
            "Ticket No. " + number + " is stored, but it was not printed.\r\r"
            "Do you want to print it again?\r\r"
            "Click \"Yes\" to print it again.\r"
            "Click \"No\" to go on without it; Edit, Reprint Ticket prints it later under No. " + number + ".",
            dialogs::kYes | dialogs::kNo);
        if (again != dialogs::Answer::kYes)
            break;
    }
    kiosk::ClearTicket();
}

void TfrmMain::resetEntry()
{
    for (QLineEdit* e : {txtTicketNo, txtNewTicketNo, txtTruck, txtRemarks, txtInWeight, txtInTime, txtOutWeight,
                         txtInDate})
        e->clear();
    inTime_.clear();
    txtTicketNo->setEnabled(false);
    lblNewTicketNo->hide();
    txtNewTicketNo->hide();
    inbound_ = true;
    reprint_ = false;
    cmdPrint->setText("&Done");
    for (QWidget* w : std::initializer_list<QWidget*> {cboCustomerName, cboProductName, txtTruck, txtRemarks,
                                                       lblProductName, lblTruck, lblRemark}) {
        w->setEnabled(true);
        w->show();
    }
    for (QComboBox* c : {cboCustomerName, cboProductName}) {
        c->setCurrentIndex(-1);
        c->clearEditText();
    }
    showNet();
    // The weight panel follows the Manual Weight box again (a reprint
    // disabled it, a reading disabled Read Scale), so the focus never goes
    // to a disabled field.
    chkManualEntry->setEnabled(true);
    SetWeightEntryPanel();
}

void TfrmMain::ClearScreen()
{
    resetEntry();
    GetTicketNo();
    cboCustomerName->setFocus();
    Status("System Ready");
}

void TfrmMain::SyncComboSelection()
{
    for (QComboBox* c : {cboCustomerName, cboProductName}) {
        const QString text = c->currentText();
        const int i = c->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (i >= 0)
            c->setCurrentIndex(i);
        else
            c->setEditText(text);
    }
}

void TfrmMain::GetTicketNo()
{
    followDataDir();
    const std::optional<long> n = tickets_ ? tickets_->GetTicketNo() : std::nullopt;
    txtTicketNo->setText(n ? QString::number(*n) : QString());
}

void TfrmMain::loadEntry(const station::Entry& e, bool withOutWeights)
{
    cboCustomerName->setEditText(qs(e.customer));
    cboProductName->setEditText(qs(e.product));
    txtTruck->setText(qs(e.truck));
    setInTime(e.inTime);
    txtInDate->setText(qs(e.inDate));
    txtInWeight->setText(qs(e.inWeight));
    txtOutWeight->setText(withOutWeights ? qs(e.outWeight) : QString());
    txtRemarks->setText(qs(e.remarks));
}

bool TfrmMain::CheckInRecord(long number)
{
    std::optional<store::TicketRecord> t;
    followDataDir();
    if (tickets_)
        t = tickets_->CheckInRecord(number, reprint_, xb::now());
    if (t)
        loadEntry(entryOf(*t), reprint_);
    SyncComboSelection();
    return t.has_value();
}

void TfrmMain::mnuViewPartialClick()
{
    mnuViewPartial->setChecked(true);
    if (!Windows().choosePartial) {
        notAvailable("Partial Records");
        mnuViewPartial->setChecked(false);
        return;
    }
    std::optional<std::string> chosen = Windows().choosePartial(*this);
    mnuViewPartial->setChecked(false);
    if (!chosen || chosen->empty())
        return;  // nothing chosen: the screen stays as it was
    // A fresh outbound of the ticket chosen: nothing of the ticket or the
    // mode before it (a reprint, another ticket's out weight, a reading
    // taken) carries over.
    resetEntry();
    txtTicketNo->setText(qs(*chosen));
    const auto number = ticketNumber(*chosen);
    if (!number || !CheckInRecord(*number)) {
        say(dialogs::kWarning, "Warning", "Ticket No. " + *chosen + " is not an open ticket.");
        ClearScreen();
        return;
    }
    inbound_ = false;
    showNet();
    SetWeightEntryPanel();
    Status("Outbound");
    cmdPrint->setText("&Print");
    if (chkManualEntry->isChecked())
        txtOutWeight->setFocus();
    else
        cmdReadScale->setFocus();
}

void TfrmMain::mnuReprintTicketClick()
{
    ClearScreen();
    chkManualEntry->setEnabled(false);
    cmdReadScale->setEnabled(false);
    lblNewTicketNo->show();
    txtNewTicketNo->show();
    txtTicketNo->setEnabled(true);
    txtTicketNo->clear();
    txtTicketNo->setFocus();
    inbound_ = false;
    reprint_ = true;
    cmdPrint->setText("&Print");
    Status("Reprint Ticket");
    for (QWidget* w : std::initializer_list<QWidget*> {cboCustomerName, cboProductName, txtTruck, txtRemarks})
        w->setEnabled(false);
    txtInWeight->setEnabled(false);
    txtOutWeight->setEnabled(false);
}

void TfrmMain::txtNewTicketNoEnter()
{
    // Nothing typed yet is nothing to look up: the operator may pass on
    // (Print names the blank number).
    if (!reprint_ || !txtTicketNo->isEnabled() || txtTicketNo->text().isEmpty())
        return;
    const auto number = ticketNumber(ss(txtTicketNo->text()));
    if (number && CheckInRecord(*number)) {
        txtTicketNo->setEnabled(false);
        return;
    }
    say(dialogs::kWarning, "Warning", "No such Ticket No. in today's record.\r\rPlease check and re-enter.");
    txtTicketNo->setFocus();
}

// ---------------------------------------------------------------- keys

bool TfrmMain::keyAllowed(QObject* field, int key, const QString& text)
{
    const bool digit = text.size() == 1 && text[0] >= '0' && text[0] <= '9';
    const bool backspace = key == Qt::Key_Backspace;
    // A digit typed over a selection replaces it: the field is full only
    // by what stays.
    auto digitsUpTo = [&](QLineEdit* e, int limit) {
        return backspace || (digit && e->text().size() - e->selectedText().size() < limit);
    };
    if (field == txtTicketNo || field == txtNewTicketNo)
        return digitsUpTo(static_cast<QLineEdit*>(field), 5);
    if (field == txtInWeight || field == txtOutWeight)
        return digitsUpTo(static_cast<QLineEdit*>(field), 6);
    return true;  // the text fields: their lengths are held by the fields
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == txtNewTicketNo && e->type() == QEvent::FocusIn) {
        // Entered by the operator (Tab, Enter in the ticket number, a
        // click), not by the window taking the focus back after a message.
        const Qt::FocusReason why = static_cast<QFocusEvent*>(e)->reason();
        if (why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason)
            QTimer::singleShot(0, this, &TfrmMain::txtNewTicketNoEnter);
        return QDialog::eventFilter(watched, e);
    }
    if (e->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, e);
    auto* k = static_cast<QKeyEvent*>(e);
    const int key = k->key();
    const bool enterOrTab = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab;
    if (enterOrTab) {
        if (watched == txtTicketNo) {
            // On to the new number in a reprint; otherwise on as Tab goes.
            if (txtNewTicketNo->isVisible())
                txtNewTicketNo->setFocus(Qt::TabFocusReason);
            else
                focusNextChild();
            return true;
        }
        if (watched == txtNewTicketNo || watched == txtInWeight || watched == txtOutWeight) {
            cmdPrint->setFocus(Qt::TabFocusReason);
            return true;
        }
        if (watched == txtRemarks) {
            if (!txtInWeight->isEnabled() && !txtOutWeight->isEnabled() && !cmdReadScale->isEnabled())
                cmdPrint->setFocus(Qt::TabFocusReason);
            else if (chkManualEntry->isChecked())
                focusWeightOr(inbound_ ? txtInWeight : txtOutWeight);
            else
                cmdReadScale->setFocus(Qt::TabFocusReason);
            return true;
        }
        return QDialog::eventFilter(watched, e);  // the lists and the plate: as usual
    }
    // Keys that type nothing (arrows, Shift, Ctrl alone) and the editing
    // commands (Ctrl+A, Ctrl+V, Ctrl+Z) work as usual; the validators keep
    // what they leave to digits.
    if ((k->text().isEmpty() && key != Qt::Key_Backspace && key != Qt::Key_Delete) ||
        (k->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
        return QDialog::eventFilter(watched, e);
    if (!keyAllowed(watched, key, k->text()))
        return true;
    return QDialog::eventFilter(watched, e);
}

// ---------------------------------------------------------------- opening

namespace station {

bool OpenStation(QWidget* kiosk)
{
    TfrmMain station;
    if (kiosk)
        kiosk->hide();
    ::showPointer();
    // A site's X server has no window manager: the station fills the
    // screen and shows its own title bar.
    FitToScreen(&station);
    station.exec();
    ::hidePointer();
    return station.terminateRequested();
}

void installStation()
{
    kiosk::setStationOpener([](TfrmSwipe* swipe) { return OpenStation(swipe); });
}

}  // namespace station

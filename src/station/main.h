#pragma once
// The attended station: the operator's window over the hidden kiosk. Its
// frame (settings, menu, clock, status line) and its entry area, where a
// truck is weighed in (Done: an open ticket, nothing printed) and out
// (Print: the ticket completed into the day's table, then printed), and a
// completed ticket of today filed again under a new number (Reprint).
//
// The windows its menu opens belong to other parts of the program; each is
// reached through StationWindows, whose functions show the window modally
// and give its outcome. The station decides what follows.

#include "data/Clock.h"
#include "station/StationStore.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <optional>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLCDNumber;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QTimer;
class TfrmMain;

namespace devices { class SerialPort; }

namespace station {

// The windows of the menu. An empty function shows that the window is not
// available yet.
struct StationWindows {
    // The record window for customers (Edit Customer Records), products
    // (Edit Product Records), ticket records (View Ticket Records).
    std::function<void(TfrmMain&)> editCustomers;
    std::function<void(TfrmMain&)> editProducts;
    std::function<void(TfrmMain&)> viewTickets;
    // Partial Records: the open ticket chosen for its outbound weighing
    // (the text of its number), or nothing.
    std::function<std::optional<std::string>(TfrmMain&)> choosePartial;
    std::function<void(TfrmMain&)> transactionsReport;
    std::function<void(TfrmMain&)> endOfMonth;
    // The Setup window: true when it closed with OK.
    std::function<bool(TfrmMain&)> setup;
    // Settles a move of the data directory cut short, before the start-up
    // reads the settings.
    std::function<void()> settleMove;
};
StationWindows& Windows();

// The one station window while it exists.
TfrmMain* StationWindow();

}  // namespace station

class TfrmMain : public QDialog {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The start-up ran and the program is to end (setup.dbf missing, Abort
    // on the missing tables, No on the setup flow's question).
    bool terminateRequested() const { return terminate_; }

    // ---- frame ----
    // The title on the window itself: without a window manager nobody
    // draws a title bar.
    QLabel* lblCaption;
    QMenuBar* MainMenu1;
    QAction* mnuExit;
    QAction* mnuReprintTicket;
    QAction* mnuEditCustomer;
    QAction* mnuEditProduct;
    QAction* mnuViewPartial;
    QAction* mnuViewTicket;
    QAction* mnuTransactionsReport;
    QAction* mnuEndofMonth;
    QAction* mnuSetup;
    QAction* mnuAbout;
    QLabel* lblCurrentDate;
    QLabel* lblDate;
    QLabel* lblLoginUser;
    QLabel* lblUser;
    QLabel* lblStatus;
    QLabel* pnlStatus;
    QTimer* Timer1;
    devices::SerialPort* ApdComPort2;

    // ---- entry area ----
    QLabel* lblTicketNo;
    QLineEdit* txtTicketNo;
    QLabel* lblNewTicketNo;
    QLineEdit* txtNewTicketNo;
    QLabel* lblCustomerName;
    QComboBox* cboCustomerName;
    QLabel* lblProductName;
    QComboBox* cboProductName;
    QLabel* lblTruck;
    QLineEdit* txtTruck;
    QLabel* lblRemark;
    QLineEdit* txtRemarks;
    QPushButton* cmdReadScale;
    QCheckBox* chkManualEntry;
    QLabel* lblInWeight;
    QLineEdit* txtInWeight;
    QLabel* lblInTime;
    QLineEdit* txtInTime;
    QLabel* lblOutWeight;
    QLineEdit* txtOutWeight;
    QLabel* lblInDate;
    QLineEdit* txtInDate;
    QLabel* lblNetWeight;
    QLCDNumber* txtNetWeight;
    QPushButton* cmdClear;
    QPushButton* cmdPrint;

    // ---- operations ----
    bool GetSettings();
    void UpdateComboBox();
    void Status(const QString& text);
    void SetHints();
    void Timer1Timer();
    // The setup flow of the menu.
    void mnuSetupClick();

    void SetWeightEntryPanel();
    bool CheckInputData();
    void ClearScreen();
    void SyncComboSelection();
    void cmdReadScaleClick();
    void cmdPrintClick();
    void mnuViewPartialClick();
    void mnuReprintTicketClick();
    void txtNewTicketNoEnter();

    void GetTicketNo();
    bool CheckInRecord(long number);

    bool inboundMode() const { return inbound_; }
    bool reprintMode() const { return reprint_; }
    const std::string& dataDir() const { return settings_.dataDir; }
    // The net weight shown (the LED display's value as text).
    QString netWeightText() const;
    // The in time as its stored digits ("930").
    const std::string& inTimeDigits() const { return inTime_; }

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void FormShow();
    void buildMenu();
    void buildEntry();
    void connectEvents();
    void openRecordWindow(QAction* mark, const std::function<void(TfrmMain&)>& window, const char* what);
    void aboutClick();
    void notAvailable(const char* what);
    enum class StartUp { kGoOn, kStop, kEnd };
    StartUp askForMissingTables();
    // Ends the whole program (the kiosk included) once the station closes.
    void requestTerminate();
    void showPanel(QLabel* panel, const QString& text);
    void loadList(QComboBox* box, int layout);
    void showNet();
    void resetEntry();
    bool storeAvailable();
    void followDataDir();
    void saveInbound(const station::Entry& e, const xb::LocalTime& at);
    void saveCompleted(const station::Entry& e, const xb::LocalTime& at);
    void printStored(const store::TicketRecord& stored);
    void setInTime(const std::string& digits);
    void loadEntry(const station::Entry& e, bool withOutWeights);
    station::Entry entry() const;
    void focusWeightOr(QLineEdit* manualField);
    bool keyAllowed(QObject* field, int key, const QString& text);

    station::StationSettings settings_;
    std::optional<station::StationTickets> tickets_;
    bool inbound_ = true;
    bool reprint_ = false;
    bool shown_ = false;
    bool terminate_ = false;
    bool saving_ = false;        // a Done or Print is in progress
    bool settingsRead_ = false;  // the last reading of setup.dbf succeeded
    bool followSetup_ = false;   // setup.dbf was read once: operations follow its data directory
    std::string inTime_;
    xb::LocalTime lastTick_ {};
};

namespace station {

// Ctrl+F10 on the kiosk: the station over the hidden kiosk, modal, with the
// normal pointer; destroyed when it closes. True when the program is to end.
bool OpenStation(QWidget* kiosk);

// Installs OpenStation as the kiosk's station opener.
void installStation();

}  // namespace station

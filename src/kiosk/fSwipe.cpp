#include "kiosk/fSwipe.h"

#include "data/Catalogue.h"
#include "devices/ScaleReading.h"
#include "devices/SerialPort.h"
#include "dialogs/MessageSeam.h"
#include "dialogs/QtText.h"
#include "dialogs/WindowFocus.h"
#include "dialogs/fMsgBox.h"
#include "kiosk/CardLookup.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskExit.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/ScaleCheck.h"
#include "kiosk/uDB.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace kiosk {
namespace {
QPointer<TfrmSwipe>& swipeScreen()
{
    static QPointer<TfrmSwipe> s;
    return s;
}
StationOpener& stationOpener()
{
    static StationOpener o;
    return o;
}
}  // namespace

TfrmSwipe* SwipeScreen() { return swipeScreen(); }

void ShowSwipeScreen(QWidget* caller)
{
    TfrmSwipe* swipe = swipeScreen();
    if (!swipe) {
        swipe = new TfrmSwipe;
        swipe->FormCreate();
    }
    if (caller && caller != swipe)
        caller->hide();
    FitToScreen(swipe);
}

StationOpener setStationOpener(StationOpener opener)
{
    StationOpener previous = std::move(stationOpener());
    stationOpener() = std::move(opener);
    return previous;
}

}  // namespace kiosk

using namespace kiosk;

namespace {
constexpr const char* kSeeOffice = "Please see the scale office.";
constexpr const char* kWaitText = "PLEASE WAIT: READING THE WEIGHT...";
}  // namespace

TfrmSwipe::TfrmSwipe(QWidget* parent) : KioskScreen(1012, 734, parent)
{
    setObjectName("frmSwipe");
    setWindowTitle("Please Swipe Card...");
    kiosk::swipeScreen() = this;

    Label1 = new QLabel("VELMORE GREENHOUSE", this);
    Label1->setObjectName("Label1");
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFont(QFont("Times New Roman"));
    place(Label1, 0, 60, 1012, 90, 64);

    Label2 = new QLabel("PRESENT YOUR CARD TO THE READER ON THE LEFT", this);
    Label2->setObjectName("Label2");
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setWordWrap(true);
    place(Label2, 40, 200, 932, 60, 32);

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setText(QString::fromUtf8("\xE2\x97\x80  CARD"));
    place(Image1, 306, 300, 400, 260, 48);

    Image2 = new QLabel(this);
    Image2->setObjectName("Image2");
    Image2->hide();

    txtSwipe = new QLineEdit(this);
    txtSwipe->setObjectName("txtSwipe");
    txtSwipe->setAccessibleName("Card number");
    // A keyboard-type reader types here; it is kept small and out of the way.
    place(txtSwipe, 356, 640, 300, 30, 18);
    txtSwipe->setFocus();
    connect(txtSwipe, &QLineEdit::textChanged, this, &TfrmSwipe::txtSwipeChange);
    txtSwipe->installEventFilter(this);
    // A keyboard-type reader's card while a box shows is a card here.
    dialogs::setCardKeysTarget(txtSwipe);

    lblWait = new QLabel(kWaitText, this);
    lblWait->setObjectName("lblWait");
    lblWait->setAlignment(Qt::AlignCenter);
    lblWait->setWordWrap(true);
    place(lblWait, 40, 570, 932, 60, 32);
    lblWait->hide();

    reader_ = new WeightReader(devices::ScaleCheckScreen::kStandard, this);
    connect(reader_, &WeightReader::waiting, lblWait, &QWidget::show);
    connect(reader_, &WeightReader::weighed, this, &TfrmSwipe::weighedOut);
    connect(reader_, &WeightReader::empty, this, [this] { refusedOut(true); });
    connect(reader_, &WeightReader::refused, this, [this] { refusedOut(false); });

    comOutWeigh = new devices::SerialPort(this);
    comOutWeigh->setObjectName("comOutWeigh");
    // The form's design value: used when no port is configured.
    devices::configureScalePort(*comOutWeigh, 1);
    connect(comOutWeigh, &devices::SerialPort::dataAvailable, this,
            [this](int count) { devices::ParseScaleData(*comOutWeigh, count); });

    comCard = new devices::SerialPort(this);
    comCard->setObjectName("comCard");
    connect(comCard, &devices::SerialPort::dataAvailable, this,
            [this](int count) { devices::ParseCardData(*comCard, count); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(5000);
    connect(Timer1, &QTimer::timeout, this, [] { devices::CheckScaleFreshness(); });
    Timer1->start();

    devices::CardLines().setSwipeScreen(this);
}

TfrmSwipe::~TfrmSwipe()
{
    devices::CardLines().forget(this);
}

void TfrmSwipe::FormCreate()
{
    OpenKioskData();
    Ports ports = ReadPorts();
    Settings& s = KioskSettings();
    s.scalePort = ports.scalePort;
    s.printerPort = ports.printerPort;
    s.PrinterType = ports.printerType;
    if (s.scalePort == 0) {
        dialogs::ShowMsgBox("Unable to read the scale!", "Hardware setting is not available.", {}, dialogs::kError,
                            dialogs::kOk);
    } else {
        devices::configureScalePort(*comOutWeigh, s.scalePort);
        comOutWeigh->open();
    }
    devices::configureCardPort(*comCard, 2);
    comCard->open();
    s.inboundLines.clear();
    s.outboundLines.clear();
    KioskTimeouts t = ReadKioskIni(s.inboundLines, s.outboundLines);
    s.licenseTimeout = t.license;
    s.outboundTimeout = t.outbound;
    s.instructionsTimeout = t.instructions;
    s.steadyMs = t.steadyMs;
}

void TfrmSwipe::showEvent(QShowEvent* e)
{
    KioskScreen::showEvent(e);
    FormShow();
}

void TfrmSwipe::FormShow()
{
    if (!comOutWeigh->isOpen())
        comOutWeigh->open();
    txtSwipe->clear();
    hidePointer();
    dialogs::takeFocus(this);
    txtSwipe->setFocus();
}

bool TfrmSwipe::accepts() const { return isVisible(); }

void TfrmSwipe::deliver(const std::string& text) { txtSwipe->setText(dialogs::toQt(text)); }

bool TfrmSwipe::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == txtSwipe) {
        if (e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
                txtSwipeKeyPress();
                return true;
            }
            // The modifiers held when the key went down: a hand that lets
            // Ctrl go a moment before F10 still means Ctrl+F10.
            if (!k->isAutoRepeat()) {
                pressedKey_ = k->key();
                pressedMods_ = k->modifiers();
            }
        } else if (e->type() == QEvent::KeyRelease) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (k->isAutoRepeat())
                return KioskScreen::eventFilter(watched, e);
            Qt::KeyboardModifiers mods = k->modifiers();
            if (k->key() == pressedKey_) {
                mods |= pressedMods_;
                pressedKey_ = 0;
            }
            txtSwipeKeyUp(k->key(), mods);
        }
    }
    return KioskScreen::eventFilter(watched, e);
}

void TfrmSwipe::txtSwipeKeyPress()
{
    Dispatch(dialogs::fromQt(txtSwipe->text()), "Please Swipe the card again.");
}

void TfrmSwipe::txtSwipeChange(const QString& text)
{
    // Only a line from the card port is a swipe here. A key typed into a box
    // that still holds a line (one that arrived while a message showed) only
    // adds to the text; it is a keyboard swipe, dispatched by its Enter, and
    // must not dispatch that line again on every keystroke.
    if (txtSwipe->isModified())
        return;
    int cr = text.indexOf(QChar(13));
    if (cr < 0)
        return;
    Dispatch(dialogs::fromQt(text.left(cr)), "Please swipe the card again.");
}

void TfrmSwipe::txtSwipeKeyUp(int key, Qt::KeyboardModifiers mods)
{
    // Only Ctrl alone: Shift, Alt or Meta with it do nothing.
    if ((mods & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier)) !=
        Qt::ControlModifier)
        return;
    if (key == Qt::Key_F1) {
        kiosk::exitStatus() = kiosk::kExitCtrlF1;
        CloseKiosk();
    } else if (key == Qt::Key_F10)
        OpenStation();
}

void TfrmSwipe::Dispatch(const std::string& cardNumber, const std::string& retryMessage)
{
    // The weight of the card before is still being read: this visit is not
    // mixed into that one.
    if (reader_->busy()) {
        dialogs::logLine("card " + cardNumber + " not taken: the weight of the card before is being read");
        txtSwipe->clear();
        return;
    }
    Ticket& ct = CurrentTicket();
    const std::optional<std::string> customer = FindCardHolder(cardNumber);
    ct.customer = customer.value_or("");
    if (!customer) {
        dialogs::ShowMsgBox("Card Error", "The card cannot be checked.", kSeeOffice, dialogs::kError, dialogs::kOk);
        txtSwipe->clear();
        return;
    }
    if (ct.customer.empty()) {
        dialogs::ShowMsgBox("Card Error", "Invalid Swipe Card!", {}, dialogs::kError, dialogs::kOk);
        txtSwipe->clear();
        return;
    }
    switch (LookUpOpenTicket(ct.customer)) {
    case OpenTicket::kNone: emit customerWithoutTicket(); return;
    case OpenTicket::kUnreadable:
        // Taken for none, the truck would be weighed in again and its first
        // weighing passed over.
        dialogs::ShowMsgBox("Ticket Error", "The open tickets cannot be read.", kSeeOffice, dialogs::kError,
                            dialogs::kOk);
        txtSwipe->clear();
        return;
    case OpenTicket::kFound: break;
    }
    // The weight is taken once the scale has settled; every refusal empties
    // the swipe text, so that the same card swiped again is a new line and
    // is dispatched.
    retryMessage_ = retryMessage;
    reader_->start();
}

void TfrmSwipe::weighedOut(const QString& weight)
{
    lblWait->hide();
    CurrentTicket().out_wgt = weight.toStdString();
    emit customerWithTicket();
}

void TfrmSwipe::refusedOut(bool empty)
{
    lblWait->hide();
    if (empty)
        dialogs::ShowMsgBox("Weight Error", retryMessage_, {}, dialogs::kError, dialogs::kOk);
    txtSwipe->clear();
}

void TfrmSwipe::CloseKiosk()
{
    reader_->cancel();
    CloseKioskData();
    Settings& s = KioskSettings();
    s.inboundLines.clear();
    s.outboundLines.clear();
    emit kioskClosing();
    comOutWeigh->close();
    comCard->close();
    closeByProgram();
    QApplication::quit();
}

void TfrmSwipe::OpenStation()
{
    // A weight being read for a visit is given up: the visit would go on
    // behind the station.
    reader_->cancel();
    lblWait->hide();
    if (auto& opener = stationOpener()) {
        // The operator works the station with the normal pointer.
        showPointer();
        if (opener(this)) {
            CloseKiosk();
            return;
        }
    } else {
        dialogs::ShowMsgBox("Weighing Station", "The weighing station is not available.", {},
                            dialogs::kInformation, dialogs::kOk);
    }
    // Back from the station: the swipe screen shows again, which empties the
    // swipe text and opens the scale port again if it was closed.
    hidePointer();
    if (isVisible())
        FormShow();
    else
        ShowSwipeScreen(nullptr);
}

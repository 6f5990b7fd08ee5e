#pragma once
// A kiosk site for the screen tests: a program directory of its own
// (GRAZULO_HOME) with setup.dbf, setup.ini and the kiosk's tables, and the
// three devices on pseudo-terminals reached through symbolic links that
// [Ports] of setup.ini names, as a site's USB adapters would be. The test
// holds the device ends: it sends scale frames and card lines and reads what
// the printer was sent. The swipe screen is made as the program makes it.

#include "Pty.h"
#include "TestSupport.h"
#include "data/Catalogue.h"
#include "data/Cdx.h"
#include "data/CodeBase.h"
#include "devices/CardReader.h"
#include "devices/ScaleReading.h"
#include "devices/SerialPort.h"
#include "dialogs/MessageSeam.h"
#include "dialogs/fMsgBox.h"
#include "kiosk/CurrentTicket.h"
#include "kiosk/KioskFlow.h"
#include "kiosk/Keyboard.h"
#include "kiosk/KioskScreen.h"
#include "kiosk/KioskSettings.h"
#include "kiosk/TicketPrintout.h"
#include "kiosk/fDriverInst.h"
#include "kiosk/fLicense.h"
#include "kiosk/fMaterial.h"
#include "kiosk/fOutbound.h"
#include "kiosk/fSwipe.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace kiosktest {

using testsupport::Pty;

// A scale frame as an indicator sends it: STX, the weight right-aligned in
// seven places, the unit letter, CR.
inline std::string frame(const std::string& weight, char unit = 'K')
{
    std::string body = weight.size() < 7 ? std::string(7 - weight.size(), ' ') + weight : weight;
    return std::string("\x02") + body + unit + "\r";
}

struct Customer {
    std::string name;
    std::string card;
};

struct Timers {
    int license = 0;
    int outbound = 0;
    int instructions = 0;
    // [Scale] steady, in seconds as written ("0": weights taken at once, as
    // the tests that send one frame need; "-": no key, the default second).
    const char* steady = "0";
};

// The printer's time-out is kept short: a test that fails on printing should
// not wait long for it.
class Site {
public:
    QTemporaryDir dir {"/tmp/kiosk-XXXXXX"};
    Pty scale, card, printer;

    Site()
    {
        QDir(dir.path()).mkdir("database");
        qputenv("GRAZULO_HOME", dir.path().toUtf8());
        link(scale, "scale");
        link(card, "card");
        link(printer, "printer");
        devices::setPortNameSource(kiosk::portNameFromIni);
        kiosk::setPrinterTimeout(3000);
        devices::ResetScaleReading();
        devices::ResetCardReader();
        kiosk::ClearTicket();
        kiosk::KioskSettings() = kiosk::Settings {};
        QObject::connect(&streamTimer_, &QTimer::timeout, [this] { scale.send(streamed_); });
    }
    ~Site()
    {
        dialogs::dismissMsgBoxes("the test ended");
        closeSwipe();
        kiosk::CloseKioskData();
        kiosk::KioskSettings() = kiosk::Settings {};
        devices::setPortNameSource({});
        xb::setClockSource({});
        qunsetenv("GRAZULO_HOME");
    }

    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QString db(const QString& name) const { return dir.path() + "/database/" + name; }
    // The link of a device: unique to this test program, as the serial
    // port's lock file is named after it.
    std::string linkOf(const char* role) const
    {
        return (dir.path() + "/" + role + "-" + QString::number(::getpid())).toStdString();
    }

    // setup.dbf: the six fields of the setup layout and the printer's type
    // (withPrinter false: an older table without it).
    void writeSetup(const std::string& scalport, const std::string& prtport, const std::string& printerType,
                    bool withPrinter = true) const
    {
        std::vector<xb::FieldSpec> fields = catalogue::layoutFields(catalogue::kSetupLayout);
        if (withPrinter)
            fields.push_back({"printer", 'C', 1, 0});
        xb::Connection c;
        c.setSafety(false);
        xb::Table* t = c.create(path("setup.dbf").toStdString(), fields);
        QVERIFY(t);
        t->appendStart();
        t->blank();
        t->field("scalport")->assign(scalport);
        t->field("prtport")->assign(prtport);
        t->field("modemport")->assign("4");
        if (withPrinter)
            t->field("printer")->assign(printerType);
        t->field("datapath")->assign((dir.path() + "/station").toStdString());
        QCOMPARE(t->append(), int(xb::kSuccess));
    }

    // setup.ini with the instruction lines, the time-outs and [Ports]:
    // com1 the scale, com2 the card reader, com3 the printer.
    void writeIni(const Timers& timers, bool ports = true) const
    {
        QByteArray ini = "[Inbound]\r\nmsg1=Drive forward to the loader.\r\nmsg2=Come back to the scale when "
                         "loaded.\r\n[Outbound]\r\nmsg1=Take your ticket.\r\nmsg2=Drive safely.\r\n[Timer]\r\n";
        ini += "license=" + QByteArray::number(timers.license) + "\r\n";
        ini += "outbound=" + QByteArray::number(timers.outbound) + "\r\n";
        ini += "instructions=" + QByteArray::number(timers.instructions) + "\r\n";
        if (QByteArray(timers.steady) != "-")
            ini += "[Scale]\r\nsteady=" + QByteArray(timers.steady) + "\r\n";
        if (ports) {
            ini += "[Ports]\r\ncom1=" + QByteArray::fromStdString(linkOf("scale")) + "\r\n";
            ini += "com2=" + QByteArray::fromStdString(linkOf("card")) + "\r\n";
            ini += "com3=" + QByteArray::fromStdString(linkOf("printer")) + "\r\n";
        }
        writeFile(path("setup.ini"), ini);
    }

    // customer.dbf with customer.cdx holding the tags N_AME and FAX_NO.
    void writeCustomers(const std::vector<Customer>& customers) const
    {
        std::vector<xb::TagSpec> tags {{"N_AME", "n_ame", ""}, {"FAX_NO", "fax_no", ""}};
        xb::Connection c;
        c.setSafety(false);
        xb::Table* t =
            c.create(db("customer.dbf").toStdString(), catalogue::layoutFields(catalogue::kCustomerLayout), tags);
        QVERIFY(t);
        int code = 1;
        for (const auto& cu : customers) {
            t->appendStart();
            t->blank();
            t->field("code_num")->assignInteger(code++);
            t->field("n_ame")->assign(cu.name);
            t->field("fax_no")->assign(cu.card);
            QCOMPARE(t->append(), int(xb::kSuccess));
        }
    }

    void writeProducts(const std::vector<std::string>& names) const
    {
        xb::Connection c;
        c.setSafety(false);
        xb::Table* t = c.create(db("product.dbf").toStdString(), catalogue::layoutFields(catalogue::kProductLayout),
                                catalogue::layoutTags(catalogue::kProductLayout));
        QVERIFY(t);
        int code = 1;
        for (const auto& n : names) {
            t->appendStart();
            t->blank();
            t->field("code_num")->assignInteger(code++);
            t->field("n_ame")->assign(n);
            QCOMPARE(t->append(), int(xb::kSuccess));
        }
    }

    void writeControl(long long next) const
    {
        xb::Connection c;
        c.setSafety(false);
        xb::Table* t = c.create(db("control.dbf").toStdString(), {{"company", 'N', 10, 0}});
        QVERIFY(t);
        t->appendStart();
        t->blank();
        t->field("company")->assignInteger(next);
        QCOMPARE(t->append(), int(xb::kSuccess));
    }

    // An open ticket in ticket.dbf, as an earlier inbound visit left it.
    void writeOpenTicket(long ticket, const std::string& customer, const std::string& truck,
                         long long inWeight) const
    {
        const std::string file = db("ticket.dbf").toStdString();
        if (!QFile::exists(db("ticket.dbf")))
            QVERIFY(catalogue::CreateTable(catalogue::kTicketLayout, file));
        xb::Connection c;
        xb::Table* t = c.open(file);
        QVERIFY(t);
        t->appendStart();
        t->blank();
        t->field("ticket")->assignInteger(ticket);
        t->field("customer")->assign(customer);
        t->field("truck")->assign(truck);
        t->field("product")->assign("TOPSOIL");
        t->field("in_time")->assign("730");
        t->field("in_date")->assign("20261209");
        t->field("in_wgt")->assignInteger(inWeight);
        t->field("complete")->assignLogical(false);
        QCOMPARE(t->append(), int(xb::kSuccess));
    }

    // The usual site: scale on com1, printer of type 1 on com3, two
    // customers, three materials, the counter at 500.
    void writeStandard(const Timers& timers = {}) const
    {
        writeSetup("1", "3", "1");
        writeIni(timers);
        writeCustomers({{"ARDWICK HAULAGE", "1001"}, {"BLUE RIVER AGGREGATES", "1002"}});
        writeProducts({"TOPSOIL", "PEA GRAVEL", "WASHED SAND"});
        writeControl(500);
    }

    // The swipe screen as the program entry makes it: created, then shown.
    TfrmSwipe* startKiosk()
    {
        swipe_.reset(new TfrmSwipe);
        swipe_->FormCreate();
        kiosk::Flow().start(swipe_.get());
        if (!QTest::qWaitForWindowExposed(swipe_.get()))
            qWarning("the swipe screen was not exposed");
        return swipe_.get();
    }
    TfrmSwipe* swipe() const { return swipe_.get(); }
    void closeSwipe()
    {
        if (swipe_ && swipe_->isVisible())
            swipe_->closeByProgram();
        swipe_.reset();
        QApplication::processEvents();
    }

    // Sends one frame and waits until the kiosk has read it.
    bool weigh(const std::string& weight, char unit = 'K')
    {
        if (!scale.send(frame(weight, unit)))
            return false;
        const std::string expected = weight.find("---") != std::string::npos ? "X" : std::string(1, unit);
        std::string digits;
        for (char ch : weight)
            if ((ch >= '0' && ch <= '9') || ch == '-')
                digits += ch;
        for (int i = 0; i < 300; ++i) {
            const auto& r = devices::ScaleReading();
            if (r.unit == expected && (expected == "X" || r.weight == digits))
                return true;
            QTest::qWait(10);
        }
        return false;
    }

    // Keeps the scale sending the weight, ten frames a second, as an
    // indicator does (an empty weight stops it); waits until the kiosk has
    // read the first frame.
    bool stream(const std::string& weight, char unit = 'K')
    {
        streamed_ = frame(weight, unit);
        if (weight.empty()) {
            streamTimer_.stop();
            return true;
        }
        if (!streamTimer_.isActive())
            streamTimer_.start(100);
        return weigh(weight, unit);
    }

    // Sends a card line (text CR LF) on the card port.
    bool swipeCard(const std::string& text) const { return card.send(text + "\r\n"); }

    // Waits until the kiosk has read and parsed everything sent on the card port.
    bool cardTaken() const
    {
        for (int i = 0; i < 300; ++i) {
            int waiting = 0;
            if (::ioctl(card.slave, FIONREAD, &waiting) == 0 && waiting == 0) {
                QApplication::processEvents();
                return true;
            }
            QTest::qWait(10);
        }
        return false;
    }

    // The one kiosk screen showing, or null (also when more than one shows).
    static KioskScreen* showing()
    {
        KioskScreen* found = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* k = qobject_cast<KioskScreen*>(w); k && k->isVisible()) {
                if (found)
                    return nullptr;
                found = k;
            }
        return found;
    }

    using Row = testsupport::Row;
    static std::vector<Row> rows(const QString& file) { return testsupport::tableRows(file); }
    long long counter() const
    {
        auto r = rows(db("control.dbf"));
        return r.empty() ? -1 : std::atoll(r.front()["company"].c_str());
    }

    static void writeFile(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

private:
    void link(const Pty& pty, const char* role) const
    {
        const std::string l = linkOf(role);
        ::unlink(l.c_str());
        if (pty.name.empty() || ::symlink(pty.name.c_str(), l.c_str()) != 0)
            qWarning("no %s device", role);
    }
    std::unique_ptr<TfrmSwipe> swipe_;
    QTimer streamTimer_;
    std::string streamed_;
};

// A message as caption, lines, kind and buttons, for comparing in one go.
inline QStringList texts(const dialogs::Message& m)
{
    QString kind = m.kind == dialogs::kError ? "error" : QString("kind %1").arg(m.kind);
    QString buttons = m.buttons == dialogs::kOk ? "OK" : QString("buttons %1").arg(m.buttons);
    return {QString::fromStdString(m.caption), QString::fromStdString(m.line1), QString::fromStdString(m.line2),
            kind, buttons};
}

// Clicks the on-screen keys of the text, then Enter when asked.
inline void typePlate(TfrmLicense* screen, const QString& text, bool enter = true)
{
    for (QChar ch : text) {
        QPushButton* key = screen->Keyboard1->key(QString(ch));
        QVERIFY2(key, qPrintable(QString("no key ") + ch));
        QTest::mouseClick(key, Qt::LeftButton);
    }
    if (enter)
        QTest::mouseClick(screen->Keyboard1->key("Enter"), Qt::LeftButton);
}

// Types on the physical keyboard into the swipe box, as a keyboard-type card
// reader does, then Enter.
inline void typeSwipe(TfrmSwipe* swipe, const QString& text)
{
    QTest::keyClicks(swipe->txtSwipe, text);
    QTest::keyClick(swipe->txtSwipe, Qt::Key_Return);
}

}  // namespace kiosktest

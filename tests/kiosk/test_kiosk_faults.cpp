// Drivers and devices as they behave at an unattended scale, through the
// real screens with the program's own message boxes: boxes left unanswered
// through a time-out, two messages at once, tables that cannot be read or
// written, a double tap, an empty or unsteady scale, a driver who walks
// away, a card reader typing on the plate screen, a printer that takes
// nothing. Each row is a sequence of steps and what the kiosk must show and
// store after them; every row ends with the kiosk ready for the next card,
// and no message shows a driver the engine's words.

#include "TestSupport.h"

#include "KioskSite.h"
#include "dialogs/ProgramMessages.h"
#include "dialogs/fMsgBox.h"

#include <QLabel>
#include <QtTest>

#include <cerrno>
#include <functional>
#include <set>

using namespace kiosktest;

namespace {

const xb::LocalTime kNow {2026, 12, 9, 3, 10, 0};

// The operating system's files, with every write to the files of chosen
// names failing (a counter or a ticket table that cannot be written).
class WriteFaults final : public xb::FileLayer {
public:
    std::set<std::string> failing;  // base names, lower case
    // Runs once, before the next open of the file of this base name: what
    // another program does meanwhile.
    std::string meanwhileAt;
    std::function<void()> meanwhile;

    int open(const std::string& path, int flags, mode_t mode) override
    {
        const std::string name = QFileInfo(QString::fromStdString(path)).fileName().toLower().toStdString();
        if (meanwhile && name == meanwhileAt) {
            auto run = std::move(meanwhile);
            meanwhile = nullptr;
            run();
        }
        const int fd = xb::posixFiles().open(path, flags, mode);
        if (fd >= 0)
            names_[fd] = name;
        return fd;
    }
    int close(int fd) override
    {
        names_.erase(fd);
        return xb::posixFiles().close(fd);
    }
    ssize_t pread(int fd, void* b, std::size_t n, uint64_t o) override { return xb::posixFiles().pread(fd, b, n, o); }
    ssize_t pwrite(int fd, const void* b, std::size_t n, uint64_t o) override
    {
        if (failing.count(names_[fd])) {
            errno = EIO;
            return -1;
        }
        return xb::posixFiles().pwrite(fd, b, n, o);
    }
    int sync(int fd) override { return xb::posixFiles().sync(fd); }
    int size(int fd, uint64_t& bytes) override { return xb::posixFiles().size(fd, bytes); }
    int truncate(int fd, uint64_t bytes) override { return xb::posixFiles().truncate(fd, bytes); }
    int rename(const std::string& a, const std::string& b) override { return xb::posixFiles().rename(a, b); }
    int remove(const std::string& p) override { return xb::posixFiles().remove(p); }
    int makeDirectory(const std::string& p, mode_t m) override { return xb::posixFiles().makeDirectory(p, m); }
    int syncDirectory(const std::string& d) override { return xb::posixFiles().syncDirectory(d); }

private:
    std::map<int, std::string> names_;
};

// Notes whether an outbound screen, once it has its figures, shows a tare
// of 0 (the whole truck as net).
class TareWatch final : public QObject {
public:
    bool* saw = nullptr;

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show)
            if (auto* out = qobject_cast<TfrmOutbound*>(o)) {
                QPointer<TfrmOutbound> screen(out);
                bool* note = saw;
                // After the screen has set its figures, before it goes on.
                QTimer::singleShot(0, [screen, note] {
                    if (screen && screen->txtTare->text() == "0")
                        *note = true;
                });
            }
        return false;
    }
};

QByteArray bytesOf(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

}  // namespace

class TestKioskFaults : public QObject {
    Q_OBJECT

private slots:
    void sequences_data();
    void sequences();

private:
    // Runs one step; false (with the reason) when an expectation fails.
    bool step(const QString& line);
    KioskScreen* screenNamed(const QString& name) const;

    Site* site_ = nullptr;
    WriteFaults* faults_ = nullptr;
    std::vector<dialogs::Message> shown_;
    std::map<QString, QByteArray> kept_;  // file bytes kept by "keep", for "unchanged"
    QTimer wobble_;
    QString why_;
    QPoint lastTap_;  // where the last touch landed, on the screen
    long long otherWrote_ = -1;  // the counter another program wrote, -1: none
    bool sawZeroTare_ = false;   // an outbound screen showed a tare of 0
};

void TestKioskFaults::sequences_data()
{
    // Setup steps run before the kiosk starts, the others after; a step
    // that checks waits for its state (a few seconds at most).
    //   timers L O I      the licence, outbound and instructions time-outs
    //   steady S          [Scale] steady (0 unless set)
    //   open N NAME KG    an open ticket, as an earlier visit left it
    //   garbage FILE      the file's bytes replaced by what no table holds
    //   cut FILE          the table cut short inside its last record
    //   unplug printer    the printer's device gone
    //   writefault FILE   writes to the file fail (on, "off" to mend)
    //   keep FILE / unchanged FILE   its bytes, and that they are the same
    //   weigh KG / pounds KG   the scale sends the weight, ten frames a second
    //   wobble A B        frames alternating between two weights
    //   card TEXT         a line from the serial card reader
    //   reader TEXT       a keyboard-type reader: the keys and Enter
    //   plate TEXT / enter     the on-screen keys and Enter / Enter alone
    //   material N / double N  a touch on the Nth material / two in a row
    //   ok                the OK of the box showing
    //   wait MS
    //   screen NAME       the kiosk screen showing (swipe, license, material,
    //                     outbound, instructions)
    //   box CAPTION|LINE1|LINE2   the one box showing; nobox: none
    //   waiting N         boxes waiting behind it
    //   open N / done N / counter N / printed N   tickets and counter
    //   plateis TEXT / label12 TEXT / lblwait on|off
    //   materials N       (setup) product.dbf with N materials
    //   patch FILE OLD NEW   (setup) the bytes OLD of the file become NEW
    //   retap MS          MS later, a touch again where the last one landed,
    //                     on whatever window shows there then
    //   keys TEXT         a keyboard-type reader's keys and Enter, wherever
    //                     the keyboard is (a box, too)
    //   meanwhile FILE counter N   another program sets the counter to N
    //                     just before the kiosk next opens FILE
    //   ticketno N        an open ticket numbered N
    //   boxcaption TEXT   the caption of the one box showing
    //   day N             (setup) a completed ticket N in the day's table
    //   productnames A B  (setup) product.dbf with these names, '_' a blank,
    //                     each character one byte of the site's code page
    //   product TEXT      the open ticket's material, byte for byte (as above)
    //   kept FILE         the bytes kept by "keep" are still in the file,
    //                     past its first 32 (the count and date may change)
    QTest::addColumn<QStringList>("steps");
    const QString seeOffice = "|Please see the scale office.";
    const QString scaleError = "box Weigh Scale Error|Scale Indicator Error!|Unable to read the weight.";
    const QString notStored = "box Ticket Error|The ticket could not be stored." + seeOffice;

    QTest::newRow("a box left through the licence time-out, then the next card")
        << QStringList {"timers 1 0 0", "card 1001", "screen license", "enter",
                        "box License Plate|Please enter License Plate.|", "screen swipe", "nobox", "card 1002",
                        "screen license", "nobox"};
    QTest::newRow("a printer box left through the instructions time-out, then a reader's card")
        << QStringList {"timers 0 1 1", "open 77 BLUE_RIVER_AGGREGATES 9000", "unplug printer", "weigh 15000",
                        "card 1002", "screen outbound",
                        "box Printer Error|Your weighing is stored, but the ticket could not be printed." + seeOffice,
                        "printed 0",
                        "label12 THE TICKET COULD NOT BE PRINTED.  Your weighing is stored; please see the scale office.",
                        "done 1", "open 0", "screen swipe", "nobox", "reader 1001", "screen license"};
    QTest::newRow("an unknown card with a damaged customer index: one box")
        << QStringList {"garbage customer.cdx", "card 4242", "box Card Error|Invalid Swipe Card!|", "waiting 0",
                        "ok", "nobox", "screen swipe", "card 1001", "screen license"};
    QTest::newRow("two messages at once: the second waits its turn")
        << QStringList {"open 77 BLUE_RIVER_AGGREGATES 9000", "card 4242", "box Card Error|Invalid Swipe Card!|",
                        "pounds 15000", "card 1002", "waiting 1", "ok",
                        "box Weigh Scale Error|Unit mis-matched!|Please set the Unit of the Scale to \"kg\"", "ok",
                        "nobox", "screen swipe", "weigh 15000", "reader 1002", "screen outbound", "done 1"};
    QTest::newRow("a ticket table that cannot be written, then mended")
        << QStringList {"card 1001", "plate AB1", "weigh 12000", "writefault ticket.dbf", "material 2", notStored,
                        "screen swipe", "open 0", "ok", "writefault off", "card 1001", "plate AB1", "material 2",
                        "screen instructions", "open 1"};
    QTest::newRow("a damaged counter: nothing stored, the visit ends")
        << QStringList {"garbage control.dbf", "keep control.dbf", "card 1001", "plate AB1", "weigh 12000",
                        "material 1", notStored, "screen swipe", "open 0", "unchanged control.dbf", "ok", "card 1002",
                        "screen license"};
    QTest::newRow("a counter that cannot be written issues no number")
        << QStringList {"card 1001", "plate AB1", "weigh 12000", "writefault control.dbf", "material 1", notStored,
                        "open 0", "counter 500", "ok", "writefault off", "card 1002", "plate CD2", "material 1",
                        "screen instructions", "open 1", "counter 501"};
    QTest::newRow("numbers open tickets hold are skipped")
        << QStringList {"open 500 BLUE_RIVER_AGGREGATES 9000", "open 501 SOMEONE 9000", "card 1001", "plate AB1",
                        "weigh 12000", "material 1", "screen instructions", "open 3", "counter 503"};
    QTest::newRow("a double tap stores one ticket")
        << QStringList {"card 1001", "plate AB1", "weigh 12000", "double 2", "screen instructions", "open 1",
                        "counter 501"};
    QTest::newRow("a double tap while the weight settles stores one ticket")
        << QStringList {"steady 1", "card 1001", "plate AB1", "weigh 12000", "double 2", "lblwait on",
                        "screen instructions", "open 1", "counter 501"};
    QTest::newRow("an outbound swipe on an empty scale")
        << QStringList {"open 77 BLUE_RIVER_AGGREGATES 9000", "weigh 0", "card 1002", scaleError, "screen swipe",
                        "done 0", "open 1"};
    QTest::newRow("a weight below zero at the material")
        << QStringList {"card 1001", "plate AB1", "weigh -40", "material 1", scaleError, "screen material", "open 0",
                        "ok", "weigh 12000", "material 1", "screen instructions", "open 1"};
    QTest::newRow("a weight that settles is taken once steady")
        << QStringList {"steady 1", "open 77 BLUE_RIVER_AGGREGATES 9000", "wobble 15000 15400", "card 1002",
                        "lblwait on", "weigh 15200", "screen outbound", "lblwait off", "done 1", "nobox"};
    QTest::newRow("a weight that never settles gives the scale error")
        << QStringList {"steady 1", "card 1001", "plate AB1", "wobble 12000 12300", "material 1", "lblwait on",
                        "wait 4000", scaleError, "lblwait off", "screen material", "open 0"};
    QTest::newRow("a driver who leaves at the material screen")
        << QStringList {"timers 1 0 0", "weigh 12000", "card 1001", "plate AB1", "screen material", "screen swipe",
                        "open 0", "card 1002", "screen license"};
    QTest::newRow("a box at the material screen goes when its time runs out")
        << QStringList {"timers 1 0 0", "card 1001", "plate AB1", "pounds 12000", "material 1",
                        "box Weigh Scale Error|Unit mis-matched!|Please set the Unit of the Scale to \"kg\",",
                        "screen swipe", "nobox", "open 0", "reader 1002", "screen license"};
    QTest::newRow("a card typed on the plate screen is not a plate")
        << QStringList {"card 1001", "screen license", "reader 1001", "screen license", "plateis ", "nobox",
                        "plate AB1", "screen material"};
    QTest::newRow("an open-ticket table cut short inside its last record")
        << QStringList {"open 77 ARDWICK_HAULAGE 9000", "open 78 BLUE_RIVER_AGGREGATES 9000", "cut ticket.dbf",
                        "keep ticket.dbf", "weigh 15000", "card 1002",
                        "box Ticket Error|The open tickets cannot be read." + seeOffice, "screen swipe", "ok",
                        "card 1001", "box Ticket Error|The open tickets cannot be read." + seeOffice,
                        "unchanged ticket.dbf", "done 0"};
    QTest::newRow("an open-ticket table that is no table")
        << QStringList {"garbage ticket.dbf", "keep ticket.dbf", "card 1001",
                        "box Ticket Error|The open tickets cannot be read." + seeOffice, "screen swipe",
                        "unchanged ticket.dbf"};
    QTest::newRow("a customer table that is no table")
        << QStringList {"garbage customer.dbf", "card 1001", "box Card Error|The card cannot be checked." + seeOffice,
                        "screen swipe"};

    // A box of one visit is not the next driver's: his weighing does not
    // show under another visit's "not stored".
    QTest::newRow("a box of the visit before over the next driver's weighing")
        << QStringList {"open 77 BLUE_RIVER_AGGREGATES 9000", "card 1001", "plate AB1", "weigh 12000",
                        "writefault ticket.dbf", "material 1", notStored, "screen swipe", "writefault off",
                        "weigh 15000", "card 1002", "screen outbound", "done 1", "nobox"};
    // A card presented to a keyboard-type reader while a box shows is a
    // card, as the serial reader's line is; it does not answer the box.
    QTest::newRow("a keyboard-type reader's card while a box shows")
        << QStringList {"card 4242", "box Card Error|Invalid Swipe Card!|", "keys 1001", "screen license"};
    // No time-outs (no setup.ini, or keys of 0): the kiosk still comes back
    // to the swipe screen after a weighing out.
    QTest::newRow("without time-outs the kiosk comes back after a weighing out")
        << QStringList {"open 77 BLUE_RIVER_AGGREGATES 9000", "weigh 15000", "card 1002", "screen outbound",
                        "done 1", "wait 20000", "screen swipe", "card 1001", "screen license"};
    // A touch on Enter given again a moment later (the screen was slow, the
    // touch bounced) lands on the material screen: it chooses no material.
    QTest::newRow("a second touch on Enter picks no material")
        << QStringList {"materials 16", "weigh 12000", "card 1001", "plate AB1", "retap 600", "wait 300",
                        "screen material", "open 0"};
    QTest::newRow("a second touch on a box's OK picks no material")
        << QStringList {"materials 16", "card 1001", "plate AB1", "pounds 12000", "material 1",
                        "box Weigh Scale Error|Unit mis-matched!|Please set the Unit of the Scale to \"kg\",",
                        "weigh 12000", "ok", "retap 300", "wait 300", "screen material", "open 0"};
    // Another program issues numbers from the counter while the kiosk
    // issues one: the counter never goes back, no number is issued twice.
    QTest::newRow("another program keeps the counter meanwhile")
        << QStringList {"weigh 12000", "card 1001", "plate AB1", "meanwhile ticket.dbf counter 600", "material 1",
                        "screen instructions", "open 1", "notbehind 600"};
    // A counter whose number cannot be read is a damaged counter: numbering
    // does not start again at 1.
    QTest::newRow("a counter whose number cannot be read")
        << QStringList {"patch control.dbf 500 5O0", "card 1001", "plate AB1", "weigh 12000", "material 1", notStored,
                        "screen swipe", "open 0"};
    // A day's table cut short inside its last record (a completed ticket the
    // header counts): the next completed ticket is not written over what is
    // left of it.
    QTest::newRow("a day table cut short inside its last record")
        << QStringList {"day 10", "day 11", "cut Dec0926.dbf", "open 77 BLUE_RIVER_AGGREGATES 9000",
                        "keep Dec0926.dbf", "weigh 15000", "card 1002", "wait 1000", "kept Dec0926.dbf"};
    // The tables hold their text in the site's single-byte code page: a
    // material named with an accented letter is stored as the table names
    // it, not as something else.
    QTest::newRow("a material with an accented letter")
        << QStringList {QString::fromUtf8("productnames PIERRE_CONCASS\u00C9E TOPSOIL"), "card 1001", "plate AB1",
                        "weigh 12000", "material 1", "screen instructions",
                        QString::fromUtf8("product PIERRE_CONCASS\u00C9E")};
    // An open ticket whose first weight cannot be read is not weighed out
    // with a tare of 0, and it is not the scale's fault.
    QTest::newRow("an open ticket whose first weight cannot be read")
        << QStringList {"open 77 BLUE_RIVER_AGGREGATES 9137", "patch ticket.dbf 9137 9l37", "weigh 15000",
                        "card 1002", "boxcaption Ticket Error", "tare not 0", "done 0", "open 1"};
}

KioskScreen* TestKioskFaults::screenNamed(const QString& name) const
{
    if (name == "swipe")
        return site_->swipe();
    if (name == "license")
        return kiosk::Flow().license;
    if (name == "material")
        return kiosk::Flow().material;
    if (name == "outbound")
        return kiosk::Flow().outbound;
    if (name == "instructions")
        return kiosk::Flow().instructions;
    return nullptr;
}

bool TestKioskFaults::step(const QString& line)
{
    const QString verb = line.section(' ', 0, 0);
    const QString arg = line.section(' ', 1);
    Site& site = *site_;
    auto fail = [this, &line](const QString& what) {
        why_ = line + ": " + what;
        return false;
    };
    // Waits for a state, letting the kiosk run meanwhile.
    auto until = [](const std::function<bool()>& state, int ms = 5000) {
        for (QElapsedTimer t; !t.isValid() || t.elapsed() < ms;) {
            if (!t.isValid())
                t.start();
            if (state())
                return true;
            QTest::qWait(20);
        }
        return state();
    };
    const QString dayTable = site.db(QString::fromStdString(catalogue::dayTableName(xb::Date {kNow.year, kNow.month, kNow.day})));

    if (verb == "weigh" || verb == "pounds") {
        // The indicator sends on, so the reading stays fresh however long
        // the row takes.
        wobble_.stop();
        return site.stream(arg.toStdString(), verb == "weigh" ? 'K' : 'L') || fail("the kiosk did not read the frame");
    }
    if (verb == "wobble") {
        site.stream("");
        const QStringList w = arg.split(' ');
        auto flip = std::make_shared<bool>(false);
        wobble_.disconnect();
        connect(&wobble_, &QTimer::timeout, this, [w, flip, this] {
            *flip = !*flip;
            site_->scale.send(frame(w[*flip ? 1 : 0].toStdString()));
        });
        wobble_.start(100);
        return until([] { return devices::ScaleReading().unit == "K"; }) || fail("the kiosk read no frame");
    }
    if (verb == "card")
        return (site.swipeCard(arg.toStdString()) && site.cardTaken()) || fail("the card line was not read");
    if (verb == "reader") {
        // The keys go where the keyboard is, as a reader's would.
        if (!until([] {
                QWidget* f = QApplication::focusWidget();
                return f && qobject_cast<KioskScreen*>(f->window()) && f->window()->isVisible();
            }))
            return fail("no kiosk screen has the keyboard");
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClicks(focus, arg);
        QTest::keyClick(focus, Qt::Key_Return);
        return true;
    }
    if (verb == "plate" || verb == "enter") {
        if (!until([] { return kiosk::Flow().license && kiosk::Flow().license->isVisible(); }))
            return fail("no licence screen");
        typePlate(kiosk::Flow().license, arg, true);
        QPushButton* enter = kiosk::Flow().license->Keyboard1->key("Enter");
        lastTap_ = enter->mapToGlobal(enter->rect().center());
        return true;
    }
    if (verb == "material" || verb == "double") {
        if (!until([] { return kiosk::Flow().material && kiosk::Flow().material->isVisible(); }))
            return fail("no material screen");
        QPushButton* b = kiosk::Flow().material->cmdMat[arg.toInt() - 1];
        QTest::mouseClick(b, Qt::LeftButton);
        if (verb == "double")
            QTest::mouseClick(b, Qt::LeftButton);
        lastTap_ = b->mapToGlobal(b->rect().center());
        return true;
    }
    if (verb == "ok") {
        TfrmMsgBox* box = dialogs::showingMsgBox();
        if (!box)
            return fail("no box to answer");
        lastTap_ = box->cmdOK->mapToGlobal(box->cmdOK->rect().center());
        QTest::mouseClick(box->cmdOK, Qt::LeftButton);
        return true;
    }
    if (verb == "retap") {
        // No window manager: the touch goes to the window on top at that
        // point, a box before a screen.
        QTest::qWait(arg.toInt());
        QWidget* on = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->frameGeometry().contains(lastTap_) &&
                (!on || qobject_cast<TfrmMsgBox*>(w)))
                on = w;
        if (!on)
            return fail("no window at the touch");
        QWidget* target = on->childAt(on->mapFromGlobal(lastTap_));
        if (!target)
            target = on;
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFromGlobal(lastTap_));
        return true;
    }
    if (verb == "keys") {
        QWidget* focus = QApplication::focusWidget();
        if (!focus)
            return fail("nothing has the keyboard");
        QTest::keyClicks(focus, arg);
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : focus, Qt::Key_Return);
        return true;
    }
    if (verb == "meanwhile") {
        const QStringList w = arg.split(' ');
        const QString control = site.db("control.dbf");
        const long long value = w[2].toLongLong();
        faults_->meanwhileAt = w[0].toLower().toStdString();
        otherWrote_ = -1;
        faults_->meanwhile = [this, control, value] {
            // As another program that honours the counter's lock: it does
            // not wait here, it writes only when the record is free.
            const auto wait = xb::setLockWait(std::chrono::milliseconds(0));
            xb::Connection other;
            xb::Table* t = other.open(control.toStdString());
            if (t && t->lockRecord(1)) {
                if (t->top() == xb::kSuccess && t->field("company")->assignInteger(value) && t->flush() == xb::kSuccess)
                    otherWrote_ = value;
                t->unlockRecord(1);
            }
            if (t)
                t->close();
            xb::setLockWait(wait);
        };
        return true;
    }
    if (verb == "notbehind") {
        // What the other program wrote was kept: the counter is past it and
        // the kiosk's ticket is not one of the numbers before it.
        if (otherWrote_ < 0)
            return true;
        if (site.counter() <= otherWrote_)
            return fail(QString("the counter went back to %1").arg(site.counter()));
        for (auto& r : Site::rows(site.db("ticket.dbf")))
            if (std::atol(r["ticket"].c_str()) < otherWrote_)
                return fail(QString("the kiosk issued %1").arg(QString::fromStdString(r["ticket"])));
        return true;
    }
    if (verb == "tare") {
        // arg: "not 0": no outbound screen of the visit showed a tare of 0.
        return !sawZeroTare_ || fail("the outbound screen showed a tare of 0");
    }
    if (verb == "ticketno") {
        return until([&] {
            for (auto& r : Site::rows(site.db("ticket.dbf")))
                if (std::atol(r["ticket"].c_str()) == arg.toLong())
                    return true;
            return false;
        }) || fail("no open ticket has that number");
    }
    if (verb == "boxcaption") {
        auto caption = [] {
            TfrmMsgBox* b = dialogs::showingMsgBox();
            return b ? b->windowTitle() : QString("(none)");
        };
        return until([&] { return caption() == arg; }) || fail("the box is " + caption());
    }
    if (verb == "wait") {
        QTest::qWait(arg.toInt());
        return true;
    }
    if (verb == "writefault") {
        faults_->failing.clear();
        if (arg != "off")
            faults_->failing.insert(arg.toStdString());
        return true;
    }
    if (verb == "keep") {
        kept_[arg] = bytesOf(site.db(arg));
        return true;
    }
    if (verb == "product") {
        const std::string want = QString(arg).replace('_', ' ').toUtf8().toStdString();
        auto rows = Site::rows(site.db("ticket.dbf"));
        if (rows.size() != 1)
            return fail(QString("%1 open tickets").arg(rows.size()));
        return rows.front()["product"] == want ||
               fail("the material stored is " + QString::fromUtf8(rows.front()["product"].c_str()));
    }
    if (verb == "kept") {
        const QByteArray now = bytesOf(site.db(arg));
        const QByteArray& then = kept_[arg];
        return (now.size() >= then.size() && now.mid(32, then.size() - 32) == then.mid(32)) ||
               fail("what the file held was written over");
    }
    if (verb == "unchanged")
        return bytesOf(site.db(arg)) == kept_[arg] || fail("the file was changed");
    if (verb == "screen")
        return until([&] { return screenNamed(arg) && Site::showing() == screenNamed(arg); }) ||
               fail(QString("showing: %1").arg(Site::showing() ? Site::showing()->objectName() : "none or two"));
    if (verb == "box") {
        const QStringList want = arg.split('|');
        auto texts = [] {
            TfrmMsgBox* b = dialogs::showingMsgBox();
            return b ? QStringList {b->windowTitle(), b->txtMessage1->accessibleName(), b->txtMessage2->accessibleName()}
                     : QStringList {};
        };
        if (!until([&] { return texts() == want; }))
            return fail("the box shows: " + texts().join('|'));
        // The box takes the input and is the only one showing.
        if (QApplication::activeModalWidget() != dialogs::showingMsgBox())
            return fail("another window takes the input");
        int boxes = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            boxes += qobject_cast<TfrmMsgBox*>(w) && w->isVisible();
        return boxes == 1 || fail(QString("%1 boxes show").arg(boxes));
    }
    if (verb == "nobox")
        return until([] { return !dialogs::showingMsgBox() && !QApplication::activeModalWidget(); }) ||
               fail("a box shows");
    if (verb == "waiting")
        return until([&] { return dialogs::waitingMsgBoxes() == arg.toInt(); }) ||
               fail(QString("%1 wait").arg(dialogs::waitingMsgBoxes()));
    if (verb == "open" || verb == "done") {
        const QString file = verb == "open" ? site.db("ticket.dbf") : dayTable;
        return until([&] { return Site::rows(file).size() == std::size_t(arg.toInt()); }) ||
               fail(QString("%1 tickets").arg(Site::rows(file).size()));
    }
    if (verb == "counter")
        return until([&] { return site.counter() == arg.toLongLong(); }) || fail(QString("the counter holds %1").arg(site.counter()));
    if (verb == "printed") {
        if (!until([] { return kiosk::Flow().outbound && kiosk::Flow().outbound->stored; }))
            return fail("nothing stored");
        return kiosk::Flow().outbound->printed == arg.toInt() ||
               fail(QString("%1 printed").arg(kiosk::Flow().outbound->printed));
    }
    if (verb == "plateis")
        return kiosk::Flow().license->txtLicense->text() == arg || fail(kiosk::Flow().license->txtLicense->text());
    if (verb == "label12")
        return until([&] { return kiosk::Flow().outbound->Label12->text() == arg; }) ||
               fail(kiosk::Flow().outbound->Label12->text());
    if (verb == "lblwait") {
        auto shows = [] {
            for (KioskScreen* s : {static_cast<KioskScreen*>(kiosk::SwipeScreen()),
                                   static_cast<KioskScreen*>(kiosk::Flow().material.data())})
                if (s && s->isVisible() && s->findChild<QLabel*>("lblWait")->isVisible())
                    return true;
            return false;
        };
        return until([&] { return shows() == (arg == "on"); }) || fail("the wait line is not as asked");
    }
    return fail("unknown step");
}

void TestKioskFaults::sequences()
{
    QFETCH(QStringList, steps);
    WriteFaults faults;
    Site site;
    site_ = &site;
    faults_ = &faults;
    kept_.clear();
    shown_.clear();
    why_.clear();
    xb::setClockSource([] { return kNow; });

    // The setup.
    Timers timers;
    QByteArray steady = "0";
    int first = 0;
    for (; first < steps.size(); ++first) {
        const QStringList w = steps[first].split(' ');
        if (w[0] == "timers") {
            timers.license = w[1].toInt();
            timers.outbound = w[2].toInt();
            timers.instructions = w[3].toInt();
        } else if (w[0] == "steady") {
            steady = w[1].toLatin1();
        } else if (w[0] != "open" && w[0] != "garbage" && w[0] != "cut" && w[0] != "unplug" &&
                   w[0] != "materials" && w[0] != "patch" && w[0] != "day" && w[0] != "productnames") {
            break;
        }
    }
    timers.steady = steady.constData();
    site.writeStandard(timers);
    for (int i = 0; i < first; ++i) {
        const QStringList w = steps[i].split(' ');
        if (w[0] == "open") {
            site.writeOpenTicket(w[1].toLong(), QString(w[2]).replace('_', ' ').toStdString(), "TRK" + w[1].toStdString(),
                                 w[3].toLongLong());
        } else if (w[0] == "garbage") {
            Site::writeFile(site.db(w[1]), QByteArray("not the bytes of a table or an index\r\n").repeated(30));
        } else if (w[0] == "cut") {
            QFile f(site.db(w[1]));
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.resize(f.size() - 40));  // the end mark and part of the last record
        } else if (w[0] == "unplug") {
            QVERIFY(QFile::remove(QString::fromStdString(site.linkOf("printer"))));
        } else if (w[0] == "day") {
            const QString day = site.db(QString::fromStdString(catalogue::dayTableName(xb::Date {kNow.year, kNow.month, kNow.day})));
            if (!QFile::exists(day))
                QVERIFY(catalogue::CreateTable(catalogue::kTicketLayout, day.toStdString()));
            xb::Connection c;
            xb::Table* t = c.open(day.toStdString());
            QVERIFY(t);
            t->appendStart();
            t->blank();
            t->field("ticket")->assignInteger(w[1].toLong());
            t->field("customer")->assign("ARDWICK HAULAGE");
            t->field("truck")->assign("DAY" + w[1].toStdString());
            t->field("product")->assign("TOPSOIL");
            t->field("in_time")->assign("130");
            t->field("in_date")->assign("20261209");
            t->field("out_time")->assign("210");
            t->field("out_date")->assign("20261209");
            t->field("in_wgt")->assignInteger(14000);
            t->field("out_wgt")->assignInteger(9000);
            t->field("net_wgt")->assignInteger(5000);
            t->field("complete")->assignLogical(true);
            QCOMPARE(t->append(), int(xb::kSuccess));
        } else if (w[0] == "productnames") {
            std::vector<std::string> names;
            for (int n = 1; n < w.size(); ++n)
                names.push_back(QString(w[n]).replace('_', ' ').toUtf8().toStdString());
            site.writeProducts(names);
        } else if (w[0] == "materials") {
            std::vector<std::string> names;
            for (int n = 1; n <= w[1].toInt(); ++n)
                names.push_back("MATERIAL " + std::to_string(n));
            site.writeProducts(names);
        } else if (w[0] == "patch") {
            QFile f(site.db(w[1]));
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray bytes = f.readAll();
            const int at = bytes.indexOf(w[2].toLatin1());
            QVERIFY2(at >= 0 && w[2].size() == w[3].size(), qPrintable(steps[i]));
            bytes.replace(at, w[3].size(), w[3].toLatin1());
            QVERIFY(f.seek(0));
            QCOMPARE(f.write(bytes), bytes.size());
        }
    }

    // The program's own message handling, with every message kept.
    auto previous = dialogs::setMessageHandler([this](const dialogs::Message& m) {
        shown_.push_back(m);
        return dialogs::programMessage(m);
    });
    dialogs::routeEngineErrors();
    sawZeroTare_ = false;
    otherWrote_ = -1;
    TareWatch tareWatch;
    tareWatch.saw = &sawZeroTare_;
    qApp->installEventFilter(&tareWatch);
    site.startKiosk();
    kiosk::CloseKioskData();
    kiosk::KioskSettings().connection = new xb::Connection(faults);

    bool ok = true;
    for (int i = first; i < steps.size() && ok; ++i)
        ok = step(steps[i]);
    wobble_.stop();
    dialogs::setMessageHandler(previous);
    xb::setErrorReport(nullptr);
    QVERIFY2(ok, qPrintable(why_));

    // The driver saw the kiosk's words only: no file, no engine detail.
    for (const dialogs::Message& m : shown_) {
        const QString text = QString::fromStdString(dialogs::messageText(m));
        for (const char* detail : {".dbf", ".cdx", "/", "offset", "record "})
            QVERIFY2(!text.contains(detail, Qt::CaseInsensitive), qPrintable(text));
    }
}

QTEST_MAIN(TestKioskFaults)
#include "test_kiosk_faults.moc"

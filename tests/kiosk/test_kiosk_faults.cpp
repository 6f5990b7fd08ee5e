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
#include <set>

using namespace kiosktest;

namespace {

const xb::LocalTime kNow {2026, 12, 9, 3, 10, 0};

// The operating system's files, with every write to the files of chosen
// names failing (a counter or a ticket table that cannot be written).
class WriteFaults final : public xb::FileLayer {
public:
    std::set<std::string> failing;  // base names, lower case

    int open(const std::string& path, int flags, mode_t mode) override
    {
        const int fd = xb::posixFiles().open(path, flags, mode);
        if (fd >= 0)
            names_[fd] = QFileInfo(QString::fromStdString(path)).fileName().toLower().toStdString();
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
        return true;
    }
    if (verb == "material" || verb == "double") {
        if (!until([] { return kiosk::Flow().material && kiosk::Flow().material->isVisible(); }))
            return fail("no material screen");
        QPushButton* b = kiosk::Flow().material->cmdMat[arg.toInt() - 1];
        QTest::mouseClick(b, Qt::LeftButton);
        if (verb == "double")
            QTest::mouseClick(b, Qt::LeftButton);
        return true;
    }
    if (verb == "ok") {
        TfrmMsgBox* box = dialogs::showingMsgBox();
        if (!box)
            return fail("no box to answer");
        QTest::mouseClick(box->cmdOK, Qt::LeftButton);
        return true;
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
        } else if (w[0] != "open" && w[0] != "garbage" && w[0] != "cut" && w[0] != "unplug") {
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
        }
    }

    // The program's own message handling, with every message kept.
    auto previous = dialogs::setMessageHandler([this](const dialogs::Message& m) {
        shown_.push_back(m);
        return dialogs::programMessage(m);
    });
    dialogs::routeEngineErrors();
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

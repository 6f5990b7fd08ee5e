// The record window for real (offscreen) on real tables: customers and
// products kept, a card read into the card field from a card reader on a
// pseudo-terminal, an open ticket handed to the station, any day's tickets
// from the data directory or its archive folder.

#include "TestSupport.h"

#include "../kiosk/KioskSite.h"
#include "devices/SerialPort.h"
#include "dialogs/MessageSeam.h"
#include "records/View.h"
#include "station/main.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

using kiosktest::Site;
using records::Mode;

namespace {

struct Data {
    const Site& site;
    QString file(const char* name) const { return site.path("station/") + name; }

    void customers(const std::vector<std::pair<std::string, std::string>>& rows) const
    {
        QDir().mkpath(site.path("station"));
        xb::Connection c;
        xb::Table* t = c.create(file("Customer.dbf").toStdString(), catalogue::layoutFields(catalogue::kCustomerLayout),
                                catalogue::layoutTags(catalogue::kCustomerLayout));
        QVERIFY(t);
        int code = 1;
        for (const auto& [name, card] : rows) {
            t->appendStart();
            t->blank();
            t->field("code_num")->assignInteger(code++);
            t->field("n_ame")->assign(name);
            t->field("fax_no")->assign(card);
            QCOMPARE(t->append(), xb::kSuccess);
        }
        QCOMPARE(t->close(), xb::kSuccess);
    }
    void products() const
    {
        QDir().mkpath(site.path("station"));
        xb::Connection c;
        xb::Table* t = c.create(file("Product.dbf").toStdString(), catalogue::layoutFields(catalogue::kProductLayout),
                                catalogue::layoutTags(catalogue::kProductLayout));
        QVERIFY(t);
        t->appendStart();
        t->blank();
        t->field("code_num")->assignInteger(7);
        t->field("n_ame")->assign("PEA GRAVEL");
        t->field("price_t")->assignNumber(12.5);
        t->field("Balance")->assignInteger(300);
        QCOMPARE(t->append(), xb::kSuccess);
        QCOMPARE(t->close(), xb::kSuccess);
    }
    // The grid's text, row by row, cells joined by '|'.
};

QStringList gridOf(const TfrmView& v)
{
    QStringList out;
    for (int r = 0; r < v.StringGrid1->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < v.StringGrid1->columnCount(); ++c)
            cells << (v.StringGrid1->item(r, c) ? v.StringGrid1->item(r, c)->text() : QString());
        out << cells.join('|');
    }
    return out;
}

// The engine's own check of a table and its index, as `dbftool check` does.
bool tableSound(const QString& path)
{
    const auto r = testsupport::run(testsupport::binDir() + "/dbftool", {"check", path});
    if (r.exitCode != 0)
        qWarning("%s", r.out.constData());
    return r.exitCode == 0;
}

}  // namespace

class TestView : public QObject {
    Q_OBJECT

    std::unique_ptr<TfrmView> open(Mode mode)
    {
        auto v = std::make_unique<TfrmView>(mode);
        v->show();
        (void)QTest::qWaitForWindowExposed(v.get(), 2000);
        return v;
    }
    // Opens an entry (Add, or Edit of `row`), types it, and presses OK.
    void enter(TfrmView& v, int row, const QString& code, const QString& name, const QString& card = {})
    {
        if (row < 0) {
            v.cmdAdd->click();
        } else {
            v.StringGrid1->setCurrentCell(row, 0);
            v.cmdEdit->click();
        }
        QCOMPARE(v.Notebook1->currentIndex(), 2);
        for (QLineEdit* e : {v.txtCodeNo, v.txtName, v.txtContact})
            e->clear();
        QTest::keyClicks(v.txtCodeNo, code);
        QTest::keyClicks(v.txtName, name);
        QTest::keyClicks(v.txtContact, card);
        v.cmdNext->click();
    }

private slots:
    void customers()
    {
        Site site;
        site.writeSetup("1", "3", "1");
        Data data {site};
        data.customers({{"BLUE RIVER AGGREGATES", "1002"}, {"ARDWICK HAULAGE", "1001"}});
        dialogs::RecordingMessages rec;
        auto v = open(Mode::kCustomer);
        QCOMPARE(v->lblTitle->text(), QString("Customer Records"));
        QCOMPARE(gridOf(*v), (QStringList {"2|ARDWICK HAULAGE|1001", "1|BLUE RIVER AGGREGATES|1002"}));
        QVERIFY(v->cmdEdit->isEnabled() && v->cmdDelete->isEnabled());
        QVERIFY(v->cmdNext->isHidden());
        QCOMPARE(v->txtName->toolTip(), QString("Customer Name"));
        QCOMPARE(v->txtContact->accessibleName(), QString("Swipe Card No."));

        struct Step {
            int row;  // -1: Add
            const char* code;
            const char* name;
            const char* card;
            const char* message;  // nullptr: none
            QStringList grid;
        };
        const Step steps[] = {
            {-1, "3", "   ", "", "\"Name\" cannot be blank.", {}},
            {-1, "3", " ardwick haulage ", "", "Record with the same Name already exists.", {}},
            {-1, "3x45", "CASCADE CONCRETE", "1003", nullptr,
             {"2|ARDWICK HAULAGE|1001", "1|BLUE RIVER AGGREGATES|1002", "345|CASCADE CONCRETE|1003"}},
            // Saved unchanged: no clash with itself.
            {0, "2", "ARDWICK HAULAGE", "1001", nullptr,
             {"2|ARDWICK HAULAGE|1001", "1|BLUE RIVER AGGREGATES|1002", "345|CASCADE CONCRETE|1003"}},
            // Another customer's card: the record is stored without it.
            {-1, "", "DUNMORE LANDSCAPING", "1002", "Swipe card number has been used by another customer!",
             {"2|ARDWICK HAULAGE|1001", "1|BLUE RIVER AGGREGATES|1002", "345|CASCADE CONCRETE|1003",
              "|DUNMORE LANDSCAPING|"}},
            // An edited one keeps its own.
            {0, "2", "ARDWICK HAULAGE LTD", "1003", "Swipe card number has been used by another customer!",
             {"2|ARDWICK HAULAGE LTD|1001", "1|BLUE RIVER AGGREGATES|1002", "345|CASCADE CONCRETE|1003",
              "|DUNMORE LANDSCAPING|"}},
            // Two customers without cards are no clash.
            {-1, "9", "EASTSIDE EXCAVATING", "", nullptr,
             {"2|ARDWICK HAULAGE LTD|1001", "1|BLUE RIVER AGGREGATES|1002", "345|CASCADE CONCRETE|1003",
              "|DUNMORE LANDSCAPING|", "9|EASTSIDE EXCAVATING|"}},
        };
        for (const Step& s : steps) {
            rec.shown.clear();
            enter(*v, s.row, s.code, s.name, s.card);
            if (s.message) {
                QCOMPARE(rec.shown.size(), std::size_t(1));
                QVERIFY2(QString::fromStdString(rec.last().line1).startsWith(s.message), rec.last().line1.c_str());
            } else {
                QVERIFY2(rec.shown.empty(), rec.shown.empty() ? "" : rec.last().line1.c_str());
            }
            if (s.grid.isEmpty()) {
                QCOMPARE(v->Notebook1->currentIndex(), 2);  // the entry stays open
                QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(v->txtName));
                v->cmdExit->click();  // Cancel
                QCOMPARE(v->cmdExit->text(), QString("E&xit"));
                // The next entry starts in the code field, wherever the
                // last one left the cursor.
                v->cmdAdd->click();
                QApplication::processEvents();
                QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(v->txtCodeNo));
                v->cmdExit->click();
                continue;
            }
            QCOMPARE(v->Notebook1->currentIndex(), 0);
            QCOMPARE(gridOf(*v), s.grid);
        }
        QVERIFY(tableSound(data.file("Customer.dbf")));

        // Delete, after Yes; No keeps it.
        rec.answers = {dialogs::Answer::kNo, dialogs::Answer::kYes};
        v->StringGrid1->setCurrentCell(3, 0);
        v->cmdDelete->click();
        QCOMPARE(gridOf(*v).size(), 5);
        v->cmdDelete->click();
        QCOMPARE(gridOf(*v).size(), 4);
        QCOMPARE(rec.last().caption, std::string("Delete Warning"));
        v.reset();
        QCOMPARE(testsupport::tableRows(data.file("Customer.dbf")).size(), std::size_t(4));
        QVERIFY(tableSound(data.file("Customer.dbf")));
    }

    void deleteTheOnlyRecord()
    {
        Site site;
        site.writeSetup("1", "3", "1");
        Data data {site};
        data.customers({{"ARDWICK HAULAGE", "1001"}});
        dialogs::RecordingMessages rec;
        rec.answers = {dialogs::Answer::kYes};
        auto v = open(Mode::kCustomer);
        v->cmdDelete->click();
        QCOMPARE(gridOf(*v), QStringList {"||"});
        QVERIFY(!v->cmdEdit->isEnabled() && !v->cmdDelete->isEnabled() && !v->cmdPrint->isEnabled());
        QVERIFY(v->cmdAdd->isEnabled());
        QVERIFY(testsupport::tableRows(data.file("Customer.dbf")).empty());
    }

    // A record another program changed underneath the window is not
    // overwritten: the list is read again.
    void changedUnderneath()
    {
        Site site;
        site.writeSetup("1", "3", "1");
        Data data {site};
        data.customers({{"ARDWICK HAULAGE", "1001"}, {"BLUE RIVER AGGREGATES", "1002"}});
        dialogs::RecordingMessages rec;
        auto v = open(Mode::kCustomer);
        // Another program at the site renames the first customer.
        const pid_t child = ::fork();
        if (child == 0) {
            xb::Connection c;
            xb::Table* t = c.open(data.file("Customer.dbf").toStdString());
            t->go(1);
            t->field("n_ame")->assign("ZENITH QUARRIES");
            ::_exit(t->close() == xb::kSuccess ? 0 : 1);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        QCOMPARE(status, 0);
        v->StringGrid1->setCurrentCell(0, 0);
        v->cmdEdit->click();
        QCOMPARE(rec.shown.size(), std::size_t(1));
        QVERIFY(QString::fromStdString(rec.last().line1).contains("changed by another program"));
        QCOMPARE(gridOf(*v), (QStringList {"2|BLUE RIVER AGGREGATES|1002", "1|ZENITH QUARRIES|1001"}));
    }

    // Another program appends a customer while the window is open: the
    // window's duplicate check sees it, and the window's Add goes after it.
    // With a second handle on the table open elsewhere in the program, the
    // table engine must find the file's last record on the disk itself.
    void addedUnderneath_data()
    {
        QTest::addColumn<bool>("heldElsewhere");
        QTest::newRow("the window's handle only") << false;
        QTest::newRow("another handle held in the program") << true;
    }
    void addedUnderneath()
    {
        QFETCH(bool, heldElsewhere);
        Site site;
        site.writeSetup("1", "3", "1");
        Data data {site};
        data.customers({{"ARDWICK HAULAGE", "1001"}});
        dialogs::RecordingMessages rec;
        auto v = open(Mode::kCustomer);
        xb::Connection other;
        if (heldElsewhere)
            QVERIFY(other.open(data.file("Customer.dbf").toStdString()));
        const pid_t child = ::fork();
        if (child == 0) {
            xb::Connection c;
            xb::Table* t = c.open(data.file("Customer.dbf").toStdString());
            t->appendStart();
            t->blank();
            t->field("n_ame")->assign("ZENITH QUARRIES");
            t->field("fax_no")->assign("1009");
            ::_exit(t->append() == xb::kSuccess && t->close() == xb::kSuccess ? 0 : 1);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        QCOMPARE(status, 0);
        enter(*v, -1, "5", "zenith quarries");
        QCOMPARE(rec.shown.size(), std::size_t(1));
        QVERIFY(QString::fromStdString(rec.last().line1).startsWith("Record with the same Name already exists."));
        v->cmdExit->click();  // Cancel
        rec.shown.clear();
        enter(*v, -1, "6", "YARROW SAND", "1009");  // the new customer's card
        QCOMPARE(rec.shown.size(), std::size_t(1));
        QVERIFY(QString::fromStdString(rec.last().line1).startsWith("Swipe card number has been used"));
        v.reset();
        other.closeAll();
        std::vector<std::string> names;
        for (auto& r : testsupport::tableRows(data.file("Customer.dbf")))
            names.push_back(r["n_ame"]);
        QCOMPARE(names, (std::vector<std::string> {"ARDWICK HAULAGE", "ZENITH QUARRIES", "YARROW SAND"}));
        QVERIFY(tableSound(data.file("Customer.dbf")));
    }

    // Customer and product tables copied from an older installation without
    // their index: the window makes it, says so, and works on the table.
    void tableWithoutIndex_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("index");
        QTest::addColumn<QStringList>("grid");
        QTest::newRow("customers") << int(Mode::kCustomer) << "Customer.dbf" << "Customer.cdx"
                                   << QStringList {"2|ARDWICK HAULAGE|1001", "1|BLUE RIVER AGGREGATES|1002"};
        QTest::newRow("products") << int(Mode::kProduct) << "Product.dbf" << "Product.cdx"
                                  << QStringList {"7|PEA GRAVEL"};
    }
    void tableWithoutIndex()
    {
        QFETCH(int, mode);
        QFETCH(QString, table);
        QFETCH(QString, index);
        QFETCH(QStringList, grid);
        Site site;
        site.writeSetup("1", "3", "1");
        Data data {site};
        data.customers({{"BLUE RIVER AGGREGATES", "1002"}, {"ARDWICK HAULAGE", "1001"}});
        data.products();
        QVERIFY(QFile::remove(data.file(qPrintable(index))));
        dialogs::RecordingMessages rec;
        auto v = open(Mode(mode));
        QCOMPARE(rec.shown.size(), std::size_t(1));
        QVERIFY2(QString::fromStdString(rec.last().line1).startsWith(table + " had no index"), rec.last().line1.c_str());
        QCOMPARE(gridOf(*v), grid);
        enter(*v, -1, "9", "WILLOW FARM");
        QCOMPARE(gridOf(*v).size(), grid.size() + 1);
        v.reset();
        QVERIFY(QFile::exists(data.file(qPrintable(index))));
        QVERIFY(tableSound(data.file(qPrintable(table))));
    }

    void productKeepsPriceAndBalance()
    {
        Site site;
        site.writeSetup("1", "3", "1");
        Data data {site};
        data.products();
        dialogs::RecordingMessages rec;
        auto v = open(Mode::kProduct);
        QVERIFY(v->txtContact->isHidden());
        enter(*v, 0, "7", "PEA GRAVEL 10MM");
        enter(*v, -1, "8", "TOPSOIL");
        QVERIFY(rec.shown.empty());
        v.reset();
        auto rows = testsupport::tableRows(data.file("Product.dbf"));
        QCOMPARE(rows.size(), std::size_t(2));
        QCOMPARE(rows[0]["n_ame"], std::string("PEA GRAVEL 10MM"));
        QCOMPARE(rows[0]["price_t"], std::string("12.50"));
        QCOMPARE(rows[0]["balance"], std::string("300"));
        QCOMPARE(rows[1]["price_t"], std::string(""));
        QCOMPARE(rows[1]["balance"], std::string(""));
        QVERIFY(tableSound(data.file("Product.dbf")));
    }

    // A card swiped at the reader lands in the card field while the
    // information page shows, and nowhere on the list.
    void cardFromTheReader()
    {
        Site site;
        site.writeStandard();
        Data data {site};
        data.customers({{"ARDWICK HAULAGE", "1001"}});
        dialogs::RecordingMessages rec;
        TfrmSwipe* kiosk = site.startKiosk();
        kiosk->hide();  // the station shows over the hidden kiosk
        auto v = open(Mode::kCustomer);
        QVERIFY(site.swipeCard("5555"));
        QVERIFY(site.cardTaken());
        QCOMPARE(v->txtContact->text(), QString());
        v->cmdAdd->click();
        QVERIFY(site.swipeCard("5556"));
        QTRY_COMPARE(v->txtContact->text(), QString("5556"));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(v->txtContact));
        QVERIFY(site.swipeCard("123456789012345678901"));  // longer than a card number can be
        QTRY_COMPARE(rec.shown.size(), std::size_t(1));
        QCOMPARE(v->txtContact->text(), QString("5556"));
        v.reset();
        // Closed: card lines go back to the kiosk.
        kiosk->show();
        QVERIFY(site.swipeCard("1001"));
        QTRY_VERIFY(Site::showing() != kiosk);
    }

    void partialRecordsToStation()
    {
        Site site;
        site.writeStandard();
        Data data {site};
        data.customers({{"ARDWICK HAULAGE", "1001"}});
        data.products();
        QVERIFY(catalogue::CreateTable(catalogue::kCompanyLayout, data.file("house.dbf").toStdString()));
        QVERIFY(testsupport::writeTicketTable(data.file("Ticket.dbf"), {{42, "ARDWICK HAULAGE", "AB-1", 1500},
                                                                         {43, "BLUE RIVER AGGREGATES", "", 800}}));
        dialogs::RecordingMessages rec;
        records::installRecordWindows();
        TfrmMain station;
        station.show();
        (void)QTest::qWaitForWindowExposed(&station, 2000);
        QApplication::processEvents();
        QTimer::singleShot(0, [] {
            auto* v = qobject_cast<TfrmView*>(QApplication::activeModalWidget());
            QVERIFY(v);
            QCOMPARE(v->windowTitle(), QString("View Records"));
            QCOMPARE(v->lblTitle->text(), QString("Incompleted Inbound Records"));
            QCOMPARE(gridOf(*v).size(), 2);
            v->StringGrid1->setCurrentCell(0, 3);
            v->StringGrid1DblClick();
        });
        station.mnuViewPartial->trigger();
        QCOMPARE(station.cboCustomerName->currentText(), QString("ARDWICK HAULAGE"));
        QCOMPARE(station.txtInWeight->text(), QString("1500"));
        QVERIFY(!station.inboundMode());
        // Enter on the row chooses it as a double-click does.
        station.ClearScreen();
        QTimer::singleShot(0, [] {
            auto* v = qobject_cast<TfrmView*>(QApplication::activeModalWidget());
            v->StringGrid1->setCurrentCell(1, 0);
            QTest::keyClick(v->StringGrid1, Qt::Key_Return);
        });
        station.mnuViewPartial->trigger();
        QCOMPARE(station.txtTicketNo->text(), QString("43"));
        // Exit chooses nothing.
        station.ClearScreen();
        QTimer::singleShot(0, [] { qobject_cast<TfrmView*>(QApplication::activeModalWidget())->cmdExit->click(); });
        station.mnuViewPartial->trigger();
        QVERIFY(station.inboundMode());
        station::Windows() = {};
    }

    void ticketRecords()
    {
        Site site;
        site.writeSetup("1", "3", "1");
        Data data {site};
        QDir().mkpath(site.path("station/26Nov"));
        QVERIFY(testsupport::writeTicketTable(data.file("Dec0826.dbf"), {{42, "ARDWICK HAULAGE", "AB-1", 1500, true}}));
        QVERIFY(testsupport::writeTicketTable(data.file("26Nov/Nov3026.dbf"), {{17, "OLD", "", 900, true}}));
        // Dec 31: closed early by the month end, then a late truck; ticket
        // 60 in both copies (a month end cut short) shows once.
        QDir().mkpath(site.path("station/26Dec"));
        QVERIFY(testsupport::writeTicketTable(data.file("26Dec/Dec3126.dbf"), {{60, "EARLY", "", 700, true}}));
        QVERIFY(testsupport::writeTicketTable(data.file("Dec3126.dbf"),
                                              {{60, "EARLY", "", 700, true}, {61, "LATE", "", 800, true}}));
        {
            xb::Connection c;
            xb::Table* t = c.open(data.file("Dec0826.dbf").toStdString());
            t->top();
            t->field("in_time")->assign("5");
            t->field("out_time")->assign("1200");
            t->field("in_date")->assign("20261208");
            QCOMPARE(t->close(), xb::kSuccess);
        }
        xb::setClockSource([] { return xb::LocalTime {2026, 12, 8, 9, 0, 0}; });
        dialogs::RecordingMessages rec;
        auto v = open(Mode::kTickets);
        QCOMPARE(v->Notebook1->currentIndex(), 1);
        QCOMPARE(v->MonthCalendar1->selectedDate(), QDate(2026, 12, 8));
        struct Step {
            QDate day;
            const char* title;  // nullptr: no table
            QStringList rows;
        };
        const Step steps[] = {
            {QDate(2026, 12, 8), "Ticket Records on December 8, 2026",
             {"42|ARDWICK HAULAGE|AB-1||00:05|12/08/2026|12:00||1500|||T|"}},
            {QDate(2026, 11, 30), "Ticket Records on November 30, 2026", {"17|OLD|||||||900|||T|"}},
            {QDate(2026, 12, 31), "Ticket Records on December 31, 2026",
             {"60|EARLY|||||||700|||T|", "61|LATE|||||||800|||T|"}},
            {QDate(2026, 12, 7), nullptr, {}},
        };
        for (const Step& s : steps) {
            rec.shown.clear();
            v->MonthCalendar1->setSelectedDate(s.day);
            v->cmdNext->click();
            if (!s.title) {
                QCOMPARE(rec.shown.size(), std::size_t(1));
                QVERIFY(QString::fromStdString(rec.last().line1).startsWith("No record can be found"));
                QCOMPARE(v->Notebook1->currentIndex(), 1);
                continue;
            }
            QCOMPARE(v->lblTitle->text(), QString(s.title));
            QCOMPARE(v->cmdNext->text(), QString("<< &Back"));
            QCOMPARE(gridOf(*v), s.rows);
            v->cmdNext->click();  // Back
            QCOMPARE(v->Notebook1->currentIndex(), 1);
            QCOMPARE(v->lblTitle->text(), QString());
        }
        xb::setClockSource({});
    }
};

QTEST_MAIN(TestView)
#include "test_view.moc"

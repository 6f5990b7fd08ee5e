// The Alt+letter keys of every window of the station, in each state it
// shows: no two controls of a window, and no two items of one menu, answer
// to the same letter (Qt then only moves the focus between them and
// presses none).

#include "TestSupport.h"

#include "../kiosk/KioskSite.h"
#include "dialogs/MessageSeam.h"
#include "monthend/EndMonth.h"
#include "records/View.h"
#include "reports/fPrintPreview.h"
#include "reports/fReports.h"
#include "setup/Setup.h"
#include "station/fAbout.h"
#include "station/main.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QtTest>

#include <functional>
#include <map>

namespace {

// The window's accelerators as it shows now: letter -> the controls using it.
std::map<QString, QStringList> accelerators(QWidget* window)
{
    std::map<QString, QStringList> out;
    auto add = [&](QWidget* w, const QString& text) {
        if (!w->isVisibleTo(window) || w->window() != window)
            return;
        const QString key = QKeySequence::mnemonic(text).toString();
        if (!key.isEmpty())
            out[key] << w->objectName() + " \"" + text + "\"";
    };
    for (auto* b : window->findChildren<QAbstractButton*>())
        add(b, b->text());
    for (auto* l : window->findChildren<QLabel*>())
        if (l->buddy())
            add(l, l->text());
    for (auto* g : window->findChildren<QGroupBox*>())
        add(g, g->title());
    for (auto* t : window->findChildren<QTabWidget*>())
        for (int i = 0; i < t->count(); ++i)
            add(t, t->tabText(i));
    for (auto* m : window->findChildren<QMenuBar*>())
        for (QAction* a : m->actions())
            if (a->isVisible())
                add(m, a->text());
    return out;
}

// Every letter used twice in the window, or twice within one of its menus.
QStringList clashes(QWidget* window, const QString& state)
{
    QStringList found;
    for (const auto& [key, users] : accelerators(window))
        if (users.size() > 1)
            found << state + ": " + key + " " + users.join(", ");
    for (auto* menu : window->findChildren<QMenu*>()) {
        std::map<QString, QStringList> items;
        for (QAction* a : menu->actions())
            if (a->isVisible() && !a->isSeparator())
                items[QKeySequence::mnemonic(a->text()).toString()] << a->text();
        for (const auto& [key, texts] : items)
            if (!key.isEmpty() && texts.size() > 1)
                found << state + ", menu " + menu->title() + ": " + key + " " + texts.join(", ");
    }
    return found;
}

}  // namespace

class TestAccelerators : public QObject {
    Q_OBJECT
private slots:
    // The check finds what the station's menu once did to Read Scale.
    void clashFound()
    {
        QWidget w;
        auto* bar = new QMenuBar(&w);
        bar->addMenu("&Reports");
        auto* read = new QPushButton("&Read Scale", &w);
        read->setObjectName("cmdReadScale");
        QCOMPARE(clashes(&w, "w").size(), 1);
        read->setText("Read &Scale");
        QVERIFY(clashes(&w, "w").isEmpty());
    }

    void stationWindows()
    {
        kiosktest::Site site;
        site.writeStandard();
        kiosk::KioskSettings().PrinterType = 1;
        // The station's data directory is the kiosk's database: the tables
        // are there, and an open ticket to weigh out.
        {
            xb::Connection c;
            xb::Table* t = c.open(site.path("setup.dbf").toStdString());
            t->top();
            t->field("datapath")->assign(site.db("").toStdString());
            QCOMPARE(t->close(), xb::kSuccess);
        }
        QVERIFY(catalogue::CreateTable(catalogue::kCompanyLayout, site.db("house.dbf").toStdString()));
        site.writeOpenTicket(501, "ARDWICK HAULAGE", "K-1", 8000);
        dialogs::RecordingMessages rec;
        QStringList found;

        TfrmMain station;
        station::Windows() = {};
        station::Windows().choosePartial = [](TfrmMain&) { return std::optional<std::string>("501"); };
        station.show();
        QVERIFY(QTest::qWaitForWindowExposed(&station));
        QApplication::processEvents();
        found << clashes(&station, "station, inbound");
        station.mnuViewPartial->trigger();
        QVERIFY(!station.inboundMode());
        found << clashes(&station, "station, outbound");
        station.mnuReprintTicket->trigger();
        found << clashes(&station, "station, reprint");

        for (records::Mode mode : {records::Mode::kCustomer, records::Mode::kProduct, records::Mode::kPartial,
                                   records::Mode::kTickets}) {
            TfrmView view(mode, &station);
            view.show();
            QApplication::processEvents();
            const QString name = QString("record window, mode %1").arg(int(mode));
            found << clashes(&view, name);
            if (mode == records::Mode::kCustomer || mode == records::Mode::kProduct) {
                view.cmdAddClick();
                found << clashes(&view, name + ", entry");
                view.cmdExitClick();
            }
            view.cmdExitClick();
        }

        const std::vector<std::pair<QString, std::function<QDialog*()>>> others {
            {"end of month", [&] { return new TfrmEndMonth(&station); }},
            {"setup", [&] { return new TfrmSetup(&station); }},
            {"report dates", [&] { return new TfrmReports(&station); }},
            {"print or preview", [&] { return new TfrmPrintPreview(&station); }},
            {"about", [&] { return new TfrmAbout(&station); }},
        };
        for (const auto& [name, make] : others) {
            std::unique_ptr<QDialog> d(make());
            d->show();
            QApplication::processEvents();
            found << clashes(d.get(), name);
            d->hide();
        }
        QVERIFY2(found.isEmpty(), qPrintable(found.join("\n")));
    }
};

QTEST_MAIN(TestAccelerators)
#include "test_accelerators.moc"

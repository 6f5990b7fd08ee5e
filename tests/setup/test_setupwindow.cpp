// The Setup Configuration window for real (offscreen): the path's checks,
// Browse, the replace question answered through the message seam, Apply.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "dialogs/MessageSeam.h"
#include "setup/Setup.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestSetupWindow : public QObject {
    Q_OBJECT
private slots:
    void applyAndChecks()
    {
        QTemporaryDir home("/tmp/su-XXXXXX");
        qputenv("GRAZULO_HOME", home.path().toUtf8());
        QVERIFY(QDir().mkpath(home.path() + "/new"));
        QVERIFY(testsupport::writeTicketTable(home.path() + "/ticket.dbf", {{1, "OLD"}}));
        QVERIFY(testsupport::writeTicketTable(home.path() + "/new/ticket.dbf", {{2, "NEW"}}));
        dialogs::RecordingMessages rec;
        TfrmSetup w;
        w.show();
        QCOMPARE(w.txtDatabasePath->text(), home.path() + "/");  // no setup table: the program directory
        QCOMPARE(w.txtDatabasePath->toolTip(), QString("Path for Database"));

        struct Step {
            QString path;
            const char* message;
        };
        const Step refused[] = {{home.path() + "/" + QString(60, 'x'), "Length of Directory cannot exceed 50."},
                                {home.path() + "/none", "Invalid Directory."}};
        for (const Step& s : refused) {
            rec.shown.clear();
            w.txtDatabasePath->setText(s.path);
            w.cmdApply->click();
            QCOMPARE(rec.shown.size(), std::size_t(1));
            QVERIFY(QString::fromStdString(rec.last().line1).startsWith(s.message));
            QVERIFY(w.isVisible());
        }
        TfrmSetup::setDirectoryChooser([&](QWidget*, const QString&) { return home.path() + "/new"; });
        w.cmdBrowse->click();
        QCOMPARE(w.txtDatabasePath->text(), home.path() + "/new/");
        rec.shown.clear();
        rec.answers = {dialogs::Answer::kNo};
        w.cmdApply->click();
        QCOMPARE(rec.shown.size(), std::size_t(1));
        QVERIFY(QString::fromStdString(rec.last().line1).startsWith("Inbound data file exists"));
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QCOMPARE(testsupport::tableRows(home.path() + "/new/ticket.dbf")[0]["customer"], std::string("NEW"));
        QCOMPARE(QString::fromStdString(catalogue::dataDir()), home.path() + "/new/");
        TfrmSetup::setDirectoryChooser({});
        qunsetenv("GRAZULO_HOME");
    }

    // The kiosk's service runs the program from '/', not from its program
    // directory: a directory typed relative is the program directory's.
    void relativeTypedElsewhere()
    {
        QTemporaryDir home("/tmp/su-XXXXXX");
        qputenv("GRAZULO_HOME", home.path().toUtf8());
        QVERIFY(QDir().mkpath(home.path() + "/yard"));
        QVERIFY(testsupport::writeTicketTable(home.path() + "/ticket.dbf", {{1, "OLD"}}));
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent("/"));
        dialogs::RecordingMessages rec;
        TfrmSetup w;
        w.show();
        w.txtDatabasePath->setText("yard");
        w.cmdApply->click();
        QDir::setCurrent(cwd);
        for (const auto& m : rec.shown)
            qInfo("said: %s", m.line1.c_str());
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QCOMPARE(QString::fromStdString(catalogue::dataDir()), home.path() + "/yard/");
        QCOMPARE(testsupport::tableRows(home.path() + "/yard/ticket.dbf").size(), std::size_t(1));
        qunsetenv("GRAZULO_HOME");
    }
};

QTEST_MAIN(TestSetupWindow)
#include "test_setupwindow.moc"

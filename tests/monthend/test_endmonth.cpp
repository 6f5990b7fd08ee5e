// The month end window for real (offscreen): the month spinner across the
// year, a month without tables, the grid, and OK closing the month.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "dialogs/MessageSeam.h"
#include "monthend/EndMonth.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

class TestEndMonth : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>("/tmp/me-XXXXXX");
        qputenv("GRAZULO_HOME", dir_->path().toUtf8());
        xb::Connection c;
        xb::Table* t = c.create((dir_->path() + "/setup.dbf").toStdString(),
                                catalogue::layoutFields(catalogue::kSetupLayout));
        t->appendStart();
        t->blank();
        t->field("datapath")->assign((dir_->path() + "/").toStdString());
        QCOMPARE(t->append(), xb::kSuccess);
        QCOMPARE(t->close(), xb::kSuccess);
        xb::setClockSource([] { return xb::LocalTime {2026, 12, 10, 9, 0, 0}; });
    }
    void cleanup()
    {
        xb::setClockSource({});
        qunsetenv("GRAZULO_HOME");
    }

    void spinner_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<bool>("up");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("yearAfter");
        QTest::newRow("December up") << 2026 << 12 << true << "January" << 2027;
        QTest::newRow("January down") << 2026 << 1 << false << "December" << 2025;
        QTest::newRow("June up") << 2026 << 6 << true << "July" << 2026;
        QTest::newRow("June down") << 2026 << 6 << false << "May" << 2026;
    }
    void spinner()
    {
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(bool, up);
        TfrmEndMonth w;
        w.show();
        QCOMPARE(w.txtMonth->text(), QString("December"));
        QCOMPARE(w.speYear->value(), 2026);
        QVERIFY(!w.txtMonth->isEnabled());
        w.speYear->setValue(year);
        while (w.month() != month)
            w.spbMonthDown->click();
        w.speYear->setValue(year);
        (up ? w.spbMonthUp : w.spbMonthDown)->click();
        QTEST(w.txtMonth->text(), "shown");
        QTEST(w.speYear->value(), "yearAfter");
    }

    void closeAMonth()
    {
        QVERIFY(testsupport::writeTicketTable(dir_->path() + "/Jan0526.dbf", {{7, "ACME", "T-1", 1500, true}}));
        dialogs::RecordingMessages rec;
        TfrmEndMonth w;
        w.show();
        w.speYear->setValue(2026);
        while (w.month() != 2)
            w.spbMonthDown->click();
        w.cmdNext->click();  // February: nothing
        QCOMPARE(w.lblPg1->text(), QString("Records in February, 2026"));
        QCOMPARE(w.txtTotalRecord->text(), QString("0"));
        QVERIFY(!w.cmdOK->isEnabled());
        QVERIFY(w.cmdNext->isHidden());
        w.cmdBack->click();
        QCOMPARE(w.pages->currentIndex(), 0);
        w.spbMonthDown->click();
        w.cmdNext->click();
        QCOMPARE(w.txtTotalRecord->text(), QString("1"));
        QCOMPARE(w.StringGrid1->item(0, 0)->text(), QString("7"));
        QCOMPARE(w.StringGrid1->columnCount(), 22);
        QVERIFY(w.cmdOK->isEnabled());
        w.cmdOK->click();
        QCOMPARE(rec.shown.size(), std::size_t(1));
        QCOMPARE(rec.last().line1, std::string("Month End procedure completed for January, 2026."));
        QCOMPARE(w.result(), int(QDialog::Accepted));
        QVERIFY(QFile::exists(dir_->path() + "/26Jan/Jan0526.dbf"));
        QVERIFY(!QFile::exists(dir_->path() + "/Jan0526.dbf"));
    }

    // Scrolled sideways and down, the grid keeps TICKET, CUSTOMER and
    // CARRIER in view beside the columns scrolled to, row for row.
    void firstColumnsStay()
    {
        std::vector<testsupport::HandTicket> tickets;
        for (long n = 1; n <= 60; ++n)
            tickets.push_back({n, "ACME", "T-1", 1500, true});
        QVERIFY(testsupport::writeTicketTable(dir_->path() + "/Jan0526.dbf", tickets));
        TfrmEndMonth w;
        w.resize(640, 400);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.speYear->setValue(2026);
        while (w.month() != 1)
            w.spbMonthDown->click();
        w.cmdNext->click();
        QApplication::processEvents();
        QTableView* fixed = w.StringGrid1Fixed;
        QVERIFY(fixed->isVisible());
        QCOMPARE(fixed->accessibleName(), QString("Records, first columns"));
        for (int c = 0; c < 22; ++c)
            QCOMPARE(fixed->isColumnHidden(c), c >= 3);
        QCOMPARE(fixed->width(), w.StringGrid1->columnWidth(0) + w.StringGrid1->columnWidth(1) +
                                     w.StringGrid1->columnWidth(2));
        QScrollBar* across = w.StringGrid1->horizontalScrollBar();
        QVERIFY(across->maximum() > 0);
        across->setValue(across->maximum());
        w.StringGrid1->verticalScrollBar()->setValue(w.StringGrid1->verticalScrollBar()->maximum());
        QApplication::processEvents();
        // The row at the top of both views is the same row.
        QCOMPARE(fixed->rowAt(0), w.StringGrid1->rowAt(0));
        QVERIFY(fixed->rowAt(0) > 0);
        QCOMPARE(fixed->indexAt(QPoint(2, 2)).column(), 0);
        QCOMPARE(fixed->model()->data(fixed->indexAt(QPoint(2, 2))).toString(),
                 QString::number(fixed->rowAt(0) + 1));
        // A fixed column widened in the grid widens over it too.
        w.StringGrid1->setColumnWidth(1, 200);
        QCOMPARE(fixed->columnWidth(1), 200);
        QCOMPARE(fixed->width(), w.StringGrid1->columnWidth(0) + 200 + w.StringGrid1->columnWidth(2));
    }

    // Scrolled to the far right, the operator goes back cell by cell with
    // the keyboard: each column reached scrolls into view beside the fixed
    // ones, never beneath them.
    void keyboardReachesColumnsBesideTheFixedOnes()
    {
        QVERIFY(testsupport::writeTicketTable(dir_->path() + "/Jan0526.dbf", {{1, "ACME", "T-1", 1500, true}}));
        TfrmEndMonth w;
        w.resize(640, 400);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.speYear->setValue(2026);
        while (w.month() != 1)
            w.spbMonthDown->click();
        w.cmdNext->click();
        QApplication::processEvents();
        QTableWidget* grid = w.StringGrid1;
        grid->setFocus();
        grid->setCurrentCell(0, 21);
        QApplication::processEvents();
        QVERIFY(grid->horizontalScrollBar()->value() > 0);
        const int fixedRight = w.StringGrid1Fixed->x() + w.StringGrid1Fixed->width() - grid->viewport()->x();
        for (int c = 20; c >= 3; --c) {
            QTest::keyClick(grid, Qt::Key_Left);
            QApplication::processEvents();
            QCOMPARE(grid->currentColumn(), c);
            const QRect cell = grid->visualRect(grid->model()->index(0, c));
            QVERIFY2(cell.left() >= fixedRight - 1,
                     qPrintable(QString("column %1 lies at %2, beneath the fixed columns (to %3)")
                                    .arg(c).arg(cell.left()).arg(fixedRight)));
        }
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(TestEndMonth)
#include "test_endmonth.moc"

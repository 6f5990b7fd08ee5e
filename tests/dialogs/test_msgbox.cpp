// The large-print message box, shown for real (offscreen), answered by
// clicking its buttons; and the seam every message goes through.

#include "MsgBoxChecks.h"
#include "TestSupport.h"

#include "data/CodeBase.h"
#include "dialogs/ProgramMessages.h"
#include "dialogs/fMsgBox.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace dialogs;

class TestMsgBox : public QObject {
    Q_OBJECT

    // Shows the message through the real box; `act` runs once the box is up.
    bool showAndDo(const Message& m, std::function<void(TfrmMsgBox*)> act, TfrmMsgBox** seen = nullptr)
    {
        bool acted = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<TfrmMsgBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            if (seen)
                *seen = box;
            captured_ = {box->windowTitle(), box->txtMessage1->text(), box->txtMessage2->text(),
                         box->cmdOK->text(), box->cmdCancel->isVisibleTo(box) ? box->cmdCancel->text() : QString(),
                         QString::number(box->width()), box->imgSign->pixmap().isNull() ? "no picture" : "picture"};
            acted = true;
            act(box);
        });
        bool r = showInMsgBox(m);
        if (!acted)
            qWarning("the box never showed");
        return r;
    }
    QStringList captured_;

private slots:
    void initTestCase()
    {
        dir_.reset(new QTemporaryDir);
        qputenv("GRAZULO_HOME", dir_->path().toLocal8Bit());
    }

    void okOnly()
    {
        Message m {"Card Error", "Invalid Swipe Card!", "", kError, kOk};
        QCOMPARE(showAndDo(m, [](TfrmMsgBox* b) { b->cmdOK->click(); }), false);
        QCOMPARE(captured_, (QStringList {"Card Error", "Invalid Swipe Card!", "", "OK", "", "600", "no picture"}));
        // Closed another way: true.
        QCOMPARE(showAndDo(m, [](TfrmMsgBox* b) { b->reject(); }), true);
    }

    void yesNo()
    {
        Message m {"Delete", "Delete this record?", "It cannot be undone.", kConfirmation, kYes | kNo};
        QCOMPARE(showAndDo(m, [](TfrmMsgBox* b) { b->cmdOK->click(); }), false);
        QCOMPARE(captured_.mid(0, 6),
                 (QStringList {"Delete", "Delete this record?", "It cannot be undone.", "Yes", "No", "1000"}));
        QCOMPARE(showAndDo(m, [](TfrmMsgBox* b) { b->cmdCancel->click(); }), true);
    }

    void noWithoutYesKeepsOk()
    {
        Message m {"x", "y", "", kWarning, kNo};
        showAndDo(m, [](TfrmMsgBox* b) { b->cmdOK->click(); });
        QCOMPARE(captured_[3], QString("OK"));
        QCOMPARE(captured_[4], QString("No"));
        Message c {"x", "y", "", kWarning, kOk | kCancel};
        showAndDo(c, [](TfrmMsgBox* b) { b->cmdCancel->click(); });
        QCOMPARE(captured_[4], QString("Cancel"));
        QCOMPARE(captured_[5], QString("1000"));
    }

    void pictures()
    {
        QCOMPARE(TfrmMsgBox::pictureFile(kInformation), QString("warning.bmp"));
        QCOMPARE(TfrmMsgBox::pictureFile(kConfirmation), QString("question.bmp"));
        QCOMPARE(TfrmMsgBox::pictureFile(7), QString());
        QImage img(20, 20, QImage::Format_RGB32);
        img.fill(Qt::red);
        QVERIFY(img.save(dir_->path() + "/WARNING.BMP", "BMP"));  // found whatever its case
        Message m {"Info", "Saved.", "", kInformation, kOk};
        showAndDo(m, [](TfrmMsgBox* b) { b->cmdOK->click(); });
        QCOMPARE(captured_[6], QString("picture"));
        // An unreadable picture: no picture, no error.
        QFile bad(dir_->path() + "/error.bmp");
        bad.open(QIODevice::WriteOnly);
        bad.write("not a bitmap");
        bad.close();
        Message e {"Error", "Broken.", "", kError, kOk};
        showAndDo(e, [](TfrmMsgBox* b) { b->cmdOK->click(); });
        QCOMPARE(captured_[6], QString("no picture"));
    }

    // Caption, lines and buttons all inside the box and readable, however
    // long the lines; the design's sizes for the messages that fit them.
    void everyMessageFits_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("line1");
        QTest::addColumn<QString>("line2");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<bool>("fitsDesign");
        QTest::newRow("card") << "Card Error" << "Invalid Swipe Card!" << "" << int(kOk) << true;
        QTest::newRow("yes no") << "Delete" << "Delete this record?" << "It cannot be undone." << (kYes | kNo)
                                << true;
        QTest::newRow("long first line") << "Ticket Error" << "The ticket was completed but is still listed as open."
                                         << "Please see the scale office." << int(kOk) << false;
        QTest::newRow("device path") << "Printer Error" << "The ticket printer cannot be opened."
                                     << "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0: Permission "
                                        "denied"
                                     << int(kOk) << false;
        QTest::newRow("longer than the screen")
            << "Table Error"
            << "Customer.dbf: the index is damaged and was rebuilt, but some records could not be read back and "
               "were left out of the index"
            << "Please see the scale office, and keep the kiosk running until the tables have been checked." << int(kOk)
            << false;
        QTest::newRow("long caption") << "A caption much longer than the six hundred pixels of the box"
                                      << "Short." << "" << int(kOk) << false;
    }
    void everyMessageFits()
    {
        QFETCH(QString, caption);
        QFETCH(QString, line1);
        QFETCH(QString, line2);
        QFETCH(int, buttons);
        QFETCH(bool, fitsDesign);
        Message m {caption.toStdString(), line1.toStdString(), line2.toStdString(), kError, buttons};
        QStringList faults {"the box never showed"};
        showAndDo(m, [&](TfrmMsgBox* b) {
            faults = msgboxcheck::faults(b, m, fitsDesign);
            b->cmdOK->click();
        });
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
    }

    void seamRecordsAndAnswers()
    {
        RecordingMessages rec;
        rec.answers = {Answer::kClosed};
        QCOMPARE(ShowMsgBox("Weigh Scale Error", "Scale Indicator Error!", "Unable to read the weight."), true);
        QCOMPARE(ShowMsgBox("Second", "no answer queued"), false);
        BlankWarning("Customer Name");
        QCOMPARE(rec.shown.size(), std::size_t(3));
        QCOMPARE(rec.shown[0].line2, std::string("Unable to read the weight."));
        QCOMPARE(rec.shown[0].kind, int(kError));
        QCOMPARE(rec.shown[0].buttons, int(kOk));
        QCOMPARE(rec.last().line1, std::string("\"Customer Name\" cannot be blank."));
        QCOMPARE(rec.last().kind, int(kWarning));
    }

    // The operator's face: a standard dialog with the buttons asked for,
    // giving the one pressed.
    void operatorDialog_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("press");  // a QMessageBox::StandardButton; 0: Escape; -1: the close box
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("shownButtons");
        const int yna = kYes | kNo | kAbort;
        QTest::newRow("yes") << yna << int(QMessageBox::Yes) << int(Answer::kYes) << 3;
        QTest::newRow("no") << yna << int(QMessageBox::No) << int(Answer::kNo) << 3;
        QTest::newRow("abort") << yna << int(QMessageBox::Abort) << int(Answer::kAbort) << 3;
        QTest::newRow("ok") << int(kOk) << int(QMessageBox::Ok) << int(Answer::kOk) << 1;
        QTest::newRow("escape on ok cancel") << (kOk | kCancel) << 0 << int(Answer::kCancel) << 2;
        // A question without Cancel: Escape and the close box choose none of its buttons.
        QTest::newRow("escape on yes no abort") << yna << 0 << int(Answer::kClosed) << 3;
        QTest::newRow("escape on yes no") << (kYes | kNo) << 0 << int(Answer::kClosed) << 2;
        QTest::newRow("close box on yes no") << (kYes | kNo) << -1 << int(Answer::kClosed) << 2;
        QTest::newRow("no buttons asked") << 0 << int(QMessageBox::Ok) << int(Answer::kOk) << 1;
    }
    void operatorDialog()
    {
        QFETCH(int, buttons);
        QFETCH(int, press);
        QFETCH(int, shownButtons);
        installProgramMessages();
        QString text;
        int count = -1;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QCOMPARE(box->objectName(), QString("StandardMessage"));
            text = box->text();
            count = int(box->buttons().size());
            if (press > 0)
                box->button(QMessageBox::StandardButton(press))->click();
            else if (press == 0)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->close();
        });
        const Answer a = ShowMessage(kConfirmation, "Missing Tables", "Table Customer.dbf is missing.\rCreate it?",
                                     buttons);
        setMessageHandler(nullptr);
        QTEST(int(a), "answer");
        QCOMPARE(text, QString("Table Customer.dbf is missing.\nCreate it?"));
        QCOMPARE(count, shownButtons);
    }

    // The engine's reports wait for the event loop and show once however
    // often they come, on the operator's face; on the kiosk's they go to the
    // log only (the driver is told in the kiosk's own words).
    void engineErrorsShownLater()
    {
        RecordingMessages rec;
        routeEngineErrors();
        for (Face face : {Face::kKiosk, Face::kOperator}) {
            rec.shown.clear();
            setReportFace(face);
            xb::reportError("/site/database/Customer.dbf", "the index is damaged");
            xb::reportError("/site/database/Customer.dbf", "the index is damaged");
            xb::reportError("/site/database/Ticket.dbf", "the disk is full");
            QVERIFY(rec.shown.empty());
            if (face == Face::kKiosk) {
                QTest::qWait(50);
                QVERIFY(rec.shown.empty());
                continue;
            }
            QTRY_COMPARE(rec.shown.size(), std::size_t(2));
            QCOMPARE(rec.shown[0].caption, std::string("Table Error"));
            QCOMPARE(rec.shown[0].face, face);
            QVERIFY(QString::fromStdString(rec.shown[1].line1).contains("the disk is full"));
        }
        setReportFace(Face::kKiosk);
        xb::setErrorReport(nullptr);
    }

    // The kiosk's boxes without a choice: posted, one at a time, each taking
    // the input and kept above any window shown after it.
    //   post TEXT      a box with that first line
    //   answer         OK on the box showing
    //   dismiss        the visit is over
    //   window         a window of the program shown (and activated)
    //   showing TEXT   the box showing ("-": none); it takes the input
    //   waiting N      boxes waiting
    //   active WHAT    the active window: "box" or "window"
    void postedBoxes_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("one at a time")
            << QStringList {"post A", "post B", "showing A", "waiting 1", "answer", "showing B", "waiting 0", "answer",
                            "showing -"};
        QTest::newRow("a message the same as one showing or waiting shows once")
            << QStringList {"post A", "post A", "post B", "post B", "post A", "waiting 1", "answer", "showing B",
                            "answer", "showing -"};
        QTest::newRow("dismissed with its visit")
            << QStringList {"post A", "post B", "dismiss", "showing -", "waiting 0", "post C", "showing C"};
        QTest::newRow("a window shown after it does not cover it")
            << QStringList {"post A", "window", "active box", "showing A", "answer", "active window"};
        QTest::newRow("the window beneath takes the keyboard back")
            << QStringList {"window", "active window", "post A", "active box", "answer", "showing -", "active window"};
    }
    void postedBoxes()
    {
        QFETCH(QStringList, steps);
        QWidget window;
        window.setWindowTitle("beneath");
        window.resize(300, 200);
        for (const QString& line : steps) {
            const QString verb = line.section(' ', 0, 0), arg = line.section(' ', 1);
            if (verb == "post") {
                postMsgBox(Message {"Caption", arg.toStdString(), "", kError, kOk});
            } else if (verb == "answer") {
                QVERIFY2(showingMsgBox(), qPrintable(line));
                QTest::mouseClick(showingMsgBox()->cmdOK, Qt::LeftButton);
            } else if (verb == "dismiss") {
                dismissMsgBoxes("the test");
            } else if (verb == "window") {
                window.show();
                window.activateWindow();
            } else if (verb == "showing") {
                QTRY_COMPARE(showingMsgBox() ? showingMsgBox()->txtMessage1->accessibleName() : QString("-"), arg);
                if (arg != "-")
                    QCOMPARE(QApplication::activeModalWidget(), static_cast<QWidget*>(showingMsgBox()));
            } else if (verb == "waiting") {
                QCOMPARE(waitingMsgBoxes(), arg.toInt());
            } else if (verb == "active") {
                QWidget* want = arg == "box" ? static_cast<QWidget*>(showingMsgBox()) : &window;
                QTRY_COMPARE(QApplication::activeWindow(), want);
            }
        }
        dismissMsgBoxes("the test");
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(TestMsgBox)
#include "test_msgbox.moc"

// The card reader: lines out of card-port bytes and where each line goes.

#include "devices/CardReader.h"

#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using devices::CardDelivery;

namespace {

// A screen that takes card lines: the swipe screen or the record editor.
struct Screen : devices::CardTarget {
    bool showing = true;
    std::vector<std::string> got;
    std::function<void()> onDeliver;
    bool accepts() const override { return showing; }
    void deliver(const std::string& text) override
    {
        got.push_back(text);
        if (onDeliver)
            onDeliver();
    }
};

}  // namespace

class TestCardReader : public QObject {
    Q_OBJECT

    Screen swipe;
    Screen editor;

private slots:
    void init()
    {
        devices::ResetCardReader();
        swipe = Screen {};
        editor = Screen {};
        devices::CardLines().setSwipeScreen(&swipe);
        devices::CardLines().setRecordEditor(&editor);
    }

    void swipeScreenGetsTheWholeLine()
    {
        devices::ParseCardBytes("1234\r\n");
        QCOMPARE(swipe.got, (std::vector<std::string> {"1234\r"}));
        QVERIFY(editor.got.empty());
        QCOMPARE(devices::CardReader().lastLine, std::string("1234\r"));
        QVERIFY(devices::CardReader().lineBuffer.empty());
        QCOMPARE(devices::cardNumberOf(swipe.got[0]), std::string("1234"));
        // Taken as it comes: sentinels and odd bytes stay.
        devices::ParseCardBytes(";0042=99?\r\n");
        QCOMPARE(swipe.got.back(), std::string(";0042=99?\r"));
    }

    void aLineSplitOverEventsIsAssembled()
    {
        const std::string bytes = "%B77\r\n88\r\n";
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            devices::ResetCardReader();
            swipe.got.clear();
            devices::ParseCardBytes(bytes.substr(0, cut));
            devices::ParseCardBytes(bytes.substr(cut));
            QCOMPARE(swipe.got, (std::vector<std::string> {"%B77\r", "88\r"}));
        }
    }

    void identicalLinesAreEachDelivered()
    {
        // The swipe box decides whether an unchanged text dispatches.
        devices::ParseCardBytes("55\r\n55\r\n");
        QCOMPARE(swipe.got, (std::vector<std::string> {"55\r", "55\r"}));
    }

    void editorGetsTheCardNumberOnItsInformationPage()
    {
        swipe.showing = false;
        devices::ParseCardBytes("56\r\n");
        QCOMPARE(editor.got, (std::vector<std::string> {"56"}));
        QVERIFY(swipe.got.empty());
        // Text after the first CR is not part of the number.
        devices::ParseCardBytes("78\rxx\r\n");
        QCOMPARE(editor.got.back(), std::string("78"));
        // The swipe screen, once showing again, comes first.
        swipe.showing = true;
        devices::ParseCardBytes("90\r\n");
        QCOMPARE(editor.got.size(), std::size_t(2));
        QCOMPARE(swipe.got, (std::vector<std::string> {"90\r"}));
    }

    void linesWithoutACardNumberDoNotWipeTheEditorsField()
    {
        swipe.showing = false;
        QCOMPARE(devices::CardLines().route("1234"), CardDelivery::kDropped);
        QCOMPARE(devices::CardLines().route("\r"), CardDelivery::kDropped);
        devices::ParseCardBytes("1234\n\r\n");
        QVERIFY(editor.got.empty());
        // The swipe screen still sees such a line (and dispatches nothing).
        swipe.showing = true;
        QCOMPARE(devices::CardLines().route("1234"), CardDelivery::kSwipeScreen);
        QCOMPARE(swipe.got.back(), std::string("1234"));
    }

    void linesNobodyCanTakeAreDropped()
    {
        swipe.showing = false;
        editor.showing = false;  // another page, or another kiosk screen showing
        devices::ParseCardBytes("12\r\n");
        QVERIFY(swipe.got.empty());
        QVERIFY(editor.got.empty());
        QVERIFY(devices::CardReader().lineBuffer.empty());
        QCOMPARE(devices::CardReader().lastLine, std::string("12\r"));
        // The next line starts clean.
        swipe.showing = true;
        devices::ParseCardBytes("34\r\n");
        QCOMPARE(swipe.got, (std::vector<std::string> {"34\r"}));
    }

    void aDestroyedScreenIsForgotten()
    {
        auto gone = std::make_unique<Screen>();
        devices::CardLines().setSwipeScreen(gone.get());
        gone.reset();
        swipe.showing = false;
        QCOMPARE(devices::CardLines().route("1\r"), CardDelivery::kRecordEditor);
        devices::CardLines().setRecordEditor(nullptr);
        QCOMPARE(devices::CardLines().route("1\r"), CardDelivery::kDropped);
    }

    void endlessBytesWithoutLfAreBounded()
    {
        devices::ParseCardBytes(std::string(100000, 'Z'));
        QVERIFY(devices::CardReader().lineBuffer.size() <= devices::kMaxCardLine);
        devices::ParseCardBytes("\r\n");
        QVERIFY(swipe.got.empty());  // the overlong line is dropped whole
        devices::ParseCardBytes("4321\r\n");
        QCOMPARE(swipe.got, (std::vector<std::string> {"4321\r"}));
        // A line of exactly the bound still goes through.
        const std::string longest(devices::kMaxCardLine - 1, '9');
        devices::ParseCardBytes(longest + "\r\n");
        QCOMPARE(swipe.got.back(), longest + "\r");
    }

    void aLineParsedWhileTheScreenShowsAModalMessageIsKept()
    {
        // The first delivery shows a message box; in its loop the port's
        // next bytes are parsed.
        bool nested = false;
        swipe.onDeliver = [&] {
            if (nested)
                return;
            nested = true;
            devices::ParseCardBytes("22\r\n3");
        };
        devices::ParseCardBytes("11\r\n");
        devices::ParseCardBytes("3\r\n");
        QCOMPARE(swipe.got, (std::vector<std::string> {"11\r", "22\r", "33\r"}));
    }

};

QTEST_GUILESS_MAIN(TestCardReader)
#include "test_cardreader.moc"

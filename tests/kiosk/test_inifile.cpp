// setup.ini as the site's Windows programs write it: commas, quotes,
// backslashes and semicolons in values, names in any case, comments,
// byte-order marks and 8-bit text.

#include "kiosk/IniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>

using kiosk::IniFile;

class TestIniFile : public QObject {
    Q_OBJECT

private slots:
    void valuesAndNames();
    void profileIntegers();
    void encodingsAndFiles();
};

void TestIniFile::valuesAndNames()
{
    IniFile ini = IniFile::parse("orphan=before any section\r\n"
                                 "; a comment\r\n"
                                 "[INBOUND]\r\n"
                                 "MSG1=Please wait, then drive on\r\n"
                                 "msg1=second of two equal keys\r\n"
                                 "   ;msg2=commented out\r\n"
                                 "msg2\r\n"
                                 "[ Other ]\n"
                                 "path =   C:\\Scale\\data\\new   \n"
                                 "semi=Stop; then go\n"
                                 "eq=a=b\n"
                                 "double=\"  Drive to the gate  \"\n"
                                 "single='It's late'\n"
                                 "inner=He said \"stop\"\n"
                                 "unpaired=\"open'\n"
                                 "twice=\"\"x\"\"\n"
                                 "empty=\n"
                                 "[inbound]\n"
                                 "msg1=third\n"
                                 "msg3=from the second part");
    QCOMPARE(ini.value("Inbound", "msg1"), std::string("Please wait, then drive on"));
    QCOMPARE(ini.value("inbound", "Msg3"), std::string("from the second part"));
    QVERIFY(!ini.hasKey("Inbound", "msg2"));  // neither the comment nor the line without '='
    QCOMPARE(ini.value("Inbound", "msg2", "dflt"), std::string("dflt"));
    QCOMPARE(ini.value("Other", "path"), std::string("C:\\Scale\\data\\new"));
    QCOMPARE(ini.value("other", "SEMI"), std::string("Stop; then go"));
    QCOMPARE(ini.value("Other", "eq"), std::string("a=b"));
    QCOMPARE(ini.value("Other", "double"), std::string("  Drive to the gate  "));
    QCOMPARE(ini.value("Other", "single"), std::string("It's late"));
    QCOMPARE(ini.value("Other", "inner"), std::string("He said \"stop\""));
    QCOMPARE(ini.value("Other", "unpaired"), std::string("\"open'"));
    QCOMPARE(ini.value("Other", "twice"), std::string("\"x\""));
    QCOMPARE(ini.value("Other", "empty", "dflt"), std::string());
    QVERIFY(!ini.hasSection("Timer"));
    QCOMPARE(ini.value("Timer", "license", "dflt"), std::string("dflt"));
    QVERIFY(!ini.hasKey("", "orphan"));
}

void TestIniFile::profileIntegers()
{
    const std::pair<const char*, int> cases[] = {
        {"30", 30}, {"12 seconds", 12}, {"abc", 0}, {"", 0}, {"-5", 0}, {"+7", 7},
        {"\"15\"", 15}, {"007", 7}, {"0x10", 0}, {"3.9", 3}, {"99999999999", INT_MAX},
    };
    for (auto [text, want] : cases) {
        IniFile ini = IniFile::parse(std::string("[Timer]\nlicense=") + text + "\n");
        QCOMPARE(ini.getInt("TIMER", "License", 99), want);  // present: never the fallback
    }
    QCOMPARE(IniFile::parse("[Timer]\n").getInt("Timer", "license", 99), 99);
}

void TestIniFile::encodingsAndFiles()
{
    QCOMPARE(IniFile::parse("\xEF\xBB\xBF[In]\nm=Caf\xC3\xA9\n").value("In", "m"), std::string("Caf\xC3\xA9"));
    // 8-bit text of a Windows editor: Latin-1 letters and the code page's en dash.
    QCOMPARE(IniFile::parse("[In]\nm=Caf\xE9 \x96 Stra\xDF" "e\n").value("In", "m"),
             std::string("Caf\xC3\xA9 \xE2\x80\x93 Stra\xC3\x9F" "e"));
    QCOMPARE(kiosk::toUtf8("a\xE2\x82"), std::string("a\xC3\xA2\xE2\x80\x9A"));  // cut-off UTF-8 is no UTF-8
    QCOMPARE(kiosk::toUtf8("\x81"), std::string("\xC2\x81"));

    // UTF-16 with its byte-order mark (Notepad's "Unicode").
    QByteArray wide("\xFF\xFE", 2);
    for (QChar c : QStringLiteral("[In]\r\nm=\u00C9tape \u2013 gate\r\n"))
        wide.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    QCOMPARE(QString::fromStdString(IniFile::parse(wide.toStdString()).value("In", "m")),
             QStringLiteral("\u00C9tape \u2013 gate"));

    QTemporaryDir dir;
    QVERIFY(!IniFile::load((dir.path() + "/setup.ini").toStdString()));
    QFile f(dir.path() + "/SETUP.INI");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Timer]\r\nlicense=20\r\n");
    f.close();
    auto ini = IniFile::load((dir.path() + "/setup.ini").toStdString());
    QVERIFY(ini);
    QCOMPARE(ini->getInt("Timer", "license"), 20);
    QVERIFY(!IniFile::load(dir.path().toStdString()));
}

QTEST_APPLESS_MAIN(TestIniFile)
#include "test_inifile.moc"

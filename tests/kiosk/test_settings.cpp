// What the kiosk reads at start-up from its program directory: the ports and
// printer type of setup.dbf, the lines, time-outs and port names of
// setup.ini, and its data connection.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "kiosk/KioskSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <array>

using namespace kiosk;

namespace {

// setup.dbf of layout 9, with a printer field of type `printer` (none for 0).
void writeSetup(const QString& home, const std::vector<std::array<const char*, 3>>& rows, char printer = 'C',
                const char* name = "setup.dbf")
{
    auto fields = catalogue::layoutFields(catalogue::kSetupLayout);
    if (printer)
        fields.push_back({"printer", printer, 2, 0});
    xb::Connection c;
    c.setSafety(false);
    xb::Table* t = c.create((home + "/" + name).toStdString(), fields);
    for (const auto& r : rows) {
        t->appendStart();
        t->blank();
        t->field("scalport")->assign(r[0]);
        t->field("prtport")->assign(r[1]);
        if (printer)
            t->field("printer")->assign(r[2]);
        t->append();
    }
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

std::array<int, 3> ports()
{
    Ports p = ReadPorts();
    return {p.scalePort, p.printerPort, p.printerType};
}

int openFiles() { return int(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size()); }

using Lines = std::vector<std::string>;

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void portsFromSetupTable();
    void setupTableMissingOrUnreadable();
    void linesAndTimeouts();
    void steadiness_data();
    void steadiness();
    void printerCodePage_data();
    void printerCodePage();
    void portNamesAndConnection();

private:
    QString h() const { return home_->path(); }
    std::unique_ptr<QTemporaryDir> home_;
};

void TestSettings::init()
{
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("GRAZULO_HOME", h().toUtf8());
}

void TestSettings::cleanup()
{
    CloseKioskData();
    KioskSettings() = Settings {};
    qunsetenv("GRAZULO_HOME");
}

void TestSettings::portsFromSetupTable()
{
    using P = std::array<int, 3>;
    writeSetup(h(), {{"1", "3", "2"}, {"4", "4", "5"}});
    QCOMPARE(ports(), (P {1, 3, 2}));
    writeSetup(h(), {{"2", " ", "9"}}, 'N');
    QCOMPARE(ports(), (P {2, 0, 9}));
    writeSetup(h(), {{"x", "-", "."}});
    QCOMPARE(ports(), (P {0, 0, 0}));
    writeSetup(h(), {{"1", "2", ""}}, 0, "SETUP.DBF");  // as the setup window creates it: no printer
    QCOMPARE(ports(), (P {1, 2, 0}));
}

void TestSettings::setupTableMissingOrUnreadable()
{
    using P = std::array<int, 3>;
    testsupport::EngineErrors errors;
    QCOMPARE(ports(), (P {0, 0, 0}));
    QVERIFY(errors.messages.empty());
    writeSetup(h(), {});
    QCOMPARE(ports(), (P {0, 0, 0}));
    writeFile(h() + "/setup.dbf", {});
    QCOMPARE(ports(), (P {0, 0, 0}));
    writeFile(h() + "/setup.dbf", QByteArray("not a table at all\r\n").repeated(8));
    QCOMPARE(ports(), (P {0, 0, 0}));
    QVERIFY(!errors.messages.empty());
}

void TestSettings::linesAndTimeouts()
{
    Lines in {"left over"}, out;
    KioskTimeouts t = ReadKioskIni(in, out);  // no setup.ini: nothing at all
    QVERIFY(in.empty() && out.empty());
    QCOMPARE(t.license + t.outbound + t.instructions, 0);

    writeFile(h() + "/setup.ini", "[Inbound]\r\nmsg1=Please wait, then drive on\r\nmsg2=\"Drive to the gate\"\r\n"
                                  "[Outbound]\r\nMSG1=Take your ticket; drive safely\r\n"
                                  "[Timer]\r\nlicense=30\r\noutbound=8\r\ninstructions=12\r\n");
    t = ReadKioskIni(in, out);
    QCOMPARE(in, (Lines {"Please wait, then drive on", "Drive to the gate"}));
    QCOMPARE(out, (Lines {"Take your ticket; drive safely", ""}));
    QCOMPARE(t.license, 30);
    QCOMPARE(t.outbound, 8);
    QCOMPARE(t.instructions, 12);

    QFile::remove(h() + "/setup.ini");
    writeFile(h() + "/Setup.INI", "[Timer]\nlicense=0\noutbound=soon\ninstructions=-3\n");
    t = ReadKioskIni(in, out);
    QCOMPARE(in, (Lines {"", ""}));  // a missing section still gives two lines
    QCOMPARE(out, (Lines {"", ""}));
    QCOMPARE(t.license + t.outbound + t.instructions, 0);

    writeSetup(h(), {{"1", "2", "3"}});
    LoadKioskSettings();
    QCOMPARE(KioskSettings().PrinterType, 3);
    QCOMPARE(KioskSettings().inboundLines.size(), std::size_t(2));
}

void TestSettings::steadiness_data()
{
    QTest::addColumn<QByteArray>("ini");  // "-": no setup.ini
    QTest::addColumn<int>("ms");
    QTest::newRow("no setup.ini") << QByteArray("-") << 1000;
    QTest::newRow("no key") << QByteArray("[Timer]\r\nlicense=5\r\n") << 1000;
    QTest::newRow("off") << QByteArray("[Scale]\r\nsteady=0\r\n") << 0;
    QTest::newRow("seconds") << QByteArray("[scale]\r\nSTEADY = 2\r\n") << 2000;
    QTest::newRow("a fraction") << QByteArray("[Scale]\r\nsteady=0.5\r\n") << 500;
    QTest::newRow("a decimal comma") << QByteArray("[Scale]\r\nsteady=1,25\r\n") << 1250;
    QTest::newRow("finer than a millisecond") << QByteArray("[Scale]\r\nsteady=0.0005\r\n") << 0;
    QTest::newRow("more than a minute") << QByteArray("[Scale]\r\nsteady=3600\r\n") << 60000;
    QTest::newRow("past every int") << QByteArray("[Scale]\r\nsteady=99999999999999999999\r\n") << 60000;
    QTest::newRow("negative keeps the default") << QByteArray("[Scale]\r\nsteady=-1\r\n") << 1000;
    QTest::newRow("text keeps the default") << QByteArray("[Scale]\r\nsteady=soon\r\n") << 1000;
    QTest::newRow("empty keeps the default") << QByteArray("[Scale]\r\nsteady=\r\n") << 1000;
    QTest::newRow("seconds with a word") << QByteArray("[Scale]\r\nsteady=2 s\r\n") << 1000;
}

void TestSettings::steadiness()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, ms);
    if (ini != "-")
        writeFile(h() + "/setup.ini", ini);
    Lines in, out;
    QCOMPARE(ReadKioskIni(in, out).steadyMs, ms);
    LoadKioskSettings();
    QCOMPARE(KioskSettings().steadyMs, ms);
    QFile::remove(h() + "/setup.ini");
}

void TestSettings::printerCodePage_data()
{
    QTest::addColumn<QByteArray>("ini");  // "-": no setup.ini
    QTest::addColumn<int>("codePage");
    QTest::addColumn<bool>("problem");
    QTest::newRow("no setup.ini") << QByteArray("-") << 1252 << false;
    QTest::newRow("no key") << QByteArray("[Timer]\r\nlicense=5\r\n") << 1252 << false;
    QTest::newRow("437") << QByteArray("[Printer]\r\ncodepage=437\r\n") << 437 << false;
    QTest::newRow("850, blanks and case") << QByteArray("[printer]\r\nCodePage = 850 \r\n") << 850 << false;
    QTest::newRow("1250") << QByteArray("[Printer]\r\ncodepage=1250\r\n") << 1250 << false;
    QTest::newRow("no code page known") << QByteArray("[Printer]\r\ncodepage=65001\r\n") << 1252 << true;
    QTest::newRow("a word") << QByteArray("[Printer]\r\ncodepage=latin\r\n") << 1252 << true;
    QTest::newRow("empty") << QByteArray("[Printer]\r\ncodepage=\r\n") << 1252 << true;
}

void TestSettings::printerCodePage()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, codePage);
    QFETCH(bool, problem);
    if (ini != "-")
        writeFile(h() + "/setup.ini", ini);
    std::string why;
    QCOMPARE(ReadPrinterCodePage(&why), codePage);
    QCOMPARE(!why.empty(), problem);
    LoadKioskSettings();
    QCOMPARE(KioskSettings().printerCodePage, codePage);
    QFile::remove(h() + "/setup.ini");
}

void TestSettings::portNamesAndConnection()
{
    QCOMPARE(portNameFromIni("com1"), std::string());
    writeFile(h() + "/setup.ini", "[PORTS]\nCOM1=/dev/ttyS0\ncom2 = /dev/ttyUSB0 \nlpt1=\"/dev/usb/lp0\"\n");
    QCOMPARE(portNameFromIni("com1"), std::string("/dev/ttyS0"));
    QCOMPARE(portNameFromIni("com2"), std::string("/dev/ttyUSB0"));
    QCOMPARE(portNameFromIni("lpt1"), std::string("/dev/usb/lp0"));
    QCOMPARE(portNameFromIni("com3"), std::string());

    OpenKioskData();
    xb::Connection* c = KioskSettings().connection;
    QVERIFY(c);
    OpenKioskData();
    QCOMPARE(KioskSettings().connection, c);
    QCOMPARE(KioskConnection().get(), c);
    writeSetup(h(), {{"3", "4", "1"}});
    const int before = openFiles();
    QCOMPARE(ReadPorts().scalePort, 3);
    QCOMPARE(openFiles(), before);  // no table left open in the kiosk's connection
    CloseKioskData();
    QVERIFY(!KioskSettings().connection);
    QVERIFY(KioskConnection().get());  // an operation then has a connection of its own
    QCOMPARE(ReadPorts().printerPort, 4);
}

QTEST_APPLESS_MAIN(TestSettings)
#include "test_settings.moc"

// The inbound screens through the real screens: the plate typed on the
// on-screen keyboard (empty, too long, corrected) and the material buttons
// with the scale not ready: nothing stored, the counter not advanced.

#include "TestSupport.h"

#include "KioskSite.h"

#include <QLabel>
#include "kiosk/KioskFlow.h"

#include <QtTest>

using namespace kiosktest;

namespace {

const QStringList kUnitMismatchComma {"Weigh Scale Error", "Unit mis-matched!",
                                      "Please set the Unit of the Scale to \"kg\",", "error", "OK"};
const QStringList kScaleError {"Weigh Scale Error", "Scale Indicator Error!", "Unable to read the weight.", "error",
                               "OK"};

// From the swipe screen to the licence screen of customer 1001.
TfrmLicense* toLicence(Site& site, TfrmSwipe* swipe)
{
    if (!site.swipeCard("1001"))
        return nullptr;
    for (int i = 0; i < 300 && !(kiosk::Flow().license && Site::showing() == kiosk::Flow().license); ++i)
        QTest::qWait(10);
    return Site::showing() == kiosk::Flow().license ? kiosk::Flow().license.data() : nullptr;
}

}  // namespace

class TestKioskInbound : public QObject {
    Q_OBJECT

private slots:
    void emptyPlate();
    void plateHoldsTwelveCharacters();
    void scaleNotReadyAtTheMaterial();
    void materialButtons_data();
    void materialButtons();
    void noMaterials_data();
    void noMaterials();
    void namesOfOtherProgramsKeepTheirCharacters_data();
    void namesOfOtherProgramsKeepTheirCharacters();
};

void TestKioskInbound::emptyPlate()
{
    Site site;
    site.writeStandard();
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    TfrmLicense* license = toLicence(site, swipe);
    QVERIFY(license);

    QTest::mouseClick(license->Keyboard1->key("Enter"), Qt::LeftButton);
    QCOMPARE(shown.shown.size(), std::size_t(1));
    QCOMPARE(texts(shown.last()), (QStringList {"License Plate", "Please enter License Plate.", "", "error", "OK"}));
    QCOMPARE(Site::showing(), license);
    QVERIFY(!kiosk::Flow().material);

    // Typed, then taken back to nothing with Backspace: still no plate.
    typePlate(license, "A7", false);
    QCOMPARE(license->txtLicense->text(), QString("A7"));
    QTest::mouseClick(license->Keyboard1->key("Backspace"), Qt::LeftButton);
    QTest::mouseClick(license->Keyboard1->key("Backspace"), Qt::LeftButton);
    QTest::mouseClick(license->Keyboard1->key("Enter"), Qt::LeftButton);
    QCOMPARE(shown.shown.size(), std::size_t(2));
    QCOMPARE(Site::showing(), license);
    QCOMPARE(kiosk::CurrentTicket().truck, std::string());
}

void TestKioskInbound::plateHoldsTwelveCharacters()
{
    // The ticket's truck field holds twelve characters: the plate field takes
    // no more, so what the driver sees is what is stored.
    Site site;
    site.writeStandard();
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    TfrmLicense* license = toLicence(site, swipe);
    QVERIFY(license);

    typePlate(license, "ABCDEFGHJK1234", false);
    QCOMPARE(license->txtLicense->text(), QString("ABCDEFGHJK12"));
    QTest::mouseClick(license->Keyboard1->key("Backspace"), Qt::LeftButton);
    typePlate(license, "9Z");
    QCOMPARE(kiosk::CurrentTicket().truck, std::string("ABCDEFGHJK19"));
    QVERIFY(kiosk::Flow().material);
    QCOMPARE(kiosk::Flow().material->txtLicense->text(), QString("ABCDEFGHJK19"));

    QVERIFY(site.weigh("16500"));
    QTest::mouseClick(kiosk::Flow().material->cmdMat[2], Qt::LeftButton);
    auto open = Site::rows(site.db("ticket.dbf"));
    QCOMPARE(open.size(), std::size_t(1));
    QCOMPARE(open[0]["truck"], std::string("ABCDEFGHJK19"));
    QVERIFY(shown.shown.empty());
}

void TestKioskInbound::scaleNotReadyAtTheMaterial()
{
    Site site;
    site.writeStandard();
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    TfrmLicense* license = toLicence(site, swipe);
    QVERIFY(license);
    typePlate(license, "BC12345");
    TfrmMaterial* material = kiosk::Flow().material;
    QVERIFY(material);

    auto nothingStored = [&] {
        QCOMPARE(Site::showing(), material);
        QCOMPARE(Site::rows(site.db("ticket.dbf")).size(), std::size_t(0));
        QCOMPARE(site.counter(), 500LL);
    };

    // Pounds: the material screen words the message with a final comma.
    QVERIFY(site.weigh("16500", 'L'));
    QTest::mouseClick(material->cmdMat[0], Qt::LeftButton);
    QCOMPARE(shown.shown.size(), std::size_t(1));
    QCOMPARE(texts(shown.last()), kUnitMismatchComma);
    nothingStored();

    // Overload.
    QVERIFY(site.weigh("---"));
    QTest::mouseClick(material->cmdMat[1], Qt::LeftButton);
    QCOMPARE(shown.shown.size(), std::size_t(2));
    QCOMPARE(texts(shown.last()), kScaleError);
    nothingStored();

    // A button without a material does nothing, whatever the scale says.
    QTest::mouseClick(material->cmdMat[3], Qt::LeftButton);
    QTest::mouseClick(material->cmdMat[15], Qt::LeftButton);
    QCOMPARE(shown.shown.size(), std::size_t(2));
    nothingStored();

    // Kilograms but no digits: the touch is ignored without a message.
    QVERIFY(site.weigh(""));
    QTest::mouseClick(material->cmdMat[0], Qt::LeftButton);
    QCOMPARE(shown.shown.size(), std::size_t(2));
    nothingStored();
    QCOMPARE(kiosk::CurrentTicket().truck, std::string("BC12345"));

    // The scale reads: the ticket gets the number the counter held all along.
    QVERIFY(site.weigh("16500"));
    QTest::mouseClick(material->cmdMat[1], Qt::LeftButton);
    QCOMPARE(shown.shown.size(), std::size_t(2));
    QCOMPARE(Site::showing(), kiosk::Flow().instructions);
    auto open = Site::rows(site.db("ticket.dbf"));
    QCOMPARE(open.size(), std::size_t(1));
    QCOMPARE(open[0]["ticket"], std::string("500"));
    QCOMPARE(open[0]["product"], std::string("PEA GRAVEL"));
    QCOMPARE(open[0]["in_wgt"], std::string("16500"));
    QCOMPARE(site.counter(), 501LL);
}

void TestKioskInbound::materialButtons_data()
{
    QTest::addColumn<int>("products");
    QTest::newRow("twenty") << 20;
    QTest::newRow("three") << 3;
}

void TestKioskInbound::materialButtons()
{
    QFETCH(int, products);
    Site site;
    site.writeStandard();
    std::vector<std::string> names;
    for (int i = 1; i <= products; ++i)
        names.push_back("MATERIAL " + std::to_string(i));
    site.writeProducts(names);
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    TfrmLicense* license = toLicence(site, swipe);
    QVERIFY(license);
    QCOMPARE(license->txtLicense->accessibleName(), QString("License plate"));
    QCOMPARE(swipe->txtSwipe->accessibleName(), QString("Card number"));
    typePlate(license, "P1");
    TfrmMaterial* material = kiosk::Flow().material;
    QVERIFY(material);

    for (int i = 0; i < 16; ++i) {
        auto* b = material->findChild<MaterialButton*>(QString("cmdMat%1").arg(i + 1));
        QVERIFY(b);
        QCOMPARE(b, material->cmdMat[i]);
        QCOMPARE(b->caption(), i < products ? QString("MATERIAL %1").arg(i + 1) : QString());
        QCOMPARE(b->accessibleName(), b->caption());  // screen readers read the material
        QVERIFY(b->isVisible());
    }
    // Row by row, four to a row.
    QCOMPARE(material->cmdMat[1]->y(), material->cmdMat[0]->y());
    QVERIFY(material->cmdMat[1]->x() > material->cmdMat[0]->x());
    QVERIFY(material->cmdMat[4]->y() > material->cmdMat[0]->y());
    QCOMPARE(material->cmdMat[4]->x(), material->cmdMat[0]->x());

    QVERIFY(site.weigh("7000"));
    QTest::mouseClick(material->cmdMat[15], Qt::LeftButton);
    if (products < 16) {
        QCOMPARE(Site::showing(), material);
        QTest::mouseClick(material->cmdMat[2], Qt::LeftButton);
    }
    QCOMPARE(Site::showing(), kiosk::Flow().instructions);
    auto open = Site::rows(site.db("ticket.dbf"));
    QCOMPARE(open.size(), std::size_t(1));
    QCOMPARE(open[0]["product"], products < 16 ? std::string("MATERIAL 3") : std::string("MATERIAL 16"));
    QVERIFY(shown.shown.empty());
}

void TestKioskInbound::noMaterials_data()
{
    QTest::addColumn<QByteArray>("table");  // product.dbf's bytes; "-": none
    QTest::newRow("missing") << QByteArray("-");
    QTest::newRow("no records") << QByteArray();
    QTest::newRow("not a table") << QByteArray("these are not the bytes of a table\r\n").repeated(20);
}

void TestKioskInbound::noMaterials()
{
    // Without a material to offer the visit cannot go on: the driver is told
    // and the kiosk is ready for the next card.
    QFETCH(QByteArray, table);
    Site site;
    site.writeStandard();
    if (table == "-")
        QVERIFY(QFile::remove(site.db("product.dbf")));
    else if (table.isEmpty())
        site.writeProducts({});
    else
        Site::writeFile(site.db("product.dbf"), table);
    testsupport::EngineErrors engine;  // a broken table's own report
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    QVERIFY(site.weigh("7000"));
    TfrmLicense* license = toLicence(site, swipe);
    QVERIFY(license);
    typePlate(license, "P1");

    QCOMPARE(shown.shown.size(), std::size_t(1));
    QCOMPARE(texts(shown.last()),
             (QStringList {"Material Error", "No materials are available.", "Please see the scale office.", "error",
                           "OK"}));
    QCOMPARE(Site::showing(), swipe);
    QVERIFY(!kiosk::Flow().material);
    QCOMPARE(swipe->txtSwipe->text(), QString());
    QCOMPARE(kiosk::CurrentTicket().customer, std::string());
    QCOMPARE(kiosk::CurrentTicket().truck, std::string());
    QVERIFY(!QFile::exists(site.db("ticket.dbf")) || Site::rows(site.db("ticket.dbf")).empty());
    QCOMPARE(site.counter(), 500LL);

    // The next card starts a visit of its own.
    QVERIFY(site.swipeCard("1002"));
    QTRY_VERIFY(kiosk::Flow().license && Site::showing() == kiosk::Flow().license);
    QCOMPARE(kiosk::Flow().license->txtCust->text(), QString("BLUE RIVER AGGREGATES"));
}

QTEST_MAIN(TestKioskInbound)
#include "test_kiosk_inbound.moc"

// Customer and product tables another program wrote in its code page: the
// screens show the names, and the open ticket (in 1252, as the program
// makes it) holds the same characters in its own bytes.
void TestKioskInbound::namesOfOtherProgramsKeepTheirCharacters_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("customer");  // as the customer table holds it
    QTest::addColumn<QByteArray>("product");   // as the product table holds it
    QTest::addColumn<QString>("customerText");
    QTest::addColumn<QString>("productText");
    QTest::addColumn<QByteArray>("storedCustomer");  // in the open ticket
    QTest::addColumn<QByteArray>("storedProduct");
    QTest::newRow("1252") << 1252 << QByteArray("M\xDCLLER BAU") << QByteArray("PIERRE CONCASS\xC9" "E")
                          << QString::fromUtf8("MÜLLER BAU") << QString::fromUtf8("PIERRE CONCASSÉE")
                          << QByteArray("M\xDCLLER BAU") << QByteArray("PIERRE CONCASS\xC9" "E");
    QTest::newRow("437") << 437 << QByteArray("M\x9ALLER BAU") << QByteArray("PIERRE CONCASS\x90" "E")
                         << QString::fromUtf8("MÜLLER BAU") << QString::fromUtf8("PIERRE CONCASSÉE")
                         << QByteArray("M\xDCLLER BAU") << QByteArray("PIERRE CONCASS\xC9" "E");
    QTest::newRow("850") << 850 << QByteArray("PE\xA5" "A") << QByteArray("ARENA \xB5" "RIDA")
                         << QString::fromUtf8("PEÑA") << QString::fromUtf8("ARENA ÁRIDA") << QByteArray("PE\xD1" "A")
                         << QByteArray("ARENA \xC1" "RIDA");
}

void TestKioskInbound::namesOfOtherProgramsKeepTheirCharacters()
{
    QFETCH(int, codePage);
    QFETCH(QByteArray, customer);
    QFETCH(QByteArray, product);
    QFETCH(QString, customerText);
    QFETCH(QString, productText);
    QFETCH(QByteArray, storedCustomer);
    QFETCH(QByteArray, storedProduct);
    Site site;
    site.writeStandard();
    const unsigned char mark = xb::CodePage::ofNumber(codePage)->mark();
    auto rewrite = [&](const char* file, int layout, const QByteArray& name, const char* card) {
        QFile::remove(site.db(file));
        xb::Connection c;
        xb::Table* t = c.create(site.db(file).toStdString(), catalogue::layoutFields(layout),
                                catalogue::layoutTags(layout), mark);
        QVERIFY(t);
        t->appendStart();
        t->blank();
        t->field("code_num")->assignInteger(1);
        t->field("n_ame")->assignRaw(name.toStdString());
        if (card)
            t->field("fax_no")->assign(card);
        QCOMPARE(t->append(), int(xb::kSuccess));
    };
    rewrite("customer.dbf", catalogue::kCustomerLayout, customer, "1001");
    rewrite("product.dbf", catalogue::kProductLayout, product, nullptr);
    dialogs::RecordingMessages shown;
    TfrmSwipe* swipe = site.startKiosk();
    TfrmLicense* license = toLicence(site, swipe);
    QVERIFY(license);
    typePlate(license, "P1");
    TfrmMaterial* material = kiosk::Flow().material;
    QVERIFY(material);
    QCOMPARE(material->cmdMat[0]->caption(), productText);
    QVERIFY(site.weigh("7000"));
    QTest::mouseClick(material->cmdMat[0], Qt::LeftButton);
    QCOMPARE(Site::showing(), kiosk::Flow().instructions);
    xb::Connection c;
    c.setReadOnly(true);
    xb::Table* t = c.open(site.db("ticket.dbf").toStdString());
    QVERIFY(t && t->top() == xb::kSuccess);
    QCOMPARE(QByteArray::fromStdString(std::string(t->field("customer")->trimmedView())), storedCustomer);
    QCOMPARE(QByteArray::fromStdString(std::string(t->field("product")->trimmedView())), storedProduct);
    QCOMPARE(QString::fromStdString(t->field("customer")->text()), customerText);
    QVERIFY(shown.shown.empty());
}

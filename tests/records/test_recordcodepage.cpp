// The record window's store in the code page of Customer.dbf: a name another
// program wrote shows right and, edited elsewhere, keeps its bytes; a name
// typed is stored in the table's code page; a letter it cannot hold is
// refused, naming it; a name differing only in letter case is the same.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"
#include "records/RecordStore.h"

#include <QTemporaryDir>
#include <QtTest>

class TestRecordCodePage : public QObject {
    Q_OBJECT

private slots:
    void customersInTheirCodePage_data()
    {
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QByteArray>("stored");  // by another program
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("typedStored");  // empty: refused
        QTest::addColumn<QString>("sameName");        // a name the check finds taken
        QTest::newRow("1252") << 1252 << QByteArray("  M\xDCLLER BAU") << QString::fromUtf8("MÜLLER BAU")
                              << QString::fromUtf8("Peña") << QByteArray("Pe\xF1" "a") << QString::fromUtf8("müller bau");
        QTest::newRow("437") << 437 << QByteArray("M\x9ALLER BAU") << QString::fromUtf8("MÜLLER BAU")
                             << QString::fromUtf8("Peña") << QByteArray("Pe\xA4" "a") << QString::fromUtf8("Müller Bau");
        QTest::newRow("850") << 850 << QByteArray("\xB5RIDOS") << QString::fromUtf8("ÁRIDOS")
                             << QString::fromUtf8("Kőbánya") << QByteArray() << QString::fromUtf8("áridos");
        QTest::newRow("1250") << 1250 << QByteArray("K\xD5" "B\xC1NYA") << QString::fromUtf8("KŐBÁNYA")
                              << QString::fromUtf8("Kőbánya 2") << QByteArray("K\xF5" "b\xE1nya 2")
                              << QString::fromUtf8("kőbánya");
    }
    void customersInTheirCodePage()
    {
        QFETCH(int, codePage);
        QFETCH(QByteArray, stored);
        QFETCH(QString, shown);
        QFETCH(QString, typed);
        QFETCH(QByteArray, typedStored);
        QFETCH(QString, sameName);
        QTemporaryDir dir;
        const std::string data = dir.path().toStdString() + "/";
        QVERIFY(catalogue::CreateTable(catalogue::kCustomerLayout, data + "Customer.dbf",
                                       xb::CodePage::ofNumber(codePage)->mark()));
        {
            xb::Connection c;
            xb::Table* t = c.open(data + "Customer.dbf");
            QVERIFY(t);
            t->appendStart();
            t->blank();
            t->field("code_num")->assignInteger(1);
            t->field("n_ame")->assignRaw(stored.toStdString());
            t->field("fax_no")->assign("1001");
            QCOMPARE(t->append(), xb::kSuccess);
        }
        auto nameBytes = [&](int record) {
            xb::Connection c;
            c.setReadOnly(true);
            xb::Table* t = c.open(data + "Customer.dbf");
            return t && t->go(uint32_t(record)) == xb::kSuccess
                       ? QByteArray::fromStdString(std::string(t->field("n_ame")->raw())).trimmed()
                       : QByteArray("(none)");
        };

        records::MasterTable table(records::Mode::kCustomer, data);
        QVERIFY(table.isOpen());
        auto rows = table.rows();
        QCOMPARE(int(rows.size()), 1);
        QCOMPARE(QString::fromStdString(rows[0].name), shown);

        // Another field of the record changed: the name keeps its bytes.
        records::MasterEntry edit {rows[0].code, rows[0].name, "2002"};
        QCOMPARE(table.checkInput(edit, 0, rows[0]), records::Check::kOk);
        QCOMPARE(table.write(edit, 0, rows[0]), records::Written::kStored);
        QCOMPARE(nameBytes(1), stored.trimmed());
        {
            xb::Connection c;
            c.setReadOnly(true);
            xb::Table* t = c.open(data + "Customer.dbf");
            QVERIFY(t && t->go(1) == xb::kSuccess);
            QCOMPARE(QByteArray::fromStdString(std::string(t->field("n_ame")->raw())).left(stored.size()), stored);
        }

        // The same name in another letter case is taken.
        QCOMPARE(table.checkInput({"", sameName.toStdString(), ""}, std::nullopt), records::Check::kDuplicate);

        // A name typed.
        const records::MasterEntry added {"2", typed.toStdString(), ""};
        if (typedStored.isEmpty()) {
            QCOMPARE(table.checkInput(added, std::nullopt), records::Check::kUnstorable);
            QVERIFY(!table.refusal().card);
            const QString message = QString::fromStdString(table.refusal().message);
            QVERIFY2(message.contains(QString::fromUtf8("\"ő\" (U+0151)")) && message.contains("Customer.dbf"),
                     qPrintable(message));
            return;
        }
        QCOMPARE(table.checkInput(added, std::nullopt), records::Check::kOk);
        QCOMPARE(table.write(added, std::nullopt, {}), records::Written::kStored);
        QCOMPARE(nameBytes(2), typedStored);
    }
};

QTEST_GUILESS_MAIN(TestRecordCodePage)
#include "test_recordcodepage.moc"

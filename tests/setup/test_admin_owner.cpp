// grazulo-admin run as root (a nightly job in root's crontab) on a site that
// another user owns: it works as that user, so that everything it makes
// belongs to the site's owner with the site directory's modes, and the kiosk
// and the station can write it afterwards. The owners are a user id that has
// no name and the system's "nobody"; no user is made. Runs as root only.

#include "TestSupport.h"

#include "data/Catalogue.h"
#include "data/CodeBase.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Owner {
    uid_t uid = 0;
    gid_t gid = 0;
};

// A user id without a name, or the one of `name`; false when there is none.
bool ownerOf(const QString& name, Owner& o)
{
    if (name.isEmpty()) {
        o.uid = 54321;
        while (::getpwuid(o.uid))
            ++o.uid;
        o.gid = o.uid;
        return true;
    }
    const passwd* pw = ::getpwnam(name.toLocal8Bit().constData());
    if (!pw)
        return false;
    o.uid = pw->pw_uid;
    o.gid = pw->pw_gid;
    return true;
}

// Everything below `dir` (not `dir` itself).
QStringList entriesBelow(const QString& dir)
{
    QStringList all;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        all << it.next();
    return all;
}

// The site as another user's: directories 0770 (a site shared with its
// group; 2770 that its new files are the group's), files 0660.
bool giveTo(const QString& dir, const Owner& o, mode_t dirMode = 0770)
{
    for (const QString& path : entriesBelow(dir)) {
        const QByteArray p = path.toLocal8Bit();
        const bool isDir = QFileInfo(path).isDir();
        if (::chown(p.constData(), o.uid, o.gid) != 0 || ::chmod(p.constData(), isDir ? dirMode : 0660) != 0)
            return false;
    }
    return true;
}

}  // namespace

class TestAdminOwner : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("grazulo-admin works as the site's owner only when run as root; this test needs root");
    }

    void everythingMadeIsTheOwners_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QStringList>("args");  // BASE: the scratch directory, HOME: the site
        QTest::newRow("month end, a user without a name") << "" << QStringList {"month-end", "2026", "1"};
        QTest::newRow("move of the data, nobody") << "nobody" << QStringList {"move-data", "BASE/newdata"};
        QTest::newRow("new site, a user without a name") << "" << QStringList {"new-site", "BASE/parent/site"};
        QTest::newRow("new site, nobody") << "nobody" << QStringList {"new-site", "BASE/parent/site"};
        QTest::newRow("report, nobody") << "nobody"
                                        << QStringList {"report", "transactions", "2026-01-01", "2026-01-31", "-o", "HOME/january.csv"};
    }
    void everythingMadeIsTheOwners()
    {
        QFETCH(QString, owner);
        QFETCH(QStringList, args);
        Owner o;
        if (!ownerOf(owner, o))
            QSKIP(qPrintable("there is no user " + owner));
        QTemporaryDir base("/tmp/adm-owner-XXXXXX");
        const QString home = base.path() + "/site";
        QVERIFY(QDir().mkpath(base.path() + "/newdata"));
        QVERIFY(QDir().mkpath(base.path() + "/parent"));
        QVERIFY(makeSite(base.path(), home, o));

        args.replaceInStrings("BASE", base.path());
        args.replaceInStrings("HOME", home);
        const auto r = testsupport::run(testsupport::binDir() + "/grazulo-admin", QStringList {"--home", home} + args);
        QVERIFY2(r.exitCode == 0, r.err.constData());

        int made = 0;
        for (const QString& path : entriesBelow(base.path())) {
            struct stat st {};
            QVERIFY(::lstat(path.toLocal8Bit().constData(), &st) == 0);
            QVERIFY2(st.st_uid == o.uid && st.st_gid == o.gid,
                     qPrintable(path + " belongs to " + QString::number(st.st_uid) + ":" + QString::number(st.st_gid)));
            if (S_ISDIR(st.st_mode))
                QVERIFY2((st.st_mode & 0777) == 0770, qPrintable(path + " has the mode " + QString::number(st.st_mode & 0777, 8)));
            else
                QVERIFY2((st.st_mode & 0600) == 0600, qPrintable(path + " is not the owner's to write"));
            ++made;
        }
        QVERIFY(made > 0);
    }

    // A report goes to a file the owner may write; one that only root may
    // write fails, and the message says whom the tool worked as.
    void aReportOnlyRootMayWrite()
    {
        Owner o;
        QVERIFY(ownerOf("", o));
        QTemporaryDir base("/tmp/adm-owner-XXXXXX");
        const QString home = base.path() + "/site";
        QVERIFY(makeSite(base.path(), home, o));
        QTemporaryDir rootOnly("/tmp/adm-root-XXXXXX");  // 0700, root's
        const QString out = rootOnly.path() + "/january.csv";
        const auto r = testsupport::run(testsupport::binDir() + "/grazulo-admin",
                                        {"--home", home, "report", "transactions", "2026-01-01", "2026-01-31", "-o", out});
        QCOMPARE(r.exitCode, 1);
        const QString err = QString::fromUtf8(r.err);
        QVERIFY2(err.contains("Permission denied") && err.contains("it worked as the user " + QString::number(o.uid)),
                 r.err.constData());
        QVERIFY(!QFile::exists(out));
    }

    // A site that its group shares (directories 2770): what the tool makes
    // there is the group's to write as well, whoever runs it and whatever
    // umask it is started with (cron's 022), also when it cannot become the
    // site's owner: root on a site root owns, or a member of the group.
    void aSharedSiteStaysTheGroups_data()
    {
        QTest::addColumn<bool>("rootOwnsSite");
        QTest::addColumn<bool>("runByMember");  // else by root
        QTest::newRow("root, a site root owns") << true << false;
        QTest::newRow("a member of the group, another user's site") << false << true;
    }
    void aSharedSiteStaysTheGroups()
    {
        QFETCH(bool, rootOwnsSite);
        QFETCH(bool, runByMember);
        Owner o;
        QVERIFY(ownerOf("", o));
        if (rootOwnsSite)
            o.uid = 0;
        QTemporaryDir base("/tmp/adm-owner-XXXXXX");
        const QString home = base.path() + "/site";
        QVERIFY(makeSite(base.path(), home, o, 02770));
        QStringList command {testsupport::binDir() + "/grazulo-admin", "--home", home, "month-end", "2026", "1"};
        if (runByMember) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody)
                QSKIP("there is no user nobody");
            command = QStringList {"--reuid=" + QString::number(nobody->pw_uid), "--regid=" + QString::number(nobody->pw_gid),
                                   "--groups=" + QString::number(o.gid)} + command;
        }
        const mode_t before = ::umask(022);
        const auto r = testsupport::run(runByMember ? "setpriv" : command.takeFirst(), command);
        ::umask(before);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        for (const QString& path : entriesBelow(base.path())) {
            struct stat st {};
            QVERIFY(::lstat(path.toLocal8Bit().constData(), &st) == 0);
            const mode_t want = S_ISDIR(st.st_mode) ? 0070 : 0060;
            QVERIFY2(st.st_gid == o.gid && (st.st_mode & want) == want,
                     qPrintable(path + " is " + QString::number(st.st_uid) + ":" + QString::number(st.st_gid) + " " +
                                QString::number(st.st_mode & 07777, 8) + ", not the group's to write"));
        }
    }

private:
    // A site in `home` with its data directory, a day table of January 2026
    // and the station's ticket table; everything in `base` (which others may
    // pass through) given to `o`.
    static bool makeSite(const QString& base, const QString& home, const Owner& o, mode_t dirMode = 0770)
    {
        if (::chmod(base.toLocal8Bit().constData(), 0755) != 0 || !QDir().mkpath(home + "/data"))
            return false;
        xb::Connection c;
        xb::Table* t = c.create((home + "/setup.dbf").toStdString(), catalogue::layoutFields(catalogue::kSetupLayout));
        if (!t || t->appendStart() != xb::kSuccess)
            return false;
        t->blank();
        t->field("datapath")->assign((home + "/data/").toStdString());
        return t->append() == xb::kSuccess && t->close() == xb::kSuccess &&
               testsupport::writeTicketTable(home + "/data/Jan0526.dbf", {{7, "ACME", "", 0, true}}) &&
               testsupport::writeTicketTable(home + "/data/ticket.dbf", {{8, "ACME"}}) && giveTo(base, o, dirMode);
    }
};

QTEST_GUILESS_MAIN(TestAdminOwner)
#include "test_admin_owner.moc"

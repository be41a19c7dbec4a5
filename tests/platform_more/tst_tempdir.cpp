// The private temporary folder's contract: emptying goes on past what it
// cannot remove, paths outside the folder are left alone, opening a name
// replaces whatever had it.

#include "platform/files/tempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace orvix::platform::files;

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestTempDir : public QObject {
    Q_OBJECT
    QTemporaryDir m_base;

private slots:
    void initTestCase()
    {
        QVERIFY(m_base.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_base.path()));
        QVERIFY(privateTemporaryDirectory().startsWith(m_base.path() + "/orvix-"));
    }

    // Folders it cannot open (no descriptor left for them) stand between
    // the files in any listing order: every file goes all the same.
    void emptyingGoesPastWhatItCannotRemove()
    {
        const QString folder = privateTemporaryDirectory();
        const QStringList files{"aadhaar.xml", "aadhaar.zip", "aadhaar-unzipped", "upload.bin", "download.bin", "z"};
        for (int i = 0; i < files.size(); ++i) {
            QVERIFY(QDir().mkpath(folder + QStringLiteral("/held%1/inside").arg(i)));
            QVERIFY(writeFile(folder + u'/' + files.at(i), "secret"));
        }
        // One more descriptor, for the folder's own listing: no failure
        // stops even root as surely.
        rlimit saved {};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC); // all below it are taken
        ::close(lowestFree);
        rlimit lowered = saved;
        lowered.rlim_cur = rlim_t(lowestFree + 1);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &lowered) == 0);
        removePrivateTemporaryDirectory();
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &saved) == 0);
        for (const QString &name : files)
            QVERIFY2(!QFileInfo::exists(folder + u'/' + name), qPrintable(name));
        QVERIFY(QFileInfo(folder + "/held0/inside").isDir()); // the failure did happen
        QVERIFY(QDir(folder).removeRecursively());
    }

    // Only a name directly inside the current private folder is acted on;
    // the same name elsewhere is left alone, as is the file inside.
    void actsOnlyDirectlyInside_data()
    {
        QTest::addColumn<QString>("where"); // the folder the path names; %1 the private one
        QTest::newRow("directly inside") << "%1";
        QTest::newRow("another folder") << "%1/../other";
        QTest::newRow("a folder inside the private folder") << "%1/sub";
        QTest::newRow("a folder beside it, its name extended") << "%1-x";
    }

    void actsOnlyDirectlyInside()
    {
        QFETCH(QString, where);
        const QString folder = privateTemporaryDirectory();
        const QString dir = QDir::cleanPath(where.arg(folder));
        const bool inside = dir == folder;
        QVERIFY(QDir().mkpath(dir));
        const QString own = folder + "/aadhaar.xml", named = dir + "/aadhaar.xml";
        QVERIFY(writeFile(own, "own"));
        if (!inside)
            QVERIFY(writeFile(named, "theirs"));

        QCOMPARE(removeFromPrivateTemporaryDirectory(named), inside);
        QCOMPARE(QFileInfo::exists(own), !inside);
        if (!inside) {
            QCOMPARE(readAll(named), QByteArray("theirs"));
            QVERIFY(QFile::remove(named));
        }

        QVERIFY(writeFile(own, "own"));
        QFile file(named);
        QCOMPARE(openInPrivateTemporaryDirectory(file), inside);
        if (inside) {
            QVERIFY(file.write("new") == 3);
            file.close();
        }
        QCOMPARE(readAll(own), inside ? QByteArray("new") : QByteArray("own"));
        QCOMPARE(QFileInfo::exists(named), inside); // nothing made elsewhere
        QVERIFY(QFile::remove(own));
        if (dir != folder)
            QVERIFY(QDir(dir).removeRecursively());
    }

    // Whatever has the name (a file, a folder with files, a link) gives way
    // to a new empty file; a link's target is left as it was.
    void openingReplacesWhatIsThere_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("nothing") << "nothing";
        QTest::newRow("a file") << "file";
        QTest::newRow("a folder with files") << "folder";
        QTest::newRow("a link") << "link";
    }

    void openingReplacesWhatIsThere()
    {
        QFETCH(QString, what);
        const QString path = privateTemporaryDirectory() + "/download.bin";
        const QString target = m_base.filePath("target");
        QVERIFY(writeFile(target, "target"));
        if (what == "file")
            QVERIFY(writeFile(path, "an earlier download"));
        else if (what == "folder")
            QVERIFY(QDir().mkpath(path + "/inside") && writeFile(path + "/inside/f", "f"));
        else if (what == "link")
            QVERIFY(QFile::link(target, path));

        for (const QByteArray &data : {QByteArray("first"), QByteArray("second")}) {
            QFile file(path);
            QVERIFY2(openInPrivateTemporaryDirectory(file), qPrintable(data));
            QCOMPARE(file.write(data), data.size());
            file.close();
            const QFileInfo info(path);
            QVERIFY(info.isFile() && !info.isSymLink());
            QCOMPARE(readAll(path), data);
        }
        QCOMPARE(readAll(target), QByteArray("target"));
        QVERIFY(removeFromPrivateTemporaryDirectory(path));
        QVERIFY(!QFileInfo::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestTempDir)
#include "tst_tempdir.moc"

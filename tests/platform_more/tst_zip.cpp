// Zip extraction: round trips per encryption, failures that leave nothing,
// hostile entries, the size bound, overwriting.

#include "platform/zip/ziparchive.h"

#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace orvix::platform::zip;

Q_DECLARE_METATYPE(orvix::platform::zip::EncryptionMethod)

namespace {

const QString kPassword = QStringLiteral("4321");

// Every path below `dir`, relative, sorted, hidden ones included.
QStringList tree(const QString &dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

int modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QByteArray randomBytes(int size)
{
    QByteArray out(size, Qt::Uninitialized);
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(out.data()), size / 4);
    return out;
}

ZipEntry file(const QString &name, const QByteArray &data)
{
    return ZipEntry{name, data};
}

// A temporary base with the archive beside the destination, so an escape
// shows up as something in the base other than these two.
struct Workspace {
    QTemporaryDir base;
    QString error;
    QString archive() const { return base.filePath(QStringLiteral("a.zip")); }
    QString dest() const { return base.filePath(QStringLiteral("out")); }
    QString dest(const QString &rel) const { return dest() + QLatin1Char('/') + rel; }
    bool make(const QList<ZipEntry> &entries, EncryptionMethod method = EncryptionMethod::none,
              const std::optional<QString> &password = std::nullopt) const
    {
        return createZip(archive(), entries, password, method, nullptr);
    }
    bool unzip(bool overwrite = true, const std::optional<QString> &password = std::nullopt,
               qint64 bound = kMaxExtractedBytes, bool preserve = false)
    {
        return unzipFileAtPath(archive(), dest(), preserve, overwrite, password, &error, bound);
    }
    // Failed with a text, and nothing in the base but the archive and at most
    // an empty destination.
    bool failedClean() const
    {
        QStringList found = tree(base.path());
        found.removeAll(QStringLiteral("a.zip"));
        found.removeAll(QStringLiteral("out"));
        return found.isEmpty() && !error.isEmpty();
    }
};

} // namespace

class TestZip : public QObject {
    Q_OBJECT
private slots:
    void perEncryption_data()
    {
        QTest::addColumn<EncryptionMethod>("method");
        QTest::newRow("none") << EncryptionMethod::none;
        QTest::newRow("traditional") << EncryptionMethod::traditional;
        QTest::newRow("aes128") << EncryptionMethod::aes128;
        QTest::newRow("aes256") << EncryptionMethod::aes256;
    }

    void perEncryption()
    {
        QFETCH(EncryptionMethod, method);
        if (!canWrite(method))
            QSKIP("this libzip cannot write traditional PKWARE encryption");
        const bool locked = method != EncryptionMethod::none;
        const auto password = locked ? std::optional<QString>(kPassword) : std::nullopt;
        const QByteArray binary = randomBytes(300 * 1024);
        ZipEntry script = file(QStringLiteral("bin/run.sh"), "#!/bin/sh\n");
        script.mode = 06755; // setuid and exec bits must not survive
        Workspace w;
        QVERIFY(w.make({file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>"),
                        file(QStringLiteral("deep/er/photo.bin"), binary), file(QStringLiteral("empty.txt"), {}),
                        file(QStringLiteral("folder/"), {}), script},
                       method, password));

        if (locked) {
            // Wrong, empty and missing passwords: no file, no folder.
            for (const auto &attempt : {std::optional<QString>(QStringLiteral("0000")),
                                        std::optional<QString>(QString()), std::optional<QString>()}) {
                w.error.clear();
                QVERIFY(!w.unzip(true, attempt));
                QVERIFY2(w.failedClean(), qPrintable(w.error));
            }
        }

        QVERIFY2(w.unzip(true, password), qPrintable(w.error));
        QCOMPARE(tree(w.dest()), QStringList({"bin", "bin/run.sh", "deep", "deep/er", "deep/er/photo.bin",
                                              "empty.txt", "folder", "offline.xml"}));
        QCOMPARE(readAll(w.dest("offline.xml")), QByteArray("<OfflinePaperlessKyc/>"));
        QCOMPARE(readAll(w.dest("deep/er/photo.bin")), binary);
        QCOMPARE(modeOf(w.dest("bin/run.sh")), 0600);
        QCOMPARE(modeOf(w.dest("deep/er")), 0700);
        QCOMPARE(modeOf(w.dest()), 0700);
    }

    void damagedOrMissingArchive()
    {
        Workspace w;
        QVERIFY(w.make({file(QStringLiteral("first.txt"), "fine"), file(QStringLiteral("second.bin"), randomBytes(40000))}));
        const QByteArray good = readAll(w.archive());

        // A flipped byte in the second entry's data: the first entry reads fine,
        // yet nothing may be left once the second fails.
        QByteArray flipped = good;
        const qsizetype second = good.indexOf("PK\x03\x04", 4);
        QVERIFY(second > 0);
        const int nameLength = uchar(good[second + 26]) | uchar(good[second + 27]) << 8;
        const int extraLength = uchar(good[second + 28]) | uchar(good[second + 29]) << 8;
        flipped[second + 30 + nameLength + extraLength + 100] ^= 0x55;

        for (const auto &[label, bytes] : QList<std::pair<const char *, QByteArray>>{
                 {"flipped data", flipped},
                 {"truncated", good.left(good.size() / 2)},
                 {"not a zip", QByteArray(4096, 'x')},
                 {"empty file", QByteArray()}}) {
            QVERIFY(writeFile(w.archive(), bytes));
            w.error.clear();
            QVERIFY2(!w.unzip(), label);
            QVERIFY2(w.failedClean(), label);
        }

        QVERIFY(QFile::remove(w.archive()));
        QVERIFY(!w.unzip());
        QVERIFY(w.error.contains(w.archive()));
    }

    void hostileNamesRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("parent") << QStringLiteral("../evil");
        QTest::newRow("absolute") << QStringLiteral("/tmp/orvix-zip-absolute-evil");
        QTest::newRow("climbs after descending") << QStringLiteral("a/../../evil");
        QTest::newRow("backslash parent") << QStringLiteral("..\\evil");
        QTest::newRow("backslash mixed") << QStringLiteral("sub\\..\\../evil");
        QTest::newRow("backslash absolute") << QStringLiteral("\\tmp\\orvix-zip-absolute-evil");
    }

    void hostileNamesRefused()
    {
        QFETCH(QString, name);
        QFile::remove(QStringLiteral("/tmp/orvix-zip-absolute-evil"));
        Workspace w;
        // A harmless entry first: names are all checked before anything is written.
        QVERIFY(w.make({file(QStringLiteral("ok.txt"), "ok"), file(name, "evil")}));
        QVERIFY(!w.unzip());
        QVERIFY(w.error.contains(name));
        QVERIFY2(w.failedClean(), qPrintable(tree(w.base.path()).join(", ")));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/orvix-zip-absolute-evil")));
    }

    void linksRefused()
    {
        Workspace w;
        ZipEntry link{QStringLiteral("link"), {}, true, w.base.path()};
        QVERIFY(w.make({file(QStringLiteral("ok.txt"), "ok"), link, file(QStringLiteral("link/evil"), "evil")}));
        QVERIFY(!w.unzip());
        QVERIFY(w.error.contains(QStringLiteral("link")));
        QVERIFY(w.failedClean());

        // A link already in the destination is not followed either.
        const QString outside = w.base.filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(outside) && QDir().mkpath(w.dest()));
        QVERIFY(QFile::link(outside, w.dest("via")));
        QVERIFY(w.make({file(QStringLiteral("via/evil"), "evil")}));
        QVERIFY(!w.unzip());
        QVERIFY(tree(outside).isEmpty());
    }

    void sizeBound()
    {
        Workspace w;
        // Exactly at the bound is fine, one byte over across entries is not.
        QVERIFY(w.make({file(QStringLiteral("a"), QByteArray(400, 'a')), file(QStringLiteral("b"), QByteArray(600, 'b'))}));
        QVERIFY2(w.unzip(true, std::nullopt, 1000), qPrintable(w.error));
        QVERIFY(QDir(w.dest()).removeRecursively());
        QVERIFY(!w.unzip(true, std::nullopt, 999));
        QVERIFY(w.failedClean());

        // The default bound against a real bomb: a small archive, 101 MB of zeros.
        QVERIFY(w.make({file(QStringLiteral("bomb"), QByteArray(101 * 1024 * 1024, '\0'))}));
        QVERIFY(QFileInfo(w.archive()).size() < 1024 * 1024);
        w.error.clear();
        QVERIFY(!w.unzip());
        QVERIFY(w.failedClean());
    }

    void overwriteAndTimes()
    {
        Workspace w;
        const QDateTime when(QDate(2019, 5, 17), QTime(10, 20, 30));
        ZipEntry a = file(QStringLiteral("a.xml"), "new");
        a.modified = when;
        QVERIFY(w.make({a, file(QStringLiteral("b.xml"), "b")}));
        QVERIFY(QDir().mkpath(w.dest()) && writeFile(w.dest("a.xml"), "old"));

        QVERIFY2(w.unzip(false), qPrintable(w.error));
        QCOMPARE(readAll(w.dest("a.xml")), QByteArray("old"));
        QCOMPARE(readAll(w.dest("b.xml")), QByteArray("b"));
        QVERIFY(QFileInfo(w.dest("b.xml")).lastModified() > when.addYears(1)); // not preserved

        QVERIFY2(w.unzip(true, std::nullopt, kMaxExtractedBytes, true), qPrintable(w.error));
        QCOMPARE(readAll(w.dest("a.xml")), QByteArray("new"));
        QCOMPARE(QFileInfo(w.dest("a.xml")).lastModified(), when);
        QCOMPARE(tree(w.dest()), QStringList({"a.xml", "b.xml"})); // no temporary left

        // A link under an entry's name is replaced, its target untouched.
        const QString victim = w.base.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(victim, "keep"));
        QVERIFY(QFile::remove(w.dest("a.xml")) && QFile::link(victim, w.dest("a.xml")));
        QVERIFY2(w.unzip(), qPrintable(w.error));
        QVERIFY(!QFileInfo(w.dest("a.xml")).isSymLink());
        QCOMPARE(readAll(victim), QByteArray("keep"));
    }
};

QTEST_GUILESS_MAIN(TestZip)
#include "tst_zip.moc"

// Zip extraction: round trips per encryption, archives made by other tools,
// failures that leave nothing and say why, hostile entries, the bounds,
// overwriting.

#include "platform/zip/ziparchive.h"
#include "simulator/documents/OfflineKycArchive.h"
#include "zipwriter.h"

#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/stat.h>

using namespace orvix::platform::zip;
using orvix::simulator::ArchiveForm;
using namespace orvix::testsupport;

namespace {

const QString kPassword = QStringLiteral("4321");
const QString kFixtures = QStringLiteral(ORVIX_FIXTURES_DIR);
const QString kFixtureCode = QStringLiteral("9736");

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

// Where the first entry's data starts.
qsizetype firstDataOffset(const QByteArray &zip)
{
    const int nameLength = qFromLittleEndian<quint16>(zip.constData() + 26);
    const int extraLength = qFromLittleEndian<quint16>(zip.constData() + 28);
    return 30 + nameLength + extraLength;
}

// The AES extra field's vendor version of the first entry (1: AE-1, 2: AE-2), 0 when none.
int aesVersion(const QByteArray &zip)
{
    const int nameLength = qFromLittleEndian<quint16>(zip.constData() + 26);
    const int extraLength = qFromLittleEndian<quint16>(zip.constData() + 28);
    for (qsizetype p = 30 + nameLength; p + 4 <= 30 + nameLength + extraLength;) {
        const quint16 id = qFromLittleEndian<quint16>(zip.constData() + p);
        const quint16 size = qFromLittleEndian<quint16>(zip.constData() + p + 2);
        if (id == 0x9901)
            return qFromLittleEndian<quint16>(zip.constData() + p + 4);
        p += 4 + size;
    }
    return 0;
}

// An archive cut into its parts, to be put together otherwise: the local
// entries, then the central directory's records.
struct Parts {
    QByteArray local;
    QList<QByteArray> records;

    explicit Parts(const QByteArray &zip)
    {
        const qsizetype end = zip.lastIndexOf("PK\x05\x06");
        const quint32 size = qFromLittleEndian<quint32>(zip.constData() + end + 12);
        const quint32 offset = qFromLittleEndian<quint32>(zip.constData() + end + 16);
        local = zip.left(offset);
        for (qsizetype at = offset; at < qsizetype(offset + size);) {
            const qsizetype length = 46 + qFromLittleEndian<quint16>(zip.constData() + at + 28)
                + qFromLittleEndian<quint16>(zip.constData() + at + 30)
                + qFromLittleEndian<quint16>(zip.constData() + at + 32);
            records << zip.mid(at, length);
            at += length;
        }
    }
    QByteArray directory() const { return records.join(); }
    // With a plain end record counting `count` records (all by default).
    QByteArray plain(int count = -1, const QByteArray &comment = {}) const
    {
        QByteArray end(22, '\0');
        memcpy(end.data(), "PK\x05\x06", 4);
        qToLittleEndian<quint16>(quint16(count < 0 ? records.size() : count), end.data() + 8);
        qToLittleEndian<quint16>(quint16(count < 0 ? records.size() : count), end.data() + 10);
        qToLittleEndian<quint32>(quint32(directory().size()), end.data() + 12);
        qToLittleEndian<quint32>(quint32(local.size()), end.data() + 16);
        qToLittleEndian<quint16>(quint16(comment.size()), end.data() + 20);
        return local + directory() + end + comment;
    }
    // With ZIP64 end records, the directory's size as given.
    QByteArray zip64(quint64 size = 0) const
    {
        const QByteArray d = directory();
        return local + d
            + zip64EndRecords(quint64(records.size()), size ? size : quint64(d.size()), quint64(local.size()),
                              quint64(local.size() + d.size()));
    }
    // Gives the record a comment of its own.
    void comment(int record, const QByteArray &text)
    {
        qToLittleEndian<quint16>(quint16(text.size()), records[record].data() + 32);
        records[record] += text;
    }
};

// A temporary base with the archive beside the destination, so an escape
// shows up as something in the base other than these two.
struct Workspace {
    QTemporaryDir base;
    UnzipError error;
    QString archive() const { return base.filePath(QStringLiteral("a.zip")); }
    QString dest() const { return base.filePath(QStringLiteral("out")); }
    QString dest(const QString &rel) const { return dest() + QLatin1Char('/') + rel; }
    bool make(const QList<ZipEntry> &entries, Method method = Method::none, const QString &password = {},
              bool stored = false) const
    {
        const QByteArray bytes = makeZip(entries, method, password, stored);
        return !bytes.isEmpty() && writeFile(archive(), bytes);
    }
    bool unzip(bool overwrite = true, const std::optional<QString> &password = std::nullopt,
               qint64 bound = kMaxExtractedBytes, bool preserve = false, int entries = kMaxEntries)
    {
        error = {};
        return unzipFileAtPath(archive(), dest(), preserve, overwrite, password, &error, bound, entries);
    }
    // Failed with a reason, and nothing in the base but the archive and at
    // most an empty destination.
    bool failedClean() const
    {
        QStringList found = tree(base.path());
        found.removeAll(QStringLiteral("a.zip"));
        found.removeAll(QStringLiteral("out"));
        return found.isEmpty() && error.failure != UnzipFailure::none && !error.text.isEmpty();
    }
};

} // namespace

Q_DECLARE_METATYPE(Method)
Q_DECLARE_METATYPE(QList<ZipEntry>)
Q_DECLARE_METATYPE(ArchiveForm)
Q_DECLARE_METATYPE(orvix::platform::zip::UnzipFailure)

class TestZip : public QObject {
    Q_OBJECT
private slots:
    void perEncryption_data()
    {
        QTest::addColumn<Method>("method");
        QTest::addColumn<bool>("stored");
        QTest::newRow("none") << Method::none << false;
        QTest::newRow("traditional") << Method::traditional << false;
        QTest::newRow("traditional, stored") << Method::traditional << true;
        QTest::newRow("aes128") << Method::aes128 << false;
        QTest::newRow("aes256") << Method::aes256 << false;
        QTest::newRow("aes256, stored") << Method::aes256 << true;
    }

    void perEncryption()
    {
        QFETCH(Method, method);
        QFETCH(bool, stored);
        const bool locked = method != Method::none;
        const QByteArray binary = randomBytes(300 * 1024);
        ZipEntry script = file(QStringLiteral("bin/run.sh"), "#!/bin/sh\n");
        script.mode = 06755; // setuid and exec bits must not survive
        Workspace w;
        QVERIFY(w.make({file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>"),
                        file(QStringLiteral("deep/er/photo.bin"), binary), file(QStringLiteral("empty.txt"), {}),
                        file(QStringLiteral("folder/"), {}), script},
                       method, kPassword, stored));

        if (locked) {
            // Wrong, empty and missing passwords: no file, no folder. A wrong
            // traditional password may pass its check byte and then show as
            // damaged data, so only the missing one has a fixed reason.
            for (const auto &attempt : {std::optional<QString>(QStringLiteral("0000")),
                                        std::optional<QString>(QString()), std::optional<QString>()}) {
                QVERIFY(!w.unzip(true, attempt));
                QVERIFY2(w.failedClean(), qPrintable(w.error.description()));
                QVERIFY(!w.error.text.contains(kPassword));
            }
            QCOMPARE(w.error.failure, UnzipFailure::wrongPassword);
        }

        QVERIFY2(w.unzip(true, locked ? std::optional(kPassword) : std::nullopt), qPrintable(w.error.description()));
        QCOMPARE(tree(w.dest()), QStringList({"bin", "bin/run.sh", "deep", "deep/er", "deep/er/photo.bin",
                                              "empty.txt", "folder", "offline.xml"}));
        QCOMPARE(readAll(w.dest("offline.xml")), QByteArray("<OfflinePaperlessKyc/>"));
        QCOMPARE(readAll(w.dest("deep/er/photo.bin")), binary);
        QCOMPARE(modeOf(w.dest("bin/run.sh")), 0600);
        QCOMPARE(modeOf(w.dest("deep/er")), 0700);
        QCOMPARE(modeOf(w.dest()), 0700);
    }

    // Archives made by Info-ZIP and 7-Zip (see the fixtures' README).
    void outsideToolFixtures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("aes"); // vendor version, 0 for traditional
        QTest::newRow("Info-ZIP, traditional") << "traditional-infozip.zip" << 0;
        QTest::newRow("7-Zip, AES-128") << "aes128-7zip.zip" << 2;
        QTest::newRow("7-Zip, AES-192") << "aes192-7zip.zip" << 2;
        QTest::newRow("7-Zip, AES-256") << "aes256-7zip.zip" << 2;
    }

    void outsideToolFixtures()
    {
        QFETCH(QString, name);
        QFETCH(int, aes);
        const QByteArray original = readAll(kFixtures + "/" + name);
        QVERIFY(!original.isEmpty());
        QCOMPARE(aesVersion(original), aes);
        if (aes == 2) // AE-2: no CRC, the authentication code alone
            QCOMPARE(qFromLittleEndian<quint32>(original.constData() + 14), 0u);
        const QDir folder(kFixtures);
        const QStringList xml = folder.entryList({"offline*.xml"}, QDir::Files);
        QCOMPARE(xml.size(), 1);

        Workspace w;
        QVERIFY(writeFile(w.archive(), original));
        QVERIFY(!w.unzip(true, QStringLiteral("0000")));
        QCOMPARE(w.error.failure, UnzipFailure::wrongPassword);
        QVERIFY(w.failedClean());
        QVERIFY(!w.unzip(true, std::nullopt));
        QCOMPARE(w.error.failure, UnzipFailure::wrongPassword);
        QVERIFY(w.failedClean());

        // One flipped byte of the encrypted data.
        QByteArray flipped = original;
        flipped[firstDataOffset(original) + 200] = char(flipped[firstDataOffset(original) + 200] ^ 0x01);
        QVERIFY(writeFile(w.archive(), flipped));
        QVERIFY(!w.unzip(true, kFixtureCode));
        QCOMPARE(w.error.failure, UnzipFailure::damaged);
        QVERIFY2(w.failedClean(), qPrintable(w.error.description()));

        QVERIFY(writeFile(w.archive(), original));
        QVERIFY2(w.unzip(true, kFixtureCode), qPrintable(w.error.description()));
        QCOMPARE(tree(w.dest()), xml);
        QCOMPARE(readAll(w.dest(xml.first())), readAll(folder.filePath(xml.first())));
    }

    // Each form the simulator serves opens with its share code only.
    void simulatorForms_data()
    {
        QTest::addColumn<ArchiveForm>("form");
        QTest::addColumn<int>("aes");
        QTest::newRow("traditional") << ArchiveForm::traditional << 0;
        QTest::newRow("AES AE-1") << ArchiveForm::aesAe1 << 1;
        QTest::newRow("AES AE-2") << ArchiveForm::aesAe2 << 2;
    }

    void simulatorForms()
    {
        QFETCH(ArchiveForm, form);
        QFETCH(int, aes);
        const QByteArray xml = "<OfflinePaperlessKyc>" + randomBytes(64 * 1024).toBase64() + "</OfflinePaperlessKyc>";
        QString why;
        const QByteArray zip = orvix::simulator::makeOfflineKycArchive(xml, "offlineaadhaar1.xml", kFixtureCode, &why, form);
        QVERIFY2(!zip.isEmpty(), qPrintable(why));
        QCOMPARE(aesVersion(zip), aes);
        QCOMPARE(qFromLittleEndian<quint16>(zip.constData() + 8), quint16(aes ? 99 : 8)); // deflated inside
        if (aes == 2)
            QCOMPARE(qFromLittleEndian<quint32>(zip.constData() + 14), 0u);
        Workspace w;
        QVERIFY(writeFile(w.archive(), zip));
        QVERIFY(!w.unzip(true, QStringLiteral("1234")));
        QVERIFY(w.failedClean());
        QVERIFY2(w.unzip(true, kFixtureCode), qPrintable(w.error.description()));
        QCOMPARE(tree(w.dest()), QStringList({"offlineaadhaar1.xml"}));
        QCOMPARE(readAll(w.dest("offlineaadhaar1.xml")), xml);
    }

    void refusedArchives_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<UnzipFailure>("failure");
        const QByteArray good =
            makeZip({file(QStringLiteral("first.txt"), "fine"), file(QStringLiteral("second.bin"), randomBytes(40000))});
        QVERIFY(!good.isEmpty());
        // A flipped byte in the second entry's data: the first entry reads fine,
        // yet nothing may be left once the second fails its CRC.
        QByteArray flipped = good;
        const qsizetype second = good.indexOf("PK\x03\x04", 4);
        QVERIFY(second > 0);
        flipped[second + firstDataOffset(good.mid(second)) + 100] ^= 0x55;
        QTest::newRow("flipped data") << flipped << UnzipFailure::damaged;
        QTest::newRow("truncated") << good.left(good.size() / 2) << UnzipFailure::damaged;
        QTest::newRow("not a zip") << QByteArray(4096, 'x') << UnzipFailure::damaged;
        QTest::newRow("empty file") << QByteArray() << UnzipFailure::damaged;

        // Method 6 (implode) in both headers of a stored entry.
        QByteArray imploded = makeZip({file(QStringLiteral("a.txt"), "imploded?")}, Method::none, {}, true);
        QVERIFY(!imploded.isEmpty());
        const qsizetype central = imploded.indexOf("PK\x01\x02");
        QVERIFY(central > 0);
        qToLittleEndian<quint16>(6, imploded.data() + 8);
        qToLittleEndian<quint16>(6, imploded.data() + central + 10);
        QTest::newRow("unsupported method") << imploded << UnzipFailure::unsupportedMethod;

        // Failures after folders were made, and after files were moved into
        // place (a name the file system refuses): nothing of them stays.
        QByteArray inFolder = makeZip({file(QStringLiteral("d/e/first.txt"), "fine"), file(QStringLiteral("second.bin"), randomBytes(40000))});
        const qsizetype secondInFolder = inFolder.indexOf("PK\x03\x04", 4);
        inFolder[secondInFolder + firstDataOffset(inFolder.mid(secondInFolder)) + 100] ^= 0x55;
        QTest::newRow("flipped data after a folder") << inFolder << UnzipFailure::damaged;
        QTest::newRow("a name too long to move into place")
            << makeZip({file(QStringLiteral("d/first.txt"), "fine"), file(QStringLiteral("z.txt"), "z"),
                        file(QString(300, u'n'), "long")})
            << UnzipFailure::fileAccess;

        // Directories libarchive reads otherwise than the end record says.
        ZipEntry pipe = file(QStringLiteral("pipe"), {});
        pipe.special = S_IFIFO;
        const Parts withPipe(makeZip({file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>"), pipe}));
        QTest::newRow("end record counting one of two") << withPipe.plain(1) << UnzipFailure::damaged;
        // The locator leads to the directory with the pipe; the plain end
        // record's size, to a clean copy of it.
        const Parts clean(makeZip({file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>"), file(QStringLiteral("pipe"), {})}));
        const QByteArray ends = withPipe.zip64();
        const QByteArray records = ends.mid(withPipe.local.size() + withPipe.directory().size(), 56);
        QByteArray end = ends.right(22);
        qToLittleEndian<quint16>(2, end.data() + 8);
        qToLittleEndian<quint16>(2, end.data() + 10);
        qToLittleEndian<quint32>(quint32(clean.directory().size() + 20), end.data() + 12);
        qToLittleEndian<quint32>(0, end.data() + 16);
        QTest::newRow("ZIP64 locator past a decoy directory")
            << withPipe.local + withPipe.directory() + records + clean.directory() + ends.mid(ends.size() - 42, 20) + end
            << UnzipFailure::unsafeEntry;
        // libarchive names entries by their local headers, in data order.
        QByteArray renamed = clean.plain();
        renamed.replace(30, 11, "offline.xmm");
        QTest::newRow("local name not the directory's") << renamed << UnzipFailure::damaged;
        Parts swapped = clean;
        swapped.records.swapItemsAt(0, 1);
        QTest::newRow("directory out of the data's order") << swapped.plain() << UnzipFailure::damaged;
        QTest::newRow("ZIP64 directory size of 2^63") << clean.zip64(quint64(1) << 63) << UnzipFailure::damaged;
        QTest::newRow("ZIP64 directory size of 2^64 - 1") << clean.zip64(~quint64(0)) << UnzipFailure::damaged;

        // Bounds that hold before libarchive reads an entry.
        QTest::newRow("94 MB ZIP64 directory of 2,000,000 entries") << zip64ListingMany(2'000'000)
                                                                    << UnzipFailure::unsafeEntry;
        QTest::newRow("150,000 entries under the size bound") << zip64ListingMany(150'000) << UnzipFailure::unsafeEntry;
    }

    void refusedArchives()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(UnzipFailure, failure);
        Workspace w;
        QVERIFY(writeFile(w.archive(), bytes));
        QVERIFY(!w.unzip());
        QCOMPARE(w.error.failure, failure);
        QVERIFY2(w.failedClean(), qPrintable(w.error.description()));
    }

    // Forms of a sound archive the walk must read as libarchive does.
    void soundDirectoriesInOtherForms_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QList<ZipEntry> entries{file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>"),
                                      file(QStringLiteral("d/photo.bin"), randomBytes(3000))};
        const Parts parts(makeZip(entries));
        QTest::newRow("ZIP64 end records") << parts.zip64();
        Parts commented = parts;
        commented.comment(0, "an entry's comment");
        commented.comment(1, QByteArray(300, 'c'));
        QTest::newRow("entry comments") << commented.plain(-1, "the archive's comment");
        QTest::newRow("data before the archive") << QByteArray(5000, 'x') + parts.plain();
        QByteArray untyped = makeZip(entries);
        QVERIFY(setCentralType(untyped, QStringLiteral("offline.xml"), 0, 0644));
        QTest::newRow("Unix entry without a type") << untyped;
    }

    void soundDirectoriesInOtherForms()
    {
        QFETCH(QByteArray, bytes);
        Workspace w;
        QVERIFY(writeFile(w.archive(), bytes));
        QVERIFY2(w.unzip(), qPrintable(w.error.description()));
        QCOMPARE(tree(w.dest()), QStringList({"d", "d/photo.bin", "offline.xml"}));
        QCOMPARE(readAll(w.dest("offline.xml")), QByteArray("<OfflinePaperlessKyc/>"));
    }

    void missingArchive()
    {
        Workspace w;
        QVERIFY(!w.unzip());
        QCOMPARE(w.error.failure, UnzipFailure::fileAccess);
        QVERIFY(w.error.text.contains(w.archive()));
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
        QTest::newRow("drive letter") << QStringLiteral("C:/x.xml");
        QTest::newRow("drive letter, backslash") << QStringLiteral("d:\\x.xml");
    }

    void hostileNamesRefused()
    {
        QFETCH(QString, name);
        QFile::remove(QStringLiteral("/tmp/orvix-zip-absolute-evil"));
        Workspace w;
        // A harmless entry first: names are all checked before anything is written.
        QVERIFY(w.make({file(QStringLiteral("ok.txt"), "ok"), file(name, "evil")}, Method::aes256, kPassword));
        QVERIFY(!w.unzip(true, kPassword));
        QCOMPARE(w.error.failure, UnzipFailure::unsafeEntry);
        // The reader may hand a DOS-made name over with its backslashes turned.
        QVERIFY2(w.error.text.contains(name) || w.error.text.contains(QString(name).replace(u'\\', u'/')),
                 qPrintable(w.error.text));
        QVERIFY2(w.failedClean(), qPrintable(tree(w.base.path()).join(", ")));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/orvix-zip-absolute-evil")));
    }

    // Names that clash as the file system sees them, and entries that are
    // neither file nor folder: refused before anything is written, and the
    // next archive opens as usual.
    void clashingAndSpecialEntriesRefused_data()
    {
        QTest::addColumn<QList<ZipEntry>>("entries");
        QTest::addColumn<UnzipFailure>("failure");
        QTest::addColumn<QString>("reason");
        const ZipEntry document = file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>");
        const auto special = [](const QString &name, quint32 type) {
            ZipEntry e = file(name, {});
            e.special = type;
            return e;
        };
        QTest::newRow("file then folder") << QList<ZipEntry>{document, file("b", "b"), file("b/", {})}
                                          << UnzipFailure::damaged << "\"b/\" repeats the name of an earlier entry";
        QTest::newRow("same name twice") << QList<ZipEntry>{document, file("offline.xml", "<Forged/>")}
                                         << UnzipFailure::damaged << "repeats the name of an earlier entry";
        QTest::newRow("same after cleaning") << QList<ZipEntry>{file("d/offline.xml", "1"), file("d/./offline.xml", "2")}
                                             << UnzipFailure::damaged << "repeats the name of an earlier entry";
        QTest::newRow("same but for case") << QList<ZipEntry>{document, file("OFFLINE.xml", "<Forged/>")}
                                           << UnzipFailure::damaged << "repeats the name of an earlier entry";
        QTest::newRow("file then file inside it") << QList<ZipEntry>{document, file("b", "b"), file("b/c", "c")}
                                                  << UnzipFailure::damaged << "needs a folder where an earlier entry is a file";
        QTest::newRow("folder then file of its name") << QList<ZipEntry>{file("d/e", "e"), document, file("d", "d")}
                                                      << UnzipFailure::damaged << "is a file where an earlier entry needs a folder";
        QTest::newRow("FIFO") << QList<ZipEntry>{document, special("pipe", S_IFIFO)} << UnzipFailure::unsafeEntry
                              << "\"pipe\" is not a file or a folder";
        QTest::newRow("character device") << QList<ZipEntry>{document, special("tty", S_IFCHR)}
                                          << UnzipFailure::unsafeEntry << "\"tty\" is not a file or a folder";
        QTest::newRow("block device") << QList<ZipEntry>{document, special("disk", S_IFBLK)}
                                      << UnzipFailure::unsafeEntry << "\"disk\" is not a file or a folder";
    }

    void clashingAndSpecialEntriesRefused()
    {
        QFETCH(QList<ZipEntry>, entries);
        QFETCH(UnzipFailure, failure);
        QFETCH(QString, reason);
        Workspace w;
        QVERIFY(w.make(entries, Method::traditional, kPassword));
        QVERIFY(!w.unzip(true, kPassword));
        QCOMPARE(w.error.failure, failure);
        QVERIFY2(w.error.text.contains(reason), qPrintable(w.error.text));
        QVERIFY2(w.failedClean(), qPrintable(tree(w.base.path()).join(", ")));

        QVERIFY(w.make({file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>")}, Method::traditional, kPassword));
        QVERIFY2(w.unzip(true, kPassword), qPrintable(w.error.description()));
        QCOMPARE(tree(w.dest()), QStringList{"offline.xml"});
    }

    void linksRefused()
    {
        Workspace w;
        ZipEntry link{QStringLiteral("link"), {}, true, w.base.path()};
        QVERIFY(w.make({file(QStringLiteral("ok.txt"), "ok"), link, file(QStringLiteral("link/evil"), "evil")}));
        QVERIFY(!w.unzip());
        QCOMPARE(w.error.failure, UnzipFailure::unsafeEntry);
        QVERIFY(w.error.text.contains(QStringLiteral("link")));
        QVERIFY(w.failedClean());

        // A link already in the destination is not followed either.
        const QString outside = w.base.filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(outside) && QDir().mkpath(w.dest()));
        QVERIFY(QFile::link(outside, w.dest("via")));
        QVERIFY(w.make({file(QStringLiteral("via/evil"), "evil")}));
        QVERIFY(!w.unzip());
        QCOMPARE(w.error.failure, UnzipFailure::unsafeEntry);
        QVERIFY(tree(outside).isEmpty());
    }

    void bounds()
    {
        Workspace w;
        // Exactly at the bound is fine, one byte over across entries is not.
        QVERIFY(w.make({file(QStringLiteral("a"), QByteArray(400, 'a')), file(QStringLiteral("b"), QByteArray(600, 'b'))}));
        QVERIFY2(w.unzip(true, std::nullopt, 1000), qPrintable(w.error.description()));
        QVERIFY(QDir(w.dest()).removeRecursively());
        QVERIFY(!w.unzip(true, std::nullopt, 999));
        QCOMPARE(w.error.failure, UnzipFailure::unsafeEntry);
        QVERIFY(w.failedClean());

        // The default bound against a real bomb: a small archive, 101 MB of zeros.
        QVERIFY(w.make({file(QStringLiteral("bomb"), QByteArray(101 * 1024 * 1024, '\0'))}, Method::aes256, kPassword));
        QVERIFY(QFileInfo(w.archive()).size() < 1024 * 1024);
        QVERIFY(!w.unzip(true, kPassword));
        QCOMPARE(w.error.failure, UnzipFailure::unsafeEntry);
        QVERIFY(w.failedClean());

        // Entries: the defaults allow 1000, refuse 1001 before writing any.
        QList<ZipEntry> many;
        for (int i = 0; i < 1000; ++i)
            many.append(file(QStringLiteral("e%1").arg(i), {}));
        QVERIFY(w.make(many));
        QVERIFY2(unzipFileAtPath(w.archive(), w.dest(), false, true, std::nullopt, &w.error),
                 qPrintable(w.error.description()));
        QCOMPARE(QDir(w.dest()).count() - 2, 1000u);
        QVERIFY(QDir(w.dest()).removeRecursively());
        many.append(file(QStringLiteral("one-more"), {}));
        QVERIFY(w.make(many));
        w.error = {};
        QVERIFY(!unzipFileAtPath(w.archive(), w.dest(), false, true, std::nullopt, &w.error));
        QCOMPARE(w.error.failure, UnzipFailure::unsafeEntry);
        QVERIFY2(w.error.text.contains("the directory lists 1001 entries"), qPrintable(w.error.text));
        QVERIFY(w.failedClean());

        // The archive's size: at the bound is fine, one byte over is not.
        const QByteArray small = makeZip({file(QStringLiteral("a"), "a")}, Method::none, {}, true);
        const qsizetype overhead = small.size() - 1;
        const QByteArray atBound =
            makeZip({file(QStringLiteral("a"), QByteArray(kMaxArchiveBytes - overhead, 'a'))}, Method::none, {}, true);
        QCOMPARE(atBound.size(), kMaxArchiveBytes);
        QVERIFY(writeFile(w.archive(), atBound));
        QVERIFY2(w.unzip(), qPrintable(w.error.description()));
        QVERIFY(QDir(w.dest()).removeRecursively());
        QVERIFY(writeFile(w.archive(), atBound + 'x'));
        QVERIFY(!w.unzip());
        QCOMPARE(w.error.failure, UnzipFailure::unsafeEntry);
        QVERIFY2(w.error.text.contains("larger than"), qPrintable(w.error.text));
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

        QVERIFY2(w.unzip(false), qPrintable(w.error.description()));
        QCOMPARE(readAll(w.dest("a.xml")), QByteArray("old"));
        QCOMPARE(readAll(w.dest("b.xml")), QByteArray("b"));
        QVERIFY(QFileInfo(w.dest("b.xml")).lastModified() > when.addYears(1)); // not preserved

        QVERIFY2(w.unzip(true, std::nullopt, kMaxExtractedBytes, true), qPrintable(w.error.description()));
        QCOMPARE(readAll(w.dest("a.xml")), QByteArray("new"));
        QCOMPARE(QFileInfo(w.dest("a.xml")).lastModified(), when);
        QCOMPARE(tree(w.dest()), QStringList({"a.xml", "b.xml"})); // no temporary left

        // An existing folder under an entry's name is not replaced.
        QVERIFY(QFile::remove(w.dest("b.xml")) && QDir().mkpath(w.dest("b.xml/inside")));
        QVERIFY(!w.unzip());
        QCOMPARE(w.error.failure, UnzipFailure::unsafeEntry);
        QVERIFY(QFileInfo(w.dest("b.xml/inside")).isDir());
        QVERIFY(QDir(w.dest("b.xml")).removeRecursively());

        // A link under an entry's name is replaced, its target untouched.
        const QString victim = w.base.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(victim, "keep"));
        QVERIFY(QFile::remove(w.dest("a.xml")) && QFile::link(victim, w.dest("a.xml")));
        QVERIFY2(w.unzip(), qPrintable(w.error.description()));
        QVERIFY(!QFileInfo(w.dest("a.xml")).isSymLink());
        QCOMPARE(readAll(victim), QByteArray("keep"));
    }
};

QTEST_GUILESS_MAIN(TestZip)
#include "tst_zip.moc"

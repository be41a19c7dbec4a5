// Zip extraction: round trips per encryption, archives made by other tools,
// failures that leave nothing and say why, hostile entries, the bounds,
// overwriting.

#include "platform/zip/ziparchive.h"
#include "platform/zip/internal/extraction.h"
#include "simulator/documents/OfflineKycArchive.h"
#include "zipwriter.h"

#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <clocale>
#include <ctime>
#include <langinfo.h>
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

// The directory with ZIP64 end records whose record takes `recordBytes`,
// then a plain end record that is sound as well (so libarchive reads the
// same directory whichever it takes), placed `endAt` bytes into the final
// 16 KiB libarchive searches by the archive's comment (-1: no comment).
QByteArray zip64Framed(const Parts &parts, int recordBytes, int endAt = -1)
{
    const int commentBytes = endAt < 0 ? 0 : 16 * 1024 - 22 - endAt;
    const QByteArray d = parts.directory();
    const quint64 local = quint64(parts.local.size());
    const QByteArray ends = zip64EndRecords(quint64(parts.records.size()), quint64(d.size()), local, local + d.size());
    QByteArray record = ends.left(56) + QByteArray(recordBytes - 56, '\0');
    qToLittleEndian<quint64>(quint64(recordBytes - 12), record.data() + 4);
    QByteArray end = ends.right(22);
    qToLittleEndian<quint16>(quint16(parts.records.size()), end.data() + 8);
    qToLittleEndian<quint16>(quint16(parts.records.size()), end.data() + 10);
    qToLittleEndian<quint32>(quint32(d.size() + recordBytes + 20), end.data() + 12);
    qToLittleEndian<quint32>(quint32(local), end.data() + 16);
    qToLittleEndian<quint16>(quint16(commentBytes), end.data() + 20);
    return parts.local + d + record + ends.mid(56, 20) + end + QByteArray(commentBytes, 'c');
}

// Every header's "names are UTF-8" flag set or cleared.
QByteArray markedUtf8(QByteArray zip, bool marked)
{
    for (const auto &[signature, at] : {std::pair("PK\x03\x04", 6), std::pair("PK\x01\x02", 8)}) {
        for (qsizetype p = 0; (p = zip.indexOf(signature, p)) >= 0; p += 4) {
            quint16 flags = qFromLittleEndian<quint16>(zip.constData() + p + at);
            flags = marked ? flags | 0x0800 : flags & ~0x0800;
            qToLittleEndian<quint16>(flags, zip.data() + p + at);
        }
    }
    return zip;
}

// The folders "1", "1/2"... of `depth` levels, then `leaf` inside the last.
QStringList chain(int depth, const QString &leaf = {})
{
    QStringList out;
    QString path;
    for (int i = 1; i <= depth; ++i)
        out << (path += (i > 1 ? QStringLiteral("/") : QString()) + QString::number(i));
    if (!leaf.isEmpty())
        out << path + u'/' + leaf;
    return out;
}

QList<ZipEntry> numbered(int count)
{
    QList<ZipEntry> out;
    for (int i = 0; i < count; ++i)
        out.append(ZipEntry{QStringLiteral("e%1").arg(i), QByteArray::number(i)});
    return out;
}

// CPU time of this thread, in seconds.
double threadCpuSeconds()
{
    timespec t {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

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
    // CTest runs this program under "C" as well as "C.UTF-8": the locale
    // asked for must be the one in force.
    void initTestCase()
    {
        const QByteArray asked = qgetenv("LC_ALL");
        if (!asked.isEmpty())
            QCOMPARE(QByteArray(::nl_langinfo(CODESET)) == "UTF-8", asked.contains("UTF-8"));
    }

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

    // Archives beyond the entry bounds, refused from the directory walk with
    // the reason, before libarchive reads an entry: no key is derived, no
    // path split, so each costs next to nothing whatever its size.
    void refusedFromTheWalk_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<UnzipFailure>("failure");
        QTest::addColumn<QString>("reason");
        const ZipEntry document = file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>");
        const auto with = [&](const QString &name) { return makeZip({document, file(name, "x")}); };

        QTest::newRow("17 entries") << makeZip(numbered(17)) << UnzipFailure::unsafeEntry
                                    << "the directory lists 17 entries";
        QByteArray aes = makeZip(numbered(999), Method::aes256, kPassword);
        const qsizetype last = aes.lastIndexOf("PK\x03\x04");
        aes[last + firstDataOffset(aes.mid(last)) + 20] ^= 0x01;
        QTest::newRow("999 AES entries, the last one's authentication code broken")
            << aes << UnzipFailure::unsafeEntry << "the directory lists 999 entries";
        const QString letters = QStringLiteral("a/").repeated(32767) + u'a'; // 65,535 bytes
        QList<ZipEntry> longNames;
        for (int i = 0; i < 63; ++i)
            longNames.append(file(letters.left(65533) + QString::number(i % 10) + u'x', {}));
        QTest::newRow("63 names of 65,535 bytes of one-letter folders")
            << makeZip(longNames) << UnzipFailure::unsafeEntry << "the directory lists 63 entries";
        QTest::newRow("a name of 65,535 bytes of one-letter folders")
            << with(letters) << UnzipFailure::unsafeEntry << "has a name of 65535 bytes, more than the allowed 255";
        QTest::newRow("a name of 256 bytes") << with(QString(256, u'n')) << UnzipFailure::unsafeEntry
                                             << "has a name of 256 bytes, more than the allowed 255";
        QTest::newRow("9 folders deep") << with(chain(9).last() + "/offline.xml") << UnzipFailure::unsafeEntry
                                        << "lies 9 folders deep, more than the allowed 8";
        QTest::newRow("9 folders deep, a folder entry")
            << with(chain(9).last() + u'/') << UnzipFailure::unsafeEntry << "lies 9 folders deep";
        QTest::newRow("9 folders deep, backslashes")
            << with(QString(chain(9).last() + "/offline.xml").replace(u'/', u'\\')) << UnzipFailure::unsafeEntry
            << "lies 9 folders deep";

        // ZIP64 records libarchive would pass over for the plain end record:
        // the walk must not read the directory they point at either.
        const Parts parts(makeZip({document, file(QStringLiteral("d/photo.bin"), randomBytes(3000))}));
        QTest::newRow("ZIP64 locator one byte before libarchive's window")
            << zip64Framed(parts, 56, 19) << UnzipFailure::damaged
            << "a ZIP64 locator at the edge of the end record's window";
        QTest::newRow("ZIP64 end record of 16,385 bytes")
            << zip64Framed(parts, 16385) << UnzipFailure::damaged
            << "a ZIP64 end of central directory record of a wrong size";
    }

    void refusedFromTheWalk()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(UnzipFailure, failure);
        QFETCH(QString, reason);
        QVERIFY(!bytes.isEmpty());
        Workspace w;
        QVERIFY(writeFile(w.archive(), bytes));
        const double before = threadCpuSeconds();
        QVERIFY(!w.unzip(true, kPassword));
        const double spent = threadCpuSeconds() - before;
        QCOMPARE(w.error.failure, failure);
        QVERIFY2(w.error.text.contains(reason), qPrintable(w.error.text));
        QVERIFY2(w.error.text.size() < 400, "the reason quotes a name in full");
        QVERIFY2(w.failedClean(), qPrintable(w.error.description()));
        QVERIFY2(spent < 0.5, qPrintable(QString::number(spent))); // a wide margin: refused in milliseconds
    }

    // Archives at each bound, and names in every form tools write them,
    // under any locale.
    void acceptedAtTheBounds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("tree");
        const ZipEntry document = file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>");
        QStringList sixteen;
        for (int i = 0; i < 16; ++i)
            sixteen << QStringLiteral("e%1").arg(i);
        sixteen.sort();
        QTest::newRow("16 AES entries") << makeZip(numbered(16), Method::aes256, kPassword) << sixteen;
        const QString longest(255, u'n');
        QTest::newRow("a name of 255 bytes") << makeZip({document, file(longest, "x")})
                                             << QStringList{longest, "offline.xml"};
        QTest::newRow("8 folders deep") << makeZip({file(chain(8).last() + "/offline.xml", "x")})
                                        << chain(8, "offline.xml");
        QTest::newRow("8 folders deep, a folder entry") << makeZip({file(chain(8).last() + u'/', {})}) << chain(8);
        QTest::newRow("8 folders deep, with empty and \".\" parts")
            << makeZip({file("./1//2/./3/4/5/6/7/8\\offline.xml", "x")}) << chain(8, "offline.xml");

        const Parts parts(makeZip({document, file(QStringLiteral("d/photo.bin"), randomBytes(3000))}));
        const QStringList two{"d", "d/photo.bin", "offline.xml"};
        QTest::newRow("ZIP64 locator at the first byte of libarchive's window")
            << zip64Framed(parts, 56, 20) << two;
        QTest::newRow("ZIP64 end record of 16,384 bytes") << zip64Framed(parts, 16384) << two;

        // The names as 7-Zip and Info-ZIP mark them, unmarked, and in a DOS
        // code page (no UTF-8 form at all: taken byte for byte).
        const QString accented = QString::fromUtf8("d\u00F3c/\u00F1ame.xml");
        const QByteArray plain = makeZip({file(accented, "x")}, Method::aes256, kPassword);
        const QStringList accentedTree{QString::fromUtf8("d\u00F3c"), accented};
        QTest::newRow("non-ASCII name marked UTF-8") << markedUtf8(plain, true) << accentedTree;
        QTest::newRow("non-ASCII name not marked") << markedUtf8(plain, false) << accentedTree;
        QByteArray dos = markedUtf8(makeZip({file(QStringLiteral("f_r.xml"), "x")}), false);
        dos.replace("f_r.xml", "f\x81r.xml");
        QTest::newRow("name in a DOS code page") << dos << QStringList{QString::fromUtf8("f\uFFFDr.xml")};
    }

    void acceptedAtTheBounds()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, tree);
        QVERIFY(!bytes.isEmpty());
        Workspace w;
        QVERIFY(writeFile(w.archive(), bytes));
        QVERIFY2(w.unzip(true, kPassword), qPrintable(w.error.description()));
        QCOMPARE(::tree(w.dest()), tree);
    }

    // The destination changed under an extraction (its folder renamed away
    // and a link put in its place, as another user of a shared temporary
    // folder could): the extraction fails and takes back every file it
    // wrote, in the renamed folder as well; nothing goes through the link.
    void changedDestination_data()
    {
        QTest::addColumn<int>("after");     // files staged when it changes
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        QTest::newRow("swapped for a link elsewhere, mid-extraction") << 1 << "elsewhere" << "moved or replaced";
        QTest::newRow("swapped for a link to itself, mid-extraction") << 1 << "itself" << "moved or replaced";
        QTest::newRow("swapped for a link elsewhere, before the moves") << 3 << "elsewhere" << "moved or replaced";
        QTest::newRow("a folder in a later file's place, before the moves") << 3 << "folder" << "Cannot move";
    }

    void changedDestination()
    {
        QFETCH(int, after);
        QFETCH(QString, change);
        QFETCH(QString, reason);
        QTemporaryDir base;
        const QString priv = base.filePath("private"), moved = base.filePath("moved"),
                      elsewhere = base.filePath("elsewhere"), archive = base.filePath("a.zip");
        QVERIFY(QDir().mkpath(priv + "/out") && QDir().mkpath(elsewhere + "/out"));
        QVERIFY(writeFile(archive, makeZip({file(QStringLiteral("offline.xml"), "<OfflinePaperlessKyc/>"),
                                            file(QStringLiteral("d/photo.bin"), randomBytes(3000)),
                                            file(QStringLiteral("z.xml"), "<z/>")},
                                           Method::aes256, kPassword)));
        int changed = 0;
        const internal::AfterStaging swap = [&](int staged) {
            if (staged != after)
                return;
            ++changed;
            if (change == QLatin1String("folder")) {
                QVERIFY(QDir().mkpath(priv + "/out/z.xml/inside"));
                return;
            }
            QVERIFY(QDir().rename(priv, moved));
            QVERIFY(QFile::link(change == QLatin1String("itself") ? moved : elsewhere, priv));
        };
        UnzipError error;
        QVERIFY(!internal::unzipFileAtPath(archive, priv + "/out", true, true, kPassword, &error, kMaxExtractedBytes,
                                           kMaxEntries, swap));
        QCOMPARE(changed, 1);
        QCOMPARE(error.failure, UnzipFailure::fileAccess);
        QVERIFY2(error.text.contains(reason), qPrintable(error.text));
        // Only folders are left, and the archive.
        QDirIterator it(base.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files << QDir(base.path()).relativeFilePath(it.next());
        QCOMPARE(files, QStringList{"a.zip"});
        QCOMPARE(::tree(elsewhere), QStringList{"out"});
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

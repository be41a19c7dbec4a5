#include "platform/zip/internal/centraldirectory.h"

#include <QtEndian>

#include <cstring>

namespace orvix::platform::zip::internal {

namespace {

constexpr quint64 kTailWindow = 16 * 1024; // where libarchive looks for the end record
constexpr quint64 kEndRecordSize = 22;
constexpr quint64 kLocatorSize = 20;
constexpr quint64 kRecordSize = 46;

// Bounds-checked little-endian reads over the archive; every offset is
// unsigned 64-bit and compared before it is used.
class Bytes {
public:
    explicit Bytes(QByteArrayView data) : m_data(data), m_size(quint64(data.size())) {}

    quint64 size() const { return m_size; }
    bool has(quint64 at, quint64 length) const { return at <= m_size && length <= m_size - at; }
    bool signature(quint64 at, const char (&sig)[5]) const
    {
        return has(at, 4) && std::memcmp(m_data.data() + at, sig, 4) == 0;
    }
    // Callers check has() first.
    quint16 u16(quint64 at) const { return qFromLittleEndian<quint16>(m_data.data() + at); }
    quint32 u32(quint64 at) const { return qFromLittleEndian<quint32>(m_data.data() + at); }
    quint64 u64(quint64 at) const { return qFromLittleEndian<quint64>(m_data.data() + at); }
    QByteArray slice(quint64 at, quint64 length) const
    {
        return QByteArray(m_data.data() + at, qsizetype(length));
    }

private:
    QByteArrayView m_data;
    quint64 m_size;
};

constexpr char kCentral[] = "PK\x01\x02";
constexpr char kEnd[] = "PK\x05\x06";
constexpr char kEnd64[] = "PK\x06\x06";
constexpr char kLocator[] = "PK\x06\x07";

Directory failed(WalkFailure failure, const QString &why)
{
    Directory d;
    d.failure = failure;
    d.why = why;
    return d;
}

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The folders an entry lies in, in one pass over its name, counted as the
// extraction will split it. A folder entry counts itself; an entry typed a
// folder without the trailing slash is taken as one as well, as libarchive
// may.
qsizetype depthOf(QByteArrayView name, bool typedFolder)
{
    qsizetype parts = 0;
    qsizetype partLength = 0;
    bool dotOnly = false;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        if (i == name.size() || isSeparator(name[i])) {
            if (partLength > 0 && !(partLength == 1 && dotOnly))
                ++parts;
            partLength = 0;
            continue;
        }
        dotOnly = partLength == 0 && name[i] == '.';
        ++partLength;
    }
    const bool folder = typedFolder || (!name.isEmpty() && isSeparator(name.back()));
    return folder ? parts : qMax<qsizetype>(0, parts - 1);
}

// A name short enough to quote.
QString quoted(QByteArrayView name)
{
    constexpr qsizetype shown = 48;
    return name.size() <= shown ? QString::fromUtf8(name)
                                : QString::fromUtf8(name.first(shown)) + QStringLiteral("…");
}

} // namespace

bool DirectoryEntry::isSpecial() const
{
    if (madeOn != 3)
        return false;
    const quint32 type = (externalAttributes >> 16) & 0170000;
    return type != 0 && type != 0100000 && type != 0040000 && type != 0120000;
}

bool DirectoryEntry::isFolder() const
{
    if (madeOn == 3)
        return ((externalAttributes >> 16) & 0170000) == 0040000;
    return madeOn == 0 && (externalAttributes & 0x10) != 0; // the MS-DOS folder attribute
}

Directory walkCentralDirectory(QByteArrayView archive, int maxEntries, int maxNameBytes, int maxDepth)
{
    const Bytes z(archive);
    const auto damaged = [](const QString &why) { return failed(WalkFailure::damaged, why); };

    // The last end record with its 22 bytes in the final 16 KiB; like
    // libarchive, not the window's first byte.
    const quint64 window = qMin(z.size(), kTailWindow);
    const quint64 windowStart = z.size() - window;
    quint64 end = 0;
    bool found = false;
    for (quint64 i = window >= kEndRecordSize ? window - kEndRecordSize : 0; i > 0; --i) {
        if (z.signature(windowStart + i, kEnd)) {
            end = windowStart + i;
            found = true;
            break;
        }
    }
    if (!found)
        return damaged(QStringLiteral("no end of central directory record"));

    quint64 count = 0;
    quint64 start = 0;    // where the records begin
    quint64 size = 0;     // the bytes they take
    const bool hasLocator = end >= kLocatorSize && z.signature(end - kLocatorSize, kLocator);
    if (hasLocator) {
        // libarchive takes the ZIP64 end record whenever it passes these
        // checks and falls back on the plain one otherwise: anything short
        // of a sound ZIP64 record is refused here instead.
        if (end < windowStart + kLocatorSize)
            return damaged(QStringLiteral("a ZIP64 locator at the edge of the end record's window"));
        const quint64 locator = end - kLocatorSize;
        if (z.u32(locator + 4) != 0 || z.u32(locator + 16) != 1)
            return damaged(QStringLiteral("a ZIP64 directory on another disk"));
        const quint64 record = z.u64(locator + 8);
        if (!z.has(record, 56) || !z.signature(record, kEnd64))
            return damaged(QStringLiteral("no ZIP64 end of central directory record where its locator says"));
        const quint64 recordRest = z.u64(record + 4);
        if (recordRest < 44 || recordRest > 16384 - 12 || !z.has(record, recordRest + 12)
            || record + recordRest + 12 > locator)
            return damaged(QStringLiteral("a ZIP64 end of central directory record of a wrong size"));
        if (z.u32(record + 16) != 0 || z.u32(record + 20) != 0 || z.u64(record + 24) != z.u64(record + 32))
            return damaged(QStringLiteral("a ZIP64 directory on another disk"));
        count = z.u64(record + 32);
        size = z.u64(record + 40);
        start = z.u64(record + 48);
        // The records end where the ZIP64 end record begins.
        if (start > record || size != record - start)
            return damaged(QStringLiteral("a ZIP64 central directory out of place"));
    } else {
        if (z.u16(end + 4) != 0 || z.u16(end + 6) != 0 || z.u16(end + 8) != z.u16(end + 10))
            return damaged(QStringLiteral("a central directory on another disk"));
        count = z.u16(end + 10);
        size = z.u32(end + 12);
        const quint64 offset = z.u32(end + 16);
        if (size > end || offset > end - size)
            return damaged(QStringLiteral("a central directory out of place"));
        // Measured back from the end record, as libarchive does, so data
        // put before the archive does not matter.
        start = end - size;
    }
    if (count > quint64(qMax(0, maxEntries)))
        return failed(WalkFailure::tooManyEntries,
                      QStringLiteral("the directory lists %1 entries").arg(count));
    // libarchive looks ahead 20 bytes from the start and takes the first
    // signature there: it must stand right at the start.
    if (!z.has(start, 20) || !(z.signature(start, kCentral) || (count == 0 && (z.signature(start, kEnd) || z.signature(start, kEnd64)))))
        return damaged(QStringLiteral("no central directory where the end record says"));

    Directory directory;
    directory.entries.reserve(size_t(count));
    quint64 at = start;
    for (;;) {
        // libarchive stops at the first end signature on a record boundary.
        if (z.signature(at, kEnd) || z.signature(at, kEnd64))
            break;
        if (!z.signature(at, kCentral))
            return damaged(QStringLiteral("a central directory record without its signature"));
        if (directory.entries.size() == count)
            return damaged(QStringLiteral("more central directory records than the %1 the end record counts").arg(count));
        if (!z.has(at, kRecordSize))
            return damaged(QStringLiteral("a central directory record cut short"));
        const quint64 nameLength = z.u16(at + 28);
        const quint64 extraLength = z.u16(at + 30);
        const quint64 commentLength = z.u16(at + 32);
        if (!z.has(at + kRecordSize, nameLength + extraLength))
            return damaged(QStringLiteral("a central directory record cut short"));
        const QByteArrayView name = archive.sliced(qsizetype(at + kRecordSize), qsizetype(nameLength));
        if (nameLength > quint64(qMax(0, maxNameBytes)))
            return failed(WalkFailure::entryBeyondBounds,
                          QStringLiteral("the entry \"%1\" has a name of %2 bytes, more than the allowed %3")
                              .arg(quoted(name))
                              .arg(nameLength)
                              .arg(maxNameBytes));
        DirectoryEntry entry;
        entry.madeOn = quint8(z.u16(at + 4) >> 8);
        entry.externalAttributes = z.u32(at + 38);
        const qsizetype depth = depthOf(name, entry.isFolder());
        if (depth > qMax(0, maxDepth))
            return failed(WalkFailure::entryBeyondBounds,
                          QStringLiteral("the entry \"%1\" lies %2 folders deep, more than the allowed %3")
                              .arg(quoted(name))
                              .arg(depth)
                              .arg(maxDepth));
        entry.name = name.toByteArray();
        directory.entries.push_back(std::move(entry));
        // Each length is at most 0xFFFF and `at` within the file: no overflow.
        at += kRecordSize + nameLength + extraLength + commentLength;
    }
    if (directory.entries.size() != count)
        return damaged(QStringLiteral("%1 central directory records where the end record counts %2")
                           .arg(directory.entries.size())
                           .arg(count));
    if (at - start != size)
        return damaged(QStringLiteral("central directory records that do not fill the directory"));
    return directory;
}

} // namespace orvix::platform::zip::internal

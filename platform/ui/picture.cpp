#include "platform/ui/picture.h"

#include "platform/dispatch/dispatch.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <zlib.h>

namespace orvix::platform::ui {

namespace {

// What any picture may ask of the decoder, whatever its bounds (measured in
// bench_picture, Release). libjpeg walks every block of a scan's components
// once per scan, 40-75 ns a block here, however few bytes the scan has: a
// 16 Mpx progressive photograph of the usual ten scans is 2.1 M block passes
// and 0.13 s, 64 scans at 1700x1700 are 2.8 M and 0.17 s, 64 at 2000x2000
// 3.9 M and 0.28 s, and 64 at 16 Mpx would be 16 M and 0.67 s. So the scan
// bound alone is not enough.
constexpr qint64 kMaxBlockPasses = 3'000'000;
// A progressive JPEG, or one of more than one scan, keeps all its
// coefficients (128 bytes a block) until the last scan: 48 MiB for a 16 Mpx
// colour photograph (4:2:0), whose decoding peaks at 50-90 MB in all.
constexpr qint64 kMaxCoefficientBytes = 48LL * 1024 * 1024;

struct Shape {
    QSize size; // as the header gives it
    QString refusal;
};

Shape refused(const QString &why)
{
    return {QSize(), why};
}

QString tooManyPixels(qint64 width, qint64 height, qint64 maxPixels)
{
    return QStringLiteral("it is %1x%2, more than %3 pixels").arg(width).arg(height).arg(maxPixels);
}

quint16 u16(const uchar *at)
{
    return qFromBigEndian<quint16>(at);
}

quint32 u32(const uchar *at)
{
    return qFromBigEndian<quint32>(at);
}

qint64 ceilDiv(qint64 a, qint64 b)
{
    return (a + b - 1) / b;
}

// ---- JPEG ----
//
// The scans are counted by a walk of the markers before libjpeg sees the
// bytes. libjpeg's progress monitor would count them too, but Qt's plugin
// gives no way to install one; decoding JPEG ourselves through libjpeg only
// to reach that callback is far more code than this walk, which reads only
// segment lengths and skips entropy-coded data to the next real marker.

struct JpegFrame {
    struct Component {
        int id = 0, h = 1, v = 1;
    };
    qint64 width = 0, height = 0;
    int maxH = 1, maxV = 1;
    QList<Component> components;
    bool progressive = false;

    bool read(uchar marker, const uchar *at, int size)
    {
        if (size < 6)
            return false;
        height = u16(at + 1);
        width = u16(at + 3);
        const int count = at[5];
        if (width == 0 || height == 0 || count < 1 || count > 4 || size != 6 + 3 * count)
            return false;
        for (int i = 0; i < count; ++i) {
            const uchar *c = at + 6 + 3 * i;
            const Component component{c[0], c[1] >> 4, c[1] & 15};
            if (component.h < 1 || component.h > 4 || component.v < 1 || component.v > 4)
                return false;
            maxH = qMax(maxH, component.h);
            maxV = qMax(maxV, component.v);
            components.append(component);
        }
        progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
        return true;
    }

    qint64 blocks(const Component &c) const
    {
        return ceilDiv(ceilDiv(width * c.h, maxH), 8) * ceilDiv(ceilDiv(height * c.v, maxV), 8);
    }

    // As libjpeg keeps them: each component padded to whole sampling units.
    qint64 coefficientBytes() const
    {
        qint64 total = 0;
        for (const Component &c : components) {
            const qint64 across = ceilDiv(ceilDiv(ceilDiv(width * c.h, maxH), 8), c.h) * c.h;
            const qint64 down = ceilDiv(ceilDiv(ceilDiv(height * c.v, maxV), 8), c.v) * c.v;
            total += across * down * 64 * 2;
        }
        return total;
    }

    // The blocks one scan walks; -1 when its header cannot be read.
    qint64 blocksOfScan(const uchar *at, int size) const
    {
        const int count = size > 0 ? at[0] : 0;
        if (count < 1 || count > 4 || size != 4 + 2 * count)
            return -1;
        qint64 total = 0;
        for (int i = 0; i < count; ++i) {
            const auto c = std::find_if(components.begin(), components.end(),
                                        [&](const Component &c) { return c.id == at[1 + 2 * i]; });
            if (c == components.end())
                return -1;
            total += blocks(*c);
        }
        return total;
    }
};

bool isFrameMarker(uchar marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Where the marker after a scan's entropy-coded data starts; -1 when the
// bytes end first. Inside the data 0xFF is followed by 0x00 (a stuffed byte),
// a restart marker or more 0xFF (fill).
qsizetype afterEntropyCodedData(const uchar *data, qsizetype size, qsizetype at)
{
    for (;;) {
        const void *ff = std::memchr(data + at, 0xFF, size_t(size - at));
        if (!ff)
            return -1;
        at = static_cast<const uchar *>(ff) - data;
        if (at + 1 >= size)
            return -1;
        const uchar next = data[at + 1];
        if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
            at += 2;
        else if (next == 0xFF)
            at += 1;
        else
            return at;
    }
}

// The walk's state: the frame header, and the scans so far with their work.
class JpegWalk {
public:
    explicit JpegWalk(const PictureBounds &bounds) : m_bounds(bounds) {}

    QString frameHeader(uchar marker, const uchar *body, int size)
    {
        if (m_haveFrame || !m_frame.read(marker, body, size))
            return QStringLiteral("its frame header cannot be read");
        m_haveFrame = true;
        if (m_frame.width * m_frame.height > m_bounds.maxPixels)
            return tooManyPixels(m_frame.width, m_frame.height, m_bounds.maxPixels);
        return {};
    }

    QString scanHeader(const uchar *body, int size)
    {
        if (!m_haveFrame)
            return QStringLiteral("a scan comes before its frame header");
        if (++m_scans > m_bounds.maxScans)
            return QStringLiteral("it has more than %1 scans").arg(m_bounds.maxScans);
        if ((m_frame.progressive || m_scans > 1) && m_frame.coefficientBytes() > kMaxCoefficientBytes)
            return QStringLiteral("it would keep more than %1 MiB of coefficients").arg(kMaxCoefficientBytes >> 20);
        const qint64 blocks = m_frame.blocksOfScan(body, size);
        if (blocks < 0)
            return QStringLiteral("its scan header cannot be read");
        m_blockPasses += blocks;
        if (m_blockPasses > kMaxBlockPasses)
            return QStringLiteral("its scans ask for more than %1 block passes").arg(kMaxBlockPasses);
        return {};
    }

    Shape end() const
    {
        if (!m_haveFrame || m_scans == 0)
            return refused(QStringLiteral("it has no picture"));
        return {QSize(int(m_frame.width), int(m_frame.height)), {}};
    }

private:
    const PictureBounds &m_bounds;
    JpegFrame m_frame;
    bool m_haveFrame = false;
    int m_scans = 0;
    qint64 m_blockPasses = 0;
};

Shape walkJpeg(const QByteArray &bytes, const PictureBounds &bounds)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype size = bytes.size();
    const QString truncated = QStringLiteral("its markers end before its picture does");
    const QString unreadable = QStringLiteral("its markers cannot be read");
    JpegWalk walk(bounds);
    qsizetype at = 2; // after the start marker
    for (;;) {
        if (at >= size)
            return refused(truncated);
        if (data[at] != 0xFF)
            return refused(unreadable);
        while (at < size && data[at] == 0xFF)
            ++at;
        if (at >= size)
            return refused(truncated);
        const uchar marker = data[at++];
        if (marker == 0xD9)
            return walk.end();
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no segment follows
        if (marker == 0x00 || marker == 0xD8)
            return refused(unreadable);
        if (size - at < 2)
            return refused(truncated);
        const int length = u16(data + at);
        if (length < 2)
            return refused(unreadable);
        if (length > size - at)
            return refused(truncated);
        const uchar *body = data + at + 2;
        at += length;
        QString why;
        if (isFrameMarker(marker)) {
            why = walk.frameHeader(marker, body, length - 2);
        } else if (marker == 0xDA) {
            why = walk.scanHeader(body, length - 2);
            if (why.isEmpty() && (at = afterEntropyCodedData(data, size, at)) < 0)
                return refused(truncated);
        }
        if (!why.isEmpty())
            return refused(why);
    }
}

// ---- PNG ----

// Counts what a zlib stream inflates to, in a small scratch buffer, and
// stops as soon as it passes `limit`.
class InflateCount {
public:
    explicit InflateCount(qint64 limit) : m_limit(limit) { m_ok = inflateInit(&m_stream) == Z_OK; }
    ~InflateCount() { inflateEnd(&m_stream); }
    InflateCount(const InflateCount &) = delete;
    InflateCount &operator=(const InflateCount &) = delete;

    qint64 total() const { return m_total; }

    // False once the stream inflates past the limit or is damaged. What
    // follows its end is not inflated by anyone, so it is not counted.
    bool feed(const uchar *data, quint32 size)
    {
        if (!m_ok || m_ended)
            return m_ok;
        m_stream.next_in = const_cast<Bytef *>(data);
        m_stream.avail_in = size;
        do {
            m_stream.next_out = m_scratch;
            m_stream.avail_out = sizeof m_scratch;
            const int result = inflate(&m_stream, Z_NO_FLUSH);
            m_total += qint64(sizeof m_scratch - m_stream.avail_out);
            if (m_total > m_limit)
                return m_ok = false;
            if (result == Z_STREAM_END) {
                m_ended = true;
                return true;
            }
            if (result == Z_BUF_ERROR && m_stream.avail_in == 0)
                return true; // wants the next chunk
            if (result != Z_OK)
                return m_ok = false;
        } while (m_stream.avail_in > 0 || m_stream.avail_out == 0);
        return true;
    }

private:
    z_stream m_stream{};
    qint64 m_limit;
    qint64 m_total = 0;
    bool m_ok = false;
    bool m_ended = false;
    Bytef m_scratch[16 * 1024];
};

// libpng inflates compressed text whole and Qt keeps it as the picture's
// text: 30 such chunks in a 231 KB PNG cost 1.9 s and 1.1 GB. In all they
// inflate to at most this.
constexpr qint64 kMaxInflatedText = 1024 * 1024;

// Where the zlib stream of a compressed text chunk (zTXt, or iTXt marked
// compressed) starts; -1 for any other chunk, or one libpng would not read.
qsizetype compressedTextStart(QByteArrayView type, const uchar *body, quint32 length)
{
    if (type != "zTXt" && type != "iTXt")
        return -1;
    const auto after = [&](qsizetype from) -> qsizetype { // past the next NUL
        const void *nul = from < qsizetype(length) ? std::memchr(body + from, 0, length - from) : nullptr;
        return nul ? static_cast<const uchar *>(nul) - body + 1 : -1;
    };
    const qsizetype keyword = after(0);
    if (keyword < 0)
        return -1;
    if (type == "zTXt")
        return keyword + 1 <= qsizetype(length) ? keyword + 1 : -1; // after the method byte
    if (keyword + 2 > qsizetype(length) || body[keyword] != 1)
        return -1;
    const qsizetype language = after(keyword + 2);
    return language < 0 ? -1 : after(language); // after the translated keyword
}

// Bits a pixel takes for a valid colour type and depth; 0 for any other.
int pngBitsPerPixel(int colourType, int depth)
{
    const auto in = [depth](std::initializer_list<int> depths) {
        return std::find(depths.begin(), depths.end(), depth) != depths.end();
    };
    switch (colourType) {
    case 0: return in({1, 2, 4, 8, 16}) ? depth : 0;
    case 2: return in({8, 16}) ? 3 * depth : 0;
    case 3: return in({1, 2, 4, 8}) ? depth : 0;
    case 4: return in({8, 16}) ? 2 * depth : 0;
    case 6: return in({8, 16}) ? 4 * depth : 0;
    default: return 0;
    }
}

// The filtered image data libpng takes: a filter byte and the pixels of each
// row of each pass.
qint64 pngImageDataSize(qint64 width, qint64 height, int bitsPerPixel, bool interlaced)
{
    const auto rows = [bitsPerPixel](qint64 w, qint64 h) {
        return w > 0 && h > 0 ? h * (1 + ceilDiv(w * bitsPerPixel, 8)) : 0;
    };
    if (!interlaced)
        return rows(width, height);
    static const int x0[] = {0, 4, 0, 2, 0, 1, 0}, dx[] = {8, 8, 4, 4, 2, 2, 1};
    static const int y0[] = {0, 0, 4, 0, 2, 0, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
    qint64 total = 0;
    for (int pass = 0; pass < 7; ++pass)
        total += rows(ceilDiv(width - x0[pass], dx[pass]), ceilDiv(height - y0[pass], dy[pass]));
    return total;
}

// libpng inflates image data past the last row until the stream ends (a
// 256 KB stream of zeros after a 1 Mpx image cost 0.55 s): the image data is
// inflated here first, counted, and refused past what the image needs.
Shape walkPng(const QByteArray &bytes, const PictureBounds &bounds)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype size = bytes.size();
    QSize header;
    std::unique_ptr<InflateCount> imageData;
    qint64 textBytes = 0;
    qsizetype at = 8; // after the signature
    for (;;) {
        if (size - at < 12)
            return refused(QStringLiteral("its chunks end before its picture does"));
        const quint32 length = u32(data + at);
        if (length > quint32(size - at - 12))
            return refused(QStringLiteral("its chunks end before its picture does"));
        const QByteArrayView type(data + at + 4, 4);
        const uchar *body = data + at + 8;
        at += 12 + qsizetype(length);
        if (!imageData) {
            if (type != "IHDR" || length != 13)
                return refused(QStringLiteral("it does not start with its header"));
            const qint64 width = u32(body), height = u32(body + 4);
            const int bits = pngBitsPerPixel(body[9], body[8]);
            if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX || bits == 0 || body[10] != 0
                || body[11] != 0 || body[12] > 1)
                return refused(QStringLiteral("its header cannot be read"));
            if (width * height > bounds.maxPixels)
                return refused(tooManyPixels(width, height, bounds.maxPixels));
            header = QSize(int(width), int(height));
            imageData = std::make_unique<InflateCount>(pngImageDataSize(width, height, bits, body[12] == 1));
        } else if (type == "IDAT") {
            if (!imageData->feed(body, length))
                return refused(QStringLiteral("its image data inflates to more than its size needs, or is damaged"));
        } else if (type == "IEND") {
            return {header, {}};
        } else if (const qsizetype start = compressedTextStart(type, body, length); start >= 0) {
            InflateCount text(kMaxInflatedText - textBytes);
            if (!text.feed(body + start, quint32(length - start)))
                return refused(QStringLiteral("its text inflates to more than %1 bytes, or is damaged")
                                   .arg(kMaxInflatedText));
            textBytes += text.total();
        }
    }
}

// ---- the reader ----

QSize scaledToFit(QSize size, int maxSide)
{
    if (maxSide <= 0 || (size.width() <= maxSide && size.height() <= maxSide))
        return size;
    return size.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

DecodedPicture read(const QByteArray &bytes, const char *format, QSize size, const PictureBounds &bounds)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    const QSize expected = scaledToFit(size, bounds.maxSide);
    if (expected != size)
        reader.setScaledSize(expected);
    return detail::readChecked(reader, expected, bounds);
}

} // namespace

PictureBounds PictureBounds::photograph()
{
    PictureBounds bounds;
    bounds.maxBytes = 3 * 1024 * 1024 / 4 * 3; // all a document's photograph text (3 MiB of Base64) holds
    bounds.maxPixels = 4096 * 4096;
    bounds.maxSide = 1024;
    bounds.allowPng = false;
    return bounds;
}

PictureBounds PictureBounds::captcha()
{
    PictureBounds bounds;
    bounds.maxBytes = 256 * 1024;
    bounds.maxPixels = 1024 * 1024;
    bounds.maxSide = 1024;
    bounds.allowPng = true;
    return bounds;
}

DecodedPicture decodePicture(const QByteArray &bytes, const PictureBounds &bounds)
{
    if (bytes.isEmpty())
        return {{}, QStringLiteral("it is empty")};
    if (bytes.size() > bounds.maxBytes)
        return {{}, QStringLiteral("it is %1 bytes, more than %2").arg(bytes.size()).arg(bounds.maxBytes)};
    const bool jpeg = bytes.startsWith(QByteArrayView("\xFF\xD8\xFF", 3));
    const bool png = bytes.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8));
    if (!jpeg && !png)
        return {{}, QStringLiteral("it is neither a JPEG nor a PNG picture")};
    if (png && !bounds.allowPng)
        return {{}, QStringLiteral("a PNG picture is not taken here")};
    const Shape shape = jpeg ? walkJpeg(bytes, bounds) : walkPng(bytes, bounds);
    if (!shape.refusal.isEmpty())
        return {{}, shape.refusal};
    return read(bytes, jpeg ? "jpeg" : "png", shape.size, bounds);
}

void decodePictureInBackground(QByteArray bytes, PictureBounds bounds, std::function<void(DecodedPicture)> done,
                               int deadlineMs)
{
    QElapsedTimer clock;
    clock.start();
    dispatch::asyncGlobal([bytes = std::move(bytes), bounds, done = std::move(done), deadlineMs, clock]() mutable {
        DecodedPicture result = decodePicture(bytes, bounds);
        if (clock.elapsed() > deadlineMs)
            result = {QImage(), QStringLiteral("not ready within %1 ms").arg(deadlineMs)};
        dispatch::asyncMain([done = std::move(done), result = std::move(result)] {
            if (done)
                done(result);
        });
    });
}

namespace detail {

DecodedPicture readChecked(QImageReader &reader, QSize expected, const PictureBounds &bounds)
{
    QImage image = reader.read();
    if (image.isNull())
        return {{}, QStringLiteral("it could not be decoded: %1").arg(reader.errorString())};
    const QSize decoded = image.size();
    const QString shape = QStringLiteral("%1x%2").arg(decoded.width()).arg(decoded.height());
    if (qint64(decoded.width()) * decoded.height() > bounds.maxPixels)
        return {{}, QStringLiteral("it decoded to %1, more than %2 pixels").arg(shape).arg(bounds.maxPixels)};
    if (bounds.maxSide > 0 && (decoded.width() > bounds.maxSide || decoded.height() > bounds.maxSide))
        return {{}, QStringLiteral("it decoded to %1, larger than %2 a side").arg(shape).arg(bounds.maxSide)};
    // Turned upright by its orientation tag, it may come out transposed.
    if (decoded != expected && decoded != expected.transposed())
        return {{}, QStringLiteral("it decoded to %1, not the %2x%3 its header gives")
                        .arg(shape)
                        .arg(expected.width())
                        .arg(expected.height())};
    return {std::move(image), {}};
}

} // namespace detail

} // namespace orvix::platform::ui

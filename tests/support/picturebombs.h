#pragma once
// Pictures for the bounded decoder's tests and benchmark: ordinary ones, and
// bombs that cost far more to decode than their bytes suggest. Each is made
// here, from Qt's own JPEG writer or zlib, and most are a few KB.
//
//   photoLike(size)                 an image with detail everywhere, as a photograph has
//   jpegOf(image, quality, progressive), pngOf(image)   encoded by Qt's writers
//   libjpegOf(image, restartRows, progressive, lumaSampling)   encoded by libjpeg
//                                   itself, for what Qt's writer cannot set: restart
//                                   markers every `restartRows` rows of blocks, and
//                                   the sampling (1: 4:4:4, 2: 4:2:0)
//   plainProgressiveJpeg(size)      Qt's progressive JPEG of one grey (ten scans)
//   progressiveJpeg(size, scans)    a progressive JPEG of exactly `scans` scans
//   progressiveScanBomb(size, n)    a plain progressive JPEG whose last refinement
//                                   scan is repeated n more times: each copy is a few
//                                   dozen bytes, and libjpeg walks every block again
//   emptyScanBomb(size, n)          n scan headers with no data before the end marker
//   scanCount(jpeg)                 the JPEG's scans (start-of-scan markers)
//   zeroPng(size, interlaced, trailing)   an all-zero RGBA PNG written row by row with
//                                   zlib, so that a 5600x5600 one is ~100 KB and is
//                                   never held whole; `trailing` more zero bytes are
//                                   compressed into the same stream after the image
//   bigPng(size)                    zeroPng without trailing data
//   textPng(size, type, count, inflated)  zeroPng with `count` compressed text chunks
//                                   ("zTXt" or "iTXt") each inflating to `inflated`
//                                   bytes of text, after its header
//   icoLie(realSize)                an ICO whose directory says 1x1 but whose one
//                                   entry is a PNG of `realSize`

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QtEndian>

#include <cstdio>
#include <jpeglib.h>
#include <zlib.h>

namespace orvix::testsupport {

inline QImage photoLike(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(190, 150, 120));
    gradient.setColorAt(1, QColor(40, 60, 90));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    // Fine grain, as a photograph's sensor leaves: every block has AC detail.
    quint32 seed = 12345;
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int d = int(seed >> 28) - 8;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + d, 255), qBound(0, qGreen(p) + d, 255), qBound(0, qBlue(p) + d, 255));
        }
    }
    return image;
}

inline QByteArray jpegOf(const QImage &image, int quality = 85, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

inline QByteArray libjpegOf(const QImage &image, int restartRows, bool progressive, int lumaSampling = 2)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = JDIMENSION(rgb.width());
    info.image_height = JDIMENSION(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 75, TRUE);
    info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = lumaSampling;
    info.restart_in_rows = restartRows;
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char *>(out), qsizetype(outSize));
    free(out);
    return bytes;
}

inline QByteArray pngOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.write(image);
    return bytes;
}

inline int scanCount(const QByteArray &jpeg)
{
    // Entropy-coded data stuffs every 0xFF with 0x00, so FF DA is always a marker.
    return int(jpeg.count(QByteArrayView("\xFF\xDA", 2)));
}

// A plain progressive JPEG of one grey (so that its scans are a few bytes each).
inline QByteArray plainProgressiveJpeg(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(128, 120, 110));
    return jpegOf(image, 75, true);
}

inline QByteArray progressiveScanBomb(QSize size, int extraScans)
{
    const QByteArray jpeg = plainProgressiveJpeg(size);
    const qsizetype lastScan = jpeg.lastIndexOf(QByteArrayView("\xFF\xDA", 2));
    const qsizetype end = jpeg.size() - 2; // the end marker
    const QByteArray scan = jpeg.mid(lastScan, end - lastScan);
    QByteArray bomb = jpeg.left(end);
    bomb.reserve(end + scan.size() * extraScans + 2);
    for (int i = 0; i < extraScans; ++i)
        bomb += scan;
    return bomb + "\xFF\xD9";
}

// Exactly `scans` scans (at least those of the plain progressive JPEG).
inline QByteArray progressiveJpeg(QSize size, int scans)
{
    return progressiveScanBomb(size, qMax(0, scans - scanCount(plainProgressiveJpeg(size))));
}

inline QByteArray emptyScanBomb(QSize size, int emptyScans)
{
    const QByteArray jpeg = plainProgressiveJpeg(size);
    const qsizetype lastScan = jpeg.lastIndexOf(QByteArrayView("\xFF\xDA", 2));
    const int headerSize = 2 + qFromBigEndian<quint16>(jpeg.constData() + lastScan + 2);
    const QByteArray header = jpeg.mid(lastScan, headerSize);
    const qsizetype end = jpeg.size() - 2;
    QByteArray bomb = jpeg.left(end);
    bomb.reserve(end + header.size() * emptyScans + 2);
    for (int i = 0; i < emptyScans; ++i)
        bomb += header;
    return bomb + "\xFF\xD9";
}

namespace pngdetail {
inline void chunk(QByteArray &png, const char *type, const QByteArray &data)
{
    char length[4];
    qToBigEndian<quint32>(quint32(data.size()), length);
    png.append(length, 4);
    const QByteArray body = QByteArray(type, 4) + data;
    png += body;
    char crc[4];
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))), crc);
    png.append(crc, 4);
}

// The filtered bytes of an RGBA8 image: one filter byte per row of each pass.
inline qint64 rawSize(QSize size, bool interlaced)
{
    const auto rows = [](qint64 w, qint64 h) { return w > 0 && h > 0 ? h * (1 + 4 * w) : 0; };
    if (!interlaced)
        return rows(size.width(), size.height());
    static const int x0[] = {0, 4, 0, 2, 0, 1, 0}, dx[] = {8, 8, 4, 4, 2, 2, 1};
    static const int y0[] = {0, 0, 4, 0, 2, 0, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
    qint64 total = 0;
    for (int p = 0; p < 7; ++p)
        total += rows((size.width() - x0[p] + dx[p] - 1) / dx[p], (size.height() - y0[p] + dy[p] - 1) / dy[p]);
    return total;
}
} // namespace pngdetail

inline QByteArray zeroPng(QSize size, bool interlaced = false, qint64 trailingBytes = 0)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(size.width()), header.data());
    qToBigEndian<quint32>(quint32(size.height()), header.data() + 4);
    header[8] = 8; // bits per sample
    header[9] = 6; // RGBA
    header[12] = interlaced ? 1 : 0;
    pngdetail::chunk(png, "IHDR", header);

    z_stream stream{};
    deflateInit(&stream, 9);
    static const QByteArray zeros(1 << 16, '\0');
    QByteArray idat;
    char out[1 << 16];
    qint64 left = pngdetail::rawSize(size, interlaced) + trailingBytes;
    int flush = Z_NO_FLUSH;
    do {
        const qint64 now = qMin<qint64>(left, zeros.size());
        left -= now;
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
        stream.avail_in = uInt(now);
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out);
            stream.avail_out = sizeof out;
            deflate(&stream, flush);
            idat.append(out, int(sizeof out - stream.avail_out));
        } while (stream.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&stream);
    pngdetail::chunk(png, "IDAT", idat);
    pngdetail::chunk(png, "IEND", {});
    return png;
}

inline QByteArray textPng(QSize size, const char *type, int count, qint64 inflated)
{
    QByteArray text;
    z_stream stream{};
    deflateInit(&stream, 9);
    const QByteArray letters(1 << 16, 'a');
    char out[1 << 16];
    for (qint64 left = inflated; left >= 0;) {
        const qint64 now = qMin<qint64>(left, letters.size());
        left = left == now ? -1 : left - now;
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(letters.constData()));
        stream.avail_in = uInt(now);
        const int flush = left < 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out);
            stream.avail_out = sizeof out;
            deflate(&stream, flush);
            text.append(out, int(sizeof out - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    const bool international = qstrcmp(type, "iTXt") == 0;
    // keyword, NUL, then zTXt: method; iTXt: compressed, method, language NUL, translated keyword NUL
    const QByteArray head = international ? QByteArray("Comment\0\1\0en\0\0", 14) : QByteArray("Comment\0\0", 9);
    QByteArray chunks;
    for (int i = 0; i < count; ++i)
        pngdetail::chunk(chunks, type, head + text);
    QByteArray png = zeroPng(size);
    return png.insert(8 + 25, chunks); // after the signature and the header chunk
}

inline QByteArray bigPng(QSize size)
{
    return zeroPng(size);
}

inline QByteArray icoLie(QSize realSize)
{
    const QByteArray png = bigPng(realSize);
    QByteArray ico(6 + 16, '\0');
    qToLittleEndian<quint16>(1, ico.data() + 2); // an icon
    qToLittleEndian<quint16>(1, ico.data() + 4); // one entry
    ico[6] = 1;                                  // 1 wide
    ico[7] = 1;                                  // 1 high
    qToLittleEndian<quint16>(1, ico.data() + 10);
    qToLittleEndian<quint16>(32, ico.data() + 12);
    qToLittleEndian<quint32>(quint32(png.size()), ico.data() + 14);
    qToLittleEndian<quint32>(quint32(ico.size()), ico.data() + 18);
    return ico + png;
}

} // namespace orvix::testsupport

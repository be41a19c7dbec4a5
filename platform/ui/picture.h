#pragma once
// Pictures from outside (the document's photograph, the captchas), decoded
// within bounds on what they may cost: bytes, pixels, JPEG scans and the
// work they ask of the decoder.

#include <QImage>
#include <QString>

#include <functional>

class QImageReader;

namespace orvix::platform::ui {

struct PictureBounds {
    qint64 maxBytes = 0;  // encoded bytes, checked before anything is parsed
    qint64 maxPixels = 0; // of the decoded result, not only of what a header claims
    int maxSide = 0;      // > 0: decoded scaled down to fit this square
    bool allowPng = true; // JPEG always; PNG only where these pictures come as PNG
    int maxScans = 64;    // JPEG scans (SOS segments); more is refused before decoding
    static PictureBounds photograph(); // the document's photograph (JPEG only), shown at 1024
    static PictureBounds captcha();    // both captchas (JPEG or PNG): 256 KB, 1 Mpx
};

struct DecodedPicture {
    QImage image;     // null when refused
    QString refusal;  // why, for a log line (plain words, no picture bytes); empty when shown
};

// Any thread; touches no widget. Format decided from the leading bytes (JPEG
// SOI / PNG signature), the reader forced to that format: nothing else is
// decoded.
DecodedPicture decodePicture(const QByteArray &bytes, const PictureBounds &bounds);

// Decodes on a worker of the global pool and calls `done` on the main thread.
// A result that took longer than `deadlineMs` (from this call) is handed over
// as refused ("not ready within N ms"), image null. The caller guards its own
// liveness.
void decodePictureInBackground(QByteArray bytes, PictureBounds bounds, std::function<void(DecodedPicture)> done,
                               int deadlineMs = 2000);

namespace detail {
// Reads the picture (its scaled size already set) and refuses it when it
// comes out other than `expected`, the size its header gave after scaling, or
// beyond the bounds. Our walk of the header agrees with Qt's readers today;
// this holds if one ever does not.
DecodedPicture readChecked(QImageReader &reader, QSize expected, const PictureBounds &bounds);
} // namespace detail

} // namespace orvix::platform::ui

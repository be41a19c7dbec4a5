#pragma once
// Pictures from outside, decoded within bounds.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

namespace orvix::platform::ui {

struct PictureBounds {
    qint64 maxBytes = 0;
    qint64 maxPixels = 0;
    int maxSide = 0;
    bool allowPng = true;
    int maxScans = 64;
    static PictureBounds photograph();
    static PictureBounds captcha();
};

struct DecodedPicture {
    QImage image;
    QString refusal;
};

DecodedPicture decodePicture(const QByteArray &bytes, const PictureBounds &bounds);
void decodePictureInBackground(QByteArray bytes, PictureBounds bounds, std::function<void(DecodedPicture)> done,
                               int deadlineMs = 2000);

} // namespace orvix::platform::ui

#include "platform/ui/picture.h"

#include "platform/dispatch/dispatch.h"
#include "platform/ui/image.h"

namespace orvix::platform::ui {

PictureBounds PictureBounds::photograph() { return {4 * 1024 * 1024, 4096 * 4096, 1024, false, 64}; }
PictureBounds PictureBounds::captcha() { return {256 * 1024, 1024 * 1024, 0, true, 64}; }

DecodedPicture decodePicture(const QByteArray &bytes, const PictureBounds &bounds)
{
    DecodedPicture out;
    out.image = Image::fromData(bytes, bounds.maxPixels, bounds.maxSide);
    if (out.image.isNull())
        out.refusal = QStringLiteral("not a picture within its bounds");
    return out;
}

void decodePictureInBackground(QByteArray bytes, PictureBounds bounds, std::function<void(DecodedPicture)> done,
                               int)
{
    dispatch::asyncGlobal([bytes = std::move(bytes), bounds, done = std::move(done)]() mutable {
        DecodedPicture picture = decodePicture(bytes, bounds);
        dispatch::asyncMain([picture = std::move(picture), done = std::move(done)]() mutable { done(std::move(picture)); });
    });
}

} // namespace orvix::platform::ui

#include "platform/ui/image.h"

#include "platform/ui/mainthread.h"

#include <QFileInfo>
#include <QPainter>
#include <QPixmap>

namespace orvix::platform::ui {

QImage Image::named(const QString &name, const std::optional<Bundle> &bundle)
{
    if (name.isEmpty())
        return {};
    QString path;
    if (bundle)
        path = bundle->pathForResource(name);
    else if (!name.contains(QLatin1String("..")) && QFileInfo(QStringLiteral(":/") + name).isFile())
        path = QStringLiteral(":/") + name;
    if (path.isEmpty())
        return {};
    return QImage(path);
}

ImageView::ImageView(QWidget *parent) : QLabel(parent)
{
    assertMainThread("ImageView");
}

void ImageView::setImage(const QImage &image)
{
    assertMainThread("ImageView::setImage");
    m_image = image;
    updateGeometry();
    update();
}

void ImageView::setImagePath(const QString &path)
{
    m_imagePath = path;
    setImage(path.isEmpty() ? QImage() : QImage(path));
}

QSize ImageView::sizeHint() const
{
    return m_image.isNull() ? QLabel::sizeHint() : m_image.size().boundedTo(QSize(512, 512));
}

void ImageView::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (m_image.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect area = contentsRect();
    QSize size = m_image.size();
    size.scale(area.size(), Qt::KeepAspectRatio);
    const QRect target(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2,
                       size.width(), size.height());
    painter.drawImage(target, m_image);
}

Button::Button(QWidget *parent) : QPushButton(parent)
{
    assertMainThread("Button");
    setAutoDefault(false);
}

void Button::setImage(const QImage &image)
{
    assertMainThread("Button::setImage");
    m_image = image;
    if (image.isNull()) {
        setIcon(QIcon());
        return;
    }
    setIcon(QIcon(QPixmap::fromImage(image)));
    setIconSize(image.size().scaled(QSize(24, 24), Qt::KeepAspectRatio).boundedTo(image.size()));
}

void Button::setImagePath(const QString &path)
{
    m_imagePath = path;
    setImage(path.isEmpty() ? QImage() : QImage(path));
}

} // namespace orvix::platform::ui

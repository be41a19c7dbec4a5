#include "orvix_ios_native_sdk/core/DesignableViews.h"

#include "platform/dispatch/dispatch.h"
#include "platform/net/session.h"
#include "platform/ui/picture.h"
#include "platform/ui/mainthread.h"
#include "platform/ui/storyboard.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFile>
#include <QPainter>
#include <QUrl>

namespace orvix {

namespace ui = platform::ui;

namespace {
// UIKit's gray: white 0.5.
QColor gray()
{
    return QColor::fromRgbF(0.5f, 0.5f, 0.5f);
}
} // namespace

// ---- UIViewCustom ----

UIViewCustom::UIViewCustom(QWidget *parent)
    : QWidget(parent), m_borderColor(gray()), m_shadowColor(gray())
{
    ui::assertMainThread("UIViewCustom");
}

void UIViewCustom::setCornerRadius(qreal value)
{
    m_cornerRadius = value;
    applyBorder();
}

void UIViewCustom::setBorderWidth(qreal value)
{
    m_borderWidth = value;
    applyBorder();
}

void UIViewCustom::setShadowRadius(qreal value)
{
    m_shadowRadius = value;
    applyShadow();
}

void UIViewCustom::setBorderColor(const QColor &value)
{
    m_borderColor = value;
    applyBorder();
}

void UIViewCustom::setAddShadow(bool value)
{
    m_addShadow = value;
    applyShadow();
}

void UIViewCustom::setShadowOffset(const QSizeF &value)
{
    m_shadowOffset = value;
    applyShadow();
}

void UIViewCustom::setShadowOpacity(float value)
{
    m_shadowOpacity = value;
    applyShadow();
}

void UIViewCustom::setShadowColor(const QColor &value)
{
    m_shadowColor = value;
    applyShadow();
}

void UIViewCustom::setBackgroundColor(const QColor &value)
{
    ui::assertMainThread("UIViewCustom::setBackgroundColor");
    m_layer.backgroundColor = value;
    update();
}

void UIViewCustom::applyBorder()
{
    ui::assertMainThread("UIViewCustom::applyBorder");
    m_layer.cornerRadius = m_cornerRadius;
    m_layer.borderWidth = m_borderWidth;
    m_layer.borderColor = m_borderColor;
    ui::applyMask(this, m_layer);
    update();
}

void UIViewCustom::applyShadow()
{
    ui::assertMainThread("UIViewCustom::applyShadow");
    m_layer.masksToBounds = false;
    m_layer.shadowColor = m_shadowColor;
    m_layer.shadowOffset = m_shadowOffset;
    m_layer.shadowOpacity = m_shadowOpacity;
    m_layer.shadowRadius = m_shadowRadius;
    ui::applyMask(this, m_layer);
    ui::applyShadowEffect(this, m_layer);
    update();
}

void UIViewCustom::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    ui::paintLayer(painter, rect(), m_layer);
}

void UIViewCustom::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_layer.masksToBounds.value_or(false))
        ui::applyMask(this, m_layer);
}

// ---- UIStackViewCustom ----

UIStackViewCustom::UIStackViewCustom(QWidget *parent) : QWidget(parent)
{
    ui::assertMainThread("UIStackViewCustom");
}

void UIStackViewCustom::setCornerRadius(qreal value)
{
    ui::assertMainThread("UIStackViewCustom::setCornerRadius");
    m_cornerRadius = value;
    m_layer.cornerRadius = value;
    update();
}

QBoxLayout *UIStackViewCustom::stackLayout()
{
    if (auto *box = qobject_cast<QBoxLayout *>(layout()))
        return box;
    if (layout())
        return nullptr; // the scene gave a layout of another kind
    auto *box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    return box;
}

void UIStackViewCustom::addArrangedSubview(QWidget *view)
{
    ui::assertMainThread("UIStackViewCustom::addArrangedSubview");
    if (QBoxLayout *box = stackLayout(); box && view)
        box->addWidget(view);
}

void UIStackViewCustom::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    ui::paintLayer(painter, rect(), m_layer);
}

// ---- Gradient ----

Gradient::Gradient(QWidget *parent) : QWidget(parent), m_startColor(Qt::black), m_endColor(Qt::white)
{
    ui::assertMainThread("Gradient");
}

void Gradient::setStartColor(const QColor &value)
{
    m_startColor = value;
    updateColors();
}

void Gradient::setEndColor(const QColor &value)
{
    m_endColor = value;
    updateColors();
}

void Gradient::setStartLocation(double value)
{
    m_startLocation = value;
    updateLocations();
}

void Gradient::setEndLocation(double value)
{
    m_endLocation = value;
    updateLocations();
}

void Gradient::setHorizontalMode(bool value)
{
    m_horizontalMode = value;
    updatePoints();
}

void Gradient::setDiagonalMode(bool value)
{
    m_diagonalMode = value;
    updatePoints();
}

void Gradient::updatePoints()
{
    ui::assertMainThread("Gradient::updatePoints");
    if (m_horizontalMode) {
        m_layer.startPoint = m_diagonalMode ? QPointF(1, 0) : QPointF(0, 0.5);
        m_layer.endPoint = m_diagonalMode ? QPointF(0, 1) : QPointF(1, 0.5);
    } else {
        m_layer.startPoint = m_diagonalMode ? QPointF(0, 0) : QPointF(0.5, 0);
        m_layer.endPoint = m_diagonalMode ? QPointF(1, 1) : QPointF(0.5, 1);
    }
    update();
}

void Gradient::updateLocations()
{
    ui::assertMainThread("Gradient::updateLocations");
    m_layer.locations = QList<qreal>{m_startLocation, m_endLocation};
    update();
}

void Gradient::updateColors()
{
    ui::assertMainThread("Gradient::updateColors");
    m_layer.colors = QList<QColor>{m_startColor, m_endColor};
    update();
}

void Gradient::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        updatePoints();
        updateLocations();
        updateColors();
    }
}

void Gradient::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    ui::paintLayer(painter, rect(), m_layer);
}

// ---- imageFromUrl ----

QImage imageFromUrl(const QString &urlString)
{
    return imageFromUrl(urlString, {});
}

namespace {

// A picture a view loads by address: JPEG or PNG, as large as a screen shows.
platform::ui::PictureBounds linkedPicture()
{
    platform::ui::PictureBounds bounds;
    bounds.maxBytes = 4 * 1024 * 1024;
    bounds.maxPixels = 4096 * 4096;
    return bounds;
}

} // namespace

QImage imageFromUrl(const QString &urlString, std::function<void(const QImage &)> completion)
{
    const QUrl url(urlString, QUrl::StrictMode);
    // Decoded where the bytes arrive (a worker), within what a shown picture
    // may cost; the completion runs on the main thread.
    auto finish = [completion = std::move(completion)](const QByteArray &data) {
        const QImage image = data.isEmpty() ? QImage() : platform::ui::decodePicture(data, linkedPicture()).image;
        platform::dispatch::asyncMain([completion, image] {
            if (completion)
                completion(image);
        });
    };
    platform::dispatch::asyncGlobal([url, finish] {
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || url.isEmpty()) {
            finish({});
        } else if (url.isLocalFile() || scheme == QLatin1String("qrc")) {
            QFile file(url.isLocalFile() ? url.toLocalFile() : QStringLiteral(":") + url.path());
            finish(file.open(QIODevice::ReadOnly) ? file.read(linkedPicture().maxBytes + 1) : QByteArray());
        } else if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
            platform::net::URLRequest request;
            request.url = url;
            request.maximumBodySize = linkedPicture().maxBytes;
            platform::net::Session::shared().download(request, [finish](const platform::net::DownloadResponse &r) {
                QByteArray data;
                if (!r.fileURL.isEmpty()) {
                    QFile file(r.fileURL);
                    if (!r.error && file.open(QIODevice::ReadOnly))
                        data = file.readAll();
                    file.close();
                    QFile::remove(r.fileURL);
                }
                finish(data);
            });
        } else {
            finish({});
        }
    });
    return QImage();
}

void registerDesignableViews()
{
    ui::Storyboard::registerWidgetClass(QStringLiteral("UIViewCustom"), [](QWidget *p) { return new UIViewCustom(p); });
    ui::Storyboard::registerWidgetClass(QStringLiteral("UIStackViewCustom"),
                                        [](QWidget *p) { return new UIStackViewCustom(p); });
    ui::Storyboard::registerWidgetClass(QStringLiteral("Gradient"), [](QWidget *p) { return new Gradient(p); });
}

} // namespace orvix

#include "platform/ui/layer.h"

#include <QGraphicsDropShadowEffect>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>

namespace orvix::platform::ui {

namespace {

qreal radiusFor(const QRectF &bounds, const Layer &layer)
{
    const qreal r = qMax<qreal>(0, layer.cornerRadius.value_or(0));
    return qMin(r, qMin(bounds.width(), bounds.height()) / 2);
}

QPainterPath roundedPath(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    if (radius > 0)
        path.addRoundedRect(rect, radius, radius);
    else
        path.addRect(rect);
    return path;
}

} // namespace

void paintLayer(QPainter &painter, const QRectF &bounds, const Layer &layer)
{
    if (bounds.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = radiusFor(bounds, layer);
    const QPainterPath shape = roundedPath(bounds, radius);

    if (layer.backgroundColor && layer.backgroundColor->alpha() > 0)
        painter.fillPath(shape, *layer.backgroundColor);

    if (layer.colors && !layer.colors->isEmpty()) {
        const QPointF start = layer.startPoint.value_or(QPointF(0.5, 0));
        const QPointF end = layer.endPoint.value_or(QPointF(0.5, 1));
        QLinearGradient gradient(bounds.left() + start.x() * bounds.width(), bounds.top() + start.y() * bounds.height(),
                                 bounds.left() + end.x() * bounds.width(), bounds.top() + end.y() * bounds.height());
        const QList<QColor> &colors = *layer.colors;
        const bool useLocations = layer.locations && layer.locations->size() == colors.size();
        for (int i = 0; i < colors.size(); ++i) {
            qreal at = colors.size() == 1 ? 0 : qreal(i) / (colors.size() - 1);
            if (useLocations)
                at = qBound<qreal>(0, layer.locations->at(i), 1);
            gradient.setColorAt(at, colors.at(i));
        }
        painter.fillPath(shape, gradient);
    }

    const qreal borderWidth = layer.borderWidth.value_or(0);
    if (borderWidth > 0) {
        QPen pen(layer.borderColor.value_or(QColor(Qt::black)));
        pen.setWidthF(borderWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const qreal inset = qMin(borderWidth / 2, qMin(bounds.width(), bounds.height()) / 2);
        painter.drawPath(roundedPath(bounds.adjusted(inset, inset, -inset, -inset), qMax<qreal>(0, radius - inset)));
    }
    painter.restore();
}

void applyShadowEffect(QWidget *widget, const Layer &layer)
{
    if (!widget)
        return;
    const float opacity = qBound(0.0f, layer.shadowOpacity.value_or(0), 1.0f);
    auto *effect = qobject_cast<QGraphicsDropShadowEffect *>(widget->graphicsEffect());
    if (opacity <= 0) {
        if (effect)
            widget->setGraphicsEffect(nullptr);
        return;
    }
    if (!effect) {
        effect = new QGraphicsDropShadowEffect;
        widget->setGraphicsEffect(effect);
    }
    QColor color = layer.shadowColor.value_or(QColor(Qt::black));
    color.setAlphaF(color.alphaF() * opacity);
    effect->setColor(color);
    const QSizeF offset = layer.shadowOffset.value_or(QSizeF(0, -3));
    effect->setOffset(offset.width(), offset.height());
    effect->setBlurRadius(qMax<qreal>(0, layer.shadowRadius.value_or(3)) * 2);
}

void applyMask(QWidget *widget, const Layer &layer)
{
    if (!widget)
        return;
    const QRectF bounds = widget->rect();
    if (!layer.masksToBounds.value_or(false) || bounds.isEmpty()) {
        widget->clearMask();
        return;
    }
    const qreal radius = radiusFor(bounds, layer);
    widget->setMask(QRegion(roundedPath(bounds, radius).toFillPolygon().toPolygon()));
}

} // namespace orvix::platform::ui

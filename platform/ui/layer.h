#pragma once
// A view's layer values: what has been applied to it, each unset until then,
// and how they are drawn. Views paint their layer with paintLayer() and keep
// the shadow with applyShadowEffect().

#include <QColor>
#include <QList>
#include <QPointF>
#include <QSizeF>
#include <optional>

class QPainter;
class QRectF;
class QWidget;

namespace orvix::platform::ui {

struct Layer {
    std::optional<QColor> backgroundColor;
    std::optional<qreal> cornerRadius;
    std::optional<qreal> borderWidth;
    std::optional<QColor> borderColor;
    std::optional<bool> masksToBounds;
    std::optional<QColor> shadowColor;
    std::optional<QSizeF> shadowOffset;
    std::optional<float> shadowOpacity;
    std::optional<qreal> shadowRadius;
    // Gradient layers.
    std::optional<QList<QColor>> colors;
    std::optional<QList<qreal>> locations;
    std::optional<QPointF> startPoint; // unit coordinates, x then y
    std::optional<QPointF> endPoint;
};

// Background, gradient and border in `bounds`, with the corner radius.
void paintLayer(QPainter &painter, const QRectF &bounds, const Layer &layer);

// A drop shadow on the widget while the opacity is above zero; removed otherwise.
void applyShadowEffect(QWidget *widget, const Layer &layer);

// Clips the widget to its rounded bounds while masksToBounds is on.
void applyMask(QWidget *widget, const Layer &layer);

} // namespace orvix::platform::ui

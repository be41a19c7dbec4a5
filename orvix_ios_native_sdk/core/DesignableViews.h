#pragma once
// Views whose corners, border, shadow and gradient the scenes set by key.
// Each setter stores its value and applies it to the view's layer; nothing
// is applied before the first setter, so a fresh view has a bare layer.

#include "platform/ui/layer.h"

#include <QColor>
#include <QImage>
#include <QSizeF>
#include <QWidget>
#include <functional>

class QBoxLayout;

namespace orvix {

class UIViewCustom : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal cornerRadius READ cornerRadius WRITE setCornerRadius)
    Q_PROPERTY(qreal borderWidth READ borderWidth WRITE setBorderWidth)
    Q_PROPERTY(qreal shadowRadius READ shadowRadius WRITE setShadowRadius)
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)
    Q_PROPERTY(bool addShadow READ addShadow WRITE setAddShadow)
    Q_PROPERTY(QSizeF shadowOffset READ shadowOffset WRITE setShadowOffset)
    Q_PROPERTY(float shadowOpacity READ shadowOpacity WRITE setShadowOpacity)
    Q_PROPERTY(QColor shadowColor READ shadowColor WRITE setShadowColor)
    Q_PROPERTY(QColor backgroundColor READ backgroundColor WRITE setBackgroundColor)
public:
    explicit UIViewCustom(QWidget *parent = nullptr);

    qreal cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(qreal value);
    qreal borderWidth() const { return m_borderWidth; }
    void setBorderWidth(qreal value);
    qreal shadowRadius() const { return m_shadowRadius; }
    void setShadowRadius(qreal value);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &value);
    bool addShadow() const { return m_addShadow; }
    void setAddShadow(bool value);
    QSizeF shadowOffset() const { return m_shadowOffset; }
    void setShadowOffset(const QSizeF &value);
    float shadowOpacity() const { return m_shadowOpacity; }
    void setShadowOpacity(float value);
    QColor shadowColor() const { return m_shadowColor; }
    void setShadowColor(const QColor &value);

    // The view's own fill (transparent until set), drawn inside the corners.
    QColor backgroundColor() const { return m_layer.backgroundColor.value_or(QColor(Qt::transparent)); }
    void setBackgroundColor(const QColor &value);

    const platform::ui::Layer &layer() const { return m_layer; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyBorder();
    void applyShadow();

    qreal m_cornerRadius = 0;
    qreal m_borderWidth = 0;
    qreal m_shadowRadius = 0.5;
    QColor m_borderColor;
    bool m_addShadow = false;
    QSizeF m_shadowOffset = QSizeF(0, 0);
    float m_shadowOpacity = 0;
    QColor m_shadowColor;
    platform::ui::Layer m_layer;
};

// A stack of views (a box layout, vertical unless the scene gives another).
class UIStackViewCustom : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qreal cornerRadius READ cornerRadius WRITE setCornerRadius)
public:
    explicit UIStackViewCustom(QWidget *parent = nullptr);

    qreal cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(qreal value);

    // The box layout, created vertical on first use when the scene set none.
    QBoxLayout *stackLayout();
    void addArrangedSubview(QWidget *view);

    const platform::ui::Layer &layer() const { return m_layer; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_cornerRadius = 0;
    platform::ui::Layer m_layer;
};

// A two-colour linear gradient.
class Gradient : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor startColor READ startColor WRITE setStartColor)
    Q_PROPERTY(QColor endColor READ endColor WRITE setEndColor)
    Q_PROPERTY(double startLocation READ startLocation WRITE setStartLocation)
    Q_PROPERTY(double endLocation READ endLocation WRITE setEndLocation)
    Q_PROPERTY(bool horizontalMode READ horizontalMode WRITE setHorizontalMode)
    Q_PROPERTY(bool diagonalMode READ diagonalMode WRITE setDiagonalMode)
public:
    explicit Gradient(QWidget *parent = nullptr);

    QColor startColor() const { return m_startColor; }
    void setStartColor(const QColor &value);
    QColor endColor() const { return m_endColor; }
    void setEndColor(const QColor &value);
    double startLocation() const { return m_startLocation; }
    void setStartLocation(double value);
    double endLocation() const { return m_endLocation; }
    void setEndLocation(double value);
    bool horizontalMode() const { return m_horizontalMode; }
    void setHorizontalMode(bool value);
    bool diagonalMode() const { return m_diagonalMode; }
    void setDiagonalMode(bool value);

    const platform::ui::Layer &layer() const { return m_layer; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updatePoints();
    void updateLocations();
    void updateColors();

    QColor m_startColor;
    QColor m_endColor;
    double m_startLocation = 0.05;
    double m_endLocation = 0.95;
    bool m_horizontalMode = false;
    bool m_diagonalMode = false;
    platform::ui::Layer m_layer;
};

// Returns an empty image at once and loads the URL (file: or http(s):) in
// the background; a bad URL only gives empty data. The result is decoded on
// the main thread; this overload drops it.
QImage imageFromUrl(const QString &urlString);
// The same, handing the decoded image (empty when the load or decoding
// failed) to `completion` on the main thread.
QImage imageFromUrl(const QString &urlString, std::function<void(const QImage &)> completion);

// Makes the three classes known to the storyboard's scenes by class name.
void registerDesignableViews();

} // namespace orvix

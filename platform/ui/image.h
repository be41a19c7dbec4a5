#pragma once
// Images by name, an image view and a button that shows an image.

#include "platform/ui/storyboard.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <optional>

namespace orvix::platform::ui {

class Image {
public:
    // The image `name` of the bundle (of the application's resources root
    // without a bundle); a null image when there is none.
    static QImage named(const QString &name, const std::optional<Bundle> &bundle = std::nullopt);
};

// Shows its image scaled to fit, keeping the aspect ratio.
class ImageView : public QLabel {
    Q_OBJECT
    // A resource or file path, for scenes.
    Q_PROPERTY(QString imagePath READ imagePath WRITE setImagePath)
public:
    explicit ImageView(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    QImage image() const { return m_image; }

    QString imagePath() const { return m_imagePath; }
    void setImagePath(const QString &path);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
    QString m_imagePath;
};

// A push button whose image (for the normal state) can be read back.
// Never a dialog's default button.
class Button : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString imagePath READ imagePath WRITE setImagePath)
public:
    explicit Button(QWidget *parent = nullptr);

    // A null image removes it.
    void setImage(const QImage &image);
    QImage image() const { return m_image; }

    QString imagePath() const { return m_imagePath; }
    void setImagePath(const QString &path);

private:
    QImage m_image;
    QString m_imagePath;
};

} // namespace orvix::platform::ui

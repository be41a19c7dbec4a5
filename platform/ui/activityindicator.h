#pragma once
// A spinning activity indicator. Stopped and hidden until started when
// hidesWhenStopped is on (the default); keeps its place in a layout while hidden.

#include <QBasicTimer>
#include <QColor>
#include <QWidget>

namespace orvix::platform::ui {

class ActivityIndicatorView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool animating READ isAnimating WRITE setAnimating)
    Q_PROPERTY(bool hidesWhenStopped READ hidesWhenStopped WRITE setHidesWhenStopped)
    Q_PROPERTY(QColor color READ color WRITE setColor)
public:
    explicit ActivityIndicatorView(QWidget *parent = nullptr);

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return m_timer.isActive(); }
    void setAnimating(bool animating) { animating ? startAnimating() : stopAnimating(); }

    bool hidesWhenStopped() const { return m_hidesWhenStopped; }
    void setHidesWhenStopped(bool hides);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

    QSize sizeHint() const override { return {20, 20}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    QBasicTimer m_timer;
    int m_step = 0;
    bool m_hidesWhenStopped = true;
    QColor m_color = QColor(128, 128, 128);
};

} // namespace orvix::platform::ui

#include "platform/ui/activityindicator.h"

#include "platform/ui/mainthread.h"

#include <QPainter>
#include <QTimerEvent>
#include <QtMath>

namespace orvix::platform::ui {

namespace {
constexpr int kSpokes = 12;
constexpr int kStepMs = 80;
} // namespace

ActivityIndicatorView::ActivityIndicatorView(QWidget *parent) : QWidget(parent)
{
    assertMainThread("ActivityIndicatorView");
    QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setVisible(false);
}

void ActivityIndicatorView::startAnimating()
{
    assertMainThread("ActivityIndicatorView::startAnimating");
    if (!m_timer.isActive())
        m_timer.start(kStepMs, this);
    setVisible(true);
    update();
}

void ActivityIndicatorView::stopAnimating()
{
    assertMainThread("ActivityIndicatorView::stopAnimating");
    m_timer.stop();
    if (m_hidesWhenStopped)
        setVisible(false);
    update();
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides)
{
    assertMainThread("ActivityIndicatorView::setHidesWhenStopped");
    m_hidesWhenStopped = hides;
    if (!isAnimating())
        setVisible(!hides);
}

void ActivityIndicatorView::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void ActivityIndicatorView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    m_step = (m_step + 1) % kSpokes;
    update();
}

void ActivityIndicatorView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal outer = side / 2.0;
    const qreal inner = outer * 0.45;
    QPen pen(m_color);
    pen.setWidthF(qMax(1.5, side / 10.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The leading spoke is the darkest; a stopped indicator is evenly faint.
        const int age = (m_step - i + kSpokes) % kSpokes;
        QColor c = m_color;
        c.setAlphaF(isAnimating() ? 1.0 - 0.8 * age / kSpokes : 0.35);
        pen.setColor(c);
        painter.setPen(pen);
        const qreal angle = 2 * M_PI * i / kSpokes;
        painter.drawLine(QPointF(qSin(angle) * inner, -qCos(angle) * inner),
                         QPointF(qSin(angle) * (outer - pen.widthF() / 2), -qCos(angle) * (outer - pen.widthF() / 2)));
    }
}

} // namespace orvix::platform::ui

#include "platform/ui/toast.h"

#include "platform/ui/mainthread.h"
#include "platform/ui/viewcontroller.h"

#include <QApplication>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>
#include <QWindow>

namespace orvix::platform::ui {

namespace {

class ToastView : public QWidget {
public:
    ToastView(QWidget *window, const QString &message, int durationMs, ToastPosition position,
              const ToastStyle &style)
        : QWidget(window), m_message(message), m_style(style), m_position(position), m_durationMs(durationMs)
    {
        setAttribute(Qt::WA_DeleteOnClose);
        setAttribute(Qt::WA_TranslucentBackground);
        setObjectName(QStringLiteral("orvix-toast"));
        QFont f = font();
        f.setPointSize(style.messageFontPointSize);
        setFont(f);
        window->installEventFilter(this);
        place();
        m_timer.start(qMax(0, durationMs), this);
        m_started.start();
        show();
        raise();
    }

    QString message() const { return m_message; }
    const ToastStyle &style() const { return m_style; }
    int durationMs() const { return m_durationMs; }
    int remainingMs() const { return qMax<int>(0, m_durationMs - int(m_started.elapsed())); }

    void dismiss()
    {
        m_timer.stop();
        hide();
        deleteLater();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parentWidget() && event->type() == QEvent::Resize)
            place();
        return false;
    }

    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() == m_timer.timerId())
            dismiss();
        else
            QWidget::timerEvent(event);
    }

    void mousePressEvent(QMouseEvent *) override { dismiss(); }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        const qreal radius = qMin(m_style.cornerRadius, qMin(width(), height()) / 2.0);
        path.addRoundedRect(rect(), radius, radius);
        painter.fillPath(path, m_style.backgroundColor);
        painter.setPen(m_style.messageColor);
        painter.drawText(textRect(), int(m_style.messageAlignment | Qt::AlignVCenter) | Qt::TextWordWrap, m_message);
    }

private:
    QRect textRect() const
    {
        return rect().adjusted(m_style.horizontalPadding, m_style.verticalPadding, -m_style.horizontalPadding,
                               -m_style.verticalPadding);
    }

    void place()
    {
        QWidget *window = parentWidget();
        if (!window)
            return;
        const int maxWidth = qMax(1, int(window->width() * m_style.maxWidthPercentage) - 2 * m_style.horizontalPadding);
        const QRect text = QFontMetrics(font()).boundingRect(QRect(0, 0, maxWidth, 10000),
                                                            Qt::TextWordWrap | int(m_style.messageAlignment), m_message);
        const QSize size(text.width() + 2 * m_style.horizontalPadding, text.height() + 2 * m_style.verticalPadding);
        const int x = (window->width() - size.width()) / 2;
        int y = 0;
        switch (m_position) {
        case ToastPosition::top:
            y = m_style.verticalPadding;
            break;
        case ToastPosition::center:
            y = (window->height() - size.height()) / 2;
            break;
        case ToastPosition::bottom:
            y = window->height() - size.height() - m_style.verticalPadding;
            break;
        }
        setGeometry(QRect(QPoint(x, y), size));
        raise();
    }

    QString m_message;
    ToastStyle m_style;
    ToastPosition m_position;
    int m_durationMs;
    QBasicTimer m_timer;
    QElapsedTimer m_started;
};

QList<QPointer<ToastView>> &toasts()
{
    static QList<QPointer<ToastView>> list;
    list.removeIf([](const QPointer<ToastView> &t) { return t.isNull() || t->isHidden(); });
    return list;
}

QString elided(const QString &message)
{
    if (message.size() <= kMaxToastCharacters)
        return message;
    qsizetype end = kMaxToastCharacters;
    if (message.at(end - 1).isHighSurrogate())
        --end; // never half a character
    return message.left(end) + QChar(0x2026);
}

bool isPlainWindow(QWidget *w)
{
    return w && w->isVisible() && w->windowType() == Qt::Window;
}

} // namespace

ToastManager &ToastManager::shared()
{
    static ToastManager manager;
    return manager;
}

QWidget *firstWindow()
{
    assertMainThread("firstWindow");
    // Native windows in the order they were created.
    const QWidgetList widgets = QApplication::topLevelWidgets();
    QWidget *dialog = nullptr;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (QWindow *window : windows) {
        for (QWidget *w : widgets) {
            if (w->windowHandle() != window || !w->isVisible() || w->objectName() == QLatin1String("orvix-toast"))
                continue;
            if (isPlainWindow(w))
                return w;
            if (!dialog && (w->windowType() == Qt::Dialog || w->windowType() == Qt::Sheet))
                dialog = w;
        }
    }
    return dialog;
}

QWidget *toastWindow()
{
    assertMainThread("toastWindow");
    if (QWidget *window = ViewController::topmostPresentedWindow())
        return window;
    return firstWindow();
}

void makeToast(QWidget *window, const QString &message, int durationMs, ToastPosition position,
               const ToastStyle &style)
{
    assertMainThread("makeToast");
    if (!window)
        return;
    toasts().append(new ToastView(window, elided(message), durationMs, position, style));
}

void hideAllToasts(QWidget *window)
{
    assertMainThread("hideAllToasts");
    const QList<QPointer<ToastView>> all = toasts();
    for (const QPointer<ToastView> &t : all) {
        if (t && t->parentWidget() == window)
            t->dismiss();
    }
    toasts();
}

QList<ShownToast> shownToasts()
{
    assertMainThread("shownToasts");
    QList<ShownToast> result;
    for (const QPointer<ToastView> &t : toasts()) {
        ShownToast s;
        s.message = t->message();
        s.backgroundColor = t->style().backgroundColor;
        s.messageColor = t->style().messageColor;
        s.horizontalPadding = t->style().horizontalPadding;
        s.verticalPadding = t->style().verticalPadding;
        s.cornerRadius = t->style().cornerRadius;
        s.messageAlignment = t->style().messageAlignment;
        s.durationMs = t->durationMs();
        s.remainingMs = t->remainingMs();
        s.geometry = t->geometry();
        s.window = t->parentWidget();
        result.append(s);
    }
    return result;
}

} // namespace orvix::platform::ui

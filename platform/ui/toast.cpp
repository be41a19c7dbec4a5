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
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QTimerEvent>
#include <QWindow>

namespace orvix::platform::ui {

namespace {

QStringList fittedLines(const QString &message, const QFont &font, int width);

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
    QStringList lines() const { return m_lines; }
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
        // Line by line as place() laid them out, so what is drawn is what was measured.
        const QRect text = textRect();
        const int lineHeight = QFontMetrics(font()).lineSpacing();
        const int horizontal = int(m_style.messageAlignment & Qt::AlignHorizontal_Mask);
        for (qsizetype i = 0; i < m_lines.size(); ++i) {
            const QRect line(text.left(), text.top() + int(i) * lineHeight, text.width(), lineHeight);
            painter.drawText(line, horizontal | Qt::AlignVCenter | Qt::TextSingleLine, m_lines.at(i));
        }
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
        const QFontMetrics metrics(font());
        m_lines = fittedLines(m_message, font(), maxWidth);
        int textWidth = 0;
        for (const QString &line : std::as_const(m_lines))
            textWidth = qMax(textWidth, metrics.horizontalAdvance(line));
        const QSize size(qMin(textWidth, maxWidth) + 2 * m_style.horizontalPadding,
                         int(m_lines.size()) * metrics.lineSpacing() + 2 * m_style.verticalPadding);
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
    QStringList m_lines;
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

constexpr QChar kEllipsis(0x2026);

// Only this many UTF-16 units of a message are looked at: one character of a
// million combining marks must cost no more than a short message.
constexpr qsizetype kMaxToastUnits = qsizetype(kMaxToastCharacters) * 8;

QString elided(const QString &message)
{
    const bool whole = message.size() <= kMaxToastUnits;
    const QString head = whole ? message : message.left(kMaxToastUnits);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, head);
    int characters = 0;
    qsizetype keep = 0; // where the text before "…" ends
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
        if (!whole && at == head.size())
            break; // the cut head need not end a character
        if (++characters > kMaxToastCharacters)
            break;
        if (characters < kMaxToastCharacters)
            keep = at;
    }
    if (whole && characters <= kMaxToastCharacters)
        return message; // nothing cut, no "…"
    return message.left(keep) + kEllipsis;
}

// The message as lines of at most `width` pixels, broken between words where
// it can and anywhere else where it must; at most kMaxToastLines of them.
QStringList fittedLines(const QString &message, const QFont &font, int width)
{
    // Blank lines around the text would only push it out of the toast.
    QString text = message.trimmed();
    text.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    text.replace(u'\r', QChar::LineSeparator);
    text.replace(u'\n', QChar::LineSeparator);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    bool more = false;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        if (lines.size() == kMaxToastLines) {
            more = true;
            break;
        }
        line.setLineWidth(width);
        QString part = text.mid(line.textStart(), line.textLength());
        while (part.endsWith(QChar::LineSeparator) || part.endsWith(u' '))
            part.chop(1);
        lines.append(part);
    }
    layout.endLayout();
    if (lines.isEmpty())
        lines.append(QString());
    if (more) {
        // Whole characters come off the last line until "…" fits after them.
        QString &last = lines.last();
        const QFontMetrics metrics(font);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, last);
        finder.toEnd();
        qsizetype end = last.size();
        while (end > 0 && metrics.horizontalAdvance(last.left(end) + kEllipsis) > width)
            end = qMax<qsizetype>(0, finder.toPreviousBoundary());
        last = last.left(end) + kEllipsis;
    }
    return lines;
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
        s.lines = t->lines();
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

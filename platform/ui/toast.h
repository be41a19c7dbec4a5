#pragma once
// Toasts: a short message in a rounded box over a window, gone after a while
// or when tapped.

#include <QColor>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace orvix::platform::ui {

enum class ToastPosition { top, center, bottom };

struct ToastStyle {
    QColor backgroundColor = QColor(0, 0, 0, 204);
    QColor messageColor = QColor(Qt::white);
    int horizontalPadding = 10;
    int verticalPadding = 10;
    qreal cornerRadius = 10;
    Qt::Alignment messageAlignment = Qt::AlignLeft;
    int messageFontPointSize = 12;
    qreal maxWidthPercentage = 0.8; // of the window
};

// The shared defaults: 3 seconds, at the bottom. Tests may shorten the duration.
struct ToastManager {
    static ToastManager &shared();
    int duration = 3000; // milliseconds
    ToastPosition position = ToastPosition::bottom;
};

// The application's first window: the first visible top-level window that is
// not a dialog or popup (a dialog when there is nothing else); nullptr when none.
QWidget *firstWindow();

// The window a toast goes over: the presented screen in front when one is on
// screen (ViewController::topmostPresentedWindow), otherwise firstWindow().
QWidget *toastWindow();

// A toast shows at most kMaxToastCharacters characters as a person sees them
// (grapheme clusters): a longer message shows its first 299 and "…".
inline constexpr int kMaxToastCharacters = 300;
// And at most this many lines as laid out over its window; the last line of a
// message that goes on ends in "…".
inline constexpr int kMaxToastLines = 4;

void makeToast(QWidget *window, const QString &message, int durationMs, ToastPosition position,
               const ToastStyle &style);
// Removes every toast of the window at once.
void hideAllToasts(QWidget *window);

// What is on screen now, oldest first.
struct ShownToast {
    QString message;     // at most kMaxToastCharacters characters
    QStringList lines;   // as on screen, at most kMaxToastLines
    QColor backgroundColor;
    QColor messageColor;
    int horizontalPadding = 0;
    int verticalPadding = 0;
    qreal cornerRadius = 0;
    Qt::Alignment messageAlignment;
    int durationMs = 0;
    int remainingMs = 0;
    QRect geometry; // in the window
    QPointer<QWidget> window;
};
QList<ShownToast> shownToasts();

} // namespace orvix::platform::ui

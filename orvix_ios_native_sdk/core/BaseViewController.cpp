#include "orvix_ios_native_sdk/core/BaseViewController.h"

#include "orvix_ios_native_sdk/core/DesignableViews.h"
#include "platform/log/log.h"
#include "platform/ui/toast.h"

#include <QDir>
#include <QFile>
#include <QTextBoundaryFinder>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#endif

// The kit's bundle (scenes and images) is compiled into the library; a static
// library needs its resources registered by hand. Every screen derives from
// BaseViewController, so this file is linked wherever a screen is.
static void registerKitResources()
{
    Q_INIT_RESOURCE(orvix_resources);
}

namespace {
[[maybe_unused]] const bool kitRegistered = [] {
    registerKitResources();
    orvix::registerDesignableViews();
    return true;
}();
} // namespace

namespace orvix {

BaseViewController::BaseViewController() = default;

BaseViewController::~BaseViewController() = default;

void BaseViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
}

void BaseViewController::showToast(const QString &message, const QColor &backgroundColor)
{
    namespace ui = platform::ui;
    // One toast at a time, wherever the last one went.
    for (const ui::ShownToast &shown : ui::shownToasts()) {
        if (shown.window)
            ui::hideAllToasts(shown.window);
    }
    ui::ToastStyle style;
    style.backgroundColor = backgroundColor;
    style.messageColor = QColor(Qt::black);
    style.horizontalPadding = 40;
    style.verticalPadding = 10;
    style.cornerRadius = 22;
    style.messageAlignment = Qt::AlignHCenter;
    // Over the screen in front of the user.
    if (QWidget *window = ui::toastWindow())
        ui::makeToast(window, message, ui::ToastManager::shared().duration, ui::ToastManager::shared().position, style);
}

QList<QUrl> BaseViewController::listOfflineXMLFiles(const QUrl &directory)
{
    const QString path = directory.isLocalFile() ? directory.toLocalFile() : directory.path();
    QStringList names;
#ifdef Q_OS_UNIX
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir) {
        const int error = errno;
        platform::log::line(QStringLiteral("Error while enumerating files ") + path + QStringLiteral(": ")
                            + qt_error_string(error));
        return {};
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names.append(name);
    }
    ::closedir(dir);
#else
    const QDir dir(path);
    if (path.isEmpty() || !dir.exists() || !dir.isReadable()) {
        platform::log::line(QStringLiteral("Error while enumerating files ") + path
                            + QStringLiteral(": The folder could not be read."));
        return {};
    }
    names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
#endif
    QList<QUrl> found;
    const QDir folder(path);
    for (const QString &name : std::as_const(names)) {
        const qsizetype dot = name.lastIndexOf(u'.');
        const QString extension = dot > 0 ? name.mid(dot + 1) : QString();
        if (name.contains(QLatin1String("offline")) && extension == QLatin1String("xml"))
            found.append(QUrl::fromLocalFile(folder.filePath(name)));
    }
    return found;
}

namespace {

// What the grouping drops: blanks typed or pasted by the person.
bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

} // namespace

QString BaseViewController::formatAadhaarNumber(const QString &text)
{
    int cursor = 0;
    return formatAadhaarNumber(text, cursor);
}

QString BaseViewController::formatAadhaarNumber(const QString &text, int &cursor)
{
    QString compact;
    compact.reserve(text.size());
    int keptBeforeCursor = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isBlank(text[i]))
            continue;
        compact.append(text[i]);
        if (i < cursor)
            ++keptBeforeCursor;
    }
    // Group user-perceived characters, not code units.
    QString result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, compact);
    qsizetype start = 0;
    int count = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        result.append(QStringView(compact).mid(start, end - start));
        start = end;
        ++count;
        if (count % 4 == 0 && end < compact.size())
            result.append(u' ');
    }

    // Every blank in the result is one of ours: the cursor goes after the
    // same kept characters, and stays behind a blank it stood behind (where
    // a deleted digit was).
    int position = 0;
    for (int seen = 0; seen < keptBeforeCursor; ++position) {
        if (result[position] != u' ')
            ++seen;
    }
    const bool behindBlank = cursor > 0 && cursor <= text.size() && isBlank(text[cursor - 1]);
    if (behindBlank && keptBeforeCursor > 0 && position < result.size() && result[position] == u' ')
        ++position;
    cursor = position;
    return result;
}

} // namespace orvix

#include "platform/ui/viewcontroller.h"

#include "platform/dispatch/dispatch.h"
#include "platform/log/log.h"
#include "platform/ui/mainthread.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <memory>
#include <vector>

namespace orvix::platform::ui {

namespace {

// Keeps a full-screen view the size of the window it covers.
class CoverSizer : public QObject {
public:
    CoverSizer(QWidget *cover, QWidget *window) : QObject(cover), m_cover(cover), m_window(window)
    {
        window->installEventFilter(this);
    }
    ~CoverSizer() override
    {
        if (m_window)
            m_window->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Resize && m_cover)
            m_cover->setGeometry(m_window->rect());
        return false;
    }

private:
    QPointer<QWidget> m_cover;
    QPointer<QWidget> m_window;
};

// A presented screen in a window of its own is left by its own means (a back
// button), as a full-screen screen is: the window's close button does nothing.
class WindowGuard : public QObject {
public:
    explicit WindowGuard(QWidget *window) : QObject(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parent() && event->type() == QEvent::Close && event->spontaneous()) {
            event->ignore();
            return true;
        }
        return false;
    }
};

// Presented screens in the order they went on screen.
std::vector<std::weak_ptr<ViewController>> &screensOnScreen()
{
    static std::vector<std::weak_ptr<ViewController>> screens;
    return screens;
}

void forgetScreen(const ViewController *controller)
{
    auto &screens = screensOnScreen();
    std::erase_if(screens, [controller](const std::weak_ptr<ViewController> &weak) {
        const std::shared_ptr<ViewController> screen = weak.lock();
        return !screen || screen.get() == controller;
    });
}

QSize ownWindowSize(QWidget *content, QWidget *host)
{
    if (host && host->width() > 0 && host->height() > 0 && host->isVisible())
        return host->size();
    return content->sizeHint().expandedTo(QSize(420, 720));
}

} // namespace

// The dialog of a sheet. A close by the user (close button, Escape) goes
// through reject(); a dismissal by code only hides it.
class SheetDialog : public QDialog {
public:
    SheetDialog(QWidget *parent, std::weak_ptr<ViewController> presented)
        : QDialog(parent), m_presented(std::move(presented))
    {
        setWindowModality(Qt::WindowModal);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        // A web page takes every key it is given: Escape is seen here first.
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && isVisible()) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const auto *widget = qobject_cast<QWidget *>(watched);
            if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && widget
                && widget->window() == this) {
                reject();
                return true;
            }
        }
        return QDialog::eventFilter(watched, event);
    }

    void reject() override
    {
        if (auto presented = m_presented.lock())
            presented->userClosedSheet();
        else
            QDialog::reject();
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // A sheet has no default button: Enter belongs to the screen.
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->ignore();
            return;
        }
        QDialog::keyPressEvent(event);
    }

private:
    std::weak_ptr<ViewController> m_presented;
};

std::shared_ptr<ViewController> PresentationController::presentingViewController() const
{
    return m_presented ? m_presented->presentingViewController() : nullptr;
}

ViewController::ViewController() = default;

ViewController::~ViewController()
{
    // Whatever this controller still presents goes off screen with it.
    if (m_presented) {
        std::shared_ptr<ViewController> presented = std::move(m_presented);
        auto tearDown = [presented] {
            presented->m_presenting.reset();
            presented->takeOffScreen();
        };
        if (dispatch::isMainThread())
            tearDown();
        else
            dispatch::asyncMain(std::move(tearDown));
    }
    if (m_sheet || m_screenHelper) {
        // Only reached when a presenting controller let go of us early.
        QPointer<QWidget> sheet = m_sheet;
        QPointer<QObject> helper = m_screenHelper;
        auto cleanUp = [sheet, helper] {
            delete helper.data();
            if (sheet)
                sheet->deleteLater();
        };
        if (dispatch::isMainThread())
            cleanUp();
        else
            dispatch::asyncMain(std::move(cleanUp));
    }
    // The view is deleted from the event loop: the controller may go away
    // inside one of its own widgets' signals.
    if (m_ownsView && m_view) {
        QPointer<QWidget> view = m_view;
        // A view still embedded somewhere belongs to its parent.
        auto release = [view] {
            if (view && !view->parentWidget())
                view->deleteLater();
        };
        if (dispatch::isMainThread())
            release();
        else
            dispatch::asyncMain(std::move(release));
    }
}

QWidget *ViewController::view()
{
    assertMainThread("ViewController::view");
    if (!m_viewLoaded) {
        m_viewLoaded = true;
        if (!m_view)
            loadView();
        if (!m_view)
            setView(new QWidget);
        viewDidLoad();
    } else if (!m_view) {
        // Deleted behind our back (with a window it was part of).
        if (m_ownsView)
            log::line(QStringLiteral("ViewController: the view was deleted outside its controller"));
        setView(new QWidget);
    }
    return m_view.data();
}

void ViewController::loadView()
{
    setView(new QWidget);
}

void ViewController::setView(QWidget *view)
{
    m_view = view;
    m_ownsView = true;
}

std::shared_ptr<ViewController> ViewController::wrapping(QWidget *window)
{
    auto controller = std::make_shared<ViewController>();
    if (window) {
        controller->m_view = window;
        controller->m_ownsView = false;
        controller->m_viewLoaded = true;
    }
    return controller;
}

PresentationController *ViewController::presentationController()
{
    if (modalPresentationStyle == ModalPresentationStyle::fullScreen)
        return nullptr;
    if (!m_presentationController)
        m_presentationController.reset(new PresentationController(this));
    return m_presentationController.get();
}

void ViewController::present(std::shared_ptr<ViewController> viewController, bool animated,
                             std::function<void()> completion)
{
    assertMainThread("ViewController::present");
    std::shared_ptr<ViewController> self = weak_from_this().lock();
    if (!viewController) {
        log::line(QStringLiteral("ViewController: nothing to present"));
        return;
    }
    if (!self) {
        log::line(QStringLiteral("ViewController: a controller must be shared to present"));
        return;
    }
    if (viewController == self || m_presented || viewController->m_presenting.lock()
        || viewController->m_shownAs != Shown::none) {
        log::line(QStringLiteral("ViewController: attempt to present a controller that is already presented, "
                                 "or over one that is already presenting"));
        return;
    }

    m_presented = viewController;
    viewController->m_presenting = self;
    viewController->view();
    viewController->viewWillAppear(animated);
    // viewWillAppear may have dismissed it again.
    if (m_presented != viewController)
        return;
    showPresented(viewController);

    dispatch::asyncMain([viewController, animated, completion = std::move(completion)] {
        if (viewController->m_shownAs != Shown::none)
            viewController->viewDidAppear(animated);
        if (completion)
            completion();
    });
}

void ViewController::showPresented(const std::shared_ptr<ViewController> &presented)
{
    forgetScreen(presented.get());
    screensOnScreen().push_back(presented);
    QWidget *content = presented->view();
    QWidget *host = view();
    QWidget *hostWindow = host ? host->window() : nullptr;
    const bool hostShown = hostWindow && hostWindow->isVisible();

    if (presented->modalPresentationStyle == ModalPresentationStyle::fullScreen) {
        if (hostShown) {
            content->setParent(hostWindow);
            content->setAutoFillBackground(true);
            content->setGeometry(hostWindow->rect());
            presented->m_screenHelper = new CoverSizer(content, hostWindow);
            presented->m_shownAs = Shown::cover;
            content->show();
            content->raise();
            // Keys no longer go to the covered content.
            if (QWidget *focus = QApplication::focusWidget(); focus && hostWindow->isAncestorOf(focus)
                && !content->isAncestorOf(focus))
                focus->clearFocus();
        } else {
            content->setParent(nullptr, Qt::Window);
            content->resize(ownWindowSize(content, nullptr));
            presented->m_screenHelper = new WindowGuard(content);
            presented->m_shownAs = Shown::window;
            content->show();
        }
        return;
    }

    auto *sheet = new SheetDialog(hostShown ? hostWindow : nullptr, presented);
    sheet->setAttribute(Qt::WA_DeleteOnClose, false);
    sheet->layout()->addWidget(content);
    sheet->setWindowTitle(content->windowTitle());
    content->show();
    if (hostShown)
        sheet->resize(QSize(hostWindow->width() * 9 / 10, hostWindow->height() * 9 / 10)
                          .expandedTo(content->minimumSizeHint()));
    else
        sheet->resize(ownWindowSize(content, nullptr));
    presented->m_sheet = sheet;
    presented->m_shownAs = Shown::sheet;
    sheet->show();
}

QWidget *ViewController::topmostPresentedWindow()
{
    assertMainThread("ViewController::topmostPresentedWindow");
    const auto &screens = screensOnScreen();
    for (auto it = screens.rbegin(); it != screens.rend(); ++it) {
        const std::shared_ptr<ViewController> screen = it->lock();
        if (!screen || screen->m_shownAs == Shown::none || !screen->m_view)
            continue;
        QWidget *window = screen->m_view->window();
        if (window && window->isVisible())
            return window;
    }
    return nullptr;
}

void ViewController::dismiss(bool animated, std::function<void()> completion)
{
    assertMainThread("ViewController::dismiss");
    if (m_presented) {
        dismissPresented(animated, std::move(completion), false);
        return;
    }
    if (std::shared_ptr<ViewController> presenting = m_presenting.lock())
        presenting->dismissPresented(animated, std::move(completion), false);
}

void ViewController::dismissPresented(bool animated, std::function<void()> completion, bool byUser)
{
    std::shared_ptr<ViewController> presented = std::move(m_presented);
    m_presented.reset();
    if (!presented)
        return;

    // Anything presented above goes first, top down, without completions.
    std::vector<std::shared_ptr<ViewController>> above;
    for (auto next = presented->m_presented; next; next = next->m_presented)
        above.push_back(next);
    for (auto it = above.rbegin(); it != above.rend(); ++it) {
        (*it)->viewWillDisappear(false);
        (*it)->takeOffScreen();
    }
    for (auto &controller : above) {
        if (auto presenting = controller->m_presenting.lock())
            presenting->m_presented.reset();
        controller->m_presenting.reset();
    }

    presented->viewWillDisappear(animated);
    presented->takeOffScreen();
    presented->m_presenting.reset();

    // The closure holds the dismissed controllers until the dismissal has
    // completed; they are released when it is done, unless held elsewhere.
    dispatch::asyncMain([presented, above = std::move(above), animated, completion = std::move(completion), byUser] {
        for (auto it = above.rbegin(); it != above.rend(); ++it)
            (*it)->viewDidDisappear(false);
        presented->viewDidDisappear(animated);
        if (completion)
            completion();
        if (byUser) {
            if (PresentationController *pc = presented->m_presentationController.get()) {
                if (std::shared_ptr<AdaptivePresentationControllerDelegate> delegate = pc->delegate)
                    delegate->presentationControllerDidDismiss(pc);
            }
        }
    });
}

void ViewController::userClosedSheet()
{
    std::shared_ptr<ViewController> presenting = m_presenting.lock();
    if (!presenting || presenting->m_presented.get() != this)
        return;
    presenting->dismissPresented(true, {}, true);
}

void ViewController::takeOffScreen()
{
    const Shown shownAs = m_shownAs;
    m_shownAs = Shown::none;
    forgetScreen(this);
    delete m_screenHelper.data();
    m_screenHelper = nullptr;
    switch (shownAs) {
    case Shown::none:
        break;
    case Shown::window:
        if (m_view)
            m_view->hide();
        break;
    case Shown::cover:
    case Shown::sheet:
        if (m_view) {
            m_view->hide();
            m_view->setParent(nullptr);
        }
        break;
    }
    if (m_sheet) {
        m_sheet->hide();
        m_sheet->deleteLater();
    }
    m_sheet = nullptr;
}

} // namespace orvix::platform::ui

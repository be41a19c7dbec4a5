#pragma once
// The view-controller layer: a controller owns one view (a QWidget) that it
// creates on first access. Controllers are shared objects: create them with
// std::make_shared (or a class's own factory) so closures can keep them alive.
//
// A controller presents another one modally: full screen (the presented view
// covers the presenting window) or as a sheet (a window-modal dialog over it).
// The presenting controller holds the presented one until the dismissal has
// completed. All of it runs on the main thread only.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

namespace orvix::platform::ui {

class ViewController;
class PresentationController;
class Storyboard;

enum class ModalPresentationStyle {
    automatic,  // the default: a sheet
    pageSheet,  // a sheet as well
    fullScreen, // covers the presenting window
};

// Told when the user (not the code) closes a sheet.
class AdaptivePresentationControllerDelegate {
public:
    virtual ~AdaptivePresentationControllerDelegate() = default;
    // The user closed the sheet; it is already off screen.
    virtual void presentationControllerDidDismiss(PresentationController *presentationController) = 0;
};

// Belongs to a controller shown as a sheet; lives as long as that controller.
class PresentationController {
public:
    std::shared_ptr<AdaptivePresentationControllerDelegate> delegate;

    ViewController *presentedViewController() const { return m_presented; }
    std::shared_ptr<ViewController> presentingViewController() const;

private:
    friend class ViewController;
    explicit PresentationController(ViewController *presented) : m_presented(presented) {}
    ViewController *m_presented;
};

class ViewController : public std::enable_shared_from_this<ViewController> {
public:
    ViewController();
    virtual ~ViewController();
    ViewController(const ViewController &) = delete;
    ViewController &operator=(const ViewController &) = delete;

    // Loads the view on first access (loadView, then viewDidLoad once).
    QWidget *view();
    bool isViewLoaded() const { return m_viewLoaded && !m_view.isNull(); }

    // A host wraps its existing window: the controller then presents over it.
    // With no window (or a hidden one) presented screens get windows of their own.
    static std::shared_ptr<ViewController> wrapping(QWidget *window);

    // Lifecycle, called by the layer.
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool animated) { Q_UNUSED(animated); }
    virtual void viewDidAppear(bool animated) { Q_UNUSED(animated); }
    virtual void viewWillDisappear(bool animated) { Q_UNUSED(animated); }
    virtual void viewDidDisappear(bool animated) { Q_UNUSED(animated); }

    // How this controller is shown when presented; set it before presenting.
    ModalPresentationStyle modalPresentationStyle = ModalPresentationStyle::automatic;

    // Presents over this controller's window. The completion runs from the
    // event loop once the view is on screen. Refused (logged, no completion)
    // when this controller already presents one or `viewController` is
    // already presented.
    void present(std::shared_ptr<ViewController> viewController, bool animated,
                 std::function<void()> completion = {});
    // On a presenting controller: dismisses what it presented (and anything
    // presented above that). On a presented one: dismisses itself. The
    // completion runs from the event loop after the view is off screen.
    void dismiss(bool animated, std::function<void()> completion = {});

    std::shared_ptr<ViewController> presentingViewController() const { return m_presenting.lock(); }
    std::shared_ptr<ViewController> presentedViewController() const { return m_presented; }

    // The sheet's presentation controller (created on first use); nullptr
    // while the style is full screen.
    PresentationController *presentationController();

    // True while this controller's view is on screen as a presented one.
    bool isPresented() const { return m_shownAs != Shown::none; }

    // The window of the presented screen the user sees in front: the one
    // presented last of those still on screen (a sheet's dialog, the window a
    // full-screen screen covers, or its own window); nullptr when none is.
    static QWidget *topmostPresentedWindow();

protected:
    // Creates the view; the default is a plain widget.
    virtual void loadView();
    void setView(QWidget *view);

private:
    friend class Storyboard;
    friend class SheetDialog;
    enum class Shown { none, cover, window, sheet };

    void showPresented(const std::shared_ptr<ViewController> &presented);
    void dismissPresented(bool animated, std::function<void()> completion, bool byUser);
    void userClosedSheet();
    void takeOffScreen();

    QPointer<QWidget> m_view;
    bool m_ownsView = true;
    bool m_viewLoaded = false;

    std::shared_ptr<ViewController> m_presented;
    std::weak_ptr<ViewController> m_presenting;
    std::unique_ptr<PresentationController> m_presentationController;
    Shown m_shownAs = Shown::none;
    QPointer<QWidget> m_sheet;     // the dialog while shown as a sheet
    QPointer<QObject> m_screenHelper; // sizes a cover with its window, or guards an own window
};

} // namespace orvix::platform::ui

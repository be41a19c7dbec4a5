#pragma once
// The view-controller layer: a controller owns one view (a QWidget) that it
// creates on first access. Controllers are shared objects: create them with
// std::make_shared (or a class's own factory) so closures can keep them alive.

#include <QPointer>
#include <QWidget>
#include <memory>

namespace orvix::platform::ui {

class ViewController : public std::enable_shared_from_this<ViewController> {
public:
    ViewController();
    virtual ~ViewController();
    ViewController(const ViewController &) = delete;
    ViewController &operator=(const ViewController &) = delete;

    // Loads the view on first access (loadView, then viewDidLoad).
    QWidget *view();
    bool isViewLoaded() const { return !m_view.isNull(); }

    // A host wraps its existing window: the controller then presents over it.
    static std::shared_ptr<ViewController> wrapping(QWidget *window);

protected:
    // Creates the view; the default is a plain widget.
    virtual void loadView();
    virtual void viewDidLoad() {}
    void setView(QWidget *view);

private:
    QPointer<QWidget> m_view;
    bool m_ownsView = true;
};

} // namespace orvix::platform::ui

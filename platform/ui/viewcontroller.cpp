#include "platform/ui/viewcontroller.h"

namespace orvix::platform::ui {

ViewController::ViewController() = default;

ViewController::~ViewController()
{
    if (m_ownsView && m_view)
        delete m_view.data();
}

QWidget *ViewController::view()
{
    if (!m_view) {
        loadView();
        if (!m_view)
            setView(new QWidget);
        viewDidLoad();
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
}

std::shared_ptr<ViewController> ViewController::wrapping(QWidget *window)
{
    auto controller = std::make_shared<ViewController>();
    controller->m_view = window;
    controller->m_ownsView = false;
    return controller;
}

} // namespace orvix::platform::ui

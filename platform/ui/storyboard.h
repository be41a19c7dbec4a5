#pragma once
// Bundles and storyboards. A bundle is a folder of compiled-in resources
// named by its identifier (":/<identifier>/..."); a storyboard is a folder of
// Qt Designer scenes in it (":/<identifier>/<name>/<scene identifier>.ui").
//
// A scene's form class (the <class> of the .ui) names the controller class
// that is created for it. Controller classes register themselves, their
// outlets and their actions by name:
//
//     Storyboard::registerClass<TermsConditionVC>("TermsConditionVC")
//         .outlet("contentView", &TermsConditionVC::contentView)
//         .action("acceptAct:", &TermsConditionVC::acceptAct);
//
// An outlet is a QPointer member, set to the scene's object of that
// objectName. A control names its action in a dynamic string property:
// "action" on a button (clicked), "editingChangedAction" on a TextField
// (editingChanged). A TextField whose "delegate" property is "owner" gets
// the controller as its delegate (the controller must be a TextFieldDelegate).
// Designable properties are set on the widgets by key (Q_PROPERTY) by the
// scene itself. A scene's labels show plain text unless the scene sets their
// textFormat.

#include "platform/ui/viewcontroller.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

class QObject;
class QWidget;

namespace orvix::platform::ui {

class Bundle {
public:
    // The bundle with that identifier; absent when no such bundle is compiled in.
    static std::optional<Bundle> identifier(const QString &bundleIdentifier);

    QString bundleIdentifier() const { return m_identifier; }
    // ":/<identifier>"
    QString resourcePath() const;
    // The resource path of `name` inside the bundle, or an empty text when absent.
    QString pathForResource(const QString &name) const;

private:
    explicit Bundle(QString identifier) : m_identifier(std::move(identifier)) {}
    QString m_identifier;
};

namespace detail {
using OutletSetter = std::function<bool(ViewController &, QObject *)>;
using ActionMethod = std::function<void(ViewController &, QObject *sender)>;
void registerControllerClass(const QString &className, std::function<std::shared_ptr<ViewController>()> create);
void registerOutlet(const QString &className, const QString &name, OutletSetter setter);
void registerAction(const QString &className, const QString &selector, ActionMethod method);
} // namespace detail

template <class T>
class ClassRegistration {
public:
    explicit ClassRegistration(QString className) : m_className(std::move(className)) {}

    // `member` may belong to T or to one of its bases.
    template <class C, class W>
    ClassRegistration &outlet(const QString &name, QPointer<W> C::*member)
    {
        static_assert(std::is_base_of_v<C, T>, "the outlet must be a member of the class or a base");
        detail::registerOutlet(m_className, name, [member](ViewController &controller, QObject *object) {
            auto *owner = dynamic_cast<T *>(&controller);
            auto *typed = qobject_cast<W *>(object);
            if (!owner || !typed)
                return false;
            static_cast<C &>(*owner).*member = typed;
            return true;
        });
        return *this;
    }

    // The method gets the control that triggered it.
    template <class C>
    ClassRegistration &action(const QString &selector, void (C::*method)(QObject *sender))
    {
        static_assert(std::is_base_of_v<C, T>, "the action must be a method of the class or a base");
        detail::registerAction(m_className, selector, [method](ViewController &controller, QObject *sender) {
            if (auto *owner = dynamic_cast<T *>(&controller))
                (static_cast<C &>(*owner).*method)(sender);
        });
        return *this;
    }

private:
    QString m_className;
};

class Storyboard {
public:
    // A storyboard named `name` in the bundle; invalid (every scene missing)
    // when the bundle is absent or has no such storyboard.
    Storyboard(const QString &name, const std::optional<Bundle> &bundle);

    bool isValid() const { return !m_path.isEmpty(); }
    QString name() const { return m_name; }
    QStringList sceneIdentifiers() const;

    // Creates the scene's controller with its view, outlets and actions
    // connected; viewDidLoad follows at the first access of the view.
    // nullptr (and a log line) when the scene, its class or its file is bad.
    std::shared_ptr<ViewController> instantiateViewController(const QString &identifier) const;

    template <class T>
    std::shared_ptr<T> instantiate(const QString &identifier) const
    {
        std::shared_ptr<ViewController> controller = instantiateViewController(identifier);
        auto typed = std::dynamic_pointer_cast<T>(controller);
        if (controller && !typed)
            logWrongClass(identifier);
        return typed;
    }

    // Registers a controller class created for scenes whose form class is `className`.
    template <class T>
    static ClassRegistration<T> registerClass(const QString &className)
    {
        static_assert(std::is_base_of_v<ViewController, T>, "a scene's class must be a ViewController");
        detail::registerControllerClass(className, [] { return std::static_pointer_cast<ViewController>(std::make_shared<T>()); });
        return ClassRegistration<T>(className);
    }

    // Registers a widget class that scenes create by its class name.
    using WidgetFactory = std::function<QWidget *(QWidget *parent)>;
    static void registerWidgetClass(const QString &className, WidgetFactory factory);

private:
    void logWrongClass(const QString &identifier) const;
    QString m_name;
    QString m_path; // resource folder of the storyboard; empty when invalid
};

} // namespace orvix::platform::ui

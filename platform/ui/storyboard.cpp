#include "platform/ui/storyboard.h"

#include "platform/log/log.h"
#include "platform/ui/activityindicator.h"
#include "platform/ui/image.h"
#include "platform/ui/mainthread.h"
#include "platform/ui/textfield.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMutex>
#include <QRegularExpression>
#include <QUiLoader>
#include <QWidget>
#include <QXmlStreamReader>

namespace orvix::platform::ui {

namespace {

struct ControllerClass {
    std::function<std::shared_ptr<ViewController>()> create;
    QHash<QString, detail::OutletSetter> outlets;
    QHash<QString, detail::ActionMethod> actions;
};

struct Registry {
    QMutex mutex;
    QHash<QString, ControllerClass> controllers;
    QHash<QString, Storyboard::WidgetFactory> widgets;
};

Registry &registry()
{
    static Registry r;
    return r;
}

// Our own widget classes, known to every scene.
void registerPlatformWidgets()
{
    static const bool done = [] {
        Storyboard::registerWidgetClass(QStringLiteral("TextField"), [](QWidget *p) { return new TextField(p); });
        Storyboard::registerWidgetClass(QStringLiteral("ActivityIndicatorView"),
                                        [](QWidget *p) { return new ActivityIndicatorView(p); });
        Storyboard::registerWidgetClass(QStringLiteral("ImageView"), [](QWidget *p) { return new ImageView(p); });
        Storyboard::registerWidgetClass(QStringLiteral("Button"), [](QWidget *p) { return new Button(p); });
        return true;
    }();
    Q_UNUSED(done);
}

class SceneLoader : public QUiLoader {
public:
    explicit SceneLoader(QObject *parent) : QUiLoader(parent) {}

    QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override
    {
        Storyboard::WidgetFactory factory;
        {
            QMutexLocker lock(&registry().mutex);
            factory = registry().widgets.value(className);
        }
        if (factory) {
            QWidget *widget = factory(parent);
            if (widget)
                widget->setObjectName(name);
            return widget;
        }
        return QUiLoader::createWidget(className, parent, name);
    }
};

// Scenes use only our classes and Qt's own. QUiLoader loads every Designer
// plugin on the library paths when it is created (a web engine among them),
// so the one loader is created with none in sight.
SceneLoader &sceneLoader()
{
    static QPointer<SceneLoader> loader;
    if (!loader) {
        const QStringList paths = QCoreApplication::libraryPaths();
        QCoreApplication::setLibraryPaths({});
        loader = new SceneLoader(QCoreApplication::instance());
        QCoreApplication::setLibraryPaths(paths);
    }
    return *loader;
}

// The form class named in the scene file (<ui><class>...</class>).
QString formClassName(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("ui"))
        return {};
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("class"))
            return reader.readElementText().trimmed();
        reader.skipCurrentElement();
    }
    return {};
}

bool isPlainName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    return plain.match(name).hasMatch() && !name.startsWith(u'.');
}

} // namespace

// ---- Bundle ----

std::optional<Bundle> Bundle::identifier(const QString &bundleIdentifier)
{
    if (!isPlainName(bundleIdentifier))
        return std::nullopt;
    if (!QFileInfo(QStringLiteral(":/") + bundleIdentifier).isDir())
        return std::nullopt;
    return Bundle(bundleIdentifier);
}

QString Bundle::resourcePath() const
{
    return QStringLiteral(":/") + m_identifier;
}

QString Bundle::pathForResource(const QString &name) const
{
    if (name.isEmpty() || name.contains(QLatin1String("..")))
        return {};
    const QString path = resourcePath() + u'/' + name;
    return QFileInfo(path).isFile() ? path : QString();
}

// ---- registration ----

namespace detail {

void registerControllerClass(const QString &className, std::function<std::shared_ptr<ViewController>()> create)
{
    QMutexLocker lock(&registry().mutex);
    registry().controllers[className].create = std::move(create);
}

void registerOutlet(const QString &className, const QString &name, OutletSetter setter)
{
    QMutexLocker lock(&registry().mutex);
    registry().controllers[className].outlets.insert(name, std::move(setter));
}

void registerAction(const QString &className, const QString &selector, ActionMethod method)
{
    QMutexLocker lock(&registry().mutex);
    registry().controllers[className].actions.insert(selector, std::move(method));
}

} // namespace detail

void Storyboard::registerWidgetClass(const QString &className, WidgetFactory factory)
{
    QMutexLocker lock(&registry().mutex);
    registry().widgets.insert(className, std::move(factory));
}

// ---- Storyboard ----

Storyboard::Storyboard(const QString &name, const std::optional<Bundle> &bundle) : m_name(name)
{
    if (!bundle || !isPlainName(name))
        return;
    const QString path = bundle->resourcePath() + u'/' + name;
    if (QFileInfo(path).isDir())
        m_path = path;
}

QStringList Storyboard::sceneIdentifiers() const
{
    if (!isValid())
        return {};
    QStringList ids;
    const QStringList files = QDir(m_path).entryList({QStringLiteral("*.ui")}, QDir::Files, QDir::Name);
    for (const QString &file : files)
        ids.append(file.chopped(3));
    return ids;
}

void Storyboard::logWrongClass(const QString &identifier) const
{
    log::line(QStringLiteral("Storyboard \"%1\": scene \"%2\" is not of the requested class").arg(m_name, identifier));
}

std::shared_ptr<ViewController> Storyboard::instantiateViewController(const QString &identifier) const
{
    assertMainThread("Storyboard::instantiateViewController");
    registerPlatformWidgets();
    if (!isValid()) {
        log::line(QStringLiteral("Storyboard \"%1\" could not be found").arg(m_name));
        return nullptr;
    }
    QFile file(m_path + u'/' + identifier + QStringLiteral(".ui"));
    if (!isPlainName(identifier) || !file.open(QIODevice::ReadOnly)) {
        log::line(QStringLiteral("Storyboard \"%1\" has no scene \"%2\"").arg(m_name, identifier));
        return nullptr;
    }
    QByteArray xml = file.readAll();
    const QString className = formClassName(xml);
    ControllerClass cls;
    {
        QMutexLocker lock(&registry().mutex);
        cls = registry().controllers.value(className);
    }
    if (className.isEmpty() || !cls.create) {
        log::line(QStringLiteral("Storyboard \"%1\": unknown class \"%2\" of scene \"%3\"")
                      .arg(m_name, className, identifier));
        return nullptr;
    }

    SceneLoader &loader = sceneLoader();
    QBuffer buffer(&xml);
    buffer.open(QIODevice::ReadOnly);
    QWidget *root = loader.load(&buffer, nullptr);
    if (!root) {
        log::line(QStringLiteral("Storyboard \"%1\": scene \"%2\" could not be loaded: %3")
                      .arg(m_name, identifier, loader.errorString()));
        return nullptr;
    }
    std::shared_ptr<ViewController> controller = cls.create();
    if (!controller) {
        delete root;
        return nullptr;
    }
    controller->setView(root);

    // Labels show what they are given as it is: the text may come from a
    // server or a document, and rich text would render its markup and load
    // the files it names. A scene that wants rich text says so.
    QList<QLabel *> labels = root->findChildren<QLabel *>();
    if (auto *label = qobject_cast<QLabel *>(root))
        labels.prepend(label);
    for (QLabel *label : std::as_const(labels)) {
        if (label->textFormat() == Qt::AutoText)
            label->setTextFormat(Qt::PlainText);
    }

    // Outlets, by objectName.
    for (auto it = cls.outlets.cbegin(); it != cls.outlets.cend(); ++it) {
        QObject *object = root->objectName() == it.key() ? root : root->findChild<QObject *>(it.key());
        if (!object)
            log::line(QStringLiteral("Storyboard \"%1\": outlet \"%2\" of %3 has nothing in the scene")
                          .arg(m_name, it.key(), className));
        else if (!it.value()(*controller, object))
            log::line(QStringLiteral("Storyboard \"%1\": outlet \"%2\" of %3 has the wrong type")
                          .arg(m_name, it.key(), className));
    }

    // Actions and delegates, as the controls declare them.
    const std::weak_ptr<ViewController> weakController = controller;
    const auto slotFor = [&](QObject *control, const QString &selector) -> std::function<void()> {
        const detail::ActionMethod method = cls.actions.value(selector);
        if (!method) {
            log::line(QStringLiteral("Storyboard \"%1\": action \"%2\" is not a method of %3")
                          .arg(m_name, selector, className));
            return {};
        }
        return [weakController, method, sender = QPointer<QObject>(control)] {
            // Held for the call: an action may dismiss its own screen.
            if (std::shared_ptr<ViewController> target = weakController.lock())
                method(*target, sender.data());
        };
    };
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *widget : widgets) {
        const QString action = widget->property("action").toString();
        if (!action.isEmpty()) {
            if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
                if (std::function<void()> slot = slotFor(button, action))
                    QObject::connect(button, &QAbstractButton::clicked, button, slot);
            } else
                log::line(QStringLiteral("Storyboard \"%1\": \"%2\" cannot send an action").arg(m_name, widget->objectName()));
        }
        auto *field = qobject_cast<TextField *>(widget);
        const QString editingChanged = widget->property("editingChangedAction").toString();
        if (field && !editingChanged.isEmpty()) {
            if (std::function<void()> slot = slotFor(field, editingChanged))
                QObject::connect(field, &TextField::editingChanged, field, slot);
        }
        if (field && widget->property("delegate").toString() == QLatin1String("owner")) {
            if (auto delegate = std::dynamic_pointer_cast<TextFieldDelegate>(controller))
                field->setDelegate(delegate);
            else
                log::line(QStringLiteral("Storyboard \"%1\": %2 is no text field delegate").arg(m_name, className));
        }
    }
    return controller;
}

} // namespace orvix::platform::ui

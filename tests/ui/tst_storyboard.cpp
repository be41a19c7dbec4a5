// Bundles, scenes, outlets and actions, the kit's terms scene and images.

#include "logcapture.h"
#include "orvix_ios_native_sdk/core/BaseViewController.h"
#include "orvix_ios_native_sdk/core/DesignableViews.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "orvix_ios_native_sdk/flows/TermsConditionVC.h"
#include "platform/ui/activityindicator.h"
#include "platform/ui/image.h"
#include "platform/ui/storyboard.h"
#include "platform/ui/textfield.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace orvix;
using namespace orvix::platform::ui;

namespace {

const QString kKitBundle = QStringLiteral("com.kalmar.orvix-ios-native-sdk");

// Wired like an Aadhaar screen: a number field that groups its digits.
class WiredVC : public BaseViewController, public TextFieldDelegate {
public:
    QPointer<UIViewCustom> panel;
    QPointer<TextField> numberTF;
    QPointer<ActivityIndicatorView> spinner;
    QPointer<UIStackViewCustom> stack;
    QPointer<QLabel> infoLbl;
    QPointer<Gradient> gradient;
    QPointer<QLabel> ghost;
    QPointer<QLabel> goBtnAsLabel;
    int goTaps = 0;
    QObject *lastSender = nullptr;
    bool loaded = false;

    void viewDidLoad() override { loaded = true; }
    void goAct(QObject *sender)
    {
        ++goTaps;
        lastSender = sender;
    }
    void didChangeText(QObject *sender)
    {
        auto *field = qobject_cast<TextField *>(sender);
        field->setText(formatAadhaarNumber(field->text()));
    }
    bool shouldChangeCharactersIn(TextField *, TextRange range, const QString &replacement) override
    {
        return numberTF->text().size() + replacement.size() - range.length < 15;
    }
};

[[maybe_unused]] const bool wiredRegistered = [] {
    Storyboard::registerClass<WiredVC>("WiredVC")
        .outlet("panel", &WiredVC::panel)
        .outlet("numberTF", &WiredVC::numberTF)
        .outlet("spinner", &WiredVC::spinner)
        .outlet("stack", &WiredVC::stack)
        .outlet("infoLbl", &WiredVC::infoLbl)
        .outlet("gradient", &WiredVC::gradient)
        .outlet("ghost", &WiredVC::ghost)
        .outlet("goBtn", &WiredVC::goBtnAsLabel)
        .action("goAct:", &WiredVC::goAct)
        .action("didChangeText:", &WiredVC::didChangeText);
    return true;
}();

// A scene that is one label.
class LabelRootVC : public ViewController {};
[[maybe_unused]] const bool labelRootRegistered = [] {
    Storyboard::registerClass<LabelRootVC>("LabelRootVC");
    return true;
}();

Storyboard testStoryboard()
{
    return Storyboard("Tests", Bundle::identifier("com.example.ui-tests"));
}

} // namespace

class TestStoryboard : public QObject {
    Q_OBJECT
private slots:
    void bundlesAndStoryboards();
    void outletsActionsAndDelegateAreConnected();
    void labelsShowMarkupAsText_data();
    void labelsShowMarkupAsText();
    void badScenesGiveNothing();
    void termsSceneShowsItsText();
    void acceptDismissesTheTermsScreen();
    void bundleImages();
};

void TestStoryboard::bundlesAndStoryboards()
{
    const auto kit = Bundle::identifier(kKitBundle);
    QVERIFY(kit.has_value());
    QCOMPARE(kit->bundleIdentifier(), kKitBundle);
    QVERIFY(!Bundle::identifier("com.example.absent").has_value());
    QVERIFY(!Bundle::identifier("../com.kalmar.orvix-ios-native-sdk").has_value());
    QVERIFY(!Bundle::identifier("").has_value());

    const Storyboard orvix("Orvix", kit);
    QVERIFY(orvix.isValid());
    QVERIFY(orvix.sceneIdentifiers().contains("TermsConditionVC"));
    QVERIFY(!Storyboard("Missing", kit).isValid());
    QVERIFY(!Storyboard("Orvix", std::nullopt).isValid());
}

void TestStoryboard::outletsActionsAndDelegateAreConnected()
{
    LogCapture log;
    auto vc = testStoryboard().instantiate<WiredVC>("Wired");
    QVERIFY(vc);
    QVERIFY(!vc->loaded); // viewDidLoad waits for the first access of the view
    QVERIFY(vc->panel && vc->numberTF && vc->spinner && vc->stack && vc->infoLbl && vc->gradient);
    QVERIFY(vc->view()->isAncestorOf(vc->numberTF));
    QVERIFY(vc->loaded);
    QVERIFY(log.contains("outlet \"ghost\" of WiredVC has nothing in the scene"));
    QVERIFY(log.contains("outlet \"goBtn\" of WiredVC has the wrong type"));
    QVERIFY(vc->goBtnAsLabel.isNull());
    QVERIFY(log.contains("action \"missingAct:\" is not a method of WiredVC"));

    // Properties set by key in the scene.
    QCOMPARE(vc->panel->layer().cornerRadius.value_or(-1), 12.0);
    QCOMPARE(vc->panel->layer().borderColor.value_or(QColor()), QColor(255, 0, 0));
    QCOMPARE(vc->panel->shadowOffset(), QSizeF(0, 2));
    QCOMPARE(vc->stack->layer().cornerRadius.value_or(-1), 6.0);
    QVERIFY(vc->stack->stackLayout() && vc->stack->stackLayout()->direction() == QBoxLayout::LeftToRight);
    QCOMPARE(vc->gradient->layer().endPoint.value_or(QPointF()), QPointF(1, 1));
    QVERIFY(vc->spinner->isAnimating());

    auto *go = vc->view()->findChild<QPushButton *>("goBtn");
    QTest::mouseClick(go, Qt::LeftButton);
    QCOMPARE(vc->goTaps, 1);
    QCOMPARE(vc->lastSender, go);

    // The delegate limits the field and the editing-changed action groups it.
    QTest::keyClicks(vc->numberTF, "9876543210987");
    QCOMPARE(vc->numberTF->text(), QString("9876 5432 1098"));

    // The actions hold the controller only weakly.
    std::weak_ptr<WiredVC> weak = vc;
    QPointer<QWidget> view = vc->view();
    vc.reset();
    QVERIFY(weak.expired());
    QTRY_VERIFY(view.isNull());
}

// Text from a server or a document shows as it is: its markup is seen, not
// rendered, unless the scene asks for rich text.
void TestStoryboard::labelsShowMarkupAsText_data()
{
    QTest::addColumn<QString>("scene");
    QTest::addColumn<QString>("label"); // empty: the scene's root
    QTest::addColumn<bool>("rich");
    QTest::newRow("label in a scene") << "Wired" << "infoLbl" << false;
    QTest::newRow("label whose scene asks for rich text") << "Wired" << "noteLbl" << true;
    QTest::newRow("scene that is one label") << "LabelRoot" << "" << false;
}

void TestStoryboard::labelsShowMarkupAsText()
{
    QFETCH(QString, scene);
    QFETCH(QString, label);
    QFETCH(bool, rich);
    const std::shared_ptr<ViewController> vc = testStoryboard().instantiateViewController(scene);
    QVERIFY(vc);
    QLabel *shown = label.isEmpty() ? qobject_cast<QLabel *>(vc->view()) : vc->view()->findChild<QLabel *>(label);
    QVERIFY(shown);
    const QString text = "<b>bold</b><i>it</i>";
    shown->setText(text);
    // As wide as the markup written out, or as the words it renders.
    const int markupWidth = QFontMetrics(shown->font()).horizontalAdvance(text);
    QCOMPARE(shown->sizeHint().width() >= markupWidth, !rich);
}

void TestStoryboard::badScenesGiveNothing()
{
    LogCapture log;
    const Storyboard tests = testStoryboard();
    QVERIFY(!tests.instantiateViewController("Nope"));
    QVERIFY(log.contains("Storyboard \"Tests\" has no scene \"Nope\""));
    QVERIFY(!tests.instantiateViewController("../Tests/Wired"));
    QVERIFY(!tests.instantiateViewController("Unregistered"));
    QVERIFY(log.contains("unknown class \"NobodyVC\""));
    QVERIFY(!tests.instantiateViewController("Broken"));
    QVERIFY(log.contains("could not be loaded"));
    QVERIFY(!tests.instantiate<TermsConditionVC>("Wired"));
    QVERIFY(!Storyboard("Orvix", std::nullopt).instantiateViewController("TermsConditionVC"));
}

void TestStoryboard::termsSceneShowsItsText()
{
    const Storyboard orvix = orvix::kitStoryboard();
    auto first = orvix.instantiate<TermsConditionVC>("TermsConditionVC");
    auto second = orvix.instantiate<TermsConditionVC>("TermsConditionVC");
    QVERIFY(first && second);
    QVERIFY(first != second);
    for (const auto &vc : {first, second}) {
        QVERIFY(vc->contentView);
        QVERIFY(vc->view()->isAncestorOf(vc->contentView));
        QVERIFY(vc->contentView->isReadOnly());
        const QString text = vc->contentView->toPlainText();
        QVERIFY(text.contains("offline e-KYC"));
        QVERIFY(text.contains("merchant"));
    }
    QVERIFY(first->contentView != second->contentView);
}

void TestStoryboard::acceptDismissesTheTermsScreen()
{
    struct Counter : AdaptivePresentationControllerDelegate {
        int calls = 0;
        void presentationControllerDidDismiss(PresentationController *) override { ++calls; }
    };
    QWidget window;
    window.resize(400, 700);
    window.show();
    auto host = ViewController::wrapping(&window);
    auto delegate = std::make_shared<Counter>();
    std::weak_ptr<TermsConditionVC> weak;
    QPointer<QPushButton> accept;
    {
        auto terms = orvix::kitStoryboard().instantiate<TermsConditionVC>("TermsConditionVC");
        QVERIFY(terms);
        terms->presentationController()->delegate = delegate;
        host->present(terms, true);
        QVERIFY(qobject_cast<QDialog *>(terms->view()->window()));
        accept = terms->view()->findChild<QPushButton *>("acceptBtn");
        weak = terms;
    }
    QVERIFY(accept && accept->isVisible());
    QTest::mouseClick(accept, Qt::LeftButton);
    QVERIFY(!host->presentedViewController());
    QTRY_VERIFY(weak.expired());
    QTRY_VERIFY(accept.isNull());
    QCOMPARE(delegate->calls, 0);
}

void TestStoryboard::bundleImages()
{
    const auto kit = Bundle::identifier(kKitBundle);
    const QImage checked = Image::named("check_box.png", kit);
    const QImage unchecked = Image::named("Uncheck_box.png", kit);
    QVERIFY(!checked.isNull());
    QVERIFY(!unchecked.isNull());
    QVERIFY(checked != unchecked);
    QVERIFY(Image::named("missing.png", kit).isNull());
    QVERIFY(Image::named("check_box.png").isNull()); // not at the resources root
}

QTEST_MAIN(TestStoryboard)
#include "tst_storyboard.moc"

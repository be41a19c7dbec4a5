// The resident flow's text helpers: script string literals, checked in the
// real web engine, and the download's form body.

#include "orvix_ios_native_sdk/flows/JavaScriptLiteral.h"
#include "orvix_ios_native_sdk/flows/OldAadhaarFlowVC.h"
#include "platform/web/webview.h"

#include <QtTest>

using namespace orvix;
namespace web = orvix::platform::web;

namespace {

struct LoadWatcher : web::NavigationDelegate {
    int finished = 0;
    int failed = 0;
    void didFinish(web::WebView *) override { ++finished; }
    void didFailProvisionalNavigation(web::WebView *, const web::WebError &) override { ++failed; }
};

} // namespace

class TestResidentHelpers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void literalEvaluatesToTheText_data();
    void literalEvaluatesToTheText();
    void literalStaysInsideAScriptElement();
    void downloadBodyKeepsFieldsAndEncodesValues();

private:
    bool load(const QUrl &url);
    QVariant evaluate(const QString &script, std::optional<web::WebError> *error = nullptr);

    web::WebView *m_view = nullptr;
    std::shared_ptr<LoadWatcher> m_watcher = std::make_shared<LoadWatcher>();
};

void TestResidentHelpers::initTestCase()
{
    m_view = new web::WebView;
    m_view->setNavigationDelegate(std::weak_ptr<web::NavigationDelegate>(m_watcher));
    QVERIFY(load(QUrl("data:text/html,<html><body>empty</body></html>")));
}

void TestResidentHelpers::cleanupTestCase()
{
    delete m_view;
}

bool TestResidentHelpers::load(const QUrl &url)
{
    const int before = m_watcher->finished + m_watcher->failed;
    m_view->load(web::URLRequest{url});
    return QTest::qWaitFor([&] { return m_watcher->finished + m_watcher->failed > before; }, 20000)
        && m_watcher->failed == 0;
}

QVariant TestResidentHelpers::evaluate(const QString &script, std::optional<web::WebError> *error)
{
    auto answer = std::make_shared<std::optional<std::pair<QVariant, std::optional<web::WebError>>>>();
    m_view->evaluateJavaScript(script, [answer](const QVariant &value, const std::optional<web::WebError> &e) {
        *answer = std::pair(value, e);
    });
    if (!QTest::qWaitFor([&] { return answer->has_value(); }, 10000))
        return QStringLiteral("<no answer>");
    if (error)
        *error = (*answer)->second;
    return (*answer)->first;
}

void TestResidentHelpers::literalEvaluatesToTheText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("plain") << QString("ABCDE 1234");
    QTest::newRow("quotes") << QString("it's \"quoted\" `too`");
    QTest::newRow("backslashes") << QString("\\ \\\\ \\' \\u0041 \\n");
    QTest::newRow("closing quote and code") << QString("'; window.hit = 1; '");
    QTest::newRow("line breaks") << QString("a\nb\r\nc\td");
    QTest::newRow("line and paragraph separators") << QString(QChar(0x2028)) + "x" + QChar(0x2029);
    QTest::newRow("end of script element") << QString("</script><script>window.hit = 1</script>");
    QTest::newRow("comment openers") << QString("<!-- <script> -->");
    QTest::newRow("control characters") << QString(QChar(0)) + QChar(0x1b) + QChar(0x7f);
    QTest::newRow("beyond ASCII") << QString::fromUtf8("आधार ✓ \xF0\x9F\x98\x80 é");
}

void TestResidentHelpers::literalEvaluatesToTheText()
{
    QFETCH(QString, text);
    const QString literal = javaScriptStringLiteral(text);
    // Printable ASCII only, and nothing that could close an element.
    for (const QChar c : literal)
        QVERIFY2(c.unicode() >= 0x20 && c.unicode() < 0x7f, qPrintable(literal));
    QVERIFY(!literal.contains('<') && !literal.contains('>'));

    std::optional<web::WebError> error;
    const QVariant value = evaluate("window.hit = 0; " + literal, &error);
    QVERIFY2(!error, qPrintable(error ? error->localizedDescription() : QString()));
    QCOMPARE(value.toString(), text);
    // As the value of an assignment, like the kit's form fills.
    evaluate("var field = document.createElement('input'); field.id = 'probe'; document.body.appendChild(field);");
    evaluate("document.getElementById('probe').value = " + literal);
    QCOMPARE(evaluate("document.getElementById('probe').value").toString(),
             QString(text).remove(QRegularExpression("[\\r\\n]"))); // an input drops line breaks itself
    QCOMPARE(evaluate("window.hit"), QVariant(0));
}

void TestResidentHelpers::literalStaysInsideAScriptElement()
{
    const QString payload = "</script><script>window.injected = 1</script><!--";
    const QString html = "<html><body><script>window.v = " + javaScriptStringLiteral(payload)
        + ";</script><p id=\"after\">after</p></body></html>";
    QVERIFY(load(QUrl("data:text/html;charset=utf-8," + QString::fromLatin1(QUrl::toPercentEncoding(html)))));
    QCOMPARE(evaluate("window.v").toString(), payload);
    QCOMPARE(evaluate("typeof window.injected").toString(), QString("undefined"));
    QCOMPARE(evaluate("document.scripts.length"), QVariant(1));
    QCOMPARE(evaluate("document.getElementById('after').textContent").toString(), QString("after"));
}

void TestResidentHelpers::downloadBodyKeepsFieldsAndEncodesValues()
{
    QCOMPARE(OldAadhaarFlowVC::downloadBody("9736", "123456"),
             QString("task=valOtp&boxchecked=0&zipcode=9736&totp=123456&task=valOtp&boxchecked=0"));

    // Whatever the values hold, the six fields stay and decode back.
    const QString code = "9&7=3+6";
    const QString otp = "1 2%3\u00e9";
    const QStringList fields = OldAadhaarFlowVC::downloadBody(code, otp).split('&');
    QCOMPARE(fields.size(), 6);
    const QStringList names{"task", "boxchecked", "zipcode", "totp", "task", "boxchecked"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(fields[i].section('=', 0, 0), names[i]);
    // As a form decoder reads it: a bare '+' is a blank.
    const auto decoded = [](const QString &field) {
        return QString::fromUtf8(
            QByteArray::fromPercentEncoding(field.section('=', 1).toLatin1().replace('+', ' ')));
    };
    QCOMPARE(decoded(fields[2]), code);
    QCOMPARE(decoded(fields[3]), otp);
    QCOMPARE(fields[2], QString("zipcode=9%267%3D3%2B6"));
    QCOMPARE(fields[3], QString("totp=1%202%253%C3%A9"));

    QCOMPARE(OldAadhaarFlowVC::redactedFormBody(OldAadhaarFlowVC::downloadBody(code, otp)),
             QString("task=<redacted>&boxchecked=<redacted>&zipcode=<redacted>&totp=<redacted>"
                     "&task=<redacted>&boxchecked=<redacted>"));
}

QTEST_MAIN(TestResidentHelpers)
#include "tst_resident_helpers.moc"

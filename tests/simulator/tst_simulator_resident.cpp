// The resident page stand-in, driven through the kit's HTTP session and, once,
// through the kit's web view the way the resident-page flow drives it.

#include "logcapture.h"

#include "platform/dispatch/dispatch.h"
#include "platform/net/session.h"
#include "platform/web/webview.h"
#include "platform/zip/ziparchive.h"
#include "simulator/Captcha.h"
#include "simulator/Simulator.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace orvix::sim;
namespace net = orvix::platform::net;
namespace web = orvix::platform::web;
using Fields = QList<QPair<QByteArray, QByteArray>>;

namespace {

const QString uid = QStringLiteral("234567890124"); // passes the Verhoeff check
const QByteArray shareCode = "9736";

struct Answer {
    int status = -1; // -1: no reply
    QByteArray body;
    QList<net::HTTPHeader> headers;
    QByteArray header(const QByteArray &name) const
    {
        const auto it = std::find_if(headers.cbegin(), headers.cend(),
                                     [&](const auto &h) { return h.name.compare(name, Qt::CaseInsensitive) == 0; });
        return it == headers.cend() ? QByteArray() : it->value;
    }
};

// One exchange through the shared session and its cookie store; a POST goes as the kit's download does.
Answer send(const QUrl &url, const std::optional<QByteArray> &postBody = {})
{
    net::URLRequest request;
    request.url = url;
    if (postBody) {
        request.method = net::HTTPMethod::POST;
        request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}, {"Accept-Encoding", ""}};
        request.body.bytes = *postBody;
    }
    auto out = std::make_shared<std::optional<Answer>>();
    net::Session::shared().download(request, [out](const net::DownloadResponse &r) {
        Answer a;
        if (r.response && !r.error) {
            a.status = r.response->statusCode;
            a.headers = r.response->headers;
            QFile file(r.fileURL);
            if (file.open(QIODevice::ReadOnly))
                a.body = file.readAll();
            file.remove();
        }
        orvix::platform::dispatch::asyncMain([out, a] { *out = a; });
    });
    return QTest::qWaitFor([&] { return out->has_value(); }, 15000) ? **out : Answer{};
}

// The tag name and text of the element with the id.
std::pair<QString, QString> element(const QByteArray &page, const QString &id)
{
    const QRegularExpression pattern("<(\\w+)[^>]*\\bid=\"" + QRegularExpression::escape(id) + "\"[^>]*>([^<]*)");
    const QRegularExpressionMatch m = pattern.match(QString::fromUtf8(page));
    return {m.captured(1), m.captured(2)};
}
QString message(const QByteArray &page) { return element(page, "system-message").second; }

QString captchaSrc(const QByteArray &page)
{
    return QRegularExpression("<img[^>]*id=\"captcha-img\"[^>]*src=\"([^\"]*)\"").match(QString::fromUtf8(page)).captured(1);
}

// The files of the archive, unpacked with `password` as the kit does; nothing when it will not open.
std::optional<QMap<QString, QByteArray>> unpack(const QByteArray &archive, const QString &password)
{
    QTemporaryDir dir;
    QFile zip(dir.filePath("aadhaar.zip"));
    if (!zip.open(QIODevice::WriteOnly) || zip.write(archive) != archive.size())
        return std::nullopt;
    zip.close();
    if (!orvix::platform::zip::unzipFileAtPath(zip.fileName(), dir.filePath("out"), false, true, password))
        return std::nullopt;
    QMap<QString, QByteArray> files;
    for (const QFileInfo &info : QDir(dir.filePath("out")).entryInfoList(QDir::Files)) {
        QFile f(info.filePath());
        files.insert(info.fileName(), f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
    }
    return files;
}

QByteArray kitBody(const QByteArray &code, const QByteArray &otp)
{
    return "task=valOtp&boxchecked=0&zipcode=" + code + "&totp=" + otp + "&task=valOtp&boxchecked=0";
}

class Navigation : public web::NavigationDelegate {
public:
    int finished = 0, failed = 0;
    void didFinish(web::WebView *) override { ++finished; }
    void didFailProvisionalNavigation(web::WebView *, const web::WebError &) override { ++failed; }
};

} // namespace

class TestSimulatorResident : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(sim.start()); }
    void init()
    {
        sim.reset();
        net::Session::shared().cookieStore().removeAll();
    }

    void pageSessionAndCaptcha();
    void formReplies_data();
    void formReplies();
    void downloadServesTheArchive_data();
    void downloadServesTheArchive();
    void downloadRefusals_data();
    void downloadRefusals();
    void badInputIsAnswered();
    void webViewRun();

private:
    ResidentPortal &portal() { return sim.residentPortal(); }
    QUrl pageUrl() const { return QUrl(sim.residentPortalUrl() + "offline-kyc"); }
    Answer submit(const QString &number, const QString &captcha)
    {
        return send(pageUrl(), "task=genOtp&boxchecked=0&uid1=" + QUrl::toPercentEncoding(number)
                                   + "&security_code=" + QUrl::toPercentEncoding(captcha));
    }
    // A session whose one-time password was sent.
    bool otpSent()
    {
        return send(pageUrl()).status == 200 && message(submit(uid, portal().currentCaptcha()).body).contains("OTP sent");
    }

    LogCapture quiet;
    Simulator sim;
};

void TestSimulatorResident::pageSessionAndCaptcha()
{
    QCOMPARE(sim.residentPortalUrl(), sim.baseUrl().toString() + "resident/");
    const Answer first = send(pageUrl());
    QCOMPARE(first.status, 200);
    QVERIFY(first.header("Content-Type").startsWith("text/html"));
    const QMap<QString, QString> tags{{"aadhaar-number", "div"}, {"uid1", "input"}, {"security_code", "input"},
                                      {"captcha-img", "img"}, {"smt_btn", "button"}, {"system-message", "div"},
                                      {"spaced-inputenter-otp", "input"}, {"totp", "input"}};
    for (auto it = tags.cbegin(); it != tags.cend(); ++it) {
        QCOMPARE(first.body.count(("id=\"" + it.key() + "\"").toUtf8()), 1);
        QCOMPARE(element(first.body, it.key()).first, it.value());
    }
    // The button posts the form that holds the two fields.
    QVERIFY(QRegularExpression("<form[^>]*method=\"post\"[^>]*action=\"/resident/offline-kyc\"[^>]*>(?:(?!</form>).)*"
                               "id=\"uid1\"(?:(?!</form>).)*id=\"security_code\"(?:(?!</form>).)*id=\"smt_btn\"",
                               QRegularExpression::DotMatchesEverythingOption)
                .match(QString::fromUtf8(first.body))
                .hasMatch());
    QVERIFY(message(first.body).isEmpty());
    const QByteArray cookie = first.header("Set-Cookie");
    QVERIFY2(cookie.startsWith("RESIDENTSESSID=") && cookie.contains("HttpOnly") && cookie.contains("Path=/resident"),
             cookie.constData());
    QVERIFY(QRegularExpression("^[" + orvix::sim::captcha::alphabet() + "]{5}$").match(portal().currentCaptcha()).hasMatch());

    // The picture: same origin, a PNG that fits the kit's 175 x 50 copy, with ink on it.
    const QUrl src = pageUrl().resolved(QUrl(captchaSrc(first.body)));
    QCOMPARE(src.adjusted(QUrl::RemovePath | QUrl::RemoveQuery), sim.baseUrl().adjusted(QUrl::RemovePath));
    const Answer picture = send(src);
    QCOMPARE(picture.header("Content-Type"), QByteArray("image/png"));
    QImage image;
    QVERIFY(image.loadFromData(picture.body, "PNG"));
    QVERIFY(image.width() <= 175 && image.height() <= 50 && image.width() > 100);
    int ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ink += qGray(image.pixel(x, y)) < 128;
    QVERIFY2(ink > 200, qPrintable(QString::number(ink)));
    QCOMPARE(send(QUrl(sim.residentPortalUrl() + "captcha?id=nope")).status, 404);

    // A reload keeps the session and draws a new captcha; a new client gets a session of its own.
    const Answer again = send(pageUrl());
    QVERIFY(again.header("Set-Cookie").isEmpty());
    QVERIFY(captchaSrc(again.body) != captchaSrc(first.body));
    net::Session::shared().cookieStore().removeAll();
    const QByteArray other = send(pageUrl()).header("Set-Cookie");
    QVERIFY(other.startsWith("RESIDENTSESSID=") && other.left(47) != cookie.left(47));
}

void TestSimulatorResident::formReplies_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("captcha"); // "right": the one drawn
    QTest::addColumn<QString>("text");    // empty: neither of the kit's texts

    QTest::newRow("right captcha") << "" << uid << "right" << "OTP sent";
    QTest::newRow("right, lower case") << "" << uid << "lower" << "OTP sent";
    QTest::newRow("wrong captcha") << "" << uid << "ZZZZZ" << "Please Enter Valid Captcha";
    QTest::newRow("empty captcha") << "" << uid << "" << "Please Enter Valid Captcha";
    QTest::newRow("refused switch") << "refused" << uid << "right" << "Please Enter Valid Captcha";
    QTest::newRow("no session") << "nosession" << uid << "right" << "Please Enter Valid Captcha";
    QTest::newRow("captcha used twice") << "spent" << uid << "right" << "Please Enter Valid Captcha";
    QTest::newRow("withheld") << "withheld" << uid << "right" << "";
    QTest::newRow("bad number") << "" << "234567890123" << "right" << "";
}

void TestSimulatorResident::formReplies()
{
    QFETCH(QString, setup);
    QFETCH(QString, number);
    QFETCH(QString, captcha);
    QFETCH(QString, text);
    portal().setCaptchaRefused(setup == "refused");
    portal().setMessageWithheld(setup == "withheld");
    QSignalSpy otps(&portal(), &ResidentPortal::otpSent);

    const Answer page = send(pageUrl());
    const QString drawn = portal().currentCaptcha();
    if (setup == "nosession")
        net::Session::shared().cookieStore().removeAll();
    if (setup == "spent")
        submit(uid, "ZZZZZ");
    const Answer reply = submit(number, captcha == "right" ? drawn : captcha == "lower" ? drawn.toLower() : captcha);
    QCOMPARE(reply.status, 200);
    const QString said = message(reply.body);
    if (text.isEmpty())
        QVERIFY2(!said.isEmpty() && !said.contains("OTP sent") && !said.contains("Please Enter Valid Captcha"),
                 qPrintable(said));
    else
        QVERIFY2(said.contains(text), qPrintable(said));
    const bool sent = text == "OTP sent";
    QCOMPARE(otps.size(), sent ? 1 : 0);
    if (sent) {
        QVERIFY(QRegularExpression("^\\d{6}$").match(portal().lastOtp()).hasMatch());
        QCOMPARE(otps.at(0), (QVariantList{uid, portal().lastOtp()}));
    } else {
        QVERIFY(portal().lastOtp().isEmpty());
    }
    // Every reply draws a new captcha and echoes the number.
    QVERIFY(!captchaSrc(reply.body).isEmpty() && captchaSrc(reply.body) != captchaSrc(page.body));
    QVERIFY(reply.body.contains("value=\"" + number.toUtf8() + "\""));
}

void TestSimulatorResident::downloadServesTheArchive_data()
{
    QTest::addColumn<bool>("encoded");
    QTest::newRow("as the kit sends it") << false;
    QTest::newRow("percent-encoded values") << true;
}

void TestSimulatorResident::downloadServesTheArchive()
{
    QFETCH(bool, encoded);
    QVERIFY(otpSent());
    const QByteArray otp = portal().lastOtp().toLatin1();
    auto encode = [&](const QByteArray &v) { return encoded ? QUrl::toPercentEncoding(v, {}, "0123456789") : v; };
    const Answer reply = send(pageUrl(), kitBody(encode(shareCode), encode(otp)));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.header("Content-Type"), QByteArray("application/zip"));

    const auto served = portal().lastDocument();
    QVERIFY(served);
    QCOMPARE(served->archive, reply.body);
    QCOMPARE(served->shareCode, QString(shareCode));
    QVERIFY(served->document.referenceId.startsWith(uid.right(4)));
    const auto files = unpack(reply.body, shareCode);
    QVERIFY(files);
    QCOMPARE(files->size(), 1);
    QVERIFY(files->firstKey().contains("offline") && files->firstKey().endsWith(".xml"));
    QCOMPARE(files->first(), served->xml);
    QVERIFY(!unpack(reply.body, "1234"));

    // The fields as received, in order and repeated, then decoded; the cookie sent.
    const auto received = portal().lastDownload();
    QVERIFY(received && received->served);
    Fields fields{{"task", "valOtp"}, {"boxchecked", "0"}, {"zipcode", encode(shareCode)},
                  {"totp", encode(otp)}, {"task", "valOtp"}, {"boxchecked", "0"}};
    QCOMPARE(received->rawFields, fields);
    QCOMPARE(received->fields.at(2), (QPair<QString, QString>{"zipcode", shareCode}));
    QCOMPARE(received->fields.at(3), (QPair<QString, QString>{"totp", otp}));
    QCOMPARE(received->cookie, "RESIDENTSESSID=" + net::Session::shared().cookieStore().allCookies().value(0).value());

    // The password is spent.
    QVERIFY(send(pageUrl(), kitBody(shareCode, otp)).header("Content-Type").startsWith("text/html"));
    QVERIFY(!portal().lastDownload()->served);
}

void TestSimulatorResident::downloadRefusals_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QString>("text"); // the page's message; unused for "dropped" and "damaged"

    QTest::newRow("wrong otp") << "wrongotp" << shareCode << ResidentPortal::invalidOtpText;
    QTest::newRow("no otp sent") << "nootp" << shareCode << ResidentPortal::invalidOtpText;
    QTest::newRow("no cookie") << "nocookie" << shareCode << ResidentPortal::sessionExpiredText;
    QTest::newRow("expired") << "expired" << shareCode << ResidentPortal::sessionExpiredText;
    QTest::newRow("refused switch") << "refused" << shareCode << ResidentPortal::downloadUnavailableText;
    QTest::newRow("three digits") << "" << QByteArray("973") << ResidentPortal::invalidShareCodeText;
    QTest::newRow("not digits") << "" << QByteArray("97a6") << ResidentPortal::invalidShareCodeText;
    QTest::newRow("dropped") << "dropped" << shareCode << "";
    QTest::newRow("damaged") << "damaged" << shareCode << "";
}

void TestSimulatorResident::downloadRefusals()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, code);
    QFETCH(QString, text);
    QVERIFY(setup == "nootp" ? send(pageUrl()).status == 200 : otpSent());
    QByteArray otp = portal().lastOtp().toLatin1();
    if (setup == "wrongotp")
        otp = otp == "000000" ? "000001" : "000000";
    if (setup == "nocookie")
        net::Session::shared().cookieStore().removeAll();
    if (setup == "expired")
        portal().expireSessions();
    portal().setDownloadRefused(setup == "refused");
    portal().setDownloadDropped(setup == "dropped");
    portal().setArchiveDamaged(setup == "damaged");

    const Answer reply = send(pageUrl(), kitBody(code, otp));
    QCOMPARE(portal().lastDownload()->rawFields.size(), 6);
    if (setup == "dropped") {
        QCOMPARE(reply.status, -1);
    } else if (setup == "damaged") {
        QCOMPARE(reply.header("Content-Type"), QByteArray("application/zip"));
        QVERIFY(!unpack(reply.body, shareCode));
    } else {
        QVERIFY(reply.header("Content-Type").startsWith("text/html"));
        QCOMPARE(message(reply.body), text);
        QVERIFY(!portal().lastDocument() && !portal().lastDownload()->served);
    }
}

void TestSimulatorResident::badInputIsAnswered()
{
    QVERIFY(send(pageUrl()).status == 200);
    const Answer echo = submit("\"><script>alert(1)</script>", "x");
    QVERIFY(echo.body.contains("value=\"&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;\""));
    QVERIFY(!echo.body.contains("<script>"));

    QNetworkCookie junk(ResidentPortal::sessionCookie, ";;=");
    junk.setPath("/resident");
    net::Session::shared().cookieStore().setCookiesFromUrl({junk}, pageUrl());
    for (const QByteArray &body : {QByteArray("task=valOtp&%%%=%zz&totp=%"), QByteArray("\xff\xfe\0=\0&task", 10),
                                   QByteArray(20000, '&'), "task=valOtp&" + QByteArray(50000, 'z')})
        QCOMPARE(send(pageUrl(), body).status, 200);
    QVERIFY(sim.requestsTo(ResidentPortal::postRoute).last().header("Cookie").startsWith("RESIDENTSESSID="));

    // Failures set through overrides: an error page, or no page at all.
    sim.setOneShot(ResidentPortal::pageRoute, Override::htmlPage(503));
    QCOMPARE(send(pageUrl()).status, 503);
    sim.setOneShot(ResidentPortal::pageRoute, Override::dropConnection());
    sim.setOneShot(ResidentPortal::postRoute, Override::dropConnection());
    QCOMPARE(send(pageUrl()).status, -1);
    QCOMPARE(submit(uid, "x").status, -1);
    QCOMPARE(send(pageUrl()).status, 200);
}

void TestSimulatorResident::webViewRun()
{
    auto navigation = std::make_shared<Navigation>();
    web::WebView view;
    view.setNavigationDelegate(navigation);
    auto loaded = [&](int before) {
        return QTest::qWaitFor([&] { return navigation->finished > before || navigation->failed; }, 30000)
            && !navigation->failed;
    };
    auto run = [&](const QString &script) {
        std::optional<std::pair<QVariant, bool>> out;
        view.evaluateJavaScript(script, [&](const QVariant &v, const std::optional<web::WebError> &e) {
            out = {v, !e.has_value()};
        });
        return QTest::qWaitFor([&] { return out.has_value(); }, 15000) ? *out : std::pair<QVariant, bool>{{}, false};
    };
    auto fill = [&](const QString &id, const QString &value) {
        const QString literal = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).chopped(1).mid(1);
        return run("document.getElementById('" + id + "').value = " + literal).second;
    };
    auto submitPage = [&](const QString &captcha) {
        const int before = navigation->finished;
        fill("uid1", uid), fill("security_code", captcha), run("document.getElementById('smt_btn').click()");
        return loaded(before) ? run("document.getElementById('system-message').innerHTML").first.toString() : "(none)";
    };

    view.load({pageUrl()});
    QVERIFY(loaded(0));
    QVERIFY(run("document.getElementById('aadhaar-number').scrollIntoView(true); true").second);
    // The kit copies the picture through a canvas, which a cross-origin picture would taint.
    const auto [data, ok] = run("var c = document.createElement('canvas'); var ctx = c.getContext('2d'); "
                                "c.height = 50, c.width = 175; ctx.drawImage(document.getElementById('captcha-img'), "
                                "0, 0); var value = c.toDataURL(); value.split(',')[1];");
    QVERIFY(ok);
    QImage copied;
    QVERIFY(copied.loadFromData(QByteArray::fromBase64(data.toString().toLatin1()), "PNG"));
    QCOMPARE(qAlpha(copied.pixel(10, 10)), 255);

    QVERIFY(submitPage("ZZZZZ").contains("Please Enter Valid Captcha"));
    const QString sent = submitPage(portal().currentCaptcha());
    QVERIFY2(sent.contains("OTP sent"), qPrintable(sent));
    const QByteArray otp = portal().lastOtp().toLatin1();
    QVERIFY(fill("spaced-inputenter-otp", shareCode) && fill("totp", otp));

    // The web view's cookies go to the session's store, then the kit posts the form itself.
    std::optional<QList<QNetworkCookie>> cookies;
    web::WebView::cookieStore().allCookies([&](const QList<QNetworkCookie> &all) { cookies = all; });
    QVERIFY(QTest::qWaitFor([&] { return cookies.has_value(); }, 10000));
    const auto session = std::find_if(cookies->cbegin(), cookies->cend(),
                                      [](const QNetworkCookie &c) { return c.name() == ResidentPortal::sessionCookie; });
    QVERIFY(session != cookies->cend() && session->isHttpOnly());
    net::Session::shared().cookieStore().setCookiesFromUrl(*cookies, pageUrl());
    const Answer reply = send(pageUrl(), kitBody(shareCode, otp));
    QVERIFY(unpack(reply.body, shareCode));
    QCOMPARE(portal().lastDownload()->cookie, "RESIDENTSESSID=" + session->value());
}

QTEST_MAIN(TestSimulatorResident)
#include "tst_simulator_resident.moc"

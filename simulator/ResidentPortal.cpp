#include "simulator/ResidentPortal.h"

#include "simulator/Authority.h"
#include "simulator/Captcha.h"
#include "simulator/documents/OfflineKycArchive.h"

#include <QRandomGenerator>
#include <QUrlQuery>

#include <algorithm>

namespace orvix::sim {

namespace {

const QString pathStart = QStringLiteral("/");
constexpr qsizetype tableLimit = 256;
const QString alphanumerics = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

QString randomText(int length, const QString &alphabet = alphanumerics)
{
    QString out;
    out.reserve(length);
    for (int i = 0; i < length; ++i)
        out += alphabet.at(QRandomGenerator::global()->bounded(int(alphabet.size())));
    return out;
}

// Oldest entries go first once a table is full, so no client can grow it without end.
template <typename T>
void keep(QHash<QString, T> &table, QStringList &order, const QString &key, T value)
{
    while (order.size() >= tableLimit)
        table.remove(order.takeFirst());
    table.insert(key, std::move(value));
    order.append(key);
}

QString decodedComponent(const QByteArray &raw)
{
    QByteArray text = raw;
    text.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text));
}

QString firstValue(const QList<QPair<QString, QString>> &fields, const QString &name)
{
    for (const auto &[key, value] : fields) {
        if (key == name)
            return value;
    }
    return {};
}

bool isFourDigits(const QString &code)
{
    return code.size() == 4 && std::all_of(code.cbegin(), code.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Flips a run of bytes in the middle, where the entry's data lies.
void damage(QByteArray &archive)
{
    const qsizetype start = archive.size() / 2;
    for (qsizetype i = start; i < std::min(archive.size(), start + 16); ++i)
        archive[i] = char(archive[i] ^ 0x5a);
}

} // namespace

ResidentPortal::ResidentPortal(QObject *parent) : QObject(parent) {}

ResidentPortal::~ResidentPortal() = default;

QList<Route> ResidentPortal::routes()
{
    return {
        Route{pageRoute, "GET", pathPattern(pathStart + pagePath), [this](const Request &r) { return page(r); }},
        Route{postRoute, "POST", pathPattern(pathStart + pagePath), [this](const Request &r) { return post(r); }},
        Route{captchaRoute, "GET", pathPattern(pathStart + captchaPath), [this](const Request &r) { return captcha(r); }},
    };
}

void ResidentPortal::expireSessions()
{
    m_sessions.clear();
    m_sessionOrder.clear();
}

void ResidentPortal::reset()
{
    expireSessions();
    m_captchas.clear();
    m_captchaOrder.clear();
    m_lastOtp.clear();
    m_currentCaptcha.clear();
    m_lastDocument.reset();
    m_lastDownload.reset();
    m_captchaRefused = m_messageWithheld = m_downloadRefused = m_archiveDamaged = m_downloadDropped = false;
    m_archiveForm = simulator::ArchiveForm::traditional;
    m_archiveFile.clear();
    m_canvasPicture.clear();
    m_documentOptions = {};
}

QList<QPair<QByteArray, QByteArray>> ResidentPortal::rawFormFields(const QByteArray &body)
{
    QList<QPair<QByteArray, QByteArray>> out;
    for (const QByteArray &part : body.split('&')) {
        if (part.isEmpty())
            continue;
        const qsizetype eq = part.indexOf('=');
        if (eq < 0)
            out.append({part, QByteArray()});
        else
            out.append({part.left(eq), part.mid(eq + 1)});
    }
    return out;
}

QString ResidentPortal::sessionIdOf(const Request &request) const
{
    for (const QString &id : cookieValues(request, sessionCookie)) {
        if (m_sessions.contains(id))
            return id;
    }
    return {};
}

ResidentPortal::Session *ResidentPortal::sessionOf(const Request &request)
{
    const auto it = m_sessions.find(sessionIdOf(request));
    return it == m_sessions.end() ? nullptr : &*it;
}

Reply ResidentPortal::render(const Request &request, Step step, const QString &message, const QString &uid)
{
    QString id = sessionIdOf(request);
    const bool fresh = id.isEmpty();
    if (fresh) {
        id = randomText(32, QStringLiteral("0123456789abcdef"));
        keep(m_sessions, m_sessionOrder, id, Session{});
    }
    static const QString alphabet = captcha::alphabet();
    const QString captchaId = randomText(24);
    m_currentCaptcha = randomText(5, alphabet);
    keep(m_captchas, m_captchaOrder, captchaId, m_currentCaptcha);
    m_sessions[id].captchaId = captchaId;

    const QString action = htmlEscaped(pathStart + pagePath);
    const QString hidden = QStringLiteral(" hidden");
    const QString body =
        QStringLiteral(
            "<div id=\"system-message\" role=\"status\">%1</div>\n"
            "<div id=\"aadhaar-number\"%2>\n"
            "<form id=\"offline-kyc-form\" method=\"post\" action=\"%3\">\n"
            "<input type=\"hidden\" name=\"task\" value=\"genOtp\">\n"
            "<input type=\"hidden\" name=\"boxchecked\" value=\"0\">\n"
            "<p><label for=\"uid1\">Aadhaar number</label><br>"
            "<input type=\"text\" id=\"uid1\" name=\"uid1\" autocomplete=\"off\" value=\"%4\"></p>\n"
            "<p><img id=\"captcha-img\" src=\"%5\" width=\"160\" height=\"50\" alt=\"Security code\"></p>\n"
            "<p><label for=\"security_code\">Enter security code</label><br>"
            "<input type=\"text\" id=\"security_code\" name=\"security_code\" autocomplete=\"off\"></p>\n"
            "<p><button type=\"submit\" id=\"smt_btn\">Send OTP</button></p>\n"
            "</form>\n</div>\n"
            "<div id=\"otp-step\"%6>\n"
            "<form id=\"otp-form\" method=\"post\" action=\"%3\">\n"
            "<input type=\"hidden\" name=\"task\" value=\"valOtp\">\n"
            "<input type=\"hidden\" name=\"boxchecked\" value=\"0\">\n"
            "<p><label for=\"spaced-inputenter-otp\">Share code (4 digits)</label><br>"
            "<input type=\"text\" id=\"spaced-inputenter-otp\" name=\"zipcode\" inputmode=\"numeric\" autocomplete=\"off\"></p>\n"
            "<p><label for=\"totp\">OTP</label><br>"
            "<input type=\"text\" id=\"totp\" name=\"totp\" inputmode=\"numeric\" autocomplete=\"one-time-code\"></p>\n"
            "<p><button type=\"submit\" id=\"otp_btn\">Download</button></p>\n"
            "</form>\n</div>")
            .arg(htmlEscaped(message), step == Step::details ? QString() : hidden, action, htmlEscaped(uid),
                 htmlEscaped(pathStart + captchaPath + QStringLiteral("?id=") + captchaId),
                 step == Step::password ? QString() : hidden);

    QString script;
    if (!m_canvasPicture.isEmpty())
        script = QStringLiteral("\n<script>HTMLCanvasElement.prototype.toDataURL = function () { return "
                                "'data:image/jpeg;base64,%1'; };</script>")
                     .arg(QString::fromLatin1(m_canvasPicture.toBase64()));
    Reply reply = htmlPage(200, QStringLiteral("Offline Aadhaar e-KYC"), body + script);
    if (fresh) {
        const QByteArray cookie = sessionCookie + '=' + id.toLatin1() + "; Path=/" + prefix.chopped(1).toLatin1()
            + "; HttpOnly";
        reply.headers.append({"Set-Cookie", cookie});
    }
    reply.headers.append({"Cache-Control", QByteArray("no-store")});
    return reply;
}

Reply ResidentPortal::page(const Request &request)
{
    return render(request, Step::details, QString());
}

Reply ResidentPortal::captcha(const Request &request) const
{
    const QString id = QUrlQuery(request.query).queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
    const auto found = m_captchas.constFind(id);
    if (id.isEmpty() || found == m_captchas.cend())
        return Reply::bytes(404, "No such captcha.\n", "text/plain; charset=utf-8");
    const QByteArray png = captcha::png(*found, QSize(160, 50), QColor(0xee, 0xf2, 0xf7), quint32(qHash(id)));
    Reply reply = Reply::bytes(200, png, "image/png");
    reply.headers.append({"Cache-Control", QByteArray("no-store")});
    return reply;
}

Reply ResidentPortal::post(const Request &request)
{
    const QList<QPair<QByteArray, QByteArray>> raw = rawFormFields(request.body);
    QList<QPair<QString, QString>> fields;
    fields.reserve(raw.size());
    for (const auto &[name, value] : raw)
        fields.append({decodedComponent(name), decodedComponent(value)});
    if (firstValue(fields, QStringLiteral("task")) == QLatin1String("valOtp"))
        return download(request, raw, fields);
    return submitDetails(request, fields);
}

Reply ResidentPortal::submitDetails(const Request &request, const QList<QPair<QString, QString>> &fields)
{
    QString uid = firstValue(fields, QStringLiteral("uid1"));
    uid.remove(u' ');
    if (m_messageWithheld)
        return render(request, Step::details, busyText, uid);

    // The captcha of the page last drawn for this session; rendering the reply replaces it.
    Session *session = sessionOf(request);
    const QString expected = session ? m_captchas.value(session->captchaId) : QString();
    const QString typed = firstValue(fields, QStringLiteral("security_code")).trimmed();
    if (m_captchaRefused || expected.isEmpty() || typed.compare(expected, Qt::CaseInsensitive) != 0)
        return render(request, Step::details, wrongCaptchaText, uid);
    if (!Authority::isValidAadhaar(uid))
        return render(request, Step::details, invalidUidText, uid);

    session->otpUid = uid;
    session->otp = QStringLiteral("%1").arg(QRandomGenerator::global()->bounded(1000000), 6, 10, QLatin1Char('0'));
    m_lastOtp = session->otp;
    emit otpSent(uid, session->otp);
    return render(request, Step::password, otpSentText, uid);
}

Reply ResidentPortal::download(const Request &request, const QList<QPair<QByteArray, QByteArray>> &rawFields,
                               const QList<QPair<QString, QString>> &fields)
{
    DownloadRequest record{rawFields, fields, {}, false};
    for (const auto &[name, value] : request.headers) {
        if (name.compare("Cookie", Qt::CaseInsensitive) == 0)
            record.cookie += (record.cookie.isEmpty() ? QByteArray() : QByteArray("; ")) + value;
    }
    m_lastDownload = std::move(record);
    if (m_downloadDropped)
        return Reply{.behaviour = Reply::Behaviour::drop};

    Session *session = sessionOf(request);
    if (!session)
        return render(request, Step::details, sessionExpiredText);
    if (m_downloadRefused)
        return render(request, Step::password, downloadUnavailableText);
    if (session->otp.isEmpty())
        return render(request, Step::details, invalidOtpText);
    if (firstValue(fields, QStringLiteral("totp")) != session->otp)
        return render(request, Step::password, invalidOtpText);
    const QString shareCode = firstValue(fields, QStringLiteral("zipcode"));
    if (!isFourDigits(shareCode))
        return render(request, Step::password, invalidShareCodeText);

    ServedDocument served;
    served.document = simulator::makeOfflineKycDocument(m_documentOptions);
    // The reference id starts with the number's last four digits, then the time it was made.
    const QString stamp = served.document.referenceId.mid(4);
    served.document.referenceId = session->otpUid.right(4) + stamp;
    served.xml = simulator::offlineKycXml(served.document, -1);
    served.xmlFileName = QStringLiteral("offlineaadhaar") + stamp + QStringLiteral(".xml");
    served.shareCode = shareCode;
    QString error;
    if (m_archiveFile.isEmpty())
        served.archive = simulator::makeOfflineKycArchive(served.xml, served.xmlFileName, served.shareCode, &error,
                                                          m_archiveForm);
    else
        served = ServedDocument{.archive = m_archiveFile}; // its document is not known here
    if (served.archive.isEmpty()) {
        Reply reply = render(request, Step::password, QStringLiteral("The offline e-KYC could not be made: ") + error);
        reply.status = 500;
        return reply;
    }
    if (m_archiveDamaged)
        damage(served.archive);

    session->otp.clear(); // spent
    m_lastDownload->served = true;
    Reply reply = Reply::bytes(200, served.archive, "application/zip");
    reply.headers.append({"Content-Disposition", "attachment; filename=\"offlineaadhaar" + stamp.toLatin1() + ".zip\""});
    reply.headers.append({"Cache-Control", QByteArray("no-store")});
    m_lastDocument = std::move(served);
    return reply;
}

} // namespace orvix::sim

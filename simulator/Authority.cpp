#include "simulator/Authority.h"

#include "simulator/Captcha.h"
#include "simulator/documents/OfflineKycArchive.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <QUuid>

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


Reply redirect(const QUrl &target)
{
    const QString location = target.toString(QUrl::FullyEncoded);
    Reply reply = htmlPage(302, QStringLiteral("Redirecting"),
                       QStringLiteral("<p><a href=\"%1\">Continue</a></p>").arg(htmlEscaped(location)));
    reply.headers.append({"Location", location.toUtf8()});
    return reply;
}

QString decoded(const QUrlQuery &query, const QString &key)
{
    return query.queryItemValue(key, QUrl::FullyDecoded);
}

// Form fields of an urlencoded body, '+' read as a blank.
QUrlQuery formFields(const Request &request)
{
    QString body = QString::fromUtf8(request.body);
    body.replace(u'+', QLatin1String("%20"));
    return QUrlQuery(body);
}

QJsonObject otpAnswer(bool sent, bool sessionActive, const QString &message)
{
    return {{QStringLiteral("status"), sent},
            {QStringLiteral("sessionActive"), sessionActive},
            {QStringLiteral("message"), message}};
}

Reply tokenError(int status, const QString &error, const QString &description)
{
    return Reply::json(status, QJsonObject{{QStringLiteral("error"), error},
                                           {QStringLiteral("error_description"), description}});
}

Reply downloadRefusal(int status, const QString &message)
{
    return Reply::json(status, QJsonObject{{QStringLiteral("status"), QStringLiteral("Failure")},
                                           {QStringLiteral("message"), message}});
}

bool isFourDigits(const QString &code)
{
    return code.size() == 4 && std::all_of(code.cbegin(), code.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// 43 to 128 unreserved characters.
bool isVerifier(const QString &verifier)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9._~-]{43,128}$"));
    return form.match(verifier).hasMatch();
}

QString wrapped(const QByteArray &base64, int width)
{
    QString out;
    out.reserve(base64.size() + base64.size() / width * 2 + 2);
    for (qsizetype i = 0; i < base64.size(); i += width) {
        if (i > 0)
            out += QLatin1String("\r\n");
        out += QLatin1String(base64.mid(i, width));
    }
    return out;
}

// Flips a run of bytes in the middle, where the entry's data lies.
void damage(QByteArray &archive)
{
    const qsizetype start = archive.size() / 2;
    for (qsizetype i = start; i < std::min(archive.size(), start + 16); ++i)
        archive[i] = char(archive[i] ^ 0x5a);
}

} // namespace

Authority::Authority(QObject *parent) : QObject(parent) {}

Authority::~Authority() = default;

QList<Route> Authority::routes()
{
    const QRegularExpression portal(
        QRegularExpression::anchoredPattern(QRegularExpression::escape(pathStart + portalPrefix.chopped(1)) + "/?"));
    const QRegularExpression refused(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(pathStart + loginPath) + QStringLiteral("/(?:failed|invalidsession)")));
    // Pages a redirect may reach take any method.
    QList<Route> all{
        Route{portalRoute, "GET", portal, [this](const Request &r) { return this->portal(r); }},
        Route{authorizeRoute, "GET", pathPattern(pathStart + authorizePath),
              [this](const Request &r) { return authorize(r); }},
        Route{captchaRoute, "GET", pathPattern(pathStart + captchaPath), [this](const Request &r) { return captcha(r); }},
        Route{otpRoute, "POST", pathPattern(pathStart + otpPath), [this](const Request &r) { return otpReply(r); }},
        Route{loginRoute, "POST", pathPattern(pathStart + loginPath), [this](const Request &r) { return login(r); }},
        Route{loginRefusedRoute, {}, refused, [this](const Request &r) { return loginRefused(r); }},
        Route{tokenRoute, "POST", pathPattern(pathStart + tokenPath), [this](const Request &r) { return token(r); }},
        Route{downloadRoute, "POST", pathPattern(pathStart + downloadPath),
              [this](const Request &r) { return download(r); }},
        Route{callbackRoute, {}, pathPattern(pathStart + callbackPath), [this](const Request &r) { return callback(r); }},
    };
    for (Route &route : all) {
        route.handler = [this, name = route.name, handle = std::move(route.handler)](const Request &r) {
            record(name, r);
            return handle(r);
        };
    }
    return all;
}

void Authority::record(const QString &route, const Request &request)
{
    QByteArray target = QUrl::toPercentEncoding(request.path, "/!$&'()*+,;=:@~");
    if (!request.query.isEmpty())
        target += '?' + request.query.toUtf8();
    m_recorded.append({request.method + ' ' + target, route, request.headers, request.body});
}

void Authority::reset()
{
    m_recorded.clear();
    m_sessions.clear();
    m_sessionOrder.clear();
    m_codes.clear();
    m_codeOrder.clear();
    m_tokens.clear();
    m_tokenOrder.clear();
    m_lastOtp.clear();
    m_currentCaptcha.clear();
    m_lastDocument.reset();
    m_captchaRefused = m_sessionInactive = m_loginRefused = m_loginInternalError = false;
    m_otpSessionActiveLeftOut = m_captchaNeverActive = false;
    m_tokenRefused = m_downloadRefused = m_archiveDamaged = m_lineBreaks = false;
    m_archiveShareCode.clear();
    m_archiveForm = simulator::ArchiveForm::traditional;
    m_archiveFile.clear();
    m_documentOptions = {};
}

bool Authority::isValidAadhaar(const QString &uid)
{
    // Twelve digits, not starting with 0 or 1, passing the Verhoeff check.
    if (uid.size() != 12 || uid.at(0) < u'2'
        || !std::all_of(uid.cbegin(), uid.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    // Verhoeff: the dihedral group D5 and its position permutation, as published.
    static constexpr int d[10][10] = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 3, 4, 0, 6, 7, 8, 9, 5}, {2, 3, 4, 0, 1, 7, 8, 9, 5, 6},
        {3, 4, 0, 1, 2, 8, 9, 5, 6, 7}, {4, 0, 1, 2, 3, 9, 5, 6, 7, 8}, {5, 9, 8, 7, 6, 0, 4, 3, 2, 1},
        {6, 5, 9, 8, 7, 1, 0, 4, 3, 2}, {7, 6, 5, 9, 8, 2, 1, 0, 4, 3}, {8, 7, 6, 5, 9, 3, 2, 1, 0, 4},
        {9, 8, 7, 6, 5, 4, 3, 2, 1, 0}};
    static constexpr int p[8][10] = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 5, 7, 6, 2, 8, 3, 0, 9, 4}, {5, 8, 0, 3, 7, 9, 6, 1, 4, 2},
        {8, 9, 1, 6, 0, 4, 3, 5, 2, 7}, {9, 4, 5, 3, 1, 2, 6, 8, 7, 0}, {4, 2, 8, 6, 5, 7, 3, 9, 0, 1},
        {2, 7, 9, 3, 8, 0, 6, 4, 1, 5}, {7, 0, 4, 6, 9, 1, 3, 2, 5, 8}};
    int c = 0;
    for (qsizetype i = 0; i < uid.size(); ++i)
        c = d[c][p[i % 8][uid.at(uid.size() - 1 - i).unicode() - u'0']];
    return c == 0;
}

QString Authority::s256(const QString &verifier)
{
    return QString::fromLatin1(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

template <typename T>
void Authority::keep(QHash<QString, T> &table, QStringList &order, const QString &key, T value)
{
    while (order.size() >= tableLimit)
        table.remove(order.takeFirst());
    table.insert(key, std::move(value));
    order.append(key);
}

QString Authority::sessionIdOf(const Request &request) const
{
    for (const QString &id : cookieValues(request, sessionCookie)) {
        if (m_sessions.contains(id))
            return id;
    }
    return {};
}

Authority::Session *Authority::sessionOf(const Request &request)
{
    const auto it = m_sessions.find(sessionIdOf(request));
    return it == m_sessions.end() ? nullptr : &*it;
}

QString Authority::newSession(Session session)
{
    const QString id = randomText(32, QStringLiteral("0123456789ABCDEF"));
    keep(m_sessions, m_sessionOrder, id, std::move(session));
    return id;
}

void Authority::endSession(const Request &request)
{
    const QString id = sessionIdOf(request);
    if (m_sessions.remove(id))
        m_sessionOrder.removeOne(id);
}

Reply Authority::portal(const Request &) const
{
    return htmlPage(200, QStringLiteral("myAadhaar"),
                QStringLiteral("<p>Unique Identification Authority of India (local stand-in).</p>\n"
                               "<p>Sign in with your Aadhaar number and a one-time password to download "
                               "your offline e-KYC.</p>"));
}

Reply Authority::authorize(const Request &request)
{
    if (Session *signedIn = sessionOf(request); signedIn && signedIn->signedIn) {
        // Back from the login: the code goes to the client's redirect URI and the session ends.
        // Codes hold '+' and '/', as Base64 text does: a client must escape them.
        const QString code = randomText(38) + QStringLiteral("+/");
        keep(m_codes, m_codeOrder, code, Grant{signedIn->challenge, signedIn->challengeMethod, signedIn->uid});
        endSession(request);
        QUrl target = request.serverUrl.resolved(QUrl(callbackPath));
        target.setQuery(QUrlQuery{{QStringLiteral("code"), QString::fromLatin1(QUrl::toPercentEncoding(code))}});
        return redirect(target);
    }

    const QUrlQuery query(request.query);
    auto refuse = [](const QString &error, const QString &text) {
        return htmlPage(400, QStringLiteral("OAuth error"),
                    QStringLiteral("<p>error=&quot;%1&quot;, error_description=&quot;%2&quot;</p>")
                        .arg(htmlEscaped(error), htmlEscaped(text)));
    };
    const QString client = decoded(query, QStringLiteral("client_id"));
    if (client != clientId)
        return refuse(QStringLiteral("invalid_client"), QStringLiteral("Unknown client: ") + client);
    if (decoded(query, QStringLiteral("response_type")) != QLatin1String("code"))
        return refuse(QStringLiteral("unsupported_response_type"), QStringLiteral("Only \"code\" is supported."));
    Session session;
    session.challenge = decoded(query, QStringLiteral("code_challenge"));
    session.challengeMethod = decoded(query, QStringLiteral("code_challenge_method"));
    if (session.challenge.isEmpty())
        return refuse(QStringLiteral("invalid_request"), QStringLiteral("A code challenge is required."));
    session.csrf = QUuid::createUuid().toString(QUuid::WithoutBraces);
    session.authorizeQuery = request.query;
    const QString csrf = session.csrf;
    const QString id = newSession(std::move(session));

    // The hidden field keeps name and value on one line, the first "_csrf" of the page.
    const QString form =
        QStringLiteral("<form id=\"loginForm\" method=\"post\" action=\"%1\">\n"
                       "<input type=\"hidden\" name=\"_csrf\" value=\"%2\"/>\n"
                       "<p><label>Aadhaar number <input type=\"text\" name=\"uid\" maxlength=\"12\"/></label></p>\n"
                       "<p><label>Captcha <input type=\"text\" name=\"captcha\"/></label></p>\n"
                       "<p><label>One-time password <input type=\"password\" name=\"otp\" maxlength=\"6\"/></label></p>\n"
                       "<p><button type=\"submit\" name=\"submit\" value=\"Login\">Login</button></p>\n"
                       "</form>")
            .arg(pathStart + loginPath, htmlEscaped(csrf));
    Reply reply = htmlPage(200, QStringLiteral("Sign in with Aadhaar"), form);
    const QByteArray cookie = sessionCookie + '=' + id.toLatin1() + "; Path=/" + apiPrefix.toLatin1() + "; HttpOnly";
    reply.headers.append({"Set-Cookie", cookie});
    reply.headers.append({"Cache-Control", QByteArray("no-store")});
    return reply;
}

Reply Authority::captcha(const Request &request)
{
    Session *session = sessionOf(request);
    if (!session || m_captchaNeverActive)
        return Reply::json(200, otpAnswer(false, false, QStringLiteral("Session expired. Please sign in again.")));
    static const QString alphabet = captcha::alphabet();
    session->captcha = randomText(5, alphabet);
    session->captchaTxnId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_currentCaptcha = session->captcha;
    // The size of the kit's captcha panel.
    const QByteArray png = captcha::png(session->captcha, QSize(175, 50), QColor(0xf2, 0xf0, 0xe6),
                                        QRandomGenerator::global()->generate());
    const QJsonObject picture{{QStringLiteral("imageBase64"), QString::fromLatin1(png.toBase64())},
                              {QStringLiteral("transactionId"), session->captchaTxnId}};
    return Reply::json(200, otpAnswer(true, true, QString::fromUtf8(QJsonDocument(picture).toJson(QJsonDocument::Compact))));
}

Reply Authority::requestOtp(const Request &request)
{
    Session *session = sessionOf(request);
    if (!session || m_sessionInactive) {
        endSession(request);
        return Reply::json(200, otpAnswer(false, false, QStringLiteral("Your session has expired. Please try again.")));
    }
    if (!request.json.isObject())
        return Reply::json(400, otpAnswer(false, true, QStringLiteral("Malformed request.")));
    const QJsonObject body = request.jsonObject();
    const QString uid = body.value(QStringLiteral("uid")).toString();
    const QString captcha = body.value(QStringLiteral("captcha")).toString();
    const QString txnId = body.value(QStringLiteral("captchaTxnId")).toString();

    // A captcha answers one request, right or wrong.
    const bool captchaRight = !m_captchaRefused && !session->captcha.isEmpty()
        && captcha.compare(session->captcha, Qt::CaseInsensitive) == 0 && txnId == session->captchaTxnId;
    session->captcha.clear();
    session->captchaTxnId.clear();
    if (!captchaRight)
        return Reply::json(200, otpAnswer(false, true, QStringLiteral("Invalid Captcha. Please enter the captcha again.")));
    if (!isValidAadhaar(uid))
        return Reply::json(200, otpAnswer(false, true, QStringLiteral("Invalid Aadhaar Number.")));

    session->otpUid = uid;
    session->otp = QStringLiteral("%1").arg(QRandomGenerator::global()->bounded(1000000), 6, 10, QLatin1Char('0'));
    m_lastOtp = session->otp;
    emit otpSent(uid, session->otp);
    return Reply::json(200, otpAnswer(true, true,
                                      QStringLiteral("OTP sent to the mobile number registered with Aadhaar.")));
}

Reply Authority::otpReply(const Request &request)
{
    Reply reply = requestOtp(request);
    if (!m_otpSessionActiveLeftOut)
        return reply;
    QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
    answer.remove(QStringLiteral("sessionActive"));
    reply.body = QJsonDocument(answer).toJson(QJsonDocument::Compact);
    return reply;
}

Reply Authority::login(const Request &request)
{
    auto refuse = [&](const QString &path, const QString &error) {
        QUrl target = request.serverUrl.resolved(QUrl(path));
        target.setQuery(QUrlQuery{{QStringLiteral("error"), error}});
        return redirect(target);
    };
    const QUrlQuery form = formFields(request);
    Session *session = sessionOf(request);
    const QString csrf = decoded(form, QStringLiteral("_csrf"));
    if (!session || csrf.isEmpty() || csrf != session->csrf)
        return refuse(invalidSessionPath, QStringLiteral("Invalid session. Please sign in again."));
    if (m_loginInternalError)
        return refuse(loginFailedPath, internalErrorText);
    const QString uid = decoded(form, QStringLiteral("uid"));
    const QString otp = decoded(form, QStringLiteral("otp"));
    if (m_loginRefused || session->otp.isEmpty() || otp != session->otp || uid != session->otpUid)
        return refuse(loginFailedPath, QStringLiteral("Invalid OTP"));

    session->otp.clear();
    session->signedIn = true;
    session->uid = uid;
    QUrl back = request.serverUrl.resolved(QUrl(authorizePath));
    back.setQuery(session->authorizeQuery);
    return redirect(back);
}

Reply Authority::loginRefused(const Request &request) const
{
    const QString error = decoded(QUrlQuery(request.query), QStringLiteral("error"));
    return htmlPage(200, QStringLiteral("Sign-in failed"),
                QStringLiteral("<p id=\"error\">%1</p>")
                    .arg(error.isEmpty() ? QStringLiteral("The sign-in did not succeed.") : htmlEscaped(error)));
}

Reply Authority::callback(const Request &) const
{
    return htmlPage(200, QStringLiteral("Signed in"), QStringLiteral("<p>You are signed in. You can close this page.</p>"));
}

Reply Authority::token(const Request &request)
{
    // Read as a form decoder reads it: a bare '+' is a blank.
    const QUrlQuery query(QString(request.query).replace(u'+', QLatin1String("%20")));
    if (decoded(query, QStringLiteral("client_id")) != clientId)
        return tokenError(401, QStringLiteral("invalid_client"), QStringLiteral("Unknown client."));
    if (decoded(query, QStringLiteral("grant_type")) != QLatin1String("authorization_code"))
        return tokenError(400, QStringLiteral("unsupported_grant_type"),
                          QStringLiteral("Only authorization_code is supported."));
    const QString code = decoded(query, QStringLiteral("code"));
    const QString verifier = decoded(query, QStringLiteral("code_verifier"));
    if (code.isEmpty() || verifier.isEmpty())
        return tokenError(400, QStringLiteral("invalid_request"), QStringLiteral("code and code_verifier are required."));

    // A code is spent by its first use, whatever the outcome.
    const auto found = m_codes.constFind(code);
    if (found == m_codes.cend())
        return tokenError(400, QStringLiteral("invalid_grant"), QStringLiteral("Invalid authorization code."));
    const Grant grant = *found;
    m_codes.erase(found);
    m_codeOrder.removeOne(code);

    if (m_tokenRefused)
        return tokenError(400, QStringLiteral("invalid_grant"), QStringLiteral("The authorization code was refused."));
    if (grant.challengeMethod != QLatin1String("S256"))
        return tokenError(400, QStringLiteral("invalid_request"), QStringLiteral("Only S256 code challenges are accepted."));
    if (!isVerifier(verifier) || s256(verifier) != grant.challenge)
        return tokenError(400, QStringLiteral("invalid_grant"), QStringLiteral("PKCE verification failed."));

    const QString accessToken = randomText(48);
    keep(m_tokens, m_tokenOrder, accessToken, grant.uid);
    return Reply::json(200, QJsonObject{{QStringLiteral("access_token"), accessToken},
                                        {QStringLiteral("token_type"), QStringLiteral("bearer")},
                                        {QStringLiteral("expires_in"), 1800},
                                        {QStringLiteral("scope"), QStringLiteral("READ")}});
}

Reply Authority::download(const Request &request)
{
    const QByteArray authorization = request.header("Authorization").trimmed();
    const QString accessToken = authorization.left(7).compare("Bearer ", Qt::CaseInsensitive) == 0
        ? QString::fromLatin1(authorization.mid(7).trimmed())
        : QString();
    const auto holder = m_tokens.constFind(accessToken);
    if (m_downloadRefused || accessToken.isEmpty() || holder == m_tokens.cend())
        return downloadRefusal(401, tokenExpiredText);
    if (!request.json.isObject())
        return downloadRefusal(400, QStringLiteral("Malformed request."));
    const QString shareCode = request.jsonObject().value(QStringLiteral("shareCode")).toString();
    if (!isFourDigits(shareCode))
        return downloadRefusal(400, QStringLiteral("Share code must be four digits."));
    const QString uid = *holder;
    if (request.jsonObject().value(QStringLiteral("uid")).toString() != uid)
        return downloadRefusal(403, QStringLiteral("The Aadhaar number is not the one signed in."));

    ServedDocument served;
    served.document = simulator::makeOfflineKycDocument(m_documentOptions);
    // The reference id starts with the number's last four digits, then the time it was made.
    const QString stamp = served.document.referenceId.mid(4);
    served.document.referenceId = uid.right(4) + stamp;
    served.xml = simulator::offlineKycXml(served.document, -1);
    served.xmlFileName = QStringLiteral("offlineaadhaar") + stamp + QStringLiteral(".xml");
    served.shareCode = m_archiveShareCode.isEmpty() ? shareCode : m_archiveShareCode;
    QString error;
    if (m_archiveFile.isEmpty())
        served.archive = simulator::makeOfflineKycArchive(served.xml, served.xmlFileName, served.shareCode, &error,
                                                          m_archiveForm);
    else
        served = ServedDocument{.archive = m_archiveFile}; // its document is not known here
    if (served.archive.isEmpty())
        return downloadRefusal(500, QStringLiteral("The offline e-KYC could not be made: ") + error);
    if (m_archiveDamaged)
        damage(served.archive);

    const QByteArray base64 = served.archive.toBase64();
    const QString text = m_lineBreaks ? wrapped(base64, 76) : QString::fromLatin1(base64);
    m_lastDocument = std::move(served);
    return Reply::json(200, QJsonObject{{QStringLiteral("status"), QStringLiteral("Success")},
                                        {QStringLiteral("message"), QStringLiteral("Offline e-KYC generated.")},
                                        {QStringLiteral("eKycXML"), text}});
}

} // namespace orvix::sim

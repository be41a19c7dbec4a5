#include "simulator/DigiLocker.h"

#include <QUrlQuery>

#include <algorithm>

namespace orvix::sim {

namespace {

const QString pathStart = QStringLiteral("/");


Reply unknownTransaction(const QString &tx)
{
    const QString text = tx.isEmpty() ? QStringLiteral("No transaction was given.")
                                      : QStringLiteral("There is no transaction %1.").arg(htmlEscaped(tx));
    return htmlPage(404, QStringLiteral("Unknown transaction"), QStringLiteral("<p>%1</p>").arg(text));
}

// The transaction named by "tx" in the query or, for a posted form, in the body.
QString transactionOf(const Request &request)
{
    auto valueIn = [](QString encoded) {
        encoded.replace(u'+', QLatin1String("%20"));
        return QUrlQuery(encoded).queryItemValue(QStringLiteral("tx"), QUrl::FullyDecoded);
    };
    QString tx = valueIn(request.query);
    const QByteArray type = request.header("Content-Type").toLower();
    if (tx.isEmpty() && type.startsWith("application/x-www-form-urlencoded"))
        tx = valueIn(QString::fromUtf8(request.body));
    return tx;
}

// Whether `url` can go into a Location header as it is: not empty, and no
// control character that would end the header or the reply head.
bool fitsInHeader(const QString &url)
{
    return !url.isEmpty()
        && std::none_of(url.cbegin(), url.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

Reply hostPage(const QString &title, const QString &text)
{
    return htmlPage(200, title, QStringLiteral("<p>%1</p>").arg(htmlEscaped(text)));
}

} // namespace

DigiLocker::DigiLocker(const Backend &backend, QObject *parent) : QObject(parent), m_backend(backend) {}

QList<Route> DigiLocker::routes()
{
    const QRegularExpression decision(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(pathStart + consentPath) + QStringLiteral("/(allow|deny)")));
    auto decide = [this](const Request &r) { return this->decide(r); };
    // Host pages take any method: a redirect may keep a POST.
    return {
        Route{consentRoute, "GET", pathPattern(pathStart + consentPath), [this](const Request &r) { return consent(r); }},
        Route{decisionRoute, "POST", decision, decide},
        Route{decisionRoute, "GET", decision, decide},
        Route{hostSuccessRoute, {}, pathPattern(pathStart + hostSuccessPath),
              [](const Request &) {
                  return hostPage(QStringLiteral("Verification complete"), QStringLiteral("You can close this page."));
              }},
        Route{hostFailureRoute, {}, pathPattern(pathStart + hostFailurePath),
              [](const Request &) {
                  return hostPage(QStringLiteral("Verification cancelled"),
                                  QStringLiteral("No document was shared. You can close this page."));
              }},
    };
}

Reply DigiLocker::consent(const Request &request) const
{
    const QString tx = transactionOf(request);
    const std::optional<Backend::DocFetch> fetch = m_backend.docFetch(tx);
    if (!fetch)
        return unknownTransaction(tx);

    auto button = [&](const QString &path, const QString &id, const QString &label) {
        QUrl action(pathStart + path);
        action.setQuery(QUrlQuery{{QStringLiteral("tx"), tx}});
        return QStringLiteral("<form method=\"post\" action=\"%1\"><button type=\"submit\" id=\"%2\">%3</button></form>")
            .arg(htmlEscaped(action.toString(QUrl::FullyEncoded)), id, label);
    };
    const QString document = fetch->docType.isEmpty() ? QStringLiteral("documents") : fetch->docType;
    const QString body =
        QStringLiteral("<p>Signed in as <strong id=\"username\">%1</strong>.</p>\n"
                       "<p>Share your <strong>%2</strong> from DigiLocker with the requesting service?</p>\n%3\n%4")
            .arg(htmlEscaped(fetch->username), htmlEscaped(document),
                 button(allowPath, QStringLiteral("allow"), QStringLiteral("Allow")),
                 button(denyPath, QStringLiteral("deny"), QStringLiteral("Deny")));
    return htmlPage(200, QStringLiteral("DigiLocker consent"), body);
}

Reply DigiLocker::decide(const Request &request)
{
    const bool allowed = request.captures.value(0) == QLatin1String("allow");
    const QString tx = transactionOf(request);
    const std::optional<Backend::DocFetch> fetch = m_backend.docFetch(tx);
    if (!fetch)
        return unknownTransaction(tx);

    m_decisions.append({tx, allowed});
    emit decided(tx, allowed);

    const QString target = allowed ? fetch->callbackUrl : fetch->cancelUrl;
    if (!fitsInHeader(target))
        return htmlPage(400, QStringLiteral("No way back"),
                    QStringLiteral("<p>The %1 URL given for this transaction cannot be redirected to.</p>")
                        .arg(allowed ? QStringLiteral("callback") : QStringLiteral("cancel")));
    Reply reply = htmlPage(302, QStringLiteral("Redirecting"),
                       QStringLiteral("<p><a href=\"%1\">Continue</a></p>").arg(htmlEscaped(target)));
    reply.headers.append({"Location", target.toUtf8()});
    return reply;
}

} // namespace orvix::sim

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
        return QStringLiteral("<form method=\"post\" action=\"%1\"><button type=\"submit\" id=\"%2\" class=\"%2\">"
                              "%3</button></form>")
            .arg(htmlEscaped(action.toString(QUrl::FullyEncoded)), id, label);
    };
    const QString document = fetch->docType.isEmpty() ? QStringLiteral("documents") : fetch->docType;
    // Laid out like a real consent page: who is signed in, what is shared, two clear choices.
    const QString html = QStringLiteral(R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width">
<title>DigiLocker consent</title>
<style>
body { margin: 0; background: #EEF2F7; color: #1B1F24; font: 15px/1.45 "DejaVu Sans", Arial, sans-serif; }
header { background: #2D3E8B; color: #FFFFFF; padding: 14px 20px; font-size: 18px; font-weight: 700; }
main { max-width: 440px; margin: 20px auto; padding: 0 14px; }
.card { background: #FFFFFF; border-radius: 12px; padding: 20px; box-shadow: 0 1px 4px rgba(0,0,0,.12); }
h1 { font-size: 20px; margin: 0 0 6px; }
.who { color: #57606A; margin: 0 0 16px; }
ul { margin: 8px 0 16px; padding-left: 20px; }
li { margin: 3px 0; }
.note { color: #57606A; font-size: 13px; margin: 0 0 18px; }
.actions { display: flex; gap: 12px; }
.actions form { flex: 1; margin: 0; }
button { width: 100%; padding: 11px 0; border-radius: 8px; font: inherit; font-weight: 700; cursor: pointer; }
button.allow { background: #2D3E8B; color: #FFFFFF; border: 1px solid #2D3E8B; }
button.deny { background: #FFFFFF; color: #2D3E8B; border: 1px solid #2D3E8B; }
</style></head>
<body>
<header>DigiLocker</header>
<main><div class="card">
<h1>Share your %2</h1>
<p class="who">Signed in as <strong id="username">%1</strong></p>
<p>The requesting service asks for your <strong>%2</strong> from DigiLocker. It will receive:</p>
<ul><li>the issued document</li><li>your name, date of birth and gender</li><li>your address and photograph</li></ul>
<p class="note">Allow shares it once; Deny shares nothing.</p>
<div class="actions">
%4
%3
</div>
</div></main>
</body></html>
)")
                             .arg(htmlEscaped(fetch->username), htmlEscaped(document),
                                  button(allowPath, QStringLiteral("allow"), QStringLiteral("Allow")),
                                  button(denyPath, QStringLiteral("deny"), QStringLiteral("Deny")));
    return Reply::bytes(200, html.toUtf8(), "text/html; charset=utf-8");
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

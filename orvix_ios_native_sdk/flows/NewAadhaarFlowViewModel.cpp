#include "orvix_ios_native_sdk/flows/NewAadhaarFlowViewModel.h"

#include "orvix_ios_native_sdk/core/Endpoints.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "platform/device/device.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUrl>
#include <QUuid>

namespace orvix {

namespace {

HTTPHeaders agentHeaders()
{
    return HTTPHeaders{{"User-Agent", NewAadhaarFlowViewModel::userAgent.toUtf8()}};
}

QString vendorIdentifier()
{
    const std::optional<QUuid> id =
        platform::device::identifierForVendor(QString::fromLatin1(kitBundleIdentifier));
    return id ? id->toString(QUuid::WithoutBraces).toUpper() : QString();
}

} // namespace

QString NewAadhaarFlowViewModel::makeCodeVerifier()
{
    static const QByteArray alphabet =
        QByteArrayLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~");
    constexpr int length = 64;
    QString verifier;
    verifier.reserve(length);
    QRandomGenerator *random = QRandomGenerator::system();
    for (int i = 0; i < length; ++i)
        verifier += QLatin1Char(alphabet.at(int(random->bounded(quint32(alphabet.size())))));
    return verifier;
}

QString NewAadhaarFlowViewModel::codeChallenge(const QString &verifier)
{
    const QByteArray digest = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString NewAadhaarFlowViewModel::authorizeQuery(const QString &challenge)
{
    return QStringLiteral("grant_type=") + grantType + QStringLiteral("&response_type=") + responseType
        + QStringLiteral("&client_id=") + clientId + QStringLiteral("&scope=") + scope
        + QStringLiteral("&code_challenge_method=") + codeChallengeMethod + QStringLiteral("&code_challenge=")
        + challenge;
}

QString NewAadhaarFlowViewModel::tokenURL(const QString &code, const QString &codeVerifier)
{
    const auto encoded = [](const QString &text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); };
    return authorityServiceBaseURL() + QStringLiteral("/access/oauth/token") + QStringLiteral("?client_id=")
        + clientId + QStringLiteral("&grant_type=") + grantType + QStringLiteral("&code_verifier=")
        + encoded(codeVerifier) + QStringLiteral("&code=") + encoded(code);
}

QVariantMap NewAadhaarFlowViewModel::toVariantMap(const OptionalParameters &parameters)
{
    QVariantMap map;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        map.insert(it.key(), it.value() ? QVariant(*it.value()) : QVariant::fromValue(nullptr));
    return map;
}

void NewAadhaarFlowViewModel::authorize(const QString &query, APIHandler::OnSuccess onSuccess,
                                        APIHandler::OnFailure onFailure) const
{
    const HTTPHeaders headers{
        {"accept", "text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,image/apng,*/*;"
                   "q=0.8,application/signed-exchange;v=b3;q=0.9"},
        {"accept-language", "en-GB,en;q=0.9"},
        {"cache-control", "no-cache"},
        {"pragma", "no-cache"},
        {"upgrade-insecure-requests", "1"},
    };
    APIHandler::getRequestWithHeaders({}, headers, authorityServiceBaseURL() + QStringLiteral("/access/oauth/authorize?") + query,
                                      std::move(onSuccess), std::move(onFailure));
}

void NewAadhaarFlowViewModel::generateCaptcha(const QString &suffix, APIHandler::OnSuccess onSuccess,
                                              APIHandler::OnFailure onFailure) const
{
    APIHandler::getRequest({}, authorityServiceBaseURL() + QStringLiteral("/generateCaptcha") + suffix, agentHeaders(),
                           QString(), std::move(onSuccess), std::move(onFailure));
}

void NewAadhaarFlowViewModel::generateOTP(const OptionalParameters &parameters, APIHandler::OnSuccess onSuccess,
                                          APIHandler::OnFailure onFailure) const
{
    APIHandler::postRequest(toVariantMap(parameters), authorityServiceBaseURL() + QStringLiteral("/generateOTPForOAuth"),
                            agentHeaders(), QString(), std::move(onSuccess), std::move(onFailure));
}

void NewAadhaarFlowViewModel::login(const QMap<QString, QString> &parameters, APIHandler::OnSuccess onSuccess,
                                    APIHandler::OnFailure onFailure) const
{
    QVariantMap map;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        map.insert(it.key(), it.value());
    HTTPHeaders headers = agentHeaders();
    headers.add(QByteArray("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    APIHandler::postFormRequest(map, headers, authorityServiceBaseURL() + QStringLiteral("/login"), std::move(onSuccess),
                                std::move(onFailure));
}

void NewAadhaarFlowViewModel::getToken(const QString &code, const QString &codeVerifier,
                                       APIHandler::OnSuccess onSuccess, APIHandler::OnFailure onFailure) const
{
    // A JSON body of one empty member, sent under the form content type.
    const HTTPHeaders headers{{"Content-Type", "application/x-www-form-urlencoded"}};
    APIHandler::postRequest(QVariantMap{{QString(), QString()}}, tokenURL(code, codeVerifier), headers, QString(),
                            std::move(onSuccess), std::move(onFailure));
}

void NewAadhaarFlowViewModel::downloadOfflineEkyc(const OptionalParameters &parameters, const QString &token,
                                                  APIHandler::OnSuccess onSuccess,
                                                  APIHandler::OnFailure onFailure) const
{
    APIHandler::postRequest(toVariantMap(parameters),
                            authorityServiceBaseURL() + QStringLiteral("/eAadhaarService/api/oauth/downloadOfflineEkyc"),
                            makeHeaders(token), QString(), std::move(onSuccess), std::move(onFailure),
                            kMaxArchiveReplyBytes);
}

HTTPHeaders NewAadhaarFlowViewModel::makeHeaders(const QString &token) const
{
    const QString transactionId = vendorIdentifier();
    const QString requestId = vendorIdentifier();
    const QString bearer = QStringLiteral("Bearer ") + token;
    return HTTPHeaders{
        {"transactionId", transactionId.toUtf8()},
        {"X-Request-ID", requestId.toUtf8()},
        {"Authorization", bearer.toUtf8()},
        {"'Accept'", "application/json, text/plain, */*"},
        {"'Connection'", "keep-alive"},
        {"Pragma", "no-cache"},
        {"Cache-Control", "no-cache"},
        {"Accept-Language", "en_IN"},
        {"sec-ch-ua", "\" Not A;Brand\";v=\"99\", \"Chromium\";v=\"96\", \"Google Chrome\";v=\"96\""},
        {"sec-ch-ua-mobile", "?0"},
        {"'Referer'", authorityPortalURL().toUtf8()},
    };
}

} // namespace orvix

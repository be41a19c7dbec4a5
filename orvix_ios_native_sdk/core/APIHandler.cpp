#include "orvix_ios_native_sdk/core/APIHandler.h"

#include "platform/log/log.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QStringList>

namespace orvix {

namespace net = platform::net;
using platform::log::line;
using platform::log::redactedURL;

net::URLRequest RetryInterceptor::adapt(const net::URLRequest &request)
{
    if (!m_hasRetried)
        return request;
    // The resend goes out with the same method and header fields.
    net::URLRequest copy = request;
    copy.method = request.method;
    copy.headers = request.headers;
    return copy;
}

net::RetryResult RetryInterceptor::retry(const net::URLRequest &, const net::NetError &)
{
    const net::RetryResult result = m_hasRetried ? net::RetryResult::doNotRetry : net::RetryResult::retry;
    m_hasRetried = true;
    return result;
}

QString redactedDescription(const QVariantMap &map)
{
    if (map.isEmpty())
        return QStringLiteral("[:]");
    QStringList items;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        items.append(QStringLiteral("\"%1\": \"<redacted>\"").arg(it.key()));
    return u'[' + items.join(QStringLiteral(", ")) + u']';
}

namespace {

HTTPHeaders credentialOnly(const QString &credentialId)
{
    HTTPHeaders h;
    h.add(APIHandler::credentialHeaderName, credentialId.toUtf8());
    return h;
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

void logFailedBody(const net::DataResponse &response)
{
    if (response.data && !response.data->isEmpty())
        line(QStringLiteral("%1 bytes").arg(response.data->size()));
}

// The reply of postRequest and getRequest, or the error that replaces it.
struct JsonOutcome {
    std::optional<QVariant> value;
    std::optional<net::NetError> error;
};

JsonOutcome parseJsonReply(const net::DataResponse &response)
{
    JsonOutcome out;
    QJsonParseError parseError{};
    const QByteArray body = response.data.value_or(QByteArray());
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || doc.isNull()) {
        out.error = net::NetError::responseSerializationFailed(
            net::NetError::SerializationReason::jsonSerializationFailed,
            body.isEmpty() ? QStringLiteral("the body is empty") : parseError.errorString());
        return out;
    }
    if (doc.isObject()) {
        QVariantMap map = doc.object().toVariantMap();
        map.insert(QStringLiteral("statusCode"), response.response ? response.response->statusCode : 0);
        out.value = map;
    } else {
        out.value = QString();
    }
    return out;
}

void logJsonValue(const QVariant &value)
{
    if (value.typeId() == QMetaType::QVariantMap)
        line(redactedDescription(value.toMap()));
    else
        line(QString());
}

enum class JsonOperation { post, get };

void sendJson(JsonOperation op, const QVariantMap &parameters, const QString &url,
              const std::optional<HTTPHeaders> &headers, const QString &credentialId, APIHandler::OnSuccess onSuccess,
              APIHandler::OnFailure onFailure, qint64 maximumReplyBytes)
{
    net::DataRequestOptions options;
    options.urlText = url;
    options.maximumBodySize = maximumReplyBytes;
    options.parameters = parameters;
    options.headers = headers ? *headers : credentialOnly(credentialId);
    if (op == JsonOperation::post) {
        options.method = net::HTTPMethod::POST;
        options.encoding = net::ParameterEncoding::json;
        line(redactedURL(url) + u'\n' + redactedDescription(parameters));
    } else {
        options.method = net::HTTPMethod::GET;
        options.encoding = net::ParameterEncoding::queryString;
        line(QStringLiteral("API Call URL--->") + redactedURL(url));
    }
    net::Session::shared().request(
        std::move(options), std::make_shared<RetryInterceptor>(),
        [op, onSuccess = std::move(onSuccess), onFailure = std::move(onFailure)](const net::DataResponse &response) {
            if (response.error) {
                if (op == JsonOperation::get)
                    line(response.error->localizedDescription());
                if (onFailure)
                    onFailure(Error(*response.error));
                logFailedBody(response);
                return;
            }
            if (op == JsonOperation::get)
                line(QStringLiteral("success %1 bytes").arg(response.data ? response.data->size() : 0));
            const JsonOutcome outcome = parseJsonReply(response);
            if (outcome.error) {
                line(QStringLiteral("erroMsg"));
                if (onFailure)
                    onFailure(Error(*outcome.error));
                return;
            }
            logJsonValue(*outcome.value);
            if (onSuccess)
                onSuccess(*outcome.value);
        });
}

} // namespace

void APIHandler::postRequest(const QVariantMap &parameters, const QString &url,
                             const std::optional<HTTPHeaders> &headers, const QString &credentialId,
                             OnSuccess onSuccess, OnFailure onFailure, qint64 maximumReplyBytes)
{
    sendJson(JsonOperation::post, parameters, url, headers, credentialId, std::move(onSuccess),
             std::move(onFailure), maximumReplyBytes);
}

void APIHandler::getRequest(const QVariantMap &parameters, const QString &url,
                            const std::optional<HTTPHeaders> &headers, const QString &credentialId,
                            OnSuccess onSuccess, OnFailure onFailure)
{
    sendJson(JsonOperation::get, parameters, url, headers, credentialId, std::move(onSuccess), std::move(onFailure),
             kMaxReplyBytes);
}

void APIHandler::uploadRequest(const QString &url, const QString &credentialId, const QString &fieldName,
                               const std::optional<QList<QByteArray>> &files, OnSuccess onSuccess,
                               OnFailure onFailure)
{
    line(QStringLiteral("API Call URL--->") + redactedURL(url));
    net::MultipartFormData form;
    if (files) {
        for (const QByteArray &data : *files)
            form.append(data, fieldName, QStringLiteral("aadhaar.zip"), QStringLiteral("application/octet-stream"));
    }
    net::Session::shared().upload(
        std::move(form), url, credentialOnly(credentialId), std::make_shared<RetryInterceptor>(),
        [onSuccess = std::move(onSuccess), onFailure = std::move(onFailure)](const net::DataResponse &response) {
            std::optional<net::NetError> error = response.error;
            if (!error && response.response->statusCode != 200)
                error = net::NetError::responseValidationFailed(response.response->statusCode);
            if (error) {
                line(error->debugDescription());
                if (onFailure)
                    onFailure(Error(*error));
                logFailedBody(response);
                return;
            }
            if (onSuccess)
                onSuccess(QVariantMap{{QStringLiteral("status"), 200}});
        },
        net::MultipartFormData::encodingMemoryThreshold, kMaxReplyBytes);
}

namespace {

enum class TextOperation { get, postForm };

// The two operations that read the reply as text and send only the caller's headers.
void sendText(TextOperation op, const QVariantMap &parameters, const std::optional<HTTPHeaders> &headers,
              const QString &url, APIHandler::OnSuccess onSuccess, APIHandler::OnFailure onFailure)
{
    net::DataRequestOptions options;
    options.urlText = url;
    options.parameters = parameters;
    options.headers = headers.value_or(HTTPHeaders{});
    options.maximumBodySize = kMaxReplyBytes;
    if (op == TextOperation::get) {
        line(QStringLiteral("API Call URL--->") + redactedURL(url));
        options.method = net::HTTPMethod::GET;
        options.encoding = net::ParameterEncoding::queryString;
    } else {
        line(redactedURL(url) + u'\n' + redactedDescription(parameters));
        options.method = net::HTTPMethod::POST;
        options.encoding = net::ParameterEncoding::methodDependent;
    }
    net::Session::shared().request(
        std::move(options), std::make_shared<RetryInterceptor>(),
        [op, onSuccess = std::move(onSuccess), onFailure = std::move(onFailure)](const net::DataResponse &response) {
            std::optional<net::NetError> error = response.error;
            std::optional<QString> text;
            if (!error) {
                if (op == TextOperation::postForm)
                    line(response.description());
                text = response.data ? decodeUtf8(*response.data) : std::nullopt;
                if (!text)
                    error = net::NetError::responseSerializationFailed(
                        net::NetError::SerializationReason::stringSerializationFailed);
            }
            if (error) {
                line(error->debugDescription());
                if (onFailure)
                    onFailure(Error(*error));
                logFailedBody(response);
                return;
            }
            if (op == TextOperation::get) {
                if (onSuccess)
                    onSuccess(*text);
                return;
            }
            const QVariant resQuery = response.response ? QVariant(response.response->url) : QVariant(QString());
            line(response.response ? redactedURL(response.response->url) : QString());
            if (onSuccess)
                onSuccess(QVariantMap{{QStringLiteral("resQuery"), resQuery}, {QStringLiteral("resString"), *text}});
        });
}

} // namespace

void APIHandler::getRequestWithHeaders(const QVariantMap &parameters, const std::optional<HTTPHeaders> &headers,
                                       const QString &url, OnSuccess onSuccess, OnFailure onFailure)
{
    sendText(TextOperation::get, parameters, headers, url, std::move(onSuccess), std::move(onFailure));
}

void APIHandler::postFormRequest(const QVariantMap &parameters, const std::optional<HTTPHeaders> &headers,
                                 const QString &url, OnSuccess onSuccess, OnFailure onFailure)
{
    sendText(TextOperation::postForm, parameters, headers, url, std::move(onSuccess), std::move(onFailure));
}

} // namespace orvix

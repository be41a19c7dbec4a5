// XML text to JSON to the record, with the converter's promises checked:
// it fails exactly when the reader finds the XML malformed, and what it
// returns otherwise decodes as one JSON object that the model reads.

#include "orvix_ios_native_sdk/document/OfflinePaperlessKycModel.h"
#include "orvix_ios_native_sdk/document/ParseXMLData.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const QString &json)
{
    std::fprintf(stderr, "%s\n%s\n", what, json.left(2000).toUtf8().constData());
    std::abort();
}

bool wellFormed(const QString &xml)
{
    QXmlStreamReader reader(xml);
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString xml = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    orvix::ParseXMLData parser(xml);
    const QString json = parser.convertToJSON();

    if (json.isEmpty()) {
        if (parser.errorString().isEmpty())
            fail("failed without a message", json);
        if (wellFormed(xml))
            fail("failed on well-formed XML", json);
        return 0;
    }
    if (!wellFormed(xml))
        fail("converted malformed XML", json);

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error == QJsonParseError::DeepNesting)
        return 0; // valid, but deeper than the decoder takes
    if (error.error != QJsonParseError::NoError || !document.isObject() || document.object().size() != 1)
        fail(qPrintable(QStringLiteral("not one JSON object: ") + error.errorString()), json);

    // The record, and each class on whatever the root holds.
    const QVariantMap whole = document.object().toVariantMap();
    const QVariantMap root = whole.constBegin()->toMap();
    const orvix::Json4Swift_Base base(whole);
    const orvix::OfflinePaperlessKyc record(root);
    const orvix::Signature signature(root);
    const auto models = orvix::UidData::modelsFromDictionaryArray(whole.constBegin()->toList());
    if (models.size() != whole.constBegin()->toList().size())
        fail("models lost", json);

    // Rebuilt from its own representation, the record is the same.
    const QVariantMap representation = record.dictionaryRepresentation();
    if (orvix::OfflinePaperlessKyc(representation).dictionaryRepresentation() != representation)
        fail("representation does not round-trip", json);
    if (base.offlinePaperlessKyc()
        && base.offlinePaperlessKyc()->dictionaryRepresentation() != representation)
        fail("document and record disagree", json);
    (void)signature.dictionaryRepresentation();
    return 0;
}

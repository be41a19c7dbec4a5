#pragma once
// The expected record of a committed outside-tool archive, read from the
// document committed beside it rather than regenerated, so the fixtures stay
// valid whatever the generator does later.

#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QFile>
#include <QXmlStreamReader>

namespace orvix::testsupport {

inline simulator::OfflineKycDocument fixtureDocument(const QString &xmlPath, QByteArray *xml = nullptr)
{
    simulator::OfflineKycDocument d;
    QFile file(xmlPath);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (xml)
        *xml = bytes;
    QXmlStreamReader reader(bytes);
    while (reader.readNextStartElement() || !reader.atEnd()) {
        if (!reader.isStartElement())
            continue;
        const QXmlStreamAttributes a = reader.attributes();
        const auto name = reader.name();
        if (name == u"OfflinePaperlessKyc") {
            d.referenceId = a.value("referenceId").toString();
        } else if (name == u"Poi") {
            d.name = a.value("name").toString();
            d.dob = a.value("dob").toString();
            d.gender = a.value("gender").toString();
            d.e = a.value("e").toString();
            d.m = a.value("m").toString();
        } else if (name == u"Poa") {
            d.careof = a.value("careof").toString();
            d.country = a.value("country").toString();
            d.dist = a.value("dist").toString();
            d.house = a.value("house").toString();
            d.landmark = a.value("landmark").toString();
            d.loc = a.value("loc").toString();
            d.pc = a.value("pc").toString();
            d.po = a.value("po").toString();
            d.state = a.value("state").toString();
            d.street = a.value("street").toString();
            d.subdist = a.value("subdist").toString();
            d.vtc = a.value("vtc").toString();
        } else if (name == u"Pht") {
            d.photo = QByteArray::fromBase64(reader.readElementText().toLatin1());
        } else if (name == u"CanonicalizationMethod") {
            d.canonicalizationAlgorithm = a.value("Algorithm").toString();
        } else if (name == u"SignatureMethod") {
            d.signatureAlgorithm = a.value("Algorithm").toString();
        } else if (name == u"Reference") {
            d.referenceUri = a.value("URI").toString();
        } else if (name == u"Transform") {
            d.transformAlgorithm = a.value("Algorithm").toString();
        } else if (name == u"DigestMethod") {
            d.digestAlgorithm = a.value("Algorithm").toString();
        } else if (name == u"DigestValue") {
            d.digestValue = reader.readElementText();
        } else if (name == u"SignatureValue") {
            d.signatureValue = reader.readElementText();
        } else if (name == u"X509SubjectName") {
            d.subjectName = reader.readElementText();
        } else if (name == u"X509Certificate") {
            d.certificate = reader.readElementText();
        }
    }
    return d;
}

} // namespace orvix::testsupport

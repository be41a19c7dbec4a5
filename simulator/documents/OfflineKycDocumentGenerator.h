#pragma once
// Realistic offline e-KYC documents: the authority's element and attribute
// names, a Base64 JPEG photograph and an enveloped XML signature block. The
// signature is shaped like a real one but signs nothing.

#include <QByteArray>
#include <QSize>
#include <QString>

namespace orvix::simulator {

// The values as the document writes them.
struct OfflineKycDocument {
    QString referenceId;
    // Poi
    QString name, dob, gender, e, m;
    // Poa
    QString careof, country, dist, house, landmark, loc, pc, po, state, street, subdist, vtc;
    QByteArray photo; // JPEG bytes; the document holds them in Base64
    // Signature
    QString canonicalizationAlgorithm, signatureAlgorithm, referenceUri, transformAlgorithm,
        digestAlgorithm, digestValue, signatureValue, subjectName, certificate;
};

struct OfflineKycOptions {
    quint32 seed = 1;           // same seed, same document
    QSize photoSize{160, 200};  // the photograph's pixels
    int photoQuality = 75;      // JPEG quality, 0 to 100
};

// A resident with plausible details (some with "&", "'" or non-ASCII text).
OfflineKycDocument makeOfflineKycDocument(const OfflineKycOptions &options = {});

// The document as UTF-8 XML with its declaration. indent < 0 writes one
// line; 0 puts each tag on its own line; n > 0 also indents by n blanks.
QByteArray offlineKycXml(const OfflineKycDocument &document, int indent = 4);

// A JPEG portrait-like picture; empty when no JPEG writer is available.
QByteArray jpegPhotograph(QSize size, quint32 seed, int quality = 75);

} // namespace orvix::simulator

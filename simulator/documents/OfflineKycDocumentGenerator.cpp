#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QBuffer>
#include <QColor>
#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTimeZone>
#include <QXmlStreamWriter>

namespace orvix::simulator {
namespace {

template <size_t N>
QString pick(QRandomGenerator &random, const char *const (&pool)[N])
{
    return QString::fromUtf8(pool[random.bounded(quint32(N))]);
}

QByteArray randomBytes(QRandomGenerator &random, int count)
{
    QByteArray bytes(count, '\0');
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// Base64 in lines of `width` characters, as certificates are often written.
QString wrapped(const QByteArray &base64, int width)
{
    QString text;
    for (qsizetype at = 0; at < base64.size(); at += width) {
        if (at > 0)
            text += u'\n';
        text += QString::fromLatin1(base64.mid(at, width));
    }
    return text;
}

const char *const maleNames[] = {"Aarav", "Rahul", "Vikram", "Arjun", "Sanjay", "Rohan", "Suresh"};
const char *const femaleNames[] = {"Priya", "Ananya", "Lakshmi", "Meera", "Kavya", "Divya", "Anjali"};
const char *const lastNames[] = {"Sharma", "Iyer", "Reddy", "Patel", "Nair", "D'Souza",
                                 "Gupta", "Menon", "Singh", "Banerjee", "Kulkarni", "Rao"};
const char *const streets[] = {"MG Road", "Nehru Street", "5th Cross", "Lal Bahadur Shastri Marg",
                               "Station Road", "Temple Street", ""};
const char *const landmarks[] = {"Near Ganesh Temple", "Opp. Bus Stand", "Behind SBI & Post Office",
                                 "Near Śrī Mandir", "", "Beside \"Anand\" Sweets"};
const char *const houses[] = {"No. 12/3", "Flat 4B, Sai Residency", "#221", "H.No. 7-1-45", "Plot 9"};

struct Place {
    const char *state, *dist, *subdist, *vtc, *loc, *po, *pc;
};
const Place places[] = {
    {"Karnataka", "Bengaluru Urban", "Bengaluru South", "Bengaluru", "Koramangala", "Koramangala", "560034"},
    {"Maharashtra", "Pune", "Haveli", "Pune", "Kothrud", "Kothrud", "411038"},
    {"Tamil Nadu", "Chennai", "Mylapore", "Chennai", "Mylapore", "Mylapore", "600004"},
    {"West Bengal", "Kolkata", "Kolkata", "Kolkata", "Salt Lake", "Bidhannagar", "700091"},
    {"Kerala", "Ernakulam", "Kanayannur", "Kochi", "Edappally", "Edappally", "682024"},
};

} // namespace

QByteArray jpegPhotograph(QSize size, quint32 seed, int quality)
{
    if (size.isEmpty())
        return {};
    QRandomGenerator random(seed);
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(200 + int(random.bounded(40)), 210, 225));

    // Head and shoulders on a plain background.
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const int w = size.width(), h = size.height();
        painter.setBrush(QColor(40 + int(random.bounded(60)), 50, 90));
        painter.drawEllipse(QRect(w / 10, h * 7 / 10, w * 8 / 10, h * 6 / 10));
        painter.setBrush(QColor(150 + int(random.bounded(60)), 110, 80));
        painter.drawEllipse(QRect(w * 3 / 10, h * 2 / 10, w * 4 / 10, h * 5 / 10));
        painter.setBrush(QColor(30, 25, 20));
        painter.drawEllipse(QRect(w * 3 / 10, h * 15 / 100, w * 4 / 10, h * 2 / 10));
    }
    // Sensor noise, so the size grows with the pixels as a real photograph's does.
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int n = int(random.bounded(33)) - 16;
            const auto shift = [n](int c) { return qBound(0, c + n, 255); };
            line[x] = qRgb(shift(qRed(line[x])), shift(qGreen(line[x])), shift(qBlue(line[x])));
        }
    }

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image))
        return {};
    return buffer.data();
}

OfflineKycDocument makeOfflineKycDocument(const OfflineKycOptions &options)
{
    QRandomGenerator random(options.seed);
    OfflineKycDocument d;

    const QDateTime generated = QDateTime(QDate(2023, 1, 1), QTime(9, 0), QTimeZone::utc())
                                    .addMSecs(qint64(random.bounded(365u * 24 * 3600)) * 1000 + random.bounded(1000));
    d.referenceId = QStringLiteral("%1").arg(random.bounded(10000), 4, 10, QLatin1Char('0'))
                    + generated.toString(QStringLiteral("yyyyMMddhhmmsszzz"));

    // Name, gender and care-of agree: a son or daughter of a father, a wife
    // of a husband, or in the care of someone of the family.
    const QString surname = pick(random, lastNames);
    const bool male = random.bounded(2);
    const QString firstName = male ? pick(random, maleNames) : pick(random, femaleNames);
    d.name = firstName + u' ' + surname;
    d.dob = QDate(1950, 1, 1).addDays(random.bounded(20000)).toString(QStringLiteral("dd-MM-yyyy"));
    d.gender = male ? QStringLiteral("M") : QStringLiteral("F");
    static const char *const sonOf[] = {"S/O", "C/O"};
    static const char *const daughterOf[] = {"D/O", "W/O", "C/O"};
    const QString relation = male ? pick(random, sonOf) : pick(random, daughterOf);
    QString relative = pick(random, maleNames);
    if (relative == firstName)
        relative = QString::fromLatin1(maleNames[0] == firstName ? maleNames[1] : maleNames[0]);
    // The authority writes hashes of the e-mail address and mobile number.
    d.e = QString::fromLatin1(QCryptographicHash::hash(randomBytes(random, 32), QCryptographicHash::Sha256).toHex());
    d.m = QString::fromLatin1(QCryptographicHash::hash(randomBytes(random, 32), QCryptographicHash::Sha256).toHex());

    const Place &place = places[random.bounded(quint32(std::size(places)))];
    d.careof = relation + QStringLiteral(": ") + relative + u' ' + surname;
    d.country = QStringLiteral("India");
    d.dist = QString::fromUtf8(place.dist);
    d.house = pick(random, houses);
    d.landmark = pick(random, landmarks);
    d.loc = QString::fromUtf8(place.loc);
    d.pc = QString::fromUtf8(place.pc);
    d.po = QString::fromUtf8(place.po);
    d.state = QString::fromUtf8(place.state);
    d.street = pick(random, streets);
    d.subdist = QString::fromUtf8(place.subdist);
    d.vtc = QString::fromUtf8(place.vtc);

    d.photo = jpegPhotograph(options.photoSize, options.seed, options.photoQuality);

    d.canonicalizationAlgorithm = QStringLiteral("http://www.w3.org/TR/2001/REC-xml-c14n-20010315");
    d.signatureAlgorithm = QStringLiteral("http://www.w3.org/2000/09/xmldsig#rsa-sha1");
    d.referenceUri = QString();
    d.transformAlgorithm = QStringLiteral("http://www.w3.org/2000/09/xmldsig#enveloped-signature");
    d.digestAlgorithm = QStringLiteral("http://www.w3.org/2001/04/xmlenc#sha256");
    d.digestValue = QString::fromLatin1(
        QCryptographicHash::hash(d.referenceId.toUtf8() + d.name.toUtf8() + d.photo, QCryptographicHash::Sha256)
            .toBase64());
    d.signatureValue = QString::fromLatin1(randomBytes(random, 256).toBase64());
    d.subjectName = QStringLiteral("CN=DS Offline KYC Signer 0%1,OU=Technology,O=Identity Authority,L=Bengaluru,"
                                   "ST=Karnataka,C=IN")
                        .arg(random.bounded(10));
    d.certificate = wrapped(randomBytes(random, 1200).toBase64(), 76);
    return d;
}

QByteArray offlineKycXml(const OfflineKycDocument &d, int indent)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    if (indent >= 0) {
        w.setAutoFormatting(true);
        w.setAutoFormattingIndent(indent);
    }
    w.writeStartDocument(QStringLiteral("1.0"), true);
    w.writeStartElement(QStringLiteral("OfflinePaperlessKyc"));
    w.writeAttribute(QStringLiteral("referenceId"), d.referenceId);

    w.writeStartElement(QStringLiteral("UidData"));
    w.writeEmptyElement(QStringLiteral("Poi"));
    w.writeAttribute(QStringLiteral("dob"), d.dob);
    w.writeAttribute(QStringLiteral("e"), d.e);
    w.writeAttribute(QStringLiteral("gender"), d.gender);
    w.writeAttribute(QStringLiteral("m"), d.m);
    w.writeAttribute(QStringLiteral("name"), d.name);
    w.writeEmptyElement(QStringLiteral("Poa"));
    w.writeAttribute(QStringLiteral("careof"), d.careof);
    w.writeAttribute(QStringLiteral("country"), d.country);
    w.writeAttribute(QStringLiteral("dist"), d.dist);
    w.writeAttribute(QStringLiteral("house"), d.house);
    w.writeAttribute(QStringLiteral("landmark"), d.landmark);
    w.writeAttribute(QStringLiteral("loc"), d.loc);
    w.writeAttribute(QStringLiteral("pc"), d.pc);
    w.writeAttribute(QStringLiteral("po"), d.po);
    w.writeAttribute(QStringLiteral("state"), d.state);
    w.writeAttribute(QStringLiteral("street"), d.street);
    w.writeAttribute(QStringLiteral("subdist"), d.subdist);
    w.writeAttribute(QStringLiteral("vtc"), d.vtc);
    w.writeTextElement(QStringLiteral("Pht"), QString::fromLatin1(d.photo.toBase64()));
    w.writeEndElement(); // UidData

    w.writeStartElement(QStringLiteral("Signature"));
    w.writeAttribute(QStringLiteral("xmlns"), QStringLiteral("http://www.w3.org/2000/09/xmldsig#"));
    w.writeStartElement(QStringLiteral("SignedInfo"));
    w.writeEmptyElement(QStringLiteral("CanonicalizationMethod"));
    w.writeAttribute(QStringLiteral("Algorithm"), d.canonicalizationAlgorithm);
    w.writeEmptyElement(QStringLiteral("SignatureMethod"));
    w.writeAttribute(QStringLiteral("Algorithm"), d.signatureAlgorithm);
    w.writeStartElement(QStringLiteral("Reference"));
    w.writeAttribute(QStringLiteral("URI"), d.referenceUri);
    w.writeStartElement(QStringLiteral("Transforms"));
    w.writeEmptyElement(QStringLiteral("Transform"));
    w.writeAttribute(QStringLiteral("Algorithm"), d.transformAlgorithm);
    w.writeEndElement(); // Transforms
    w.writeEmptyElement(QStringLiteral("DigestMethod"));
    w.writeAttribute(QStringLiteral("Algorithm"), d.digestAlgorithm);
    w.writeTextElement(QStringLiteral("DigestValue"), d.digestValue);
    w.writeEndElement(); // Reference
    w.writeEndElement(); // SignedInfo
    w.writeTextElement(QStringLiteral("SignatureValue"), d.signatureValue);
    w.writeStartElement(QStringLiteral("KeyInfo"));
    w.writeStartElement(QStringLiteral("X509Data"));
    w.writeTextElement(QStringLiteral("X509SubjectName"), d.subjectName);
    w.writeTextElement(QStringLiteral("X509Certificate"), d.certificate);
    w.writeEndElement(); // X509Data
    w.writeEndElement(); // KeyInfo
    w.writeEndElement(); // Signature

    w.writeEndElement(); // OfflinePaperlessKyc
    w.writeEndDocument();
    return out;
}

} // namespace orvix::simulator

// Generated documents: random well-formed XML against a tree walk of our
// own, and realistic offline e-KYC documents through to the record.

#include "orvix_ios_native_sdk/document/OfflinePaperlessKycModel.h"
#include "orvix_ios_native_sdk/document/ParseXMLData.h"
#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <QXmlStreamReader>
#include <QtTest>

using namespace orvix;
using namespace Qt::StringLiterals;

namespace {

// Random well-formed XML written by hand, so entities, character references,
// CDATA and comments appear as a document would have them.
class RandomXml {
public:
    explicit RandomXml(quint32 seed) : m_random(seed) {}

    QString document()
    {
        QString xml;
        if (chance(3))
            xml += u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"_s;
        element(xml, 0);
        return xml;
    }

private:
    bool chance(int oneIn) { return m_random.bounded(oneIn) == 0; }
    template <size_t N>
    QString pick(const char16_t *const (&pool)[N]) { return QString::fromUtf16(pool[m_random.bounded(quint32(N))]); }

    QString name()
    {
        static const char16_t *const names[] = {u"a", u"b", u"Info", u"KeyInfo", u"Poi", u"p:x", u"ds:Info",
                                                u"Ü", u"名前", u"_x.y-z", u"k", u"I"};
        return pick(names);
    }

    QString text(bool inAttribute)
    {
        static const char16_t *const pieces[] = {
            u"word", u"\\", u"\\\\n", u"&amp;", u"&lt;", u"&gt;", u"&quot;", u"&apos;", u"&#10;", u"&#x1F600;",
            u"&#13;", u"&#9;", u"\t", u"\n", u" ", u"ü", u"名", u"😀", u"Info@", u"@}", u"{", u"}", u"[", u",",
            u":", u"'", u"#", u"\u2028"};
        static const char16_t *const markup[] = {u"<![CDATA[ a<b & \"c\" \\ ]]>", u"<!-- note -->", u"<?pi data?>"};
        QString value;
        const int count = int(m_random.bounded(6));
        for (int i = 0; i < count; ++i) {
            if (!inAttribute && chance(8))
                value += pick(markup);
            else
                value += pick(pieces);
            if (!inAttribute && chance(10))
                value += u'"'; // a raw quote is fine in content
        }
        return value;
    }

    void element(QString &xml, int depth)
    {
        const QString tag = name();
        xml += u'<' + tag;
        QSet<QString> used;
        const int attributes = chance(2) ? 0 : int(m_random.bounded(4));
        for (int i = 0; i < attributes; ++i) {
            static const char16_t *const keys[] = {u"k", u"xmlns", u"xmlns:p", u"Info", u"a", u"e", u"m", u"xml:lang"};
            const QString key = pick(keys);
            if (used.contains(key))
                continue;
            used.insert(key);
            xml += u" "_s + key + u"=\""_s + text(true) + u'"';
        }
        if (chance(5)) {
            xml += u"/>"_s;
            return;
        }
        xml += u'>';
        const int children = depth >= 5 || chance(3) ? 0 : int(m_random.bounded(5));
        if (children == 0) {
            xml += text(false);
        } else {
            for (int i = 0; i < children; ++i) {
                // Indentation (line breaks only, blanks, tabs) or stray text.
                static const char16_t *const between[] = {u"", u"\n", u"\n\n", u"\n  ", u"\t", u"x", u" text "};
                xml += pick(between);
                element(xml, depth + 1);
            }
            if (chance(2))
                xml += u"\n"_s;
        }
        xml += u"</"_s + tag + u'>';
    }

    QRandomGenerator m_random;
};

// The same XML read into a plain tree, names as written.
struct XmlNode {
    QString name;
    QList<std::pair<QString, QString>> attributes;
    QString text;
    QList<XmlNode> children;
};

bool readElement(QXmlStreamReader &reader, XmlNode &node)
{
    node.name = reader.qualifiedName().toString();
    for (const QXmlStreamAttribute &attribute : reader.attributes())
        node.attributes.append({attribute.qualifiedName().toString(), attribute.value().toString()});
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            node.children.append(XmlNode());
            if (!readElement(reader, node.children.last()))
                return false;
            break;
        case QXmlStreamReader::Characters:
            node.text += reader.text();
            break;
        case QXmlStreamReader::EndElement:
            return true;
        default:
            break;
        }
    }
    return false;
}

std::optional<XmlNode> readTree(const QString &xml)
{
    QXmlStreamReader reader(xml);
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd() && reader.readNext() != QXmlStreamReader::StartElement) {
    }
    XmlNode root;
    if (reader.tokenType() != QXmlStreamReader::StartElement || !readElement(reader, root))
        return std::nullopt;
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError())
        return std::nullopt;
    return root;
}

void collectRepeated(const XmlNode &node, QSet<QString> &repeated)
{
    QSet<QString> seen;
    for (const XmlNode &child : node.children) {
        if (seen.contains(child.name))
            repeated.insert(child.name);
        seen.insert(child.name);
        collectRepeated(child, repeated);
    }
}

// What the converter must give for a node, by the output's rules.
QJsonValue expectedValue(const XmlNode &node, const QSet<QString> &repeated)
{
    if (node.attributes.isEmpty() && node.children.isEmpty())
        return node.text.isEmpty() ? QJsonValue(QJsonObject()) : QJsonValue(node.text);
    QHash<QString, QJsonArray> values;
    QSet<QString> childNames;
    for (const auto &[key, value] : node.attributes)
        values[key].append(value);
    for (const XmlNode &child : node.children) {
        values[child.name].append(expectedValue(child, repeated));
        childNames.insert(child.name);
    }
    QJsonObject object;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const bool array = it->size() > 1 || (childNames.contains(it.key()) && repeated.contains(it.key()));
        object.insert(it.key(), array ? QJsonValue(*it) : it->first());
    }
    return object;
}

QJsonObject expectedDocument(const XmlNode &root)
{
    QSet<QString> repeated;
    collectRepeated(root, repeated);
    const QJsonValue value = expectedValue(root, repeated);
    return {{root.name, repeated.contains(root.name) ? QJsonValue(QJsonArray{value}) : value}};
}

} // namespace

class TestDocumentProperties : public QObject {
    Q_OBJECT

private slots:
    void randomDocumentsRoundTrip();
    void generatedDocumentsBecomeRecords_data();
    void generatedDocumentsBecomeRecords();
};

void TestDocumentProperties::randomDocumentsRoundTrip()
{
    int arrays = 0, mixed = 0;
    for (quint32 seed = 1; seed <= 4000; ++seed) {
        const QString xml = RandomXml(seed).document();
        const std::optional<XmlNode> tree = readTree(xml);
        QVERIFY2(tree, qPrintable(u"generated XML is not well-formed: "_s + xml));

        ParseXMLData parser(xml);
        const QString json = parser.convertToJSON();
        QJsonParseError error;
        const QJsonDocument decoded = QJsonDocument::fromJson(json.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError && decoded.isObject(),
                 qPrintable(u"seed %1: %2\n%3\n%4"_s.arg(seed).arg(error.errorString(), xml, json)));
        QVERIFY2(decoded.object() == expectedDocument(*tree),
                 qPrintable(u"seed %1:\n%2\n%3"_s.arg(seed).arg(xml, json)));

        arrays += parser.arrayElementArr().isEmpty() ? 0 : 1;
        mixed += xml.contains(u"> text <"_s) ? 1 : 0;
    }
    // The generator reaches the shapes that matter.
    QVERIFY(arrays > 400);
    QVERIFY(mixed > 100);
}

void TestDocumentProperties::generatedDocumentsBecomeRecords_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("indent");
    QTest::newRow("one line") << 1u << -1;
    QTest::newRow("line breaks only") << 2u << 0;
    QTest::newRow("indented") << 3u << 4;
    for (quint32 seed = 10; seed < 20; ++seed)
        QTest::addRow("seed %u", seed) << seed << int(seed % 3) - 1;
}

void TestDocumentProperties::generatedDocumentsBecomeRecords()
{
    QFETCH(quint32, seed);
    QFETCH(int, indent);
    simulator::OfflineKycOptions options;
    options.seed = seed;
    const simulator::OfflineKycDocument d = simulator::makeOfflineKycDocument(options);
    const QString xml = QString::fromUtf8(simulator::offlineKycXml(d, indent));
    QVERIFY(xml.startsWith(u"<?xml"_s));
    QVERIFY(d.certificate.contains(u'\n'));
    // A plausible person: the care-of relation fits the gender and names someone else.
    const QString relation = d.careof.section(u':', 0, 0);
    QVERIFY2((d.gender == u"M"_s ? QStringList{u"S/O"_s, u"C/O"_s} : QStringList{u"D/O"_s, u"W/O"_s, u"C/O"_s})
                 .contains(relation), qPrintable(d.gender + u' ' + d.careof));
    QVERIFY(d.careof.section(u": "_s, 1) != d.name);

    const QJsonDocument decoded = QJsonDocument::fromJson(ParseXMLData(xml).convertToJSON().toUtf8());
    const Json4Swift_Base document(decoded.object().toVariantMap());
    QVERIFY(document.offlinePaperlessKyc());
    const OfflinePaperlessKyc &record = *document.offlinePaperlessKyc();

    // What the host receives as "userInfo".
    const auto algorithm = [](const QString &value) { return QVariantMap{{u"Algorithm"_s, value}}; };
    const QVariantMap expected{
        {u"referenceId"_s, d.referenceId},
        {u"UidData"_s, QVariantMap{
            {u"Poi"_s, QVariantMap{{u"name"_s, d.name}, {u"dob"_s, d.dob}, {u"gender"_s, d.gender},
                                   {u"e"_s, d.e}, {u"m"_s, d.m}}},
            {u"Poa"_s, QVariantMap{{u"careof"_s, d.careof}, {u"country"_s, d.country}, {u"dist"_s, d.dist},
                                   {u"house"_s, d.house}, {u"landmark"_s, d.landmark}, {u"loc"_s, d.loc},
                                   {u"pc"_s, d.pc}, {u"po"_s, d.po}, {u"state"_s, d.state},
                                   {u"street"_s, d.street}, {u"subdist"_s, d.subdist}, {u"vtc"_s, d.vtc}}},
            {u"Pht"_s, QString::fromLatin1(d.photo.toBase64())}}},
        {u"Signature"_s, QVariantMap{
            {u"xmlns"_s, u"http://www.w3.org/2000/09/xmldsig#"_s},
            {u"SignedInfo"_s, QVariantMap{
                {u"CanonicalizationMethod"_s, algorithm(d.canonicalizationAlgorithm)},
                {u"SignatureMethod"_s, algorithm(d.signatureAlgorithm)},
                {u"Reference"_s, QVariantMap{{u"URI"_s, d.referenceUri},
                                             {u"Transforms"_s, QVariantMap{{u"Transform"_s, algorithm(d.transformAlgorithm)}}},
                                             {u"DigestMethod"_s, algorithm(d.digestAlgorithm)},
                                             {u"DigestValue"_s, d.digestValue}}}}},
            {u"SignatureValue"_s, d.signatureValue},
            {u"KeyInfo"_s, QVariantMap{{u"X509Data"_s, QVariantMap{{u"X509SubjectName"_s, d.subjectName},
                                                                  {u"X509Certificate"_s, d.certificate}}}}}}},
    };
    QCOMPARE(record.dictionaryRepresentation(), expected);

    // The photograph is a real JPEG of the asked size.
    const QByteArray photo = QByteArray::fromBase64(record.uidData()->pht().value_or(QString()).toLatin1());
    QCOMPARE(QImage::fromData(photo, "JPEG").size(), options.photoSize);
}

QTEST_GUILESS_MAIN(TestDocumentProperties)
#include "tst_document_properties.moc"

// The record model: reading, writing back, values of the wrong kind.

#include "orvix_ios_native_sdk/document/OfflinePaperlessKycModel.h"

#include <QtTest>

using namespace orvix;
using namespace Qt::StringLiterals;

namespace QTest {
template <>
char *toString(const std::optional<QString> &value)
{
    return value ? toString(*value) : qstrdup("(absent)");
}
} // namespace QTest

namespace {

QVariantMap map(std::initializer_list<std::pair<QString, QVariant>> members)
{
    return QVariantMap(members);
}

// Every key the classes know, each with a value of its own.
QVariantMap fullSignature()
{
    const auto algorithm = [](const char *value) { return map({{u"Algorithm"_s, QString::fromUtf8(value)}}); };
    return map({{u"xmlns"_s, u"http://www.w3.org/2000/09/xmldsig#"_s},
                {u"SignedInfo"_s, map({{u"CanonicalizationMethod"_s, algorithm("c")},
                                       {u"SignatureMethod"_s, algorithm("s")},
                                       {u"Reference"_s, map({{u"URI"_s, u"#u"_s},
                                                             {u"Transforms"_s, map({{u"Transform"_s, algorithm("t")}})},
                                                             {u"DigestMethod"_s, algorithm("d")},
                                                             {u"DigestValue"_s, u"digest"_s}})}})},
                {u"SignatureValue"_s, u"sig\nvalue"_s},
                {u"KeyInfo"_s, map({{u"X509Data"_s, map({{u"X509SubjectName"_s, u"CN=x"_s},
                                                         {u"X509Certificate"_s, u"cert"_s}})}})}});
}

QVariantMap fullRecord()
{
    QVariantMap poa;
    for (const char *key : {"street", "loc", "po", "dist", "vtc", "house", "country", "subdist", "pc", "landmark",
                            "careof", "state"})
        poa.insert(QString::fromUtf8(key), QString::fromUtf8(key).toUpper());
    return map({{u"referenceId"_s, u"1234"_s},
                {u"UidData"_s, map({{u"Poi"_s, map({{u"name"_s, u"Priya"_s}, {u"gender"_s, u"F"_s}, {u"m"_s, u"mh"_s},
                                                    {u"e"_s, u"eh"_s}, {u"dob"_s, u"01-02-1990"_s}})},
                                    {u"Poa"_s, poa},
                                    {u"Pht"_s, u"/9j/"_s}})},
                {u"Signature"_s, fullSignature()}});
}

} // namespace

class TestModel : public QObject {
    Q_OBJECT

private slots:
    void everyKeyRoundTrips();
    void valuesOfTheWrongKind_data();
    void valuesOfTheWrongKind();
    void keysMatchExactly();
    void absentFieldsAreLeftOut();
    void modelsFromArrays();
};

void TestModel::everyKeyRoundTrips()
{
    const OfflinePaperlessKyc record(fullRecord());
    QCOMPARE(record.dictionaryRepresentation(), fullRecord());
    QCOMPARE(OfflinePaperlessKyc(record.dictionaryRepresentation()).dictionaryRepresentation(), fullRecord());
    QCOMPARE(Json4Swift_Base(map({{u"OfflinePaperlessKyc"_s, fullRecord()}, {u"other"_s, 1}})).dictionaryRepresentation(),
             map({{u"OfflinePaperlessKyc"_s, fullRecord()}}));

    // Getters by the naming rule, through the tree.
    QCOMPARE(record.uidData()->poi()->dob(), u"01-02-1990"_s);
    QCOMPARE(record.uidData()->poa()->careof(), u"CAREOF"_s);
    QCOMPARE(record.uidData()->pht(), u"/9j/"_s);
    const Reference &reference = *record.signature()->signedInfo()->reference();
    QCOMPARE(reference.uRI(), u"#u"_s);
    QCOMPARE(reference.transforms()->transform()->algorithm(), u"t"_s);
    QCOMPARE(record.signature()->keyInfo()->x509Data()->x509Certificate(), u"cert"_s);

    // Unknown keys are not kept.
    QVariantMap extra = fullRecord();
    extra.insert(u"unknown"_s, u"x"_s);
    QVariantMap uid = extra.value(u"UidData"_s).toMap();
    uid.insert(u"Extra"_s, map({{u"a"_s, u"b"_s}}));
    extra.insert(u"UidData"_s, uid);
    QCOMPARE(OfflinePaperlessKyc(extra).dictionaryRepresentation(), fullRecord());
}

void TestModel::valuesOfTheWrongKind_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("text") << QVariant(u"x"_s);
    QTest::newRow("empty text") << QVariant(QString(u""_s));
    QTest::newRow("dictionary") << QVariant(map({{u"name"_s, u"n"_s}}));
    QTest::newRow("empty dictionary") << QVariant(QVariantMap());
    QTest::newRow("array") << QVariant(QVariantList{map({{u"name"_s, u"n"_s}})});
    QTest::newRow("number") << QVariant(1990.0);
    QTest::newRow("bool") << QVariant(true);
    QTest::newRow("null") << QVariant::fromValue(nullptr);
    QTest::newRow("bytes") << QVariant(QByteArray("x"));
    QTest::newRow("hash") << QVariant(QVariantHash{{u"name"_s, u"n"_s}});
}

void TestModel::valuesOfTheWrongKind()
{
    QFETCH(QVariant, value);
    const bool text = value.typeId() == QMetaType::QString;
    const bool dictionary = value.typeId() == QMetaType::QVariantMap;

    const UidData uid(map({{u"Pht"_s, value}, {u"Poi"_s, value}}));
    QCOMPARE(uid.pht().has_value(), text);
    QCOMPARE(bool(uid.poi()), dictionary);
    QVariantMap expected;
    if (text)
        expected.insert(u"Pht"_s, value);
    if (dictionary)
        expected.insert(u"Poi"_s, value);
    QCOMPARE(uid.dictionaryRepresentation(), expected);
}

void TestModel::keysMatchExactly()
{
    const OfflinePaperlessKyc lower(map({{u"uiddata"_s, QVariantMap()}, {u"ReferenceId"_s, u"x"_s}}));
    QVERIFY(!lower.uidData());
    QVERIFY(!lower.referenceId());

    const QVariantMap both{{u"algorithm"_s, u"lower"_s}, {u"Algorithm"_s, u"upper"_s}};
    QCOMPARE(CanonicalizationMethod(both).dictionaryRepresentation(), map({{u"Algorithm"_s, u"upper"_s}}));
    QCOMPARE(SignatureMethod(both).dictionaryRepresentation(), map({{u"Algorithm"_s, u"upper"_s}}));
    QCOMPARE(Transform(both).dictionaryRepresentation(), map({{u"Algorithm"_s, u"upper"_s}}));
    QCOMPARE(DigestMethod(both).dictionaryRepresentation(), map({{u"Algorithm"_s, u"upper"_s}}));
}

void TestModel::absentFieldsAreLeftOut()
{
    QCOMPARE(Json4Swift_Base().dictionaryRepresentation(), QVariantMap());

    // No namespace, an empty URI, Transforms without Transform.
    QVariantMap signature = fullSignature();
    signature.remove(u"xmlns"_s);
    QVariantMap info = signature.value(u"SignedInfo"_s).toMap();
    info.insert(u"Reference"_s, map({{u"URI"_s, QString(u""_s)}, {u"Transforms"_s, QVariantMap()}}));
    signature.insert(u"SignedInfo"_s, info);
    const Signature model(signature);
    QVERIFY(!model.xmlns());
    QVERIFY(!model.signedInfo()->reference()->transforms()->transform());
    QCOMPARE(model.dictionaryRepresentation(), signature);

    // Setters: cleared fields leave their keys out; set ones appear under their keys.
    OfflinePaperlessKyc record(fullRecord());
    record.setSignature(nullptr);
    record.uidData()->setPht(std::nullopt);
    record.uidData()->poa()->setPc(u"411038"_s);
    QVariantMap expected = fullRecord();
    expected.remove(u"Signature"_s);
    QVariantMap uid = expected.value(u"UidData"_s).toMap();
    uid.remove(u"Pht"_s);
    QVariantMap poa = uid.value(u"Poa"_s).toMap();
    poa.insert(u"pc"_s, u"411038"_s);
    uid.insert(u"Poa"_s, poa);
    expected.insert(u"UidData"_s, uid);
    QCOMPARE(record.dictionaryRepresentation(), expected);
}

void TestModel::modelsFromArrays()
{
    QVERIFY(Poi::modelsFromDictionaryArray({}).isEmpty());
    const QVariantList array{map({{u"name"_s, u"first"_s}}), u"text"_s, QVariantList{fullRecord()},
                             map({{u"name"_s, u"last"_s}})};
    const QList<std::shared_ptr<Poi>> models = Poi::modelsFromDictionaryArray(array);
    QCOMPARE(models.size(), array.size());
    QCOMPARE(models[0]->name(), u"first"_s);
    QCOMPARE(models[1]->dictionaryRepresentation(), QVariantMap());
    QCOMPARE(models[2]->dictionaryRepresentation(), QVariantMap());
    QCOMPARE(models[3]->name(), u"last"_s);
}

QTEST_GUILESS_MAIN(TestModel)
#include "tst_document_model.moc"

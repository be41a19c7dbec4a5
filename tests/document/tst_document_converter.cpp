// XML to JSON: output form, data kept whole, failures; the bounds a
// document from an archive must keep.

#include "boundsdocuments.h"
#include "orvix_ios_native_sdk/document/ParseXMLData.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

using orvix::ParseXMLData;
using namespace Qt::StringLiterals;

class TestConverter : public QObject {
    Q_OBJECT

private slots:
    void documentedOutputs_data();
    void documentedOutputs();
    void dataSurvives_data();
    void dataSurvives();
    void malformedInputFails_data();
    void malformedInputFails();
    void elementNameLists();
    void deepDocumentDoesNotOverflow();
    void boundsHoldExactly_data();
    void boundsHoldExactly();
};

void TestConverter::documentedOutputs_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("json");
    QTest::newRow("shelf") << u"<Shelf>\n  <Book code=\"b1\"/>\n  <Book code=\"b2\"/>\n  <Note>ok</Note>\n</Shelf>"_s
                           << uR"({"Shelf":{"Book":[{"code":"b1"},{"code":"b2"}],"Note":"ok"}})"_s;
    QTest::newRow("array everywhere") << u"<R><G><I/><I/></G><H><I/></H></R>"_s
                                      << uR"({"R":{"G":{"I":[{},{}]},"H":{"I":[{}]}}})"_s;
    QTest::newRow("attributes drop text") << u"<A k=\"v\">t</A>"_s << uR"({"A":{"k":"v"}})"_s;
    QTest::newRow("empty element") << u"<A/>"_s << uR"({"A":{}})"_s;
}

void TestConverter::documentedOutputs()
{
    QFETCH(QString, xml);
    QFETCH(QString, json);
    QCOMPARE(ParseXMLData(xml).convertToJSON(), json);
}

void TestConverter::dataSurvives_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("json"); // compared as decoded objects

    QTest::newRow("entities") << u"<R a='it&apos;s' q=\"&quot;hi&quot;\"><T>Tom &amp; Jerry &lt;3&#10;&#x1F600;</T></R>"_s
                              << uR"({"R":{"a":"it's","q":"\"hi\"","T":"Tom & Jerry <3\n😀"}})"_s;
    QTest::newRow("own DTD") << u"<!DOCTYPE R [<!ENTITY who \"Ram &amp; Co\">]><R><T>&who;</T></R>"_s
                             << uR"({"R":{"T":"Ram & Co"}})"_s;
    QTest::newRow("external entity kept") << u"<!DOCTYPE R SYSTEM \"r.dtd\"><R><T>a &ext; b</T></R>"_s
                                          << uR"({"R":{"T":"a &ext; b"}})"_s;
    QTest::newRow("quotes and backslashes") << uR"(<R k="q&quot;\ \&quot;\"><T>q"\ \"\</T></R>)"_s
                                            << uR"({"R":{"k":"q\"\\ \\\"\\","T":"q\"\\ \\\"\\"}})"_s;
    QTest::newRow("line breaks") << u"<R><L>1\n2\r\n3&#13;</L><U>ünï 名 \u2028</U></R>"_s
                                 << u"{\"R\":{\"L\":\"1\\n2\\n3\\r\",\"U\":\"ünï 名 \u2028\"}}"_s;
    QTest::newRow("text in pieces") << u"<T>a <![CDATA[<c> & ]]>b<!-- n --> &amp; <?pi x?>c</T>"_s
                                    << uR"({"T":"a <c> & b & c"})"_s;
    QTest::newRow("long text") << u"<P>"_s + u"QUJD"_s.repeated(300000) + u"</P>"_s
                               << u"{\"P\":\""_s + u"QUJD"_s.repeated(300000) + u"\"}"_s;
    QTest::newRow("name ending another") << u"<R><Info a=\"1\"/><KeyInfo><X/></KeyInfo><Info>x</Info></R>"_s
                                         << uR"({"R":{"Info":[{"a":"1"},"x"],"KeyInfo":{"X":{}}}})"_s;
    QTest::newRow("names with @ in data") << uR"(<R n="Book@} R@"><Book>Book@},"Book":</Book></R>)"_s
                                          << uR"({"R":{"n":"Book@} R@","Book":"Book@},\"Book\":"}})"_s;
    QTest::newRow("line break before child") << u"<A>\n<B/>\n\n</A>"_s << uR"({"A":{"B":{}}})"_s;
    QTest::newRow("crlf and tab before child") << u"<A>\r\n\t<B/></A>"_s << uR"({"A":{"B":{}}})"_s;
    QTest::newRow("mixed text dropped") << u"<A>head<B/>tail<C k=\"\">t<D/></C></A>"_s
                                        << uR"({"A":{"B":{},"C":{"k":"","D":{}}}})"_s;
    QTest::newRow("blank leaf kept") << u"<A>\n  </A>"_s << uR"({"A":"\n  "})"_s;
    QTest::newRow("repeated texts") << u"<L><I>a</I><I>b</I><I/></L>"_s << uR"({"L":{"I":["a","b",{}]}})"_s;
    QTest::newRow("separated siblings") << u"<L><I>a</I><J/><I k=\"b\"/><M><I>c</I></M></L>"_s
                                        << uR"({"L":{"I":["a",{"k":"b"}],"J":{},"M":{"I":["c"]}}})"_s;
    QTest::newRow("attribute and child share a name") << u"<L k=\"attr\"><k>child</k></L>"_s
                                                      << uR"({"L":{"k":["attr","child"]}})"_s;
    QTest::newRow("namespaces as written")
        << u"<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><ds:K xmlns:ds=\"urn:k\" ds:u=\"s\"><ds:N>n</ds:N></ds:K></Signature>"_s
        << uR"({"Signature":{"xmlns":"http://www.w3.org/2000/09/xmldsig#","ds:K":{"xmlns:ds":"urn:k","ds:u":"s","ds:N":"n"}}})"_s;
}

void TestConverter::dataSurvives()
{
    QFETCH(QString, xml);
    QFETCH(QString, json);
    const QString converted = ParseXMLData(xml).convertToJSON();
    QJsonParseError error;
    const QJsonDocument actual = QJsonDocument::fromJson(converted.toUtf8(), &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + u": "_s + converted.left(300)));
    QCOMPARE(actual.object(), QJsonDocument::fromJson(json.toUtf8()).object());
}

void TestConverter::malformedInputFails_data()
{
    QTest::addColumn<QString>("xml");
    QTest::newRow("empty") << QString();
    QTest::newRow("blank") << u" \n "_s;
    QTest::newRow("plain text") << u"not xml"_s;
    QTest::newRow("unclosed") << u"<A><B>"_s;
    QTest::newRow("mismatched") << u"<A></B>"_s;
    QTest::newRow("two roots") << u"<A/><B/>"_s;
    QTest::newRow("duplicate attribute") << u"<A k=\"1\" k=\"2\"/>"_s;
    QTest::newRow("undeclared entity") << u"<A>&nope;</A>"_s;
    QTest::newRow("bare ampersand") << u"<A>Tom & Jerry</A>"_s;
    QTest::newRow("control character") << u"<A>\x01</A>"_s;
    QTest::newRow("entity loop") << u"<!DOCTYPE A [<!ENTITY a \"&b;\"><!ENTITY b \"&a;\">]><A>&a;</A>"_s;
    QTest::newRow("cut off record") << u"<OfflinePaperlessKyc referenceId=\"1\"><UidData><Poi name=\"R"_s;
    QString bomb = u"<!DOCTYPE l [<!ENTITY l0 \"lol\">"_s;
    for (int i = 1; i < 10; ++i)
        bomb += u"<!ENTITY l%1 \"%2\">"_s.arg(i).arg(u"&l%1;"_s.arg(i - 1).repeated(10));
    QTest::newRow("entity expansion bomb") << bomb + u"]><l>&l9;</l>"_s;
}

void TestConverter::malformedInputFails()
{
    QFETCH(QString, xml);
    ParseXMLData parser(xml);
    const QString json = parser.convertToJSON();
    QVERIFY2(!QJsonDocument::fromJson(json.toUtf8()).isObject(), qPrintable(json));
    QVERIFY(!parser.errorString().isEmpty());
}

void TestConverter::elementNameLists()
{
    ParseXMLData parser(u"<Shelf><Book/><Note/><Book/><Tag><Note/></Tag><Tag/><X/><X/></Shelf>"_s);
    QVERIFY(!parser.convertToJSON().isEmpty());
    QCOMPARE(parser.elementArr(), (QStringList{u"Shelf"_s, u"Book"_s, u"Note"_s, u"Tag"_s, u"X"_s}));
    QCOMPARE(parser.arrayElementArr(), (QStringList{u"Book"_s, u"Tag"_s, u"X"_s}));
}

void TestConverter::deepDocumentDoesNotOverflow()
{
    const int depth = 200000;
    const QString xml = u"<a>"_s.repeated(depth) + u"x"_s + u"</a>"_s.repeated(depth);
    QCOMPARE(ParseXMLData(xml).convertToJSON(),
             u"{\"a\":"_s.repeated(depth) + u"\"x\""_s + u"}"_s.repeated(depth));
}

void TestConverter::boundsHoldExactly_data()
{
    namespace docs = orvix::testsupport;
    using B = orvix::DocumentBounds;
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    QTest::addColumn<QByteArray>("twin"); // when set: converts exactly as this UTF-8 document
    const auto bound = [](const char *dimension, QByteArray (*make)(bool), const QString &refusal) {
        QTest::addRow("%s at the bound", dimension) << make(false) << QString() << QByteArray();
        QTest::addRow("%s one past", dimension) << make(true) << refusal << QByteArray();
    };
    bound("bytes", docs::atBytes, u"larger than %1 bytes"_s.arg(B::maxBytes));
    bound("elements", docs::atElements, u"more than %1 elements"_s.arg(B::maxElements));
    bound("depth", docs::atDepth, u"nests more than %1 elements deep"_s.arg(B::maxDepth));
    bound("attributes", docs::atAttributes, u"more than %1 attributes"_s.arg(B::maxAttributes));
    bound("attribute value", docs::atAttributeLength, u"attribute value is longer than %1"_s.arg(B::maxAttributeLength));
    bound("text", docs::atTextLength, u"a text is longer than %1"_s.arg(B::maxTextLength));
    bound("name", docs::atNameLength, u"a name is longer than %1"_s.arg(B::maxNameLength));
    bound("distinct names", docs::atDistinctNames, u"more than %1 distinct names"_s.arg(B::maxDistinctNames));
    QTest::newRow("worst combination") << docs::worstCombination() << QString() << QByteArray();

    QTest::newRow("flat siblings") << docs::record({}, {}, "QUJD", QByteArray("<s/><s></s>").repeated(150)) << QString() << QByteArray();
    QTest::newRow("'=' and '>' in values")
        << docs::record("name=\"" + QByteArray("a=b>").repeated(B::maxAttributes) + "\" dob='=>'") << QString() << QByteArray();
    QTest::newRow("spaces around '='") << docs::record("name = \"Asha\"\tdob\n=\n'1990'") << QString() << QByteArray();
    QByteArray photo(1'500'000, Qt::Uninitialized);
    QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(photo.data()), photo.size() / 4);
    QTest::newRow("realistic, 2 MB photograph") << docs::record({}, {}, photo.toBase64()) << QString() << QByteArray();
    // The parser joins the pieces: so must the count.
    QTest::newRow("text split by a comment")
        << docs::record({}, {}, QByteArray(B::maxTextLength / 2 + 1, 'A') + "<!---->" + QByteArray(B::maxTextLength / 2 + 1, 'B'))
        << u"a text is longer"_s << QByteArray();
    QTest::newRow("tag it cannot read") << docs::record("name=Asha") << u"not well-formed"_s << QByteArray();
    // The byte-order mark tells the encoding, whatever the declaration says.
    const QByteArray utf8 = docs::record("name=\"\xC4\x80\xC5\x9B\xC4\x81 \xE0\xA4\xB0\xE0\xA4\xBE\xE0\xA4\xB5\" dob=\"01-01-1990\"");
    const auto encoded = [&utf8](QStringConverter::Encoding encoding, bool bom) {
        QStringEncoder encoder(encoding, bom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
        return QByteArray(encoder.encode(QString::fromUtf8(utf8)));
    };
    QTest::newRow("UTF-16 LE with a byte-order mark, declared UTF-8")
        << encoded(QStringConverter::Utf16LE, true) << QString() << utf8;
    QTest::newRow("UTF-16 BE with a byte-order mark, declared UTF-8")
        << encoded(QStringConverter::Utf16BE, true) << QString() << utf8;
    QTest::newRow("UTF-8 with a byte-order mark, declared Latin-1")
        << "\xEF\xBB\xBF" + QByteArray(utf8).replace("encoding=\"UTF-8\"", "encoding=\"ISO-8859-1\"") << QString()
        << utf8;
    QTest::newRow("UTF-16 without a byte-order mark") << encoded(QStringConverter::Utf16LE, false) << u"not well-formed"_s
                                                      << QByteArray();
}

void TestConverter::boundsHoldExactly()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, refusal);
    QFETCH(QByteArray, twin);
    QTemporaryDir dir;
    QFile file(dir.filePath(u"offline.xml"_s));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(xml) == xml.size());
    file.close();
    QString why;
    const std::optional<QString> text = orvix::readBoundedDocument(file.fileName(), &why);
    if (!refusal.isEmpty()) {
        QVERIFY(!text);
        QVERIFY2(why.contains(refusal), qPrintable(why));
        return;
    }
    QVERIFY2(text, qPrintable(why));
    // What passes converts in full.
    const QJsonDocument json = QJsonDocument::fromJson(ParseXMLData(*text).convertToJSON().toUtf8());
    QVERIFY(json.object().value(u"OfflinePaperlessKyc"_s).toObject().contains(u"UidData"_s));
    if (!twin.isEmpty())
        QCOMPARE(json, QJsonDocument::fromJson(ParseXMLData(QString::fromUtf8(twin)).convertToJSON().toUtf8()));
}

QTEST_GUILESS_MAIN(TestConverter)
#include "tst_document_converter.moc"

// Aadhaar check digit: the published tables and the errors the scheme catches.

#include "orvix_ios_native_sdk/document/AadhaarHelper.h"

#include <QRandomGenerator>
#include <QtTest>

using orvix::AadhaarHelper;
using namespace Qt::StringLiterals;

class TestVerhoeff : public QObject {
    Q_OBJECT

private slots:
    void knownNumbers_data();
    void knownNumbers();
    void tablesFormTheGroupAndItsPermutation();
    void catchesTyposAndSwaps();
    void readsCharactersNotCodeUnits();
};

void TestVerhoeff::knownNumbers_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("valid");
    QTest::newRow("published") << u"2363"_s << true;
    QTest::newRow("wrong check digit") << u"2364"_s << false;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("zero") << u"0"_s << true;
    QTest::newRow("two zeros") << u"00"_s << false;
    QTest::newRow("letter counts as zero") << u"x"_s << true;
    QTest::newRow("blank counts as zero") << u"236 3"_s << false;
}

void TestVerhoeff::knownNumbers()
{
    QFETCH(QString, number);
    QFETCH(bool, valid);
    QCOMPARE(AadhaarHelper().validateVerhoeff(number), valid);
}

void TestVerhoeff::tablesFormTheGroupAndItsPermutation()
{
    const AadhaarHelper helper;
    const auto &d = helper.verhoeff_d;
    const auto &p = helper.verhoeff_p;

    // d is the Cayley table of D5: 0 the identity, associative, every
    // element invertible, rotations 0-4 and reflections 5-9, not commutative.
    for (int a = 0; a < 10; ++a) {
        QCOMPARE(d[0][a], a);
        QCOMPARE(d[a][0], a);
        int inverses = 0;
        for (int b = 0; b < 10; ++b) {
            inverses += d[a][b] == 0 ? 1 : 0;
            for (int c = 0; c < 10; ++c)
                QCOMPARE(d[d[a][b]][c], d[a][d[b][c]]);
        }
        QCOMPARE(inverses, 1);
    }
    for (int a = 0; a < 5; ++a) {
        for (int b = 0; b < 5; ++b)
            QCOMPARE(d[a][b], (a + b) % 5);
    }
    for (int a = 5; a < 10; ++a)
        QCOMPARE(d[a][a], 0);
    QVERIFY(d[1][5] != d[5][1]);

    // p: the identity, the published row 1, then row 1 applied once more per row.
    const std::array<int, 10> row1{1, 5, 7, 6, 2, 8, 3, 0, 9, 4};
    for (int j = 0; j < 10; ++j) {
        QCOMPARE(p[0][j], j);
        QCOMPARE(p[1][j], row1[size_t(j)]);
    }
    for (size_t i = 1; i < 8; ++i) {
        for (size_t j = 0; j < 10; ++j)
            QCOMPARE(p[i][j], row1[size_t(p[i - 1][j])]);
    }
}

void TestVerhoeff::catchesTyposAndSwaps()
{
    const AadhaarHelper helper;
    QRandomGenerator random(20240611);
    for (int round = 0; round < 300; ++round) {
        QString body;
        for (int i = 0; i < 11; ++i)
            body += QChar(u'0' + random.bounded(10));

        // Exactly one check digit completes a 12-digit number.
        QString number;
        int completions = 0;
        for (char16_t check = u'0'; check <= u'9'; ++check) {
            if (helper.validateVerhoeff(body + QChar(check))) {
                number = body + QChar(check);
                ++completions;
            }
        }
        QCOMPARE(completions, 1);

        for (qsizetype at = 0; at < number.size(); ++at) {
            for (char16_t digit = u'0'; digit <= u'9'; ++digit) {
                if (number[at] == QChar(digit))
                    continue;
                QString typo = number;
                typo[at] = QChar(digit);
                QVERIFY2(!helper.validateVerhoeff(typo), qPrintable(number + u" -> "_s + typo));
            }
            if (at + 1 < number.size() && number[at] != number[at + 1]) {
                QString swapped = number;
                std::swap(swapped[at], swapped[at + 1]);
                QVERIFY2(!helper.validateVerhoeff(swapped), qPrintable(number + u" -> "_s + swapped));
            }
        }
    }
}

void TestVerhoeff::readsCharactersNotCodeUnits()
{
    // One character that is not an ASCII digit counts as one 0, whatever
    // its length in UTF-16. Only tails where one and two leading zeros
    // differ tell the cases apart.
    const AadhaarHelper helper;
    const QStringList characters{QString::fromUcs4(U"\U0001F600"), u"3\u0301"_s, u"\u0663"_s, u"\uFF13"_s, u"\r\n"_s};
    int tails = 0;
    for (int n = 100000; tails < 20; n += 7919) {
        const QString tail = QString::number(n);
        if (helper.validateVerhoeff(u"0"_s + tail) == helper.validateVerhoeff(u"00"_s + tail))
            continue;
        ++tails;
        for (const QString &character : characters)
            QCOMPARE(helper.validateVerhoeff(character + tail), helper.validateVerhoeff(u"0"_s + tail));
    }
}

QTEST_GUILESS_MAIN(TestVerhoeff)
#include "tst_document_verhoeff.moc"

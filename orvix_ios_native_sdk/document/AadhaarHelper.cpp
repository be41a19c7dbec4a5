#include "orvix_ios_native_sdk/document/AadhaarHelper.h"

#include <QTextBoundaryFinder>

#include <vector>

namespace orvix {

AadhaarHelper::AadhaarHelper()
    : verhoeff_d{{
          {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
          {1, 2, 3, 4, 0, 6, 7, 8, 9, 5},
          {2, 3, 4, 0, 1, 7, 8, 9, 5, 6},
          {3, 4, 0, 1, 2, 8, 9, 5, 6, 7},
          {4, 0, 1, 2, 3, 9, 5, 6, 7, 8},
          {5, 9, 8, 7, 6, 0, 4, 3, 2, 1},
          {6, 5, 9, 8, 7, 1, 0, 4, 3, 2},
          {7, 6, 5, 9, 8, 2, 1, 0, 4, 3},
          {8, 7, 6, 5, 9, 3, 2, 1, 0, 4},
          {9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
      }},
      verhoeff_p{{
          {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
          {1, 5, 7, 6, 2, 8, 3, 0, 9, 4},
          {5, 8, 0, 3, 7, 9, 6, 1, 4, 2},
          {8, 9, 1, 6, 0, 4, 3, 5, 2, 7},
          {9, 4, 5, 3, 1, 2, 6, 8, 7, 0},
          {4, 2, 8, 6, 5, 7, 3, 9, 0, 1},
          {2, 7, 9, 3, 8, 0, 6, 4, 1, 5},
          {7, 0, 4, 6, 9, 1, 3, 2, 5, 8},
      }}
{
}

bool AadhaarHelper::validateVerhoeff(const QString &number) const
{
    // One digit per user-perceived character, first to last.
    std::vector<int> digits;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, number);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end > 0; end = finder.toNextBoundary()) {
        const QStringView character = QStringView(number).sliced(start, end - start);
        const bool digit = character.size() == 1 && character[0] >= u'0' && character[0] <= u'9';
        digits.push_back(digit ? character[0].unicode() - u'0' : 0);
        start = end;
    }

    int c = 0;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i)
        c = verhoeff_d[size_t(c)][size_t(verhoeff_p[i % 8][size_t(digits[n - 1 - i])])];
    return c == 0;
}

} // namespace orvix

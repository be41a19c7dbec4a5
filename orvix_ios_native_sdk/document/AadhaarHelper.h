#pragma once
// Aadhaar number check digit (Verhoeff scheme).

#include <QString>

#include <array>

namespace orvix {

class AadhaarHelper {
public:
    AadhaarHelper();

    // True when the check passes. Characters are read from the last one;
    // anything but a single ASCII digit counts as 0, so callers strip blanks
    // first. The empty text passes.
    bool validateVerhoeff(const QString &number) const;

    // The published tables: the dihedral group D5 and the position
    // permutation (row 0 the identity, each row applying row 1 once more).
    const std::array<std::array<int, 10>, 10> verhoeff_d;
    const std::array<std::array<int, 10>, 8> verhoeff_p;
};

} // namespace orvix

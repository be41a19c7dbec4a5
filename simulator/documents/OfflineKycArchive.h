#pragma once
// The offline e-KYC archive as the authority hands it out: a ZIP file with
// one XML entry, deflated and encrypted under the share code.

#include <QByteArray>
#include <QString>

namespace orvix::simulator {

// How the entry is encrypted.
enum class ArchiveForm {
    traditional, // the authority's form: traditional PKWARE encryption
    aesAe1,      // WinZip AES-256, version AE-1 (CRC kept)
    aesAe2,      // WinZip AES-256, version AE-2 as 7-Zip writes it: CRC fields zero
};

// The archive bytes, or empty (with *error set when given) when the name or
// the password is empty or the archive library fails. The name is stored as
// given.
QByteArray makeOfflineKycArchive(const QByteArray &xml, const QString &xmlFileName, const QString &shareCode,
                                 QString *error = nullptr, ArchiveForm form = ArchiveForm::traditional);

} // namespace orvix::simulator

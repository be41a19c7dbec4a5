#pragma once
// The offline e-KYC archive as the authority hands it out: a ZIP file with
// one XML entry, deflated and encrypted with WinZip AES-256 under the share
// code.

#include <QByteArray>
#include <QString>

namespace orvix::simulator {

// The archive bytes, or empty (with *error set when given) when the name or
// the password is empty or the ZIP library fails.
QByteArray makeOfflineKycArchive(const QByteArray &xml, const QString &xmlFileName, const QString &shareCode,
                                 QString *error = nullptr);

} // namespace orvix::simulator

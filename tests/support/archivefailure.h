#pragma once
// What both Aadhaar flows must show after an archive that cannot be opened:
// the reason logged before the failure line, without the share code, and
// nothing of the archive left on disk.

#include "logcapture.h"

#include "orvix_ios_native_sdk/flows/AadhaarRecordProcessing.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

namespace orvix::testsupport {

inline void verifyArchiveFailureLoggedAndCleaned(const LogCapture &log)
{
    const QStringList lines = log.lines();
    const qsizetype reason = lines.indexOf(QRegularExpression("^The archive could not be opened: .+"));
    QVERIFY2(reason >= 0 && reason < lines.indexOf("SOMETHING WENT WRONG"), qPrintable(log.joined()));
    QVERIFY(!lines[reason].contains("9736"));
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::archivePath()));
    QVERIFY(!QFile::exists(AadhaarRecordProcessing::unzipDirectory()));
    QVERIFY(!QFileInfo::exists(AadhaarRecordProcessing::temporaryDirectory() + QStringLiteral("aadhaar.xml")));
}

} // namespace orvix::testsupport

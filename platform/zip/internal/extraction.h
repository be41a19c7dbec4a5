#pragma once
// unzipFileAtPath with a look-in between its steps, for tests that change
// the destination while an extraction runs. Not installed.

#include "platform/zip/ziparchive.h"

#include <functional>

namespace orvix::platform::zip::internal {

// Called once each entry's file is written in full, with how many are
// written so far, before any is moved into place.
using AfterStaging = std::function<void(int staged)>;

bool unzipFileAtPath(const QString &path, const QString &destination, bool preserveAttributes, bool overwrite,
                     const std::optional<QString> &password, UnzipError *error, qint64 maxTotalBytes,
                     int maxEntries, const AfterStaging &afterStaging);

} // namespace orvix::platform::zip::internal

// The central-directory walk on any bytes: no undefined behaviour, and what
// it returns keeps its promises (a bounded count, names within the input).

#include "platform/zip/internal/centraldirectory.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace orvix::platform::zip::internal;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

void check(QByteArrayView bytes, int maxEntries)
{
    const Directory d = walkCentralDirectory(bytes, maxEntries);
    if (d.failure == WalkFailure::none) {
        if (!d.why.isEmpty())
            fail("a reason without a failure");
        if (d.entries.size() > size_t(maxEntries))
            fail("more entries than allowed");
        qsizetype names = 0;
        for (const DirectoryEntry &e : d.entries)
            names += e.name.size();
        if (names > bytes.size())
            fail("names longer than the input");
    } else if (!d.entries.empty() || d.why.isEmpty()) {
        fail("a failure with entries or without a reason");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    check(bytes, 1000);
    check(bytes, 2);
    return 0;
}

// Archive processing as an Aadhaar screen does it after the download (unzip
// with the share code, read the XML file, convert, build the record), for a
// realistic archive and one near the size bound, each in the traditional and
// the AES form, beside two yardsticks over the same bytes:
//   - the plain pass: none of the kit's libraries; the ZIP read by hand,
//     zlib, OpenSSL for the encryption (the AES code checked), expat over
//     the whole document (plainpass.h);
//   - the same libraries without the kit: libarchive's extraction and one
//     QXmlStreamReader pass, which shows the kit's own overhead on them.
// The machines are shared, so the ratios at the end are of CPU time.
// Then hostile documents the kit must refuse quickly: their CPU time, and
// the peak memory above the run's start. Last, archives through the whole
// path the web-API screen takes from the download's reply (decoded, written,
// opened, converted, record built, submission sent to the simulator's
// backend, record or error panel shown): documents at each bound, the
// realistic one, an attribute-heavy one and hostile archives, with the GUI
// thread's CPU time, the process's and the peak memory above the start,
// beside the goal each must meet.

#include "boundsdocuments.h"
#include "zipwriter.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/document/OfflinePaperlessKycModel.h"
#include "orvix_ios_native_sdk/flows/NewAadhaarFlowVC.h"
#include "simulator/Backend.h"
#include "simulator/Simulator.h"
#include "orvix_ios_native_sdk/document/ParseXMLData.h"
#include "platform/zip/ziparchive.h"
#include "simulator/documents/OfflineKycArchive.h"
#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QLabel>
#include <QThread>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtEndian>
#include "benchmemory.h"
#include "plainpass.h"

#include <benchmark/benchmark.h>
#include <archive.h>
#include <archive_entry.h>
#include <pthread.h>

#include <cstdio>
#include <ctime>
#include <algorithm>
#include <map>
#include <set>
#include <string>

namespace simulator = orvix::simulator;

namespace {

const QString shareCode = QStringLiteral("9736");

QTemporaryDir &workDir()
{
    static QTemporaryDir dir;
    return dir;
}

QByteArray realisticXml()
{
    simulator::OfflineKycOptions options;
    options.seed = 7;
    options.photoSize = QSize(400, 500);
    options.photoQuality = 90;
    return simulator::offlineKycXml(simulator::makeOfflineKycDocument(options), -1);
}

// Near the size bound (4 MiB): many residents' blocks one after the other
// inside one record.
QByteArray largeXml()
{
    QByteArray blocks;
    for (quint32 seed = 1; blocks.size() < orvix::DocumentBounds::maxBytes - 256 * 1024; ++seed) {
        simulator::OfflineKycOptions options;
        options.seed = seed;
        const QByteArray one = simulator::offlineKycXml(simulator::makeOfflineKycDocument(options), 2);
        const qsizetype from = one.indexOf("<UidData>");
        const qsizetype to = one.indexOf("</UidData>") + int(sizeof("</UidData>")) - 1;
        blocks += one.mid(from, to - from) + '\n';
    }
    const QByteArray whole = simulator::offlineKycXml(simulator::makeOfflineKycDocument(), 2);
    const qsizetype at = whole.indexOf("<UidData>");
    return whole.left(at) + blocks + whole.mid(at);
}

// Writes the archive once and returns its path.
QString archive(const char *name, const QByteArray &xml, simulator::ArchiveForm form)
{
    const QString path = workDir().filePath(QString::fromLatin1(name) + QStringLiteral(".zip"));
    if (!QFile::exists(path)) {
        QString error;
        const QByteArray bytes = simulator::makeOfflineKycArchive(xml, QStringLiteral("offlineaadhaar20260101000000000.xml"),
                                                                  shareCode, &error, form);
        QFile file(path);
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write the archive: %s", qPrintable(error));
    }
    return path;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

const QByteArray &realistic()
{
    static const QByteArray xml = realisticXml();
    return xml;
}

const QByteArray &large()
{
    static const QByteArray xml = largeXml();
    return xml;
}

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Where a pass's CPU time goes, step by step: each step's mean per
// iteration becomes a counter of the row.
class Steps {
public:
    explicit Steps(benchmark::State &state) : m_state(state) {}
    ~Steps()
    {
        const double n = double(qMax<qint64>(1, m_state.iterations()));
        for (const auto &[name, ms] : m_ms)
            m_state.counters[name] = ms / n;
    }
    void start() { m_last = threadCpuMs(); }
    void done(const char *step)
    {
        const double now = threadCpuMs();
        m_ms[step] += now - m_last;
        m_last = now;
    }

private:
    benchmark::State &m_state;
    std::map<std::string, double> m_ms;
    double m_last = 0;
};

void kitProcessing(benchmark::State &state, const QString &zipPath)
{
    const QString out = workDir().filePath(QStringLiteral("kit-out"));
    Steps steps(state);
    for (auto _ : state) {
        steps.start();
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        orvix::platform::zip::UnzipError error;
        if (!orvix::platform::zip::unzipFileAtPath(zipPath, out, true, true, shareCode, &error))
            state.SkipWithError(qPrintable(error.description()));
        steps.done("unzip_ms");
        const QStringList files = QDir(out).entryList({QStringLiteral("*offline*.xml")}, QDir::Files);
        QString why;
        const std::optional<QString> xml = orvix::readBoundedDocument(QDir(out).filePath(files.value(0)), &why);
        if (!xml) {
            state.SkipWithError(qPrintable(why));
            break;
        }
        steps.done("read_ms");
        orvix::ParseXMLData parser(*xml);
        const QString converted = parser.convertToJSON();
        steps.done("convert_ms");
        const QJsonDocument json = QJsonDocument::fromJson(converted.toUtf8());
        steps.done("json_ms");
        auto record = std::make_shared<orvix::OfflinePaperlessKyc>(
            json.object().value(QStringLiteral("OfflinePaperlessKyc")).toObject().toVariantMap());
        benchmark::DoNotOptimize(record);
        steps.done("record_ms");
    }
}

// The same libraries the kit uses, without the kit.
void sameLibraries(benchmark::State &state, const QString &zipPath)
{
    for (auto _ : state) {
        struct archive *a = archive_read_new();
        archive_read_support_format_zip_seekable(a);
        archive_read_add_passphrase(a, shareCode.toLatin1().constData());
        archive_entry *entry = nullptr;
        QByteArray bytes;
        bool ok = archive_read_open_filename(a, QFile::encodeName(zipPath).constData(), 64 * 1024) == ARCHIVE_OK
            && archive_read_next_header(a, &entry) == ARCHIVE_OK;
        while (ok) {
            const void *block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int r = archive_read_data_block(a, &block, &size, &offset);
            if (r == ARCHIVE_EOF)
                break;
            ok = r == ARCHIVE_OK;
            bytes.append(static_cast<const char *>(block), qsizetype(size));
        }
        archive_read_free(a);
        if (!ok)
            state.SkipWithError("read failed");
        QXmlStreamReader reader(bytes);
        qint64 tokens = 0;
        while (!reader.atEnd()) {
            reader.readNext();
            ++tokens;
        }
        benchmark::DoNotOptimize(tokens);
    }
}

// The plain job with none of the kit's libraries.
void plainPass(benchmark::State &state, const QString &zipPath)
{
    const QByteArray file = QFile::encodeName(zipPath);
    const std::string password = shareCode.toStdString();
    Steps steps(state);
    for (auto _ : state) {
        steps.start();
        std::string zip, xml, why;
        long elements = 0, attributes = 0;
        if (!orvix::bench::plain::readFile(file.constData(), &zip)
            || !orvix::bench::plain::extractXml(zip, password, &xml, &why)) {
            state.SkipWithError(why.empty() ? "cannot read the archive" : why.c_str());
            break;
        }
        steps.done("unzip_ms");
        const bool parsed = orvix::bench::plain::parseXml(xml, &elements, &attributes);
        steps.done("parse_ms");
        if (!parsed) {
            state.SkipWithError("expat refused the document");
            break;
        }
        benchmark::DoNotOptimize(elements + attributes);
    }
}

#define ORVIX_ARCHIVE_BENCHMARKS(Size, xml, Form, form, seconds)                                                   \
    const QString &Size##Form##Path()                                                                              \
    {                                                                                                              \
        static const QString path = archive(#Size "-" #Form, xml(), simulator::ArchiveForm::form);                 \
        return path;                                                                                               \
    }                                                                                                              \
    void BM_##Size##_##Form##_KitProcessing(benchmark::State &state) { kitProcessing(state, Size##Form##Path()); } \
    void BM_##Size##_##Form##_PlainZlibOpensslExpat(benchmark::State &state)                                       \
    {                                                                                                              \
        plainPass(state, Size##Form##Path());                                                                      \
    }                                                                                                              \
    void BM_##Size##_##Form##_SameLibrariesNoKit(benchmark::State &state)                                          \
    {                                                                                                              \
        sameLibraries(state, Size##Form##Path());                                                                  \
    }                                                                                                              \
    BENCHMARK(BM_##Size##_##Form##_KitProcessing)->Unit(benchmark::kMillisecond)->MinTime(seconds);               \
    BENCHMARK(BM_##Size##_##Form##_PlainZlibOpensslExpat)->Unit(benchmark::kMillisecond)->MinTime(seconds);       \
    BENCHMARK(BM_##Size##_##Form##_SameLibrariesNoKit)->Unit(benchmark::kMillisecond)->MinTime(seconds);

// The large runs take long enough that the default half second gives two or
// three of them, too few for a steady ratio.
ORVIX_ARCHIVE_BENCHMARKS(Realistic, realistic, Traditional, traditional, 1.0)
ORVIX_ARCHIVE_BENCHMARKS(Realistic, realistic, Aes, aesAe1, 1.0)
ORVIX_ARCHIVE_BENCHMARKS(Large, large, Traditional, traditional, 4.0)
ORVIX_ARCHIVE_BENCHMARKS(Large, large, Aes, aesAe1, 4.0)

// Hostile documents, each far beyond one bound.
QByteArray smallElements() // 100 MB of <a/>
{
    return "<OfflinePaperlessKyc>" + QByteArray("<a/>").repeated(25'000'000) + "</OfflinePaperlessKyc>";
}

QByteArray nesting() // 100 MB of nesting
{
    return "<OfflinePaperlessKyc>" + QByteArray("<a>").repeated(33'300'000);
}

// Just under the size bound: the count and depth bounds must refuse them.
QByteArray smallElementsUnderSizeBound()
{
    return "<OfflinePaperlessKyc>" + QByteArray("<a/>").repeated(1'000'000) + "</OfflinePaperlessKyc>";
}

QByteArray nestingUnderSizeBound()
{
    return "<OfflinePaperlessKyc>" + QByteArray("<a>").repeated(1'300'000);
}

QByteArray manyAttributes() // 160k attributes on one element
{
    QByteArray xml = "<OfflinePaperlessKyc";
    for (int i = 0; i < 160'000; ++i)
        xml += " a" + QByteArray::number(i) + "=''";
    return xml + "/>";
}

using orvix::bench::resetPeakMemory;
using orvix::bench::statusField;

// The kit's steps up to the refusal, which must come: from the unzip (the
// extraction bound) or from the document's bounds; the row says which.
void kitRefusal(benchmark::State &state, const QString &zipPath)
{
    const QString out = workDir().filePath(QStringLiteral("kit-out"));
    resetPeakMemory();
    const qint64 start = statusField("VmRSS:");
    bool byUnzip = false;
    for (auto _ : state) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        orvix::platform::zip::UnzipError error;
        byUnzip = !orvix::platform::zip::unzipFileAtPath(zipPath, out, true, true, shareCode, &error);
        if (byUnzip) {
            benchmark::DoNotOptimize(error);
            continue;
        }
        const QStringList files = QDir(out).entryList({QStringLiteral("*offline*.xml")}, QDir::Files);
        QString why;
        if (orvix::readBoundedDocument(QDir(out).filePath(files.value(0)), &why)) {
            state.SkipWithError("the document was not refused");
            break;
        }
        benchmark::DoNotOptimize(why);
    }
    state.SetLabel(byUnzip ? "refused by the unzip" : "refused by the document bounds");
    state.counters["peak_MB_above_start"] = double(statusField("VmHWM:") - start) / 1024.0;
}

#define ORVIX_HOSTILE_BENCHMARK(Name, xml)                                                                             \
    void BM_Hostile_##Name##_KitRefusal(benchmark::State &state)                                                     \
    {                                                                                                                  \
        static const QString path = archive("hostile-" #Name, xml(), simulator::ArchiveForm::traditional);             \
        kitRefusal(state, path);                                                                                       \
    }                                                                                                                  \
    BENCHMARK(BM_Hostile_##Name##_KitRefusal)->Unit(benchmark::kMillisecond);

ORVIX_HOSTILE_BENCHMARK(SmallElements100MB, smallElements)
ORVIX_HOSTILE_BENCHMARK(Nesting100MB, nesting)
ORVIX_HOSTILE_BENCHMARK(Attributes160k, manyAttributes)
ORVIX_HOSTILE_BENCHMARK(SmallElements4MB, smallElementsUnderSizeBound)
ORVIX_HOSTILE_BENCHMARK(Nesting4MB, nestingUnderSizeBound)
// Documents a hostile authority stand-in served before the bounds held.
ORVIX_HOSTILE_BENCHMARK(Name16MiB, orvix::testsupport::hostileName16MiB)
ORVIX_HOSTILE_BENCHMARK(Towers986k, orvix::testsupport::hostileTowers)
ORVIX_HOSTILE_BENCHMARK(WideElements10k, orvix::testsupport::hostileWideElements)
ORVIX_HOSTILE_BENCHMARK(FlatElements999k, orvix::testsupport::hostileFlatElements)
ORVIX_HOSTILE_BENCHMARK(DistinctNames999k, orvix::testsupport::hostileDistinctNames)

// A 94 MB ZIP64 directory of 2,000,000 entries: refused before libarchive
// reads an entry.
void BM_Hostile_Zip64Entries2M_KitRefusal(benchmark::State &state)
{
    static const QString path = [] {
        const QString p = workDir().filePath(QStringLiteral("hostile-zip64-entries.zip"));
        QFile file(p);
        const QByteArray bytes = orvix::testsupport::zip64ListingMany(2'000'000);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write the archive");
        return p;
    }();
    const QString out = workDir().filePath(QStringLiteral("kit-out"));
    resetPeakMemory();
    const qint64 start = statusField("VmRSS:");
    for (auto _ : state) {
        orvix::platform::zip::UnzipError error;
        if (orvix::platform::zip::unzipFileAtPath(path, out, true, true, shareCode, &error)) {
            state.SkipWithError("the archive was not refused");
            break;
        }
        benchmark::DoNotOptimize(error);
    }
    state.counters["peak_MB_above_start"] = double(statusField("VmHWM:") - start) / 1024.0;
}
BENCHMARK(BM_Hostile_Zip64Entries2M_KitRefusal)->Unit(benchmark::kMillisecond);

// The simulator's backend on a thread of its own, so that the GUI thread's
// time is the kit's alone; its CPU clock is read to leave its work out of
// the process's.
struct Backend {
    QThread thread;
    QObject context;
    orvix::sim::Simulator *simulator = nullptr;
    QString url;
    clockid_t clock = CLOCK_THREAD_CPUTIME_ID;

    Backend()
    {
        thread.start();
        context.moveToThread(&thread);
        QMetaObject::invokeMethod(&context, [this] {
            pthread_getcpuclockid(pthread_self(), &clock);
            simulator = new orvix::sim::Simulator;
            if (simulator->start())
                url = simulator->backendBaseUrl();
        }, Qt::BlockingQueuedConnection);
    }
    ~Backend()
    {
        QMetaObject::invokeMethod(&context, [this] { delete simulator; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
};

Backend &backend()
{
    static Backend b;
    return b;
}

double cpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double threadCpuSeconds() { return cpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

// The process's CPU time but the backend stand-in's.
double kitCpuSeconds() { return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuSeconds(backend().clock); }

QByteArray realisticWithLargePhoto()
{
    simulator::OfflineKycOptions options;
    options.seed = 7;
    options.photoQuality = 95;
    simulator::OfflineKycDocument doc;
    for (int side = 1200;; side += 200) {
        options.photoSize = QSize(side, side * 5 / 4);
        doc = simulator::makeOfflineKycDocument(options);
        if (doc.photo.toBase64().size() >= 2'000'000)
            break;
    }
    return simulator::offlineKycXml(doc, 4);
}

// A photograph with as many pixels as the record panel decodes, as PNG (read
// whole, unlike JPEG, which is read scaled down).
QByteArray photoAtPixelBound()
{
    QImage image(4096, 4096, QImage::Format_RGB32);
    image.fill(QColor(200, 180, 160));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return orvix::testsupport::record({}, {}, png.toBase64());
}

// What each whole-path row must stay within, accepted or refused.
constexpr double goalGuiMs = 50;
constexpr double goalCpuMs = 1000;
constexpr double goalPeakMB = 200;

struct PathResult {
    double guiWorstMs = 0, cpuWorstMs = 0, peakMB = 0;
    int accepted = 0, refused = 0, neither = 0;
};
std::map<std::string, PathResult> pathResults;

// The whole path from the download's reply, as the web-API screen takes it:
// handleDownloadResponse() with the archive in Base64 on a fresh screen, then
// the event loop until the record panel or the error panel shows. The call
// may hand its work to a worker and return at once, so the clocks run from
// the call to the panel (painted).
void webApiPath(benchmark::State &state, const char *row, const QByteArray &zip, int deadlineSeconds = 60)
{
    if (backend().url.isEmpty()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    const QVariantMap reply{{QStringLiteral("status"), QStringLiteral("Success")},
                            {QStringLiteral("eKycXML"), QString::fromLatin1(zip.toBase64())}};
    resetPeakMemory();
    const qint64 start = statusField("VmRSS:");
    PathResult result;
    double guiSeconds = 0;
    double cpuTotal = 0;
    bool photoShown = true;
    for (auto _ : state) {
        state.PauseTiming();
        auto screen = orvix::kitStoryboard().instantiate<orvix::NewAadhaarFlowVC>(QStringLiteral("NewAadhaarFlowVC"));
        screen->clientInfo = orvix::clientInfo{orvix::sim::Backend::defaultCredential, QStringLiteral("user-1"), {}, {}};
        screen->urlComponent = backend().url;
        state.ResumeTiming();

        const double guiBefore = threadCpuSeconds();
        const double cpuBefore = kitCpuSeconds();
        screen->handleDownloadResponse(reply);
        const QDeadlineTimer deadline(qint64(deadlineSeconds) * 1000);
        // Sleeps until an event comes (the timer wakes it for the deadline):
        // the overload with a time limit never waits, and its spinning would
        // count as the GUI thread's work.
        QTimer wake;
        wake.start(20);
        while (screen->userInfoView->isHidden() && screen->ErrorView->isHidden() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        wake.stop();
        QWidget *panel = screen->userInfoView->isHidden() ? screen->ErrorView.data() : screen->userInfoView.data();
        panel->resize(panel->sizeHint().expandedTo(QSize(390, 400)));
        const QImage shown = panel->grab().toImage();
        const double gui = threadCpuSeconds() - guiBefore;
        const double cpu = kitCpuSeconds() - cpuBefore;
        guiSeconds += gui;
        cpuTotal += cpu;
        result.guiWorstMs = qMax(result.guiWorstMs, 1000 * gui);
        result.cpuWorstMs = qMax(result.cpuWorstMs, 1000 * cpu);

        if (!screen->userInfoView->isHidden() && !shown.isNull() && !screen->usernameLbl->text().isEmpty()) {
            ++result.accepted;
            photoShown = photoShown && !screen->profilePic->image().isNull();
        } else if (!screen->ErrorView->isHidden()) {
            ++result.refused;
        } else {
            ++result.neither;
        }
        state.PauseTiming();
        screen.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    result.peakMB = double(statusField("VmHWM:") - start) / 1024.0;
    const double n = double(qMax<qint64>(1, state.iterations()));
    state.counters["gui_thread_ms"] = 1000 * guiSeconds / n;
    state.counters["gui_thread_worst_ms"] = result.guiWorstMs;
    state.counters["cpu_ms"] = 1000 * cpuTotal / n;
    state.counters["cpu_worst_ms"] = result.cpuWorstMs;
    state.counters["peak_MB_above_start"] = result.peakMB;
    state.counters["accepted"] = result.accepted;
    state.counters["refused"] = result.refused;
    state.counters["archive_MB"] = double(zip.size()) / (1024 * 1024);
    if (result.accepted)
        state.counters["photo_shown"] = photoShown ? 1 : 0;
    const bool met = result.guiWorstMs <= goalGuiMs && result.cpuWorstMs <= goalCpuMs && result.peakMB <= goalPeakMB;
    state.SetLabel(std::string(result.neither ? "no panel" : result.refused ? "refused" : "accepted")
                   + (met ? ", within goal" : ", beyond goal"));
    if (result.neither)
        state.SkipWithError("neither panel showed in time");
    PathResult &kept = pathResults[row];
    kept.guiWorstMs = qMax(kept.guiWorstMs, result.guiWorstMs);
    kept.cpuWorstMs = qMax(kept.cpuWorstMs, result.cpuWorstMs);
    kept.peakMB = qMax(kept.peakMB, result.peakMB);
    kept.accepted += result.accepted;
    kept.refused += result.refused;
    kept.neither += result.neither;
}

#define ORVIX_BOUNDS_BENCHMARK(Name, xml)                                                                          \
    void BM_AtBounds_##Name##_WholePath(benchmark::State &state)                                                 \
    {                                                                                                              \
        static const QByteArray zip = fileBytes(archive("bounds-" #Name, xml, simulator::ArchiveForm::traditional)); \
        webApiPath(state, "AtBounds_" #Name, zip);                                                                 \
    }                                                                                                              \
    BENCHMARK(BM_AtBounds_##Name##_WholePath)->Unit(benchmark::kMillisecond)->Iterations(5);

namespace bounds = orvix::testsupport;
ORVIX_BOUNDS_BENCHMARK(RealisticPhoto2MB, realisticWithLargePhoto())
ORVIX_BOUNDS_BENCHMARK(Bytes, bounds::atBytes())
ORVIX_BOUNDS_BENCHMARK(Elements, bounds::atElements())
ORVIX_BOUNDS_BENCHMARK(Depth, bounds::atDepth())
ORVIX_BOUNDS_BENCHMARK(Attributes, bounds::atAttributes())
ORVIX_BOUNDS_BENCHMARK(AttributeLength, bounds::atAttributeLength())
ORVIX_BOUNDS_BENCHMARK(TextLength, bounds::atTextLength())
ORVIX_BOUNDS_BENCHMARK(NameLength, bounds::atNameLength())
ORVIX_BOUNDS_BENCHMARK(DistinctNames, bounds::atDistinctNames())
ORVIX_BOUNDS_BENCHMARK(WorstCombination, bounds::worstCombination())
ORVIX_BOUNDS_BENCHMARK(PhotoPixels, photoAtPixelBound())

// Archives crafted inside every archive bound, made here. The authority's
// archive holds one document under a short flat name; these do not.
using orvix::testsupport::makeZip;
using orvix::testsupport::Method;
using orvix::testsupport::ZipEntry;
const QString documentName = QStringLiteral("offlineaadhaar20260101000000000.xml");

QByteArray checkedZip(const QList<ZipEntry> &entries, Method method, const char *what)
{
    const QByteArray zip = makeZip(entries, method, shareCode);
    if (zip.isEmpty() || zip.size() > orvix::platform::zip::kMaxArchiveBytes)
        qFatal("%s: %lld bytes, not a ZIP inside the archive bound", what, static_cast<long long>(zip.size()));
    return zip;
}

// The document and 998 empty files, each 1,972 folders deep (names of 3,948
// bytes): about 8 MB.
QByteArray deepArchive()
{
    QList<ZipEntry> entries{{documentName, realistic()}};
    const QString folders = QStringLiteral("d/").repeated(1972);
    for (int i = 0; i < 998; ++i)
        entries.append({folders + QStringLiteral("f%1").arg(i, 3, 10, QLatin1Char('0')), {}});
    return checkedZip(entries, Method::traditional, "deep archive");
}

// 63 empty files under 65,535-byte names of one-letter folders (the longest
// a ZIP name can be), then the document.
QByteArray longNamesArchive()
{
    const QString folders = QStringLiteral("n/").repeated(32767);
    const QString last = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_");
    QList<ZipEntry> entries;
    for (int i = 0; i < 63; ++i)
        entries.append({folders + last.at(i), {}});
    entries.append({documentName, realistic()});
    return checkedZip(entries, Method::traditional, "long names archive");
}

// The document and 998 small files, all AES, the last one's authentication
// code broken.
QByteArray aesLastBrokenArchive()
{
    QList<ZipEntry> entries{{documentName, realistic()}};
    for (int i = 0; i < 998; ++i)
        entries.append({QStringLiteral("f%1.txt").arg(i, 3, 10, QLatin1Char('0')), QByteArray(64, char('a' + i % 26))});
    QByteArray zip = checkedZip(entries, Method::aes256, "AES archive");
    // The last central record points at the last entry's data; its code is
    // the data's last 10 bytes.
    const qsizetype last = zip.lastIndexOf("PK\x01\x02");
    const auto *record = reinterpret_cast<const uchar *>(zip.constData() + last);
    const qsizetype local = qFromLittleEndian<quint32>(record + 42);
    const qsizetype packed = qFromLittleEndian<quint32>(record + 20);
    const auto *header = reinterpret_cast<const uchar *>(zip.constData() + local);
    const qsizetype data = local + 30 + qFromLittleEndian<quint16>(header + 26) + qFromLittleEndian<quint16>(header + 28);
    zip[data + packed - 1] = char(zip[data + packed - 1] ^ 0x55);
    return zip;
}

// 4,060 elements of 64 short attributes each: 259,840 attributes, 2.5 MB,
// inside every document bound.
QByteArray attributeHeavyXml()
{
    const QByteArray element = "<e " + orvix::testsupport::attributes(64, "vvv") + "/>";
    return orvix::testsupport::record({}, {}, "QUJD", element.repeated(4060));
}

void BM_WebApi_Realistic(benchmark::State &state)
{
    static const QByteArray zip = fileBytes(RealisticTraditionalPath());
    webApiPath(state, "WebApi_Realistic", zip);
}
void BM_WebApi_Attributes259840(benchmark::State &state)
{
    static const QByteArray zip =
        fileBytes(archive("attributes-259840", attributeHeavyXml(), simulator::ArchiveForm::traditional));
    webApiPath(state, "WebApi_Attributes259840", zip);
}
// Minutes each where the kit walks every folder of every name on the GUI
// thread: one iteration, and a name to pick them out with --benchmark_filter.
void BM_WebApiHostile_Deep998x1972(benchmark::State &state)
{
    static const QByteArray zip = deepArchive();
    webApiPath(state, "WebApiHostile_Deep998x1972", zip, 900);
}
void BM_WebApiHostile_LongNames63x65535(benchmark::State &state)
{
    static const QByteArray zip = longNamesArchive();
    webApiPath(state, "WebApiHostile_LongNames63x65535", zip, 900);
}
void BM_WebApiHostile_Aes999LastBroken(benchmark::State &state)
{
    static const QByteArray zip = aesLastBrokenArchive();
    webApiPath(state, "WebApiHostile_Aes999LastBroken", zip, 900);
}
BENCHMARK(BM_WebApi_Realistic)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WebApi_Attributes259840)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WebApiHostile_Deep998x1972)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WebApiHostile_LongNames63x65535)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WebApiHostile_Aes999LastBroken)->Unit(benchmark::kMillisecond)->Iterations(1);

// The console report, then each kit run's CPU time over its two yardsticks
// (the medians when the runs are repeated), and the whole-path rows beside
// their goal.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred || run.iterations <= 0)
                continue;
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                cpu[name] = run.GetAdjustedCPUTime();
                fromMedian.insert(name);
            } else if (run.run_type == Run::RT_Iteration && !fromMedian.count(name)) {
                cpu[name] = run.GetAdjustedCPUTime(); // the last repetition until the median comes
            }
        }
    }
    void printRatios() const
    {
        const std::string kit = "_KitProcessing";
        const bool anyKit = std::any_of(cpu.begin(), cpu.end(), [&](const auto &run) {
            return run.first.find(kit) != std::string::npos;
        });
        if (anyKit) {
            std::printf("\nKit's archive-to-record path over each yardstick, CPU time%s:\n",
                        fromMedian.empty() ? "" : " (medians of the repetitions)");
            std::printf("%-22s %28s %38s\n", "", "kit / plain pass", "kit / same libraries without the kit");
            std::printf("%-22s %28s %38s\n", "", "(zlib + OpenSSL + expat)", "(libarchive + QXmlStreamReader)");
        }
        for (const auto &[name, time] : cpu) {
            const auto at = name.find(kit);
            if (at == std::string::npos)
                continue;
            const auto ratio = [&, time = time](const char *yardstick) {
                std::string other = name;
                other.replace(at, kit.size(), yardstick);
                const auto found = cpu.find(other);
                return found != cpu.end() && found->second > 0 ? time / found->second : 0.0;
            };
            std::printf("%-22s %28.2f %38.2f\n", name.substr(3, at - 3).c_str(), ratio("_PlainZlibOpensslExpat"),
                        ratio("_SameLibrariesNoKit"));
        }
        if (pathResults.empty())
            return;
        std::printf("\nWhole path from the download's reply, worst of the runs; goal GUI <= %.0f ms, CPU <= %.0f ms, "
                    "peak <= %.0f MB:\n",
                    goalGuiMs, goalCpuMs, goalPeakMB);
        std::printf("%-46s %10s %10s %9s %-9s %s\n", "row", "GUI ms", "CPU ms", "peak MB", "outcome", "goal");
        for (const auto &[name, r] : pathResults) {
            const bool met = r.guiWorstMs <= goalGuiMs && r.cpuWorstMs <= goalCpuMs && r.peakMB <= goalPeakMB;
            std::printf("%-46s %10.1f %10.1f %9.1f %-9s %s\n", name.c_str(), r.guiWorstMs, r.cpuWorstMs, r.peakMB,
                        r.neither ? "no panel" : r.refused ? (r.accepted ? "mixed" : "refused") : "accepted",
                        met ? "met" : "missed");
        }
    }

private:
    std::map<std::string, double> cpu;
    std::set<std::string> fromMedian;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv); // the JPEG writer is a plugin; the record panel is widgets
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::printf("realistic document: %lld bytes, large document: %lld bytes\n",
                static_cast<long long>(realistic().size()), static_cast<long long>(large().size()));
    std::printf("CPU ms of the whole-path rows: the process's, the backend stand-in's thread left out\n");
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}

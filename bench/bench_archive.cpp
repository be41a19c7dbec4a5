// Archive processing as an Aadhaar screen does it after the download (unzip
// with the share code, read the XML file, convert, build the record), beside
// a plain libarchive extraction plus a plain QXmlStreamReader pass over the
// same bytes, for a realistic archive and one near the size bound, each in the
// traditional and the AES form. The machines are shared, so the ratios at
// the end are of CPU time. Then hostile documents the kit must refuse
// quickly: their CPU time, and the peak memory above the run's start. Last,
// documents at the bounds, each dimension at its limit and the worst
// combination, through the whole path a web-API screen takes: archive
// opened, document converted, record built, submission encoded and sent to
// the simulator's backend, record panel shown and painted; with the GUI
// thread's CPU time and the peak memory above the start.

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
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include "benchmemory.h"

#include <benchmark/benchmark.h>
#include <archive.h>
#include <archive_entry.h>

#include <cstdio>
#include <ctime>
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

void kitProcessing(benchmark::State &state, const QString &zipPath)
{
    const QString out = workDir().filePath(QStringLiteral("kit-out"));
    for (auto _ : state) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        orvix::platform::zip::UnzipError error;
        if (!orvix::platform::zip::unzipFileAtPath(zipPath, out, true, true, shareCode, &error))
            state.SkipWithError(qPrintable(error.description()));
        const QStringList files = QDir(out).entryList({QStringLiteral("*offline*.xml")}, QDir::Files);
        QString why;
        const std::optional<QString> xml = orvix::readBoundedDocument(QDir(out).filePath(files.value(0)), &why);
        if (!xml) {
            state.SkipWithError(qPrintable(why));
            break;
        }
        orvix::ParseXMLData parser(*xml);
        const QJsonDocument json = QJsonDocument::fromJson(parser.convertToJSON().toUtf8());
        auto record = std::make_shared<orvix::OfflinePaperlessKyc>(
            json.object().value(QStringLiteral("OfflinePaperlessKyc")).toObject().toVariantMap());
        benchmark::DoNotOptimize(record);
    }
}

void plainPass(benchmark::State &state, const QString &zipPath)
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

#define ORVIX_ARCHIVE_BENCHMARKS(Size, xml, Form, form, seconds)                                                              \
    void BM_##Size##_##Form##_KitProcessing(benchmark::State &state)                                                 \
    {                                                                                                                  \
        static const QString path = archive(#Size "-" #Form, xml(), simulator::ArchiveForm::form);                     \
        kitProcessing(state, path);                                                                                    \
    }                                                                                                                  \
    void BM_##Size##_##Form##_PlainLibarchiveAndReader(benchmark::State &state)                                      \
    {                                                                                                                  \
        static const QString path = archive(#Size "-" #Form, xml(), simulator::ArchiveForm::form);                     \
        plainPass(state, path);                                                                                        \
    }                                                                                                                  \
    BENCHMARK(BM_##Size##_##Form##_KitProcessing)->Unit(benchmark::kMillisecond)->MinTime(seconds);                   \
    BENCHMARK(BM_##Size##_##Form##_PlainLibarchiveAndReader)->Unit(benchmark::kMillisecond)->MinTime(seconds);

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

// The kit's steps up to the refusal, which must come.
void kitRefusal(benchmark::State &state, const QString &zipPath)
{
    const QString out = workDir().filePath(QStringLiteral("kit-out"));
    resetPeakMemory();
    const qint64 start = statusField("VmRSS:");
    for (auto _ : state) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        orvix::platform::zip::UnzipError error;
        if (!orvix::platform::zip::unzipFileAtPath(zipPath, out, true, true, shareCode, &error)) {
            state.SkipWithError(qPrintable(error.description()));
            break;
        }
        const QStringList files = QDir(out).entryList({QStringLiteral("*offline*.xml")}, QDir::Files);
        QString why;
        if (orvix::readBoundedDocument(QDir(out).filePath(files.value(0)), &why)) {
            state.SkipWithError("the document was not refused");
            break;
        }
        benchmark::DoNotOptimize(why);
    }
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
// time is the kit's alone.
struct Backend {
    QThread thread;
    QObject context;
    orvix::sim::Simulator *simulator = nullptr;
    QString url;

    Backend()
    {
        thread.start();
        context.moveToThread(&thread);
        QMetaObject::invokeMethod(&context, [this] {
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

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The realistic document with a photograph of about 2 MB of Base64.
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

// The whole path on the GUI thread, as the web-API screen takes it.
void wholePath(benchmark::State &state, const QString &zipPath)
{
    if (backend().url.isEmpty()) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    QFile zipFile(zipPath);
    zipFile.open(QIODevice::ReadOnly);
    const QByteArray zip = zipFile.readAll();
    resetPeakMemory();
    const qint64 start = statusField("VmRSS:");
    double guiSeconds = 0;
    double worstGuiSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString target = orvix::AadhaarRecordProcessing::archivePath();
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(zip) != zip.size()) {
            state.SkipWithError("cannot write the archive");
            break;
        }
        out.close();
        auto screen = orvix::kitStoryboard().instantiate<orvix::NewAadhaarFlowVC>(QStringLiteral("NewAadhaarFlowVC"));
        screen->clientInfo = orvix::clientInfo{orvix::sim::Backend::defaultCredential, QStringLiteral("user-1"), {}, {}};
        screen->urlComponent = backend().url;
        state.ResumeTiming();

        const double before = threadCpuSeconds();
        screen->openArchive(target);
        const QDeadlineTimer deadline(60'000);
        while (screen->userInfoView->isHidden() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        QWidget *panel = screen->userInfoView;
        panel->resize(panel->sizeHint().expandedTo(QSize(390, 400)));
        const QImage shown = panel->grab().toImage();
        const double spent = threadCpuSeconds() - before;
        guiSeconds += spent;
        worstGuiSeconds = qMax(worstGuiSeconds, spent);

        if (panel->isHidden() || shown.isNull() || screen->usernameLbl->text().isEmpty()) {
            state.SkipWithError("the record was not shown");
            break;
        }
        state.counters["photo_shown"] = screen->profilePic->image().isNull() ? 0 : 1;
        state.PauseTiming();
        screen.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    if (state.iterations() > 0) {
        state.counters["gui_thread_ms"] = 1000.0 * guiSeconds / double(state.iterations());
        state.counters["gui_thread_worst_ms"] = 1000.0 * worstGuiSeconds;
    }
    state.counters["peak_MB_above_start"] = double(statusField("VmHWM:") - start) / 1024.0;
}

#define ORVIX_BOUNDS_BENCHMARK(Name, xml)                                                                              \
    void BM_AtBounds_##Name##_WholePath(benchmark::State &state)                                                     \
    {                                                                                                                  \
        static const QString path = archive("bounds-" #Name, xml, simulator::ArchiveForm::traditional);                \
        wholePath(state, path);                                                                                        \
    }                                                                                                                  \
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

// The console report, then each kit run's CPU time over its plain pair's
// (the medians when the runs are repeated).
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
        for (const auto &[name, time] : cpu) {
            const auto at = name.find(kit);
            if (at == std::string::npos)
                continue;
            std::string plain = name;
            plain.replace(at, kit.size(), "_PlainLibarchiveAndReader");
            const auto other = cpu.find(plain);
            if (other != cpu.end() && other->second > 0)
                std::printf("%s: kit / plain CPU time = %.2f\n", name.substr(3, at - 3).c_str(), time / other->second);
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
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}

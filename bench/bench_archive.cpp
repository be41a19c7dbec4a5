// Archive processing as an Aadhaar screen does it after the download (unzip
// with the share code, read the XML file, convert, build the record), beside
// a plain libarchive extraction plus a plain QXmlStreamReader pass over the
// same bytes, for a realistic archive and a 10 MB one, each in the
// traditional and the AES form. The machines are shared, so the ratios at
// the end are of CPU time. Then hostile documents the kit must refuse
// quickly: their CPU time, and the peak memory above the run's start.

#include "orvix_ios_native_sdk/document/OfflinePaperlessKycModel.h"
#include "orvix_ios_native_sdk/document/ParseXMLData.h"
#include "platform/zip/ziparchive.h"
#include "simulator/documents/OfflineKycArchive.h"
#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <benchmark/benchmark.h>
#include <archive.h>
#include <archive_entry.h>

#include <cstdio>
#include <malloc.h>
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

// About 10 MB: many residents' blocks one after the other inside one record.
QByteArray largeXml()
{
    QByteArray blocks;
    for (quint32 seed = 1; blocks.size() < 10 * 1024 * 1024; ++seed) {
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
    return "<OfflinePaperlessKyc>" + QByteArray("<a/>").repeated(4'000'000) + "</OfflinePaperlessKyc>";
}

QByteArray nestingUnderSizeBound()
{
    return "<OfflinePaperlessKyc>" + QByteArray("<a>").repeated(5'500'000);
}

QByteArray manyAttributes() // 160k attributes on one element
{
    QByteArray xml = "<OfflinePaperlessKyc";
    for (int i = 0; i < 160'000; ++i)
        xml += " a" + QByteArray::number(i) + "=''";
    return xml + "/>";
}

// Resident memory now and at its peak since the last reset, in kB (Linux).
qint64 statusField(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Memory freed by earlier benchmarks goes back to the system first, so that
// it cannot hide this one's growth.
void resetPeakMemory()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

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
ORVIX_HOSTILE_BENCHMARK(SmallElements16MB, smallElementsUnderSizeBound)
ORVIX_HOSTILE_BENCHMARK(Nesting16MB, nestingUnderSizeBound)

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
    QCoreApplication application(argc, argv); // the JPEG writer is a plugin
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

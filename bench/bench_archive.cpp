// Archive processing as an Aadhaar screen does it after the download (unzip
// with the share code, read the XML file, convert, build the record), beside
// a plain libzip extraction plus a plain QXmlStreamReader pass over the same
// bytes, for a realistic archive and a 10 MB one.

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
#include <zip.h>

#include <cstdio>

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
QString archive(const char *name, const QByteArray &xml)
{
    const QString path = workDir().filePath(QString::fromLatin1(name) + QStringLiteral(".zip"));
    if (!QFile::exists(path)) {
        QString error;
        const QByteArray bytes = simulator::makeOfflineKycArchive(xml, QStringLiteral("offlineaadhaar20260101000000000.xml"),
                                                                  shareCode, &error);
        QFile file(path);
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write the archive: %s", qPrintable(error));
    }
    return path;
}

const QString &realisticArchive()
{
    static const QString path = archive("realistic", realisticXml());
    return path;
}

const QString &largeArchive()
{
    static const QString path = archive("large", largeXml());
    return path;
}

void kitProcessing(benchmark::State &state, const QString &zipPath)
{
    const QString out = workDir().filePath(QStringLiteral("kit-out"));
    for (auto _ : state) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        QString error;
        if (!orvix::platform::zip::unzipFileAtPath(zipPath, out, true, true, shareCode, &error))
            state.SkipWithError(qPrintable(error));
        const QStringList files = QDir(out).entryList({QStringLiteral("*offline*.xml")}, QDir::Files);
        QFile file(QDir(out).filePath(files.value(0)));
        if (!file.open(QIODevice::ReadOnly))
            state.SkipWithError("no XML file");
        orvix::ParseXMLData parser(QString::fromUtf8(file.readAll()));
        const QJsonDocument json = QJsonDocument::fromJson(parser.convertToJSON().toUtf8());
        auto record = std::make_shared<orvix::OfflinePaperlessKyc>(
            json.object().value(QStringLiteral("OfflinePaperlessKyc")).toObject().toVariantMap());
        benchmark::DoNotOptimize(record);
    }
}

void plainPass(benchmark::State &state, const QString &zipPath)
{
    for (auto _ : state) {
        int err = 0;
        zip_t *zip = zip_open(QFile::encodeName(zipPath).constData(), ZIP_RDONLY, &err);
        if (!zip) {
            state.SkipWithError("zip_open failed");
            break;
        }
        zip_set_default_password(zip, shareCode.toLatin1().constData());
        zip_stat_t st;
        zip_stat_index(zip, 0, 0, &st);
        QByteArray bytes(qsizetype(st.size), Qt::Uninitialized);
        zip_file_t *entry = zip_fopen_index(zip, 0, 0);
        const zip_int64_t n = entry ? zip_fread(entry, bytes.data(), st.size) : -1;
        if (entry)
            zip_fclose(entry);
        zip_close(zip);
        if (n != zip_int64_t(st.size))
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

void BM_Realistic_KitProcessing(benchmark::State &state) { kitProcessing(state, realisticArchive()); }
void BM_Realistic_PlainLibzipAndReader(benchmark::State &state) { plainPass(state, realisticArchive()); }
void BM_Large_KitProcessing(benchmark::State &state) { kitProcessing(state, largeArchive()); }
void BM_Large_PlainLibzipAndReader(benchmark::State &state) { plainPass(state, largeArchive()); }

BENCHMARK(BM_Realistic_KitProcessing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Realistic_PlainLibzipAndReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_KitProcessing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_PlainLibzipAndReader)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv); // the JPEG writer is a plugin
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::printf("realistic archive: %lld bytes, large archive: %lld bytes\n",
                static_cast<long long>(QFileInfo(realisticArchive()).size()),
                static_cast<long long>(QFileInfo(largeArchive()).size()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}

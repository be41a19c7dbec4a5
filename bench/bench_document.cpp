// XML to JSON and the record, each beside a plain reader pass over the same
// text, on a realistic document and on a 10 MB stress document.

#include "orvix_ios_native_sdk/document/OfflinePaperlessKycModel.h"
#include "orvix_ios_native_sdk/document/ParseXMLData.h"
#include "simulator/documents/OfflineKycDocumentGenerator.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>
#include <cstdlib>
#include <map>
#include <string>

using namespace Qt::StringLiterals;
namespace simulator = orvix::simulator;

namespace {

QString section(const QString &xml, const QString &open, const QString &close)
{
    const qsizetype from = xml.indexOf(open);
    const qsizetype to = xml.indexOf(close, from);
    return xml.mid(from, to + close.size() - from);
}

// About 100 KB, most of it the Base64 photograph, as the authority sends it.
const QString &realisticDocument()
{
    static const QString xml = [] {
        simulator::OfflineKycOptions options;
        options.seed = 7;
        options.photoSize = QSize(400, 500);
        options.photoQuality = 90;
        return QString::fromUtf8(simulator::offlineKycXml(simulator::makeOfflineKycDocument(options), -1));
    }();
    return xml;
}

// About 10 MB: many residents' blocks (repeated names, so arrays), texts
// split by entities, CDATA and comments, mixed content, one deep chain and
// one long text.
const QString &stressDocument()
{
    static const QString xml = [] {
        QStringList blocks;
        for (quint32 seed = 1; seed <= 40; ++seed) {
            simulator::OfflineKycOptions options;
            options.seed = seed;
            options.photoSize = QSize(40 + int(seed), 50 + int(seed));
            const QString one = QString::fromUtf8(simulator::offlineKycXml(simulator::makeOfflineKycDocument(options), 2));
            blocks << section(one, u"<UidData>"_s, u"</UidData>"_s);
        }
        const QString note = u"<Note lang=\"en\">Ram &amp; Sons &lt;ok&gt;&#10;\"quoted\" back\\slash"
                             u"<![CDATA[ raw <b> & ]]><!-- c --> end</Note>\n"_s;
        const QString list = u"<List>\n  <Item k=\"1\"/>\n  <Item>t</Item>\n  <Other>x<Inner/>y</Other>\n"
                             u"  <Item><Deep><Deeper a=\"&apos;x&apos;\"/></Deep></Item>\n</List>\n"_s;

        QString out = u"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                      u"<OfflinePaperlessKyc referenceId=\"123420230101090000000\">\n"_s;
        out += u"<a>"_s.repeated(500) + u"deep"_s + u"</a>"_s.repeated(500) + u'\n';
        out += u"<Long>"_s + u"abc &amp; def "_s.repeated(50000) + u"</Long>\n"_s;
        const qsizetype target = 10 * 1024 * 1024;
        for (int i = 0; out.size() < target; ++i)
            out += blocks[i % blocks.size()] + u'\n' + note + list;
        const QString signature = QString::fromUtf8(simulator::offlineKycXml(simulator::makeOfflineKycDocument(), 2));
        out += section(signature, u"<Signature"_s, u"</Signature>"_s);
        out += u"\n</OfflinePaperlessKyc>\n"_s;
        return out;
    }();
    return xml;
}

void readerPass(benchmark::State &state, const QString &xml)
{
    for (auto _ : state) {
        QXmlStreamReader reader(xml);
        reader.setNamespaceProcessing(false);
        qint64 tokens = 0;
        while (!reader.atEnd()) {
            reader.readNext();
            ++tokens;
        }
        if (reader.hasError())
            state.SkipWithError("the document does not parse");
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(state.iterations() * xml.toUtf8().size());
}

void converter(benchmark::State &state, const QString &xml)
{
    for (auto _ : state) {
        QString json = orvix::ParseXMLData(xml).convertToJSON();
        if (json.isEmpty())
            state.SkipWithError("the converter failed");
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(state.iterations() * xml.toUtf8().size());
}

// What the flow does: convert, decode, build the record.
void converterAndModel(benchmark::State &state, const QString &xml)
{
    for (auto _ : state) {
        const QString json = orvix::ParseXMLData(xml).convertToJSON();
        const QJsonDocument decoded = QJsonDocument::fromJson(json.toUtf8());
        const orvix::OfflinePaperlessKyc record(
            decoded.object().toVariantMap().value(u"OfflinePaperlessKyc"_s).toMap());
        if (!record.referenceId())
            state.SkipWithError("no record");
        benchmark::DoNotOptimize(record);
    }
    state.SetBytesProcessed(state.iterations() * xml.toUtf8().size());
}

void BM_Realistic_ReaderPass(benchmark::State &state) { readerPass(state, realisticDocument()); }
void BM_Realistic_Converter(benchmark::State &state) { converter(state, realisticDocument()); }
void BM_Realistic_ConverterAndModel(benchmark::State &state) { converterAndModel(state, realisticDocument()); }
void BM_Stress_ReaderPass(benchmark::State &state) { readerPass(state, stressDocument()); }
void BM_Stress_Converter(benchmark::State &state) { converter(state, stressDocument()); }
void BM_Stress_ConverterAndModel(benchmark::State &state) { converterAndModel(state, stressDocument()); }

BENCHMARK(BM_Realistic_ReaderPass)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Realistic_Converter)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Realistic_ConverterAndModel)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stress_ReaderPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stress_Converter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stress_ConverterAndModel)->Unit(benchmark::kMillisecond);

// Prints as usual, then each measurement against the reader pass of its document.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                m_times[run.benchmark_name()] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }

    void printRatios() const
    {
        std::printf("\nTime against the plain reader pass over the same text:\n");
        for (const char *document : {"BM_Realistic", "BM_Stress"}) {
            const auto base = m_times.find(std::string(document) + "_ReaderPass");
            if (base == m_times.end())
                continue;
            for (const char *what : {"_Converter", "_ConverterAndModel"}) {
                const auto it = m_times.find(std::string(document) + what);
                if (it != m_times.end())
                    std::printf("  %-32s %6.2fx\n", it->first.c_str(), it->second / base->second);
            }
        }
    }

private:
    std::map<std::string, double> m_times; // seconds
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv); // the JPEG writer is a plugin
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::printf("realistic document: %lld bytes, stress document: %lld bytes\n",
                static_cast<long long>(realisticDocument().toUtf8().size()),
                static_cast<long long>(stressDocument().toUtf8().size()));
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}

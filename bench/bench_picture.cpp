// The bounded picture decoder: what each picture costs through
// decodePictureInBackground, as a screen calls it. For every row: the CPU
// time of the whole process per decode (the worker's decoding included), the
// GUI thread's own CPU time from the call until `done` has run, and the peak
// memory above the row's start. The goal, for every picture the decoder
// accepts at each bound and for every bomb it refuses: at most 0.5 s of CPU,
// 100 MB and 50 ms of the GUI thread. The pictures are made here (the bombs
// by tests/support/picturebombs.h), before anything is measured; a table
// with the worst iteration of each row comes last.

#include "benchmemory.h"
#include "picturebombs.h"
#include "platform/ui/picture.h"

#include <QApplication>
#include <QFont>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

using namespace orvix::testsupport;
using orvix::platform::ui::DecodedPicture;
using orvix::platform::ui::PictureBounds;

namespace {

double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// A captcha as a page draws one: a few letters and strokes on white.
QImage captchaLike(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font;
    font.setPixelSize(size.height() / 3);
    painter.setFont(font);
    painter.setPen(QPen(QColor(40, 40, 120), 3));
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("7G4KQ"));
    for (int i = 0; i < 12; ++i)
        painter.drawLine(0, (i * 97) % size.height(), size.width(), (i * 53 + 40) % size.height());
    return image;
}

struct Row {
    std::string name;
    QByteArray bytes;
    PictureBounds bounds;
    bool accepted = false; // what the decoder must do with it
    // Filled by the run:
    QString outcome;
    double worstCpu = 0, worstGuiMs = 0, peakMB = 0;
    bool asExpected = true;
};

std::vector<Row> &rows()
{
    static std::vector<Row> all;
    return all;
}

void add(const char *name, QByteArray bytes, PictureBounds bounds, bool accepted)
{
    rows().push_back({name, std::move(bytes), bounds, accepted});
}

void makeRows()
{
    const PictureBounds photograph = PictureBounds::photograph();
    const PictureBounds captcha = PictureBounds::captcha();
    // The bombs of the hostile document, captcha reply and resident page.
    add("JpegScanBomb4096_Repeat1000_Photograph", progressiveScanBomb({4096, 4096}, 1000), photograph, false);
    add("JpegScanBomb4096_Repeat50000_Photograph", progressiveScanBomb({4096, 4096}, 50000), photograph, false);
    add("JpegEmptyScans1024_50000_Captcha", emptyScanBomb({1024, 1024}, 50000), captcha, false);
    add("JpegEmptyScans1024_20000_Captcha", emptyScanBomb({1024, 1024}, 20000), captcha, false);
    add("JpegEmptyScans2048_40000_Captcha", emptyScanBomb({2048, 2048}, 40000), captcha, false);
    add("Png5600_Captcha", bigPng({5600, 5600}), captcha, false);
    add("IcoLie1x1_Holding5000_Captcha", icoLie({5000, 5000}), captcha, false);
    add("PngTrailingZlib_1024_Captcha", zeroPng({1024, 1024}, false, qint64(250) << 20), captcha, false);
    add("PngText30x8MB_Captcha", textPng({16, 16}, "zTXt", 30, 8'000'000), captcha, false);
    add("JpegProgressive2000_64Scans_Photograph", progressiveJpeg({2000, 2000}, 64), photograph, false);
    add("JpegProgressive4096_64Scans_Photograph", progressiveJpeg({4096, 4096}, 64), photograph, false);
    add("JpegProgressive444_3464_Photograph", libjpegOf(photoLike({3464, 3464}), 0, true, 1), photograph, false);
    // What the decoder accepts, at each bound.
    add("JpegPhotograph400x500_Photograph", jpegOf(photoLike({400, 500}), 90), photograph, true);
    add("JpegBaseline4096_Photograph", jpegOf(photoLike({4096, 4096}), 75), photograph, true);
    add("JpegProgressive4096_Photograph", jpegOf(photoLike({4096, 4096}), 75, true), photograph, true);
    add("JpegProgressive1700_64Scans_Photograph", progressiveJpeg({1700, 1700}, 64), photograph, true);
    add("JpegRestarts4096_Photograph", libjpegOf(photoLike({4096, 4096}), 1, false), photograph, true);
    add("JpegWide16384x1024_Photograph", jpegOf(photoLike({16384, 1024}), 75), photograph, true);
    add("JpegCaptcha1024_Captcha", jpegOf(captchaLike({1024, 1024}), 75), captcha, true);
    add("JpegProgressive1024_64Scans_Captcha", progressiveJpeg({1024, 1024}, 64), captcha, true);
    add("PngCaptcha1024_Captcha", pngOf(captchaLike({1024, 1024})), captcha, true);
    add("PngInterlaced1024_Captcha", zeroPng({1024, 1024}, true), captcha, true);
}

void decodeRow(benchmark::State &state, Row *row)
{
    orvix::bench::resetPeakMemory();
    const qint64 start = orvix::bench::statusField("VmRSS:");
    for (auto _ : state) {
        const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double gui0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        bool finished = false;
        DecodedPicture result;
        orvix::platform::ui::decodePictureInBackground(row->bytes, row->bounds, [&](DecodedPicture picture) {
            result = std::move(picture);
            finished = true;
        });
        while (!finished)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        row->worstGuiMs = std::max(row->worstGuiMs, (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - gui0) * 1000);
        row->worstCpu = std::max(row->worstCpu, cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0);
        row->outcome = result.image.isNull()
            ? QStringLiteral("refused: ") + result.refusal
            : QStringLiteral("shown %1x%2").arg(result.image.width()).arg(result.image.height());
        row->asExpected = !result.image.isNull() == row->accepted;
        if (!row->asExpected) {
            state.SkipWithError(row->accepted ? "refused" : "shown");
            break;
        }
    }
    row->peakMB = double(orvix::bench::statusField("VmHWM:") - start) / 1024.0;
    state.counters["peak_MB_above_start"] = row->peakMB;
    state.counters["gui_ms_worst"] = row->worstGuiMs;
}

void printTable()
{
    std::printf("\n%-42s %9s %8s %7s %8s %-4s  %s\n", "picture", "bytes", "CPU s", "GUI ms", "peak MB", "goal",
                "outcome (worst iteration)");
    for (const Row &row : rows()) {
        const bool inGoal = row.asExpected && row.worstCpu <= 0.5 && row.worstGuiMs <= 50 && row.peakMB <= 100;
        std::printf("%-42s %9lld %8.3f %7.2f %8.1f %-4s  %s\n", row.name.c_str(), static_cast<long long>(row.bytes.size()),
                    row.worstCpu, row.worstGuiMs, row.peakMB, inGoal ? "yes" : "NO", qPrintable(row.outcome));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv); // the JPEG reader and writer are plugins
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    makeRows();
    for (Row &row : rows())
        benchmark::RegisterBenchmark(row.name.c_str(), decodeRow, &row)
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime()
            ->UseRealTime()
            ->MinTime(0.2);
    benchmark::RunSpecifiedBenchmarks();
    printTable();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}

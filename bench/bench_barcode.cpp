// Reading codes from one 640 x 480 webcam frame on one core (the camera's
// code reader runs on a worker thread a few frames a second; the target is
// at most 10 ms a frame): a frame without any code (most frames of a photo
// day: a face), with a QR code of a card, with a Code 128 bar code turned
// 90°, and with a Data Matrix code; the codes are made by qrencode and zint.

#include "capture/BarcodeScanner.h"

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "QtBenchmarkMain.h"
#include <benchmark/benchmark.h>

namespace {

QImage made(const QString &tool, QStringList args)
{
    static QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("code.png"));
    for (QString &a : args)
        a.replace(QStringLiteral("%1"), out);
    QProcess p;
    p.start(tool, args);
    p.waitForFinished(30000);
    return QImage(out);
}

// A busy scene: shaded background, blocks and speckle, as a classroom
// behind a face gives the binariser much to look at.
QImage scene(const QImage &code, double angle)
{
    QImage frame(640, 480, QImage::Format_RGB32);
    QPainter p(&frame);
    QLinearGradient shade(0, 0, 640, 480);
    shade.setColorAt(0, QColor(200, 190, 170));
    shade.setColorAt(1, QColor(60, 70, 90));
    p.fillRect(frame.rect(), shade);
    QRandomGenerator random(7);
    for (int i = 0; i < 60; ++i)
        p.fillRect(
            QRect(random.bounded(640), random.bounded(480), random.bounded(5, 60), random.bounded(5, 60)),
            QColor::fromRgb(random.generate() | 0xff000000u));
    if (!code.isNull()) {
        p.translate(320, 240);
        p.rotate(angle);
        p.drawImage(QPointF(-code.width() / 2.0, -code.height() / 2.0), code);
    }
    return frame;
}

void decodeFrame(benchmark::State &state, const QImage &frame, int expected)
{
    const BarcodeDecoder decoder;
    qsizetype found = 0;
    for (auto _ : state)
        found = decoder.decode(frame).size();
    if (found != expected)
        state.SkipWithError("the code was not read");
    state.counters["codes"] = double(found);
}

void BM_FrameWithoutCode(benchmark::State &state)
{
    decodeFrame(state, scene(QImage(), 0), 0);
}

void BM_FrameWithQr(benchmark::State &state)
{
    static const QImage code =
        made(QStringLiteral("qrencode"), {QStringLiteral("-s"), QStringLiteral("4"), QStringLiteral("-o"),
                                          QStringLiteral("%1"), QStringLiteral("2024000005")});
    decodeFrame(state, scene(code, 15), 1);
}

void BM_FrameWithCode128(benchmark::State &state)
{
    static const QImage code = made(
        QStringLiteral("zint"), {QStringLiteral("-b"), QStringLiteral("20"), QStringLiteral("--scale=2"),
                                 QStringLiteral("--quietzones"), QStringLiteral("-o"), QStringLiteral("%1"),
                                 QStringLiteral("-d"), QStringLiteral("2024000005")});
    decodeFrame(state, scene(code, 90), 1);
}

void BM_FrameWithDataMatrix(benchmark::State &state)
{
    static const QImage code = made(
        QStringLiteral("zint"), {QStringLiteral("-b"), QStringLiteral("71"), QStringLiteral("--scale=3"),
                                 QStringLiteral("--quietzones"), QStringLiteral("-o"), QStringLiteral("%1"),
                                 QStringLiteral("-d"), QStringLiteral("2024000005")});
    decodeFrame(state, scene(code, 20), 1);
}

} // namespace

BENCHMARK(BM_FrameWithoutCode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameWithQr)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameWithCode128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameWithDataMatrix)->Unit(benchmark::kMillisecond);

LUMORA_QT_BENCHMARK_MAIN();

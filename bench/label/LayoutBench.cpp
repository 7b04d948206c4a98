// Lays out markup of 1, 10 and 100 KB, as the label does for auto-sizing and
// every hit test: on the fixed-metrics canvas (the renderer alone) and on
// the Qt canvas with the main window's font (with real text measuring).
#include "label/Markup.h"
#include "label/MarkupRender.h"
#include "tests/label/FakeCanvas.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace ostrakel;

namespace {

QString Markup(int kilobytes) {
    static const QString kChunk =
        QStringLiteral("Baza <b>Kalimbor</b>:<ind=\"100\">/srv/firebird/kalimbor_db.fdb <font "
                       "color=\"clRed\" size=\"3\">czerwony "
                       "tekst</font> &amp; <a href=\"http://example.com/\">odnośnik</a> <i>kursywa</i> i "
                       "zwykłe słowa, które "
                       "zawijają się w wierszu<br>");
    QString text;
    while (text.size() < kilobytes * 1024)
        text += kChunk;
    text.truncate(kilobytes * 1024);
    return text;
}

void Layout(benchmark::State& state, TMarkupCanvas& canvas) {
    TRenderParams p;
    p.Canvas = &canvas;
    p.Text = Markup(static_cast<int>(state.range(0)));
    p.Rect = {0, 0, 400, 1 << 30};
    p.CheckOnly = true;
    p.X = 150;
    p.Y = 5000;
    int height = 0;
    for (auto _ : state) {
        const TRenderResult r = RenderMarkup(p);
        height = r.YSize;
        benchmark::DoNotOptimize(height);
    }
    state.SetBytesProcessed(state.iterations() * p.Text.size() * 2);
    state.counters["height_px"] = height;
}

void BM_LayoutFixedMetrics(benchmark::State& state) {
    test::TFakeCanvas canvas(6, 14);
    Layout(state, canvas);
}

void BM_LayoutQtCanvas(benchmark::State& state) {
    QImage device(10, 10, QImage::Format_ARGB32_Premultiplied);
    TQtMarkupCanvas canvas(&device, nullptr);
    QFont font("Arial");
    font.setPixelSize(12);
    canvas.SetFont(MarkupFontFrom(font, clWindowText));
    Layout(state, canvas);
}

BENCHMARK(BM_LayoutFixedMetrics)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LayoutQtCanvas)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

// Highlighting a word that occurs in every line: the time per byte stays the
// same from 10 to 160 KB, the wrapping is linear in the text.
void BM_HighlightEveryLine(benchmark::State& state) {
    const QString text = Markup(static_cast<int>(state.range(0)));
    qsizetype size = 0;
    for (auto _ : state) {
        const QString wrapped = WrapMatches(text, QStringLiteral("KALIMBOR"), QStringLiteral("hi"), false);
        size = wrapped.size();
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
    state.counters["grew_by"] = static_cast<double>(size - text.size());
}
BENCHMARK(BM_HighlightEveryLine)->Arg(10)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

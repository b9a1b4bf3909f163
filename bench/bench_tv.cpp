// Time from a digit command to the end of the repaint of the TV menu, offscreen, at 1080p and 2160p: the command
// moves the navigation (paging a loaded list) and the page is drawn into an image of the TV's size, which is what
// the offscreen and X11 backing stores paint into.
#include <benchmark/benchmark.h>

#include <map>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include "Goals.h"
#include "catalogue/DataFiles.h"
#include "catalogue/ItemBase.h"
#include "common/Globals.h"
#include "common/RemoteCommand.h"
#include "tv/ScreenMenu.h"

namespace
{

std::map<int, std::vector<double>> g_times; // by the TV's height

void BM_DigitToRepaint(benchmark::State& state)
{
    QTemporaryDir dir;
    g_strAppDir = dir.path() + QLatin1Char('/');
    std::vector<TypeRecord> types;
    for (int i = 0; i < 30; ++i)
        types.push_back({ i, QStringLiteral("在线视频类型 %1").arg(i) });
    QDir().mkpath(g_strAppDir + QStringLiteral("Data"));
    QFile f(TypeFilePath());
    f.open(QIODevice::WriteOnly);
    f.write(EncodeTypeFile(types));
    f.close();

    const QSize size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    QImage surface(size, QImage::Format_RGB32);
    const QFont font = CScreenMenu::MenuFont();
    CScreenMenu menu;
    menu.SetTitle(QStringLiteral("用遥控器数字键0-9进行选择:"));
    // Forward first: a step back on the first page would climb to the home screen and time its four rows.
    int step = 0;
    std::vector<double> times;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        menu.OnCommand((step++ % 2) ? RC_PreviousPage : RC_NextPage);
        QPainter painter(&surface);
        painter.fillRect(surface.rect(), QColor(127, 127, 127));
        painter.setFont(font);
        menu.Draw(painter, surface.rect());
        painter.end();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    g_times[size.height()] = times; // the last, longest run of each size counts
    if (!menu.CurrentList() || menu.CurrentList()->RowCount() != 30)
        state.SkipWithError("the benchmark did not page the 30-row list");
}
BENCHMARK(BM_DigitToRepaint)->Args({ 1920, 1080 })->Args({ 3840, 2160 })->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    // A repaint within one frame of a 60 Hz TV.
    for (const auto& [height, times] : g_times) {
        const QByteArray what = "a paging key to the repainted menu, " + QByteArray::number(height) + " lines";
        CheckGoal(what.constData(), Median(times), "ms", 16.7, true, Noise(times));
    }
    return GoalMissed() ? 1 : 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Times the history window on a log: from "open" to the first complete drawing
// of the whole run, the redraw after a zoom step and after a pan step (median
// and worst of a number of each), and the peak memory above the window's own
// before the log was opened. Prints one line of a Markdown table.
//
// usage: history_bench FILE [--steps N]

#include "history/history_window.h"
#include "history/plot.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// A field of /proc/self/status in MB (Linux).
double statusMb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// CPU time of this thread, or of the whole process, in ms: what the work
// costs, apart from waiting for a shared machine.
double cpuMs(clockid_t clock = CLOCK_THREAD_CPUTIME_ID) {
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Times {
    std::vector<double> ms;
    std::vector<double> cpu;
    double median() {
        std::sort(ms.begin(), ms.end());
        return ms[ms.size() / 2];
    }
    double worst() { return *std::max_element(ms.begin(), ms.end()); }
};

// Sends an event to the plot, lets it redraw (a drag queues its redraw) and
// paints it at once: the time until the new view is on the screen.
void timed(QWidget* plot, QEvent* event, Times& times) {
    QElapsedTimer clock;
    clock.start();
    const double cpu = cpuMs();
    QApplication::sendEvent(plot, event);
    QApplication::processEvents();
    plot->repaint();
    times.ms.push_back(clock.nsecsElapsed() / 1e6);
    times.cpu.push_back(cpuMs() - cpu);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The log to open."));
    const QCommandLineOption steps(QStringLiteral("steps"), QStringLiteral("Zoom and pan steps."),
                                   QStringLiteral("n"), QStringLiteral("50"));
    parser.addOption(steps);
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    const QString file = parser.positionalArguments().first();
    const int n = parser.value(steps).toInt();

    auto* window = new HistoryWindow;
    window->resize(1000, 650);
    window->show();
    QSignalSpy loaded(window, &HistoryWindow::loaded);
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    const double baseline = statusMb("VmRSS:");

    QElapsedTimer clock;
    clock.start();
    const double openCpu = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    window->openFile(file);
    while (loaded.isEmpty())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents(); // the paints the new rows asked for
    window->repaint();
    const double open = clock.nsecsElapsed() / 1e6;
    const double openCpuMs = cpuMs(CLOCK_PROCESS_CPUTIME_ID) - openCpu;
    if (window->rows().isEmpty()) {
        std::fprintf(stderr, "history_bench: %s\n", qUtf8Printable(window->lblMessage->text()));
        return 1;
    }

    QCustomPlot* plot = window->plot;
    const QPoint centre = plot->axisRect()->center();
    Times zoom, pan;
    // Half the steps in, half out again: from the whole run to a few hours and back.
    for (int i = 0; i < n; ++i) {
        const int delta = i < n / 2 ? 120 : -120;
        QWheelEvent wheel(centre, plot->mapToGlobal(centre), {}, {0, delta}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        timed(plot, &wheel, zoom);
    }
    // Pans of 20 pixels over the whole run, to and fro: every row in view.
    window->showWholeRun();
    QMouseEvent press(QEvent::MouseButtonPress, centre, plot->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(plot, &press);
    for (int i = 0; i < n; ++i) {
        const QPoint to = centre + QPoint(i % 2 ? 0 : 20, 0);
        QMouseEvent move(QEvent::MouseMove, to, plot->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        timed(plot, &move, pan);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, centre, plot->mapToGlobal(centre),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(plot, &release);
    const double peak = statusMb("VmHWM:") - baseline;
    if (qEnvironmentVariableIsSet("HISTORY_BENCH_ALL"))
        for (double t : zoom.cpu)
            std::fprintf(stderr, "%.1f ", t);
    // On standard error, the CPU time the same work took.
    Times zoomCpu{zoom.cpu, {}}, panCpu{pan.cpu, {}};
    std::fprintf(stderr, "%s, CPU time: open %.0f ms, zoom %.1f / %.1f ms, pan %.1f / %.1f ms\n",
                 qUtf8Printable(QFileInfo(file).fileName()), openCpuMs, zoomCpu.median(),
                 zoomCpu.worst(), panCpu.median(), panCpu.worst());

    std::printf("| %s | %lld | %.0f ms | %.1f / %.1f ms | %.1f / %.1f ms | %.0f MB |\n",
                qUtf8Printable(QFileInfo(file).fileName()), (long long)window->rows().size(), open,
                zoom.median(), zoom.worst(), pan.median(), pan.worst(), peak);
    delete window;
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The strip chart's pixels, and the graph window the main window opens.

#include "graph/frm_graph.h"
#include "window_support.h"

#include <cmath>

namespace {
QColor background() {
    return QGuiApplication::palette().color(QPalette::Window);
}

// count pixels from (x, y) on, down or along: R red, B blue, K black, . background, ? other.
QString pixels(const QImage& image, int x, int y, int count, bool down) {
    QString s;
    for (int i = 0; i < count; ++i) {
        const QRgb c = image.pixel(down ? x : x + i, down ? y + i : y);
        s += c == qRgb(255, 0, 0)      ? u'R'
             : c == qRgb(0, 0, 255)    ? u'B'
             : c == qRgb(0, 0, 0)      ? u'K'
             : c == background().rgb() ? u'.'
                                       : u'?';
    }
    return s;
}

// The area a widget painted since the last take().
struct PaintedArea : QObject {
    QRegion area;
    explicit PaintedArea(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            area += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
    QRect take() { return std::exchange(area, {}).boundingRect(); }
};

// The chart inside its border as the screen shows it (the window's backing store).
QImage onScreen(frmGraph* graph) {
    if (!QTest::qWaitForWindowExposed(graph))
        return {};
    QCoreApplication::sendPostedEvents();
    const QPoint at = graph->Picture1->mapTo(graph, QPoint(2, 2));
    return graph->screen()
        ->grabWindow(graph->winId(), at.x(), at.y(), StripChart::Width, StripChart::Height)
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

frmGraph* graphWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* graph = qobject_cast<frmGraph*>(w))
            return graph;
    return nullptr;
}
} // namespace

class TestGraph : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // The edges that the graph's reference image does not show. Ticks of sensor 1's texts ("a/b":
    // b for sensor 2, "x*n": n blanks), then the pixels seen from (x, y) on, down '|' or along '-'.
    void chart() {
        const std::tuple<const char*, const char*, int, int, char, const char*> cases[] = {
            {"33.8 on row 166, sensor 2 in blue", "x x/33.8", 398, 164, '|', ".BB."},
            {"72.5 on row 128, half to even", "x 72.5", 398, 126, '|', ".RR."},
            {"200 on the top row", "x 200", 398, 0, '|', "R.."},
            {"201 is above the chart", "x 201", 398, 0, '|', "..."},
            {"-49 on the bottom row", "x -49", 398, 246, '|', "..RR"},
            {"-50 is below the chart", "x -50", 398, 246, '|', "...."},
            {"175 on the top grid line", "x 175", 393, 25, '-', "KKKRRRK"},
            {"a point after 396 ticks", "x 101 x*396", 0, 99, '-', "RRR."},
            {"the first point starts at itself", "x x 150", 397, 47, '|', "..RR..."},
            {"row 32767 joins from below", "100 -32567 150", 397, 47, '|', "..RRRRR"},
            {"row 32768 breaks the trace", "100 -32568 150", 397, 47, '|', "..RR..."},
            {"row -32768 joins from above", "100 32968 150", 397, 47, '|', "RRRR..."},
            {"row -32769 breaks the trace", "100 32969 150", 397, 47, '|', "..RR..."},
        };
        for (const auto& [name, ticks, x, y, direction, want] : cases) {
            StripChart chart(background());
            for (const QString& tick : QString::fromLatin1(ticks).split(u' ')) {
                const QStringList repeat = tick.split(u'*');
                const QStringList values = repeat[0].split(u'/');
                for (int i = 0; i < repeat.value(1, QStringLiteral("1")).toInt(); ++i)
                    chart.tick({values[0], values.value(1, QStringLiteral("y"))});
            }
            const QString seen = pixels(chart.image(), x, y, int(strlen(want)), direction == '|');
            QVERIFY2(seen == QLatin1String(want), qPrintable(name + QStringLiteral(": ") + seen));
        }
    }

    // The screen shows the chart image tick after tick (jumps, the scale's edges, readings beyond
    // it, gaps) while the view repaints only the newest columns.
    void screenShowsTheChart() {
        int second = 0;
        const auto graph = std::make_unique<frmGraph>(
            [&second]() -> std::array<QString, 2> {
                const int swing = int(125 + 140 * std::sin(second * 2 * M_PI / 90));
                return {QString::number(second % 14 < 7 ? 100 : 175),
                        second % 40 < 3 ? QStringLiteral("y") : QString::number(swing)};
            },
            QIcon());
        graph->Timer1->stop();
        graph->show();
        QVERIFY(QTest::qWaitForWindowExposed(graph.get()));
        QCoreApplication::sendPostedEvents();
        PaintedArea painted(graph->Picture1);
        for (; second < 430; ++second) {
            graph->Timer1_Timer();
            QVERIFY2(onScreen(graph.get()) == graph->chart().image(),
                     qPrintable(QString::number(second)));
            QCOMPARE(painted.take(), QRect(2 + 396, 2, 4, 250)); // the newest columns only
        }
    }

    // The window plots the main window's values, goes on without it, and closing empties it.
    void plotsTheMainWindowsValues() {
        auto w = loadedWindow();
        w->show();
        const QImage empty = StripChart(background()).image();

        w->mnuGraph->trigger();
        QPointer<frmGraph> graph = graphWindow();
        QVERIFY(graph && graph->isVisible() && graph->Timer1->isActive() &&
                graph->Timer1->timerType() == Qt::PreciseTimer); // a second a column, no drift
        QCOMPARE(onScreen(graph), empty);
        w->lblG1->setText(QStringLiteral("71.6"));
        w->lblG2->setText(QStringLiteral("33.8"));
        graph->Timer1_Timer();
        QCOMPARE(pixels(onScreen(graph), 398, 127, 2, true) +
                     pixels(onScreen(graph), 398, 165, 2, true),
                 "RRBB");

        // Without the main window it stays and plots the last values.
        w->close();
        graph->Timer1_Timer();
        QCOMPARE(pixels(onScreen(graph), 395, 128, 4, false), "RRRR");

        QTest::mouseClick(graph->btnG_Close, Qt::LeftButton);
        QTRY_VERIFY(graph.isNull());
        w->mnuGraph->trigger();
        graph = graphWindow();
        QCOMPARE(onScreen(graph), empty);
    }
};

QTEST_MAIN(TestGraph)
#include "test_graph.moc"

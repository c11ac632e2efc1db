// The strip chart's pixels, and the graph window as the main window opens and closes it.

#include "graph/frm_graph.h"
#include "window_support.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {
QColor background() {
    return QGuiApplication::palette().color(QPalette::Window);
}

// count pixels from (x, y) on, down a column or along a row: R red, B blue,
// K black, . background, ? anything else.
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

frmGraph* graphWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* graph = qobject_cast<frmGraph*>(w))
            return graph;
    return nullptr;
}
} // namespace

class TestGraph : public QObject {
    Q_OBJECT
    QTemporaryDir config;

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }
    void chart_data();
    void chart();
    void freshGrid();
    void oneWindowThatMainWindowOpensAndExitCloses();
};

// The ticks are sensor 1's texts, "a/b" also giving sensor 2 the text b (it
// plots nothing otherwise), "x*n" n placeholder ticks. Then the pixels seen
// from (x, y), down ('|') or across ('-').
void TestGraph::chart_data() {
    QTest::addColumn<QString>("ticks");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<bool>("down");
    QTest::addColumn<QString>("seen");
    struct Case {
        const char *name, *ticks;
        int x, y;
        char direction;
        const char* seen;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"71.6 on row 128", "x 71.6", 398, 126, '|', ".RR."},
             {"33.8 on row 166, sensor 2 in blue", "x x/33.8", 398, 164, '|', ".BB."},
             {"a half goes to even: 72.5", "x 72.5", 398, 126, '|', ".RR."},
             {"a half goes to even: 71.5", "x 71.5", 398, 126, '|', ".RR."},
             {"200 on the top row", "x 200", 398, 0, '|', "R.."},
             {"201 is above the chart", "x 201", 398, 0, '|', "..."},
             {"-49 on the bottom row", "x -49", 398, 246, '|', "..RR"},
             {"-50 is below the chart", "x -50", 398, 246, '|', "...."},
             {"a rise to 201 reaches the top", "x 190 201", 398, 0, '|', "RRR"},
             {"a fall to -50 reaches the bottom", "x -40 -50", 398, 247, '|', "RRR"},
             {"175 on the top grid line", "x 175", 393, 25, '-', "KKKRRRK"},
             {"a point after 1 tick", "x 101 x", 394, 99, '-', ".RRR."},
             {"a point after 24 ticks", "x 101 x*24", 371, 99, '-', ".RRR."},
             {"a point after 396 ticks", "x 101 x*396", 0, 99, '-', "RRR."},
             {"tick 0 draws a grid line in column 398", "x", 398, 0, '|', "KKKKKKKKKK"},
             {"column 399 keeps the row grid only", "x", 399, 20, '|', ".....K...."},
             {"a tick grid line every 25 ticks", "x*51", 340, 10, '-',
              "........K........................K........................K."},
             {"consecutive points are joined", "x 100 150", 397, 47, '|', "..RRRRR"},
             {"the first point starts at itself", "x x 150", 397, 47, '|', "..RR..."},
             {"a placeholder breaks the trace", "100 x 150", 397, 47, '|', "..RR..."},
             {"row 32767 joins from below", "100 -32567 150", 397, 47, '|', "..RRRRR"},
             {"row 32768 breaks the trace", "100 -32568 150", 397, 47, '|', "..RR..."},
             {"row -32768 joins from above", "100 32968 150", 397, 47, '|', "RRRR..."},
             {"row -32769 breaks the trace", "100 32969 150", 397, 47, '|', "..RR..."},
         })
        QTest::newRow(c.name) << QString::fromLatin1(c.ticks) << QPoint(c.x, c.y)
                              << (c.direction == '|') << QString::fromLatin1(c.seen);
}

void TestGraph::chart() {
    QFETCH(QString, ticks);
    QFETCH(QPoint, from);
    QFETCH(bool, down);
    QFETCH(QString, seen);
    StripChart chart(background());
    for (const QString& tick : ticks.split(u' ')) {
        const QStringList repeat = tick.split(u'*');
        const QStringList values = repeat[0].split(u'/');
        for (int i = 0; i < repeat.value(1, QStringLiteral("1")).toInt(); ++i)
            chart.tick({values[0], values.value(1, QStringLiteral("y"))});
    }
    QCOMPARE(pixels(chart.image(), from.x(), from.y(), seen.size(), down), seen);
}

// A line every 25 rows and every 25 columns, from 25 on.
void TestGraph::freshGrid() {
    const QImage fresh = StripChart(background()).image();
    QCOMPARE(fresh.size(), QSize(400, 250));
    for (int y = 0; y < 250; ++y)
        QCOMPARE(pixels(fresh, 0, y, 400, false) == QString(400, u'K'), y % 25 == 0 && y > 0);
    const QString across = pixels(fresh, 0, 10, 400, false);
    for (int x = 0; x < 400; ++x)
        QCOMPARE(across[x], x % 25 == 0 && x > 0 ? u'K' : u'.');
}

// One window at a time, fed by the main window's graph values, emptied by
// closing, closed by Exit.
void TestGraph::oneWindowThatMainWindowOpensAndExitCloses() {
    auto w = loadedWindow();
    QVERIFY(w);
    w->show();
    const auto shown = [](frmGraph* graph) { // the chart inside the border
        return graph->Picture1->grab()
            .toImage()
            .convertToFormat(QImage::Format_RGB32)
            .copy(2, 2, 400, 250);
    };
    const QImage empty = StripChart(background()).image();

    w->mnuGraph->trigger();
    QPointer<frmGraph> graph = graphWindow();
    QVERIFY(graph && graph->isVisible());
    QCOMPARE(graph->windowTitle(), QStringLiteral("Kelvano graph"));
    QVERIFY(!graph->windowIcon().isNull() && !graph->Picture2->pixmap().isNull());
    QVERIFY(graph->Timer1->isActive() && graph->Timer1->interval() == 1000);
    QStringList scale;
    for (const QLabel* label : graph->scaleLabels)
        scale << label->objectName() + u'=' + label->text();
    QCOMPARE(
        scale.join(u'|'),
        QString::fromUtf8("Label10= 175°F / 79.4°C|Label9= 150°F / 65.6°C|Label8= 125°F / "
                          "51.7°C|Label7= 100°F / 37.8°C|Label6=  75°F / 23.9°C|Label5=  "
                          "50°F / 10°C|Label4=  25°F / -3.9°C|Label3= 0°F / -17.8|Label2=-25°F "
                          "/ -31.7°C"));
    QCOMPARE(shown(graph), empty);
    w->lblG1->setText(QStringLiteral("71.6"));
    w->lblG2->setText(QStringLiteral("33.8"));
    graph->Timer1_Timer();
    w->mnuGraph->trigger();
    QCOMPARE(graphWindow(), graph.data());
    QCOMPARE(pixels(shown(graph), 398, 127, 2, true) + pixels(shown(graph), 398, 165, 2, true),
             QStringLiteral("RRBB"));

    // Without the main window it stays and plots the last values.
    w->close();
    graph->Timer1_Timer();
    QVERIFY(graph->isVisible());
    QCOMPARE(pixels(shown(graph), 395, 128, 4, false), QStringLiteral("RRRR"));

    QTest::mouseClick(graph->btnG_Close, Qt::LeftButton);
    QTRY_VERIFY(graph.isNull());
    w->mnuGraph->trigger();
    graph = graphWindow();
    QVERIFY(graph);
    QCOMPARE(shown(graph), empty);

    graph->hide();
    frmTemp1::UnloadAllForms();
    QTRY_VERIFY(graph.isNull());
}

QTEST_MAIN(TestGraph)
#include "test_graph.moc"

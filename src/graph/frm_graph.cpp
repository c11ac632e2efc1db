// SPDX-License-Identifier: GPL-3.0-or-later

#include "frm_graph.h"

#include "widgets/design_font.h"
#include "widgets/twips.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

namespace {
// Shows the chart image; it is only ever changed between paints. The border
// never changes, so a repaint of the chart alone leaves it be.
class ChartView : public QFrame {
  public:
    ChartView(const QImage& image, QWidget* parent) : QFrame(parent), image_(image) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
        // Opaque, so that scrolling moves what is on screen instead of
        // painting it all again.
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    QRect chartRect() const { return {contentsRect().topLeft(), image_.size()}; }

    // After a tick: what is on screen moves one column to the left, as the
    // image did, and only the columns the tick drew on are copied from the
    // image, at once. (A deferred update would wake the program a second time
    // every second, and that wake-up is most of what the graph costs.)
    void advance() {
        const QRect chart = chartRect();
        scroll(-1, 0, chart);
        repaint(StripChart::newestColumns().translated(chart.topLeft()));
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        const QRect chart = chartRect();
        if (!chart.contains(event->rect())) {
            painter.fillRect(contentsRect(), palette().window());
            drawFrame(&painter);
        }
        const QRect dirty = event->rect() & chart;
        painter.drawImage(dirty.topLeft(), image_, dirty.translated(-chart.topLeft()));
    }

  private:
    const QImage& image_;
};

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text,
                  const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(geometry);
    return label;
}
} // namespace

frmGraph::frmGraph(GraphValues values, const QIcon& icon, QWidget* parent)
    : QWidget(parent, Qt::Window), values_(std::move(values)),
      chart_(QGuiApplication::palette().color(QPalette::Window)) {
    setObjectName(QStringLiteral("frmGraph"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Kelvano graph"));
    setWindowIcon(icon);
    setFixedSize(twips(0, 0, 7470, 4650).size());
    setFont(designFont(8.25));

    // The chart at the top-left corner, in pixels: 400 x 250 inside the border.
    Picture1 = new ChartView(chart_.image(), this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(0, 0, 405, 255);

    // One label beside each horizontal grid line, top to bottom.
    const char* const scale[] = {" 175°F / 79.4°C", " 150°F / 65.6°C", " 125°F / 51.7°C",
                                 " 100°F / 37.8°C", "  75°F / 23.9°C", "  50°F / 10°C",
                                 "  25°F / -3.9°C", " 0°F / -17.8",    "-25°F / -31.7°C"};
    for (int i = 0; i < 9; ++i) {
        const int number = 10 - i;
        const int left = number == 3 ? 6360 : 6240;
        scaleLabels[i] =
            makeLabel(this, QStringLiteral("Label%1").arg(number), QString::fromUtf8(scale[i]),
                      twips(left, 360 + 360 * i, 7470 - left, 255));
    }

    Label1 = makeLabel(this, QStringLiteral("Label1"),
                       QStringLiteral("Red = Sensor 1") + QString(14, u' ') +
                           QStringLiteral("Blue = Sensor 2") + QString(2, u' ') +
                           QString::fromUtf8("Vertical bars are 25 seconds apart Horizontal "
                                             "bars are 25°F / 13.9°C apart"),
                       twips(1680, 3960, 3015, 615));
    Label1->setWordWrap(true);

    Picture2 = makeLabel(this, QStringLiteral("Picture2"), QString(), twips(6600, 3960, 615, 495));
    Picture2->setPixmap(icon.pixmap(32, 32));

    btnG_Close = new QPushButton(QStringLiteral("Close"), this);
    btnG_Close->setObjectName(QStringLiteral("btnG_Close"));
    btnG_Close->setGeometry(twips(5160, 4080, 975, 375));
    connect(btnG_Close, &QPushButton::clicked, this, &QWidget::close);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &frmGraph::Timer1_Timer);
    Timer1->start();
}

void frmGraph::Timer1_Timer() {
    chart_.tick(values_());
    static_cast<ChartView*>(Picture1)->advance();
}

void frmGraph::closeEvent(QCloseEvent* event) {
    Timer1->stop();
    QWidget::closeEvent(event);
}

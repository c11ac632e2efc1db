// SPDX-License-Identifier: GPL-3.0-or-later
#include "history_window.h"

#include "logging/csv_log.h"
#include "logging/log_run.h"
#include "widgets/message_box.h"

#include "history/plot.h"
#include <QBuffer>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSvgGenerator>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <cmath>

namespace {

const QColor sensor1Colour(0xff, 0x00, 0x00); // as the readouts
const QColor sensor2Colour(0x00, 0x00, 0xff);
constexpr double hour = 3600;
constexpr double day = 24 * hour;
constexpr double narrowest = 10; // seconds: the smallest view

QPushButton* button(QWidget* parent, QBoxLayout* layout, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    layout->addWidget(b);
    return b;
}

QLabel* label(QWidget* parent, QBoxLayout* layout, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(l);
    return l;
}

} // namespace

// The crosshair over the plot: a line through the row nearest to the mouse
// and one at the mouse's height, a circle on each sensor's value, and a box
// with the row's time and values beside the line.
class HistoryCrosshair : public QWidget {
  public:
    explicit HistoryCrosshair(QCustomPlot* plot) : QWidget(plot), plot_(plot) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(plot->rect());
        hide();
    }

    void place(double time, int y, std::array<int, 2> values, const QString& text) {
        time_ = time;
        y_ = y;
        values_ = values;
        text_ = text;
        show();
        update();
    }
    QString text() const { return text_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = plot_->axisRect()->rect();
        const int x = int(std::lround(plot_->xAxis->coordToPixel(time_)));
        painter.setClipRect(area);
        painter.setPen(QPen(QColor(0x60, 0x60, 0x60), 1, Qt::DashLine));
        painter.drawLine(x, area.top(), x, area.bottom());
        painter.drawLine(area.left(), y_, area.right(), y_);
        const QColor colours[2] = {sensor1Colour, sensor2Colour};
        for (int i = 0; i < 2; ++i) {
            painter.setPen(QPen(colours[i], 1.5));
            const double y = plot_->yAxis->coordToPixel(values_[i]);
            painter.drawEllipse(QPointF(x, y), 3.5, 3.5);
        }
        // The box goes on the side of the line with more room.
        QRect box = painter.fontMetrics().boundingRect(QRect(), Qt::AlignLeft, text_);
        box.adjust(-5, -3, 5, 3);
        const bool left = x > area.center().x();
        box.moveTopLeft(QPoint(left ? x - 6 - box.width() : x + 6, area.top() + 6));
        painter.setPen(QPen(QColor(0x60, 0x60, 0x60)));
        painter.setBrush(QColor(255, 255, 255, 225));
        painter.drawRect(box);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(box.adjusted(5, 3, -5, -3), Qt::AlignLeft, text_);
    }

  private:
    QCustomPlot* plot_;
    double time_ = 0;
    int y_ = 0;
    std::array<int, 2> values_{};
    QString text_;
};

HistoryWindow::HistoryWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HistoryWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Kelvano history"));
    resize(960, 600);

    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    btnOpen = button(this, buttons, "btnOpen", tr("Open…"));
    buttons->addSpacing(16);
    btnWholeRun = button(this, buttons, "btnWholeRun", tr("Whole run"));
    btnLastHour = button(this, buttons, "btnLastHour", tr("Last hour"));
    btnLastDay = button(this, buttons, "btnLastDay", tr("Last day"));
    buttons->addStretch();
    btnExportPng = button(this, buttons, "btnExportPng", tr("Export PNG…"));
    btnExportSvg = button(this, buttons, "btnExportSvg", tr("Export SVG…"));
    btnExportCsv = button(this, buttons, "btnExportCsv", tr("Export CSV…"));

    plot = new QCustomPlot(this);
    plot->setObjectName(QStringLiteral("plot"));
    plot->setMinimumSize(400, 250);
    layout->addWidget(plot, 1);

    auto* loading = new QHBoxLayout;
    layout->addLayout(loading);
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, 1000);
    progress->setTextVisible(false);
    loading->addWidget(progress, 1);
    btnCancel = button(this, loading, "btnCancel", tr("Cancel"));
    progress->hide();
    btnCancel->hide();

    lblRun = label(this, layout, "lblRun");
    lblStats1 = label(this, layout, "lblStats1");
    lblStats2 = label(this, layout, "lblStats2");
    lblStats1->setStyleSheet(QStringLiteral("color: #ff0000"));
    lblStats2->setStyleSheet(QStringLiteral("color: #0000ff"));
    lblMessage = label(this, layout, "lblMessage");
    lblMessage->setWordWrap(true);

    // The plot: a time axis in local clock time, the values as the log holds
    // them (each sensor in its unit at the time), both sensors drawn without
    // smoothing so that a week of rows draws fast.
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::LocalTime);
    ticker->setTickCount(6);
    plot->xAxis->setTicker(ticker);
    plot->yAxis->setLabel(tr("as logged"));
    plot->setNotAntialiasedElements(QCP::aeAll);
    graph1_ = plot->addGraph();
    graph2_ = plot->addGraph();
    graph1_->setName(tr("Sensor 1"));
    graph2_->setName(tr("Sensor 2"));
    graph1_->setPen(QPen(sensor1Colour));
    graph2_->setPen(QPen(sensor2Colour));
    // The legend in a row of its own above the plot, where it hides no row.
    plot->legend->setVisible(true);
    plot->legend->setFillOrder(QCPLegend::foColumnsFirst);
    plot->legend->setBorderPen(Qt::NoPen);
    plot->plotLayout()->insertRow(0);
    auto* legendRow = new QCPLayoutGrid;
    plot->plotLayout()->addElement(0, 0, legendRow);
    plot->plotLayout()->setRowStretchFactor(0, 0.001);
    legendRow->addElement(0, 0, plot->legend);
    legendRow->addElement(0, 1, new QCPLayoutElement(plot)); // the rest of the row
    legendRow->setColumnStretchFactor(0, 0.001);

    // Zoom and pan in time; the value axis follows the rows in view.
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->axisRect()->setRangeDrag(Qt::Horizontal);
    plot->axisRect()->setRangeZoom(Qt::Horizontal);
    plot->axisRect()->setRangeDragAxes(plot->xAxis, nullptr);
    plot->axisRect()->setRangeZoomAxes(plot->xAxis, nullptr);
    connect(plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            &HistoryWindow::viewChanged);

    // The crosshair is drawn over the plot by a widget of its own: moving it
    // redraws no row.
    crosshair_ = new HistoryCrosshair(plot);
    plot->setMouseTracking(true);
    plot->installEventFilter(this);

    connect(btnOpen, &QPushButton::clicked, this, &HistoryWindow::askForFile);
    connect(btnWholeRun, &QPushButton::clicked, this, &HistoryWindow::showWholeRun);
    connect(btnLastHour, &QPushButton::clicked, this, &HistoryWindow::showLastHour);
    connect(btnLastDay, &QPushButton::clicked, this, &HistoryWindow::showLastDay);
    connect(btnExportPng, &QPushButton::clicked, this, [this] {
        askForExport(tr("PNG pictures (*.png)"), QStringLiteral(".png"), &HistoryWindow::exportPng);
    });
    connect(btnExportSvg, &QPushButton::clicked, this, [this] {
        askForExport(tr("SVG pictures (*.svg)"), QStringLiteral(".svg"), &HistoryWindow::exportSvg);
    });
    connect(btnExportCsv, &QPushButton::clicked, this, [this] {
        askForExport(tr("Kelvano logs (*.csv)"), QStringLiteral("-slice.csv"),
                     &HistoryWindow::exportCsv);
    });
    connect(btnCancel, &QPushButton::clicked, &loader_, &LogLoader::cancel);
    connect(&loader_, &LogLoader::finished, this, &HistoryWindow::finished);
    // Closed from the keyboard too, as a desktop program's windows are: Ctrl+W
    // and Esc, and what the desktop closes windows with.
    QList<QKeySequence> keys{QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape)};
    for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::Close))
        if (!keys.contains(key))
            keys << key;
    auto* closing = new QShortcut(this);
    closing->setKeys(keys);
    connect(closing, &QShortcut::activated, this, &QWidget::close);

    // A log being written grows by a row a second at most.
    follow_ = new QTimer(this);
    follow_->setInterval(1000);
    connect(follow_, &QTimer::timeout, this, &HistoryWindow::followLog);
    // A read that takes more than a moment shows its progress.
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(100);
    connect(progressTimer_, &QTimer::timeout, this, &HistoryWindow::showProgress);

    setRows({});
}

void HistoryWindow::openFile(const QString& path) {
    setWindowTitle(tr("Kelvano history — %1").arg(QFileInfo(path).fileName()));
    setRows({});
    lblMessage->setText(tr("Reading %1…").arg(QDir::toNativeSeparators(path)));
    loader_.open(path);
    progressTimer_->start();
    follow_->start();
}

void HistoryWindow::followLog() {
    if (asking_)
        return; // the same question again, and again, would pile up
    loader_.readNew();
    // A new run that replaced a long log can take a while to read too.
    if (loader_.isBusy() && !progressTimer_->isActive())
        progressTimer_->start();
}

void HistoryWindow::showProgress() {
    static constexpr int moment = 3; // timer ticks before the bar shows
    if (!loader_.isBusy())
        return;
    const qint64 total = loader_.bytesTotal();
    progress->setValue(total > 0 ? int(loader_.bytesDone() * 1000 / total) : 0);
    if (++progressTicks_ < moment)
        return;
    progress->show();
    btnCancel->show();
}

void HistoryWindow::finished(const LogRows& rows, bool fresh) {
    progressTimer_->stop();
    progressTicks_ = 0;
    progress->hide();
    btnCancel->hide();
    const LogReader& reader = *loader_.reader();
    QString message = reader.message();
    switch (reader.status()) {
    case LogReader::Status::NeedsStep: {
        const QStringList names = LogRun::intervalLabels();
        const QString question =
            message + QLatin1Char('\n') + tr("How far apart were the rows written?");
        int step = 0;
        asking_ = true; // the file is not read again meanwhile
        if (askStep_) {
            step = askStep_(question);
        } else {
            bool ok = false;
            const QString chosen =
                QInputDialog::getItem(this, windowTitle(), question, names, 0, false, &ok);
            if (ok)
                step = LogRun::intervalMs(names.indexOf(chosen));
        }
        asking_ = false;
        if (step > 0) {
            loader_.open(loader_.path(), step);
            progressTimer_->start();
            return;
        }
        loader_.close();
        setRows({});
        break;
    }
    case LogReader::Status::Rows:
        format_ = reader.format();
        if (fresh)
            setRows(rows);
        else
            addRows(rows);
        break;
    case LogReader::Status::Missing:
    case LogReader::Status::NotAFile:
    case LogReader::Status::Unreadable:
        // A log moved away, or put in the place of what cannot be read, keeps
        // its rows in view until a log is there again.
        if (fresh)
            setRows({});
        break;
    case LogReader::Status::Cancelled:
        // The rows read so far were dropped: following would miss them.
        loader_.close();
        setRows({});
        break;
    default:
        setRows({});
        break;
    }
    lblMessage->setText(message);
    Q_EMIT loaded();
}

void HistoryWindow::setRows(const LogRows& rows) {
    rows_ = rows;
    blocks_.clear();
    blocks_.update(rows_);
    hideCrosshair();
    runChanged();
    if (rows_.isEmpty())
        viewChanged(plot->xAxis->range());
    else
        showWholeRun();
    plot->replot(QCustomPlot::rpImmediateRefresh);
}

void HistoryWindow::addRows(const LogRows& rows) {
    if (rows.isEmpty())
        return;
    if (rows_.isEmpty()) {
        setRows(rows);
        return;
    }
    // A view that showed the end keeps showing it; the whole run stays whole.
    const QCPRange view = plot->xAxis->range();
    const double oldFirst = rows_.times.first(), oldLast = rows_.times.last();
    const bool atEnd = view.upper >= oldLast;
    const bool whole = atEnd && view.lower <= oldFirst;
    if (rows.times.first() < oldLast)
        blocks_.clear(); // the rows were sorted anew
    rows_.append(rows);
    blocks_.update(rows_);
    runChanged();
    const double moved = rows_.times.last() - oldLast;
    if (whole)
        showWholeRun();
    else if (atEnd)
        showRange(view.lower + moved, view.upper + moved);
    else
        viewChanged(view);
    plot->replot();
}

void HistoryWindow::runChanged() {
    lblRun->setText(rows_.isEmpty()
                        ? tr("No rows.")
                        : tr("%1 rows from %2 to %3")
                              .arg(QLocale().toString(rows_.size()), timeText(rows_.times.first()),
                                   timeText(rows_.times.last())));
}

void HistoryWindow::showWholeRun() {
    if (rows_.isEmpty())
        return;
    showRange(rows_.times.first(), rows_.times.last());
}

void HistoryWindow::showLastHour() {
    if (!rows_.isEmpty())
        showRange(rows_.times.last() - hour, rows_.times.last());
}

void HistoryWindow::showLastDay() {
    if (!rows_.isEmpty())
        showRange(rows_.times.last() - day, rows_.times.last());
}

void HistoryWindow::showRange(double from, double to) {
    if (to - from < narrowest) {
        const double middle = (from + to) / 2;
        from = middle - narrowest / 2;
        to = middle + narrowest / 2;
    }
    plot->xAxis->setRange(from, to);
    plot->replot();
}

void HistoryWindow::viewChanged(const QCPRange& range) {
    if (range.size() < narrowest * 0.999) {
        // No closer than a few rows; this comes back here with the wider view.
        plot->xAxis->setRange(range.center(), narrowest, Qt::AlignCenter);
        return;
    }
    // The plot gets a few rows a pixel, whatever the view: a week draws as fast as a minute.
    QCPGraph* graphs[2] = {graph1_, graph2_};
    for (int sensor = 1; sensor <= 2; ++sensor) {
        const std::vector<qsizetype> drawn =
            blocks_.rowsToDraw(rows_, sensor, range.lower, range.upper, plot->width());
        QVector<QCPGraphData> data;
        data.reserve(qsizetype(drawn.size()));
        for (qsizetype row : drawn)
            data.append(QCPGraphData(rows_.times[row], rows_.sensor(sensor)[row]));
        graphs[sensor - 1]->data()->set(data, true);
    }
    const auto inView = rows_.between(range.lower, range.upper);
    const SensorStats stats[2] = {blocks_.stats(rows_, 1, inView), blocks_.stats(rows_, 2, inView)};
    QLabel* labels[2] = {lblStats1, lblStats2};
    for (int i = 0; i < 2; ++i) {
        labels[i]->setText(stats[i].count ? tr("Sensor %1 in view: min %2, mean %3, max %4")
                                                .arg(i + 1)
                                                .arg(stats[i].min)
                                                .arg(QLocale().toString(stats[i].mean, 'f', 1))
                                                .arg(stats[i].max)
                                          : tr("Sensor %1 in view: no rows").arg(i + 1));
    }
    if (stats[0].count) {
        const int low = qMin(stats[0].min, stats[1].min), high = qMax(stats[0].max, stats[1].max);
        const double margin = qMax(1.0, (high - low) * 0.08);
        plot->yAxis->setRange(low - margin, high + margin);
    }
    // Dates for a view of days, clock times with the date beneath for less,
    // seconds for minutes.
    const QLocale locale;
    const QString date = locale.dateFormat(QLocale::ShortFormat);
    QString format = CsvLog::withoutTimeZone(
        locale.timeFormat(range.size() > 600 ? QLocale::ShortFormat : QLocale::LongFormat));
    if (range.size() > 3 * day)
        format = date;
    else
        format += QLatin1Char('\n') + date;
    const auto ticker = plot->xAxis->ticker().staticCast<QCPAxisTickerDateTime>();
    if (ticker->dateTimeFormat() != format)
        ticker->setDateTimeFormat(format);
}

QString HistoryWindow::timeText(double seconds) const {
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000));
    const QLocale locale;
    return locale.toString(when.date(), CsvLog::dateFormat(locale)) + QLatin1Char(' ') +
           locale.toString(when.time(), CsvLog::timeFormat(locale));
}

void HistoryWindow::pointAt(const QPoint& position) {
    if (rows_.isEmpty() || !plot->axisRect()->rect().contains(position)) {
        hideCrosshair();
        return;
    }
    // The row nearest in time to the point.
    const double time = plot->xAxis->pixelToCoord(position.x());
    const auto& times = rows_.times;
    qsizetype i = std::lower_bound(times.cbegin(), times.cend(), time) - times.cbegin();
    if (i == times.size() || (i > 0 && time - times[i - 1] < times[i] - time))
        --i;
    crosshair_->place(times[i], position.y(), {rows_.sensor1[i], rows_.sensor2[i]},
                      tr("%1\nSensor 1: %2\nSensor 2: %3")
                          .arg(timeText(times[i]))
                          .arg(rows_.sensor1[i])
                          .arg(rows_.sensor2[i]));
}

QString HistoryWindow::crosshairText() const {
    return crosshair_->isVisible() ? crosshair_->text() : QString();
}

void HistoryWindow::hideCrosshair() {
    crosshair_->hide();
}

bool HistoryWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == plot) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            // The right button, or Shift with the left, draws a rubber band
            // to zoom to; the left alone drags.
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const bool band =
                mouse->button() == Qt::RightButton ||
                (mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ShiftModifier));
            plot->setSelectionRectMode(band ? QCP::srmZoom : QCP::srmNone);
            hideCrosshair();
            break;
        }
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->buttons() == Qt::NoButton)
                pointAt(mouse->position().toPoint());
            break;
        }
        case QEvent::Leave:
            hideCrosshair();
            break;
        case QEvent::Resize:
            viewChanged(plot->xAxis->range()); // as many rows as the new width needs
            crosshair_->setGeometry(QRect(QPoint(), static_cast<QResizeEvent*>(event)->size()));
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void HistoryWindow::askForFile() {
    const QString folder = loader_.path().isEmpty() ? QString() : QFileInfo(loader_.path()).path();
    const QString path = QFileDialog::getOpenFileName(this, tr("Open a log"), folder,
                                                      tr("Kelvano logs (*.csv);;All files (*)"));
    if (!path.isEmpty())
        openFile(path);
}

void HistoryWindow::askForExport(const QString& filter, const QString& suffix,
                                 bool (HistoryWindow::*save)(const QString&)) {
    const QFileInfo log(loader_.path());
    const QString suggested = log.dir().filePath(log.completeBaseName() + suffix);
    const QString path = QFileDialog::getSaveFileName(this, tr("Export"), suggested, filter);
    if (!path.isEmpty())
        (this->*save)(path);
}

bool HistoryWindow::saveFile(const QString& path, const QByteArray& contents) {
    QString reason;
    if (QFileInfo(path).canonicalFilePath() == QFileInfo(loader_.path()).canonicalFilePath() &&
        QFileInfo::exists(path)) {
        reason = tr("it is the log shown");
    } else {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() &&
            file.commit())
            return true;
        reason = file.errorString();
    }
    Dialogs::show(this, {QMessageBox::Warning, windowTitle(),
                         tr("%1 was not written: %2.").arg(QDir::toNativeSeparators(path), reason),
                         QMessageBox::Ok, QMessageBox::Ok});
    return false;
}

bool HistoryWindow::exportPng(const QString& path) {
    hideCrosshair();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    plot->toPixmap(plot->width(), plot->height()).save(&buffer, "PNG");
    return saveFile(path, png);
}

bool HistoryWindow::exportSvg(const QString& path) {
    hideCrosshair();
    QByteArray svg;
    QBuffer buffer(&svg);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(plot->size());
    generator.setViewBox(plot->rect());
    generator.setResolution(96); // a pixel of the view is a pixel of the picture
    generator.setTitle(windowTitle());
    QCPPainter painter;
    painter.begin(&generator);
    plot->toPainter(&painter, plot->width(), plot->height());
    painter.end();
    return saveFile(path, svg);
}

bool HistoryWindow::exportCsv(const QString& path) {
    // The rows in view, written as the log writes them: in the open log's
    // formats, or the user's when the rows' own could not be read.
    const QLocale locale;
    const RowTimeFormat format =
        format_.isValid()
            ? format_
            : RowTimeFormat(locale, CsvLog::dateFormat(locale), CsvLog::timeFormat(locale));
    const QCPRange view = plot->xAxis->range();
    const auto [first, last] = rows_.between(view.lower, view.upper);
    QByteArray csv = CsvLog::header();
    csv.reserve(csv.size() + (last - first) * 32);
    LocalClock clock;
    QDate date;
    QString dateText;
    for (qsizetype i = first; i < last; ++i) {
        const auto [day, time] = clock.toLocal(std::llround(rows_.times[i] * 1000));
        if (day != date) {
            date = day;
            dateText = format.dateText(day);
        }
        csv += CsvLog::rowText(dateText, format.timeText(time), rows_.sensor1[i], rows_.sensor2[i]);
    }
    return saveFile(path, csv);
}

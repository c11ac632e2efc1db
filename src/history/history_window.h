// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "history/log_loader.h"
#include "history/row_blocks.h"

#include <QWidget>
#include <functional>

class HistoryCrosshair;
class QCPGraph;
class QCPRange;
class QCustomPlot;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// The history window: a whole log on a time axis, both sensors in the
// readouts' colours. The wheel and a rubber band (right button, or Shift with
// the left) zoom, dragging pans, and buttons show the whole run, its last hour
// or its last day. Under the mouse a crosshair gives the time and both values;
// beneath the plot stand the least, mean and greatest value of each sensor in
// view. The view exports as PNG or SVG, the rows in view as a log of their
// own. The open file is read again once a second, so that a log being
// written shows its new rows. A top-level window that deletes itself when
// closed (also with Ctrl+W or Esc).
class HistoryWindow : public QWidget {
    Q_OBJECT
  public:
    explicit HistoryWindow(QWidget* parent = nullptr);

    // Reads a log in the background and shows it; a file being read is dropped.
    void openFile(const QString& path);
    QString fileName() const { return loader_.path(); }

    void showWholeRun();
    void showLastHour();
    void showLastDay();
    // Shows the time from from to to (seconds since 1970 UTC).
    void showRange(double from, double to);

    // Exports; false (the user told why) when the file could not be written.
    bool exportPng(const QString& path);
    bool exportSvg(const QString& path);
    bool exportCsv(const QString& path);

    // Puts the crosshair on the row nearest to a point of the plot.
    void pointAt(const QPoint& position);
    QString crosshairText() const;

    const LogRows& rows() const { return rows_; }
    bool isLoading() const { return loader_.isBusy(); }
    // Reads the rows added to the file since, as a timer does once a second;
    // nothing while a read runs or the user is asked for the step.
    void followLog();

    // Answers the question (the text given) for the step between rows whose
    // times cannot be read (ms; 0: cancelled). Tests answer it themselves.
    void setStepQuestion(std::function<int(const QString&)> ask) { askStep_ = std::move(ask); }

    QCustomPlot* plot;
    QPushButton* btnOpen;
    QPushButton* btnWholeRun;
    QPushButton* btnLastHour;
    QPushButton* btnLastDay;
    QPushButton* btnExportPng;
    QPushButton* btnExportSvg;
    QPushButton* btnExportCsv;
    QLabel* lblRun;     // the rows and the time range of the whole log
    QLabel* lblStats1;  // sensor 1 over the view
    QLabel* lblStats2;  // sensor 2 over the view
    QLabel* lblMessage; // what could not be read
    QProgressBar* progress;
    QPushButton* btnCancel;

  Q_SIGNALS:
    // A read of the file ended and the view shows its outcome.
    void loaded();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void finished(const LogRows& rows, bool fresh);
    void setRows(const LogRows& rows);
    void addRows(const LogRows& rows);
    void viewChanged(const QCPRange& range);
    void runChanged();
    void hideCrosshair();
    void showProgress();
    void askForFile();
    void askForExport(const QString& filter, const QString& suffix,
                      bool (HistoryWindow::*save)(const QString&));
    bool saveFile(const QString& path, const QByteArray& contents);
    QString timeText(double seconds) const;

    LogLoader loader_;
    LogRows rows_;
    RowBlocks blocks_;
    RowTimeFormat format_; // the open log's, for the rows a CSV export writes
    QString problem_;      // the open log's message
    std::function<int(const QString&)> askStep_;
    bool asking_ = false; // the question for the step is open
    QTimer* follow_;
    QTimer* progressTimer_;
    int progressTicks_ = 0;
    QCPGraph* graph1_;
    QCPGraph* graph2_;
    HistoryCrosshair* crosshair_;
};

// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "logging/log_run.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>

class QComboBox;
class QFrame;
class QLabel;
class QRadioButton;
class QTimer;
class QWidget;

// The log panel: "log it" and "stop" start and end a logging run, and the
// interval chooser sets how often a row is written. Its controls sit directly
// on the main window's client area, which the window's size cuts to show or
// hide them. A run writes the shown values of both sensors, as the latest
// sampling tick left them, to the CSV log; the run itself is a LogRun, the
// same as the one the program runs without a window.
class LogPanel : public QObject {
    Q_OBJECT
  public:
    using ShownValues = LogRun::ShownValues;

    // Places the panel's controls on client; shownValues gives what a row
    // records at the moment it is written.
    LogPanel(QWidget* client, ShownValues shownValues);

    // Start-up: fills the interval chooser, leaving nothing selected.
    void fillChooser();

    // Ends a running log, as choosing "stop" does; nothing when idle.
    void stopLogging();

    // The log file of the next run.
    QString logPath() const { return path_; }
    void setLogPath(const QString& path);
    // For tests: the clock that dates the rows.
    void setClock(LogRun::Clock clock) { run_->setClock(std::move(clock)); }

    const CsvLog& log() const { return run_->log(); }
    LogRun& run() { return *run_; }

    void Option1_Click();
    void Option2_Click();
    void cboTimer_Click(int position);
    void TimerCount_Timer();

    QLabel* Label4 = nullptr;
    QFrame* Frame1 = nullptr;
    QRadioButton* Option1 = nullptr; // "log it"
    QRadioButton* Option2 = nullptr; // "stop"
    QLabel* Label3 = nullptr;
    QComboBox* cboTimer = nullptr;
    QFrame* Line4 = nullptr;
    QTimer* TimerCount = nullptr; // the run's timer

  private:
    void warn(const QString& text);

    LogRun* run_; // a child, so the window's findChild finds TimerCount
    QString path_;
};

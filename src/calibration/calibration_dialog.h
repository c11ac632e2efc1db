// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "calibration/coefficient_solver.h"

#include <QDialog>
#include <array>
#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

// The calibration assistant of one sensor: three reference points, each a
// temperature read off a reference thermometer and the sensor's raw value,
// captured over ten ticks or typed; "Calculate" solves for A, B and C and
// checks them; "Use these" hands them to the sensor's coefficient fields.
// Not modal: the ticks go on while it is open. Closing only hides it, so the
// points stay for the rest of the run.
class CalibrationDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int captureTicks = 10;

    struct Row {
        QLineEdit* temperature = nullptr;
        QLineEdit* raw = nullptr;
        QPushButton* capture = nullptr;
        QProgressBar* progress = nullptr;
    };

    explicit CalibrationDialog(int sensor, QWidget* parent = nullptr);

    // The sensor's display unit. Temperatures already entered are converted,
    // so that they keep meaning what the reference thermometer showed.
    void setUnit(TemperatureUnit unit);
    // One sampling tick: the sensor's raw value, or nothing when the port
    // could not be read.
    void sample(std::optional<uint32_t> raw);

    std::array<Row, 3> rows;
    QLabel* lblRawNow = nullptr;
    QLabel* lblTemperature = nullptr;
    QPushButton* btnCalculate = nullptr;
    QLabel* lblMessage = nullptr;
    std::array<QLineEdit*, 3> result{}; // A, B, C
    QTableWidget* tblCheck = nullptr;
    QPushButton* btnUse = nullptr;
    QPushButton* btnClose = nullptr;

  Q_SIGNALS:
    // "Use these": the coefficients as texts for the sensor's A, B and C fields.
    void useCoefficients(const Coefficients& coefficients);

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void showUnit();
    void capture(int row);
    void stopCapture();
    void calculate();
    void use();
    void clearResult();
    void showMessage(const QString& text, bool error);
    void showCheck(const std::vector<ReferencePoint>& points, const Coefficients& coefficients);

    int sensor_;
    TemperatureUnit unit_ = TemperatureUnit::Fahrenheit; // the sensors' unit until one is chosen
    int capturing_ = -1;                                 // the row being captured
    int captured_ = 0;
    double sum_ = 0.0;
};

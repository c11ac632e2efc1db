// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "alarms/alarm_settings.h"

#include <QDialog>
#include <array>

class AlarmMonitor;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "Kelvano alarms": both sensors' limits, hysteresis and hold time, and the
// command. Not modal. OK checks every field (a message beside each field
// that is wrong, and nothing stored) and stores the whole dialog in one
// write; Cancel changes nothing; Test fires a test event with the command as
// typed. Opening it shows the settings in force.
class AlarmDialog : public QDialog {
    Q_OBJECT
  public:
    // A field with its caption, its unit and the message beside it.
    struct Row {
        QWidget* caption = nullptr; // a check box for the limits, a label otherwise
        QLineEdit* field = nullptr;
        QLabel* unit = nullptr;
        QLabel* error = nullptr;
    };
    struct Sensor {
        QGroupBox* group = nullptr;
        QCheckBox* chkHigh = nullptr;
        QCheckBox* chkLow = nullptr;
        Row high, low, hysteresis, hold;
    };

    explicit AlarmDialog(AlarmMonitor* monitor, QWidget* parent = nullptr);

    // A sensor's unit changed: the temperatures typed are converted, so that
    // they keep meaning what they meant.
    void followUnits();

    std::array<Sensor, 2> sensors;
    Row command;
    QLabel* lblMessage = nullptr;
    QPushButton* btnTest = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void fill();
    void ok();
    bool checkCommand();
    void showError(const Row& row, const QString& message);
    void showUnits();

    AlarmMonitor* monitor_;
    std::array<TemperatureUnit, 2> units_ = {
        TemperatureUnit::Fahrenheit,
        TemperatureUnit::Fahrenheit}; // of the temperatures in the fields
};

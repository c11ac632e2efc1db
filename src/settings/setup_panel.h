// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "sensor/sampling_cycle.h"
#include "settings/settings_model.h"

#include <QObject>
#include <QString>
#include <array>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;
class cl_Kelvano;

// The setup panel: per sensor the profile, offset and unit choosers, the
// active profile's coefficients and the raw value; below them the buttons for
// the stored settings and the six rename fields. Its controls sit directly on
// the main window's client area, which the window's size cuts to show or hide
// them. The panel shows and edits a SettingsModel, the live settings that
// every sampling tick reads: each control's change goes to the model at once,
// and what the model's operations change is shown on the controls.
class SetupPanel : public QObject {
    Q_OBJECT
  public:
    struct Column {
        QLabel* lblSensor = nullptr;
        QLabel* lblName = nullptr;
        QComboBox* cboTherm = nullptr;
        QLabel* lblOffset = nullptr;
        QComboBox* cboOffset = nullptr;
        QGroupBox* fraDegree = nullptr;
        QRadioButton* opC = nullptr;
        QRadioButton* opF = nullptr;
        QLabel* coefLabel = nullptr;
        QPushButton* btnCalibrate = nullptr; // beside the coefficient heading
        std::array<QLabel*, 3> coefLabels{};
        std::array<QLineEdit*, 3> coefText{}; // A, B, C
        QLabel* rawLabel = nullptr;
        QLineEdit* raw = nullptr;
        std::array<QLabel*, 3> renameLabel{};
        std::array<QLineEdit*, 3> rename{};
        ChannelSettings& codes; // the hidden lblPref holders, kept in the model

        explicit Column(ChannelSettings& codes) : codes(codes) {}
    };

    // Places the panel's controls on client, to show and edit model.
    SetupPanel(QWidget* client, SettingsModel& model);

    const SettingsModel& model() const { return model_; }

    // The store that profile choices read from and the buttons work on.
    void setStore(cl_Kelvano* store) { store_ = store; }
    // The log interval chooser, whose position is stored with the rest.
    void setIntervalChooser(QComboBox* chooser);

    // Start-up: fills the offset choosers and the profile choosers.
    void fillChoosers();

    // What the sampling tick needs of a sensor (1 or 2) right now.
    ChannelInput channelInput(int sensor) const;
    // Shows the raw values the tick read. The fields are written only while
    // the user can see them; when they come into view they show the latest.
    void showRaw(const QString& x, const QString& y);

    Column& column(int sensor) { return columns_[sensor - 1]; }
    const Column& column(int sensor) const { return columns_[sensor - 1]; }

    // Selections made in code; they run the choice handlers only when the
    // selection changes. (A profile the user picks from the list is loaded
    // even when it is the one already selected.)
    void selectProfile(int sensor, int position);
    void selectOffset(int sensor, int position);
    void setUnitOption(QRadioButton* option, bool checked);

    // The stored-settings flows.
    void btnSave_Click();
    void btnRefresh_Click() { returnPref(); }
    void btnDelete_Click();
    void returnPref();
    // Sets every control that differs from the model: after each operation
    // of the model, and once the station has loaded it at start-up.
    void showModel();

    QPushButton* btnSave = nullptr;
    QPushButton* btnRefresh = nullptr;
    QPushButton* btnDelete = nullptr;
    QLabel* Label5 = nullptr;

  Q_SIGNALS:
    // A sensor's "Calibrate…" button was pressed; the window that owns the
    // panel opens the calibration assistant.
    void calibrateRequested(int sensor);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildColumn(int sensor, QWidget* client);
    void connectColumn(int sensor);
    void cboTherm_Click(int sensor);
    // What one read of the store holds now (nothing without a store).
    StoredSettings stored() const;
    // The log interval chooser's position, which its own panel sets.
    void takeInterval();
    // Warns that the store could not do what was asked, and why.
    void warnStoreFailed(const QString& what);
    bool rawInView(const QWidget* field) const;
    void writeRaw();

    QWidget* client_;
    SettingsModel& model_;
    std::array<Column, 2> columns_;
    cl_Kelvano* store_ = nullptr;
    QComboBox* cboTimer_ = nullptr;
    bool showing_ = false; // the controls are being set from the model
    std::array<QString, 2> raw_;
};

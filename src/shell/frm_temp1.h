// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "station/station.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class AlarmController;
class CalibrationDialog;
class LogPanel;
class SetupPanel;
class frmAbout;
class frmGraph;
class frmHelp;

// The main window: both readouts and the port status, with the log panel and
// the setup panel on the same window, shown by making the window larger.
// It shows what its station reads each second.
class frmTemp1 : public QMainWindow {
    Q_OBJECT
  public:
    enum class Size { Compact, Log, Setup };

    explicit frmTemp1(std::unique_ptr<GamePortSource> source, QWidget* parent = nullptr);
    ~frmTemp1() override;

    // Start-up. False when there is no game-port device: the user has been
    // told and the program should end.
    bool Form_Load();
    // One sampling tick of the station.
    void Timer1_Timer() { station_->tick(); }
    // Closes every window of the program.
    static void UnloadAllForms();

    void setSize(Size size);
    static QSize clientSize(Size size);

    void openAbout();
    void openReadMe();
    void openGraph();
    // The history window on the log file of the log panel.
    void openHistory();
    // The calibration assistant of sensor 1 or 2; the same one all through the run.
    void openCalibration(int sensor);
    CalibrationDialog* calibration(int sensor) const;
    AlarmController* alarms() const { return alarms_; }

    Station& station() const { return *station_; }
    const SamplingCycle& cycle() const { return station_->cycle(); }
    SetupPanel* setupPanel() const { return setup_; }
    LogPanel* logPanel() const { return log_; }
    cl_Kelvano* store() const { return &station_->store(); }

    // The last window state that was not minimised: 0 normal, 2 maximised.
    int16_t LastState = 0;

    QTimer* Timer1 = nullptr; // the station's

    // Readout region.
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lblTemp1 = nullptr;
    QLabel* lblTemp2 = nullptr;
    QLabel* status = nullptr;
    QFrame* Line1 = nullptr;
    // The log panel's close button; the panel's own controls are logPanel()'s.
    QPushButton* btnLogClose = nullptr;
    // Setup panel frame.
    QFrame* Line2 = nullptr;
    QFrame* Line3 = nullptr;
    QPushButton* btnClose = nullptr;
    QLabel* lbl_setup_close = nullptr;
    QLabel* lbl_setup_title = nullptr;
    // Hidden carriers of the graph values.
    QLabel* lblG1 = nullptr;
    QLabel* lblG2 = nullptr;

    // Menus.
    QAction* mnuSetup = nullptr;
    QAction* mnuGraph = nullptr;
    QAction* mnuAlarms = nullptr;
    QAction* mnuHistory = nullptr;
    QAction* mnuLog = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuReadMeItem = nullptr;
    QAction* mnuKelvanoItem = nullptr;
    QMenu* mnuTray = nullptr;
    QAction* mnuTrayRestore = nullptr;
    QAction* mnuTrayMove = nullptr;
    QAction* mnuTraySize = nullptr;
    QAction* mnuTrayMinimize = nullptr;
    QAction* mnuTrayMaximize = nullptr;
    QAction* mnuTrayClose = nullptr;

  protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildReadout(QWidget* client);
    void buildLogPanel(QWidget* client);
    void buildSetupFrame(QWidget* client);
    void buildMenus();
    void Form_Resize();
    void showDisplays();
    void feedCalibration();
    void buildAlarms();

    Station* station_;
    SetupPanel* setup_ = nullptr;
    LogPanel* log_ = nullptr;
    QPointer<frmAbout> about_;
    QPointer<frmHelp> help_;
    QPointer<frmGraph> graph_;
    QPointer<QWidget> history_;
    std::array<QPointer<CalibrationDialog>, 2> calibration_;
    AlarmController* alarms_ = nullptr;
};

// SPDX-License-Identifier: GPL-3.0-or-later

#include "frm_temp1.h"

#include "alarms/alarm_controller.h"
#include "calibration/calibration_dialog.h"
#include "graph/frm_graph.h"
#include "history/history_module.h"
#include "logging/log_panel.h"
#include "settings/cl_kelvano.h"
#include "settings/setup_panel.h"
#include "shell/frm_about.h"
#include "shell/frm_help.h"
#include "shell/icon_module.h"
#include "widgets/controls.h"
#include "widgets/design_font.h"
#include "widgets/message_box.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

namespace {
// The layout is designed in 96-dpi pixels (15 twips each); Qt scales it on
// high-dpi screens.

QPushButton* closeButton(QWidget* parent, const char* name, const QString& caption, QRect geometry,
                         const QFont& font) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    b->setFont(font);
    return b;
}

QAction* menuItem(QMenu* menu, const char* name, const QString& caption,
                  const QKeySequence& shortcut = {}) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    return action;
}
} // namespace

frmTemp1::frmTemp1(std::unique_ptr<GamePortSource> source, QWidget* parent)
    : QMainWindow(parent),
      station_(new Station(std::move(source), AlarmMonitor::Mode::Window, this)) {
    initShellResources();
    setObjectName(QStringLiteral("frmTemp1"));
    setWindowTitle(tr("Kelvano"));
    setWindowIcon(programIcon());
    setFont(designFont(8.25));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    buildReadout(client);
    buildLogPanel(client);
    buildSetupFrame(client);
    setup_ = new SetupPanel(client, station_->settings());
    setup_->setIntervalChooser(log_->cboTimer);
    connect(setup_, &SetupPanel::calibrateRequested, this, &frmTemp1::openCalibration);

    // Hidden holders, below the largest window size and never shown.
    lblG1 = label(client, "lblG1", QStringLiteral("x"), {0, 368, 60, 17});
    lblG2 = label(client, "lblG2", QStringLiteral("y"), {0, 384, 60, 17});
    lblG1->hide();
    lblG2->hide();

    buildMenus();
    buildAlarms();

    Timer1 = station_->timer();
    connect(station_, &Station::ticked, this, [this] {
        showDisplays();
        feedCalibration();
    });

    setSize(Size::Compact);
}

frmTemp1::~frmTemp1() {
    iconModule::RemoveTrayIcon();
}

void frmTemp1::buildReadout(QWidget* client) {
    Label1 = label(client, "Label1", tr("Sensor 1"), {0, 8, 97, 17});
    Label2 = label(client, "Label2", tr("Sensor 2"), {104, 8, 97, 17});
    for (QLabel* title : {Label1, Label2}) {
        title->setFont(designFont(8.25, true));
        title->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    }
    lblTemp1 = label(client, "lblTemp1", QString(), {24, 32, 57, 25});
    lblTemp2 = label(client, "lblTemp2", QString(), {128, 32, 57, 25});
    lblTemp1->setStyleSheet(QStringLiteral("color: #ff0000"));
    lblTemp2->setStyleSheet(QStringLiteral("color: #0000ff"));
    for (QLabel* readout : {lblTemp1, lblTemp2}) {
        readout->setFont(designFont(13.5));
        readout->setAlignment(Qt::AlignCenter);
    }
    status = label(client, "status", PortStatus().text(), {0, 64, 200, 17});
    status->setIndent(2);
    Line1 = line(client, "Line1", {24, 88, 153, 2}, QFrame::HLine);
}

void frmTemp1::buildLogPanel(QWidget* client) {
    log_ = new LogPanel(client, [this] {
        const SamplingCycle& cycle = station_->cycle();
        return std::array<int16_t, 2>{cycle.readout(1).shown, cycle.readout(2).shown};
    });
    btnLogClose =
        closeButton(client, "btnLogClose", QStringLiteral("^"), {184, 96, 17, 25},
                    displayFont({QStringLiteral("BankGothic Lt BT"), QStringLiteral("Bank Gothic"),
                                 QStringLiteral("URW Gothic"), QStringLiteral("Century Gothic")},
                                9.75, true));
    connect(btnLogClose, &QPushButton::clicked, this, [this] { setSize(Size::Compact); });
}

void frmTemp1::buildSetupFrame(QWidget* client) {
    Line2 = line(client, "Line2", {208, 0, 2, 225}, QFrame::VLine);
    Line3 = line(client, "Line3", {400, 24, 2, 201}, QFrame::VLine);
    btnClose = closeButton(client, "btnClose", QStringLiteral("<"), {216, 8, 17, 25},
                           designFont(9.75, true));
    connect(btnClose, &QPushButton::clicked, this, [this] { setSize(Size::Compact); });
    lbl_setup_close = label(client, "lbl_setup_close", tr("Close"), {232, 8, 40, 17});
    lbl_setup_title = label(client, "lbl_setup_title", tr("Choose Settings for both Thermistors"),
                            {296, 0, 260, 17});
    lbl_setup_title->setFont(designFont(8.25, true));
}

void frmTemp1::buildMenus() {
    QMenu* mnuFile = menuBar()->addMenu(tr("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuSetup = menuItem(mnuFile, "mnuSetup", tr("&Setup"), QKeySequence(tr("Ctrl+S")));
    mnuGraph = menuItem(mnuFile, "mnuGraph", tr("&Graph"), QKeySequence(tr("Ctrl+G")));
    mnuAlarms = menuItem(mnuFile, "mnuAlarms", tr("&Alarms…"), QKeySequence(tr("Ctrl+M")));
    mnuHistory = menuItem(mnuFile, "mnuHistory", tr("&History…"), QKeySequence(tr("Ctrl+H")));
    mnuLog = menuItem(mnuFile, "mnuLog", tr("&Log"), QKeySequence(tr("Ctrl+L")));
    mnuExit = menuItem(mnuFile, "mnuExit", tr("E&xit"), QKeySequence(tr("Ctrl+X")));
    connect(mnuSetup, &QAction::triggered, this, [this] { setSize(Size::Setup); });
    connect(mnuLog, &QAction::triggered, this, [this] { setSize(Size::Log); });
    connect(mnuGraph, &QAction::triggered, this, &frmTemp1::openGraph);
    connect(mnuHistory, &QAction::triggered, this, &frmTemp1::openHistory);
    connect(mnuExit, &QAction::triggered, this, &frmTemp1::UnloadAllForms);

    QMenu* mnuHelpItem = menuBar()->addMenu(tr("&Help"));
    mnuHelpItem->setObjectName(QStringLiteral("mnuHelpItem"));
    mnuReadMeItem =
        menuItem(mnuHelpItem, "mnuReadMeItem", tr("&Read Me"), QKeySequence(tr("Ctrl+R")));
    mnuKelvanoItem =
        menuItem(mnuHelpItem, "mnuKelvanoItem", tr("&About Kelvano"), QKeySequence(tr("Ctrl+A")));
    connect(mnuReadMeItem, &QAction::triggered, this, &frmTemp1::openReadMe);
    connect(mnuKelvanoItem, &QAction::triggered, this, &frmTemp1::openAbout);

    // The window menu that the tray icon opens; not in the menu bar.
    mnuTray = new QMenu(tr("Popup"), this);
    mnuTray->setObjectName(QStringLiteral("mnuTray"));
    mnuTrayRestore = menuItem(mnuTray, "mnuTrayRestore", tr("&Restore"));
    mnuTrayMove = menuItem(mnuTray, "mnuTrayMove", tr("&Move"));
    mnuTraySize = menuItem(mnuTray, "mnuTraySize", tr("&Size"));
    mnuTrayMinimize = menuItem(mnuTray, "mnuTrayMinimize", tr("Mi&nimize"));
    mnuTrayMaximize = menuItem(mnuTray, "mnuTrayMaximize", tr("Ma&ximize"));
    mnuTray->addSeparator()->setObjectName(QStringLiteral("mnuTraySep"));
    mnuTrayClose = menuItem(mnuTray, "mnuTrayClose", tr("&Close"));
    connect(mnuTrayRestore, &QAction::triggered, this, [this] {
        // As the window manager restores: a minimised window to its last
        // state, a maximised one to normal.
        const bool minimised = windowState() & Qt::WindowMinimized;
        setWindowState(minimised && LastState == 2 ? Qt::WindowMaximized : Qt::WindowNoState);
        show();
    });
    connect(mnuTrayMove, &QAction::triggered, this, [this] {
        if (windowHandle())
            windowHandle()->startSystemMove();
    });
    connect(mnuTraySize, &QAction::triggered, this, [this] {
        if (windowHandle())
            windowHandle()->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
    });
    connect(mnuTrayMinimize, &QAction::triggered, this, &QWidget::showMinimized);
    connect(mnuTrayMaximize, &QAction::triggered, this, &QWidget::showMaximized);
    connect(mnuTrayClose, &QAction::triggered, this, &QWidget::close);
}

QSize frmTemp1::clientSize(Size size) {
    switch (size) {
    case Size::Compact:
        return {208, 87};
    case Size::Log:
        return {208, 226};
    case Size::Setup:
        break;
    }
    return {619, 340};
}

void frmTemp1::setSize(Size size) {
    const QSize client = clientSize(size);
    resize(client.width(), client.height() + menuBar()->sizeHint().height());
}

bool frmTemp1::Form_Load() {
    LastState = (windowState() & Qt::WindowMaximized) ? 2 : 0;
    iconModule::AddTrayIcon(this, mnuTray);
    iconModule::SetTrayIconTip(tr("Kelvano"));
    // The choosers hold their entries before the station loads the stored settings.
    setup_->fillChoosers();
    log_->fillChooser();

    if (!station_->start()) {
        // No icon may outlive the program.
        iconModule::RemoveTrayIcon();
        Dialogs::Box box;
        box.title = tr("Kelvano");
        box.text = tr("Couldn't detect the Sensors. Make sure gameport driver is installed.");
        box.buttons = QMessageBox::Ok;
        box.defaultButton = QMessageBox::Ok;
        Dialogs::show(nullptr, box);
        return false;
    }
    setup_->setStore(&station_->store());
    setup_->showModel();
    return true;
}

void frmTemp1::showDisplays() {
    const Displays& d = station_->cycle().displays();
    status->setText(d.status);
    setup_->showRaw(d.axis, d.yaxis);
    Label1->setText(d.title[0]);
    Label2->setText(d.title[1]);
    lblTemp1->setText(d.temperature[0]);
    lblTemp2->setText(d.temperature[1]);
    lblG1->setText(d.graph[0]);
    lblG2->setText(d.graph[1]);
}

void frmTemp1::UnloadAllForms() {
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        // The program's own windows free themselves on close; one that is
        // open but hidden is closed as well.
        if (window->isVisible() || window->testAttribute(Qt::WA_DeleteOnClose))
            window->close();
    }
}

namespace {
// Opens a window of the program, or brings up the one already open.
template <typename Window, typename Make> void showOnce(QPointer<Window>& window, Make make) {
    if (!window)
        window = make();
    window->show();
    window->raise();
    window->activateWindow();
}
template <typename Window> void showOnce(QPointer<Window>& window) {
    showOnce(window, [] { return new Window; });
}
} // namespace

void frmTemp1::openAbout() {
    showOnce(about_);
}
void frmTemp1::openReadMe() {
    showOnce(help_);
}
void frmTemp1::openGraph() {
    // The graph reads the hidden graph labels. They live as long as this
    // window; should they go first, the graph keeps plotting the last texts.
    const std::array<QPointer<QLabel>, 2> labels = {lblG1, lblG2};
    showOnce(graph_, [labels] {
        return new frmGraph(
            [labels, last = std::array<QString, 2>()]() mutable {
                if (labels[0] && labels[1])
                    last = {labels[0]->text(), labels[1]->text()};
                return last;
            },
            programIcon());
    });
}

void frmTemp1::openHistory() {
    QString error;
    history_ = showHistoryWindow(history_, log_->logPath(), &error);
    if (!history_) {
        Dialogs::Box box;
        box.icon = QMessageBox::Warning;
        box.title = tr("Kelvano");
        box.text = tr("The history window cannot be opened: %1").arg(error);
        box.buttons = QMessageBox::Ok;
        Dialogs::show(this, box);
    }
}

void frmTemp1::openCalibration(int sensor) {
    QPointer<CalibrationDialog>& dialog = calibration_[sensor - 1];
    showOnce(dialog, [this, sensor] {
        auto* made = new CalibrationDialog(sensor, this);
        connect(made, &CalibrationDialog::useCoefficients, this,
                [this, sensor](const Coefficients& k) {
                    const auto& fields = setup_->column(sensor).coefText;
                    fields[0]->setText(k.a);
                    fields[1]->setText(k.b);
                    fields[2]->setText(k.c);
                });
        return made;
    });
    dialog->setUnit(setup_->column(sensor).codes.unit);
}

CalibrationDialog* frmTemp1::calibration(int sensor) const {
    return calibration_[sensor - 1];
}

// An assistant, open or not, follows its sensor's unit and raw value; only a
// read that succeeded gives a raw value to capture.
void frmTemp1::feedCalibration() {
    const SamplingCycle& cycle = station_->cycle();
    const bool read = cycle.reading().result == PortCode::Ok;
    for (int s = 1; s <= 2; ++s) {
        CalibrationDialog* dialog = calibration_[s - 1];
        if (!dialog)
            continue;
        dialog->setUnit(setup_->column(s).codes.unit);
        dialog->sample(read ? std::optional<uint32_t>(cycle.readout(s).raw) : std::nullopt);
    }
}

// The station's alarms shown on the readouts; their stored limits follow the
// units the setup panel stores or reads back.
void frmTemp1::buildAlarms() {
    AlarmMonitor& monitor = station_->alarms();
    alarms_ = new AlarmController(this, monitor, {lblTemp1, lblTemp2});
    monitor.notifier().setFallback(&iconModule::ShowMessage);
    connect(mnuAlarms, &QAction::triggered, alarms_, &AlarmController::openDialog);
    connect(setup_->btnSave, &QPushButton::clicked, alarms_,
            [this] { station_->alarms().unitsStored(station_->units(), true); });
    connect(setup_->btnRefresh, &QPushButton::clicked, alarms_,
            [this] { station_->alarms().unitsStored(station_->units(), false); });
}

void frmTemp1::Form_Resize() {
    // 0 normal, 1 minimised, 2 maximised; full screen is none of them.
    const Qt::WindowStates state = windowState();
    if (state & Qt::WindowFullScreen)
        return;
    const int code = (state & Qt::WindowMinimized) ? 1 : (state & Qt::WindowMaximized) ? 2 : 0;
    mnuTrayRestore->setEnabled(code != 0);
    mnuTrayMove->setEnabled(code == 0);
    mnuTraySize->setEnabled(code == 0);
    mnuTrayMinimize->setEnabled(code != 1);
    mnuTrayMaximize->setEnabled(code != 2);
    if (code != 1)
        LastState = int16_t(code);
}

void frmTemp1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmTemp1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmTemp1::closeEvent(QCloseEvent* event) {
    // The main window's part ends here, and with it sampling and any logging
    // run; other open windows stay until closed.
    station_->stop();
    log_->stopLogging();
    iconModule::RemoveTrayIcon();
    QMainWindow::closeEvent(event);
}

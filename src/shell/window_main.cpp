// SPDX-License-Identifier: GPL-3.0-or-later
#include "window_main.h"

#include "alarms/alarm_controller.h"
#include "history/history_module.h"
#include "metrics/metrics_module.h"
#include "modules.h"
#include "mqtt/mqtt_module.h"
#include "shell/frm_help.h"
#include "shell/frm_temp1.h"

#include <QApplication>
#include <QIconEngine>
#include <QProxyStyle>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The main window on the source until the last window closes; the metrics endpoint, when asked
// for, is bound before the window opens; so is the broker's library loaded, when asked for.
int runWindow(std::unique_ptr<GamePortSource> source, const std::optional<QString>& metrics,
              const std::optional<MqttOptions>& mqtt) {
    frmTemp1 window(std::move(source));
    std::unique_ptr<QObject> page;
    std::function<void(bool)> brokerShown;
    if (!serveMetrics(metrics, &window.station(), mqtt.has_value(), &page, &brokerShown))
        return 2;
    std::unique_ptr<QObject> broker; // goes before the metrics page
    if (!startMqtt(mqtt, &window.station(), brokerShown, &broker))
        return 3;
    if (!window.Form_Load())
        return 1;
    window.show();
    return QApplication::exec();
}

// The history window alone: no sampling, no log, no tray icon.
int runHistory(const QString& path) {
    QString error;
    QWidget* window = showHistoryWindow(nullptr, path, &error); // deletes itself when closed
    if (!window) {
        std::fprintf(stderr, "kelvano: cannot open the history window: %s\n",
                     qUtf8Printable(error));
        return 3;
    }
    return QApplication::exec();
}

// An icon made only when it is first drawn.
class DeferredIcon : public QIconEngine {
  public:
    explicit DeferredIcon(std::function<QIcon()> make) : make_(std::move(make)) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QIconEngine* clone() const override { return new DeferredIcon(*this); }

  private:
    const QIcon& icon() {
        if (make_) {
            icon_ = make_();
            make_ = nullptr;
        }
        return icon_;
    }
    std::function<QIcon()> make_;
    QIcon icon_;
};

// The style of the platform, but for the icon of the button that a menu bar shows when its menus
// do not fit: the style reads it from a PNG file, and Qt's image reader loads every image plugin
// (SVG, JPEG, GIF, ICO) at its first file. Every menu bar asks for that icon as it is made; ours
// never shows the button, so the icon is made when it is drawn, if ever.
class WindowStyle : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                       const QWidget* widget) const override {
        if (which != SP_ToolBarHorizontalExtensionButton &&
            which != SP_ToolBarVerticalExtensionButton)
            return QProxyStyle::standardIcon(which, option, widget);
        const QStyle* base = baseStyle();
        return QIcon(new DeferredIcon([base, which] { return base->standardIcon(which); }));
    }
};

// While the GUI application object connects to the display, Qt's messages are held back: a
// display that does not answer ends the program with one line of ours (Qt would abort with a
// list of its plugins); after a good start the held messages are passed on.
QtMessageHandler passOn = nullptr;
std::vector<std::pair<QtMsgType, QString>> heldMessages;

void holdDuringStart(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fputs(noDisplayMessage, stderr);
        std::fflush(stderr);
        std::_Exit(3);
    }
    heldMessages.emplace_back(type, message);
}

int run(WindowStart* start) {
    if (start->historyPath.isEmpty())
        return runWindow(std::move(start->source), start->metrics, start->mqtt);
    return runHistory(start->historyPath);
}

} // namespace

QWidget* showHistoryWindow(QWidget* window, const QString& path, QString* error) {
    const auto show =
        reinterpret_cast<HistoryShow>(moduleFunction("history", "kelvano_history_show", error));
    return show ? show(window, &path) : nullptr;
}

extern "C" int kelvano_window_main(WindowStart* start) {
    if (!start->argc)
        return run(start);
    passOn = qInstallMessageHandler(holdDuringStart);
    const QApplication app(*start->argc, start->argv);
    qInstallMessageHandler(passOn);
    for (const auto& [type, message] : heldMessages)
        passOn ? passOn(type, QMessageLogContext(), message)
               : qt_message_output(type, QMessageLogContext(), message);
    heldMessages.clear();
    // Lets the desktop match the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(KELVANO_APP_ID));
    QApplication::setStyle(new WindowStyle(QApplication::style()->name()));
    return run(start);
}

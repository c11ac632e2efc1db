// The main window's sizes and menus, the tray icon and the program's windows.

#include "settings/setup_panel.h"
#include "shell/frm_temp1.h"
#include "shell/icon_module.h"
#include "window_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
std::unique_ptr<frmTemp1> shownWindow() {
    auto window = loadedWindow();
    if (window)
        window->show();
    return window;
}

QSize client(const frmTemp1& window) {
    return window.centralWidget()->size();
}

QList<QWidget*> openWindows() {
    QList<QWidget*> open;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            open << w;
    return open;
}

// Enabled state of Restore, Move, Size, Minimize, Maximize, Close.
QString popupState(const frmTemp1& w) {
    QString s;
    for (QAction* a : {w.mnuTrayRestore, w.mnuTrayMove, w.mnuTraySize, w.mnuTrayMinimize,
                       w.mnuTrayMaximize, w.mnuTrayClose})
        s += a->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

// Runs the event loop until the program ends or the limit passes; returns
// the exit code (99 when it did not end by itself).
int runEventLoop(int limitMs) {
    QTimer::singleShot(limitMs, qApp, [] { QCoreApplication::exit(99); });
    return QCoreApplication::exec();
}
} // namespace

class TestShell : public QObject {
    Q_OBJECT
    QTemporaryDir config;

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
    }

    // Each size cuts the fixed layout at another place: Readout, Log panel,
    // Setup panel.
    void sizeTransitions() {
        auto w = shownWindow();
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Kelvano"));
        const auto regions = [&] {
            const QRect area = w->centralWidget()->rect();
            QString shown;
            for (auto [letter, control] : {std::pair<char, QWidget*>{'R', w->status},
                                           {'L', w->logPanel()->cboTimer},
                                           {'S', w->setupPanel()->column(2).cboTherm},
                                           {'S', w->setupPanel()->column(2).rename[2]},
                                           {'S', w->setupPanel()->btnDelete}})
                if (area.contains(control->geometry()))
                    shown += QLatin1Char(letter);
            return shown;
        };
        QCOMPARE(client(*w), QSize(208, 87)); // opens compact
        QCOMPARE(regions(), QStringLiteral("R"));
        const std::tuple<QAction*, QPushButton*, QSize, const char*> steps[] = {
            {w->mnuLog, nullptr, {208, 226}, "RL"},
            {w->mnuSetup, nullptr, {619, 340}, "RLSSS"},
            {w->mnuSetup, nullptr, {619, 340}, "RLSSS"},
            {nullptr, w->btnClose, {208, 87}, "R"},
            {w->mnuSetup, nullptr, {619, 340}, "RLSSS"},
            {w->mnuLog, nullptr, {208, 226}, "RL"},
            {nullptr, w->btnLogClose, {208, 87}, "R"},
        };
        for (const auto& [menu, button, size, shown] : steps) {
            if (menu)
                menu->trigger();
            else
                button->click();
            QTRY_COMPARE(client(*w), size);
            QCOMPARE(regions(), QLatin1String(shown));
            QVERIFY(!w->lblG1->isVisible() && !w->lblG2->isVisible());
        }
    }

    void menus() {
        auto w = shownWindow();
        QVERIFY(w);
        const auto describe = [](const QList<QAction*>& actions) {
            QStringList items;
            for (QAction* a : actions)
                items << (a->isSeparator() ? QStringLiteral("-")
                                           : a->text() + a->shortcut().toString());
            return items.join(QLatin1Char('|'));
        };
        QCOMPARE(describe(w->menuBar()->actions()), QStringLiteral("&File|&Help"));
        QCOMPARE(describe(w->findChild<QMenu*>(QStringLiteral("mnuFile"))->actions()),
                 QStringLiteral("&SetupCtrl+S|&GraphCtrl+G|&LogCtrl+L|E&xitCtrl+X"));
        QCOMPARE(describe(w->findChild<QMenu*>(QStringLiteral("mnuHelpItem"))->actions()),
                 QStringLiteral("&Read MeCtrl+R|&About KelvanoCtrl+A"));
        QCOMPARE(describe(w->mnuTray->actions()),
                 QStringLiteral("&Restore|&Move|&Size|Mi&nimize|Ma&ximize|-|&Close"));
    }

    // The window menu's Restore, Move, Size, Minimize, Maximize, Close follow
    // the window state; LastState keeps the state to restore to.
    void popupFollowsTheWindowState() {
        auto w = shownWindow();
        QVERIFY(w);
        QCOMPARE(popupState(*w), QStringLiteral("011111"));
        const std::tuple<Qt::WindowStates, const char*, int> steps[] = {
            {Qt::WindowMaximized, "100101", 2},
            {Qt::WindowMinimized | Qt::WindowMaximized, "100011", 2},
            {Qt::WindowNoState, "011111", 0},
            {Qt::WindowMinimized, "100011", 0},
        };
        for (const auto& [state, enabled, last] : steps) {
            w->setWindowState(state);
            QCOMPARE(popupState(*w), QLatin1String(enabled));
            QCOMPARE(w->LastState, int16_t(last));
        }
    }

    void trayClicks() {
        auto w = shownWindow();
        QVERIFY(w);
        QCOMPARE(iconModule::tip(), QStringLiteral("Kelvano"));
        // A left click brings a minimised window back to its last state and
        // leaves any other alone; double and middle clicks do nothing.
        const std::tuple<Qt::WindowStates, QSystemTrayIcon::ActivationReason, Qt::WindowStates>
            clicks[] = {
                {Qt::WindowMinimized | Qt::WindowMaximized, QSystemTrayIcon::Trigger,
                 Qt::WindowMaximized},
                {Qt::WindowMinimized, QSystemTrayIcon::Trigger, Qt::WindowNoState},
                {Qt::WindowMaximized, QSystemTrayIcon::Trigger, Qt::WindowMaximized},
                {Qt::WindowMinimized, QSystemTrayIcon::DoubleClick, Qt::WindowMinimized},
                {Qt::WindowMinimized, QSystemTrayIcon::MiddleClick, Qt::WindowMinimized},
            };
        for (const auto& [before, reason, after] : clicks) {
            w->setWindowState(before & ~Qt::WindowMinimized);
            w->setWindowState(before);
            iconModule::TrayActivated(reason);
            QCOMPARE(w->windowState(), after);
        }

        // A right click opens the window menu.
        iconModule::TrayActivated(QSystemTrayIcon::Context);
        QTRY_VERIFY(w->mnuTray->isVisible());
        w->mnuTray->close();

        // Restore brings a minimised window back as it was (maximised here),
        // and a maximised one to normal.
        w->setWindowState(Qt::WindowMaximized);
        w->mnuTrayMinimize->trigger();
        QVERIFY(w->windowState() & Qt::WindowMinimized);
        w->mnuTrayRestore->trigger();
        QCOMPARE(w->windowState(), Qt::WindowStates(Qt::WindowMaximized));
        w->mnuTrayRestore->trigger();
        QCOMPARE(w->windowState(), Qt::WindowStates(Qt::WindowNoState));
        w->mnuTrayMaximize->trigger();
        QCOMPARE(w->windowState(), Qt::WindowStates(Qt::WindowMaximized));

        // Close unloads the main window, and the icon goes with it.
        w->mnuTrayClose->trigger();
        QVERIFY(!w->isVisible() && !w->Timer1->isActive());
        QVERIFY(!iconModule::isInstalled());
    }

    void exitClosesEveryWindowAndEndsTheProgram() {
        auto w = shownWindow();
        QVERIFY(w);
        for (int i = 0; i < 2; ++i) { // one window each, however often asked
            w->mnuKelvanoItem->trigger();
            w->mnuReadMeItem->trigger();
        }
        QCOMPARE(openWindows().size(), 3);
        QTimer::singleShot(0, w->mnuExit, &QAction::trigger);
        QCOMPARE(runEventLoop(5000), 0);
        QVERIFY(openWindows().isEmpty());
        QVERIFY(!iconModule::isInstalled());
    }

    void closingTheMainWindowLeavesOthersRunning() {
        auto w = shownWindow();
        QVERIFY(w);
        w->mnuReadMeItem->trigger();
        QTimer::singleShot(0, w.get(), &QWidget::close);
        QCOMPARE(runEventLoop(500), 99); // still running
        QCOMPARE(openWindows().size(), 1);
        QCOMPARE(openWindows().first()->windowTitle(), QStringLiteral("Kelvano ReadMe"));
    }

    // Editing keys in a text field belong to the field, not to the menu.
    void shortcutsLeaveTextFieldsTheirKeys() {
        auto w = shownWindow();
        QVERIFY(w);
        w->mnuSetup->trigger();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QLineEdit* field = w->setupPanel()->column(1).coefText[0];
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(field->selectedText(), QStringLiteral("0.001194033"));
        QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(field->text(), QString()); // cut
        QVERIFY(w->isVisible());            // still running
        QCOMPARE(openWindows().size(), 1);  // no About window from Ctrl+A

        // Keys that no field claims reach the menu.
        QTest::keyClick(field, Qt::Key_L, Qt::ControlModifier);
        QTRY_COMPARE(client(*w), QSize(208, 226));
    }
};

QTEST_MAIN(TestShell)
#include "test_shell.moc"

// The main window's sizes and menus, the tray icon and the program's windows.

#include "sensor/scripted_source.h"
#include "settings/setup_panel.h"
#include "shell/frm_temp1.h"
#include "shell/icon_module.h"

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
std::unique_ptr<frmTemp1> loadedWindow() {
    auto source = ScriptedSource::parse(QStringLiteral("0 5203 31036\n"), nullptr);
    auto window = std::make_unique<frmTemp1>(std::make_unique<ScriptedSource>(std::move(*source)));
    if (!window->Form_Load())
        return nullptr;
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

    void sizeTransitions() {
        auto w = loadedWindow();
        QVERIFY(w);
        QCOMPARE(client(*w), QSize(208, 87)); // opens compact
        QCOMPARE(w->windowTitle(), QStringLiteral("Kelvano"));

        struct Step {
            QAction* menu;
            QPushButton* button;
            QSize expected;
        } steps[] = {
            {w->mnuLog, nullptr, {208, 226}},     {w->mnuSetup, nullptr, {619, 340}},
            {w->mnuSetup, nullptr, {619, 340}},   {nullptr, w->btnClose, {208, 87}},
            {w->mnuSetup, nullptr, {619, 340}},   {w->mnuLog, nullptr, {208, 226}},
            {nullptr, w->btnLogClose, {208, 87}},
        };
        for (const Step& step : steps) {
            if (step.menu)
                step.menu->trigger();
            else
                step.button->click();
            QTRY_COMPARE(client(*w), step.expected);
        }
    }

    // Each size cuts the fixed layout: what is inside the client area shows.
    void regionsAtEachSize() {
        auto w = loadedWindow();
        QVERIFY(w);
        const auto inside = [&](QWidget* control) {
            return w->centralWidget()->rect().contains(control->geometry());
        };
        QWidget* setupControl = w->setupPanel()->column(2).cboTherm;
        QVERIFY(inside(w->status) && !inside(w->Label4) && !inside(setupControl));
        w->mnuLog->trigger();
        QTRY_VERIFY(inside(w->Label4) && inside(w->cboTimer) && !inside(setupControl));
        w->mnuSetup->trigger();
        QTRY_VERIFY(inside(setupControl) && inside(w->setupPanel()->btnDelete) &&
                    inside(w->setupPanel()->column(2).rename[2]));
        // The hidden holders never show.
        for (QLabel* hidden : {w->lblG1, w->lblG2}) {
            QVERIFY(!hidden->isVisible());
            QVERIFY(!inside(hidden));
        }
    }

    void menus() {
        auto w = loadedWindow();
        QVERIFY(w);
        QStringList bar;
        for (QAction* a : w->menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, (QStringList{QStringLiteral("&File"), QStringLiteral("&Help")}));
        const std::tuple<QAction*, const char*, const char*> items[] = {
            {w->mnuSetup, "&Setup", "Ctrl+S"},
            {w->mnuGraph, "&Graph", "Ctrl+G"},
            {w->mnuLog, "&Log", "Ctrl+L"},
            {w->mnuExit, "E&xit", "Ctrl+X"},
            {w->mnuReadMeItem, "&Read Me", "Ctrl+R"},
            {w->mnuKelvanoItem, "&About Kelvano", "Ctrl+A"},
        };
        for (const auto& [action, caption, key] : items) {
            QCOMPARE(action->text(), QLatin1String(caption));
            QCOMPARE(action->shortcut(), QKeySequence(QLatin1String(key)));
        }
        QStringList popup;
        for (QAction* a : w->mnuTray->actions())
            popup << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(popup, (QStringList{QStringLiteral("&Restore"), QStringLiteral("&Move"),
                                     QStringLiteral("&Size"), QStringLiteral("Mi&nimize"),
                                     QStringLiteral("Ma&ximize"), QStringLiteral("-"),
                                     QStringLiteral("&Close")}));
    }

    void popupFollowsTheWindowState() {
        auto w = loadedWindow();
        QVERIFY(w);
        QCOMPARE(popupState(*w), QStringLiteral("011111"));
        w->setWindowState(Qt::WindowMaximized);
        QCOMPARE(popupState(*w), QStringLiteral("100101"));
        QCOMPARE(w->LastState, int16_t(2));
        w->setWindowState(Qt::WindowMinimized | Qt::WindowMaximized);
        QCOMPARE(popupState(*w), QStringLiteral("100011"));
        QCOMPARE(w->LastState, int16_t(2)); // kept across minimise
        w->setWindowState(Qt::WindowNoState);
        QCOMPARE(popupState(*w), QStringLiteral("011111"));
        QCOMPARE(w->LastState, int16_t(0));
        w->setWindowState(Qt::WindowMinimized);
        QCOMPARE(popupState(*w), QStringLiteral("100011"));
        QCOMPARE(w->LastState, int16_t(0));
    }

    void trayClicks() {
        auto w = loadedWindow();
        QVERIFY(w);
        QVERIFY(iconModule::isInstalled());
        QCOMPARE(iconModule::tip(), QStringLiteral("Kelvano"));

        // A left click brings a minimised window back to its last state.
        w->setWindowState(Qt::WindowMaximized);
        w->setWindowState(Qt::WindowMinimized | Qt::WindowMaximized);
        iconModule::TrayActivated(QSystemTrayIcon::Trigger);
        QCOMPARE(w->windowState(), Qt::WindowStates(Qt::WindowMaximized));
        w->setWindowState(Qt::WindowNoState);
        w->setWindowState(Qt::WindowMinimized);
        iconModule::TrayActivated(QSystemTrayIcon::Trigger);
        QCOMPARE(w->windowState(), Qt::WindowStates(Qt::WindowNoState));
        // ...and does nothing to a window that is not minimised.
        w->setWindowState(Qt::WindowMaximized);
        iconModule::TrayActivated(QSystemTrayIcon::Trigger);
        QCOMPARE(w->windowState(), Qt::WindowStates(Qt::WindowMaximized));
        // Double and middle clicks do nothing of their own.
        w->setWindowState(Qt::WindowMinimized);
        iconModule::TrayActivated(QSystemTrayIcon::DoubleClick);
        iconModule::TrayActivated(QSystemTrayIcon::MiddleClick);
        QVERIFY(w->windowState() & Qt::WindowMinimized);

        // A right click opens the window menu, set for a minimised window.
        iconModule::TrayActivated(QSystemTrayIcon::Context);
        QTRY_VERIFY(w->mnuTray->isVisible());
        QCOMPARE(popupState(*w), QStringLiteral("100011"));
        w->mnuTray->close();

        // Popup commands: Restore brings a minimised window back as it was
        // (maximised here), and a maximised one to normal.
        w->mnuTrayRestore->trigger();
        QCOMPARE(w->windowState(), Qt::WindowStates(Qt::WindowMaximized));
        w->mnuTrayRestore->trigger();
        QCOMPARE(w->windowState(), Qt::WindowStates(Qt::WindowNoState));
        w->mnuTrayMaximize->trigger();
        QVERIFY(w->windowState() & Qt::WindowMaximized);
        w->mnuTrayMinimize->trigger();
        QVERIFY(w->windowState() & Qt::WindowMinimized);

        // Close unloads the main window, and the icon goes with it.
        w->mnuTrayClose->trigger();
        QVERIFY(!w->isVisible());
        QVERIFY(!iconModule::isInstalled());
        QVERIFY(!w->Timer1->isActive());
    }

    void aboutAndReadMeOpenOnce() {
        auto w = loadedWindow();
        QVERIFY(w);
        const int before = openWindows().size();
        w->mnuKelvanoItem->trigger();
        w->mnuKelvanoItem->trigger();
        w->mnuReadMeItem->trigger();
        w->mnuReadMeItem->trigger();
        QCOMPARE(openWindows().size(), before + 2);
        QVERIFY(w->isVisible());
    }

    void exitClosesEveryWindowAndEndsTheProgram() {
        auto w = loadedWindow();
        QVERIFY(w);
        w->mnuKelvanoItem->trigger();
        w->mnuReadMeItem->trigger();
        QTimer::singleShot(0, w->mnuExit, &QAction::trigger);
        QCOMPARE(runEventLoop(5000), 0);
        QVERIFY(openWindows().isEmpty());
        QVERIFY(!iconModule::isInstalled());
    }

    void closingTheMainWindowLeavesOthersRunning() {
        auto w = loadedWindow();
        QVERIFY(w);
        w->mnuReadMeItem->trigger();
        QTimer::singleShot(0, w.get(), &QWidget::close);
        QCOMPARE(runEventLoop(500), 99); // still running
        QCOMPARE(openWindows().size(), 1);
        QCOMPARE(openWindows().first()->windowTitle(), QStringLiteral("Kelvano ReadMe"));
    }

    // Editing keys in a text field belong to the field, not to the menu.
    void shortcutsLeaveTextFieldsTheirKeys() {
        auto w = loadedWindow();
        QVERIFY(w);
        w->mnuSetup->trigger();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QLineEdit* field = w->setupPanel()->column(1).coefText[0];
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(field->selectedText(), QStringLiteral("0.001194033"));
        QCOMPARE(w->findChildren<QWidget*>().size() > 0, true);
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

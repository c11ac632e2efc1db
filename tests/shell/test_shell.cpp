// SPDX-License-Identifier: GPL-3.0-or-later
// The program's start and end, the main window, the tray icon, and the About and ReadMe windows.

#include "program.h"
#include "settings/setup_panel.h"
#include "shell/frm_help.h"
#include "shell/icon_module.h"
#include "widgets/message_box.h"
#include "window_support.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>

namespace {
QList<QWidget*> openWindows() {
    QList<QWidget*> open;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            open << w;
    return open;
}

// The exit status of the event loop (or the program), 99 when it did not end by the limit.
int runUntilEnd(int limitMs, const std::function<int()>& run = &QCoreApplication::exec) {
    const QObject limit; // the limit ends with the run
    QTimer::singleShot(limitMs, &limit, [] { QCoreApplication::exit(99); });
    return run();
}

struct ShownWindows : QObject {
    int count = 0;
    ShownWindows() { qApp->installEventFilter(this); }
    bool eventFilter(QObject* object, QEvent* event) override {
        count += event->type() == QEvent::Show && object->isWidgetType() &&
                 static_cast<QWidget*>(object)->isWindow();
        return false;
    }
};
} // namespace

class TestShell : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
    }

    // A port without a device: the box, no window, exit status 1, no icon left behind.
    void missingDeviceEndsTheProgram() {
        QTemporaryFile replay;
        QVERIFY(replay.open());
        replay.write("probe 165\n0 5203 31036\n");
        replay.close();
        const ShownWindows shown;
        Dialogs::setNextAnswer(QMessageBox::Ok);
        const auto run = [&] { return runProgram({"kelvano", "--replay", replay.fileName()}); };
        QCOMPARE(runUntilEnd(60000, run), 1);
        QCOMPARE(shown.count, 0);
        const Dialogs::Box& box = Dialogs::lastBox();
        QCOMPARE(box.title + u'|' + box.text + u'|' + QString::number(box.buttons),
                 QStringLiteral("Kelvano|Couldn't detect the Sensors. Make sure gameport driver is "
                                "installed.|%1")
                     .arg(QMessageBox::Ok));
        QVERIFY(!iconModule::isInstalled());
    }

    // A port that answers: the program runs until its window is closed, showing each tick.
    void programRunsUntilTheWindowCloses_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("replay") << QStringLiteral("--replay");
        QTest::newRow("first joystick") << QStringLiteral("--device");
    }
    void programRunsUntilTheWindowCloses() {
        QFETCH(QString, option);
        QTemporaryFile replay;
        QVERIFY(replay.open());
        replay.write("0 5203 31036\n");
        replay.close();
        SDL_SetHint(SDL_HINT_JOYSTICK_HIDAPI, "0");
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0 || SDL_NumJoysticks() != 0)
            QSKIP("needs SDL's joystick subsystem and no real joystick");
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.naxes = 2;
        const int stick = SDL_JoystickAttachVirtualEx(&desc);
        const auto detach = qScopeGuard([&] {
            SDL_JoystickDetachVirtual(stick);
            SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
        });

        QString seen; // the first status after a tick, then the window is closed
        QTimer look;
        connect(&look, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* main = qobject_cast<frmTemp1*>(w);
                if (main && main->isVisible() && main->status->text() != PortStatus().text()) {
                    seen = main->status->text();
                    main->close();
                }
            }
        });
        look.start(50);
        const QString value = option == QLatin1String("--replay") ? replay.fileName() : "0";
        QCOMPARE(runUntilEnd(60000, [&] { return runProgram({"kelvano", option, value}); }), 0);
        QCOMPARE(seen, "port status: sensors connected");
    }

    // A setup change shows at the next tick.
    void ticksShowTheSetup() {
        auto w = loadedWindow();
        w->Timer1->stop(); // ticks by hand
        QCOMPARE(iconModule::tip(), QStringLiteral("Kelvano"));
        SetupPanel::Column& c = w->setupPanel()->column(1);
        const auto shown = [&] {
            return QStringList{w->status->text(),   w->Label1->text(),   w->Label2->text(),
                               w->lblTemp1->text(), w->lblTemp2->text(), w->lblG1->text(),
                               w->lblG2->text()}
                .join(u'|');
        };
        QCOMPARE(shown(), "port status:|Sensor 1|Sensor 2|||x|y");
        w->Timer1_Timer();
        QCOMPARE(shown(), "port status: sensors connected|Select Sensor 1|"
                          "Select Sensor 2|50°F|50°F|50|50");
        c.opC->click();
        c.cboOffset->setCurrentIndex(6); // - 3°C
        c.cboTherm->setEditText(QStringLiteral("Garden"));
        QVERIFY(shown().endsWith(QStringLiteral("|50°F|50°F|50|50")));
        w->Timer1_Timer();
        QCOMPARE(shown(), "port status: sensors connected|Garden|"
                          "Select Sensor 2|7°C|50°F|44.6|50");
    }

    // Menus and keys; each size command cuts the fixed layout at its place; editing keys in a
    // text field belong to the field.
    void menusSizesAndKeys() {
        auto w = loadedWindow();
        w->show();
        QStringList menus; // the menu bar's menus, then the tray icon's window menu
        for (const QMenu* menu : w->findChildren<QMenu*>()) {
            menus << menu->title() + u':';
            for (const QAction* a : menu->actions())
                menus << (a->isSeparator() ? QStringLiteral("-")
                                           : a->text() + a->shortcut().toString());
        }
        QCOMPARE(menus.join(u' '),
                 "&File: &SetupCtrl+S &GraphCtrl+G &Alarms…Ctrl+M &History…Ctrl+H "
                 "&LogCtrl+L E&xitCtrl+X "
                 "&Help: &Read MeCtrl+R &About KelvanoCtrl+A "
                 "Popup: &Restore &Move &Size Mi&nimize Ma&ximize - &Close");

        QCOMPARE(w->centralWidget()->size(), QSize(208, 87)); // opens compact
        const std::pair<QAction*, QSize> steps[] = {
            {w->mnuLog, {208, 226}},   {w->mnuSetup, {619, 340}}, {nullptr, {208, 87}},
            {w->mnuSetup, {619, 340}}, {w->mnuLog, {208, 226}},   {nullptr, {208, 87}}};
        QPushButton* closers[] = {w->btnClose, w->btnLogClose};
        int closer = 0;
        for (const auto& [menu, size] : steps) {
            if (menu)
                menu->trigger();
            else
                closers[closer++]->click();
            QTRY_COMPARE(w->centralWidget()->size(), size);
            QVERIFY(!w->lblG1->isVisible() && !w->lblG2->isVisible());
        }

        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QLineEdit* field = w->setupPanel()->column(1).coefText[0];
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier); // select all, not About
        QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier); // cut, not Exit
        QCOMPARE(field->text(), QString());
        QCOMPARE(openWindows(), QList<QWidget*>{w.get()});
        QTest::keyClick(field, Qt::Key_L, Qt::ControlModifier); // not the field's: the menu's
        QTRY_COMPARE(w->centralWidget()->size(), QSize(208, 226));
    }

    // Window menu and tray clicks; LastState keeps the state a minimised window returns to.
    void windowStatesFromTheMenuAndTheTray() {
        auto w = loadedWindow();
        w->show();
        const Qt::WindowStates normal, max = Qt::WindowMaximized, min = Qt::WindowMinimized;
        using Click = QSystemTrayIcon::ActivationReason; // a tray click where no item is given
        const std::tuple<QAction*, Click, Qt::WindowStates, const char*> steps[] = {
            {w->mnuTrayMaximize, {}, max, "100101 2"},
            {w->mnuTrayMinimize, {}, min | max, "100011 2"},
            {w->mnuTrayRestore, {}, max, "100101 2"},
            {w->mnuTrayMinimize, {}, min | max, "100011 2"},
            {nullptr, QSystemTrayIcon::Trigger, max, "100101 2"},
            {w->mnuTrayRestore, {}, normal, "011111 0"},
            {w->mnuTrayMinimize, {}, min, "100011 0"},
            {nullptr, QSystemTrayIcon::DoubleClick, min, "100011 0"},
            {nullptr, QSystemTrayIcon::Trigger, normal, "011111 0"},
        };
        for (const auto& [item, click, state, expected] : steps) {
            if (item)
                item->trigger();
            else
                iconModule::TrayActivated(click);
            QCOMPARE(w->windowState(), state);
            QString enabled; // Restore, Move, Size, Minimize, Maximize, Close; then LastState
            for (QAction* a : w->mnuTray->actions())
                if (!a->isSeparator())
                    enabled += a->isEnabled() ? u'1' : u'0';
            QCOMPARE(enabled + u' ' + QString::number(w->LastState), QLatin1String(expected));
        }
        iconModule::TrayActivated(QSystemTrayIcon::Context);
        QTRY_VERIFY(w->mnuTray->isVisible());
        w->mnuTrayClose->trigger();
        QVERIFY(!w->isVisible() && !w->Timer1->isActive() && !iconModule::isInstalled());
    }

    // Closing the main window leaves the other windows (one each) running; Exit closes all.
    void otherWindowsThenExit() {
        auto w = loadedWindow();
        w->show();
        for (QAction* open : {w->mnuKelvanoItem, w->mnuReadMeItem, w->mnuGraph, w->mnuKelvanoItem,
                              w->mnuReadMeItem, w->mnuGraph})
            open->trigger();
        QMap<QString, QPointer<QWidget>> others;
        for (QWidget* window : openWindows())
            if (window != w.get())
                others[window->objectName()] = window;
        QCOMPARE(others.keys(), QStringList({"frmAbout", "frmGraph", "frmHelp"}));
        // A blank title: for an empty one the platform shows a name. (The text and picture
        // shown: the reference images "about" and "readme".)
        QVERIFY(others["frmAbout"]->windowTitle() == u' ');
        QVERIFY(qobject_cast<frmHelp*>(others["frmHelp"])->txtFile->isReadOnly());
        // Still running: neither a quit when the main window closes nor one for the last window.
        const QObject watch;
        bool last = false;
        connect(qApp, &QGuiApplication::lastWindowClosed, &watch, [&last] { last = true; });
        QTimer::singleShot(0, w.get(), [&w] {
            w->close();
            QCoreApplication::exit(99);
        });
        QCOMPARE(QCoreApplication::exec(), 99);
        QVERIFY(!last);
        QCOMPARE(openWindows().size(), 3);

        w->show();
        for (const char* name : {"frmAbout", "frmHelp"}) {
            QTest::mouseClick(others[name]->findChild<QPushButton*>(), Qt::LeftButton);
            QTRY_VERIFY(others[name].isNull());
        }
        others["frmGraph"]->hide();
        QTimer::singleShot(0, w->mnuExit, &QAction::trigger);
        QCOMPARE(runUntilEnd(60000), 0);
        QTRY_VERIFY(others["frmGraph"].isNull());
        QVERIFY(openWindows().isEmpty());
    }
};

QTEST_MAIN(TestShell)
#include "test_shell.moc"

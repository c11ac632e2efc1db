// The program's start, the main window's layout, sizes and menus, the tray icon, the About and
// ReadMe windows, and the end.

#include "program.h"
#include "settings/setup_panel.h"
#include "shell/frm_about.h"
#include "shell/frm_help.h"
#include "shell/icon_module.h"
#include "widgets/message_box.h"
#include "window_support.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {
std::unique_ptr<frmTemp1> shownWindow() {
    auto window = loadedWindow();
    if (window)
        window->show();
    return window;
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
        s += a->isEnabled() ? u'1' : u'0';
    return s;
}

// Runs the event loop (or the program) until it ends or the limit passes; returns the exit
// status, 99 when it did not end by itself.
template <typename Run = int (*)()>
int runUntilEnd(int limitMs, Run run = &QCoreApplication::exec) {
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    limit.start(limitMs);
    return run();
}

// A replay file holding the given entries.
std::unique_ptr<QTemporaryFile> replayFile(const char* entries) {
    auto file = std::make_unique<QTemporaryFile>();
    if (file->open())
        file->write(entries);
    file->close();
    return file;
}

// Counts the windows shown while it lives.
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
    QTemporaryDir config;

  private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit()); }
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
    }

    // Start-up fills the choosers; the first tick, about a second later, shows the port; a
    // change on the setup panel shows at the next tick.
    void startUpThenTheTicks() {
        auto w = loadedWindow();
        QVERIFY(w);
        QCOMPARE(iconModule::tip(), QStringLiteral("Kelvano"));
        SetupPanel::Column& c = w->setupPanel()->column(1);
        QCOMPARE(entries(c.cboOffset),
                 QStringLiteral("+ 3°C,+ 2°C,+ 1°C,No Offset,- 1°C,- 2°C,- 3°C"));
        QCOMPARE(entries(w->logPanel()->cboTimer),
                 QStringLiteral("1 Second,5 Seconds,6 Seconds,10 Seconds,"
                                "15 Seconds,30 Seconds,1 Minute"));
        const auto shown = [&] {
            QStringList texts;
            for (QWidget* t :
                 QList<QWidget*>{w->status, w->Label1, w->Label2, w->lblTemp1, w->lblTemp2,
                                 w->lblG1, w->lblG2, c.raw, w->setupPanel()->column(2).raw})
                texts << t->property("text").toString();
            return texts.join(u'|');
        };
        QCOMPARE(shown(), QStringLiteral("port status:|Sensor 1|Sensor 2|||x|y||"));
        QTRY_VERIFY_WITH_TIMEOUT(w->status->text() != QStringLiteral("port status:"), 3000);
        QCOMPARE(shown(), QStringLiteral("port status: sensors connected|Select Sensor 1|"
                                         "Select Sensor 2|50°F|50°F|50|50|5203|31036"));
        c.opC->click();
        c.cboOffset->setCurrentIndex(6); // - 3°C
        c.cboTherm->setEditText(QStringLiteral("Garden"));
        QVERIFY(shown().contains(QStringLiteral("|50°F|50°F|50|")));
        w->Timer1_Timer();
        QCOMPARE(shown(), QStringLiteral("port status: sensors connected|Garden|"
                                         "Select Sensor 2|7°C|50°F|44.6|50|5203|31036"));
    }

    // The program itself on a port without a device: the box, no window, exit status 1, and no
    // icon left behind.
    void missingDeviceEndsTheProgram() {
        const auto replay = replayFile("probe 165\n0 5203 31036\n");
        const ShownWindows shown;
        Dialogs::setNextAnswer(QMessageBox::Ok);
        const int boxes = Dialogs::boxesShown();
        const auto run = [&] { return runProgram({"kelvano", "--replay", replay->fileName()}); };
        QCOMPARE(runUntilEnd(3000, run), 1);
        QCOMPARE(shown.count, 0);
        QCOMPARE(Dialogs::boxesShown(), boxes + 1);
        const Dialogs::Box& box = Dialogs::lastBox();
        QCOMPARE(box.title + u'|' + box.text + u'|' + QString::number(box.buttons),
                 QStringLiteral("Kelvano|Couldn't detect the Sensors. Make sure gameport driver is "
                                "installed.|%1")
                     .arg(QMessageBox::Ok));
        QVERIFY(!iconModule::isInstalled());
    }

    void badReplayFileEndsBeforeAnyWindow() {
        const auto replay = replayFile("probe 0\n0 5203 31036\nprobe 0\n");
        QProcess process;
        process.start(QStringLiteral(KELVANO_BINARY),
                      {QStringLiteral("--replay"), replay->fileName()});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(
            errors.endsWith(replay->fileName() + QStringLiteral(":3: probe entry after a read\n")),
            qPrintable(errors));
    }

    // Every control that the layout places: name, then left, top, width and height in twips as
    // designed ("-" where the design gives none); a separator line by its two ends.
    void controlsAtTheirDesignedPlaces() {
        auto w = loadedWindow();
        QVERIFY(w);
        const QString designed = QStringLiteral(
            "Label1 0 120 1455 255|Label2 1560 120 1455 255|lblTemp1 360 480 855 375|"
            "lblTemp2 1920 480 855 375|status 0 960 3000 255|Line1 360 1320 2640 1320|"
            "Label4 360 1560 - -|Frame1 360 1800 2415 615|Label3 720 2520 - -|"
            "cboTimer 720 2880 1695 -|btnLogClose 2760 1440 255 375|Line4 360 3480 2640 3480|"
            "Line2 3120 0 3120 3360|Line3 6000 360 6000 3360|btnSave 600 3600 1935 375|"
            "btnRefresh 600 4080 1935 375|btnDelete 600 4560 1935 375|btnClose 3240 120 255 375|"
            "lbl_setup_close 3480 120 - -|lbl_setup_title 4440 0 - -|lblG1 - 5520 - -|"
            "lblG2 - 5760 - -");
        for (const QString& row : designed.split(u'|')) {
            const QStringList field = row.split(u' ');
            const QWidget* control = w->findChild<QWidget*>(field[0]);
            QVERIFY2(control, qPrintable(row));
            const QRect g = control->geometry();
            const bool line = field[0].startsWith(QLatin1String("Line"));
            const bool across = g.width() > g.height();
            const QPoint end = across ? QPoint(g.right(), g.top()) : QPoint(g.left(), g.bottom());
            const int px[] = {g.left(), g.top(), line ? end.x() : g.width(),
                              line ? end.y() : g.height()};
            for (int i = 0; i < 4; ++i)
                QVERIFY2(field[i + 1] == u'-' || px[i] == field[i + 1].toInt() / 15,
                         qPrintable(QStringLiteral("%1: %2 px at %3").arg(row).arg(px[i]).arg(i)));
        }

        QStringList faces;
        for (QWidget* c : QList<QWidget*>{w->Label1, w->lblTemp2, w->btnClose, w->btnLogClose})
            faces << QStringLiteral("%1 %2 %3%4")
                         .arg(c->objectName(), c->font().families().value(0))
                         .arg(c->font().pointSizeF())
                         .arg(c->font().bold() ? " bold" : "");
        QCOMPARE(faces.join(u'|'),
                 QStringLiteral("Label1 MS Sans Serif 8.25 bold|lblTemp2 MS Sans Serif 13.5|"
                                "btnClose MS Sans Serif 9.75 bold|"
                                "btnLogClose BankGothic Lt BT 9.75 bold"));
    }

    // Each command sets the client size that cuts the fixed layout at its place: the readouts;
    // readouts and log panel; everything. The hidden graph labels stay hidden at every size.
    void sizeTransitions() {
        auto w = shownWindow();
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Kelvano"));
        QCOMPARE(w->centralWidget()->size(), QSize(208, 87)); // opens compact
        const std::pair<QAction*, QSize> steps[] = {
            {w->mnuLog, {208, 226}}, {w->mnuSetup, {619, 340}}, {w->mnuSetup, {619, 340}},
            {nullptr, {208, 87}},    {w->mnuSetup, {619, 340}}, {w->mnuLog, {208, 226}},
            {nullptr, {208, 87}}};
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
    }

    void menus() {
        auto w = shownWindow();
        QVERIFY(w);
        const auto describe = [](const QList<QAction*>& actions) {
            QStringList items;
            for (QAction* a : actions)
                items << (a->isSeparator() ? QStringLiteral("-")
                                           : a->text() + a->shortcut().toString());
            return items.join(u'|');
        };
        QStringList menus = {describe(w->menuBar()->actions())};
        for (QMenu* menu : {w->findChild<QMenu*>(QStringLiteral("mnuFile")),
                            w->findChild<QMenu*>(QStringLiteral("mnuHelpItem")), w->mnuTray})
            menus << describe(menu->actions());
        QCOMPARE(menus.join(QStringLiteral(" / ")),
                 QStringLiteral("&File|&Help / &SetupCtrl+S|&GraphCtrl+G|&LogCtrl+L|E&xitCtrl+X / "
                                "&Read MeCtrl+R|&About KelvanoCtrl+A / "
                                "&Restore|&Move|&Size|Mi&nimize|Ma&ximize|-|&Close"));
    }

    // The window changes state by the window manager, the window menu or a tray click; the
    // menu's Restore, Move, Size, Minimize, Maximize and Close follow, and LastState keeps the
    // state a minimised window is restored to.
    void windowStatesFromTheMenuAndTheTray() {
        auto w = shownWindow();
        QVERIFY(w);
        const Qt::WindowStates normal, max = Qt::WindowMaximized, min = Qt::WindowMinimized;
        const int byManager = -1;
        const std::tuple<QAction*, int, Qt::WindowStates, const char*, int> steps[] = {
            {nullptr, byManager, normal, "011111", 0},
            {nullptr, byManager, max, "100101", 2},
            {nullptr, byManager, min | max, "100011", 2},
            {nullptr, QSystemTrayIcon::Trigger, max, "100101", 2},
            {nullptr, QSystemTrayIcon::Trigger, max, "100101", 2}, // not minimised: stays
            {w->mnuTrayRestore, byManager, normal, "011111", 0},
            {w->mnuTrayMinimize, byManager, min, "100011", 0},
            {nullptr, QSystemTrayIcon::DoubleClick, min, "100011", 0},
            {nullptr, QSystemTrayIcon::Trigger, normal, "011111", 0},
            {w->mnuTrayMaximize, byManager, max, "100101", 2},
            {w->mnuTrayMinimize, byManager, min | max, "100011", 2},
            {w->mnuTrayRestore, byManager, max, "100101", 2},
        };
        for (const auto& [item, click, state, popup, last] : steps) {
            if (item)
                item->trigger();
            else if (click == byManager)
                w->setWindowState(state);
            else
                iconModule::TrayActivated(QSystemTrayIcon::ActivationReason(click));
            QCOMPARE(w->windowState(), state);
            QCOMPARE(popupState(*w) + u' ' + QString::number(w->LastState),
                     QLatin1String(popup) + u' ' + QString::number(last));
        }
        // A right click opens the window menu; its Close unloads the main window and the icon.
        iconModule::TrayActivated(QSystemTrayIcon::Context);
        QTRY_VERIFY(w->mnuTray->isVisible());
        w->mnuTrayClose->trigger();
        QVERIFY(!w->isVisible() && !w->Timer1->isActive());
        QVERIFY(!iconModule::isInstalled());
    }

    // Exit closes every window of the program, hidden ones too, and the program ends.
    void exitClosesEveryWindowAndEndsTheProgram() {
        auto w = shownWindow();
        QVERIFY(w);
        for (int i = 0; i < 2; ++i) { // one window each, however often asked
            w->mnuKelvanoItem->trigger();
            w->mnuReadMeItem->trigger();
            w->mnuGraph->trigger();
        }
        QList<QPointer<QWidget>> others;
        for (QWidget* window : openWindows())
            if (window != w.get())
                others << window;
        QCOMPARE(others.size(), 3);
        for (QWidget* window : others)
            window->setVisible(window->objectName() == QLatin1String("frmHelp"));
        QTimer::singleShot(0, w->mnuExit, &QAction::trigger);
        QCOMPARE(runUntilEnd(5000), 0);
        for (const QPointer<QWidget>& window : others)
            QTRY_VERIFY(window.isNull());
        QVERIFY(openWindows().isEmpty() && !iconModule::isInstalled());
    }

    void closingTheMainWindowLeavesOthersRunning() {
        auto w = shownWindow();
        QVERIFY(w);
        w->mnuReadMeItem->trigger();
        QTimer::singleShot(0, w.get(), &QWidget::close);
        QCOMPARE(runUntilEnd(500), 99); // still running
        QCOMPARE(openWindows().size(), 1);
        QCOMPARE(openWindows().first()->windowTitle(), QStringLiteral("Kelvano ReadMe"));
    }

    // The About and ReadMe windows: what they show, and that Close closes (and frees) each.
    void aboutAndReadMeShowTheirTexts() {
        frmAbout about;
        // No caption: a blank title, since for an empty one the platform shows the program's name.
        QVERIFY(!about.windowTitle().isEmpty() && about.windowTitle().trimmed().isEmpty());
        QCOMPARE(about.Label1->text() + u'|' + about.Label6->text(),
                 QStringLiteral("Kelvano|Version 1.0 beta"));
        QVERIFY(!about.Image1->pixmap().isNull());

        frmHelp help;
        QCOMPARE(help.windowTitle(), QStringLiteral("Kelvano ReadMe"));
        QVERIFY(help.txtFile->isReadOnly());
        // The messages the program shows are quoted exactly.
        const QString text = help.txtFile->toPlainText();
        QVERIFY(text.startsWith(QStringLiteral("Kelvano\n")));
        for (const char* message :
             {"\"Couldn't detect the Sensors. Make sure gameport driver is installed.\"",
              "\"port status: sensors connected\"", "\"port status: sensor 2 unplugged\"",
              "\"port status: joyGetPosEx error, rc = <code>\""})
            QVERIFY2(text.contains(QString::fromUtf8(message)), message);
    }

    void closeDeletesAboutAndReadMe() {
        for (QWidget* window : std::initializer_list<QWidget*>{new frmAbout, new frmHelp}) {
            const QPointer<QWidget> alive = window;
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QTest::mouseClick(window->findChild<QPushButton*>(), Qt::LeftButton); // its only button
            QTRY_VERIFY(alive.isNull());
        }
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
        QTRY_COMPARE(w->centralWidget()->size(), QSize(208, 226));
    }
};

QTEST_MAIN(TestShell)
#include "test_shell.moc"

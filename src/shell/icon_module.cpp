// SPDX-License-Identifier: GPL-3.0-or-later

#include "icon_module.h"

#include "frm_temp1.h"

#include <QCursor>
#include <QMenu>
#include <QPointer>
#include <QTimer>

namespace iconModule {
namespace {
QPointer<frmTemp1> mainWindow;
QPointer<QMenu> popup;
QSystemTrayIcon* icon = nullptr; // only where the desktop has a notification area
QString tipText;
bool installed = false;

// Asking the desktop for its notification area can take a while (a D-Bus
// round trip, longer where no session bus answers), so the icon itself is put
// up once the event loop runs, after the main window has shown.
void showIcon() {
    if (!installed || icon || !mainWindow || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    icon = new QSystemTrayIcon(mainWindow->windowIcon(), mainWindow);
    icon->setContextMenu(popup);
    icon->setToolTip(tipText);
    QObject::connect(icon, &QSystemTrayIcon::activated, icon, &TrayActivated);
    icon->show();
}
} // namespace

void AddTrayIcon(frmTemp1* window, QMenu* menu) {
    RemoveTrayIcon();
    mainWindow = window;
    popup = menu;
    installed = true;
    QTimer::singleShot(0, window, &showIcon);
}

void SetTrayIconTip(const QString& tip) {
    tipText = tip.left(63);
    if (icon)
        icon->setToolTip(tipText);
}

void RemoveTrayIcon() {
    if (icon) {
        icon->hide();
        delete icon;
        icon = nullptr;
    }
    installed = false;
    tipText.clear();
    mainWindow = nullptr;
    popup = nullptr;
}

bool ShowMessage(const QString& title, const QString& text, bool critical) {
    if (!icon || !icon->isVisible() || !QSystemTrayIcon::supportsMessages())
        return false;
    icon->showMessage(title, text,
                      critical ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information);
    return true;
}

void TrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (!mainWindow)
        return;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        if (mainWindow->windowState() & Qt::WindowMinimized) {
            mainWindow->setWindowState(mainWindow->LastState == 2 ? Qt::WindowMaximized
                                                                  : Qt::WindowNoState);
            mainWindow->show();
            mainWindow->raise();
            mainWindow->activateWindow();
        }
        break;
    case QSystemTrayIcon::Context:
        // Where the icon carries the menu itself, the platform opens it.
        if (!icon && popup)
            popup->popup(QCursor::pos());
        break;
    default:
        break;
    }
}

bool isInstalled() {
    return installed;
}
QString tip() {
    return tipText;
}

} // namespace iconModule

// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QSystemTrayIcon>

class QMenu;
class QString;
class frmTemp1;

// The notification-area icon of the main window. A left click brings a
// minimised main window back to its last state; a right click opens the
// window menu mnuTray. Where the desktop has no notification area the icon
// is simply not there; the rest of the program does not notice.
namespace iconModule {

void AddTrayIcon(frmTemp1* window, QMenu* menu);
void SetTrayIconTip(const QString& tip);
void RemoveTrayIcon();
// A balloon message from the icon; false where there is no icon to show it.
bool ShowMessage(const QString& title, const QString& text, bool critical);

// What the icon does with a click; the icon's own signal and tests both come
// through here.
void TrayActivated(QSystemTrayIcon::ActivationReason reason);

// For tests and the window: whether an icon is installed, and its tip.
bool isInstalled();
QString tip();

} // namespace iconModule

// SPDX-License-Identifier: GPL-3.0-or-later
// Saving, loading and deleting the stored settings of the setup panel.

#include "settings/cl_kelvano.h"
#include "settings/settings_keys.h"
#include "settings/setup_panel.h"
#include "widgets/message_box.h"

#include <QComboBox>
#include <QDir>
#include <QWidget>

void SetupPanel::btnSave_Click() {
    if (!store_)
        return;
    takeInterval();
    // Everything goes to the store in one write, so the stored settings are never half old and
    // half new; the panel changes only when they are saved.
    SettingsModel next = model_;
    const bool saved =
        store_->UpdateSettings(SettingsKeys::section(), [&](const cl_Kelvano::Values& values) {
            cl_Kelvano::Values save = next.prepareSave(StoredSettings(values));
            if (!cboTimer_)
                save.pop_back(); // the interval, which only a panel with the chooser has
            return save;
        });
    if (!saved) {
        warnStoreFailed(tr("The settings could not be saved to %1"));
        return;
    }
    model_ = next;
    showModel();
}

void SetupPanel::returnPref() {
    if (!store_)
        return;
    takeInterval();
    model_.load(*store_);
    showModel();
}

void SetupPanel::btnDelete_Click() {
    Dialogs::Box box;
    box.icon = QMessageBox::Warning;
    box.title = tr("Delete ALL Kelvano Settings");
    box.text = tr("Are you sure you want to delete ALL Kelvano settings?");
    box.buttons = QMessageBox::Yes | QMessageBox::No;
    box.defaultButton = QMessageBox::No;
    if (Dialogs::show(client_->window(), box) != QMessageBox::Yes || !store_)
        return;
    // Nothing stored is nothing to delete, not a failure.
    if (!store_->DeleteSetting(SettingsKeys::section()) && !store_->errorString().isEmpty())
        warnStoreFailed(tr("The settings could not be deleted from %1"));
}

void SetupPanel::warnStoreFailed(const QString& what) {
    Dialogs::Box box;
    box.icon = QMessageBox::Warning;
    box.title = tr("Kelvano");
    box.text = what.arg(QDir::toNativeSeparators(store_->fileName())) + QStringLiteral(": ") +
               store_->errorString() + QStringLiteral("\n\n") +
               tr("The stored settings are as they were.");
    box.buttons = QMessageBox::Ok;
    box.defaultButton = QMessageBox::Ok;
    Dialogs::show(client_->window(), box);
}

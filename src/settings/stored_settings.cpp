// SPDX-License-Identifier: GPL-3.0-or-later
// Saving, loading and deleting the stored settings of the setup panel.

#include "settings/cl_kelvano.h"
#include "settings/settings_keys.h"
#include "settings/setup_panel.h"
#include "widgets/message_box.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <optional>

namespace {
QString truthText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

// A stored list position: a whole number from -1 to last; anything else is
// not a position and changes nothing.
std::optional<int> position(const QString& text, int last) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < -1 || value > last)
        return std::nullopt;
    return value;
}

// A stored option state: "True" or "False" in any case, or a number, 0 being
// false.
std::optional<bool> truth(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = QLocale::c().toDouble(t, &ok);
    if (!ok)
        return std::nullopt;
    return number != 0.0;
}
} // namespace

void SetupPanel::btnSave_Click() {
    if (!store_)
        return;
    // Everything goes to the store in one write, so the stored settings are
    // never half old and half new.
    cl_Kelvano::Values values;
    const auto save = [&](const QString& key, const QString& value) {
        values.emplace_back(key, value);
    };

    for (int s = 1; s <= 2; ++s) {
        Column& c = column(s);
        // A profile name typed into the chooser selects that profile, which
        // loads its stored name and coefficients before they are written back.
        for (int n = 0; n < 3; ++n) {
            if (c.cboTherm->currentText() == c.rename[n]->text())
                selectProfile(s, n);
        }
        const int selected = c.cboTherm->currentIndex();
        save(SettingsKeys::profileSelection(s), QString::number(selected));
        for (int n = 1; n <= 3; ++n)
            save(SettingsKeys::profileName(s, n), c.rename[n - 1]->text());
        if (selected >= 0 && selected <= 2) {
            for (int i = 0; i < 3; ++i)
                save(
                    SettingsKeys::coefficient(SettingsKeys::coefficientLetters[i], s, selected + 1),
                    c.coefText[i]->text());
        }
    }
    for (int s = 1; s <= 2; ++s)
        save(SettingsKeys::offset(s), QString::number(column(s).cboOffset->currentIndex()));
    for (int s = 1; s <= 2; ++s) {
        save(SettingsKeys::fahrenheit(s), truthText(column(s).opF->isChecked()));
        save(SettingsKeys::celsius(s), truthText(column(s).opC->isChecked()));
    }
    if (cboTimer_)
        save(SettingsKeys::interval(), QString::number(cboTimer_->currentIndex()));
    store_->SaveSettings(SettingsKeys::section(), values);
}

void SetupPanel::returnPref() {
    if (!store_)
        return;
    // Every read passes the current value as its default, so whatever is not
    // stored stays as it is.
    for (int s = 1; s <= 2; ++s) {
        Column& c = column(s);
        const QString selectionKey = SettingsKeys::profileSelection(s);
        const auto storedSelection = [&] {
            return position(stored(selectionKey, QString::number(c.cboTherm->currentIndex())), 2);
        };

        if (const auto p = storedSelection())
            selectProfile(s, *p);

        for (int n = 1; n <= 3; ++n) {
            QLineEdit* name = c.rename[n - 1];
            name->setText(stored(SettingsKeys::profileName(s, n), name->text()));
        }
        // Renaming the entries must not change the text shown in the box.
        const QString shown = c.cboTherm->currentText();
        for (int n = 0; n < 3; ++n)
            c.cboTherm->setItemText(n, c.rename[n]->text());
        c.cboTherm->setEditText(shown);

        if (const auto p = storedSelection(); p && *p >= 0)
            loadProfile(s, *p + 1);
    }

    for (int s = 1; s <= 2; ++s) {
        QComboBox* chooser = column(s).cboOffset;
        const QString current = QString::number(chooser->currentIndex());
        if (const auto p = position(stored(SettingsKeys::offset(s), current), 6))
            selectOffset(s, *p);
    }

    for (int s = 1; s <= 2; ++s) {
        Column& c = column(s);
        const std::pair<QString, QRadioButton*> options[] = {{SettingsKeys::fahrenheit(s), c.opF},
                                                             {SettingsKeys::celsius(s), c.opC}};
        for (const auto& [key, option] : options) {
            if (const auto on = truth(stored(key, truthText(option->isChecked()))))
                setUnitOption(option, *on);
        }
    }

    if (cboTimer_) {
        const QString current = QString::number(cboTimer_->currentIndex());
        if (const auto p = position(stored(SettingsKeys::interval(), current), 6))
            cboTimer_->setCurrentIndex(*p);
    }
}

void SetupPanel::btnDelete_Click() {
    Dialogs::Box box;
    box.icon = QMessageBox::Warning;
    box.title = tr("Delete ALL Kelvano Settings");
    box.text = tr("Are you sure you want to delete ALL Kelvano settings?");
    box.buttons = QMessageBox::Yes | QMessageBox::No;
    box.defaultButton = QMessageBox::No;
    if (Dialogs::show(client_->window(), box) == QMessageBox::Yes && store_)
        store_->DeleteSetting(SettingsKeys::section());
}

// SPDX-License-Identifier: GPL-3.0-or-later

#include "setup_panel.h"

#include "settings/cl_kelvano.h"
#include "settings/settings_keys.h"
#include "widgets/controls.h"
#include "widgets/placeholder.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

namespace {
const char* const profileCodes[] = {"100", "50", "10"};
const char* const offsetCodes[] = {"3", "2", "1", "0", "-1", "-2", "-3"};

// The panel's widgets are created with named() and placed by setGeometry()
// calls of their own, one per widget.
QLabel* label(QWidget* parent, const QString& name, const QString& text) {
    auto* l = named<QLabel>(parent, name);
    l->setText(text);
    return l;
}

QLineEdit* field(QWidget* parent, const QString& name, const QString& text) {
    auto* f = named<QLineEdit>(parent, name);
    f->setText(text);
    return f;
}

QFont boldFont(QFont font) {
    font.setBold(true);
    return font;
}

QString numbered(const char* pattern, int sensor) {
    return QString::fromLatin1(pattern).arg(sensor);
}
} // namespace

SetupPanel::SetupPanel(QWidget* client) : QObject(client), client_(client) {
    buildColumn(1, client);
    buildColumn(2, client);

    btnSave = named<QPushButton>(client, QStringLiteral("btnSave"));
    btnSave->setGeometry(40, 240, 129, 25);
    btnSave->setText(tr("Save to Registry"));
    btnRefresh = named<QPushButton>(client, QStringLiteral("btnRefresh"));
    btnRefresh->setGeometry(40, 272, 129, 25);
    btnRefresh->setText(tr("Refresh Settings"));
    btnDelete = named<QPushButton>(client, QStringLiteral("btnDelete"));
    btnDelete->setGeometry(40, 304, 129, 25);
    btnDelete->setText(tr("Delete Registry Settings"));
    connect(btnSave, &QPushButton::clicked, this, &SetupPanel::btnSave_Click);
    connect(btnRefresh, &QPushButton::clicked, this, &SetupPanel::btnRefresh_Click);
    connect(btnDelete, &QPushButton::clicked, this, &SetupPanel::btnDelete_Click);

    // The six rename fields, sensor 1's three then sensor 2's, each under a
    // label that keeps the profile's first name.
    Label5 = label(client, QStringLiteral("Label5"), tr("Rename Sensors"));
    Label5->setGeometry(184, 276, 160, 17);
    Label5->setFont(boldFont(Label5->font()));
    for (int s = 1; s <= 2; ++s) {
        for (int n = 1; n <= 3; ++n) {
            const QString first = QStringLiteral("Sensor %1-%2").arg(s).arg(n);
            const QString suffix = QStringLiteral("%1_%2").arg(s).arg(n);
            QLabel* name = label(client, QStringLiteral("lblS") + suffix, first);
            QLineEdit* text = field(client, QStringLiteral("txtS") + suffix, first);
            name->setGeometry(184 + ((s - 1) * 3 + (n - 1)) * 72, 296, 68, 17);
            text->setGeometry(184 + ((s - 1) * 3 + (n - 1)) * 72, 313, 68, 20);
            column(s).renameLabel[n - 1] = name;
            column(s).rename[n - 1] = text;
        }
    }
}

// Sensor 1's column starts at x = 216, sensor 2's 192 pixels further right.
void SetupPanel::buildColumn(int s, QWidget* client) {
    Column& c = column(s);

    c.lblSensor = label(client, numbered("lblSensor%1", s), tr("Sensor: %1").arg(s));
    c.lblSensor->setGeometry(24 + 192 * s, 28, 100, 17);
    c.lblSensor->setFont(boldFont(c.lblSensor->font()));

    // The first column's label has always read "Sensor1", the second's "Sensor 2".
    c.lblName = label(client, numbered("lblName%1", s), s == 1 ? tr("Sensor1") : tr("Sensor 2"));
    c.lblName->setGeometry(24 + 192 * s, 54, 48, 17);
    c.cboTherm = named<QComboBox>(client, numbered("cboTherm%1", s));
    c.cboTherm->setGeometry(24 + 192 * s + 48, 52, 128, 22);
    c.cboTherm->setEditable(true);
    c.cboTherm->setInsertPolicy(QComboBox::NoInsert);
    c.cboTherm->setCompleter(nullptr);
    // Typing only changes the text: leaving the box must not pick an entry
    // whose name happens to match.
    QObject::disconnect(c.cboTherm->lineEdit(), &QLineEdit::editingFinished, c.cboTherm, nullptr);
    c.cboTherm->setEditText(s == 1 ? tr("Select Sensor 1") : tr("Select Sensor 2"));
    // A profile picked from the list is loaded even when it is the one already selected;
    // selections made in code go through selectProfile().
    connect(c.cboTherm, &QComboBox::activated, this, [this, s] { cboTherm_Click(s); });

    c.lblOffset = label(client, numbered("lblOffset%1", s), tr("Temp Offset"));
    c.lblOffset->setGeometry(24 + 192 * s, 78, 72, 17);
    c.cboOffset = named<QComboBox>(client, numbered("cboOffset%1", s));
    c.cboOffset->setGeometry(24 + 192 * s + 72, 76, 104, 22);
    showPlaceholderAsText(c.cboOffset, tr("No Offset"));
    connect(c.cboOffset, &QComboBox::currentIndexChanged, this, [this, s] { cboOffset_Click(s); });

    c.fraDegree = named<QGroupBox>(client, numbered("fraDegree%1", s));
    c.fraDegree->setGeometry(24 + 192 * s, 100, 176, 26);
    c.opC = named<QRadioButton>(c.fraDegree, numbered("opC%1", s));
    c.opC->setGeometry(4, 4, 78, 18);
    c.opC->setText(tr("Celsius"));
    c.opF = named<QRadioButton>(c.fraDegree, numbered("opF%1", s));
    c.opF->setGeometry(84, 4, 88, 18);
    c.opF->setText(tr("Fahrenheit"));
    c.opF->setChecked(true);
    connect(c.opC, &QRadioButton::toggled, this, [this, s](bool on) {
        if (on)
            opC_Click(s);
    });
    connect(c.opF, &QRadioButton::toggled, this, [this, s](bool on) {
        if (on)
            opF_Click(s);
    });

    c.coefLabel = label(client, numbered("coef%1_Label", s), tr("Setup Coefficients"));
    c.coefLabel->setGeometry(24 + 192 * s, 130, 120, 17);
    c.btnCalibrate = named<QPushButton>(client, numbered("btnCalibrate%1", s));
    c.btnCalibrate->setGeometry(24 + 192 * s + 102, 128, 74, 20);
    c.btnCalibrate->setText(tr("Calibrate…"));
    c.btnCalibrate->setToolTip(tr("Work out A, B and C from three reference readings."));
    connect(c.btnCalibrate, &QPushButton::clicked, this,
            [this, s] { Q_EMIT calibrateRequested(s); });
    const Coefficients initial = initialCoefficients(s);
    const QString texts[] = {initial.a, initial.b, initial.c};
    for (int i = 0; i < 3; ++i) {
        const QChar letter = QLatin1Char(SettingsKeys::coefficientLetters[i]);
        // Sensor 1's A label has always been named in lower case.
        const QString labelName = (s == 1 && i == 0)
                                      ? QStringLiteral("a1_label")
                                      : QStringLiteral("%1%2_Label").arg(letter.toLower()).arg(s);
        c.coefLabels[i] = label(client, labelName, QString(letter) + QString::number(s));
        c.coefLabels[i]->setGeometry(24 + 192 * s, 152 + i * 24, 22, 17);
        c.coefText[i] =
            field(client, QStringLiteral("%1%2_Text").arg(letter.toLower()).arg(s), texts[i]);
        c.coefText[i]->setGeometry(24 + 192 * s + 24, 150 + i * 24, 100, 20);
    }

    c.rawLabel = label(client, s == 1 ? QStringLiteral("label") : QStringLiteral("rawdata2_Label"),
                       tr("Raw Data"));
    c.rawLabel->setGeometry(24 + 192 * s + 130, 150, 56, 17);
    c.rawLabel->setToolTip(tr("Unfiltered data directly from the gameport."));
    c.raw = field(client, s == 1 ? QStringLiteral("axis") : QStringLiteral("yaxis"), QString());
    c.raw->setGeometry(24 + 192 * s + 130, 174, 46, 20);
    c.raw->setReadOnly(true);
    c.raw->setToolTip(tr("Use this data to set the coefficients."));
}

void SetupPanel::fillChoosers() {
    static const char* const offsetEntries[] = {"+ 3°C", "+ 2°C", "+ 1°C", "No Offset",
                                                "- 1°C", "- 2°C", "- 3°C"};
    for (Column& c : columns_) {
        // Filling selects nothing and runs no choice handler.
        const QSignalBlocker offsetBlocker(c.cboOffset);
        const QSignalBlocker profileBlocker(c.cboTherm);
        for (const char* entry : offsetEntries)
            c.cboOffset->addItem(QString::fromUtf8(entry));
        c.cboOffset->setCurrentIndex(-1);

        // The profile chooser keeps showing its prompt.
        const QString prompt = c.cboTherm->currentText();
        for (QLineEdit* name : c.rename)
            c.cboTherm->addItem(name->text());
        c.cboTherm->setCurrentIndex(-1);
        c.cboTherm->setEditText(prompt);
    }
}

ChannelInput SetupPanel::channelInput(int sensor) const {
    const Column& c = column(sensor);
    return {c.codes,
            {c.coefText[0]->text(), c.coefText[1]->text(), c.coefText[2]->text()},
            c.cboTherm->currentText()};
}

void SetupPanel::showRaw(const QString& x, const QString& y) {
    columns_[0].raw->setText(x);
    columns_[1].raw->setText(y);
}

void SetupPanel::selectProfile(int sensor, int position) {
    QComboBox* chooser = column(sensor).cboTherm;
    if (chooser->currentIndex() == position)
        return;
    // Clearing the selection keeps the text the user sees.
    const QString text = chooser->currentText();
    chooser->setCurrentIndex(position);
    if (position < 0)
        chooser->setEditText(text);
    cboTherm_Click(sensor);
}

void SetupPanel::selectOffset(int sensor, int position) {
    column(sensor).cboOffset->setCurrentIndex(position);
}

void SetupPanel::setUnitOption(QRadioButton* option, bool checked) {
    if (checked) {
        option->setChecked(true); // clears the other option of the sensor
        return;
    }
    // An exclusive option cannot be cleared directly; this leaves the other
    // option as it is and runs no handler.
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

void SetupPanel::cboTherm_Click(int s) {
    Column& c = column(s);
    const int position = c.cboTherm->currentIndex();
    if (position < 0 || position > 2)
        return;
    c.codes.profile = QLatin1String(profileCodes[position]);
    loadProfile(s, position + 1);
}

QString SetupPanel::stored(const QString& key, const QString& current) const {
    return store_ ? store_->GetSetting(SettingsKeys::section(), key, current) : current;
}

void SetupPanel::loadProfile(int s, int n) {
    Column& c = column(s);
    c.cboTherm->setEditText(stored(SettingsKeys::profileName(s, n), c.rename[n - 1]->text()));
    for (int i = 0; i < 3; ++i) {
        QLineEdit* text = c.coefText[i];
        text->setText(stored(SettingsKeys::coefficient(SettingsKeys::coefficientLetters[i], s, n),
                             text->text()));
    }
}

void SetupPanel::cboOffset_Click(int s) {
    Column& c = column(s);
    const int position = c.cboOffset->currentIndex();
    if (position < 0 || position > 6)
        return;
    c.codes.offset = QLatin1String(offsetCodes[position]);
}

void SetupPanel::opC_Click(int s) {
    column(s).codes.unit = QStringLiteral("C");
}
void SetupPanel::opF_Click(int s) {
    column(s).codes.unit = QStringLiteral("F");
}

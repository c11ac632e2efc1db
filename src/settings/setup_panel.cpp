// SPDX-License-Identifier: GPL-3.0-or-later

#include "setup_panel.h"

#include "settings/cl_kelvano.h"
#include "settings/settings_keys.h"
#include "widgets/controls.h"
#include "widgets/placeholder.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

namespace {
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

SetupPanel::SetupPanel(QWidget* client, SettingsModel& model)
    : QObject(client), client_(client),
      model_(model), columns_{Column(model_.codes(1)), Column(model_.codes(2))} {
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
    connectColumn(1);
    connectColumn(2);

    // The raw values come into view when the window grows, is restored or is shown.
    client->installEventFilter(this);
    client->window()->installEventFilter(this);
}

// Every change of a control goes to the model; changes that the panel makes itself while showing
// the model are already there. Choosing a profile, an offset or a unit runs its handler.
void SetupPanel::connectColumn(int s) {
    Column& c = column(s);
    connect(c.cboTherm, &QComboBox::currentIndexChanged, this, [this, s](int position) {
        if (!showing_)
            model_.setProfilePosition(s, position);
    });
    connect(c.cboTherm, &QComboBox::editTextChanged, this, [this, s](const QString& text) {
        if (!showing_)
            model_.setProfileText(s, text);
    });
    // A profile picked from the list is loaded even when it is the one already selected;
    // selections made in code go through selectProfile().
    connect(c.cboTherm, &QComboBox::activated, this, [this, s] { cboTherm_Click(s); });
    connect(c.cboOffset, &QComboBox::currentIndexChanged, this, [this, s](int position) {
        if (!showing_)
            model_.chooseOffset(s, position);
    });
    for (QRadioButton* option : {c.opC, c.opF}) {
        connect(option, &QRadioButton::toggled, this, [this, s, option](bool on) {
            if (showing_)
                return;
            const Column& c = column(s);
            model_.setUnitOptions(s, c.opC->isChecked(), c.opF->isChecked());
            if (on)
                model_.codes(s).unit =
                    option == c.opC ? TemperatureUnit::Celsius : TemperatureUnit::Fahrenheit;
        });
    }
    for (int i = 0; i < 3; ++i) {
        connect(c.coefText[i], &QLineEdit::textChanged, this, [this, s, i](const QString& text) {
            if (!showing_)
                model_.setCoefficient(s, i, text);
        });
        connect(c.rename[i], &QLineEdit::textChanged, this, [this, s, i](const QString& text) {
            if (!showing_)
                model_.setName(s, i + 1, text);
        });
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
    c.cboTherm->setEditText(model_.sensor(s).profileText);

    c.lblOffset = label(client, numbered("lblOffset%1", s), tr("Temp Offset"));
    c.lblOffset->setGeometry(24 + 192 * s, 78, 72, 17);
    c.cboOffset = named<QComboBox>(client, numbered("cboOffset%1", s));
    c.cboOffset->setGeometry(24 + 192 * s + 72, 76, 104, 22);
    showPlaceholderAsText(c.cboOffset, tr("No Offset"));

    c.fraDegree = named<QGroupBox>(client, numbered("fraDegree%1", s));
    c.fraDegree->setGeometry(24 + 192 * s, 100, 176, 26);
    c.opC = named<QRadioButton>(c.fraDegree, numbered("opC%1", s));
    c.opC->setGeometry(4, 4, 78, 18);
    c.opC->setText(tr("Celsius"));
    c.opF = named<QRadioButton>(c.fraDegree, numbered("opF%1", s));
    c.opF->setGeometry(84, 4, 88, 18);
    c.opF->setText(tr("Fahrenheit"));
    c.opC->setChecked(model_.sensor(s).celsius);
    c.opF->setChecked(model_.sensor(s).fahrenheit);

    c.coefLabel = label(client, numbered("coef%1_Label", s), tr("Setup Coefficients"));
    c.coefLabel->setGeometry(24 + 192 * s, 130, 120, 17);
    c.btnCalibrate = named<QPushButton>(client, numbered("btnCalibrate%1", s));
    c.btnCalibrate->setGeometry(24 + 192 * s + 102, 128, 74, 20);
    c.btnCalibrate->setText(tr("Calibrate…"));
    c.btnCalibrate->setToolTip(tr("Work out A, B and C from three reference readings."));
    connect(c.btnCalibrate, &QPushButton::clicked, this,
            [this, s] { Q_EMIT calibrateRequested(s); });
    const Coefficients& initial = model_.sensor(s).coefficients;
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
    for (int s = 1; s <= 2; ++s) {
        Column& c = column(s);
        // Filling selects nothing and runs no choice handler.
        const QSignalBlocker offsetBlocker(c.cboOffset);
        const QSignalBlocker profileBlocker(c.cboTherm);
        for (const char* entry : offsetEntries)
            c.cboOffset->addItem(QString::fromUtf8(entry));
        c.cboOffset->setCurrentIndex(-1);

        // The profile chooser keeps showing its prompt.
        model_.fillEntries(s);
        for (const QString& name : model_.sensor(s).entries)
            c.cboTherm->addItem(name);
        c.cboTherm->setCurrentIndex(-1);
        c.cboTherm->setEditText(model_.sensor(s).profileText);
    }
}

void SetupPanel::setIntervalChooser(QComboBox* chooser) {
    cboTimer_ = chooser;
    connect(chooser, &QComboBox::currentIndexChanged, this,
            [this](int position) { model_.setIntervalPosition(position); });
}

void SetupPanel::takeInterval() {
    if (cboTimer_)
        model_.setIntervalPosition(cboTimer_->currentIndex());
}

ChannelInput SetupPanel::channelInput(int sensor) const {
    return model_.channelInput(sensor);
}

void SetupPanel::showRaw(const QString& x, const QString& y) {
    raw_ = {x, y};
    writeRaw();
}

// A raw field is out of view while the window's size cuts it off or the window is minimised;
// writing it every second would cost time for nothing. Before the window is first shown the fields
// are kept up to date, for whoever reads them.
bool SetupPanel::rawInView(const QWidget* field) const {
    const QWidget* window = client_->window();
    if (!window->isVisible())
        return true;
    return !window->isMinimized() && client_->rect().intersects(field->geometry());
}

void SetupPanel::writeRaw() {
    for (int i = 0; i < 2; ++i) {
        QLineEdit* field = columns_[i].raw;
        if (rawInView(field) && field->text() != raw_[i])
            field->setText(raw_[i]);
    }
}

bool SetupPanel::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((watched == client_ && type == QEvent::Resize) || type == QEvent::Show ||
        type == QEvent::WindowStateChange)
        writeRaw();
    return QObject::eventFilter(watched, event);
}

StoredSettings SetupPanel::stored() const {
    return store_ ? StoredSettings(*store_) : StoredSettings();
}

void SetupPanel::showModel() {
    showing_ = true;
    for (int s = 1; s <= 2; ++s) {
        Column& c = column(s);
        const SettingsModel::Sensor& m = model_.sensor(s);
        for (int n = 0; n < 3; ++n) {
            if (c.cboTherm->itemText(n) != m.entries[n])
                c.cboTherm->setItemText(n, m.entries[n]);
            if (c.rename[n]->text() != m.names[n])
                c.rename[n]->setText(m.names[n]);
        }
        if (c.cboTherm->currentIndex() != m.profilePosition)
            c.cboTherm->setCurrentIndex(m.profilePosition);
        if (c.cboTherm->currentText() != m.profileText)
            c.cboTherm->setEditText(m.profileText);
        const QString coefficients[] = {m.coefficients.a, m.coefficients.b, m.coefficients.c};
        for (int i = 0; i < 3; ++i) {
            if (c.coefText[i]->text() != coefficients[i])
                c.coefText[i]->setText(coefficients[i]);
        }
        if (c.cboOffset->currentIndex() != m.offsetPosition)
            c.cboOffset->setCurrentIndex(m.offsetPosition);
        // An option is cleared before the other is selected, which would clear it anyway.
        const std::pair<QRadioButton*, bool> options[] = {{c.opC, m.celsius},
                                                          {c.opF, m.fahrenheit}};
        for (const bool checked : {false, true}) {
            for (const auto& [option, state] : options) {
                if (state == checked && option->isChecked() != checked)
                    setUnitOption(option, checked);
            }
        }
    }
    showing_ = false;
    // Last, as the load has always done it: choosing the interval runs the log panel's handler.
    if (cboTimer_ && cboTimer_->currentIndex() != model_.intervalPosition())
        cboTimer_->setCurrentIndex(model_.intervalPosition());
}

void SetupPanel::selectProfile(int sensor, int position) {
    if (model_.sensor(sensor).profilePosition == position)
        return;
    model_.selectProfile(sensor, position, position >= 0 ? stored() : StoredSettings());
    showModel();
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
    const int position = column(s).cboTherm->currentIndex();
    model_.chooseProfile(s, position, stored());
    showModel();
}

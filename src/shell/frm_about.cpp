// SPDX-License-Identifier: GPL-3.0-or-later

#include "frm_about.h"

#include "frm_help.h"
#include "widgets/design_font.h"
#include "widgets/twips.h"

#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace {
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setWordWrap(true);
    return label;
}

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}
} // namespace

frmAbout::frmAbout(QWidget* parent) : QWidget(parent, Qt::Window) {
    initShellResources();
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    // No caption. Qt hands the window manager the program's name for an empty
    // title, so the title is a single blank.
    setWindowTitle(QStringLiteral(" "));
    setWindowIcon(programIcon());
    setFixedSize(twips(0, 0, 3630, 4050).size());

    // The whole window, labels included, stands on white.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);

    // A small fixed size keeps the lines inside their boxes whatever the
    // desktop's default font size is.
    QFont small = font();
    small.setPointSizeF(8.25);
    setFont(small);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twips(1200, 120, 1215, 975));
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap(QStringLiteral(":/icons/logo.png")));

    Label1 = makeLabel(this, "Label1", QStringLiteral("Kelvano"), twips(840, 1080, 1935, 495));
    Label1->setFont(displayFont({QStringLiteral("Broadband ICG"), QStringLiteral("URW Gothic"),
                                 QStringLiteral("Century Gothic")},
                                20.25));
    Label1->setWordWrap(false);
    setTextColour(Label1, QColor(128, 128, 255));

    Label6 =
        makeLabel(this, "Label6", QStringLiteral("Version 1.0 beta"), twips(720, 1680, 2175, 240));
    Label2 =
        makeLabel(this, "Label2", QStringLiteral("Published by Corvanta. Free to use and share."),
                  twips(840, 1920, 1935, 720));
    Label4 =
        makeLabel(this, "Label4", QStringLiteral("Questions and reports:\nsee Help > Read Me."),
                  twips(360, 2640, 2895, 480));

    Label5 = makeLabel(this, "Label5", QStringLiteral("Game-port thermometer"),
                       twips(120, 3120, 3495, 360));
    QFont bold = small;
    bold.setPointSizeF(9.75);
    bold.setBold(true);
    Label5->setFont(bold);
    setTextColour(Label5, QColor(255, 0, 255));

    Command1 = new QPushButton(QStringLiteral("Close"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twips(1320, 3480, 975, 375));
    connect(Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);
    Command1->setFocus();
}

void frmAbout::Command1_Click() {
    close();
}

// SPDX-License-Identifier: GPL-3.0-or-later

#include "frm_help.h"
#include "widgets/twips.h"

#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

void initShellResources() {
    // The resources live in a static library; registering them by hand makes
    // sure they are linked in and loaded before the first use.
    static const bool registered = [] {
        Q_INIT_RESOURCE(shell);
        return true;
    }();
    (void)registered;
}

QIcon programIcon() {
    initShellResources();
    // Plain 32 x 32 RGBA bytes, not a PNG: Qt's image reader loads every image plugin (SVG, JPEG,
    // GIF, ICO) to ask each one about any file it reads, which costs start-up time and memory.
    constexpr int side = 32;
    QFile file(QStringLiteral(":/icons/kelvano.rgba"));
    const QByteArray pixels = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (pixels.size() != side * side * 4)
        return {};
    const QImage image(reinterpret_cast<const uchar*>(pixels.constData()), side, side,
                       QImage::Format_RGBA8888);
    return QIcon(QPixmap::fromImage(image));
}

QString frmHelp::readMeText() {
    initShellResources();
    static const QString text = [] {
        QFile file(QStringLiteral(":/readme.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(file.readAll());
    }();
    return text;
}

frmHelp::frmHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    initShellResources();
    setObjectName(QStringLiteral("frmHelp"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Kelvano ReadMe"));
    setWindowIcon(programIcon());
    setFixedSize(twips(0, 0, 8025, 7395).size());

    txtFile = new QPlainTextEdit(this);
    txtFile->setObjectName(QStringLiteral("txtFile"));
    txtFile->setGeometry(twips(120, 360, 7815, 6495));
    txtFile->setReadOnly(true);
    txtFile->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtFile->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // A fixed-pitch face keeps the asterisk frames as wide as their headings
    // and the small tables in line.
    txtFile->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    txtFile->setPlainText(readMeText());

    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setGeometry(twips(3360, 6960, 1335, 375));
    connect(cmdClose, &QPushButton::clicked, this, &frmHelp::cmdClose_Click);
    cmdClose->setFocus();
}

void frmHelp::cmdClose_Click() {
    close();
}

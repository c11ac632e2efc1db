// The About and ReadMe windows: what they show, the compiled-in ReadMe text and
// the icons, and that Close really closes (and frees) each window.
#include "shell/frm_about.h"
#include "shell/frm_help.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

class TestInfoWindows : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void aboutShowsItsLines_data();
    void aboutShowsItsLines();
    void aboutWindow();
    void icons_data();
    void icons();
    void readMeHeadingsInOrder();
    void readMeMentions_data();
    void readMeMentions();
    void helpWindow();
    void closeDeletesTheWindow_data();
    void closeDeletesTheWindow();
};

void TestInfoWindows::aboutShowsItsLines_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry"); // pixels (twips / 15)
    QTest::newRow("name") << "Label1"
                          << "Kelvano" << QRect(56, 72, 129, 33);
    QTest::newRow("version") << "Label6"
                             << "Version 1.0 beta" << QRect(48, 112, 145, 16);
    QTest::newRow("publisher") << "Label2"
                               << "" << QRect(56, 128, 129, 48);
    QTest::newRow("contact") << "Label4"
                             << "" << QRect(24, 176, 193, 32);
    QTest::newRow("web line") << "Label5"
                              << "" << QRect(8, 208, 233, 24);
}

// Every line is where it belongs and its whole text fits its box.
void TestInfoWindows::aboutShowsItsLines() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    frmAbout about;
    auto* label = about.findChild<QLabel*>(name);
    QVERIFY(label);
    if (!text.isEmpty())
        QCOMPARE(label->text(), text);
    QVERIFY(!label->text().trimmed().isEmpty());
    QCOMPARE(label->geometry(), geometry);

    // Wrapped lines must fit their box whole; the one-line name must keep its
    // letters (the ink, not the font's full line height) inside it.
    const QFontMetrics metrics(label->font());
    QRect needed;
    if (label->wordWrap()) {
        needed = metrics.boundingRect(QRect(0, 0, label->width(), 1000),
                                      int(label->alignment()) | Qt::TextWordWrap, label->text());
    } else {
        const QRect ink = metrics.tightBoundingRect(label->text());
        needed = QRect(0, 0, ink.width(), metrics.ascent() + ink.bottom() + 1);
    }
    QVERIFY2(
        needed.width() <= label->width() && needed.height() <= label->height(),
        qPrintable(
            QStringLiteral("%1 needs %2 x %3").arg(name).arg(needed.width()).arg(needed.height())));
}

void TestInfoWindows::aboutWindow() {
    frmAbout about;
    QVERIFY(about.isWindow());
    QVERIFY(about.windowTitle().isEmpty());
    QCOMPARE(about.size(), QSize(242, 270));
    QVERIFY(about.autoFillBackground());
    QCOMPARE(about.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(about.Label1->palette().color(QPalette::WindowText), QColor(128, 128, 255));
    QCOMPARE(about.Label1->font().pointSizeF(), 20.25);
    QCOMPARE(about.Label5->palette().color(QPalette::WindowText), QColor(255, 0, 255));
    QVERIFY(about.Label5->font().bold());

    auto* logo = about.findChild<QLabel*>(QStringLiteral("Image1"));
    QVERIFY(logo);
    QVERIFY(!logo->pixmap().isNull());
    QVERIFY(logo->hasScaledContents());

    auto* close = about.findChild<QPushButton*>(QStringLiteral("Command1"));
    QVERIFY(close);
    QCOMPARE(close->text(), QStringLiteral("Close"));
}

void TestInfoWindows::icons_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("program icon") << ":/icons/kelvano.png" << QSize(32, 32);
    QTest::newRow("logo") << ":/icons/logo.png" << QSize(72, 72);
}

void TestInfoWindows::icons() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    initShellResources();
    const QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0); // transparent corner
}

// The title, then every heading in order; all but the first two are framed
// above and below by asterisks exactly as long as the heading.
void TestInfoWindows::readMeHeadingsInOrder() {
    const QStringList lines = frmHelp::readMeText().split(QLatin1Char('\n'));
    QVERIFY(lines.size() > 100);
    QCOMPARE(lines.first(), QStringLiteral("Kelvano"));

    const QStringList headings = {
        "Kelvano",       "Hardware Setup", "Windows 95/98 Driver Setup",
        "Linux Setup",   "Kelvano Setup",  "Setting the Temperature Coefficients",
        "Logging",       "Registry",       "Graph",
        "Error Messages"};
    int from = 0;
    for (int h = 0; h < headings.size(); ++h) {
        const int at = lines.indexOf(headings[h], from);
        QVERIFY2(at >= 0, qPrintable(headings[h]));
        const bool framed = h >= 2;
        const QString stars(headings[h].size(), QLatin1Char('*'));
        if (framed) {
            QVERIFY2(at > 0 && lines[at - 1] == stars && lines[at + 1] == stars,
                     qPrintable(headings[h]));
        } else if (at > 0) {
            QVERIFY(!lines[at - 1].startsWith(QLatin1Char('*')));
        }
        from = at + 1;
    }

    // No stray frames: every line of asterisks belongs to one of the headings.
    int starLines = 0;
    for (const QString& line : lines)
        if (!line.isEmpty() && line.count(QLatin1Char('*')) == line.size())
            ++starLines;
    QCOMPARE(starLines, 2 * (headings.size() - 2));
}

void TestInfoWindows::readMeMentions_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("missing device")
        << "\"Couldn't detect the Sensors. Make sure gameport driver is installed.\"";
    QTest::newRow("unplugged") << "\"port status: sensors unplugged\"";
    QTest::newRow("read error") << "\"port status: joyGetPosEx error, rc = <code>\"";
    QTest::newRow("connected") << "\"port status: sensors connected\"";
    QTest::newRow("sensor 1") << "\"port status: sensor 1 unplugged\"";
    QTest::newRow("sensor 2") << "\"port status: sensor 2 unplugged\"";
    QTest::newRow("log file") << "KelvanoLog.csv";
    QTest::newRow("intervals") << "1, 5, 6, 10, 15, 30 and 60 seconds";
    QTest::newRow("windows key") << "HKEY_CURRENT_USER/Software/Corvanta/Kelvano/Settings/";
    QTest::newRow("linux file") << "~/.config/Corvanta/Kelvano.conf, section [Settings]";
}

void TestInfoWindows::readMeMentions() {
    QFETCH(QString, text);
    QVERIFY2(frmHelp::readMeText().contains(text), qPrintable(text));
}

void TestInfoWindows::helpWindow() {
    frmHelp help;
    QVERIFY(help.isWindow());
    QCOMPARE(help.windowTitle(), QStringLiteral("Kelvano ReadMe"));
    QCOMPARE(help.size(), QSize(535, 493));

    auto* text = help.findChild<QPlainTextEdit*>(QStringLiteral("txtFile"));
    QVERIFY(text);
    QVERIFY(text->isReadOnly());
    QCOMPARE(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(text->toPlainText(), frmHelp::readMeText());

    auto* close = help.findChild<QPushButton*>(QStringLiteral("cmdClose"));
    QVERIFY(close);
    QCOMPARE(close->text(), QStringLiteral("Close"));
}

void TestInfoWindows::closeDeletesTheWindow_data() {
    QTest::addColumn<bool>("about");
    QTest::addColumn<bool>("button"); // Close button, or the window's close box
    QTest::newRow("About, Close") << true << true;
    QTest::newRow("About, close box") << true << false;
    QTest::newRow("ReadMe, Close") << false << true;
    QTest::newRow("ReadMe, close box") << false << false;
}

void TestInfoWindows::closeDeletesTheWindow() {
    QFETCH(bool, about);
    QFETCH(bool, button);
    QPointer<QWidget> window =
        about ? static_cast<QWidget*>(new frmAbout) : static_cast<QWidget*>(new frmHelp);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    if (button)
        QTest::mouseClick(window->findChild<QPushButton*>(about ? "Command1" : "cmdClose"),
                          Qt::LeftButton);
    else
        window->close();
    QTRY_VERIFY(window.isNull());
}

QTEST_MAIN(TestInfoWindows)
#include "test_info_windows.moc"

// The About and ReadMe windows: what they show, and that Close closes (and frees) each of them.
#include "shell/frm_about.h"
#include "shell/frm_help.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

class TestInfoWindows : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void windowsShowTheirTexts();
    void closeDeletesEachWindow();
};

void TestInfoWindows::windowsShowTheirTexts() {
    frmAbout about;
    // No caption: a blank title, since for an empty one the platform shows the program's name.
    QVERIFY(!about.windowTitle().isEmpty() && about.windowTitle().trimmed().isEmpty());
    QCOMPARE(about.Label1->text() + u'|' + about.Label6->text(),
             QStringLiteral("Kelvano|Version 1.0 beta"));
    QVERIFY(!about.Image1->pixmap().isNull());

    frmHelp help;
    QCOMPARE(help.windowTitle(), QStringLiteral("Kelvano ReadMe"));
    QVERIFY(help.txtFile->isReadOnly());
    // The title, then every heading in order; from the third on, each is framed above and below
    // by asterisks exactly as long as the heading. The messages the program shows are quoted
    // exactly.
    const QString text = help.txtFile->toPlainText();
    const QStringList lines = text.split(u'\n');
    const QStringList headings = {
        "Kelvano",       "Hardware Setup", "Windows 95/98 Driver Setup",
        "Linux Setup",   "Kelvano Setup",  "Setting the Temperature Coefficients",
        "Logging",       "Registry",       "Graph",
        "Error Messages"};
    qsizetype at = -1;
    for (int h = 0; h < headings.size(); ++h) {
        at = lines.indexOf(headings[h], at + 1);
        QVERIFY2(at >= 0, qPrintable(headings[h]));
        const QString stars(headings[h].size(), u'*');
        QVERIFY2(h < 2 || (lines.value(at - 1) == stars && lines.value(at + 1) == stars),
                 qPrintable(headings[h]));
    }
    for (const char* message :
         {"\"Couldn't detect the Sensors. Make sure gameport driver is installed.\"",
          "\"port status: sensors connected\"", "\"port status: sensors unplugged\"",
          "\"port status: sensor 1 unplugged\"", "\"port status: sensor 2 unplugged\"",
          "\"port status: joyGetPosEx error, rc = <code>\""})
        QVERIFY2(text.contains(QString::fromUtf8(message)), message);
}

void TestInfoWindows::closeDeletesEachWindow() {
    for (QWidget* window : std::initializer_list<QWidget*>{new frmAbout, new frmHelp}) {
        const QPointer<QWidget> alive = window;
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::mouseClick(window->findChild<QPushButton*>(), Qt::LeftButton); // its only button
        QTRY_VERIFY(alive.isNull());
    }
}

QTEST_MAIN(TestInfoWindows)
#include "test_info_windows.moc"

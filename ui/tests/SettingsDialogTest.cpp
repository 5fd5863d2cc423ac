// The settings dialog's layout: every control at its place in the dialog template, the output
// format's group beside the conversion quality's, its rows level with Bitrate and Channel.
#include "ui/SettingsDialog.h"
#include "UiTestSupport.h"
#include "ui/Resources.h"

#include <QtTest>

#include <vector>

class SettingsDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { resources::Initialise(); }

    void EveryControlWhereTheTemplatePutsIt()
    {
        // The dialog template's rectangles in dialog units; controls without an id are named by
        // their text. The two drop-downs are 14 units high here, not the template's 55: the
        // template's height included the opened list, and this platform's drop-down opens its
        // list outside the dialog, so the control itself is only as high as its edit field.
        const std::vector<uitest::TemplateControl> controls {
            {"1011", 14, 15, 59, 18},
            {"1012", 78, 16, 239, 16},
            {"Conversion Quality", 15, 59, 151, 70},
            {"Bitrate", 25, 77, 32, 13},
            {"1026", 68, 78, 80, 14},
            {"Channel", 26, 101, 30, 16},
            {"1027", 68, 104, 80, 14},
            {"Output Format", 176, 59, 141, 70},
            {"Format", 186, 77, 32, 13},
            {"1028", 229, 78, 80, 14},
            {"Quality", 186, 101, 32, 16},
            {"1029", 229, 104, 80, 14},
            {"1", 211, 145, 39, 19},
            {"2", 261, 146, 39, 19},
        };
        SettingsDialog dialog;
        QCOMPARE(dialog.size(), dialog.Units().ToPixels(337, 174));
        const QStringList problems = uitest::CompareWithTemplate(&dialog, dialog.Units(), controls);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        // The drop-downs' edit fields take the focus for their boxes and have no names.
        QStringList chain = uitest::TabChain(dialog.findChild<QWidget*>(QStringLiteral("1011")), 10);
        chain.removeAll(QString());
        QCOMPARE(chain,
            (QStringList {QStringLiteral("1011"), QStringLiteral("1012"), QStringLiteral("1026"),
                QStringLiteral("1027"), QStringLiteral("1028"), QStringLiteral("1029"), QStringLiteral("1"),
                QStringLiteral("2")}));
    }
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    SettingsDialogTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "SettingsDialogTest.moc"

// The settings dialog's layout: every control at its place in the dialog template, the output
// format's group beside the conversion quality's, its rows level with Bitrate and Channel, and
// Jobs level with OK. Then the Jobs box, and the library's choices with their preview, through
// the window and the settings file.
#include "ui/SettingsDialog.h"
#include "UiTestSupport.h"
#include "engine/ConversionSettings.h"
#include "engine/NamePattern.h"
#include "engine/SettingsFile.h"
#include "ui/MainDialog.h"
#include "ui/Resources.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

Texts Plus(Texts texts, const std::string& more)
{
    texts.push_back(more);
    return texts;
}

// The texts of a settings file, all of them.
Texts Elements(const QString& path)
{
    const QByteArray bytes = uitest::ReadFile(path);
    return SettingsFile::Decode(
        reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()), 100);
}

} // namespace

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
            {"Jobs", 25, 148, 32, 13},
            {"1030", 68, 147, 40, 14},
            {"Look", 116, 148, 20, 13},
            {"1031", 140, 147, 60, 14},
            {"1", 211, 145, 39, 19},
            {"2", 261, 146, 39, 19},
            // Converting a library, in the room the dialog grew downwards.
            {"Library", 15, 172, 302, 88},
            {"Layout", 25, 186, 32, 13},
            {"1032", 68, 186, 110, 14},
            {"Name", 25, 205, 32, 13},
            {"1033", 68, 205, 241, 14},
            {"1034", 25, 224, 140, 12},
            {"1035", 186, 224, 123, 12},
            {"Preview", 25, 242, 32, 12},
            {"1036", 68, 242, 241, 12},
        };
        SettingsDialog dialog;
        QCOMPARE(dialog.size(), dialog.Units().ToPixels(337, 268));
        const QStringList problems = uitest::CompareWithTemplate(&dialog, dialog.Units(), controls);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        // The drop-downs' and the spin box's edit fields take the focus for their boxes.
        QStringList chain = uitest::TabChain(dialog.findChild<QWidget*>(QStringLiteral("1011")), 13);
        chain.removeAll(QString());
        chain.removeAll(QStringLiteral("qt_spinbox_lineedit"));
        QCOMPARE(chain,
            (QStringList {QStringLiteral("1011"), QStringLiteral("1012"), QStringLiteral("1026"),
                QStringLiteral("1027"), QStringLiteral("1028"), QStringLiteral("1029"),
                QStringLiteral("1030"), QStringLiteral("1031"), QStringLiteral("1"), QStringLiteral("2")}));
    }

    // Each control's edit stays through the folder browser, cancelled or not; only the folder
    // box takes a chosen folder, and the browser opens at the folder the box shows.
    // Bitrate is usable only for Auto, with a tip saying why otherwise; Return means OK, except
    // on another focused button, which it presses.
    void BitrateFollowsTheFormatAndReturnMeansOk()
    {
        SettingsDialog dialog;
        dialog.outputDirectory = QDir::tempPath();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        for (int entry = 0; entry < dialog.formatBox->count(); ++entry) {
            dialog.formatBox->setCurrentIndex(entry);
            const bool autoChosen = dialog.formatBox->currentData().toString() == QLatin1String("auto");
            QVERIFY2(
                dialog.bitrateBox->isEnabled() == autoChosen, qPrintable(dialog.formatBox->currentText()));
            QCOMPARE(dialog.bitrateBox->toolTip().isEmpty(), autoChosen);
        }
        QVERIFY(dialog.OkButton()->isDefault());
        for (const auto& [focused, result] :
            {std::pair {static_cast<QWidget*>(dialog.DirectoryEdit()), QDialog::Accepted},
                std::pair {static_cast<QWidget*>(dialog.CancelButton()), QDialog::Rejected}}) {
            dialog.setResult(-1);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            focused->setFocus();
            QTest::keyClick(focused, Qt::Key_Return);
            QCOMPARE(dialog.result(), int(result));
        }
    }

    void EditsSurviveTheFolderBrowser()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString stored = folder.filePath(QStringLiteral("stored"));
        const QString typed = folder.filePath(QStringLiteral("typed"));
        const QString chosen = folder.filePath(QStringLiteral("chosen"));
        QVERIFY(QDir().mkpath(stored) && QDir().mkpath(chosen));
        const int otherJobs = ConversionSettings::kMostJobs - 1;
        using Step = std::function<void(SettingsDialog&)>;
        using Read = std::function<QString(SettingsDialog&)>;
        const Read bitrate = [](SettingsDialog& dialog) { return dialog.bitrateBox->currentText(); };
        const Read channel = [](SettingsDialog& dialog) { return dialog.channelBox->currentText(); };
        const Read format = [](SettingsDialog& dialog) { return dialog.formatBox->currentText(); };
        const Read quality = [](SettingsDialog& dialog) { return dialog.qualityBox->currentText(); };
        const struct {
            const char* name;
            Step edit;
            Read read;
            QString expected;
        } cases[] = {
            {"bitrate typed", [](SettingsDialog& d) { d.bitrateBox->setEditText(QStringLiteral("96KB")); },
                bitrate, QStringLiteral("96KB")},
            {"bitrate chosen", [](SettingsDialog& d) { d.bitrateBox->setCurrentIndex(6); }, bitrate,
                QStringLiteral("144KB")},
            {"channel chosen", [](SettingsDialog& d) { d.channelBox->setCurrentIndex(0); }, channel,
                QStringLiteral("mono")},
            {"channel typed", [](SettingsDialog& d) { d.channelBox->setEditText(QStringLiteral("mon")); },
                channel, QStringLiteral("mon")},
            {"format chosen",
                [](SettingsDialog& d) { d.formatBox->setCurrentIndex(d.formatBox->findText("FLAC")); },
                format, QStringLiteral("FLAC")},
            {"quality chosen",
                [](SettingsDialog& d) { d.qualityBox->setCurrentIndex(d.qualityBox->count() - 1); }, quality,
                QStringLiteral("CBR 320 kbit/s")},
            {"jobs chosen", [&](SettingsDialog& d) { d.jobsBox->setValue(otherJobs); },
                [](SettingsDialog& d) { return QString::number(d.jobsBox->value()); },
                QString::number(otherJobs)},
            {"look chosen", [](SettingsDialog& d) { d.lookBox->setCurrentIndex(1); },
                [](SettingsDialog& d) { return d.lookBox->currentText(); }, QStringLiteral("System")},
        };
        for (const auto& each : cases) {
            for (const bool cancel : {true, false}) {
                SettingsDialog dialog;
                dialog.outputDirectory = stored;
                dialog.bitrate = QStringLiteral("64KB");
                dialog.channelMode = QStringLiteral("stereo");
                dialog.format = QStringLiteral("mp3");
                dialog.quality = QStringLiteral("V2");
                dialog.jobs = 1;
                dialog.show();
                QVERIFY(QTest::qWaitForWindowExposed(&dialog));
                each.edit(dialog);
                dialog.DirectoryEdit()->setText(typed);
                QString openedAt;
                dialog.chooseFolder = [&](QWidget*, const QString& start) {
                    openedAt = start;
                    return cancel ? QString() : chosen;
                };
                dialog.findChild<QPushButton*>(QStringLiteral("1011"))->click();
                const QString context
                    = QStringLiteral("%1, %2").arg(each.name, cancel ? "cancelled" : "chosen");
                QVERIFY2(each.read(dialog) == each.expected, qPrintable(context + ": " + each.read(dialog)));
                QVERIFY2(openedAt == typed, qPrintable(context + ": opened at " + openedAt));
                QVERIFY2(dialog.DirectoryEdit()->text() == (cancel ? typed : chosen), qPrintable(context));
            }
        }
    }

    // OK checks the output folder: one that is not there is offered for creation (Yes makes it,
    // No keeps the dialog open); one that cannot be made or written is reported with the
    // system's reason, and the dialog stays open.
    void OkOffersToCreateAMissingFolderAndRefusesOneThatCannotBeWritten()
    {
        const uitest::WindowTestSetup setup;
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString file = folder.filePath(QStringLiteral("a-file"));
        QVERIFY(uitest::WriteFile(file, "x"));
        const QString locked = folder.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        const auto ask = [](const QString& path) {
            return QStringLiteral("The folder %1 does not exist. Create it?").arg(path);
        };
        enum Answer { kNone, kYes, kNo };
        struct Case {
            QString name;
            QString text; // typed in the folder box
            Answer answer;
            QStringList boxes;
            bool accepted;
            bool folderThen;
        };
        std::vector<Case> cases {
            {"existing", folder.path(), kNone, {}, true, true},
            {"existing, with separator", folder.path() + "/", kNone, {}, true, true},
            {"missing, Yes", folder.filePath("new/deeper"), kYes, {ask(folder.filePath("new/deeper"))}, true,
                true},
            {"missing, No", folder.filePath("no"), kNo, {ask(folder.filePath("no"))}, false, false},
            {"under a file, Yes", file + "/sub", kYes,
                {ask(file + "/sub"), "The folder " + file + "/sub could not be created.\nNot a directory"},
                false, false},
            {"a file", file, kNone, {"The folder " + file + " cannot be written.\nNot a directory"}, false,
                false},
        };
        // Only where permissions bind (not for the superuser).
        if (!QFileInfo(locked).isWritable())
            cases.push_back({"read-only", locked, kNone,
                {"The folder " + locked + " cannot be written.\nPermission denied"}, false, true});
        for (const Case& each : cases) {
            SettingsDialog dialog;
            dialog.outputDirectory = each.text;
            dialog.bitrate = QStringLiteral("64KB");
            dialog.channelMode = QStringLiteral("stereo");
            QStringList boxes;
            uitest::DialogWatcher watcher([&](QWidget* widget) {
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    boxes << box->text();
                    uitest::Press(box, each.answer == kYes ? QMessageBox::Yes : QMessageBox::No);
                    uitest::Press(box, QMessageBox::Ok);
                }
            });
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            dialog.OkButton()->click();
            const QString name = each.name;
            QVERIFY2(boxes == each.boxes, qPrintable(name + ": " + boxes.join('|')));
            QVERIFY2(dialog.isVisible() != each.accepted, qPrintable(name));
            QVERIFY2((dialog.result() == QDialog::Accepted) == each.accepted, qPrintable(name));
            QVERIFY2(QFileInfo(each.text).isDir() == each.folderThen, qPrintable(name));
            // Nothing of the check is left in the folder.
            QVERIFY2(QDir(folder.path())
                         .entryList(QStringList {".varkonel-*"}, QDir::Files | QDir::Hidden)
                         .isEmpty(),
                qPrintable(name));
        }
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The Jobs box through the window: it shows the number the settings file holds, or the default
    // when the file holds none that can be chosen; a changed number and OK reach the window's
    // settings and, on close, element 5 of the file; a number left as shown, or Cancel, writes the
    // file as it was read (five elements stay five).
    void JobsAreShownChangedAndKeptInTheSettingsFile()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const int fallback = ConversionSettings::DefaultJobs();
        const int other = fallback % ConversionSettings::kMostJobs + 1; // any number but the default
        // A folder that is there: OK checks it.
        const std::string out = QFile::encodeName(folder.path()).toStdString() + "/";
        const Texts five {out, "64KB", "mono", "", ""};
        const struct {
            const char* name;
            Texts stored;
            int shown;
            int set; // 0: left as shown
            bool ok;
            Texts written;
        } cases[] = {
            {"five, left", five, fallback, 0, true, five},
            {"five, changed", five, fallback, other, true, Plus(five, std::to_string(other))},
            {"five, changed, cancelled", five, fallback, other, false, five},
            {"three", {out, "64KB", "mono"}, fallback, 0, true, five},
            {"3, left", Plus(five, "3"), 3, 0, true, Plus(five, "3")},
            {"empty, set to 1", Plus(five, ""), fallback, 1, true, Plus(five, "1")},
            {"12, set to 8", Plus(five, "12"), fallback, 8, true, Plus(five, "8")},
            {"12, left", Plus(five, "12"), fallback, 0, true, five},
            {"2, set to 5, cancelled", Plus(five, "2"), 2, 5, false, Plus(five, "2")},
            {"8, typed 9", Plus(five, "8"), 8, 9, true, Plus(five, "8")},
        };
        for (const auto& each : cases) {
            const QString path = folder.filePath(QStringLiteral("jobs.ini"));
            QVERIFY(uitest::WriteFile(path, QByteArray::fromStdString([&] {
                const std::vector<uint8_t> bytes = SettingsFile::Encode(each.stored);
                return std::string(bytes.begin(), bytes.end());
            }())));
            MainDialog window(QFile::encodeName(path).toStdString());
            int shown = -1;
            bool range = false;
            uitest::DialogWatcher watcher([&](QWidget* widget) {
                auto* dialog = qobject_cast<SettingsDialog*>(widget);
                if (dialog == nullptr)
                    return;
                shown = dialog->jobsBox->value();
                range = dialog->jobsBox->minimum() == 1 && dialog->jobsBox->maximum() == 8;
                if (each.set != 0) {
                    // Typed as a person would: the text selected, the digit, then Enter.
                    dialog->jobsBox->selectAll();
                    QTest::keyClicks(dialog->jobsBox, QString::number(each.set));
                    QTest::keyClick(dialog->jobsBox, Qt::Key_Return);
                }
                (each.ok ? dialog->OkButton() : dialog->CancelButton())->click();
            });
            window.Button(1005)->click();
            QVERIFY2(
                shown == each.shown, qPrintable(QStringLiteral("%1: shown %2").arg(each.name).arg(shown)));
            QVERIFY2(range, each.name);
            const int chosen = each.written.size() > 5 ? std::stoi(each.written[5]) : 0;
            QVERIFY2(window.settings.Jobs() == (chosen != 0 ? chosen : fallback), each.name);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.close());
            QVERIFY2(Elements(path) == each.written, each.name);
        }
    }

    // The library's choices through the window: the preview line shows where the selected row
    // goes for each layout and pattern (nothing without a selected row), Name is usable for
    // "From tags" only and Copy cover images for the layouts that make folders. OK keeps every
    // choice in the window's settings and its file, and the next opening shows them; a malformed
    // pattern is refused with the parser's message and the dialog stays open.
    void LibraryChoicesPreviewAndKeep()
    {
        const uitest::WindowTestSetup setup;
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString base = folder.filePath(QStringLiteral("music"));
        QVERIFY(QDir().mkpath(base + QStringLiteral("/Artist Dir/Album Dir")));
        QVERIFY(
            uitest::WriteFile(base + QStringLiteral("/Artist Dir/Album Dir/song.wav"), uitest::ToneWav(0.1)));
        const QString out = folder.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        std::string malformed;
        NamePattern::Parse("{album", malformed);
        const struct {
            const char* layout;
            const char* pattern;
            bool selected;
            QString preview;
            bool nameUsable;
            bool coversUsable;
            QString refusal; // OK's message; empty when OK is taken
        } rows[] = {
            {"One folder", "", true, out + "/song.mp3", false, false, {}},
            {"Mirror source folders", "", true, out + "/Artist Dir/Album Dir/song.mp3", false, true, {}},
            {"Beside each source", "", true, base + "/Artist Dir/Album Dir/song.mp3", false, false, {}},
            {"From tags", "", true, out + "/Unknown Artist/Unknown Album/song.mp3", true, true, {}},
            {"From tags", "{folder}/{filename}", true, out + "/Album Dir/song.mp3", true, true, {}},
            {"Mirror source folders", "", false, QString(), false, true, {}},
            {"From tags", "{album", true, QString::fromStdString(malformed), true, true,
                QString::fromStdString("The name pattern cannot be used: " + malformed)},
        };
        for (const auto& row : rows) {
            const QString path = folder.filePath(QStringLiteral("library.ini"));
            QFile::remove(path);
            QVERIFY(SettingsFile(QFile::encodeName(path).toStdString())
                        .Write({QFile::encodeName(out).toStdString() + "/", "32KB", "stereo"}));
            const QString name = QString::fromLatin1(row.layout) + QLatin1Char(' ') + row.pattern;
            auto window = std::make_unique<MainDialog>(QFile::encodeName(path).toStdString());
            window->AddFiles({base});
            QCOMPARE(window->list->topLevelItemCount(), 1);
            window->list->topLevelItem(0)->setSelected(row.selected);
            QString preview;
            QStringList boxes;
            bool nameUsable = false;
            bool coversUsable = false;
            bool stayedOpen = false;
            uitest::DialogWatcher watcher([&](QWidget* widget) {
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    boxes << box->text();
                    uitest::Press(box, QMessageBox::Ok);
                    return;
                }
                auto* dialog = qobject_cast<SettingsDialog*>(widget);
                dialog->layoutBox->setCurrentIndex(dialog->layoutBox->findText(QLatin1String(row.layout)));
                dialog->nameEdit->setText(QLatin1String(row.pattern));
                dialog->skipBox->setChecked(true);
                dialog->coversBox->setChecked(true);
                preview = dialog->previewLine->text();
                nameUsable = dialog->nameEdit->isEnabled();
                coversUsable = dialog->coversBox->isEnabled();
                dialog->OkButton()->click();
                stayedOpen = dialog->isVisible();
                if (stayedOpen)
                    dialog->CancelButton()->click();
            });
            window->Button(1005)->click();
            watcher.Stop();
            QVERIFY2(preview == row.preview, qPrintable(name + ": " + preview));
            QVERIFY2(nameUsable == row.nameUsable && coversUsable == row.coversUsable, qPrintable(name));
            QVERIFY2(boxes == (row.refusal.isEmpty() ? QStringList() : QStringList {row.refusal}),
                qPrintable(name + ": " + boxes.join('|')));
            QVERIFY2(stayedOpen == !row.refusal.isEmpty(), qPrintable(name));
            if (stayedOpen)
                continue;
            // Kept in the file at once, and shown by the next window's dialog.
            window.reset();
            MainDialog again(QFile::encodeName(path).toStdString());
            const ConversionSettings& kept = again.settings;
            QVERIFY2(OutputLayout::Of(kept.ChosenLayout().Which()).caption == std::string(row.layout),
                qPrintable(name));
            QVERIFY2(
                kept.namePattern == row.pattern && kept.skipUpToDate && kept.copyCovers, qPrintable(name));
            QStringList shown;
            uitest::DialogWatcher reopened([&](QWidget* widget) {
                auto* dialog = qobject_cast<SettingsDialog*>(widget);
                shown << dialog->layoutBox->currentText() << dialog->nameEdit->text()
                      << QString::number(dialog->skipBox->isChecked())
                      << QString::number(dialog->coversBox->isChecked());
                dialog->CancelButton()->click();
            });
            again.Button(1005)->click();
            QVERIFY2(shown == (QStringList {row.layout, row.pattern, "1", "1"}),
                qPrintable(name + ": " + shown.join('|')));
        }
    }
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    SettingsDialogTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "SettingsDialogTest.moc"

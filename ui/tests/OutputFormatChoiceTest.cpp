// Choosing the output format in the window, for every row of the format table: the Setting
// dialog's Format and Quality boxes, the two texts they leave in the settings file, the choice
// seen again by the next run, the list's output names, and a row converted by Convert and START
// into a file of the container that format's extension stands for.
#include "UiTestSupport.h"
#include "engine/OutputFormat.h"
#include "platform/Message.h"
#include "ui/ConvertDialog.h"
#include "ui/MainDialog.h"
#include "ui/QtMessageBackend.h"
#include "ui/Resources.h"
#include "ui/SettingsDialog.h"

#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>

namespace {

QByteArray CountedText(const QByteArray& text)
{
    return QByteArray(1, static_cast<char>(text.size())) + text;
}

// A settings file of the given texts, in the form the program writes (all shorter than 255).
QByteArray SettingsBytes(const QList<QByteArray>& texts)
{
    QByteArray bytes;
    bytes.append(static_cast<char>(texts.size()));
    bytes.append('\0');
    for (const QByteArray& text : texts)
        bytes += CountedText(text);
    return bytes;
}

// What a program prints to its standard output; empty, with a failure noted, when it fails.
QString Run(const QString& program, const QStringList& arguments)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        qWarning("%s is not installed (scripts/deps/media.txt)", qPrintable(program));
        return QString();
    }
    QProcess process;
    process.start(path, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return QString();
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// ffprobe's name for the container of a file ("wav", "mp3", "ogg", "mov,mp4,m4a,3gp,3g2,mj2").
QString ContainerOf(const QString& file)
{
    return Run(QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
            QStringLiteral("format=format_name"), QStringLiteral("-of"), QStringLiteral("default=nw=1:nk=1"),
            file});
}

// One entry of ffprobe's report on a file: "format=duration", "stream=sample_rate".
QString Probed(const QString& file, const QString& entry)
{
    return Run(QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
            QStringLiteral("a:0"), QStringLiteral("-show_entries"), entry, QStringLiteral("-of"),
            QStringLiteral("default=nw=1:nk=1"), file});
}

// The container that files of an extension are: what ffprobe says of a short file that ffmpeg
// writes under that extension, choosing the muxer by it.
QString ContainerOfExtension(const QString& extension, const QDir& scratch)
{
    static QMap<QString, QString> known;
    if (!known.contains(extension)) {
        const QString reference = scratch.filePath(QStringLiteral("reference.") + extension);
        Run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=f=440:r=48000:d=0.5"),
                reference});
        known.insert(extension, ContainerOf(reference));
    }
    return known.value(extension);
}

int EntryOf(const QComboBox* box, const std::string& text)
{
    return box->findText(QString::fromStdString(text));
}

} // namespace

class OutputFormatChoiceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        source = folder.filePath(QStringLiteral("song.wav"));
        QVERIFY(uitest::WriteFile(source, uitest::ToneWav(1.0, 44100, 2)));
    }

    // Each row chosen in Setting with its last quality (the default when it has one only).
    void EveryFormatIsChosenKeptShownAndWritten()
    {
        for (const OutputFormat& row : OutputFormat::All()) {
            const OutputFormat::Quality* quality = row.qualities.empty() ? nullptr : &row.qualities.back();
            ChooseKeepAndConvert(row, quality);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // A quality other than the default reaches the encoder: the same source gives another file.
    void AnotherQualityGivesAnotherFile()
    {
        for (const OutputFormat& row : OutputFormat::All()) {
            if (row.qualities.size() < 2)
                continue;
            const QByteArray first = ConvertWith(row, &row.qualities.front());
            const QByteArray last = ConvertWith(row, &row.qualities.back());
            QVERIFY2(!first.isEmpty() && !last.isEmpty(), row.key.c_str());
            QVERIFY2(first != last,
                qPrintable(QString::fromStdString(row.key) + ": both qualities give one file"));
        }
    }

    // Files without a usable choice read as Auto, or as the format's default quality; the Setting
    // dialog shows that, with Quality disabled for Auto, and closing writes it back as read.
    void OlderAndUnknownChoicesReadAsTheDefaults()
    {
        const OutputFormat& mp3 = *OutputFormat::Find("mp3");
        const struct {
            const char* name;
            QList<QByteArray> texts;
            const OutputFormat* format;
            QList<QByteArray> written; // elements 3 and 4 after closing
        } cases[] = {
            {"three texts", {"/data/", "48KB", "mono"}, &OutputFormat::Auto(), {"", ""}},
            {"unknown format", {"/data/", "48KB", "mono", "wma", "V2"}, &OutputFormat::Auto(), {"", ""}},
            {"unknown quality", {"/data/", "48KB", "mono", "MP3", "V9"}, &mp3, {"mp3", ""}},
            {"empty quality", {"/data/", "48KB", "mono", "mp3", ""}, &mp3, {"mp3", ""}},
        };
        for (const auto& each : cases) {
            const QString path = folder.filePath(QStringLiteral("older.ini"));
            QVERIFY(uitest::WriteFile(path, SettingsBytes(each.texts)));
            MainDialog window(QFile::encodeName(path).toStdString());
            QCOMPARE(window.settings.bitrate, std::string("48KB"));
            QCOMPARE(window.list->isColumnHidden(MainDialog::kOutputFile), each.format->IsAuto());
            const QString shown = ShownInSetting(window);
            const QString expected = QString::fromStdString(each.format->name) + QLatin1Char('|')
                + (each.format->IsAuto() ? QStringLiteral("-|off")
                                         : QString::fromStdString(each.format->DefaultQuality()->text)
                            + QStringLiteral("|on"));
            QVERIFY2(shown == expected, qPrintable(QLatin1String(each.name) + ": " + shown));
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.close());
            QVERIFY2(uitest::ReadFile(path) == SettingsBytes(each.texts.mid(0, 3) + each.written), each.name);
        }
    }

    // A format that keeps the extension, into the source's folder or a folder holding a link to
    // the source under the output's name: that row is refused with a message and its Status, and
    // its source left as it was; the next selected row is converted.
    void AnOutputThatIsItsSourceIsRefused()
    {
        const QDir base(folder.filePath(QStringLiteral("own")));
        QVERIFY(base.mkpath(QStringLiteral("links")) && base.mkpath(QStringLiteral("elsewhere")));
        const QString song = base.filePath(QStringLiteral("song.wav"));
        const QString other = base.filePath(QStringLiteral("elsewhere/other.wav"));
        const QByteArray original = uitest::ToneWav(0.5, 22050, 1);
        QVERIFY(uitest::WriteFile(song, original));
        QVERIFY(uitest::WriteFile(other, uitest::ToneWav(0.5, 44100, 2)));
        QVERIFY(QFile::link(song, base.filePath(QStringLiteral("links/song.wav"))));
        for (const OutputFormat& row : OutputFormat::All()) {
            if (row.extension != "wav")
                continue;
            for (const QString& out : {base.path(), base.filePath(QStringLiteral("links"))}) {
                MainDialog window(
                    QFile::encodeName(folder.filePath(QStringLiteral("own.ini"))).toStdString());
                window.chooseFiles = [&](QWidget*) { return QStringList {song, other}; };
                window.Button(1001)->click();
                Choose(window, row, row.DefaultQuality(), out);
                window.list->selectAll();
                QStringList messages;
                QStringList targets;
                uitest::DialogWatcher watcher([&](QWidget* widget) {
                    if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                        messages << box->text();
                        uitest::Press(
                            box, box->button(QMessageBox::No) != nullptr ? QMessageBox::No : QMessageBox::Ok);
                    } else if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                        targets << dialog->targetName;
                        dialog->StartButton()->click();
                    }
                });
                window.Button(1003)->click();
                QCOMPARE(messages,
                    QStringList {QStringLiteral("the output would replace its source: ") + out
                        + QStringLiteral("/song.wav is the source ") + song
                        + QStringLiteral(" of this run; not converted")});
                QCOMPARE(targets, QStringList {QStringLiteral("other.wav")});
                // Its Status says so, as a batch's refusal would.
                QCOMPARE(
                    window.list->topLevelItem(0)->text(MainDialog::kStatus), "Failed: " + messages.value(0));
                QCOMPARE(uitest::ReadFile(song), original);
                QVERIFY(QFile::exists(out + QStringLiteral("/other.wav")));
                QVERIFY(QFile::remove(out + QStringLiteral("/other.wav")));
            }
        }
    }

private:
    // The Setting dialog as it opens: "format|quality|on" (Quality "-" when it lists nothing,
    // "off" when it is disabled); then another format is chosen and the dialog cancelled.
    QString ShownInSetting(MainDialog& window)
    {
        QString shown;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            auto* dialog = qobject_cast<SettingsDialog*>(widget);
            if (dialog == nullptr)
                return;
            const QString qualityText = dialog->qualityBox->currentIndex() < 0
                ? QStringLiteral("-")
                : dialog->qualityBox->currentText();
            shown = dialog->formatBox->currentText() + QLatin1Char('|') + qualityText + QLatin1Char('|')
                + (dialog->qualityBox->isEnabled() ? QStringLiteral("on") : QStringLiteral("off"));
            // Another format chosen, then Cancel: nothing of it may stay.
            dialog->formatBox->setCurrentIndex(
                (dialog->formatBox->currentIndex() + 1) % dialog->formatBox->count());
            dialog->CancelButton()->click();
        });
        window.Button(1005)->click();
        return shown;
    }

    // In the Setting dialog, as a user would: choose the format and the quality by their texts,
    // type the output folder, then OK. What the boxes showed on the way that was wrong, if anything.
    void Choose(MainDialog& window, const OutputFormat& row, const OutputFormat::Quality* quality,
        const QString& outputFolder)
    {
        QStringList problems;
        const auto check = [&](bool good, const QString& what) {
            if (!good)
                problems << what;
        };
        bool answered = false;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            auto* dialog = qobject_cast<SettingsDialog*>(widget);
            if (dialog == nullptr)
                return;
            answered = true;
            check(!dialog->formatBox->isEditable() && !dialog->qualityBox->isEditable(), "editable");
            check(dialog->formatBox->count() == static_cast<int>(OutputFormat::All().size()), "format count");
            dialog->formatBox->setCurrentIndex(EntryOf(dialog->formatBox, row.name));
            // The chosen format's qualities, the default first and chosen.
            check(dialog->qualityBox->count() == static_cast<int>(row.qualities.size()), "quality count");
            check(dialog->qualityBox->isEnabled() == !row.IsAuto(), "Quality enabled for Auto only");
            if (!row.IsAuto()) {
                check(dialog->qualityBox->currentText() == QString::fromStdString(row.qualities.front().text),
                    "not the default quality: " + dialog->qualityBox->currentText());
                dialog->qualityBox->setCurrentIndex(EntryOf(dialog->qualityBox, quality->text));
            }
            dialog->DirectoryEdit()->setText(outputFolder);
            dialog->OkButton()->click();
        });
        window.Button(1005)->click();
        QVERIFY(answered);
        QVERIFY2(problems.isEmpty(),
            qPrintable(QString::fromStdString(row.name) + QStringLiteral(": ")
                + problems.join(QStringLiteral(", "))));
    }

    // Convert of every selected row, pressing START in each Convert dialog. Returns the target
    // boxes' texts; a message shown on the way, or a START that starts nothing, fails the test
    // (the dialog is then closed, so that the test goes on).
    QStringList ConvertSelectedRows(MainDialog& window)
    {
        QStringList targets;
        QStringList problems;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                problems << box->text();
                uitest::Press(box, QMessageBox::Ok);
            } else if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                targets << dialog->findChild<QLineEdit*>(QStringLiteral("1018"))->text();
                dialog->StartButton()->click();
                if (!dialog->IsRunning()) {
                    problems << QStringLiteral("START started nothing");
                    dialog->reject();
                }
            }
        });
        window.Button(1003)->click();
        if (!problems.isEmpty()) {
            QTest::qFail(qPrintable(problems.join(QLatin1Char('\n'))), __FILE__, __LINE__);
            return QStringList();
        }
        return targets;
    }

    void AddSource(MainDialog& window)
    {
        window.chooseFiles = [this](QWidget*) { return QStringList {source}; };
        window.Button(1001)->click();
    }

    void ChooseKeepAndConvert(const OutputFormat& row, const OutputFormat::Quality* quality)
    {
        const QString key = QString::fromStdString(row.key);
        qInfo("format %s", row.key.c_str());
        const QString path = folder.filePath(key + QStringLiteral(".ini"));
        const QString out = folder.filePath(key + QStringLiteral("-out"));
        QVERIFY(QDir().mkpath(out));
        // The first run: Auto, the default bitrate text "32KB" (22050 Hz), then the row chosen.
        const std::string bitrate = "32KB";
        {
            MainDialog window(QFile::encodeName(path).toStdString());
            AddSource(window);
            QVERIFY(window.list->isColumnHidden(MainDialog::kOutputFile));
            Choose(window, row, quality, out);
            // The listed row's output name follows the choice at once, in a column of its own
            // before the source paths.
            if (row.IsAuto()) {
                QVERIFY(window.list->isColumnHidden(MainDialog::kOutputFile));
            } else {
                QVERIFY(!window.list->isColumnHidden(MainDialog::kOutputFile));
                QCOMPARE(
                    window.list->headerItem()->text(MainDialog::kOutputFile), QStringLiteral("Output File"));
                QCOMPARE(
                    window.list->header()->visualIndex(MainDialog::kOutputFile), MainDialog::kTargetFiles);
                QCOMPARE(window.list->topLevelItem(0)->text(MainDialog::kOutputFile),
                    QStringLiteral("song.") + QString::fromStdString(row.extension));
            }
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.close());
        }
        // Elements 3 and 4: the format's and the quality's keys; both empty for Auto, as an older
        // program writes them.
        const QByteArray format = row.IsAuto() ? QByteArray() : QByteArray::fromStdString(row.key);
        const QByteArray qualityKey = row.IsAuto() ? QByteArray() : QByteArray::fromStdString(quality->key);
        QCOMPARE(uitest::ReadFile(path),
            SettingsBytes({QFile::encodeName(out) + "/", QByteArray::fromStdString(bitrate), "stereo", format,
                qualityKey}));

        // The next run: the same choice in the Setting dialog; Cancel changes nothing.
        MainDialog window(QFile::encodeName(path).toStdString());
        const QString expected = QString::fromStdString(row.name) + QLatin1Char('|')
            + (row.IsAuto() ? QStringLiteral("-|off")
                            : QString::fromStdString(quality->text) + QStringLiteral("|on"));
        QCOMPARE(ShownInSetting(window), expected);
        QCOMPARE(ShownInSetting(window), expected);

        // Converted through Convert and START: the file the list named, of the container its
        // extension stands for, as long as the source.
        AddSource(window);
        window.list->topLevelItem(0)->setSelected(true);
        const QStringList targets = ConvertSelectedRows(window);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(targets.size(), 1);
        if (!row.IsAuto())
            QCOMPARE(targets[0], window.list->topLevelItem(0)->text(MainDialog::kOutputFile));
        const QString written = QDir(out).filePath(targets[0]);
        QVERIFY2(QFile::exists(written), qPrintable(written));
        QCOMPARE(
            ContainerOf(written), ContainerOfExtension(QFileInfo(written).suffix(), QDir(folder.path())));
        const double seconds = Probed(written, QStringLiteral("format=duration")).toDouble();
        QVERIFY2(qAbs(seconds - 1.0) < 0.1, qPrintable(QString::number(seconds)));
        // Auto's rate is the bitrate text's; a chosen format's follows the source's 44100 Hz.
        const uint32_t rate = row.IsAuto() ? 22050 : row.RateFor(44100, quality);
        QCOMPARE(Probed(written, QStringLiteral("stream=sample_rate")), QString::number(rate));
        if (!row.IsAuto())
            QCOMPARE(QFileInfo(written).suffix(), QString::fromStdString(row.extension));
        else
            QCOMPARE(targets[0], QStringLiteral("song.mp3"));
    }

    // The source converted with a format and quality chosen in Setting; the output's bytes.
    QByteArray ConvertWith(const OutputFormat& row, const OutputFormat::Quality* quality)
    {
        const QString out = folder.filePath(
            QStringLiteral("quality-") + QString::fromStdString(row.key + "-" + quality->key));
        if (!QDir().mkpath(out))
            return QByteArray();
        MainDialog window(QFile::encodeName(folder.filePath(QStringLiteral("quality.ini"))).toStdString());
        AddSource(window);
        Choose(window, row, quality, out);
        window.list->topLevelItem(0)->setSelected(true);
        const QStringList targets = ConvertSelectedRows(window);
        return targets.size() == 1 ? uitest::ReadFile(QDir(out).filePath(targets[0])) : QByteArray();
    }

    uitest::WindowTestSetup setup;
    QTemporaryDir folder;
    QString source;
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    OutputFormatChoiceTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "OutputFormatChoiceTest.moc"

// The Convert dialog driving real conversions: START, progress, the end of the job, ABORT, the
// messages of a failed START, the overwrite prompt from the worker, and a dialog that will not
// end while its worker runs.
#include "ui/ConvertDialog.h"
#include "UiTestSupport.h"
#include "platform/Message.h"
#include "platform/lame_enc/LameEnc.h"
#include "platform/loader/DynamicLibrary.h"
#include "ui/QtMessageBackend.h"
#include "ui/Resources.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

QLabel* PercentLabel(ConvertDialog& dialog)
{
    return dialog.findChild<QLabel*>(QStringLiteral("1020"));
}

} // namespace

class ConvertDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(folder.isValid()); }

    void LayoutFollowsTheTemplate()
    {
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Convert"));
        // The template's 130 units and one line for the whole batch's progress.
        QCOMPARE(dialog.size(), dialog.Units().ToPixels(347, 144));
        QCOMPARE(dialog.StartButton()->objectName(), QStringLiteral("1019"));
        QCOMPARE(dialog.StartButton()->text(), QStringLiteral("START"));
        QCOMPARE(dialog.StartButton()->geometry(), dialog.Units().ToPixels(78, 97, 50, 20));
        QCOMPARE(dialog.AbortButton()->objectName(), QStringLiteral("3"));
        QCOMPARE(dialog.AbortButton()->geometry(), dialog.Units().ToPixels(221, 97, 50, 20));
        QCOMPARE(dialog.progress->objectName(), QStringLiteral("1014"));
        QCOMPARE(dialog.progress->geometry(), dialog.Units().ToPixels(18, 71, 309, 17));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
        // Tab order: ABORT, source, target, START, then "Convert all selected rows".
        QCOMPARE(uitest::TabChain(dialog.AbortButton(), 5),
            (QStringList {QStringLiteral("3"), QStringLiteral("1017"), QStringLiteral("1018"),
                QStringLiteral("1019"), QStringLiteral("1021")}));
        QCOMPARE(dialog.AllRowsBox()->text(), QStringLiteral("Convert all selected rows"));
        QVERIFY(!dialog.AllRowsBox()->isChecked());
        // The template's "0%" gives way to the empty percentage the dialog starts with.
        dialog.sourceName = QStringLiteral("/music/a.wav");
        uitest::DialogWatcher watcher([&](QWidget*) {
            QCOMPARE(PercentLabel(dialog)->text(), QString());
            QCOMPARE(
                dialog.findChild<QLineEdit*>(QStringLiteral("1017"))->text(), QStringLiteral("/music/a.wav"));
            QVERIFY(dialog.Skin().IsLoaded());
            // The background is the striped skin, tiled from the top-left corner.
            const QImage picture = dialog.grab().toImage();
            for (int y = 0; y < 6; ++y)
                QCOMPARE(picture.pixel(1, y), y % 3 == 0 ? qRgb(128, 128, 128) : qRgb(192, 192, 192));
            QCOMPARE(picture.pixel(picture.width() - 1, 15), qRgb(128, 128, 128));
            uitest::Screenshot(&dialog, QStringLiteral("convert-dialog-idle"));
            dialog.reject();
        });
        dialog.exec();
        QCOMPARE(watcher.Seen(), 1);
    }

    void AbortBeforeAnyJobCancels()
    {
        EncoderSet encoders; // no job has run with these encoders
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        dialog.sourceName = folder.filePath(QStringLiteral("never.wav"));
        dialog.targetName = QStringLiteral("never.mp3");
        uitest::DialogWatcher watcher([&](QWidget*) { dialog.AbortButton()->click(); });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("never.mp3"))));
    }

    void FailedStartsSayWhy()
    {
        QVERIFY(uitest::WriteFile(folder.filePath(QStringLiteral("in.wav")), uitest::ToneWav(0.5)));
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        dialog.outputDir = folder.path() + QLatin1Char('/');

        // An unknown target format: the message, and the dialog stays open with START usable.
        dialog.sourceName = folder.filePath(QStringLiteral("in.wav"));
        dialog.targetName = QStringLiteral("in.ogg");
        QStringList messages;
        bool stillOpen = false;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                messages << box->text();
                uitest::Press(box, QMessageBox::Ok);
                return;
            }
            if (widget != &dialog)
                return;
            dialog.StartButton()->click();
            stillOpen = dialog.isVisible() && dialog.StartButton()->isEnabled();
            dialog.reject();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QCOMPARE(messages, QStringList {QStringLiteral("format not support!\n")});
        QVERIFY(stillOpen);
        QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("in.ogg"))));

        // A source that cannot be opened: the message, and the dialog is cancelled.
        messages.clear();
        dialog.sourceName = folder.filePath(QStringLiteral("missing.wav"));
        dialog.targetName = QStringLiteral("missing.mp3");
        uitest::DialogWatcher second([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                messages << box->text();
                uitest::Press(box, QMessageBox::Ok);
            } else if (widget == &dialog) {
                dialog.StartButton()->click();
            }
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(messages.contains(QStringLiteral("can not open source file!\n") + dialog.sourceName
            + QStringLiteral(": No such file or directory")));
        QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("missing.mp3"))));
    }

    void StartRunsTheJobToAFinishedMp3()
    {
        QVERIFY(uitest::WriteFile(folder.filePath(QStringLiteral("tone.wav")), uitest::ToneWav(2.0, 22050)));
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        dialog.sourceName = folder.filePath(QStringLiteral("tone.wav"));
        dialog.targetName = QStringLiteral("tone.mp3");
        dialog.outputDir = folder.path() + QLatin1Char('/');
        int range = -1;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (widget != &dialog)
                return;
            dialog.StartButton()->click();
            range = dialog.progress->maximum();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(range, 2);
        QVERIFY(!dialog.IsRunning());
        const QByteArray mp3 = uitest::ReadFile(folder.filePath(QStringLiteral("tone.mp3")));
        QVERIFY(mp3.size() > 1000);
        QCOMPARE(mp3.right(128).left(3), QByteArray("TAG"));
        // The first frame's sync word after the ID3v2 tag: an MPEG audio file, not a copy of the
        // source.
        const qsizetype audio = uitest::Mp3AudioStart(mp3);
        QVERIFY(audio > 10 && audio + 1 < mp3.size());
        QCOMPARE(static_cast<uint8_t>(mp3[audio]), uint8_t(0xFF));
        QCOMPARE(static_cast<uint8_t>(mp3[audio + 1]) & 0xE0, 0xE0);
    }

    void ProgressThenAbortLeavesAValidShorterFile()
    {
        // A long source, encoded to MP3, so the job is still running when ABORT comes.
        const double seconds = 900.0;
        QVERIFY(
            uitest::WriteFile(folder.filePath(QStringLiteral("long.wav")), uitest::ToneWav(seconds, 8000)));
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        dialog.sourceName = folder.filePath(QStringLiteral("long.wav"));
        dialog.targetName = QStringLiteral("long.mp3");
        dialog.outputDir = folder.path() + QStringLiteral("/out/");
        QVERIFY(QDir().mkpath(folder.path() + QStringLiteral("/out")));
        QString percentBeforeAbort;
        int positionBeforeAbort = -1;
        bool startDisabled = false;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (widget != &dialog)
                return;
            dialog.StartButton()->click();
            startDisabled = !dialog.StartButton()->isEnabled();
            QCOMPARE(PercentLabel(dialog)->text(), QStringLiteral("0%"));
            // Timer ticks move the bar and the percentage while the worker encodes.
            QTRY_VERIFY_WITH_TIMEOUT(dialog.progress->value() >= 2 || !dialog.isVisible(), 60000);
            percentBeforeAbort = PercentLabel(dialog)->text();
            positionBeforeAbort = dialog.progress->value();
            uitest::Screenshot(&dialog, QStringLiteral("convert-dialog-running"));
            dialog.AbortButton()->click();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY(startDisabled);
        QCOMPARE(dialog.progress->maximum(), int(seconds));
        QVERIFY2(positionBeforeAbort >= 2, "the job ended before a progress tick");
        QCOMPARE(
            percentBeforeAbort, QString::number(positionBeforeAbort * 100 / int(seconds)) + QLatin1Char('%'));
        const QByteArray mp3 = uitest::ReadFile(folder.filePath(QStringLiteral("out/long.mp3")));
        // A finished file (frames, then the tag) far shorter than the whole source would give
        // at 32 kbit/s, yet holding at least the seconds read before ABORT.
        QCOMPARE(mp3.right(128).left(3), QByteArray("TAG"));
        QCOMPARE(static_cast<uint8_t>(mp3[uitest::Mp3AudioStart(mp3)]), uint8_t(0xFF));
        const qsizetype bytesPerSecond = 32000 / 8;
        QVERIFY(mp3.size() < qsizetype(seconds) * bytesPerSecond / 2);
        QVERIFY(mp3.size() >= (positionBeforeAbort - 1) * bytesPerSecond);
    }

    void WhileTheWorkerAsksTheDialogStaysOpenAndAbortWorks()
    {
        // The target exists: the worker asks before overwriting and waits for the answer.
        QVERIFY(uitest::WriteFile(folder.filePath(QStringLiteral("ask.wav")), uitest::ToneWav(3.0, 22050)));
        const QByteArray old = uitest::ToneWav(0.1, 8000);
        QVERIFY(QDir().mkpath(folder.path() + QStringLiteral("/ask")));
        const QString target = folder.filePath(QStringLiteral("ask/ask.wav"));
        QVERIFY(uitest::WriteFile(target, old));
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        dialog.sourceName = folder.filePath(QStringLiteral("ask.wav"));
        dialog.targetName = QStringLiteral("ask.wav");
        dialog.outputDir = folder.path() + QStringLiteral("/ask/");
        bool survivedEscape = false, survivedClose = false, abortUsable = false;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (widget == &dialog) {
                dialog.StartButton()->click();
                return;
            }
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr)
                return;
            QVERIFY(dialog.IsRunning());
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QTest::keyClick(&dialog, Qt::Key_Return);
            survivedEscape = dialog.isVisible();
            QVERIFY(!dialog.close()); // counts as ABORT
            survivedClose = dialog.isVisible();
            abortUsable = dialog.AbortButton()->isEnabled();
            uitest::Press(box, QMessageBox::Yes);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY(survivedEscape);
        QVERIFY(survivedClose);
        QVERIFY(abortUsable);
        // The abort came while the question was open: the old file is left as it was.
        QCOMPARE(uitest::ReadFile(target), old);
    }

    void OutputThatCannotBeOpenedIsReportedAndTheDialogEnds()
    {
        QVERIFY(uitest::WriteFile(folder.filePath(QStringLiteral("nodir.wav")), uitest::ToneWav(0.5, 22050)));
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        dialog.sourceName = folder.filePath(QStringLiteral("nodir.wav"));
        dialog.targetName = QStringLiteral("nodir.mp3");
        dialog.outputDir = folder.filePath(QStringLiteral("no-such-folder")) + QLatin1Char('/');
        QStringList messages;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (widget == &dialog) {
                dialog.StartButton()->click();
            } else if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                // Shown for the worker, which waits; the dialog is still running meanwhile.
                messages << box->text() + (dialog.IsRunning() ? QStringLiteral("|running") : QString());
                uitest::Press(box, QMessageBox::Ok);
            }
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        // The system's reason follows the message.
        QCOMPARE(messages,
            QStringList {QStringLiteral("open out file failed,\nplease check directory exists!\n")
                + dialog.outputDir + QStringLiteral("nodir.mp3: No such file or directory|running")});
    }

    // An encoder that stops working: the job ends as failed, the message says so, and the
    // shorter file is kept, finished. The test variant of the encoder library fails after 20
    // chunks, as its environment variable says when it is loaded.
    void EncoderThatStopsWorkingSaysTheConversionFailed()
    {
        QVERIFY(uitest::WriteFile(folder.filePath(QStringLiteral("fail.wav")), uitest::ToneWav(30.0, 22050)));
        qputenv("LAME_ENC_TEST_FAIL_CHUNKS_AFTER", "20");
        RedirectLibrary(kLameEncLibraryName, "liblame_enc_test.so");
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        dialog.sourceName = folder.filePath(QStringLiteral("fail.wav"));
        dialog.targetName = QStringLiteral("fail.mp3");
        dialog.outputDir = folder.path() + QLatin1Char('/');
        QStringList messages;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (widget == &dialog) {
                dialog.StartButton()->click();
            } else if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                messages << box->text();
                uitest::Press(box, QMessageBox::Ok);
            }
        });
        const int result = dialog.exec();
        ClearLibraryRedirects();
        qunsetenv("LAME_ENC_TEST_FAIL_CHUNKS_AFTER");
        QCOMPARE(result, int(QDialog::Accepted));
        QVERIFY(!dialog.job.EncodeSucceeded());
        QCOMPARE(messages,
            QStringList {
                QStringLiteral("The conversion failed: the MP3 encoder stopped working.\nThe output file ")
                + dialog.outputDir
                + QStringLiteral("fail.mp3 was finished and holds the audio up to there.")});
        const QByteArray mp3 = uitest::ReadFile(folder.filePath(QStringLiteral("fail.mp3")));
        QCOMPARE(mp3.right(128).left(3), QByteArray("TAG"));
    }

    void SecondShowingReloadsTheSkinAndStartsEmpty()
    {
        QVERIFY(uitest::WriteFile(folder.filePath(QStringLiteral("two.wav")), uitest::ToneWav(0.5, 22050)));
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        dialog.sourceName = folder.filePath(QStringLiteral("two.wav"));
        dialog.targetName = QStringLiteral("two.mp3");
        dialog.outputDir = folder.path() + QLatin1Char('/');
        QStringList percentAtShow;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (widget != &dialog)
                return;
            percentAtShow << PercentLabel(dialog)->text();
            QVERIFY(dialog.StartButton()->isEnabled());
            dialog.StartButton()->click();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        dialog.percentText.clear();
        QFile::remove(folder.filePath(QStringLiteral("two.mp3")));
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(percentAtShow, (QStringList {QString(), QString()}));
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("two.mp3"))));

        // After a job with these encoders, ABORT before START only stops the idle encoder: the
        // dialog stays open.
        bool openAfterAbort = false;
        uitest::DialogWatcher third([&](QWidget* widget) {
            if (widget != &dialog)
                return;
            dialog.AbortButton()->click();
            QTest::qWait(20);
            openAfterAbort = dialog.isVisible();
            dialog.reject();
        });
        percentAtShow.clear();
        watcher.Stop();
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(openAfterAbort);
    }

    void EveryShowingStartsWithAnEmptyBar()
    {
        // Long enough for the progress timer to move the bar before the job ends.
        QVERIFY(uitest::WriteFile(folder.filePath(QStringLiteral("bar.wav")), uitest::ToneWav(60.0, 22050)));
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        dialog.sourceName = folder.filePath(QStringLiteral("bar.wav"));
        dialog.targetName = QStringLiteral("bar.mp3");
        dialog.outputDir = folder.path() + QLatin1Char('/');
        struct Look {
            int value;
            int minimum;
            int maximum;
            QString percent;
        };
        std::vector<Look> atShow;
        bool convert = true;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (widget != &dialog)
                return;
            atShow.push_back({dialog.progress->value(), dialog.progress->minimum(),
                dialog.progress->maximum(), PercentLabel(dialog)->text()});
            if (convert)
                dialog.StartButton()->click();
            else
                dialog.reject();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        // The first row's job moved the bar and the percentage.
        QVERIFY(dialog.progress->value() > 0);
        QVERIFY(!PercentLabel(dialog)->text().isEmpty());

        // The next row, as the main window shows it: only the row's texts change.
        dialog.sourceName = folder.filePath(QStringLiteral("bar.wav"));
        dialog.targetName = QStringLiteral("bar2.mp3");
        convert = false;
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QCOMPARE(int(atShow.size()), 2);
        for (const Look& look : atShow) {
            QCOMPARE(look.value, 0);
            QCOMPARE(look.minimum, 0);
            QCOMPARE(look.maximum, 100);
            QCOMPARE(look.percent, QString());
        }
    }

    void EveryControlWhereTheTemplatePutsIt()
    {
        // The dialog template's rectangles in dialog units. The arrow picture takes its
        // bitmap's size (60 x 20 pixels), not the template's 40 x 12.
        const std::vector<uitest::TemplateControl> controls {
            {"3", 221, 97, 50, 20},
            {"1014", 18, 71, 309, 17},
            {"#picture", 155, 30, 40, 12},
            {"1017", 15, 28, 120, 16},
            {"1018", 211, 28, 120, 17},
            {"1019", 78, 97, 50, 20},
            {"1020", 155, 100, 44, 14},
            // "Convert all selected rows", above the source box; the batch's bar and its text
            // on the line below the buttons.
            {"1021", 15, 9, 150, 12},
            {"1022", 18, 123, 120, 12},
            {"1023", 142, 123, 185, 12},
        };
        EncoderSet encoders;
        ConvertDialog dialog(nullptr, 22050.0, encoders);
        const QStringList problems = uitest::CompareWithTemplate(&dialog, dialog.Units(), controls);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

private:
    uitest::WindowTestSetup setup;
    QTemporaryDir folder;
};

int main(int argc, char** argv)
{
    argc = uitest::TakeScreenshotSwitch(argc, argv);
    QApplication application(argc, argv);
    ConvertDialogTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "ConvertDialogTest.moc"

// The window converting a selection with one START: each row's Status, the window title, the
// one closing list of failures, ABORT in a batch of two jobs at once, the overwrite question's
// "to all" answers, one START per row when "Convert all selected rows" is unchecked, a folder's
// tree converted into its mirror under the output folder, the texts of the Status column and of
// the dialog's overall line, and how often the dialog shows a batch of short files.
#include "ui/WindowBatch.h"
#include "UiTestSupport.h"
#include "engine/SettingsFile.h"
#include "platform/Message.h"
#include "platform/media/MediaFile.h"
#include "ui/ConvertDialog.h"
#include "ui/MainDialog.h"
#include "ui/QtMessageBackend.h"
#include "ui/Resources.h"
#include "ui/SettingsDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QString kStopped = QStringLiteral("Stopped: shorter file kept");

// Seconds of audio in a file, as the media reader decodes it; -1 when it cannot be decoded.
int DecodedChannels(const QString& path)
{
    DecodedAudio decoded;
    return DecodeMediaFile(QFile::encodeName(path).constData(), decoded) < 0 ? -1 : decoded.format.nChannels;
}

double DecodedSeconds(const QString& path)
{
    DecodedAudio decoded;
    if (DecodeMediaFile(QFile::encodeName(path).constData(), decoded) < 0 || decoded.format.nBlockAlign == 0)
        return -1.0;
    return double(decoded.pcm.size()) / decoded.format.nBlockAlign / decoded.format.nSamplesPerSec;
}

// Sources given themselves, not found in a folder.
std::vector<SourcePaths::Source> Given(const std::vector<std::string>& paths)
{
    std::vector<SourcePaths::Source> sources;
    for (const std::string& path : paths)
        sources.push_back({path, {}});
    return sources;
}

QString StatusOf(const MainDialog& window, int row)
{
    return window.list->topLevelItem(row)->text(MainDialog::kStatus);
}

// Records each title the window takes.
class TitleRecorder : public QObject {
public:
    explicit TitleRecorder(QWidget* window)
        : window(window)
    {
        window->installEventFilter(this);
    }
    QStringList titles;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window && event->type() == QEvent::WindowTitleChange)
            titles << window->windowTitle();
        return false;
    }

private:
    QWidget* window;
};

} // namespace

class WindowBatchTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(folder.isValid()); }

    void OneStartConvertsTheSelectionAndListsTheFailureOnce()
    {
        // The settings file names the folder without a separator (as a person writes it) and
        // mono: the outputs go inside the folder, in one channel.
        const QString out = Folder(QStringLiteral("one-start"));
        const std::string ini
            = QFile::encodeName(folder.filePath(QStringLiteral("one-start.ini"))).toStdString();
        QVERIFY(SettingsFile(ini).Write({QFile::encodeName(out).toStdString(), "32KB", "mono"}));
        auto window = std::make_unique<MainDialog>(ini);
        const QStringList names {QStringLiteral("a.wav"), QStringLiteral("b.wav"),
            QStringLiteral("broken.wav"), QStringLiteral("d.wav")};
        for (const QString& name : names) {
            const QString path = Source(QStringLiteral("one-start"), name,
                name.startsWith(QStringLiteral("broken")) ? QByteArray(200, 'x') : uitest::ToneWav(1.0));
            window->AddListRow(name, 1, 1, path);
        }
        window->list->selectAll();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        TitleRecorder recorder(window.get());

        QStringList boxes;
        bool checkedByDefault = false;
        // The list stays in reach of the mouse beside the dialog (no modal window blocks it),
        // while the window's buttons wait for the dialog to end.
        bool listInReach = false;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                boxes << box->text();
                uitest::Press(box, QMessageBox::Ok);
            } else if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                checkedByDefault = dialog->AllRowsBox()->isChecked();
                listInReach = QApplication::activeModalWidget() == nullptr;
                for (int id : {1001, 1002, 1003, 1004, 1005})
                    listInReach = listInReach && !window->Button(id)->isEnabled();
                dialog->StartButton()->click();
            }
        });
        window->Button(1003)->click();
        watcher.Stop();
        QVERIFY(checkedByDefault);
        QVERIFY(listInReach);
        QVERIFY(window->Button(1003)->isEnabled() && window->Button(1001)->isEnabled());

        const QString broken = folder.filePath(QStringLiteral("one-start/broken.wav"));
        for (int row = 0; row < names.size(); ++row) {
            const QString status = StatusOf(*window, row);
            const QTreeWidgetItem* item = window->list->topLevelItem(row);
            if (row == 2) {
                QVERIFY2(
                    status.startsWith(QStringLiteral("Failed: can not open source file! ") + broken + ": "),
                    qPrintable(status));
                QVERIFY(!QFile::exists(out + QStringLiteral("/broken.mp3")));
                continue;
            }
            const QString output = out + QLatin1Char('/') + QFileInfo(names[row]).completeBaseName() + ".mp3";
            QCOMPARE(status, QStringLiteral("Converted"));
            QCOMPARE(item->toolTip(MainDialog::kStatus), output);
            QVERIFY2(std::abs(DecodedSeconds(output) - 1.0) < 0.1, qPrintable(output));
            QCOMPARE(DecodedChannels(output), 1);
        }
        // The one message: the failed row and its reason, nothing before it.
        QCOMPARE(boxes,
            QStringList {
                "Not every file was converted: 3 converted, 1 failed.\nbroken.wav: " + StatusOf(*window, 2)});
        QCOMPARE(recorder.titles,
            (QStringList {QStringLiteral("Varkonel \u2014 0 of 4"), QStringLiteral("Varkonel \u2014 1 of 4"),
                QStringLiteral("Varkonel \u2014 2 of 4"), QStringLiteral("Varkonel \u2014 3 of 4"),
                QStringLiteral("Varkonel \u2014 4 of 4"), QStringLiteral("Varkonel")}));

        // A double click on a converted row opens its folder; on the failed row, nothing.
        QList<QUrl> opened;
        bool opens = true;
        window->openUrl = [&](const QUrl& url) {
            opened << url;
            return opens;
        };
        const auto doubleClick = [&](int row) {
            const QRect place = window->list->visualItemRect(window->list->topLevelItem(row));
            QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {},
                window->list->viewport()->mapTo(window.get(), place.center()));
        };
        for (int row : {0, 2})
            doubleClick(row);
        QCOMPARE(opened, QList<QUrl> {QUrl::fromLocalFile(out)});
        // With no program to open folders, the line under the list says so.
        opens = false;
        doubleClick(0);
        QVERIFY2(window->OutputLine()->text().startsWith(QStringLiteral("The folder ") + out),
            qPrintable(window->OutputLine()->text()));
        window->hide();
    }

    void AbortInABatchOfTwoJobsKeepsTwoShorterFiles()
    {
        const QString out = Folder(QStringLiteral("abort"));
        auto window = Window(QStringLiteral("abort"), out);
        window->settings.jobs = 2;
        const QStringList names {QStringLiteral("a.wav"), QStringLiteral("b.wav"), QStringLiteral("c.wav"),
            QStringLiteral("d.wav")};
        constexpr double kSeconds = 60.0;
        for (const QString& name : names)
            window->AddListRow(name, 60, 1, Source(QStringLiteral("abort"), name, uitest::ToneWav(kSeconds)));
        window->list->selectAll();

        // ABORT as soon as both first rows are converting and one has moved on.
        ConvertDialog* running = nullptr;
        QElapsedTimer sinceAbort;
        qint64 abortTook = -1;
        connect(window->list->model(), &QAbstractItemModel::dataChanged, this, [&] {
            const QString first = StatusOf(*window, 0);
            const QString second = StatusOf(*window, 1);
            if (running == nullptr || sinceAbort.isValid() || !first.startsWith(QStringLiteral("Converting"))
                || !second.startsWith(QStringLiteral("Converting")))
                return;
            if (first == QStringLiteral("Converting 0 %") && second == QStringLiteral("Converting 0 %"))
                return;
            sinceAbort.start();
            running->AbortButton()->click();
        });
        QStringList boxes;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                boxes << box->text();
                uitest::Press(box, QMessageBox::Ok);
            } else if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                running = dialog;
                connect(dialog, &QDialog::finished, [&] { abortTook = sinceAbort.elapsed(); });
                dialog->StartButton()->click();
            }
        });
        window->Button(1003)->click();
        watcher.Stop();
        QVERIFY(sinceAbort.isValid());
        // The running files end at their next buffer: no waiting for a file's end.
        QVERIFY2(abortTook >= 0 && abortTook < 2000, qPrintable(QString::number(abortTook)));

        for (int row = 0; row < names.size(); ++row) {
            const QString output = out + QLatin1Char('/') + QFileInfo(names[row]).completeBaseName() + ".mp3";
            if (row >= 2) {
                QCOMPARE(StatusOf(*window, row), QStringLiteral("Not converted"));
                QVERIFY(!QFile::exists(output));
                continue;
            }
            QCOMPARE(StatusOf(*window, row), kStopped);
            // Complete (its ID3v1 tag at the end, decodable) and shorter than the source.
            QCOMPARE(uitest::ReadFile(output).right(128).left(3), QByteArray("TAG"));
            const double seconds = DecodedSeconds(output);
            QVERIFY2(seconds > 0.0 && seconds < kSeconds - 1.0, qPrintable(QString::number(seconds)));
        }
        QCOMPARE(boxes,
            QStringList {"Not every file was converted: 0 converted, 2 stopped, 2 not converted.\na.wav: "
                + kStopped + "\nb.wav: " + kStopped});
        QCOMPARE(window->windowTitle(), QStringLiteral("Varkonel"));
    }

    // START pressed with Enter, as a scripted batch does, and the keys that follow while the
    // files convert: the focus is on the bar, so a second Enter stops nothing; Alt+A is ABORT;
    // Escape stops one file at once and asks before it stops a batch.
    void KeysAfterStartStopOnlyWhenMeantTo()
    {
        constexpr double kSeconds = 60.0;
        enum Answer { kNone, kYes, kNo };
        constexpr int kCloseBox = -1; // the window manager's close, in place of a key
        const struct {
            const char* name;
            int rows; // more than one: one batch
            std::vector<std::pair<int, Qt::KeyboardModifiers>> keys; // after the Enter that starts
            Answer answer; // to "Stop all remaining files?"
            bool stopped;
        } cases[] = {
            {"one file, Enter again", 1, {{Qt::Key_Return, Qt::NoModifier}}, kNone, false},
            {"batch, Enter twice more", 3,
                {{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}, kNone, false},
            {"batch, Escape, No", 3, {{Qt::Key_Escape, Qt::NoModifier}}, kNo, false},
            {"batch, Escape, Yes", 3, {{Qt::Key_Escape, Qt::NoModifier}}, kYes, true},
            {"batch, Alt+A", 3, {{Qt::Key_A, Qt::AltModifier}}, kNone, true},
            {"one file, Escape", 1, {{Qt::Key_Escape, Qt::NoModifier}}, kNone, true},
            {"one file, Alt+A", 1, {{Qt::Key_A, Qt::AltModifier}}, kNone, true},
            {"batch, close box, No", 3, {{kCloseBox, Qt::NoModifier}}, kNo, false},
            {"batch, close box, Yes", 3, {{kCloseBox, Qt::NoModifier}}, kYes, true},
            {"one file, close box", 1, {{kCloseBox, Qt::NoModifier}}, kNone, true},
        };
        for (const auto& each : cases) {
            const QString name = QString::fromLatin1(each.name).replace(QRegularExpression("\\W+"), "-");
            const QString out = Folder(name);
            auto window = Window(name, out);
            window->settings.jobs = 1;
            QStringList outputs;
            for (int row = 0; row < each.rows; ++row) {
                const QString file = QStringLiteral("%1.wav").arg(row);
                window->AddListRow(file, 60, 1, Source(name, file, uitest::ToneWav(kSeconds)));
                outputs << out + QStringLiteral("/%1.mp3").arg(row);
            }
            window->list->selectAll();
            QWidget* focusAfterStart = nullptr;
            bool onTheBar = false;
            QStringList questions;
            uitest::DialogWatcher watcher([&](QWidget* widget) {
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    const bool question = box->text() == QLatin1String(ConvertDialog::kStopAllQuestion);
                    if (question)
                        questions << box->text();
                    uitest::Press(box,
                        !question                 ? QMessageBox::Ok
                            : each.answer == kYes ? QMessageBox::Yes
                                                  : QMessageBox::No);
                } else if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                    QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
                    focusAfterStart = dialog->focusWidget();
                    onTheBar = focusAfterStart == dialog->progress;
                    QVERIFY2(dialog->IsRunning(), each.name);
                    for (const auto& [key, modifiers] : each.keys) {
                        if (key == kCloseBox)
                            QVERIFY(!dialog->close());
                        else
                            QTest::keyClick(dialog->focusWidget(), Qt::Key(key), modifiers);
                    }
                }
            });
            window->Button(1003)->click();
            watcher.Stop();
            QVERIFY2(focusAfterStart != nullptr, each.name);
            QVERIFY2(onTheBar, each.name);

            const QStringList asked
                = each.answer == kNone ? QStringList() : QStringList {"Stop all remaining files?"};
            QVERIFY2(questions == asked, qPrintable(questions.join('|')));
            // Every output there is complete; all of them whole unless the keys stopped them.
            int whole = 0;
            for (const QString& output : outputs) {
                if (!QFile::exists(output))
                    continue;
                QCOMPARE(uitest::ReadFile(output).right(128).left(3), QByteArray("TAG"));
                whole += DecodedSeconds(output) > kSeconds - 1.0;
            }
            QVERIFY2((whole < each.rows) == each.stopped,
                qPrintable(QStringLiteral("%1: %2 whole").arg(each.name).arg(whole)));
        }
    }

    void UncheckedOneStartPerRowAndTheJobsOwnMessages()
    {
        const QString out = Folder(QStringLiteral("unchecked"));
        auto window = Window(QStringLiteral("unchecked"), out);
        const QString broken
            = Source(QStringLiteral("unchecked"), QStringLiteral("broken.wav"), QByteArray(200, 'x'));
        window->AddListRow(QStringLiteral("a.wav"), 1, 1,
            Source(QStringLiteral("unchecked"), QStringLiteral("a.wav"), uitest::ToneWav(0.5)));
        window->AddListRow(QStringLiteral("broken.wav"), 1, 1, broken);
        window->AddListRow(QStringLiteral("c.wav"), 1, 1,
            Source(QStringLiteral("unchecked"), QStringLiteral("c.wav"), uitest::ToneWav(0.5)));
        window->list->selectAll();

        QStringList shown;
        QStringList boxes;
        int accepted = 0;
        const QDialog* counted = nullptr;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                boxes << box->text();
                uitest::Press(box, QMessageBox::Ok);
            } else if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                if (dialog != std::exchange(counted, dialog))
                    connect(dialog, &QDialog::finished,
                        [&](int result) { accepted += result == QDialog::Accepted; });
                shown << dialog->findChild<QLineEdit*>(QStringLiteral("1017"))->text();
                dialog->AllRowsBox()->setChecked(false);
                dialog->StartButton()->click();
            }
        });
        window->Button(1003)->click();
        watcher.Stop();
        // One dialog and one START per row; the broken file's message as a box, as for one row.
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown[1], broken);
        // Each row is a batch of one, which ends with OK whatever became of its file.
        QCOMPARE(accepted, 3);
        QCOMPARE(StatusOf(*window, 1).left(8), QStringLiteral("Failed: "));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith(QStringLiteral("can not open source file!\n") + broken),
            qPrintable(boxes[0]));
        for (const char* name : {"a.mp3", "c.mp3"})
            QVERIFY(DecodedSeconds(out + QLatin1Char('/') + QLatin1String(name)) > 0.4);
        QCOMPARE(window->windowTitle(), QStringLiteral("Varkonel"));
    }

    void ToAllAnswersOverThreeExistingOutputs()
    {
        using Button = QMessageBox::StandardButton;
        const struct {
            const char* name;
            std::vector<Button> pressed; // in the order the questions come
            std::vector<bool> replaced; // per row
        } cases[] = {
            {"yes to all", {QMessageBox::YesToAll}, {true, true, true}},
            {"no to all", {QMessageBox::NoToAll}, {false, false, false}},
            {"no, then yes to all", {QMessageBox::No, QMessageBox::YesToAll}, {false, true, true}},
            {"yes, then no to all", {QMessageBox::Yes, QMessageBox::NoToAll}, {true, false, false}},
            {"one by one", {QMessageBox::No, QMessageBox::Yes, QMessageBox::No}, {false, true, false}},
        };
        int run = 0;
        for (const auto& each : cases) {
            qInfo("%s", each.name);
            const QString name = QStringLiteral("to-all-%1").arg(run++);
            const QString out = Folder(name);
            auto window = Window(name, out);
            window->settings.jobs = 2;
            const QByteArray old("an older output");
            for (const char* row : {"a", "b", "c"}) {
                const QString file = QLatin1String(row) + QStringLiteral(".wav");
                window->AddListRow(file, 1, 1, Source(name, file, uitest::ToneWav(0.5)));
                QVERIFY(uitest::WriteFile(out + QLatin1Char('/') + QLatin1String(row) + ".mp3", old));
            }
            window->list->selectAll();
            size_t asked = 0;
            QStringList others;
            uitest::DialogWatcher watcher([&](QWidget* widget) {
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    if (box->text() != QStringLiteral("the output file has existed, overwrite it?")
                        || asked >= each.pressed.size()) {
                        others << box->text();
                        box->close();
                        return;
                    }
                    uitest::Press(box, each.pressed[asked++]);
                } else if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                    dialog->StartButton()->click();
                }
            });
            window->Button(1003)->click();
            watcher.Stop();
            QCOMPARE(asked, each.pressed.size());
            QCOMPARE(others, QStringList());
            for (int row = 0; row < 3; ++row) {
                const QByteArray bytes = uitest::ReadFile(out + QLatin1Char('/') + QChar('a' + row) + ".mp3");
                QCOMPARE(bytes != old, bool(each.replaced[row]));
                QCOMPARE(StatusOf(*window, row),
                    each.replaced[row] ? QStringLiteral("Converted")
                                       : QStringLiteral("Skipped: kept the existing file"));
            }
        }
    }

    void ProgressReachesTheWindowAtMostEveryTenthOfASecondPerFile()
    {
        // One long file beside many short ones: each short file's end wakes the batch, which
        // then tells every running file's progress; the window hears of the long one no more
        // often than its period allows.
        const QString out = Folder(QStringLiteral("throttle"));
        std::vector<std::string> sources {QFile::encodeName(
            Source(QStringLiteral("throttle"), QStringLiteral("long.wav"), uitest::ToneWav(30.0)))
                                              .toStdString()};
        const QByteArray blip = uitest::ToneWav(0.05);
        for (int n = 0; n < 60; ++n) {
            sources.push_back(QFile::encodeName(
                Source(QStringLiteral("throttle"), QStringLiteral("blip%1.wav").arg(n), blip))
                                  .toStdString());
        }
        BatchOptions options;
        options.outputDir = QFile::encodeName(out).toStdString() + "/";
        options.jobs = 2;
        WindowBatch batch(options);
        int told = 0; // progress of the long file
        bool longEnded = false;
        QElapsedTimer clock;
        qint64 longRan = 0;
        batch.onNews = [&](const WindowBatch::News& news) {
            if (news.index != 0)
                return;
            if (news.kind == WindowBatch::News::Kind::Started)
                clock.start();
            told += news.kind == WindowBatch::News::Kind::Progress;
            if (news.kind == WindowBatch::News::Kind::Ended) {
                longEnded = true;
                longRan = clock.elapsed();
            }
        };
        bool finished = false;
        batch.onFinished = [&](const BatchTally& tally) {
            finished = true;
            QCOMPARE(tally.converted, 61);
        };
        QVERIFY(batch.Start(Given(sources)));
        QTRY_VERIFY_WITH_TIMEOUT(finished, 120000);
        QVERIFY(longEnded);
        QVERIFY2(told <= longRan / WindowBatch::kProgressPeriodMs + 1,
            qPrintable(QStringLiteral("%1 progress news in %2 ms").arg(told).arg(longRan)));
    }

    void TheDialogShowsABatchOfShortFilesAtMostEveryTenthOfASecond()
    {
        // Short files end many times a second; the dialog's bars and texts follow at most every
        // period, and show the whole batch done at its end.
        const QString out = Folder(QStringLiteral("short"));
        auto window = Window(QStringLiteral("short"), out);
        window->settings.jobs = 2;
        const QByteArray blip = uitest::ToneWav(0.05);
        constexpr int kFiles = 40;
        for (int n = 0; n < kFiles; ++n) {
            const QString name = QStringLiteral("blip%1.wav").arg(n);
            window->AddListRow(name, 1, 1, Source(QStringLiteral("short"), name, blip));
        }
        window->list->selectAll();

        int shown = 0; // changes of the overall bar
        QElapsedTimer clock;
        qint64 ran = -1;
        QString overallText;
        QString percent;
        bool barFull = false;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            auto* dialog = qobject_cast<ConvertDialog*>(widget);
            if (dialog == nullptr) {
                if (auto* box = qobject_cast<QMessageBox*>(widget))
                    box->close();
                return;
            }
            connect(dialog->OverallBar(), &QProgressBar::valueChanged, [&] { ++shown; });
            connect(dialog, &QDialog::finished, [&, dialog] {
                ran = clock.elapsed();
                overallText = dialog->OverallLabel()->text();
                percent = dialog->percentText;
                barFull = dialog->OverallBar()->value() == dialog->OverallBar()->maximum();
            });
            clock.start();
            dialog->StartButton()->click();
        });
        window->Button(1003)->click();
        watcher.Stop();
        QVERIFY(ran >= 0);
        for (int row = 0; row < kFiles; ++row)
            QCOMPARE(StatusOf(*window, row), QStringLiteral("Converted"));
        QVERIFY2(shown <= ran / ConvertDialog::kBatchShowPeriodMs + 2,
            qPrintable(QStringLiteral("the overall bar changed %1 times in %2 ms").arg(shown).arg(ran)));
        QCOMPARE(overallText, QStringLiteral("%1 of %1 done").arg(kFiles));
        QVERIFY(barFull);
        QCOMPARE(percent, QStringLiteral("100%"));
    }

    // Closing the window during a batch asks first: No goes on; Yes stops every running file,
    // keeping it complete and shorter, and the window goes once the batch is over.
    void ClosingTheWindowDuringABatchAsks()
    {
        for (const bool yes : {false, true}) {
            const QString name = yes ? QStringLiteral("quit-yes") : QStringLiteral("quit-no");
            const QString out = Folder(name);
            auto window = Window(name, out);
            window->settings.jobs = 1;
            for (const QString& file : {QStringLiteral("a.wav"), QStringLiteral("b.wav")})
                window->AddListRow(file, 60, 1, Source(name, file, uitest::ToneWav(60.0)));
            window->list->selectAll();
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            QStringList boxes;
            bool goesOn = false;
            uitest::DialogWatcher watcher([&](QWidget* widget) {
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    boxes << box->text();
                    const bool question = box->text() == QLatin1String(MainDialog::kStopAndQuitQuestion);
                    uitest::Press(box,
                        !question ? QMessageBox::Ok
                            : yes ? QMessageBox::Yes
                                  : QMessageBox::No);
                } else if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                    dialog->StartButton()->click();
                    QTRY_VERIFY(StatusOf(*window, 0).startsWith(QStringLiteral("Converting")));
                    window->close(); // the window manager's close box, or Alt+F4
                    goesOn = window->isVisible() && dialog->IsRunning();
                    if (!yes)
                        dialog->AbortButton()->click();
                }
            });
            window->Button(1003)->click();
            watcher.Stop();
            QCOMPARE(boxes.value(0), QLatin1String(MainDialog::kStopAndQuitQuestion));
            QVERIFY(goesOn);
            QCOMPARE(window->isVisible(), !yes);
            QCOMPARE(StatusOf(*window, 0), kStopped);
            // Quitting shows no closing message; going on shows it at the batch's end.
            QCOMPARE(boxes.size(), yes ? 1 : 2);
            QCOMPARE(uitest::ReadFile(out + QStringLiteral("/a.mp3")).right(128).left(3), QByteArray("TAG"));
        }
    }

    void ABatchGoesWithItsWindowLeavingCompleteFiles()
    {
        // The window closes while two files convert: the batch stops and waits for them.
        const QString out = Folder(QStringLiteral("closing"));
        std::vector<std::string> sources;
        for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
            sources.push_back(QFile::encodeName(
                Source(QStringLiteral("closing"), QLatin1String(name), uitest::ToneWav(60.0)))
                                  .toStdString());
        }
        BatchOptions options;
        options.outputDir = QFile::encodeName(out).toStdString() + "/";
        options.jobs = 2;
        auto batch = std::make_unique<WindowBatch>(options);
        int started = 0;
        batch->onNews = [&](const WindowBatch::News& news) {
            started += news.kind == WindowBatch::News::Kind::Started;
        };
        QVERIFY(batch->Start(Given(sources)));
        QTRY_COMPARE_WITH_TIMEOUT(started, 2, 20000);
        QTest::qWait(200);
        QElapsedTimer closing;
        closing.start();
        batch.reset();
        QVERIFY2(closing.elapsed() < 2000, qPrintable(QString::number(closing.elapsed())));
        for (const char* name : {"a.mp3", "b.mp3"}) {
            const QString output = out + QLatin1Char('/') + QLatin1String(name);
            QCOMPARE(uitest::ReadFile(output).right(128).left(3), QByteArray("TAG"));
            const double seconds = DecodedSeconds(output);
            QVERIFY2(seconds > 0.0 && seconds < 59.0, qPrintable(QString::number(seconds)));
        }
        QVERIFY(!QFile::exists(out + QStringLiteral("/c.mp3")));
    }

    // A folder added with Add Folder (its button, or Ctrl+Shift+O) and converted with "Mirror
    // source folders" chosen in the Setting dialog: its tree appears under the output folder and
    // each row's Status says so, whether one START converts every row or each row has a START of
    // its own. A folder in it that cannot be read, and a folder given that holds no audio, are
    // each named in one message; the rest is listed.
    void AFolderTreeConvertsIntoItsMirror()
    {
        const QString tree = folder.filePath(QStringLiteral("tree"));
        const QStringList files {
            QStringLiteral("a.wav"), QStringLiteral("Disc 1/b.wav"), QStringLiteral("Disc 2/deeper/c.wav")};
        for (const QString& file : files) {
            QVERIFY(QDir().mkpath(QFileInfo(tree + QLatin1Char('/') + file).path()));
            QVERIFY(uitest::WriteFile(tree + QLatin1Char('/') + file, uitest::ToneWav(0.5)));
        }
        const QString locked = tree + QStringLiteral("/locked");
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
        // Where permissions bind (not for the superuser) the folder cannot be read; a folder
        // given that holds no audio is named the same way.
        const QString empty = folder.filePath(QStringLiteral("empty"));
        QVERIFY(QDir().mkpath(empty));
        QStringList messages {empty + QStringLiteral(": holds no audio file that can be converted")};
        if (!QDir(locked).isReadable())
            messages.prepend(locked + QStringLiteral(": Permission denied"));
        const struct {
            const char* name;
            bool allAtOnce;
            bool byKeys;
        } runs[] = {{"mirror-all", true, false}, {"mirror-each", false, true}};
        for (const auto& run : runs) {
            const QString out = Folder(QLatin1String(run.name));
            auto window = Window(QLatin1String(run.name), out);
            window->chooseFolder = [&](QWidget*) { return tree; };
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            QStringList boxes;
            uitest::DialogWatcher watcher([&](QWidget* widget) {
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    boxes << box->text();
                    uitest::Press(box, QMessageBox::Ok);
                } else if (auto* settings = qobject_cast<SettingsDialog*>(widget)) {
                    settings->layoutBox->setCurrentIndex(
                        settings->layoutBox->findText(QStringLiteral("Mirror source folders")));
                    settings->OkButton()->click();
                } else if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                    dialog->AllRowsBox()->setChecked(run.allAtOnce);
                    dialog->StartButton()->click();
                }
            });
            if (run.byKeys)
                QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
            else
                window->Button(MainDialog::kAddFolderId)->click();
            window->AddFiles({empty});
            QVERIFY2(boxes == messages, qPrintable(boxes.join('|')));
            QCOMPARE(window->list->topLevelItemCount(), int(files.size()));
            window->Button(1005)->click();
            window->list->selectAll();
            window->Button(1003)->click();
            watcher.Stop();
            QVERIFY2(boxes == messages, qPrintable(boxes.join('|')));
            for (int row = 0; row < files.size(); ++row) {
                const QString output = out + QLatin1Char('/') + files[row].chopped(3) + QStringLiteral("mp3");
                QVERIFY2(DecodedSeconds(output) > 0.4, qPrintable(output));
                QVERIFY2(StatusOf(*window, row) == QStringLiteral("Converted"), qPrintable(files[row]));
            }
        }
        QFile::setPermissions(
            locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void StatusTexts()
    {
        using Kind = WindowBatch::News::Kind;
        using Outcome = BatchFace::Outcome;
        const struct {
            Kind kind;
            double position;
            double length;
            Outcome outcome;
            const char* reason;
            const char* text;
        } cases[] = {
            {Kind::Started, 0.0, 200.0, Outcome::NotStarted, "", "Converting 0 %"},
            {Kind::Progress, 90.0, 200.0, Outcome::NotStarted, "", "Converting 45 %"},
            {Kind::Progress, 200.0, 200.0, Outcome::NotStarted, "", "Converting 100 %"},
            {Kind::Progress, 3.0, -1.0, Outcome::NotStarted, "", "Converting"},
            {Kind::Ended, 1.0, 1.0, Outcome::Converted, "", "Converted"},
            {Kind::Ended, 0.0, 1.0, Outcome::Failed, "can not open source file! /a.wav: no RIFF",
                "Failed: can not open source file! /a.wav: no RIFF"},
            {Kind::Ended, 0.0, 1.0, Outcome::Skipped, "", "Skipped: kept the existing file"},
            {Kind::Ended, 0.5, 1.0, Outcome::Stopped, "", "Stopped: shorter file kept"},
            {Kind::Ended, 0.0, 1.0, Outcome::NotStarted, "", "Not converted"},
        };
        for (const auto& each : cases) {
            WindowBatch::News news;
            news.kind = each.kind;
            news.position = each.position;
            news.length = each.length;
            news.outcome = each.outcome;
            news.reason = each.reason;
            QCOMPARE(WindowBatch::StatusText(news), QString::fromUtf8(each.text));
        }
        QCOMPARE(WindowBatch::WaitingText(), QStringLiteral("Waiting"));

        const struct {
            int done;
            int total;
            int failed;
            double left;
            const char* text;
        } lines[] = {
            {4, 12, 1, 42.0, "4 of 12 done \u00b7 1 failed \u00b7 0:42 left"},
            {0, 3, 0, -1.0, "0 of 3 done"},
            {2, 5, 0, 61.2, "2 of 5 done \u00b7 1:02 left"},
            {3, 3, 2, -1.0, "3 of 3 done \u00b7 2 failed"},
            {1, 9, 0, 3725.0, "1 of 9 done \u00b7 62:05 left"},
        };
        for (const auto& each : lines)
            QCOMPARE(ConvertDialog::OverallText(each.done, each.total, each.failed, each.left),
                QString::fromUtf8(each.text));

        // The closing message counts every outcome and names at most 20 rows.
        QStringList trouble;
        for (int row = 1; row <= 23; ++row)
            trouble << QStringLiteral("%1.wav: Failed: x").arg(row);
        const struct {
            BatchTally tally;
            int named;
            const char* start;
            const char* end;
        } messages[] = {
            {{12, 1, 0, 2, 1706}, 3,
                "Not every file was converted: 12 converted, 1 failed, 2 stopped, 1,706 not "
                "converted.\n1.wav",
                "3.wav: Failed: x"},
            {{0, 0, 3, 0, 1}, 0, "Not every file was converted: 0 converted, 3 skipped, 1 not converted.",
                "converted."},
            {{1000, 23, 0, 0, 0}, 23, "Not every file was converted: 1,000 converted, 23 failed.\n1.wav",
                "20.wav: Failed: x\nand 3 more"},
        };
        for (const auto& each : messages) {
            const QString text = MainDialog::ClosingMessage(each.tally, trouble.mid(0, each.named));
            QVERIFY2(
                text.startsWith(QString::fromUtf8(each.start)) && text.endsWith(QString::fromUtf8(each.end)),
                qPrintable(text));
            QCOMPARE(text.count(QLatin1Char('\n')), std::min(each.named, 20) + (each.named > 20 ? 1 : 0));
        }
    }

private:
    std::unique_ptr<MainDialog> Window(const QString& name, const QString& out)
    {
        auto window
            = std::make_unique<MainDialog>(QFile::encodeName(folder.filePath(name + ".ini")).toStdString());
        window->settings.outputDirectory = QFile::encodeName(out).toStdString() + "/";
        return window;
    }

    QString Folder(const QString& name)
    {
        const QString path = folder.filePath(name + QStringLiteral("-out"));
        QDir().mkpath(path);
        return path;
    }

    QString Source(const QString& folderName, const QString& name, const QByteArray& bytes)
    {
        QDir().mkpath(folder.filePath(folderName));
        const QString path = folder.filePath(folderName + QLatin1Char('/') + name);
        uitest::WriteFile(path, bytes);
        return path;
    }

    uitest::WindowTestSetup setup;
    QTemporaryDir folder;
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    WindowBatchTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "WindowBatchTest.moc"

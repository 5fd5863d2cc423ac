// The main window: adding files through the file chooser, the list's texts, Clear List,
// converting the selected rows one after the other, the settings dialog's rules, and the
// settings file written whenever the window closes.
#include "ui/MainDialog.h"
#include "UiTestSupport.h"
#include "engine/ConversionJob.h"
#include "engine/ConversionSettings.h"
#include "engine/OutputFormat.h"
#include "engine/SettingsFile.h"
#include "platform/Message.h"
#include "platform/cdrom/CdRom.h"
#include "platform/media/MediaFile.h"
#include "tests/support/CdTestDisc.h"
#include "ui/AboutDialog.h"
#include "ui/ConvertDialog.h"
#include "ui/ConverterApp.h"
#include "ui/HotTrackDelegate.h"
#include "ui/ProgramInfo.h"
#include "ui/QtMessageBackend.h"
#include "ui/Resources.h"
#include "ui/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

QByteArray CountedText(const QByteArray& text)
{
    return QByteArray(1, static_cast<char>(text.size())) + text;
}

// The settings file as the program writes it: count 5, three texts, two empty ones.
QByteArray SettingsBytes(const QByteArray& directory, const QByteArray& bitrate, const QByteArray& channels)
{
    return QByteArray("\x05\x00", 2) + CountedText(directory) + CountedText(bitrate) + CountedText(channels)
        + QByteArray(2, '\0');
}

QByteArray DefaultDirectory()
{
    return QFile::encodeName(QDir::tempPath()) + "/";
}

// Stands by a FIFO while the window is handed it: if nothing is done within the deadline, it
// opens the FIFO's writing end, which releases an open for reading that waits there, so that a
// window that blocks on the FIFO fails the test instead of hanging it.
class FifoWatchdog {
public:
    FifoWatchdog(const QString& fifo, std::chrono::milliseconds deadline)
        : path(QFile::encodeName(fifo).toStdString())
        , watcher([this, deadline] { Watch(deadline); })
    { }
    ~FifoWatchdog() { Stop(); }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

    // Ends the watch; true when the deadline passed and the FIFO had to be opened.
    bool Stop()
    {
        {
            std::lock_guard guard(lock);
            done = true;
        }
        wake.notify_all();
        if (watcher.joinable())
            watcher.join();
        return fired;
    }

private:
    void Watch(std::chrono::milliseconds deadline)
    {
        std::unique_lock guard(lock);
        if (wake.wait_for(guard, deadline, [this] { return done; }))
            return;
        fired = true;
        // Without a reader a non-blocking open for writing fails: try until the waiting reader
        // is there, or until the watch ends.
        while (!done) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            wake.wait_for(guard, std::chrono::milliseconds(10));
        }
    }

    std::string path;
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;
    bool fired = false;
    std::thread watcher;
};

QStringList Row(const QTreeWidget* list, int row)
{
    QStringList texts;
    for (int column = 0; column < 5; ++column)
        texts << list->topLevelItem(row)->text(column);
    return texts;
}

} // namespace

class MainDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(folder.isValid()); }

    void EveryControlWhereTheTemplatePutsIt()
    {
        // The window template's rectangles in dialog units.
        const std::vector<uitest::TemplateControl> controls {
            {"1001", 7, 7, 56, 20}, {"1002", 67, 7, 56, 20}, {"1003", 127, 7, 56, 20},
            {"1005", 187, 7, 56, 20}, {"1006", 247, 7, 48, 20}, {"1004", 372, 7, 54, 20},
            {"1000", 7, 38, 419, 223}, {"1040", 7, 261, 419, 7}, // the output folder's line, below the list
        };
        MainDialog window(SettingsPath(QStringLiteral("template.ini")));
        const QStringList problems = uitest::CompareWithTemplate(&window, window.Units(), controls);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    void WindowLayoutAndColumns()
    {
        MainDialog window(SettingsPath(QStringLiteral("layout.ini")));
        QCOMPARE(window.windowTitle(), QStringLiteral("Varkonel"));
        QCOMPARE(window.size(), window.Units().ToPixels(433, 268));
        QCOMPARE(window.Button(1003)->text(), QStringLiteral("Convert"));
        QCOMPARE(window.Button(1003)->geometry(), window.Units().ToPixels(127, 7, 56, 20));
        QCOMPARE(window.Button(1004)->geometry(), window.Units().ToPixels(372, 7, 54, 20));
        QCOMPARE(window.list->objectName(), QStringLiteral("1000"));
        QCOMPARE(window.list->geometry(), window.Units().ToPixels(7, 38, 419, 223));
        QCOMPARE(window.list->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(window.list->selectionBehavior(), QAbstractItemView::SelectRows);
        // Every column in the order created, with its place on the screen: "Output File" (hidden
        // for the Auto format) and "Status" stand before the long source paths.
        const struct {
            const char* header;
            int width; // 0: hidden
            int shownAt;
        } columns[] = {
            {"", 5, 0},
            {"Source File", 150, 1},
            {"Time", 60, 2},
            {"Size", 80, 3},
            {"Target Files", 350, 6},
            {"Output File", 0, 4},
            {"Status", 150, 5},
        };
        QCOMPARE(window.list->columnCount(), int(std::size(columns)));
        for (int column = 0; column < window.list->columnCount(); ++column) {
            const auto& expected = columns[column];
            QCOMPARE(window.list->headerItem()->text(column), QString::fromLatin1(expected.header));
            QCOMPARE(window.list->isColumnHidden(column), expected.width == 0);
            if (expected.width != 0)
                QCOMPARE(window.list->columnWidth(column), expected.width);
            QCOMPARE(window.list->header()->visualIndex(column), expected.shownAt);
        }
        QCOMPARE(MainDialog::kStatus, 6);
        // The selection looks the same without the focus.
        const QPalette colours = window.list->palette();
        QCOMPARE(colours.color(QPalette::Inactive, QPalette::Highlight),
            colours.color(QPalette::Active, QPalette::Highlight));
        QCOMPARE(uitest::TabChain(window.Button(1001), 7),
            (QStringList {QStringLiteral("1001"), QStringLiteral("1002"), QStringLiteral("1003"),
                QStringLiteral("1005"), QStringLiteral("1006"), QStringLiteral("1004"),
                QStringLiteral("1000")}));
        QVERIFY(!window.windowIcon().isNull());

        // Hot tracking: the row under the mouse is underlined, the others are not.
        window.AddListRow(QStringLiteral("a.wav"), 1, 1, QStringLiteral("/a.wav"));
        auto* delegate = qobject_cast<HotTrackDelegate*>(window.list->itemDelegate());
        QVERIFY(delegate != nullptr);
        QStyleOptionViewItem option;
        option.initFrom(window.list);
        option.state |= QStyle::State_MouseOver;
        const QModelIndex cell = window.list->model()->index(0, 1);
        delegate->initStyleOption(&option, cell);
        QVERIFY(option.font.underline());
        option.state &= ~QStyle::State_MouseOver;
        delegate->initStyleOption(&option, cell);
        QVERIFY(!option.font.underline());

        // The About button opens the About box.
        QStringList about;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            for (QLabel* label : widget->findChildren<QLabel*>())
                about << label->text();
            about << widget->windowTitle();
            if (auto* ok = widget->findChild<QPushButton*>(QStringLiteral("1")))
                ok->click();
        });
        window.Button(1004)->click();
        QVERIFY(about.contains(ProgramInfo::AboutVersionLine()));
        QVERIFY(about.contains(QStringLiteral("About")));
    }

    void AddingFilesListsEachOnceWithTimeAndSize()
    {
        const QString a = folder.filePath(QStringLiteral("A.WAV"));
        const QString longOne = folder.filePath(QStringLiteral("long.wav"));
        const QString small = folder.filePath(QStringLiteral("small.wav"));
        const QString twoKb = folder.filePath(QStringLiteral("two.wav"));
        const QString broken = folder.filePath(QStringLiteral("broken.wav"));
        const QString text = folder.filePath(QStringLiteral("notes.txt"));
        const QString mp3 = QStringLiteral(VARKONEL_TEST_DATA_DIR "/media/mono-22050-cbr.mp3");
        // 10 bytes per second: 590 bytes play 59 s, 37250 bytes 62 min 5 s.
        QVERIFY(uitest::WriteFile(a, uitest::WavBytes(590, 10)));
        QVERIFY(uitest::WriteFile(longOne, uitest::WavBytes(37250, 10)));
        QVERIFY(uitest::WriteFile(small, uitest::WavBytes(1023 - 44, 1000)));
        QVERIFY(uitest::WriteFile(twoKb, uitest::WavBytes(2048 - 44, 1000)));
        QVERIFY(uitest::WriteFile(broken, QByteArray("this is not a RIFF file")));
        const QString noise = folder.filePath(QStringLiteral("noise.mp3"));
        QByteArray random(4000, 0);
        for (int at = 0; at < random.size(); ++at)
            random[at] = char((at * 7919 + 13) % 251);
        QVERIFY(uitest::WriteFile(noise, random));
        QVERIFY(uitest::WriteFile(text, QByteArray("notes")));

        MainDialog window(SettingsPath(QStringLiteral("add.ini")));
        QStringList chosen {a, longOne, text, folder.filePath(QStringLiteral("gone.wav")), small, twoKb, a,
            mp3, broken, noise};
        window.chooseFiles = [&](QWidget*) { return chosen; };
        window.Button(1001)->click();

        QCOMPARE(window.list->topLevelItemCount(), 7);
        QCOMPARE(Row(window.list, 0),
            (QStringList {
                QString(), QStringLiteral("A.WAV"), QStringLiteral("00:59"), QStringLiteral("0 KB"), a}));
        QCOMPARE(Row(window.list, 1).mid(1, 3),
            (QStringList {QStringLiteral("long.wav"), QStringLiteral("62:05"), QStringLiteral("36 KB")}));
        QCOMPARE(Row(window.list, 2).mid(1, 3),
            (QStringList {QStringLiteral("small.wav"), QStringLiteral("00:00"), QStringLiteral("0 KB")}));
        QCOMPARE(Row(window.list, 3).mid(1, 3),
            (QStringList {QStringLiteral("two.wav"), QStringLiteral("00:02"), QStringLiteral("2 KB")}));
        QCOMPARE(Row(window.list, 4)[1], QStringLiteral("mono-22050-cbr.mp3"));
        QVERIFY(Row(window.list, 4)[2] != QStringLiteral("--:--"));
        QCOMPARE(
            Row(window.list, 4)[3], QString::number(QFileInfo(mp3).size() / 1024) + QStringLiteral(" KB"));
        // A file whose audio cannot be opened is listed, with an unknown time and the reason.
        QCOMPARE(Row(window.list, 5).mid(1, 2),
            (QStringList {QStringLiteral("broken.wav"), QStringLiteral("--:--")}));
        for (int row : {5, 6}) {
            const QString status = window.list->topLevelItem(row)->text(MainDialog::kStatus);
            QVERIFY2(status.startsWith(QStringLiteral("Cannot be read: ")) && status.size() > 20,
                qPrintable(status));
        }
        for (int row = 0; row < 5; ++row)
            QVERIFY(window.list->topLevelItem(row)->text(MainDialog::kStatus).isEmpty());

        // Adding again changes nothing; the same name in another letter case is the same row.
        chosen = {a, folder.filePath(QStringLiteral("a.wav"))};
        QFile::copy(a, folder.filePath(QStringLiteral("a.wav")));
        window.Button(1001)->click();
        QCOMPARE(window.list->topLevelItemCount(), 7);
        // A cancelled chooser adds nothing.
        chosen.clear();
        window.Button(1001)->click();
        QCOMPARE(window.list->topLevelItemCount(), 7);

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.list->topLevelItem(1)->setSelected(true);
        window.list->topLevelItem(3)->setSelected(true);
        uitest::Screenshot(&window, QStringLiteral("main-window"));
        window.hide();

        // Clear List asks first (Yes here); on an empty list nothing happens, nothing is asked.
        int asked = 0;
        uitest::DialogWatcher yes([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                ++asked;
                uitest::Press(box, QMessageBox::Yes);
            }
        });
        window.Button(1002)->click();
        QCOMPARE(window.list->topLevelItemCount(), 0);
        window.Button(1002)->click();
        QCOMPARE(window.list->topLevelItemCount(), 0);
        QCOMPARE(asked, 1);
    }

    // A row is listed once: a second row is refused exactly when its path and its name both
    // compare equal to a listed row's, ignoring case, in any script; also after rows left the
    // list by Clear List or one at a time.
    void ARowIsRefusedExactlyWhenPathAndNameMatchIgnoringCase()
    {
        const struct {
            const char* firstName;
            const char* firstPath;
            const char* secondName;
            const char* secondPath;
        } pairs[] = {
            {"A.WAV", "/m/A.WAV", "a.wav", "/m/a.wav"},
            {"a.wav", "/m/a.wav", "a.wav", "/n/a.wav"},
            {"x", "/d/disc.cue/x", "y", "/d/disc.cue/x"},
            {"bc", "/d/a", "c", "/d/ab"}, // the same letters, split elsewhere
            {"STRASSE.wav", "/m/STRASSE.wav", "stra\u00dfe.wav", "/m/stra\u00dfe.wav"},
            {"\u1e9e.wav", "/m/\u1e9e.wav", "\u00df.wav", "/m/\u00df.wav"},
            {"\u212a.wav", "/m/\u212a.wav", "k.wav", "/m/k.wav"}, // Kelvin sign
            {"\u017f.wav", "/m/\u017f.wav", "S.wav", "/m/S.wav"}, // long s
            {"\u03a3\u03c2.wav", "/\u03c3/\u03a3\u03c2.wav", "\u03c3\u03c3.wav", "/\u03a3/\u03c3\u03c3.wav"},
            {"\u0130.wav", "/m/\u0130.wav", "i.wav", "/m/i.wav"},
            {"\u01c4.wav", "/m/\u01c4.wav", "\u01c5.wav", "/m/\u01c6.wav"},
            {"\U00010400.wav", "/m/\U00010400.wav", "\U00010428.wav", "/m/\U00010428.wav"},
            {"\u00e9.wav", "/m/\u00e9.wav", "e\u0301.wav", "/m/e\u0301.wav"},
        };
        MainDialog window(SettingsPath(QStringLiteral("rows.ini")));
        int refused = 0;
        for (const auto& pair : pairs) {
            const QString firstName = QString::fromUtf8(pair.firstName);
            const QString firstPath = QString::fromUtf8(pair.firstPath);
            const QString secondName = QString::fromUtf8(pair.secondName);
            const QString secondPath = QString::fromUtf8(pair.secondPath);
            const bool same = firstName.compare(secondName, Qt::CaseInsensitive) == 0
                && firstPath.compare(secondPath, Qt::CaseInsensitive) == 0;
            refused += same ? 1 : 0;
            window.ClearList();
            QVERIFY2(window.AddListRow(firstName, 1, 1, firstPath), pair.firstPath);
            QVERIFY2(window.AddListRow(secondName, 1, 1, secondPath) == !same, pair.secondPath);
            QCOMPARE(window.list->topLevelItemCount(), same ? 1 : 2);
            // Both ways round.
            window.ClearList();
            QVERIFY(window.AddListRow(secondName, 1, 1, secondPath));
            QVERIFY2(window.AddListRow(firstName, 1, 1, firstPath) == !same, pair.firstPath);
        }
        QVERIFY(refused >= 5 && refused <= 10); // the table holds both outcomes
        // A row taken out of the list another way may be listed again; the others stay listed.
        window.ClearList();
        for (const QString& name : {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")})
            QVERIFY(window.AddListRow(name, 1, 1, QStringLiteral("/m/") + name));
        delete window.list->takeTopLevelItem(1);
        QVERIFY(window.AddListRow(QStringLiteral("two"), 1, 1, QStringLiteral("/m/two")));
        QVERIFY(!window.AddListRow(QStringLiteral("ONE"), 1, 1, QStringLiteral("/M/one")));
        QVERIFY(!window.AddListRow(QStringLiteral("two"), 1, 1, QStringLiteral("/m/two")));
        QCOMPARE(window.list->topLevelItemCount(), 3);
    }

    // The keys of the list and Clear List's question, each from a list of four rows of which
    // the second and the fourth are selected: what is left listed, and which windows showed.
    void KeysAndClearListAskBeforeTheyTouchTheList()
    {
        const QString added = folder.filePath(QStringLiteral("keys-added.wav"));
        QVERIFY(uitest::WriteFile(added, uitest::WavBytes(100)));
        enum Target { kList, kButton, kClearList };
        enum Answer { kNone, kYes, kNo };
        const QStringList all {"a", "b", "c", "d"};
        const struct {
            const char* name;
            Target target;
            int key;
            Qt::KeyboardModifiers modifiers;
            Answer answer;
            QStringList left; // the rows listed after
            int selected; // rows selected after
            QStringList shown; // windows shown, in order
        } cases[] = {
            {"Delete", kList, Qt::Key_Delete, Qt::NoModifier, kNone, {"a", "c"}, 0, {}},
            {"Delete from a button", kButton, Qt::Key_Delete, Qt::NoModifier, kNone, {"a", "c"}, 0, {}},
            {"Ctrl+A", kButton, Qt::Key_A, Qt::ControlModifier, kNone, all, 4, {}},
            {"Ctrl+O", kList, Qt::Key_O, Qt::ControlModifier, kNone, all + QStringList {"keys-added.wav"}, 2,
                {"files"}},
            {"F1", kList, Qt::Key_F1, Qt::NoModifier, kNone, all, 2, {"About"}},
            {"Enter", kList, Qt::Key_Return, Qt::NoModifier, kNone, all, 2, {"Convert"}},
            {"Enter on the Convert button", kButton, Qt::Key_Return, Qt::NoModifier, kNone, all, 2,
                {"Convert"}},
            {"Clear List, No", kClearList, 0, Qt::NoModifier, kNo, all, 2,
                {"Remove all 4 files from the list?"}},
            {"Clear List, Yes", kClearList, 0, Qt::NoModifier, kYes, {}, 0,
                {"Remove all 4 files from the list?"}},
        };
        for (const auto& each : cases) {
            MainDialog window(SettingsPath(QStringLiteral("keys.ini")));
            for (const QString& name : all)
                QVERIFY(window.AddListRow(name, 1, 1, QStringLiteral("/m/") + name));
            window.list->topLevelItem(1)->setSelected(true);
            window.list->topLevelItem(3)->setSelected(true);
            QStringList shown;
            window.chooseFiles = [&](QWidget*) {
                shown << QStringLiteral("files");
                return QStringList {added};
            };
            uitest::DialogWatcher watcher([&](QWidget* widget) {
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    shown << box->text();
                    uitest::Press(box, each.answer == kYes ? QMessageBox::Yes : QMessageBox::No);
                } else if (auto* dialog = qobject_cast<QDialog*>(widget);
                           dialog != nullptr && dialog != &window) {
                    shown << QString::fromLatin1(dialog->metaObject()->className())
                                 .remove(QStringLiteral("Dialog"));
                    dialog->reject();
                }
            });
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QWidget* target = each.target == kList ? static_cast<QWidget*>(window.list) : window.Button(1003);
            target->setFocus();
            if (each.target == kClearList)
                window.Button(1002)->click();
            else
                QTest::keyClick(target, Qt::Key(each.key), each.modifiers);
            QStringList left;
            for (int row = 0; row < window.list->topLevelItemCount(); ++row)
                left << window.list->topLevelItem(row)->text(MainDialog::kSourceFile);
            QVERIFY2(left == each.left, qPrintable(QStringLiteral("%1: %2").arg(each.name, left.join(' '))));
            QVERIFY2(window.list->selectedItems().size() == each.selected, each.name);
            QVERIFY2(
                shown == each.shown, qPrintable(QStringLiteral("%1: %2").arg(each.name, shown.join('|'))));
            // The rows that left may be listed again, those that stayed may not.
            for (const QString& name : all)
                QVERIFY2(window.AddListRow(name, 1, 1, QStringLiteral("/m/") + name) != left.contains(name),
                    qPrintable(QStringLiteral("%1: %2").arg(each.name, name)));
            watcher.Stop();
            window.ClearList();
            window.close();
        }
    }

    // While the Convert dialog of several rows is open beside the list, its batch holds the rows:
    // Delete and the other keys wait, as the buttons do; after it, Clear List on an empty list
    // asks nothing.
    void TheKeysWaitForTheConvertDialog()
    {
        MainDialog window(SettingsPath(QStringLiteral("keys-wait.ini")));
        for (const QString& name : {QStringLiteral("a"), QStringLiteral("b")})
            QVERIFY(window.AddListRow(name, 1, 1, QStringLiteral("/m/") + name));
        window.list->selectAll();
        window.chooseFiles = [](QWidget*) { return QStringList {QStringLiteral("/m/never.wav")}; };
        QStringList shown;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (widget == &window)
                return;
            shown << QString::fromLatin1(widget->metaObject()->className());
            if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                window.list->setFocus();
                for (const auto& [key, modifiers] :
                    {std::pair {Qt::Key_Delete, Qt::NoModifier}, std::pair {Qt::Key_O, Qt::ControlModifier},
                        std::pair {Qt::Key_F1, Qt::NoModifier}, std::pair {Qt::Key_Return, Qt::NoModifier}})
                    QTest::keyClick(window.list, key, modifiers);
                QTest::mouseClick(window.OutputLine(), Qt::LeftButton);
                dialog->reject();
            } else if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                uitest::Press(box, QMessageBox::Ok);
            } else if (auto* other = qobject_cast<QDialog*>(widget)) {
                other->reject();
            }
        });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Button(1003)->click();
        QVERIFY2(
            shown == QStringList {QStringLiteral("ConvertDialog")}, qPrintable(shown.join(QLatin1Char('|'))));
        QCOMPARE(window.list->topLevelItemCount(), 2);
        window.ClearList();
        window.Button(1002)->click();
        QCOMPARE(shown.size(), 1);
        watcher.Stop();
        window.close();
    }

    // The line under the list names the output folder and the chosen format with its quality,
    // then the layout unless it is one folder; it follows the Setting dialog, and opens it when
    // clicked.
    void TheOutputLineShowsTheFolderAndFormat()
    {
        const struct {
            std::string folder;
            std::string format;
            std::string quality;
            const char* expected;
            std::string layout {}; // named when it is not one folder
        } cases[] = {
            {"/home/me/Music/converted/", "flac", "",
                "Output folder: /home/me/Music/converted \u2014 Format: FLAC level 5"},
            {"/out/", "MP3", "320", "Output folder: /out \u2014 Format: MP3 CBR 320 kbit/s"},
            {"/data/", "wav", "24", "Output folder: /data \u2014 Format: WAV 24-bit"},
            {"/", "", "", "Output folder: / \u2014 Format: Auto"},
            {"", "opus", "nonsense", nullptr}, // the format's default quality; the root
            {"/out/", "", "", "Output folder: /out \u2014 Format: Auto", "flat"},
            {"/out/", "", "", "Output folder: /out \u2014 Format: Auto \u2014 Mirror source folders",
                "mirror"},
            {"/out/", "wav", "", "Output folder: /out \u2014 Format: WAV 16-bit \u2014 From tags", "TAGS"},
            {"/out/", "", "", "Output folder: /out \u2014 Format: Auto \u2014 Beside each source", "beside"},
        };
        for (const auto& each : cases) {
            ConversionSettings settings;
            settings.outputDirectory = each.folder;
            settings.format = each.format;
            settings.quality = each.quality;
            settings.layout = each.layout;
            const OutputFormat* opus = OutputFormat::Find("opus");
            const QString expected = each.expected != nullptr
                ? QString::fromUtf8(each.expected)
                : QStringLiteral("Output folder: / \u2014 Format: Opus ")
                    + QString::fromStdString(opus->DefaultQuality()->text);
            QCOMPARE(MainDialog::OutputLineText(settings), expected);
        }

        // The window's line from its settings file, then after the Setting dialog's OK.
        const QString out = folder.filePath(QStringLiteral("line-out"));
        QVERIFY(QDir().mkpath(out));
        const std::string path = SettingsPath(QStringLiteral("line.ini"));
        const std::vector<uint8_t> saved
            = SettingsFile::Encode({QFile::encodeName(out).toStdString() + "/", "48KB", "mono", "flac", "8"});
        QVERIFY(uitest::WriteFile(QString::fromStdString(path),
            QByteArray(reinterpret_cast<const char*>(saved.data()), qsizetype(saved.size()))));
        MainDialog window(path);
        QCOMPARE(window.OutputLine()->text(),
            QStringLiteral("Output folder: ") + out + QStringLiteral(" \u2014 Format: FLAC level 8"));
        int settingsShown = 0;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* dialog = qobject_cast<SettingsDialog*>(widget)) {
                ++settingsShown;
                dialog->formatBox->setCurrentIndex(dialog->formatBox->findText(QStringLiteral("WAV")));
                dialog->OkButton()->click();
            }
        });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        uitest::Screenshot(&window, QStringLiteral("main-window-output-line"));
        QTest::mouseClick(window.OutputLine(), Qt::LeftButton);
        QCOMPARE(settingsShown, 1);
        QCOMPARE(window.OutputLine()->text(),
            QStringLiteral("Output folder: ") + out + QStringLiteral(" \u2014 Format: WAV 16-bit"));
        watcher.Stop();
        window.close();
    }

    void ArgumentsAndDroppedFilesAndFoldersAreAdded()
    {
        const QDir dropped(folder.filePath(QStringLiteral("dropped")));
        QVERIFY(dropped.mkpath(QStringLiteral("inner")));
        for (const char* name : {"c.wav", "a.wav", "b.wav", "inner/d.wav"})
            QVERIFY(uitest::WriteFile(dropped.filePath(QLatin1String(name)), uitest::WavBytes(1000, 1000)));
        QVERIFY(uitest::WriteFile(dropped.filePath(QStringLiteral("notes.txt")), QByteArray("notes")));
        const QString single = folder.filePath(QStringLiteral("single.wav"));
        QVERIFY(uitest::WriteFile(single, uitest::WavBytes(2000, 1000)));
        // A folder gives the files beneath it, folder by folder.
        const QStringList expected {QStringLiteral("single.wav"), QStringLiteral("a.wav"),
            QStringLiteral("b.wav"), QStringLiteral("c.wav"), QStringLiteral("d.wav")};
        const auto names = [](const QTreeWidget* list) {
            QStringList texts;
            for (int row = 0; row < list->topLevelItemCount(); ++row)
                texts << list->topLevelItem(row)->text(MainDialog::kSourceFile);
            return texts;
        };

        // The program's arguments: a file that is missing or of another type adds nothing, as in
        // the file chooser.
        {
            MainDialog window(SettingsPath(QStringLiteral("arguments.ini")));
            window.AddFiles({single, dropped.path(), folder.filePath(QStringLiteral("gone.wav")),
                dropped.filePath(QStringLiteral("notes.txt"))});
            QCOMPARE(names(window.list), expected);
            QCOMPARE(window.list->topLevelItem(1)->text(MainDialog::kTargetFiles),
                dropped.filePath(QStringLiteral("a.wav")));
        }

        // A drop of a file, a folder and a web address on the list.
        MainDialog window(SettingsPath(QStringLiteral("drop.ini")));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(single), QUrl::fromLocalFile(dropped.path()),
            QUrl(QStringLiteral("https://example.com/e.wav"))});
        QWidget* target = window.list->viewport();
        const QPoint centre = target->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(names(window.list), expected);
        // Dropping the same again adds nothing; a drop of text is refused.
        QDropEvent again(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &again);
        QCOMPARE(window.list->topLevelItemCount(), 5);
        QMimeData text;
        text.setText(QStringLiteral("a.wav"));
        QDragEnterEvent textEnter(centre, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &textEnter);
        QVERIFY(!textEnter.isAccepted());
        window.hide();
    }

    // A FIFO under a listed name, given at start-up, chosen in the file dialog, dropped on the
    // list or found in a dropped folder, is passed over at once: the window never waits for a
    // writer. The watchdog releases a window that does wait, and the test then fails.
    void AFifoIsListedNeverAndNeverWaitedFor()
    {
        const QDir fifos(folder.filePath(QStringLiteral("fifos")));
        QVERIFY(fifos.mkpath(QStringLiteral(".")));
        const QString song = fifos.filePath(QStringLiteral("song.wav"));
        const QString tune = fifos.filePath(QStringLiteral("tune.mp3"));
        QVERIFY(::mkfifo(QFile::encodeName(song).constData(), 0644) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(tune).constData(), 0644) == 0);
        const QString real = fifos.filePath(QStringLiteral("real.wav"));
        QVERIFY(uitest::WriteFile(real, uitest::WavBytes(1000, 1000)));
        constexpr std::chrono::milliseconds kDeadline {3000};

        const auto listsOnlyTheRealFile = [&](const QTreeWidget* list) {
            return list->topLevelItemCount() == 1
                && list->topLevelItem(0)->text(MainDialog::kTargetFiles) == real;
        };
        {
            // The program's arguments.
            MainDialog window(SettingsPath(QStringLiteral("fifo-arguments.ini")));
            FifoWatchdog watchSong(song, kDeadline);
            FifoWatchdog watchTune(tune, kDeadline);
            window.AddFiles({song, tune, real});
            QVERIFY2(!watchSong.Stop() && !watchTune.Stop(), "the window waited on a FIFO given at start-up");
            QVERIFY(listsOnlyTheRealFile(window.list));
        }
        {
            // The file dialog.
            MainDialog window(SettingsPath(QStringLiteral("fifo-chooser.ini")));
            window.chooseFiles = [&](QWidget*) { return QStringList {song, real, tune}; };
            FifoWatchdog watchSong(song, kDeadline);
            FifoWatchdog watchTune(tune, kDeadline);
            window.Button(1001)->click();
            QVERIFY2(
                !watchSong.Stop() && !watchTune.Stop(), "the window waited on a FIFO from the file dialog");
            QVERIFY(listsOnlyTheRealFile(window.list));
        }
        // A drop of the FIFO itself and of the folder that holds it.
        MainDialog window(SettingsPath(QStringLiteral("fifo-drop.ini")));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* target = window.list->viewport();
        const QPoint centre = target->rect().center();
        for (const QString& dropped : {song, fifos.path()}) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(dropped)});
            FifoWatchdog watchSong(song, kDeadline);
            FifoWatchdog watchTune(tune, kDeadline);
            QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &drop);
            QVERIFY(drop.isAccepted());
            QVERIFY2(!watchSong.Stop() && !watchTune.Stop(),
                qPrintable("the window waited on a FIFO: " + dropped));
        }
        QVERIFY2(
            listsOnlyTheRealFile(window.list), qPrintable(QString::number(window.list->topLevelItemCount())));
        window.hide();
    }

    void WithoutADisplayTheWindowSaysSoAndEnds()
    {
        const struct {
            const char* display;
            const char* wayland;
            const char* platform;
            bool missing;
        } cases[] = {{"", "", "", true}, {":0", "", "", false}, {"", "wayland-0", "", false},
            {"", "", "offscreen", false}, {"", "", "minimal", false}, {"", "", "vnc:size=800x600", false},
            {"", "", "wayland;offscreen", false}, {"", "", "xcb", true}, {"", "", "wayland;xcb", true},
            {"", "", "offscreenx", true}};
        for (const auto& each : cases) {
            const std::string line = ConverterApp::MissingDisplay(each.display, each.wayland, each.platform);
            QVERIFY2(line.empty() != each.missing, each.platform);
        }

        // The program itself, before Qt would abort for want of a display.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(
            QStringLiteral(VARKONEL_WINDOW_PROGRAM), {folder.filePath(QStringLiteral("single.wav"))});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(program.readAllStandardError()),
            QStringLiteral("varkonel: no display (DISPLAY and WAYLAND_DISPLAY are not set); the window needs "
                           "one. varkonel-convert converts without a display.\n"));
    }

    void AboutShowsTheVersionTheProgramPrints()
    {
        // The program answers --version and --help without a display, and only as its first
        // argument; anything else is a file to list.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        const auto run = [&](const QStringList& arguments) {
            QProcess program;
            program.setProcessEnvironment(environment);
            program.start(QStringLiteral(VARKONEL_WINDOW_PROGRAM), arguments);
            program.waitForFinished(30000);
            return std::make_pair(
                program.exitCode(), QString::fromLocal8Bit(program.readAllStandardOutput()));
        };
        const auto [versionCode, versionText] = run({QStringLiteral("--version")});
        QCOMPARE(versionCode, 0);
        const QRegularExpressionMatch version
            = QRegularExpression(QStringLiteral("^varkonel (\\d+\\.\\d+\\.\\d+)\n$")).match(versionText);
        QVERIFY2(version.hasMatch(), qPrintable(versionText));
        for (const char* help : {"--help", "-h"}) {
            const auto [code, text] = run({QLatin1String(help)});
            QCOMPARE(code, 0);
            QVERIFY2(
                text.startsWith(QStringLiteral("Usage: varkonel [--look LOOK] [FILE]...")), qPrintable(text));
            QVERIFY(text.contains(QStringLiteral("--version")));
        }
        const struct {
            QStringList arguments;
            bool answered;
        } cases[] = {{{}, false}, {{QStringLiteral("--version")}, true}, {{QStringLiteral("-h")}, true},
            {{QStringLiteral("a.wav"), QStringLiteral("--version")}, false},
            {{QStringLiteral("--versions")}, false}, {{QStringLiteral("-help")}, false}};
        for (const auto& each : cases)
            QVERIFY2(ProgramInfo::CommandLineAnswer(each.arguments).has_value() == each.answered,
                qPrintable(each.arguments.join(QLatin1Char(' '))));

        // The About box: the version line from the build, every other text as it always was.
        AboutDialog about;
        QStringList texts;
        for (QLabel* label : about.findChildren<QLabel*>())
            if (!label->text().isEmpty())
                texts << label->text();
        for (QPushButton* button : about.findChildren<QPushButton*>())
            texts << button->text();
        texts << about.windowTitle();
        texts.sort();
        QStringList expected {QStringLiteral("Varkonel Version ") + version.captured(1),
            QStringLiteral("An audio converter for WAV, MP3 and WMA"), QStringLiteral("OK"),
            QStringLiteral("About")};
        expected.sort();
        QCOMPARE(texts, expected);
    }

    void TheFileChooserOffersEveryTypeTheEngineConverts()
    {
        const QStringList filters = MainDialog::FileFilter().split(QStringLiteral(";;"));
        for (const char* kept : {"Wave Files (*.wav)", "Mp3 Files(*.mp3)", "Windows Media Files (*.wma)",
                 "CD Images (*.cue *.toc)"})
            QVERIFY2(filters.contains(QString::fromLatin1(kept)), kept);
        QVERIFY(filters.first().startsWith(QStringLiteral("Audio Files (")));
        QStringList everyPattern;
        for (const QString& filter : filters.mid(1)) {
            const qsizetype open = filter.indexOf(QLatin1Char('('));
            const QStringList patterns
                = filter.mid(open + 1, filter.size() - open - 2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            everyPattern << patterns;
            for (const QString& pattern : patterns) {
                QVERIFY2(pattern.startsWith(QStringLiteral("*.")), qPrintable(filter));
                // Every file type offered is one a conversion reads; disc images give tracks.
                const ConversionJob::SourceKind kind
                    = ConversionJob::ChooseSource("x" + pattern.mid(1).toStdString()).kind;
                if (filter.startsWith(QStringLiteral("CD Images")))
                    continue;
                QVERIFY2(kind == ConversionJob::SourceKind::Wave || kind == ConversionJob::SourceKind::Media,
                    qPrintable(pattern));
            }
        }
        for (const char* type : {"flac", "ogg", "oga", "opus", "m4a", "aac", "aif", "aiff", "aifc", "au",
                 "ape", "wv", "mka", "wav", "mp3", "wma", "cue", "toc"})
            QVERIFY2(everyPattern.contains(QStringLiteral("*.") + QLatin1String(type)), type);
        QCOMPARE(
            filters.first(), QStringLiteral("Audio Files (") + everyPattern.join(QLatin1Char(' ')) + ")");

        // Files of the other compressed types are listed with their play time and size.
        const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        QVERIFY2(!ffmpeg.isEmpty(), "ffmpeg is not installed (scripts/deps/media.txt)");
        const QString flac = folder.filePath(QStringLiteral("tone.FLAC"));
        const QString ogg = folder.filePath(QStringLiteral("tone.ogg"));
        QCOMPARE(
            QProcess::execute(ffmpeg,
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                    QStringLiteral("lavfi"), QStringLiteral("-i"),
                    QStringLiteral("sine=f=440:r=44100:d=62.5"), QStringLiteral("-c:a"),
                    QStringLiteral("flac"), flac, QStringLiteral("-c:a"), QStringLiteral("libvorbis"), ogg}),
            0);
        MainDialog window(SettingsPath(QStringLiteral("types.ini")));
        window.chooseFiles = [&](QWidget*) { return QStringList {flac, ogg}; };
        window.Button(1001)->click();
        QCOMPARE(window.list->topLevelItemCount(), 2);
        QCOMPARE(Row(window.list, 0),
            (QStringList {QString(), QStringLiteral("tone.FLAC"), QStringLiteral("01:02"),
                QString::number(QFileInfo(flac).size() / 1024) + QStringLiteral(" KB"), flac}));
        QCOMPARE(Row(window.list, 1).mid(1, 3),
            (QStringList {QStringLiteral("tone.ogg"), QStringLiteral("01:02"),
                QString::number(QFileInfo(ogg).size() / 1024) + QStringLiteral(" KB")}));
    }

    void DiscImagesListTheirAudioTracksAndEachRowReadsItsOwnDisc()
    {
        const QString discs = folder.filePath(QStringLiteral("discs"));
        const QString out = folder.filePath(QStringLiteral("disc-out"));
        QVERIFY(QDir().mkpath(discs));
        QVERIFY(QDir().mkpath(out));
        // Audio tracks of 160 and 300 frames around a data track; a second disc of one track.
        const testing_support::CdTestDisc one(
            QFile::encodeName(discs).toStdString(), {{false, 160}, {true, 75}, {false, 300}}, "one");
        const testing_support::CdTestDisc two(QFile::encodeName(discs).toStdString(), {{false, 225}}, "two");
        const QString oneCue = QString::fromStdString(one.cuePath);
        const QString twoCue = QString::fromStdString(two.cuePath);
        const QString broken = folder.filePath(QStringLiteral("broken.cue"));
        QVERIFY(uitest::WriteFile(broken, QByteArray("FILE \"elsewhere.bin\" BINARY\n  TRACK 01 AUDIO\n")));

        MainDialog window(SettingsPath(QStringLiteral("discs.ini")));
        window.settings.outputDirectory = QFile::encodeName(out).toStdString() + "/";
        window.outputRate = 44100.0; // the MP3 encoder's delay stays within the tolerance below
        // A device node is taken for a drive, not opened as a file: /dev/null is no CD drive.
        const QString device = QStringLiteral("/dev/null");
        window.chooseFiles = [&](QWidget*) { return QStringList {oneCue, twoCue, oneCue, broken, device}; };
        QStringList messages;
        uitest::DialogWatcher boxes([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                messages << box->text();
                uitest::Press(box, QMessageBox::Ok);
            }
        });
        window.Button(1001)->click();
        boxes.Stop();
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[0],
            QStringLiteral("can not open source file!\n") + broken
                + QStringLiteral(": cannot be read as a CD drive or disc image"));
        QVERIFY2(messages[1].startsWith(QStringLiteral("can not open source file!\n") + device + ": "),
            qPrintable(messages[1]));
        QCOMPARE(window.list->topLevelItemCount(), 3);
        // Time: whole seconds of 75 frames; size: frames x 2352 bytes, in KB.
        QCOMPARE(Row(window.list, 0),
            (QStringList {QString(), QStringLiteral("Track-00"), QStringLiteral("00:02"),
                QStringLiteral("367 KB"), oneCue + QStringLiteral("/Track-00")}));
        QCOMPARE(Row(window.list, 1),
            (QStringList {QString(), QStringLiteral("Track-01"), QStringLiteral("00:04"),
                QStringLiteral("689 KB"), oneCue + QStringLiteral("/Track-01")}));
        QCOMPARE(Row(window.list, 2),
            (QStringList {QString(), QStringLiteral("Track-00"), QStringLiteral("00:03"),
                QStringLiteral("516 KB"), twoCue + QStringLiteral("/Track-00")}));

        // The second disc's track and the first disc's second track, each from its own disc, in
        // one batch.
        window.list->topLevelItem(1)->setSelected(true);
        window.list->topLevelItem(2)->setSelected(true);
        int converted = 0;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                connect(dialog, &QDialog::finished,
                    [&](int result) { converted += result == QDialog::Accepted; });
                dialog->StartButton()->click();
            }
        });
        window.Button(1003)->click();
        watcher.Stop();
        QCOMPARE(converted, 1);
        for (int row : {1, 2})
            QCOMPARE(window.list->topLevelItem(row)->text(MainDialog::kStatus), QStringLiteral("Converted"));
        const std::pair<const char*, double> outputs[] = {{"Track-01.mp3", 4.0}, {"Track-00.mp3", 3.0}};
        for (const auto& [name, seconds] : outputs) {
            DecodedAudio decoded;
            QVERIFY2(DecodeMediaFile(
                         QFile::encodeName(out + QLatin1Char('/') + QLatin1String(name)).constData(), decoded)
                    >= 0,
                name);
            const double length = static_cast<double>(decoded.pcm.size()) / (2.0 * decoded.format.nChannels)
                / decoded.format.nSamplesPerSec;
            QVERIFY2(std::abs(length - seconds) < 0.1,
                qPrintable(QStringLiteral("%1: %2 s").arg(name).arg(length)));
        }
        CdForgetRegisteredDrives();
    }

    // A disc image's rows show the titles its CUE sheet gives beside their labels; a row keeps
    // its label as its name, so the image added again adds only the rows that are not listed.
    void DiscImageRowsShowTheirTitles()
    {
        const QString discs = folder.filePath(QStringLiteral("titled"));
        QVERIFY(QDir().mkpath(discs));
        constexpr qsizetype kSecondBytes = 75 * 2352;
        QVERIFY(uitest::WriteFile(discs + QStringLiteral("/titled.bin"), QByteArray(6 * kSecondBytes, '\0')));
        const QString cue = discs + QStringLiteral("/titled.cue");
        QVERIFY(uitest::WriteFile(cue,
            "TITLE \"The Album\"\nFILE \"titled.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n    TITLE \"First Song\"\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n"
            "  TRACK 03 AUDIO\n    TITLE \"Caf\xc3\xa9 Noir\"\n    INDEX 01 00:04:00\n"));
        MainDialog window(SettingsPath(QStringLiteral("titled.ini")));
        window.AddFiles({cue, cue});
        const struct {
            QString shown;
            QString label;
        } rows[] = {
            {QStringLiteral("Track-00 \u2014 First Song"), QStringLiteral("Track-00")},
            {QStringLiteral("Track-01"), QStringLiteral("Track-01")},
            {QStringLiteral("Track-02 \u2014 Caf\u00e9 Noir"), QStringLiteral("Track-02")},
        };
        QCOMPARE(window.list->topLevelItemCount(), int(std::size(rows)));
        for (int row = 0; row < int(std::size(rows)); ++row) {
            const QTreeWidgetItem* item = window.list->topLevelItem(row);
            QCOMPARE(item->text(MainDialog::kSourceFile), rows[row].shown);
            QCOMPARE(item->text(MainDialog::kTargetFiles), cue + QLatin1Char('/') + rows[row].label);
            QCOMPARE(QString::fromStdString(window.FactsOf(item).name), rows[row].label);
        }
        // A row taken out of the list another way comes back alone.
        delete window.list->takeTopLevelItem(1);
        window.AddFiles({cue});
        QCOMPARE(window.list->topLevelItemCount(), int(std::size(rows)));
    }

    void ConvertShowsOneDialogPerSelectedRowInOrder()
    {
        MainDialog window(SettingsPath(QStringLiteral("convert.ini")));
        window.settings.outputDirectory = "/converted/";
        window.AddListRow(QStringLiteral("one.wav"), 1, 1, QStringLiteral("/music/one.wav"));
        window.AddListRow(QStringLiteral("TUNE.MP3"), 1, 1, QStringLiteral("/music/TUNE.MP3"));
        window.AddListRow(QStringLiteral("three.wav"), 1, 1, QStringLiteral("/music/three.wav"));
        window.AddListRow(QStringLiteral("live.wma"), 1, 1, QStringLiteral("/music/live.wma"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Rows 1 and 3 (of 4, counted from 1) selected, and "Convert all selected rows" unchecked:
        // one dialog per row.
        window.list->topLevelItem(0)->setSelected(true);
        window.list->topLevelItem(2)->setSelected(true);
        QStringList shown;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            auto* dialog = qobject_cast<ConvertDialog*>(widget);
            QVERIFY(dialog != nullptr);
            dialog->AllRowsBox()->setChecked(false);
            shown << dialog->findChild<QLineEdit*>(QStringLiteral("1017"))->text() + QLatin1Char('>')
                    + dialog->findChild<QLineEdit*>(QStringLiteral("1018"))->text() + QLatin1Char('@')
                    + dialog->outputDir;
            dialog->reject();
        });
        window.Button(1003)->click();
        QCOMPARE(shown,
            (QStringList {QStringLiteral("/music/one.wav>one.mp3@/converted/"),
                QStringLiteral("/music/three.wav>three.mp3@/converted/")}));

        // The target names of the other two rows.
        shown.clear();
        window.list->clearSelection();
        window.list->topLevelItem(1)->setSelected(true);
        window.list->topLevelItem(3)->setSelected(true);
        window.Button(1003)->click();
        QCOMPARE(shown,
            (QStringList {QStringLiteral("/music/TUNE.MP3>TUNE.wav@/converted/"),
                QStringLiteral("/music/live.wma>live.mp3@/converted/")}));

        // Nothing selected: the message and no Convert dialog.
        shown.clear();
        window.list->clearSelection();
        QStringList messages;
        uitest::DialogWatcher boxes([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                messages << box->text();
                uitest::Press(box, QMessageBox::Ok);
            }
        });
        window.Button(1003)->click();
        QCOMPARE(messages, QStringList {QStringLiteral("Please select an audio file firstly!")});
        QVERIFY(shown.isEmpty());
        window.hide();
    }

    void ConvertRunsTheRealJobIntoTheOutputDirectory()
    {
        QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("out"))));
        const QString source = folder.filePath(QStringLiteral("song.wav"));
        QVERIFY(uitest::WriteFile(source, uitest::ToneWav(1.0, 44100, 2)));
        MainDialog window(SettingsPath(QStringLiteral("job.ini")));
        window.settings.outputDirectory
            = QFile::encodeName(folder.filePath(QStringLiteral("out"))).toStdString() + "/";
        window.chooseFiles = [&](QWidget*) { return QStringList {source}; };
        window.Button(1001)->click();
        window.list->topLevelItem(0)->setSelected(true);
        int results = 0;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                connect(
                    dialog, &QDialog::finished, [&](int result) { results += result == QDialog::Accepted; });
                dialog->StartButton()->click();
            }
        });
        window.Button(1003)->click();
        QCOMPARE(results, 1);
        const QByteArray mp3 = uitest::ReadFile(folder.filePath(QStringLiteral("out/song.mp3")));
        QVERIFY(mp3.size() > 128);
        QCOMPARE(mp3.right(128).left(3), QByteArray("TAG"));
    }

    void SettingsDefaultsAndTheFileWrittenOnClose()
    {
        const std::string path = SettingsPath(QStringLiteral("defaults.ini"));
        {
            MainDialog window(path);
            QCOMPARE(QByteArray::fromStdString(window.settings.outputDirectory), DefaultDirectory());
            QCOMPARE(window.settings.bitrate, std::string("32KB"));
            QCOMPARE(window.settings.channelMode, std::string("stereo"));
            QCOMPARE(window.outputRate, 22050.0);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            // Escape does not end the window, and writes nothing.
            QTest::keyClick(&window, Qt::Key_Escape);
            QVERIFY(window.isVisible());
            // Enter on the list converts the selection, of which there is none; it ends nothing.
            QStringList messages;
            uitest::DialogWatcher boxes([&](QWidget* widget) {
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    messages << box->text();
                    uitest::Press(box, QMessageBox::Ok);
                }
            });
            window.list->setFocus();
            QTest::keyClick(window.list, Qt::Key_Return);
            QTest::keyClick(&window, Qt::Key_Enter);
            QVERIFY(window.isVisible());
            QCOMPARE(messages, QStringList {QStringLiteral("Please select an audio file firstly!")});
            QVERIFY(!QFile::exists(QString::fromStdString(path)));
            QVERIFY(window.close());
        }
        QCOMPARE(uitest::ReadFile(QString::fromStdString(path)),
            SettingsBytes(DefaultDirectory(), "32KB", "stereo"));
    }

    void ASettingsFileThatCannotBeWrittenIsReportedOnceOnClose()
    {
        // A plain file where the settings folder would be: neither the folder nor the file can
        // be made.
        const QString blocker = folder.filePath(QStringLiteral("blocker"));
        QVERIFY(uitest::WriteFile(blocker, QByteArray("x")));
        const std::string path
            = QFile::encodeName(blocker + QStringLiteral("/varkonel/varkonel.ini")).toStdString();
        QStringList messages;
        uitest::DialogWatcher boxes([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                messages << box->text();
                uitest::Press(box, QMessageBox::Ok);
            }
        });
        MainDialog window(path);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.close());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.close());
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0],
            QStringLiteral("The settings could not be saved.\n") + QString::fromStdString(path)
                + QStringLiteral(": Not a directory"));
    }

    void SettingsDialogBindingRules()
    {
        const std::string path = SettingsPath(QStringLiteral("rules.ini"));
        MainDialog window(path);
        // Each step: what to do in the dialog, then OK (or not).
        std::function<void(SettingsDialog*)> step;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* dialog = qobject_cast<SettingsDialog*>(widget))
                step(dialog);
        });
        auto run = [&](std::function<void(SettingsDialog*)> action) {
            step = std::move(action);
            window.Button(1005)->click();
        };

        // First showing: the defaults, with the list entries selected.
        run([&](SettingsDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("SETTING"));
            QCOMPARE(dialog->DirectoryEdit()->text(), QString::fromLatin1(DefaultDirectory()));
            QCOMPARE(dialog->bitrateBox->count(), 8);
            QCOMPARE(dialog->bitrateBox->currentIndex(), 0);
            QCOMPARE(dialog->channelBox->currentText(), QStringLiteral("stereo"));
            QCOMPARE(dialog->channelBox->currentIndex(), 1);
            uitest::Screenshot(dialog, QStringLiteral("settings-dialog"));
            dialog->reject();
        });

        // Typed "192KB": stored as typed, 132300; shown next time as typed, no entry selected.
        run([&](SettingsDialog* dialog) {
            dialog->bitrateBox->setEditText(QStringLiteral("192KB"));
            dialog->OkButton()->click();
        });
        QCOMPARE(window.settings.bitrate, std::string("192KB"));
        QCOMPARE(window.outputRate, 132300.0);
        run([&](SettingsDialog* dialog) {
            QCOMPARE(dialog->bitrateBox->currentIndex(), -1);
            QCOMPARE(dialog->bitrateBox->currentText(), QStringLiteral("192KB"));
            dialog->reject();
        });

        // Typed "64kb": compared exactly, so 22050. Choosing "64KB" from the list: 44100.
        run([&](SettingsDialog* dialog) {
            dialog->bitrateBox->setEditText(QStringLiteral("64kb"));
            dialog->OkButton()->click();
        });
        QCOMPARE(window.outputRate, 22050.0);
        run([&](SettingsDialog* dialog) {
            dialog->bitrateBox->setCurrentIndex(
                SettingsDialog::BitrateEntries().indexOf(QStringLiteral("64KB")));
            dialog->OkButton()->click();
        });
        QCOMPARE(window.settings.bitrate, std::string("64KB"));
        QCOMPARE(window.outputRate, 44100.0);

        // Typing, then browsing and cancelling, keeps what was typed; OK takes it.
        run([&](SettingsDialog* dialog) {
            dialog->bitrateBox->setEditText(QStringLiteral("96KB"));
            dialog->chooseFolder = [](QWidget*, const QString&) { return QString(); };
            dialog->findChild<QPushButton*>(QStringLiteral("1011"))->click();
            QCOMPARE(dialog->bitrateBox->currentText(), QStringLiteral("96KB"));
            dialog->bitrateBox->setEditText(QStringLiteral("64KB"));
            dialog->OkButton()->click();
        });
        QCOMPARE(window.settings.bitrate, std::string("64KB"));

        // A chosen folder gets a separator; the root keeps its one; an emptied box gives "/".
        // The root is taken where it can be written; elsewhere OK says why not and stays open.
        const QString music = folder.filePath(QStringLiteral("Music"));
        QVERIFY(QDir().mkpath(music));
        const bool rootWritable = QFileInfo(QStringLiteral("/")).isWritable();
        QStringList refusals;
        uitest::DialogWatcher refused([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                refusals << box->text();
                uitest::Press(box, QMessageBox::Ok);
            }
        });
        const QString root = QStringLiteral("/");
        const QString musicKept = music + QLatin1Char('/');
        const QString rootKept = rootWritable ? root : musicKept;
        for (const auto& [chosen, expected] :
            {std::pair {music, musicKept}, std::pair {root, rootKept}, std::pair {QString(), rootKept}}) {
            run([&](SettingsDialog* dialog) {
                if (chosen.isEmpty()) {
                    dialog->DirectoryEdit()->clear();
                } else {
                    dialog->chooseFolder = [&](QWidget*, const QString&) { return chosen; };
                    dialog->findChild<QPushButton*>(QStringLiteral("1011"))->click();
                    QCOMPARE(dialog->DirectoryEdit()->text(), chosen);
                }
                dialog->OkButton()->click();
                if (dialog->isVisible())
                    dialog->CancelButton()->click();
            });
            QCOMPARE(QString::fromStdString(window.settings.outputDirectory), expected);
        }
        refused.Stop();
        QCOMPARE(refusals.size(), rootWritable ? 0 : 2);
        window.settings.outputDirectory = "/";

        // A folder that is not there: the message, and the directory stays.
        QStringList messages;
        uitest::DialogWatcher boxes([&](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                messages << box->windowTitle() + QLatin1Char('|') + box->text();
                uitest::Press(box, QMessageBox::Ok);
            }
        });
        run([&](SettingsDialog* dialog) {
            dialog->chooseFolder
                = [&](QWidget*, const QString&) { return folder.filePath(QStringLiteral("not-there")); };
            dialog->findChild<QPushButton*>(QStringLiteral("1011"))->click();
            QCOMPARE(dialog->DirectoryEdit()->text(), QStringLiteral("/"));
            // Cancel: nothing changes, whatever was typed.
            dialog->bitrateBox->setEditText(QStringLiteral("160KB"));
            dialog->CancelButton()->click();
        });
        QCOMPARE(messages, QStringList {QStringLiteral("Invalid Directory|Directory not found.")});
        QCOMPARE(window.settings.bitrate, std::string("64KB"));

        // Channel choice, then closing the window writes the changed texts.
        run([&](SettingsDialog* dialog) {
            dialog->channelBox->setCurrentIndex(0);
            dialog->DirectoryEdit()->setText(music);
            dialog->OkButton()->click();
        });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.close());
        QCOMPARE(uitest::ReadFile(QString::fromStdString(path)),
            SettingsBytes(QFile::encodeName(music) + "/", "64KB", "mono"));

        // The next run shows them.
        MainDialog next(path);
        QCOMPARE(QString::fromStdString(next.settings.outputDirectory), music + QLatin1Char('/'));
        QCOMPARE(next.settings.channelMode, std::string("mono"));
        QCOMPARE(next.outputRate, 44100.0);
    }

    // The output format and quality (elements 3 and 4) are written back as they were read when
    // the window closes without a visit to the Setting dialog.
    void ClosingKeepsTheChosenOutputFormat()
    {
        const std::string path = SettingsPath(QStringLiteral("format.ini"));
        const std::vector<uint8_t> saved = SettingsFile::Encode({"/data/", "48KB", "mono", "mp3", "320"});
        QVERIFY(uitest::WriteFile(QString::fromStdString(path),
            QByteArray(reinterpret_cast<const char*>(saved.data()), static_cast<qsizetype>(saved.size()))));
        {
            MainDialog window(path);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.close());
        }
        const QByteArray written = uitest::ReadFile(QString::fromStdString(path));
        QCOMPARE(written,
            QByteArray(reinterpret_cast<const char*>(saved.data()), static_cast<qsizetype>(saved.size())));
    }

    void DamagedSettingsFilesStillOpenTheWindow()
    {
        const QByteArray good = SettingsBytes("/data/", "48KB", "mono");
        const std::string path = SettingsPath(QStringLiteral("damaged.ini"));
        // Cut after the directory: it is used, the rest takes the defaults.
        QVERIFY(uitest::WriteFile(QString::fromStdString(path), good.left(2 + 7 + 2)));
        {
            MainDialog window(path);
            QCOMPARE(window.settings.outputDirectory, std::string("/data/"));
            QCOMPARE(window.settings.bitrate, std::string("32KB"));
            QCOMPARE(window.settings.channelMode, std::string("stereo"));
        }
        // A count of 1, an empty file, garbage: defaults where nothing was read in full.
        for (const QByteArray& bytes : {QByteArray("\x01\x00\x03"
                                                   "abc",
                                            6),
                 QByteArray(), QByteArray("\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 7)}) {
            QVERIFY(uitest::WriteFile(QString::fromStdString(path), bytes));
            MainDialog window(path);
            QVERIFY(!window.settings.bitrate.empty());
            QVERIFY(!window.settings.channelMode.empty());
            QVERIFY(!window.settings.outputDirectory.empty());
            QCOMPARE(window.outputRate, window.settings.OutputRate());
        }
    }

    void SettingsFileSitsBesideTheProgramOrInTheUsersFolder()
    {
        // No file beside the program: the user's configuration folder.
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/MainDialogTest.ini");
        QVERIFY(!QFile::exists(beside));
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.filePath(QStringLiteral("config"))));
        QCOMPARE(QString::fromStdString(ConverterApp::SettingsPath()),
            folder.filePath(QStringLiteral("config/varkonel/varkonel.ini")));
        // A portable copy beside the program is kept using.
        QVERIFY(uitest::WriteFile(beside, SettingsBytes("/data/", "48KB", "mono")));
        QCOMPARE(QString::fromStdString(ConverterApp::SettingsPath()), beside);
        QFile::remove(beside);
        if (saved.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", saved);
    }

private:
    std::string SettingsPath(const QString& name)
    {
        return QFile::encodeName(folder.filePath(name)).toStdString();
    }

    uitest::WindowTestSetup setup;
    QTemporaryDir folder;
};

int main(int argc, char** argv)
{
    argc = uitest::TakeScreenshotSwitch(argc, argv);
    QApplication application(argc, argv);
    MainDialogTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "MainDialogTest.moc"

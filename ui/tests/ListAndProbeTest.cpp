// The window's rows against varkonel-convert --probe: for every kind of source (WAV of 16 and
// 24 bits, MP3 with and without a title, tagged FLAC and Ogg, a broken file, a file whose length
// cannot be read, a disc image titled by its CUE sheet) the two give the same time, size, output
// name and output title in every output format; and a change of format re-names the rows from
// what they carry, without reading the disc again.
#include "UiTestSupport.h"
#include "platform/cdrom/CdRom.h"
#include "tests/support/CdTestDisc.h"
#include "ui/MainDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <string>
#include <vector>

namespace {

// One row as both faces show it: time, size, output title and (for a chosen format) output name.
using Facts = QStringList;

QString Cue(const testing_support::CdTestDisc& disc)
{
    return QString::fromStdString(disc.cuePath);
}

Facts WindowRow(const QTreeWidgetItem* item, bool chosen)
{
    return {item->text(MainDialog::kTime), item->text(MainDialog::kSize),
        item->data(MainDialog::kSourceFile, MainDialog::kOutputTitleRole).toString(),
        chosen ? item->text(MainDialog::kOutputFile) : QString()};
}

std::vector<Facts> WindowRows(const MainDialog& window, bool chosen)
{
    std::vector<Facts> rows;
    for (int row = 0; row < window.list->topLevelItemCount(); ++row)
        rows.push_back(WindowRow(window.list->topLevelItem(row), chosen));
    return rows;
}

// The tool's rows for `sources` in `format`; its problems with the broken files go to its
// standard error and do not matter here.
std::vector<Facts> ProbeRows(const QStringList& sources, const QString& format)
{
    QProcess tool;
    tool.start(QStringLiteral(VARKONEL_CONVERT_PROGRAM),
        QStringList {QStringLiteral("--probe"), QStringLiteral("-f"), format} + sources);
    if (!tool.waitForFinished(60000))
        return {};
    std::vector<Facts> rows;
    const QString out = QString::fromLocal8Bit(tool.readAllStandardOutput());
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList columns = line.split(QLatin1Char('\t'));
        if (columns.size() < 5)
            return {};
        rows.push_back({columns[1], columns[2], columns[4], columns.value(5)});
    }
    return rows;
}

QString KiloBytes(qint64 bytes)
{
    return QString::number(bytes / 1024) + QStringLiteral(" KB");
}

} // namespace

class ListAndProbeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        QVERIFY2(!ffmpeg.isEmpty(), "ffmpeg is not installed (scripts/deps/media.txt)");
    }
    void cleanupTestCase() { CdForgetRegisteredDrives(); }

    void TheWindowsRowsAndTheProbeGiveTheSameFacts()
    {
        // A tone of `seconds` encoded with `codec`, with the tags given as "-metadata" pairs.
        const auto encode = [&](const char* name, double seconds, const char* codec, QStringList tags) {
            const QString path = folder.filePath(QLatin1String(name));
            QStringList arguments {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("sine=f=440:r=44100:d=%1").arg(seconds), QStringLiteral("-c:a"),
                QLatin1String(codec)};
            for (const QString& tag : tags)
                arguments << QStringLiteral("-metadata") << tag;
            return QProcess::execute(ffmpeg, arguments << path) == 0 ? path : QString();
        };
        const QString broken = folder.filePath(QStringLiteral("broken.wav"));
        QVERIFY(uitest::WriteFile(broken, QByteArray("this is not a RIFF file")));
        // A WAV file that says it plays 2^32 bytes at a rate of none: its length is unknown.
        QByteArray rateless = uitest::WavBytes(400, 0, 1, 0);
        const QString noLength = folder.filePath(QStringLiteral("no-length.wav"));
        QVERIFY(uitest::WriteFile(noLength, rateless));
        const QString tone16 = folder.filePath(QStringLiteral("tone16.wav"));
        QVERIFY(uitest::WriteFile(tone16, uitest::ToneWav(2.5, 22050, 2)));
        const testing_support::CdTestDisc disc(QFile::encodeName(folder.path()).toStdString(),
            {{false, 160}, {true, 75}, {false, 300}}, "album");
        disc.WriteSheet("TITLE \"Album\"\n", {"    TITLE \"Opening\"\n"});

        // Each source's entries as a FLAC output (a format with tags) names and titles them.
        const struct {
            QString path;
            QStringList times; // one per entry: a disc has one per audio track
            QStringList titles;
            QStringList names;
        } sources[] = {
            {tone16, {"00:02"}, {"tone16"}, {"tone16.flac"}},
            {encode("pcm24.wav", 3.5, "pcm_s24le", {}), {"00:03"}, {"pcm24"}, {"pcm24.flac"}},
            {encode("titled.mp3", 4.5, "libmp3lame", {"title=Titled Song"}), {"00:04"}, {"Titled Song"},
                {"titled.flac"}},
            {encode("plain.mp3", 5.5, "libmp3lame", {"artist=Nobody"}), {"00:05"}, {"plain"}, {"plain.flac"}},
            {encode("tagged.FLAC", 6.5, "flac", {"title=Flac Title"}), {"00:06"}, {"Flac Title"},
                {"tagged.flac"}},
            {encode("tagged.ogg", 7.5, "libvorbis", {"title=Ogg Title"}), {"00:07"}, {"Ogg Title"},
                {"tagged.flac"}},
            {broken, {"--:--"}, {"-"}, {"broken.flac"}},
            {noLength, {"--:--"}, {"no-length"}, {"no-length.flac"}},
            {Cue(disc), {"00:02", "00:04"}, {"Opening", "Track-01"}, {"01 - Opening.flac", "Track-01.flac"}},
        };
        QStringList paths;
        std::vector<Facts> expected;
        for (const auto& source : sources) {
            QVERIFY2(!source.path.isEmpty(), "ffmpeg could not make a fixture");
            paths << source.path;
            for (qsizetype k = 0; k < source.times.size(); ++k) {
                const QString size = source.path == Cue(disc)
                    ? KiloBytes(qint64 {disc.Frames(k == 0 ? 0 : 2)} * 2352)
                    : KiloBytes(QFileInfo(source.path).size());
                expected.push_back({source.times[k], size, source.titles[k], source.names[k]});
            }
        }

        MainDialog window(QFile::encodeName(folder.filePath(QStringLiteral("facts.ini"))).toStdString());
        window.AddFiles(paths);
        QCOMPARE(window.list->topLevelItemCount(), static_cast<int>(expected.size()));
        // MP3: the WAV and disc rows keep their titles, the MP3 rows' own titles or names; WAV
        // carries no tags; Auto gives MP3 to all but the MP3 sources, which become WAV.
        for (const char* format : {"flac", "mp3", "wav", "auto"}) {
            const bool chosen = QLatin1String(format) != QLatin1String("auto");
            window.settings.format = format;
            window.ShowTargetNames();
            const std::vector<Facts> rows = WindowRows(window, chosen);
            QCOMPARE(rows, ProbeRows(paths, QLatin1String(format)));
            if (QLatin1String(format) == QLatin1String("flac"))
                QCOMPARE(rows, expected);
            if (QLatin1String(format) == QLatin1String("wav")) {
                for (const Facts& row : rows)
                    QCOMPARE(row[2], QStringLiteral("-"));
            }
        }
    }

    void AChangeOfFormatRenamesTheRowsWithoutReadingTheDiscAgain()
    {
        const QString discs = folder.filePath(QStringLiteral("gone"));
        QVERIFY(QDir().mkpath(discs));
        auto disc = std::make_unique<testing_support::CdTestDisc>(QFile::encodeName(discs).toStdString(),
            std::vector<testing_support::CdTestTrack> {{false, 75}, {false, 150}});
        disc->WriteSheet("", {"    TITLE \"First\"\n", "    TITLE \"Second\"\n"});
        const QString cue = Cue(*disc);
        MainDialog window(QFile::encodeName(folder.filePath(QStringLiteral("gone.ini"))).toStdString());
        window.AddFiles({cue});
        QCOMPARE(window.list->topLevelItemCount(), 2);
        // The disc is taken away: the names must come from what the rows carry.
        QVERIFY(QFile::remove(cue));
        QVERIFY(QFile::remove(QString::fromStdString(disc->binPath)));
        const struct {
            const char* format;
            QStringList names;
            QStringList titles;
        } rows[] = {
            {"flac", {"01 - First.flac", "02 - Second.flac"}, {"First", "Second"}},
            {"wav", {"01 - First.wav", "02 - Second.wav"}, {"-", "-"}},
            {"auto", {}, {"First", "Second"}},
        };
        for (const auto& row : rows) {
            window.settings.format = row.format;
            window.ShowTargetNames();
            for (int k = 0; k < 2; ++k) {
                const QTreeWidgetItem* item = window.list->topLevelItem(k);
                if (!row.names.isEmpty())
                    QCOMPARE(item->text(MainDialog::kOutputFile), row.names[k]);
                QCOMPARE(item->data(MainDialog::kSourceFile, MainDialog::kOutputTitleRole).toString(),
                    row.titles[k]);
                const SourceFacts facts = window.FactsOf(item);
                QCOMPARE(facts.discNumber, k + 1);
                QCOMPARE(facts.statedTitle, std::string(k == 0 ? "First" : "Second"));
            }
        }
    }

private:
    QTemporaryDir folder;
    QString ffmpeg;
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    ListAndProbeTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "ListAndProbeTest.moc"

// The window's looks: every text readable against the face it is drawn on, in both looks and
// under a light palette, a dark palette and a dark style sheet; the main window resized; the
// look kept in the settings file and given for one run. The program runs once at scale 1 and
// once at scale 2, on a 1280 x 800 screen.
#include "ui/Look.h"
#include "UiTestSupport.h"
#include "engine/SettingsFile.h"
#include "ui/AboutDialog.h"
#include "ui/ConvertDialog.h"
#include "ui/ConverterApp.h"
#include "ui/MainDialog.h"
#include "ui/SettingsDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace {

// The contrast ratio of two colours, from their relative luminance (1:1 to 21:1).
double Contrast(QRgb a, QRgb b)
{
    const auto luminance = [](QRgb colour) {
        const auto channel = [](int value) {
            const double c = value / 255.0;
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(colour)) + 0.7152 * channel(qGreen(colour))
            + 0.0722 * channel(qBlue(colour));
    };
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// What a text looks like where it is drawn: the pixels of `area` that differ between the dialog
// with the text and without it are the text's. The face is the commonest colour behind them, the
// text's colour the one of them that stands out most from it (the others are its edges, blended
// into the face). 0 when no pixel differs: no text was drawn.
double TextContrast(const QImage& withText, const QImage& without, const QRect& area)
{
    std::map<QRgb, int> behind;
    std::vector<QRgb> text;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (withText.pixel(x, y) == without.pixel(x, y))
                continue;
            ++behind[without.pixel(x, y)];
            text.push_back(withText.pixel(x, y));
        }
    }
    if (text.empty())
        return 0.0;
    QRgb face = behind.begin()->first;
    for (const auto& [colour, count] : behind) {
        if (count > behind[face])
            face = colour;
    }
    double best = 0.0;
    for (QRgb colour : text)
        best = std::max(best, Contrast(colour, face));
    return best;
}

// The desktop's themes a user may run the window under.
struct Theme {
    const char* name;
    std::function<void()> apply;
};

QPalette DarkPalette()
{
    QPalette dark(QColor(53, 53, 53), QColor(42, 42, 42));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    return dark;
}

// A dark style sheet of the kind desktops and users give (-stylesheet): light texts, dark faces.
const char* const kDarkStyleSheet
    = "QWidget { background-color: #232629; color: #eff0f1; }"
      "QPushButton { color: #eff0f1; border: 1px solid #76797c; padding: 3px; }"
      "QLineEdit, QComboBox, QSpinBox, QAbstractItemView { background-color: #1d2023; color: #eff0f1; }"
      "QHeaderView::section { background-color: #31363b; color: #eff0f1; }";

const std::vector<Theme>& Themes()
{
    static const std::vector<Theme> themes {
        {"light palette",
            [] {
                qApp->setStyleSheet(QString());
                QApplication::setPalette(QApplication::style()->standardPalette());
            }},
        {"dark palette",
            [] {
                qApp->setStyleSheet(QString());
                QApplication::setPalette(DarkPalette());
            }},
        {"dark style sheet",
            [] {
                QApplication::setPalette(QApplication::style()->standardPalette());
                qApp->setStyleSheet(QString::fromLatin1(kDarkStyleSheet));
            }},
    };
    return themes;
}

// One text of a dialog: where it is drawn (in the dialog) and how to take it away and put it back.
struct Text {
    QString name;
    std::function<QRect()> area;
    std::function<void(bool shown)> show;
    // The least contrast it must have.
    double least = 4.5;
};

QRect AreaOf(QWidget* control)
{
    return QRect(control->mapTo(control->window(), QPoint(0, 0)), control->size());
}

// Every text the dialog's own controls show, found by the kind of control.
std::vector<Text> TextsOf(QWidget* dialog)
{
    std::vector<Text> texts;
    for (QWidget* control : dialog->findChildren<QWidget*>()) {
        if (!control->isVisible())
            continue;
        const QString name = control->objectName().isEmpty()
            ? QString::fromLatin1(control->metaObject()->className())
            : control->objectName();
        const auto area = [control] { return AreaOf(control); };
        if (auto* button = qobject_cast<QAbstractButton*>(control); button && !button->text().isEmpty()) {
            const QString kept = button->text();
            texts.push_back(
                {kept, area, [button, kept](bool shown) { button->setText(shown ? kept : QString()); }});
        } else if (auto* label = qobject_cast<QLabel*>(control); label && label->pixmap().isNull()) {
            const QString kept = label->text().isEmpty() ? QStringLiteral("Hamburg 42%") : label->text();
            texts.push_back({name + QLatin1Char(' ') + kept, area,
                [label, kept](bool shown) { label->setText(shown ? kept : QString()); }});
        } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
            const QString kept = group->title();
            texts.push_back(
                {kept, area, [group, kept](bool shown) { group->setTitle(shown ? kept : QString()); }});
        } else if (auto* box = qobject_cast<QComboBox*>(control);
                   box && !box->isEditable() && box->count() > 0) {
            const int kept = std::max(box->currentIndex(), 0);
            texts.push_back(
                {name, area, [box, kept](bool shown) { box->setCurrentIndex(shown ? kept : -1); }});
        } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            // Edit fields, also those of the drop-downs and the spin box.
            texts.push_back({name + QStringLiteral(" (edit)"), area,
                [edit](bool shown) { edit->setText(shown ? QStringLiteral("Hamburg 42") : QString()); }});
        } else if (auto* list = qobject_cast<QTreeWidget*>(control)) {
            for (int row = 0; row < list->topLevelItemCount(); ++row) {
                QTreeWidgetItem* item = list->topLevelItem(row);
                const QString kept = item->text(MainDialog::kSourceFile);
                Text text {QStringLiteral("%1 row %2%3")
                               .arg(name)
                               .arg(row)
                               .arg(item->isSelected() ? " (selected)" : ""),
                    [list, item] {
                        const QRect cell = list->visualItemRect(item).intersected(list->viewport()->rect());
                        return cell.translated(list->viewport()->mapTo(list->window(), QPoint(0, 0)));
                    },
                    [item, kept](
                        bool shown) { item->setText(MainDialog::kSourceFile, shown ? kept : QString()); }};
                // The desktop's own selection colours are its own choice; they are drawn as given.
                const QPalette colours = list->palette();
                if (item->isSelected() && !Look::Striped())
                    text.least = std::min(text.least,
                        0.97
                            * Contrast(colours.color(QPalette::Highlight).rgb(),
                                colours.color(QPalette::HighlightedText).rgb()));
                texts.push_back(text);
            }
            const QString header = list->headerItem()->text(MainDialog::kSourceFile);
            texts.push_back({name + QStringLiteral(" header"), [list] { return AreaOf(list->header()); },
                [list, header](bool shown) {
                    list->headerItem()->setText(MainDialog::kSourceFile, shown ? header : QString());
                }});
        }
    }
    return texts;
}

// The contrast of every text of a shown dialog; one line per text below 4.5:1.
QStringList UnreadableTexts(QWidget* dialog, const QString& where)
{
    QStringList problems;
    for (const Text& text : TextsOf(dialog)) {
        text.show(false);
        const QImage without = dialog->grab().toImage();
        text.show(true);
        const QImage with = dialog->grab().toImage();
        // The picture is in device pixels: twice the widget's at a scale of 2.
        const double scale = with.devicePixelRatio();
        const QRect area = text.area();
        const double contrast = TextContrast(with, without,
            QRect(QPoint(0, 0), (QSizeF(area.size()) * scale).toSize())
                .translated((QPointF(area.topLeft()) * scale).toPoint()));
        if (contrast < text.least)
            problems
                << QStringLiteral("%1, %2: contrast %3:1").arg(where, text.name).arg(contrast, 0, 'f', 2);
    }
    return problems;
}

// Whether every label of a window sits on the window's own face: a window opened from a skinned
// dialog (About, a question) takes none of that dialog's colours.
bool LabelsOnOwnFace(QWidget* window)
{
    const QImage picture = window->grab().toImage();
    const double scale = picture.devicePixelRatio();
    const QRgb face = picture.pixel(QPoint(1, 1) * scale);
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (label->isVisible() && !label->text().isEmpty()
            && picture.pixel((QPointF(label->mapTo(window, QPoint(0, 0))) * scale).toPoint()) != face)
            return false;
    }
    return true;
}

} // namespace

class LookTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        // The platform's own palette, put back after each test that changes it.
        lightPalette = QApplication::palette();
    }

    void cleanup()
    {
        Look::SetStored(Look::Kind::Striped);
        Look::SetForThisRun(std::nullopt);
        qApp->setStyleSheet(QString());
        QApplication::setPalette(lightPalette);
    }

    // Each skinned dialog and the About box, in each look and theme: every button, label, group
    // box, edit field, drop-down, list row (plain and selected) and header shows its text at a
    // contrast of at least 4.5:1 with the face behind it.
    void EveryTextContrastsWithItsFaceInEveryLookAndTheme()
    {
        QStringList problems;
        int checked = 0;
        for (Look::Kind look : {Look::Kind::Striped, Look::Kind::System}) {
            Look::SetForThisRun(look);
            for (const Theme& theme : Themes()) {
                theme.apply();
                const QString where = Look::Name(look) + QStringLiteral(", ") + QLatin1String(theme.name);

                MainDialog window(SettingsPath(QStringLiteral("contrast.ini")));
                window.AddListRow(QStringLiteral("plain.wav"), 61, 4096, QStringLiteral("/music/plain.wav"));
                window.AddListRow(
                    QStringLiteral("chosen.wav"), 62, 4096, QStringLiteral("/music/chosen.wav"));
                window.list->topLevelItem(1)->setSelected(true);
                window.show();
                QVERIFY(QTest::qWaitForWindowExposed(&window));
                QVERIFY(Look::Current() == look);
                QCOMPARE(window.Button(1001)->styleSheet().isEmpty(), look == Look::Kind::System);
                problems << UnreadableTexts(&window, where + QStringLiteral(", main window"));
                checked += static_cast<int>(TextsOf(&window).size());

                SettingsDialog settings(&window);
                settings.bitrate = QStringLiteral("64KB");
                settings.channelMode = QStringLiteral("mono");
                settings.layout = QStringLiteral("tags"); // every control of the layout usable
                settings.show();
                QVERIFY(QTest::qWaitForWindowExposed(&settings));
                problems << UnreadableTexts(&settings, where + QStringLiteral(", settings"));
                settings.hide();

                EncoderSet encoders;
                ConvertDialog convert(&window, 22050.0, encoders);
                convert.sourceName = QStringLiteral("/music/plain.wav");
                convert.show();
                QVERIFY(QTest::qWaitForWindowExposed(&convert));
                problems << UnreadableTexts(&convert, where + QStringLiteral(", convert"));
                convert.hide();

                AboutDialog about(&window);
                about.show();
                QVERIFY(QTest::qWaitForWindowExposed(&about));
                problems << UnreadableTexts(&about, where + QStringLiteral(", about"));
                if (!LabelsOnOwnFace(&about))
                    problems << where + QStringLiteral(", about: labels on the main window's face");
                about.hide();
                window.hide();
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        QVERIFY(checked >= 2 * 3 * 8); // the five buttons, two rows and the header at least
    }

    // The main window starts at its laid-out size within the screen, as large as the screen
    // allows; resized or maximised, the list keeps its distances to the four edges and the
    // buttons their places from the top-left corner.
    void ResizedWindowKeepsTheButtonsAndGrowsTheList()
    {
        MainDialog window(SettingsPath(QStringLiteral("resize.ini")));
        const QRect available = window.screen()->availableGeometry();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY2(available.contains(window.frameGeometry()),
            qPrintable(QStringLiteral("%1 x %2 at %3, %4")
                           .arg(window.width())
                           .arg(window.height())
                           .arg(window.x())
                           .arg(window.y())));
        const QSize laidOut = window.LaidOutSize();
        const QSize start = laidOut.boundedTo(available.size());
        QCOMPARE(window.size(), start);
        // The laid-out size is also the smallest, unless the screen is too small for it: the
        // window can then still be made smaller than the screen.
        if (start == laidOut)
            QCOMPARE(window.minimumSize(), start);
        else
            QVERIFY(window.minimumSize().width() < start.width()
                && window.minimumSize().height() < start.height());
        QVERIFY(window.windowFlags() & Qt::WindowMaximizeButtonHint);

        const DialogUnits& units = window.Units();
        const struct {
            const char* name;
            std::function<void()> make;
        } sizes[] = {
            {"started", [] {}},
            {"smallest", [&] { window.resize(window.minimumSize()); }},
            {"enlarged", [&] { window.resize(start + QSize(170, 90)); }},
            {"maximised", [&] { window.showMaximized(); }},
        };
        for (const auto& size : sizes) {
            size.make();
            QTRY_VERIFY2(!window.isMaximized() || window.size() == available.size(), size.name);
            QApplication::processEvents();
            const QSize grown = window.size() - laidOut;
            QVERIFY2(window.size().expandedTo(window.minimumSize()) == window.size(), size.name);
            const struct {
                int id;
                QRect place;
            } buttons[] = {{1001, units.ToPixels(7, 7, 56, 20)}, {1002, units.ToPixels(67, 7, 56, 20)},
                {1003, units.ToPixels(127, 7, 56, 20)}, {1005, units.ToPixels(187, 7, 56, 20)},
                {MainDialog::kAddFolderId, units.ToPixels(247, 7, 48, 20)},
                {1004, units.ToPixels(372, 7, 54, 20)}};
            for (const auto& button : buttons) {
                QRect expected = button.place;
                // Only a screen smaller than the laid-out size brings About nearer, keeping it in view.
                if (button.id == 1004 && grown.width() < 0)
                    expected.moveLeft(button.place.left() + grown.width());
                QVERIFY2(window.Button(button.id)->geometry() == expected,
                    qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(size.name)).arg(button.id)));
                QVERIFY2(window.rect().contains(window.Button(button.id)->geometry()), size.name);
            }
            const QRect list = units.ToPixels(7, 38, 419, 223);
            QCOMPARE(window.list->geometry(), QRect(list.topLeft(), list.size() + grown));
            QVERIFY2(window.rect().contains(window.OutputLine()->geometry()), size.name);
            QVERIFY2(window.OutputLine()->geometry().top() >= window.list->geometry().bottom(), size.name);
        }
    }

    // The Convert dialog opens within the screen, frame included; where the screen has room (scale
    // 1 on 1280 x 800) it leaves the rows' Status cells and the output line in view.
    void TheConvertDialogOpensOnTheScreenClearOfTheStatusColumn()
    {
        MainDialog window(SettingsPath(QStringLiteral("place.ini")));
        for (const QString& name : {QStringLiteral("a.wav"), QStringLiteral("b.wav")})
            window.AddListRow(name, 1, 1, QStringLiteral("/m/") + name);
        window.list->selectAll();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect available = window.screen()->availableGeometry();
        QVERIFY(available.contains(window.frameGeometry()));
        QRect place;
        uitest::DialogWatcher watcher([&](QWidget* widget) {
            if (auto* dialog = qobject_cast<ConvertDialog*>(widget)) {
                place = dialog->frameGeometry();
                dialog->reject();
            }
        });
        window.Button(1003)->click();
        QVERIFY(!place.isEmpty());
        QVERIFY2(available.contains(place),
            qPrintable(QStringLiteral("%1,%2 %3x%4")
                           .arg(place.x())
                           .arg(place.y())
                           .arg(place.width())
                           .arg(place.height())));
        if (window.devicePixelRatio() > 1.0)
            return;
        // The Status cells of both rows, and the header above them.
        const QHeaderView* header = window.list->header();
        const QRect lastRow = window.list->visualItemRect(window.list->topLevelItem(1));
        const QPoint statusTop = window.list->viewport()->mapToGlobal(
            QPoint(header->sectionViewportPosition(MainDialog::kStatus), 0));
        const QRect status(QPoint(statusTop.x(), window.list->mapToGlobal(QPoint(0, 0)).y()),
            QPoint(statusTop.x() + header->sectionSize(MainDialog::kStatus) - 1,
                statusTop.y() + lastRow.bottom()));
        const QRect line(window.OutputLine()->mapToGlobal(QPoint(0, 0)), window.OutputLine()->size());
        QVERIFY(!place.intersects(status));
        QVERIFY(!place.intersects(line));
    }

    // The look in the Setting dialog, kept in the settings file and shown at once; a look given
    // for one run is shown but not kept.
    void LookIsChosenKeptAndGivenForOneRun()
    {
        const std::string path = SettingsPath(QStringLiteral("look.ini"));
        const auto stored = [&] {
            ConversionSettings read;
            SettingsFile(path).Read(read);
            return read.systemLook;
        };
        const auto striped = [](MainDialog& window) {
            const QImage picture = window.grab().toImage();
            const int scale = qRound(picture.devicePixelRatio());
            return picture.pixel(1, 0) == qRgb(128, 128, 128)
                && picture.pixel(1, scale) == qRgb(192, 192, 192)
                && !window.Button(1001)->styleSheet().isEmpty();
        };
        const struct {
            const char* name;
            std::optional<Look::Kind> thisRun;
            std::optional<int> chosen; // the entry chosen in the Setting dialog
            bool systemAfter; // stored and shown after the dialog
            bool stripedBefore;
        } rows[] = {
            {"default", std::nullopt, std::nullopt, false, true},
            {"System chosen", std::nullopt, 1, true, true},
            {"System kept", std::nullopt, std::nullopt, true, false},
            {"Striped for a run", Look::Kind::Striped, std::nullopt, true, true},
            {"Striped chosen", std::nullopt, 0, false, false},
            {"System for a run", Look::Kind::System, std::nullopt, false, false},
        };
        for (const auto& row : rows) {
            Look::SetForThisRun(row.thisRun);
            {
                MainDialog window(path);
                window.show();
                QVERIFY(QTest::qWaitForWindowExposed(&window));
                QVERIFY2(striped(window) == row.stripedBefore, row.name);
                uitest::DialogWatcher watcher([&](QWidget* shown) {
                    auto* dialog = qobject_cast<SettingsDialog*>(shown);
                    QVERIFY(dialog != nullptr);
                    // The look in use, also when it was given for this run only.
                    QCOMPARE(dialog->lookBox->currentText(), Look::Name(Look::Current()));
                    if (row.chosen)
                        dialog->lookBox->setCurrentIndex(*row.chosen);
                    dialog->OkButton()->click();
                });
                window.OpenSettings();
                QVERIFY2(watcher.Seen() == 1, row.name);
                QVERIFY2(striped(window) == (row.chosen ? !row.systemAfter : row.stripedBefore), row.name);
                QVERIFY2(stored() == row.systemAfter, row.name); // written by OK, before the window closes
                window.close();
            }
            QVERIFY2(stored() == row.systemAfter, row.name);
        }
    }

    // --look: the look for this run, taken out of the file arguments.
    void LookSwitch()
    {
        using Kind = Look::Kind;
        const struct {
            QStringList arguments;
            bool ok;
            std::optional<Kind> look;
            QStringList files;
        } rows[] = {
            {{"a.wav"}, true, std::nullopt, {"a.wav"}},
            {{"--look", "system", "a.wav"}, true, Kind::System, {"a.wav"}},
            {{"a.wav", "--look", "STRIPED"}, true, Kind::Striped, {"a.wav"}},
            {{"--look=System", "b.mp3"}, true, Kind::System, {"b.mp3"}},
            {{"--look", "system", "--look=striped"}, true, Kind::Striped, {}},
            {{"--", "--look", "system"}, true, std::nullopt, {"--look", "system"}},
            {{"--look", "dark"}, false, std::nullopt, {}},
            {{"--look="}, false, std::nullopt, {}},
            {{"x.wav", "--look"}, false, std::nullopt, {}},
        };
        for (const auto& row : rows) {
            QStringList arguments = row.arguments;
            std::optional<Kind> look;
            QString problem;
            const QString name = row.arguments.join(QLatin1Char(' '));
            QVERIFY2(ConverterApp::TakeLookSwitch(arguments, look, problem) == row.ok, qPrintable(name));
            QVERIFY2(problem.isEmpty() == row.ok, qPrintable(name));
            if (row.ok) {
                QVERIFY2(look == row.look, qPrintable(name));
                QCOMPARE(arguments, row.files);
            }
        }
#ifdef VARKONEL_WINDOW_PROGRAM
        // The program says what it takes and ends before showing anything.
        QProcess program;
        program.start(
            QStringLiteral(VARKONEL_WINDOW_PROGRAM), {QStringLiteral("--look"), QStringLiteral("dark")});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 2);
        QVERIFY(program.readAllStandardError().contains("--look takes \"striped\" or \"system\""));
#endif
    }

    // Pictures of the main window in each look, with the default theme and a dark style sheet,
    // for the README (taken with --screenshots).
    void Screenshots()
    {
        for (size_t at : {0, 2}) {
            Themes()[at].apply();
            for (Look::Kind look : {Look::Kind::Striped, Look::Kind::System}) {
                Look::SetForThisRun(look);
                MainDialog window(SettingsPath(QStringLiteral("pictures.ini")));
                window.AddListRow(
                    QStringLiteral("song.wav"), 215, 37 << 20, QStringLiteral("/home/me/Music/song.wav"));
                window.AddListRow(
                    QStringLiteral("talk.mp3"), 1830, 29 << 20, QStringLiteral("/home/me/Music/talk.mp3"));
                window.list->topLevelItem(0)->setSelected(true);
                window.show();
                QVERIFY(QTest::qWaitForWindowExposed(&window));
                uitest::Screenshot(&window,
                    QStringLiteral("look-") + Look::Name(look).toLower()
                        + (at == 2 ? QStringLiteral("-dark") : QString()));
            }
        }
    }

private:
    std::string SettingsPath(const QString& name)
    {
        return QFile::encodeName(folder.filePath(name)).toStdString();
    }

    uitest::WindowTestSetup setup;
    QTemporaryDir folder;
    QPalette lightPalette;
};

int main(int argc, char** argv)
{
    argc = uitest::TakeScreenshotSwitch(argc, argv);
    QApplication application(argc, argv);
    LookTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "LookTest.moc"

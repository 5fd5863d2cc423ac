#include "ui/SettingsDialog.h"

#include "engine/ConversionSettings.h"
#include "engine/OutputFormat.h"
#include "engine/SourceList.h"
#include "platform/FolderPath.h"
#include "platform/Message.h"
#include "ui/FlatButton.h"
#include "ui/Look.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTemporaryFile>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

QComboBox* MakeDropDown(QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setDuplicatesEnabled(true);
    return box;
}

// A drop-down list without an edit field: only its entries can be chosen.
QComboBox* MakeChoiceList(QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setEditable(false);
    return box;
}

// The row of the output-format table an entry of the Format box stands for.
const OutputFormat& FormatOfEntry(const QComboBox* box, int entry)
{
    const OutputFormat* row = OutputFormat::Find(box->itemData(entry).toString().toStdString());
    return row != nullptr ? *row : OutputFormat::Auto();
}

// The layout an entry of the Layout box stands for.
OutputLayout::Kind LayoutOfEntry(const QComboBox* box)
{
    const OutputLayout::Row* row = OutputLayout::Find(box->currentData().toString().toStdString());
    return row != nullptr ? row->kind : OutputLayout::Kind::Flat;
}

QGroupBox* MakeGroup(const QString& title, QWidget* parent)
{
    auto* group = new QGroupBox(title, parent);
    group->setAutoFillBackground(true);
    return group;
}

QLabel* MakeStatic(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setAutoFillBackground(true);
    return label;
}

// Selects the first entry that begins with the text, ignoring case; -1 when none does.
int FindPrefix(const QComboBox* box, const QString& text)
{
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemText(i).startsWith(text, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

void BindDropDown(QComboBox* box, const QString& text)
{
    const int entry = FindPrefix(box, text);
    box->setCurrentIndex(entry);
    if (entry < 0)
        box->setEditText(text);
}

} // namespace

const QStringList& SettingsDialog::BitrateEntries()
{
    static const QStringList entries {QStringLiteral("32KB"), QStringLiteral("48KB"), QStringLiteral("64KB"),
        QStringLiteral("80KB"), QStringLiteral("96KB"), QStringLiteral("112KB"), QStringLiteral("144KB"),
        QStringLiteral("160KB")};
    return entries;
}

const QStringList& SettingsDialog::ChannelEntries()
{
    static const QStringList entries {QStringLiteral("mono"), QStringLiteral("stereo")};
    return entries;
}

SettingsDialog::SettingsDialog(QWidget* parent)
    : SkinnedDialog(parent)
{
    setObjectName(QStringLiteral("131"));
    setWindowTitle(QStringLiteral("SETTING"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint);
    setFixedSize(units.ToPixels(337, 268));

    // Controls in tab order.
    browseButton = new FlatButton(QStringLiteral("Ouput Directory"), this);
    units.Place(browseButton, 1011, 14, 15, 59, 18);
    // Return presses the focused button, and OK when the focus is on another control.
    browseButton->setAutoDefault(true);

    directoryEdit = new QLineEdit(this);
    units.Place(directoryEdit, 1012, 78, 16, 239, 16);

    units.Place(MakeGroup(QStringLiteral("Conversion Quality"), this), 0, 15, 59, 151, 70);

    units.Place(MakeStatic(QStringLiteral("Bitrate"), this), 0, 25, 77, 32, 13);
    bitrateBox = MakeDropDown(this);
    units.Place(bitrateBox, 1026, 68, 78, 80, 14);

    units.Place(MakeStatic(QStringLiteral("Channel"), this), 0, 26, 101, 30, 16);
    channelBox = MakeDropDown(this);
    units.Place(channelBox, 1027, 68, 104, 80, 14);

    // The output format beside the conversion quality, its rows level with Bitrate and Channel.
    units.Place(MakeGroup(QStringLiteral("Output Format"), this), 0, 176, 59, 141, 70);

    units.Place(MakeStatic(QStringLiteral("Format"), this), 0, 186, 77, 32, 13);
    formatBox = MakeChoiceList(this);
    units.Place(formatBox, 1028, 229, 78, 80, 14);
    for (const OutputFormat& row : OutputFormat::All())
        formatBox->addItem(QString::fromStdString(row.name), QString::fromStdString(row.key));

    units.Place(MakeStatic(QStringLiteral("Quality"), this), 0, 186, 101, 32, 16);
    qualityBox = MakeChoiceList(this);
    units.Place(qualityBox, 1029, 229, 104, 80, 14);

    // The number of jobs under the conversion quality, level with OK and CANCEL.
    units.Place(MakeStatic(QStringLiteral("Jobs"), this), 0, 25, 148, 32, 13);
    jobsBox = new QSpinBox(this);
    units.Place(jobsBox, 1030, 68, 147, 40, 14);
    jobsBox->setRange(1, ConversionSettings::kMostJobs);
    jobsBox->setToolTip(QStringLiteral("Files converted at once"));

    // The window's look beside the jobs, short of OK.
    units.Place(MakeStatic(QStringLiteral("Look"), this), 0, 116, 148, 20, 13);
    lookBox = MakeChoiceList(this);
    units.Place(lookBox, 1031, 140, 147, 60, 14);
    for (Look::Kind kind : {Look::Kind::Striped, Look::Kind::System})
        lookBox->addItem(Look::Name(kind));

    okButton = new FlatButton(QStringLiteral("OK"), this);
    units.Place(okButton, 1, 211, 145, 39, 19);
    okButton->setAutoDefault(true);
    okButton->setDefault(true);

    cancelButton = new FlatButton(QStringLiteral("CANCEL"), this);
    units.Place(cancelButton, 2, 261, 146, 39, 19);
    cancelButton->setAutoDefault(true);

    // Converting a library, in a group under OK and CANCEL that the dialog grew downwards for.
    units.Place(MakeGroup(QStringLiteral("Library"), this), 0, 15, 172, 302, 88);

    units.Place(MakeStatic(QStringLiteral("Layout"), this), 0, 25, 186, 32, 13);
    layoutBox = MakeChoiceList(this);
    units.Place(layoutBox, 1032, 68, 186, 110, 14);
    for (const OutputLayout::Row& row : OutputLayout::All())
        layoutBox->addItem(QString::fromLatin1(row.caption), QString::fromLatin1(row.key));

    units.Place(MakeStatic(QStringLiteral("Name"), this), 0, 25, 205, 32, 13);
    nameEdit = new QLineEdit(this);
    units.Place(nameEdit, 1033, 68, 205, 241, 14);
    nameEdit->setPlaceholderText(QString::fromLatin1(NamePattern::kDefault));
    nameEdit->setToolTip(QStringLiteral("The folders and name of each output, from its tags"));

    skipBox = new QCheckBox(QStringLiteral("Skip files already converted"), this);
    units.Place(skipBox, 1034, 25, 224, 140, 12);
    coversBox = new QCheckBox(QStringLiteral("Copy cover images"), this);
    units.Place(coversBox, 1035, 186, 224, 123, 12);

    units.Place(MakeStatic(QStringLiteral("Preview"), this), 0, 25, 242, 32, 12);
    previewLine = MakeStatic(QString(), this);
    units.Place(previewLine, 1036, 68, 242, 241, 12);

    setTabOrder(browseButton, directoryEdit);
    setTabOrder(directoryEdit, bitrateBox);
    setTabOrder(bitrateBox, channelBox);
    setTabOrder(channelBox, formatBox);
    setTabOrder(formatBox, qualityBox);
    setTabOrder(qualityBox, jobsBox);
    setTabOrder(jobsBox, lookBox);
    setTabOrder(lookBox, okButton);
    setTabOrder(okButton, cancelButton);
    setTabOrder(cancelButton, layoutBox);
    setTabOrder(layoutBox, nameEdit);
    setTabOrder(nameEdit, skipBox);
    setTabOrder(skipBox, coversBox);

    chooseFolder = [](QWidget* owner, const QString& start) {
        return QFileDialog::getExistingDirectory(
            owner, QStringLiteral("Choose a Directory to Share..."), start, QFileDialog::ShowDirsOnly);
    };

    connect(browseButton, &QPushButton::clicked, this, &SettingsDialog::BrowseOutputDirectory);
    connect(formatBox, &QComboBox::currentIndexChanged, this, &SettingsDialog::ShowQualitiesOfChosenFormat);
    connect(layoutBox, &QComboBox::currentIndexChanged, this, &SettingsDialog::EnableLayoutControls);
    // The preview follows every choice it depends on.
    connect(formatBox, &QComboBox::currentIndexChanged, this, &SettingsDialog::ShowPreview);
    connect(layoutBox, &QComboBox::currentIndexChanged, this, &SettingsDialog::ShowPreview);
    connect(nameEdit, &QLineEdit::textChanged, this, &SettingsDialog::ShowPreview);
    connect(directoryEdit, &QLineEdit::textChanged, this, &SettingsDialog::ShowPreview);
    connect(okButton, &QPushButton::clicked, this, &SettingsDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &SettingsDialog::reject);
}

void SettingsDialog::Take(const ConversionSettings& settings)
{
    outputDirectory = QString::fromLocal8Bit(settings.outputDirectory);
    bitrate = QString::fromLocal8Bit(settings.bitrate);
    channelMode = QString::fromLocal8Bit(settings.channelMode);
    format = QString::fromStdString(settings.format);
    quality = QString::fromStdString(settings.quality);
    jobs = settings.jobs;
    layout = QString::fromStdString(settings.layout);
    namePattern = QString::fromLocal8Bit(settings.namePattern);
    skipUpToDate = settings.skipUpToDate;
    copyCovers = settings.copyCovers;
}

void SettingsDialog::Give(ConversionSettings& settings) const
{
    // An emptied folder box becomes "/".
    settings.outputDirectory = WithTrailingSeparator(outputDirectory.toLocal8Bit().toStdString());
    settings.bitrate = bitrate.toLocal8Bit().toStdString();
    settings.channelMode = channelMode.toLocal8Bit().toStdString();
    settings.format = format.toStdString();
    settings.quality = quality.toStdString();
    settings.jobs = jobs;
    settings.layout = layout.toStdString();
    settings.namePattern = namePattern.toLocal8Bit().toStdString();
    settings.skipUpToDate = skipUpToDate;
    settings.copyCovers = copyCovers;
}

void SettingsDialog::FillAndSelect(QComboBox* box, const QStringList& entries, const QString& text)
{
    box->clear();
    box->addItems(entries);
    int equal = -1;
    for (int i = 0; i < entries.size() && equal < 0; ++i) {
        if (entries[i].compare(text, Qt::CaseInsensitive) == 0)
            equal = i;
    }
    box->setCurrentIndex(equal);
}

void SettingsDialog::showEvent(QShowEvent* event)
{
    FillAndSelect(bitrateBox, BitrateEntries(), bitrate);
    FillAndSelect(channelBox, ChannelEntries(), channelMode);
    BindToControls();
    BindFormatToControls();
    BindJobsToControls();
    BindLayoutToControls();
    ShowPreview();
    SkinnedDialog::showEvent(event);
}

void SettingsDialog::BindJobsToControls()
{
    jobsBox->setValue(ConversionSettings::JobsFor(jobs));
    lookBox->setCurrentIndex(systemLook ? 1 : 0);
}

void SettingsDialog::BindLayoutToControls()
{
    const OutputLayout::Row* stored = OutputLayout::Find(layout.toStdString());
    layoutBox->setCurrentIndex(stored != nullptr ? layoutBox->findData(QString::fromLatin1(stored->key)) : 0);
    nameEdit->setText(namePattern);
    skipBox->setChecked(skipUpToDate);
    coversBox->setChecked(copyCovers);
    EnableLayoutControls();
}

void SettingsDialog::EnableLayoutControls()
{
    const OutputLayout::Kind kind = LayoutOfEntry(layoutBox);
    nameEdit->setEnabled(kind == OutputLayout::Kind::Tags);
    coversBox->setEnabled(kind == OutputLayout::Kind::Mirror || kind == OutputLayout::Kind::Tags);
}

std::optional<OutputLayout> SettingsDialog::ChosenLayout(std::string& error) const
{
    return OutputLayout::Make(LayoutOfEntry(layoutBox), nameEdit->text().toLocal8Bit().toStdString(), error);
}

void SettingsDialog::ShowPreview()
{
    QString text;
    std::string error;
    const std::optional<OutputLayout> chosen = ChosenLayout(error);
    if (!previewSource.path.empty() && !chosen) {
        text = QString::fromLocal8Bit(error);
    } else if (!previewSource.path.empty()) {
        // The folder as the window keeps it, as OK would leave it.
        const BatchItem item = SourceList::Plan(previewSource,
            WithTrailingSeparator(directoryEdit->text().toLocal8Bit().toStdString()),
            FormatOfEntry(formatBox, formatBox->currentIndex()), *chosen);
        text = QString::fromLocal8Bit(item.refusal.empty() ? item.outputPath : item.refusal);
    }
    previewLine->setText(text);
    // A long path runs past the line's end; the tip shows it whole.
    previewLine->setToolTip(text);
}

void SettingsDialog::BindFormatToControls()
{
    const OutputFormat* stored = OutputFormat::Find(format.toStdString());
    const int entry = formatBox->findData(
        QString::fromStdString((stored != nullptr ? *stored : OutputFormat::Auto()).key));
    const QSignalBlocker quiet(formatBox);
    formatBox->setCurrentIndex(std::max(entry, 0));
    ShowQualitiesOfChosenFormat();
}

void SettingsDialog::ShowQualitiesOfChosenFormat()
{
    const OutputFormat& chosen = FormatOfEntry(formatBox, formatBox->currentIndex());
    qualityBox->clear();
    for (const OutputFormat::Quality& each : chosen.qualities)
        qualityBox->addItem(QString::fromStdString(each.text), QString::fromStdString(each.key));
    // A quality key names a quality only within its own format ("128" is an MP3 and an Opus rate).
    const bool storedFormat = OutputFormat::Find(format.toStdString()) == &chosen;
    const OutputFormat::Quality* kept = storedFormat ? chosen.FindQuality(quality.toStdString()) : nullptr;
    const int entry = kept != nullptr ? qualityBox->findData(QString::fromStdString(kept->key)) : 0;
    qualityBox->setCurrentIndex(chosen.qualities.empty() ? -1 : entry);
    qualityBox->setEnabled(!chosen.IsAuto());
    // Only Auto takes its rate and MP3 bitrate from the Bitrate box.
    bitrateBox->setEnabled(chosen.IsAuto());
    bitrateBox->setToolTip(chosen.IsAuto() ? QString() : QString::fromLatin1(kBitrateOnlyForAuto));
}

void SettingsDialog::BindToControls()
{
    directoryEdit->setText(outputDirectory);
    BindDropDown(channelBox, channelMode);
    BindDropDown(bitrateBox, bitrate);
}

void SettingsDialog::BindFromControls()
{
    outputDirectory = directoryEdit->text();
    channelMode = channelBox->currentText();
    bitrate = bitrateBox->currentText();
    const OutputFormat& chosen = FormatOfEntry(formatBox, formatBox->currentIndex());
    format = chosen.IsAuto() ? QString() : QString::fromStdString(chosen.key);
    quality = chosen.IsAuto() ? QString() : qualityBox->currentData().toString();
    if (jobsBox->value() != ConversionSettings::JobsFor(jobs))
        jobs = jobsBox->value();
    systemLook = lookBox->currentIndex() == 1;
    // One folder is stored as no layout at all, which leaves the settings file as it was.
    const OutputLayout::Kind kind = LayoutOfEntry(layoutBox);
    layout = kind == OutputLayout::Kind::Flat ? QString() : QString::fromLatin1(OutputLayout::Of(kind).key);
    namePattern = nameEdit->text();
    skipUpToDate = skipBox->isChecked();
    copyCovers = coversBox->isChecked();
}

void SettingsDialog::BrowseOutputDirectory()
{
    // Only the folder box takes the choice: what was typed or chosen in the other boxes stays,
    // and a cancelled browser leaves the typed folder as it was.
    const QString chosen = chooseFolder ? chooseFolder(this, directoryEdit->text()) : QString();
    if (chosen.isEmpty())
        return;
    const QFileInfo folder(chosen);
    if (folder.exists() && folder.isDir())
        directoryEdit->setText(chosen);
    else
        ShowMessage("Directory not found.", "Invalid Directory");
}

bool SettingsDialog::OutputFolderUsable()
{
    // The folder as the window keeps it: an emptied box is the root.
    const std::string kept = WithTrailingSeparator(outputDirectory.toLocal8Bit().toStdString());
    const std::string shown = WithoutTrailingSeparators(kept);
    const std::filesystem::path folder(shown);
    std::error_code error;
    if (!std::filesystem::exists(folder, error)) {
        if (!AskYesNo("The folder " + shown + " does not exist. Create it?", ApplicationTitle()))
            return false;
        if (!std::filesystem::create_directories(folder, error) && error) {
            ShowMessage("The folder " + shown + " could not be created.\n" + error.message());
            return false;
        }
    }
    // A file made and removed again tells whether outputs can be written there, and why not.
    std::string reason;
    if (!std::filesystem::is_directory(folder, error))
        reason = std::make_error_code(std::errc::not_a_directory).message();
    else if (QTemporaryFile probe(QString::fromLocal8Bit(kept) + QStringLiteral(".varkonel-XXXXXX"));
             !probe.open())
        reason = probe.errorString().toLocal8Bit().toStdString();
    if (reason.empty())
        return true;
    ShowMessage("The folder " + shown + " cannot be written.\n" + reason);
    return false;
}

void SettingsDialog::accept()
{
    BindFromControls();
    // The pattern counts only for "From tags", whose Name box alone can be edited.
    std::string error;
    if (nameEdit->isEnabled() && !ChosenLayout(error)) {
        ShowMessage("The name pattern cannot be used: " + error);
        return; // the dialog stays open for the pattern to be put right
    }
    if (!OutputFolderUsable())
        return; // the dialog stays open for another folder
    SkinnedDialog::accept();
}

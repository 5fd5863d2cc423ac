#include "UiTestSupport.h"
#include "platform/Message.h"
#include "ui/DialogUnits.h"
#include "ui/QtMessageBackend.h"
#include "ui/Resources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace uitest {

WindowTestSetup::WindowTestSetup()
{
    resources::Initialise();
    previous = SetMessageBackend(std::make_shared<QtMessageBackend>());
}

WindowTestSetup::~WindowTestSetup()
{
    SetMessageBackend(previous);
}

namespace {

QString& ScreenshotFolder()
{
    static QString folder;
    return folder;
}

void Put16(QByteArray& out, uint16_t value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>(value >> 8));
}

void Put32(QByteArray& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

QByteArray Header(
    uint32_t dataBytes, uint32_t bytesPerSecond, uint16_t channels, uint32_t rate, uint16_t bits)
{
    QByteArray out;
    out.append("RIFF");
    Put32(out, 36 + dataBytes);
    out.append("WAVEfmt ");
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, channels);
    Put32(out, rate);
    Put32(out, bytesPerSecond);
    Put16(out, static_cast<uint16_t>(channels * bits / 8));
    Put16(out, bits);
    out.append("data");
    Put32(out, dataBytes);
    return out;
}

} // namespace

QByteArray WavBytes(uint32_t dataBytes, uint32_t bytesPerSecond, uint16_t channels, uint32_t sampleRate,
    uint16_t bitsPerSample)
{
    QByteArray out = Header(dataBytes, bytesPerSecond, channels, sampleRate, bitsPerSample);
    for (uint32_t i = 0; i < dataBytes; ++i)
        out.append(static_cast<char>(i & 0xFF));
    return out;
}

QByteArray ToneWav(double seconds, uint32_t sampleRate, uint16_t channels)
{
    const auto frames = static_cast<uint32_t>(seconds * sampleRate);
    const uint32_t dataBytes = frames * channels * 2;
    QByteArray out = Header(dataBytes, sampleRate * channels * 2, channels, sampleRate, 16);
    for (uint32_t i = 0; i < frames; ++i) {
        const double value = std::sin(2.0 * std::numbers::pi * 440.0 * i / sampleRate) * 12000.0;
        for (uint16_t c = 0; c < channels; ++c)
            Put16(out, static_cast<uint16_t>(static_cast<int16_t>(std::lround(value))));
    }
    return out;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

qsizetype Mp3AudioStart(const QByteArray& mp3)
{
    if (mp3.size() < 10 || !mp3.startsWith("ID3"))
        return 0;
    const auto byte = [&mp3](qsizetype at) { return qsizetype {static_cast<uint8_t>(mp3[at])}; };
    return 10 + (byte(6) << 21 | byte(7) << 14 | byte(8) << 7 | byte(9));
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

DialogWatcher::DialogWatcher(Handler handler)
    : handle(std::move(handler))
{
    qApp->installEventFilter(this);
}

DialogWatcher::~DialogWatcher()
{
    qApp->removeEventFilter(this);
}

void DialogWatcher::Stop()
{
    qApp->removeEventFilter(this);
    handle = [](QWidget*) {};
}

bool DialogWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && (qobject_cast<QDialog*>(widget) != nullptr)) {
            ++seen;
            QTimer::singleShot(0, this, [this, target = QPointer<QWidget>(widget)] {
                if (target && target->isVisible())
                    handle(target);
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

std::vector<QMessageBox*> VisibleMessageBoxes()
{
    std::vector<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
            boxes.push_back(box);
    }
    return boxes;
}

void Press(QMessageBox* box, int standardButton)
{
    if (QAbstractButton* button = box->button(static_cast<QMessageBox::StandardButton>(standardButton)))
        button->click();
}

QStringList TabChain(QWidget* first, int count)
{
    QStringList names;
    QWidget* widget = first;
    while (widget != nullptr && names.size() < count) {
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->isWindow())
            names << widget->objectName();
        widget = widget->nextInFocusChain();
        if (widget == first)
            break;
    }
    return names;
}

namespace {

bool Matches(const QWidget* control, const QString& name)
{
    if (!control->objectName().isEmpty())
        return control->objectName() == name;
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        if (name == QLatin1String("#picture"))
            return !label->pixmap().isNull();
        return label->text() == name;
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(control))
        return group->title() == name;
    return false;
}

QString Describe(const QRect& r)
{
    return QStringLiteral("(%1, %2, %3 x %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

QStringList CompareWithTemplate(
    QWidget* dialog, const DialogUnits& units, const std::vector<TemplateControl>& controls)
{
    QStringList problems;
    const QList<QWidget*> children = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    std::vector<QWidget*> found(controls.size(), nullptr);
    for (size_t i = 0; i < controls.size(); ++i) {
        const TemplateControl& entry = controls[i];
        const QString name = QString::fromLatin1(entry.name);
        for (QWidget* child : children) {
            if (Matches(child, name)) {
                if (found[i] != nullptr)
                    problems << QStringLiteral("%1: more than one control").arg(name);
                found[i] = child;
            }
        }
        if (found[i] == nullptr) {
            problems << QStringLiteral("%1: no such control").arg(name);
            continue;
        }
        QRect expected = units.ToPixels(entry.x, entry.y, entry.width, entry.height);
        if (name == QLatin1String("#picture"))
            expected.setSize(qobject_cast<QLabel*>(found[i])->pixmap().size());
        if (found[i]->geometry() != expected)
            problems << QStringLiteral("%1: at %2, template %3")
                            .arg(name, Describe(found[i]->geometry()), Describe(expected));
    }
    for (QWidget* child : children) {
        if (child->isWindow())
            continue;
        if (std::find(found.begin(), found.end(), child) == found.end())
            problems << QStringLiteral("%1 \"%2\" at %3 is not in the template")
                            .arg(QString::fromLatin1(child->metaObject()->className()), child->objectName(),
                                Describe(child->geometry()));
    }
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t j = i + 1; j < controls.size(); ++j) {
            if (found[i] == nullptr || found[j] == nullptr)
                continue;
            const TemplateControl& a = controls[i];
            const TemplateControl& b = controls[j];
            const bool templateOverlaps
                = QRect(a.x, a.y, a.width, a.height).intersects(QRect(b.x, b.y, b.width, b.height));
            if (!templateOverlaps && found[i]->geometry().intersects(found[j]->geometry()))
                problems << QStringLiteral("%1 at %2 overlaps %3 at %4")
                                .arg(QString::fromLatin1(a.name), Describe(found[i]->geometry()),
                                    QString::fromLatin1(b.name), Describe(found[j]->geometry()));
        }
    }
    return problems;
}

void Screenshot(QWidget* widget, const QString& name)
{
    if (ScreenshotFolder().isEmpty())
        return;
    QDir().mkpath(ScreenshotFolder());
    widget->grab().save(QDir(ScreenshotFolder()).filePath(name + QStringLiteral(".png")));
}

int TakeScreenshotSwitch(int argc, char** argv)
{
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i];
        if (i > 0 && std::strncmp(argument, "--screenshots", 13) == 0) {
            ScreenshotFolder()
                = argument[13] == '=' ? QString::fromLocal8Bit(argument + 14) : QDir::currentPath();
            continue;
        }
        argv[kept++] = argv[i];
    }
    return kept;
}

} // namespace uitest

// Helpers for the window's tests: small WAV files written on the fly, and a watcher that
// answers dialogs and message boxes as they appear, the way a person at the screen would.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class DialogUnits;
class MessageBackend;
class QMessageBox;

namespace uitest {

// What the window's tests run with, from the test object's making to its end: the program's
// resources, and messages shown in boxes as the window shows them (the backend before is put back).
class WindowTestSetup {
public:
    WindowTestSetup();
    ~WindowTestSetup();
    WindowTestSetup(const WindowTestSetup&) = delete;
    WindowTestSetup& operator=(const WindowTestSetup&) = delete;

private:
    std::shared_ptr<MessageBackend> previous;
};

// A PCM WAV file: 44-byte header claiming `bytesPerSecond`, then `dataBytes` bytes of a
// counting pattern. A tiny byte rate gives long play times from small files.
QByteArray WavBytes(uint32_t dataBytes, uint32_t bytesPerSecond = 100, uint16_t channels = 1,
    uint32_t sampleRate = 100, uint16_t bitsPerSample = 8);
// A real 16-bit PCM WAV file of a sine tone.
QByteArray ToneWav(double seconds, uint32_t sampleRate = 22050, uint16_t channels = 1);
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);
// Where the audio of an MP3 file starts: after the ID3v2 tag that opens it (0 without one).
qsizetype Mp3AudioStart(const QByteArray& mp3);

// Calls `handle` each time a dialog or message box is shown, once its showing has settled (the
// handler runs from the event loop, so it may itself open modal windows). The handler decides
// what to press.
class DialogWatcher : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(QWidget*)>;
    explicit DialogWatcher(Handler handle);
    ~DialogWatcher() override;

    int Seen() const { return seen; }
    // No more handling from here on.
    void Stop();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler handle;
    int seen = 0;
};

// The visible message boxes, newest last.
std::vector<QMessageBox*> VisibleMessageBoxes();
// Presses the given standard button of a message box.
void Press(QMessageBox* box, int standardButton);

// Object names of the first `count` widgets that Tab reaches, starting at `first`.
QStringList TabChain(QWidget* first, int count);

// One control of a dialog template: its rectangle in dialog units. `name` is the control's id as
// its object name; a control without an id is named by the text it shows, and the static picture
// by "#picture". A picture control takes its bitmap's size, so only its position is checked.
struct TemplateControl {
    const char* name;
    int x;
    int y;
    int width;
    int height;
};

// Compares every control of the dialog with the template: each listed control must be a direct
// child of the dialog at the listed rectangle converted with `units`, every direct child control
// must be listed, and no two controls may overlap unless their template rectangles do. Returns
// one line per difference; empty when the dialog follows the template.
QStringList CompareWithTemplate(
    QWidget* dialog, const DialogUnits& units, const std::vector<TemplateControl>& controls);

// Saves a picture of a widget as <folder>/<name>.png when screenshots were asked for (the test
// program's --screenshots switch; the folder defaults to the program's working folder).
void Screenshot(QWidget* widget, const QString& name);
// Takes the --screenshots[=folder] switch out of the arguments. Returns the new count.
int TakeScreenshotSwitch(int argc, char** argv);

} // namespace uitest

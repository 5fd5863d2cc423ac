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
#include <vector>

class QMessageBox;

namespace uitest {

// A PCM WAV file: 44-byte header claiming `bytesPerSecond`, then `dataBytes` bytes of a
// counting pattern. A tiny byte rate gives long play times from small files.
QByteArray WavBytes(uint32_t dataBytes, uint32_t bytesPerSecond = 100, uint16_t channels = 1,
    uint32_t sampleRate = 100, uint16_t bitsPerSample = 8);
// A real 16-bit PCM WAV file of a sine tone.
QByteArray ToneWav(double seconds, uint32_t sampleRate = 22050, uint16_t channels = 1);
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

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

// Saves a picture of a widget as <folder>/<name>.png when screenshots were asked for (the test
// program's --screenshots switch; the folder defaults to the program's working folder).
void Screenshot(QWidget* widget, const QString& name);
// Takes the --screenshots[=folder] switch out of the arguments. Returns the new count.
int TakeScreenshotSwitch(int argc, char** argv);

} // namespace uitest

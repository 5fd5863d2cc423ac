#include "ui/QtMessageBackend.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include <future>
#include <memory>
#include <mutex>

namespace {

thread_local QtMessageBackend::Sink threadSink;
thread_local std::optional<bool> threadAnswer;

QMessageBox* MakeBox(bool question, const QString& text, const QString& caption, QWidget* parent)
{
    auto* box = new QMessageBox(QMessageBox::Warning, caption, text,
        question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
    box->setDefaultButton(question ? QMessageBox::Yes : QMessageBox::Ok);
    return box;
}

// The answer a worker waits for; given once, by the button or, failing that, when the box goes.
class PendingAnswer {
public:
    std::future<bool> Future() { return promise.get_future(); }
    void Give(bool value)
    {
        std::lock_guard<std::mutex> hold(lock);
        if (given)
            return;
        given = true;
        promise.set_value(value);
    }

private:
    std::mutex lock;
    bool given = false;
    std::promise<bool> promise;
};

} // namespace

QtMessageBackend::QtMessageBackend() = default;

void QtMessageBackend::RouteThisThread(Sink sink, std::optional<bool> answer)
{
    threadSink = std::move(sink);
    threadAnswer = threadSink ? answer : std::nullopt;
}

void QtMessageBackend::Show(const std::string& text, const std::string& caption)
{
    if (threadSink) {
        threadSink(text);
        return;
    }
    Ask(Kind::Message, text, caption);
}

void QtMessageBackend::AnswerThisThread(std::optional<bool> answer)
{
    threadAnswer = answer;
}

bool QtMessageBackend::AskYesNo(const std::string& text, const std::string& caption)
{
    if (threadSink || threadAnswer)
        return threadAnswer.value_or(false);
    return Ask(Kind::Question, text, caption);
}

bool QtMessageBackend::Ask(Kind kind, const std::string& text, const std::string& caption)
{
    const QString qtext = QString::fromLocal8Bit(text.c_str());
    const QString qcaption = QString::fromLocal8Bit(caption.c_str());
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr)
        return false; // no interface to ask: the safe answer
    if (QThread::currentThread() == application->thread())
        return AskHere(kind, qtext, qcaption);
    return AskFromWorker(kind, qtext, qcaption);
}

bool QtMessageBackend::AskHere(Kind kind, const QString& text, const QString& caption)
{
    std::unique_ptr<QMessageBox> box(
        MakeBox(kind == Kind::Question, text, caption, QApplication::activeModalWidget()));
    const int result = box->exec();
    return kind == Kind::Question ? result == QMessageBox::Yes : true;
}

bool QtMessageBackend::AskFromWorker(Kind kind, const QString& text, const QString& caption)
{
    auto answer = std::make_shared<PendingAnswer>();
    std::future<bool> future = answer->Future();
    const bool question = kind == Kind::Question;
    const bool queued = QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [answer, question, text, caption] {
            // A child of the dialog in front, so that dialog does not block it; not modal
            // itself, so that dialog's buttons keep working while the worker waits.
            QMessageBox* box = MakeBox(question, text, caption, QApplication::activeModalWidget());
            box->setWindowModality(Qt::NonModal);
            box->setAttribute(Qt::WA_DeleteOnClose);
            QObject::connect(box, &QMessageBox::finished, [answer, question](int result) {
                answer->Give(question ? result == QMessageBox::Yes : true);
            });
            // Closed without a button, or destroyed with its parent: the answer is No.
            QObject::connect(box, &QObject::destroyed, [answer] { answer->Give(false); });
            box->show();
            box->raise();
        },
        Qt::QueuedConnection);
    if (!queued)
        return false;
    return future.get();
}

#include "ui/WindowBatch.h"

#include "engine/ConversionJob.h"
#include "ui/QtMessageBackend.h"

#include <QMessageBox>
#include <QMetaObject>

#include <cstdio>
#include <future>

namespace {

using Clock = std::chrono::steady_clock;

// The job's own question before it replaces a file, with the file's path below it.
const char* const kOverwriteQuestion = "the output file has existed, overwrite it?";
const char* const kOverwriteCaption = "Attention";

// A message as one line of a Status cell: its lines joined, spaces at the ends dropped.
std::string OneLine(std::string text)
{
    for (char& each : text) {
        if (each == '\n' || each == '\r')
            each = ' ';
    }
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Joined(const std::vector<std::string>& texts)
{
    std::string joined;
    for (const std::string& text : texts) {
        const std::string line = OneLine(text);
        if (line.empty())
            continue;
        if (!joined.empty())
            joined += "; ";
        joined += line;
    }
    return joined;
}

// Why an item failed when its job said nothing about it.
std::string SilentFailure(BatchFace::Failure failure)
{
    switch (failure) {
    case BatchFace::Failure::NotAsked:
        return "no one answered whether to replace the existing file";
    case BatchFace::Failure::NotStarted:
        return "the conversion could not start";
    default:
        return "the output file could not be written";
    }
}

BatchFace::Answer AnswerOf(int button)
{
    switch (button) {
    case QMessageBox::Yes:
        return BatchFace::Answer::Yes;
    case QMessageBox::YesToAll:
        return BatchFace::Answer::YesToAll;
    case QMessageBox::NoToAll:
        return BatchFace::Answer::NoToAll;
    default:
        return BatchFace::Answer::No;
    }
}

} // namespace

// The answer the batch's thread waits for: given once, by the box or by a stop.
class WindowBatch::PendingAnswer {
public:
    std::future<Answer> Future() { return promise.get_future(); }
    void Give(Answer answer)
    {
        std::lock_guard<std::mutex> hold(lock);
        if (given)
            return;
        given = true;
        promise.set_value(answer);
    }
    bool Given()
    {
        std::lock_guard<std::mutex> hold(lock);
        return given;
    }

private:
    std::mutex lock;
    bool given = false;
    std::promise<Answer> promise;
};

WindowBatch::WindowBatch(BatchOptions options, QObject* parent)
    : QObject(parent)
    , options(std::move(options))
{ }

WindowBatch::~WindowBatch()
{
    Stop();
    if (runner.joinable())
        runner.join();
}

bool WindowBatch::Start(std::vector<SourcePaths::Source> sources)
{
    if (running)
        return false;
    if (runner.joinable())
        runner.join();
    stopWanted.store(StopMode::None);
    {
        std::lock_guard<std::mutex> hold(wakeLock);
        woken = false;
    }
    running = true;
    try {
        runner = std::thread(
            [this, sources = std::move(sources)]() mutable { RunOnThread(std::move(sources)); });
    } catch (const std::system_error&) {
        running = false;
        return false;
    }
    return true;
}

void WindowBatch::Stop()
{
    stopWanted.store(StopMode::Now);
    {
        std::lock_guard<std::mutex> hold(questionLock);
        if (question)
            question->Give(Answer::No);
    }
    if (questionBox)
        questionBox->close();
    Wake();
}

QString WindowBatch::WaitingText()
{
    return QStringLiteral("Waiting");
}

QString WindowBatch::StatusText(const News& news)
{
    if (news.kind != News::Kind::Ended) {
        const std::string percent = ConversionJob::ProgressFor(news.position, news.length).percentText;
        if (percent.empty())
            return QStringLiteral("Converting");
        // "45%" as the dialog shows it becomes "Converting 45 %".
        return QStringLiteral("Converting %1 %").arg(QString::fromStdString(percent).chopped(1));
    }
    switch (news.outcome) {
    case Outcome::Converted:
        return QStringLiteral("Converted");
    case Outcome::Failed:
        return QStringLiteral("Failed: ") + QString::fromLocal8Bit(news.reason.c_str());
    case Outcome::Skipped:
        return QStringLiteral("Skipped: kept the existing file");
    case Outcome::Stopped:
        return QStringLiteral("Stopped: shorter file kept");
    case Outcome::UpToDate:
        return QStringLiteral("Up to date");
    case Outcome::NotStarted:
        break;
    }
    return QStringLiteral("Not converted");
}

void WindowBatch::RunOnThread(std::vector<SourcePaths::Source> sources)
{
    BatchTally tally;
    try {
        Batch batch(*this, options);
        tally = batch.Run(sources);
    } catch (...) {
        // Out of memory or threads: the items told so far stand; the run is over.
    }
    QtMessageBackend::RouteThisThread(nullptr);
    QMetaObject::invokeMethod(
        this, [this, tally] { Finish(tally); }, Qt::QueuedConnection);
}

void WindowBatch::Finish(const BatchTally& tally)
{
    if (runner.joinable())
        runner.join();
    running = false;
    if (onFinished)
        onFinished(tally);
}

BatchFace::Answer WindowBatch::AskOverwrite(const BatchItem& item)
{
    auto pending = std::make_shared<PendingAnswer>();
    std::future<Answer> answer = pending->Future();
    {
        std::lock_guard<std::mutex> hold(questionLock);
        if (stopWanted.load() != StopMode::None)
            return Answer::No;
        question = pending;
    }
    const QString path = QString::fromLocal8Bit(item.outputPath.c_str());
    QMetaObject::invokeMethod(
        this, [this, pending, path] { ShowQuestion(pending, path); }, Qt::QueuedConnection);
    const Answer given = answer.get();
    std::lock_guard<std::mutex> hold(questionLock);
    question.reset();
    return given;
}

void WindowBatch::ShowQuestion(const std::shared_ptr<PendingAnswer>& pending, const QString& outputPath)
{
    if (pending->Given())
        return; // a stop answered it first
    const QMessageBox::StandardButtons buttons = oneRow
        ? QMessageBox::Yes | QMessageBox::No
        : QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll;
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kOverwriteCaption),
        QString::fromLatin1(kOverwriteQuestion), buttons, questionParent);
    box->setInformativeText(outputPath);
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
    // Not modal, so that ABORT stays usable while the batch waits for the answer.
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [pending](int button) { pending->Give(AnswerOf(button)); });
    // Gone without a button: the existing file is kept.
    connect(box, &QObject::destroyed, [pending] { pending->Give(Answer::No); });
    questionBox = box;
    box->show();
    box->raise();
}

void WindowBatch::WaitFor(int milliseconds)
{
    std::unique_lock<std::mutex> hold(wakeLock);
    wake.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return woken; });
    woken = false;
}

void WindowBatch::Wake()
{
    {
        std::lock_guard<std::mutex> hold(wakeLock);
        woken = true;
    }
    wake.notify_all();
}

void WindowBatch::RouteMessagesTo(size_t index, bool overwrite)
{
    QtMessageBackend::RouteThisThread(
        [this, index](const std::string& text) {
            std::lock_guard<std::mutex> hold(messagesLock);
            messages[index].push_back(text);
        },
        overwrite);
}

void WindowBatch::OnWorkerBegin(const BatchItem& item, bool overwrite)
{
    size_t index = 0;
    {
        std::lock_guard<std::mutex> hold(messagesLock);
        const auto found = indexOf.find(&item);
        if (found == indexOf.end())
            return; // not an item this face started: its messages show as boxes
        index = found->second;
    }
    // One row: its messages are boxes; the job's own question gets the answer settled already.
    if (oneRow)
        QtMessageBackend::AnswerThisThread(overwrite);
    else
        RouteMessagesTo(index, overwrite);
}

WindowBatch::News WindowBatch::NewsOf(const Event& event) const
{
    News news;
    news.index = event.index;
    news.source = event.item->source;
    news.targetName = event.item->targetName;
    news.outputPath = event.item->outputPath;
    news.position = event.position;
    news.length = event.length;
    news.outcome = event.outcome;
    news.failure = event.failure;
    return news;
}

void WindowBatch::OnEvent(const Event& event)
{
    switch (event.kind) {
    case Event::Kind::Starting:
        OnStarting(event);
        break;
    case Event::Kind::Started: {
        QtMessageBackend::RouteThisThread(nullptr);
        News news = NewsOf(event);
        news.kind = News::Kind::Started;
        Post({news});
        break;
    }
    case Event::Kind::Progress:
        OnProgress(event);
        break;
    case Event::Kind::Waiting:
        if (!progress.empty())
            Post(std::move(progress));
        progress.clear();
        break;
    case Event::Kind::Ended:
        QtMessageBackend::RouteThisThread(nullptr);
        OnEnded(event);
        break;
    }
}

void WindowBatch::OnStarting(const Event& event)
{
    {
        std::lock_guard<std::mutex> hold(messagesLock);
        indexOf[event.item] = event.index;
    }
    if (!oneRow)
        RouteMessagesTo(event.index, false); // the messages of the job's start
}

void WindowBatch::OnProgress(const Event& event)
{
    const Clock::time_point now = Clock::now();
    auto last = lastProgress.find(event.index);
    if (last != lastProgress.end() && now - last->second < std::chrono::milliseconds(kProgressPeriodMs))
        return;
    lastProgress[event.index] = now;
    News news = NewsOf(event);
    news.kind = News::Kind::Progress;
    progress.push_back(news);
}

void WindowBatch::OnEnded(const Event& event)
{
    News news = NewsOf(event);
    news.kind = News::Kind::Ended;
    std::vector<std::string> said;
    {
        std::lock_guard<std::mutex> hold(messagesLock);
        said = messages[event.index];
    }
    // Damaged frames that the decoder passed over are no failure, but more than a second of them
    // is worth knowing about.
    if (event.damagedSeconds > 1.0) {
        char text[96];
        std::snprintf(text, sizeof text, "%.1f s of damaged audio could not be decoded and were skipped",
            event.damagedSeconds);
        said.push_back(text);
    }
    news.reason = Joined(said);
    if (event.failure == Failure::Refused)
        news.reason = OneLine(event.reason);
    else if (event.outcome == Outcome::Failed && news.reason.empty())
        news.reason = SilentFailure(event.failure);
    // Progress gathered before the end goes out first: a row never shows "Converting" after
    // its outcome.
    std::vector<News> told = std::move(progress);
    progress.clear();
    told.push_back(std::move(news));
    Post(std::move(told));
}

void WindowBatch::Post(std::vector<News> news)
{
    QMetaObject::invokeMethod(
        this,
        [this, news = std::move(news)] {
            for (const News& each : news) {
                if (onNews)
                    onNews(each);
            }
        },
        Qt::QueuedConnection);
}

#include "engine/Mixer.h"

#include "audio/Pcm16Format.h"
#include "cd/CdTrackStream.h"
#include "platform/Message.h"
#include "sources/WaveStream.h"
#include "sources/WmaStream.h"

#include <cmath>
#include <string>

namespace {

// The highest byte rate the format record's 32-bit field holds.
constexpr double kHighestByteRate = 0xFFFFFFFF;

// A step of building a chain that failed, with the message that names the step.
struct StepFailure {
    const char* message;
};

// Runs one step of building a chain; an exception becomes the step's own failure.
template <typename Step> void RunStep(const char* failureMessage, Step step)
{
    try {
        step();
    } catch (...) {
        throw StepFailure {failureMessage};
    }
}

} // namespace

Mixer::Mixer() = default;

Mixer::~Mixer()
{
    RemoveAll();
}

WAVEFORMATEX* Mixer::GetFormat()
{
    return &outputFormat;
}

AudioBufferRef Mixer::GetBuffer()
{
    std::lock_guard<std::mutex> hold(lock);
    if (entries.empty())
        return AudioBufferRef::MakeEmpty();
    return entries.front().conversion->GetBuffer();
}

template <typename Operation> void Mixer::ForEachSource(Operation operation)
{
    for (MixerEntry& entry : entries)
        operation(*entry.source);
}

void Mixer::Rewind()
{
    ForEachSource([](AudioStream& source) { source.Rewind(); });
}

void Mixer::SkipBack(int32_t seconds)
{
    ForEachSource([seconds](AudioStream& source) { source.SkipBack(seconds); });
}

void Mixer::SkipForward(int32_t seconds)
{
    ForEachSource([seconds](AudioStream& source) { source.SkipForward(seconds); });
}

void Mixer::Seek(int32_t seconds)
{
    ForEachSource([seconds](AudioStream& source) { source.Seek(seconds); });
}

// The smallest answer over the sources, where an answer of -1.0 (cannot tell) so far is
// replaced by whatever the next source says.
template <typename Query> double Mixer::SmallestOverSources(Query query)
{
    double value = -1.0;
    for (MixerEntry& entry : entries) {
        const double answer = query(*entry.source);
        if (answer < value || value == -1.0)
            value = answer;
    }
    return value;
}

std::string Mixer::GetFailure()
{
    std::lock_guard<std::mutex> hold(lock);
    return entries.empty() ? std::string() : entries.front().conversion->GetFailure();
}

double Mixer::GetPosition()
{
    return SmallestOverSources([](AudioStream& source) { return source.GetPosition(); });
}

double Mixer::GetLength()
{
    return SmallestOverSources([](AudioStream& source) { return source.GetLength(); });
}

WaveStream* Mixer::LoadWave(const char* path)
{
    loadFailure.clear();
    if (path == nullptr)
        return nullptr;
    try {
        auto stream = std::make_unique<WaveStream>();
        if (!stream->LoadWave(path)) {
            loadFailure = stream->LoadFailure();
            return nullptr;
        }
        if (!AddStream(stream.get(), true))
            return nullptr;
        return stream.release();
    } catch (...) {
        ShowMessage("Exception in Mixer::LoadWave!");
        return nullptr;
    }
}

WmaStream* Mixer::LoadWMA(const char* path)
{
    loadFailure.clear();
    if (path == nullptr)
        return nullptr;
    try {
        auto stream = std::make_unique<WmaStream>();
        stream->SetDeepOutput(static_cast<bool>(bitsForSource));
        if (stream->Load(path) < 0) {
            loadFailure = stream->LoadFailure();
            return nullptr;
        }
        if (!AddStream(stream.get(), true))
            return nullptr;
        return stream.release();
    } catch (...) {
        ShowMessage("Exception in Mixer::LoadWMA!");
        return nullptr;
    }
}

CdTrackStream* Mixer::LoadTrack(int32_t index)
{
    loadFailure.clear();
    try {
        auto stream = std::make_unique<CdTrackStream>();
        if (!stream->OpenTrack(index)) {
            loadFailure = "no such audio track, or the disc cannot be read";
            return nullptr;
        }
        if (!AddStream(stream.get(), true))
            return nullptr;
        return stream.release();
    } catch (...) {
        ShowMessage("Exception in Mixer::LoadTrack!");
        return nullptr;
    }
}

// On success an owned stream belongs to its entry from then on (the caller releases its own
// hold on it); on failure the caller still owns it.
bool Mixer::AddStream(AudioStream* stream, bool ownsSource)
{
    loadFailure.clear();
    if (stream == nullptr)
        return false;
    std::unique_lock<std::mutex> hold(lock);
    std::string failure;
    try {
        entries.emplace_back();
        MixerEntry& entry = entries.back();
        entry.source = stream;
        entry.last = stream;
        if (AddStreamLocked(entry)) {
            if (ownsSource)
                entry.ownedSource.reset(stream);
            return true;
        }
    } catch (const StepFailure& step) {
        failure = step.message;
    } catch (...) {
        failure = "Exception in Mixer::AddStream!";
    }
    // The entry's stages go with it; the source stays with the caller.
    if (!entries.empty() && entries.back().source == stream)
        entries.pop_back();
    hold.unlock();
    if (!failure.empty())
        ShowMessage(failure);
    return false;
}

bool Mixer::AddStreamLocked(MixerEntry& entry)
{
    RunStep("Exception attaching a conversion stream in Mixer::AddStream!", [&] {
        entry.conversion = std::make_unique<ConversionStream>();
        entry.conversion->SetSource(entry.last);
        entry.last = entry.conversion.get();
    });
    // A source whose format has no conversion would look like an empty one: it is refused
    // before anything is read from it or written for it.
    if (!ConversionOpen(entry))
        return false;
    RunStep("Exception creating spectrum analyzer in Mixer::AddStream!", [&] {
        entry.analyzer = std::make_unique<SpectrumAnalyzer>();
        entry.analyzer->SetSource(entry.last);
        entry.last = entry.analyzer.get();
    });
    RunStep("Exception requesting a stream buffer in Mixer::AddStream!",
        [&] { entry.primed = entry.last->GetBuffer(); });
    if (const WAVEFORMATEX* sourceFormat = entry.source->GetFormat(); sourceFormat != nullptr) {
        if (rateForSource)
            outputRate = rateForSource(sourceFormat->nSamplesPerSec);
        if (bitsForSource)
            outputBits = bitsForSource(*sourceFormat);
    }
    calcoutputformat();
    if (!ConversionOpen(entry))
        return false; // the source's rate cannot be brought to the output rate
    // The buffer read above went through the chain before its output format was final.
    // Start the source again so that the first audio reaches the output too, in that format.
    entry.source->Rewind();
    entry.conversion->Reset();
    outputAnalyzer.SetSource(this);
    return true;
}

bool Mixer::ConversionOpen(const MixerEntry& entry)
{
    if (entry.conversion->acmStream != nullptr)
        return true;
    loadFailure = entry.conversion->OpenProblem();
    if (loadFailure.empty())
        loadFailure = "format not supported";
    return false;
}

void Mixer::calcoutputformat()
{
    try {
        const WORD channels = outputChannels == 2 ? 2 : 1;
        const WORD bits = outputBits == 24 ? 24 : 16;
        double rate = std::trunc(outputRate);
        if (!(rate >= 0.0 && rate * (bits / 8) * channels <= kHighestByteRate))
            rate = 0.0;
        SetPcmFormat(&outputFormat, channels, static_cast<DWORD>(rate), bits);
        bufferSize
            = outputFormat.nBlockAlign * (outputFormat.nAvgBytesPerSec / 10 / outputFormat.nBlockAlign);
        for (MixerEntry& entry : entries)
            if (entry.conversion)
                entry.conversion->SetOutputFormat(&outputFormat);
    } catch (...) {
        ShowMessage("Exception in Mixer::calcoutputformat!");
    }
}

void Mixer::RemoveAll()
{
    std::vector<MixerEntry> removed;
    {
        std::lock_guard<std::mutex> hold(lock);
        removed.swap(entries);
    }
    // Each entry's stages go from the end of its chain to its source.
    for (MixerEntry& entry : removed) {
        entry.analyzer.reset();
        entry.conversion.reset();
        entry.ownedSource.reset();
    }
}

// The PulseAudio sound driver: wave handles on libpulse streams, run by one threaded main loop.
// The cross-thread rules are in PulseAudio.h; the choices of buffer sizes, of when a block counts
// as played and of the time bounds are explained where they are made, below.

#include "PulseAudio.h"

#include "sound/DeviceWindow.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>

namespace {

using TDirection = TWaveDirection;

// How long one call gives the server, in all, to accept the connection, to list its devices and
// to make a stream ready. A local server answers within milliseconds; a refused socket fails at
// once. The bound is the call's, not each wait's: the GUI thread is never held longer.
constexpr pa_usec_t AnswerTimeout = 2 * PA_USEC_PER_SEC;

// Silence written ahead of the first block of a playback stream (and again after a reset).
// Blocks recorded elsewhere arrive exactly one block apart; without this lead each one would be
// due at the very moment it arrives, and the slightest lateness would underrun. (A block that
// comes later than the lead allows makes the stream wait for it, which delays every later block
// by as much: the lead grows by itself and need not be written again.)
constexpr pa_usec_t LeadSilence = 10 * PA_USEC_PER_MSEC;

// A capture stream delivers in fragments this long, and a playback stream aims at this much
// queued, until the first buffer says how long they should be (Queue). A fragment is never
// longer than MaxFragment, so that a stop finds in a long buffer what was recorded until then.
constexpr pa_usec_t FirstFragment = 20 * PA_USEC_PER_MSEC;
constexpr pa_usec_t MaxFragment = 100 * PA_USEC_PER_MSEC;
constexpr pa_usec_t FirstTarget = 50 * PA_USEC_PER_MSEC;

// An idle sink that has rendered more than this ahead of the clock is restarted before a new
// playback stream uses it (RestartIdleSink).
constexpr pa_usec_t IdleAheadLimit = 100 * PA_USEC_PER_MSEC;

// Output written ahead of what has been played, at most; further headers wait here until there
// is room. The server keeps up to 4 MB per stream and drops what does not fit.
constexpr std::uint64_t MaxAhead = 1u << 20;

// Bounds of the delay until the next look at what has been played: it is asked for when the
// oldest block is due, but never more often than every 5 ms nor less often than every 50 ms.
constexpr pa_usec_t MinCheck = 5 * PA_USEC_PER_MSEC;
constexpr pa_usec_t MaxCheck = 50 * PA_USEC_PER_MSEC;

constexpr DWORD AllFormats = 0xFFF; // WAVE_FORMAT_1M08 ... WAVE_FORMAT_4S16

class TLock
{
public:
    explicit TLock(pa_threaded_mainloop* loop) : FLoop(loop) { pa_threaded_mainloop_lock(FLoop); }
    ~TLock() { pa_threaded_mainloop_unlock(FLoop); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

private:
    pa_threaded_mainloop* FLoop;
};

// One reference to an operation of the server's, let go (unref) with the handle; the answer's
// callback may still run unless the operation is cancelled (Cancel).
struct TOperationUnref
{
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};
using TOperation = std::unique_ptr<pa_operation, TOperationUnref>;

// The answer's callback will not run; the reference is let go.
void Cancel(TOperation& operation)
{
    if (operation != nullptr && pa_operation_get_state(operation.get()) == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation.get());
    operation.reset();
}

// An operation whose answer nobody waits for: its reference goes at once.
void Forget(pa_operation* operation)
{
    const TOperation reference(operation);
}

// The product name: the description, cut to 31 bytes without splitting a UTF-8 character.
std::string ProductName(const std::string& description)
{
    std::size_t length = description.size();
    if (length > MAXPNAMELEN - 1) {
        length = MAXPNAMELEN - 1;
        while (length > 0 && (static_cast<unsigned char>(description[length]) & 0xC0) == 0x80)
            --length;
    }
    return description.substr(0, length);
}

bool SampleFormatOf(const WAVEFORMATEX& format, pa_sample_spec& sample)
{
    sample.format = format.wBitsPerSample == 8    ? PA_SAMPLE_U8
                    : format.wBitsPerSample == 16 ? PA_SAMPLE_S16LE
                                                  : PA_SAMPLE_INVALID;
    sample.rate = format.nSamplesPerSec;
    sample.channels = static_cast<std::uint8_t>(format.nChannels);
    return format.nChannels >= 1 && format.nChannels <= 2 && pa_sample_spec_valid(&sample) != 0;
}

// A channel's volume on the wave functions' scale: linear in amplitude, 0..0xFFFF.
DWORD LinearVolume(pa_volume_t volume)
{
    return static_cast<DWORD>(
        std::lround(std::clamp(pa_sw_volume_to_linear(volume), 0.0, 1.0) * 0xFFFF));
}

std::uint32_t Bytes(pa_usec_t usec, const pa_sample_spec& sample)
{
    return static_cast<std::uint32_t>(
        std::max<std::size_t>(pa_usec_to_bytes(usec, &sample), pa_frame_size(&sample)));
}

// How far playback has got, from the server's timing reports: stream bytes written and played,
// counted from the open or the reset (the lead silence included), and what is ahead of the
// speaker.
class TPlayEstimate
{
public:
    explicit TPlayEstimate(const pa_sample_spec& sample) : FSample(sample) {}

    std::uint64_t Written() const { return FWritten; }
    std::uint64_t Played() const { return FPlayed; }
    void Wrote(std::size_t bytes) { FWritten += bytes; }
    // Nothing written or played any more (a reset).
    void Reset()
    {
        FWritten = FPlayed = FDrainEnd = 0;
        FAheadKnown = false;
    }
    // The stream was corked or uncorked: a corked stream is taken back from the sink, and a timing
    // report asked for before tells nothing of what plays now.
    void CorkChanged()
    {
        FDrainEnd = 0;
        ++FCorkChanges;
        FAheadKnown = false;
    }
    // A timing report is asked for now.
    void Asking() { FAsked = FCorkChanges; }

    // What has been played is everything written but what the last timing update showed still
    // ahead of the speaker: the stream's queue (write index - read index) and the sink's latency.
    // An update only gets staler, so a block may come back late, never before it was played.
    // Once the queue is empty the sink's latency never reaches zero in an update (the sink
    // always renders a little ahead); what it held when the queue was found empty plays out at
    // the sink's pace, its last byte when that latency has passed. (A sink that holds a quarter
    // of a second, as a Bluetooth speaker does, would otherwise give its blocks back only then,
    // all at once, and the output would seem to hold more than it does.)
    void Update(const pa_timing_info& timing, bool corked, pa_usec_t now)
    {
        const std::uint64_t queued = static_cast<std::uint64_t>(
            std::max<std::int64_t>(timing.write_index - timing.read_index, 0));
        const std::uint64_t ahead = queued + pa_usec_to_bytes(timing.sink_usec, &FSample);
        FPlayed = std::max(FPlayed, FWritten > ahead ? FWritten - ahead : 0);
        if (queued == 0 && !corked && FDrainEnd != FWritten) {
            FDrainEnd = FWritten;
            FDrainDue = now + timing.sink_usec;
        }
        if (FDrainEnd > FPlayed) {
            const std::uint64_t held =
                FDrainDue > now ? pa_usec_to_bytes(FDrainDue - now, &FSample) : 0;
            FPlayed = std::max(FPlayed, FDrainEnd > held ? FDrainEnd - held : 0);
        }
    }

    // What was ahead of the speaker (the stream's queue and the sink's latency) when the report
    // asked for last was current, and what had been written by then; a report asked for before
    // the last cork change is not taken.
    void Note(const pa_timing_info& timing, bool corked, pa_usec_t now)
    {
        if (FAsked != FCorkChanges)
            return;
        FAheadKnown = true;
        FAheadRunning = timing.playing != 0 && !corked;
        FAheadBytes = static_cast<std::uint64_t>(
                          std::max<std::int64_t>(timing.write_index - timing.read_index, 0)) +
                      pa_usec_to_bytes(timing.sink_usec, &FSample);
        FAheadWritten = FWritten;
        FAheadAt = now - std::min(now, pa_timeval_age(&timing.timestamp));
    }

    bool AheadKnown() const { return FAheadKnown; }
    // What is ahead of the speaker now: what was ahead at the last report less what has played
    // since at the sample rate (nothing while the stream was not running), and what was written
    // after it.
    pa_usec_t Ahead(pa_usec_t now) const
    {
        const std::uint64_t played =
            FAheadRunning && now > FAheadAt ? pa_usec_to_bytes(now - FAheadAt, &FSample) : 0;
        const std::uint64_t left = FAheadBytes > played ? FAheadBytes - played : 0;
        return pa_bytes_to_usec(left + (FWritten - FAheadWritten), &FSample);
    }

    // How long until the stream byte before `end` should have been played, for the next look
    // (within MinCheck and MaxCheck unless the drain says when).
    pa_usec_t DueIn(std::uint64_t end, pa_usec_t now) const
    {
        if (end <= FDrainEnd) {
            const pa_usec_t due =
                FDrainDue - std::min(FDrainDue, pa_bytes_to_usec(FDrainEnd - end, &FSample));
            return std::max(due > now ? due - now : 0, MinCheck);
        }
        if (end > FPlayed)
            return std::clamp(pa_bytes_to_usec(end - FPlayed, &FSample), MinCheck, MaxCheck);
        return MinCheck;
    }

private:
    pa_sample_spec FSample;
    std::uint64_t FWritten = 0;
    std::uint64_t FPlayed = 0;
    std::uint64_t FDrainEnd = 0; // everything written up to here has been played by FDrainDue
    pa_usec_t FDrainDue = 0;
    std::uint32_t FCorkChanges = 0;
    std::uint32_t FAsked = 0; // FCorkChanges when the report in flight was asked for
    bool FAheadKnown = false;
    bool FAheadRunning = false; // the stream was playing then, not underrun or corked
    std::uint64_t FAheadBytes = 0;
    std::uint64_t FAheadWritten = 0;
    pa_usec_t FAheadAt = 0;
};

} // namespace

// One open handle (or one being opened). Its fields are read and written with the main-loop lock
// held, by the GUI thread's calls and by the stream's callbacks alike.
struct TPulseAudioDriver::TStream
{
    struct TOutBlock
    {
        WAVEHDR* Header = nullptr;
        std::uint64_t Begin = 0; // stream bytes of its first byte and after its last, once sent
        std::uint64_t End = 0;
        bool Sent = false;
    };

    TStream(TPulseAudioDriver& driver, TDirection dir, HWND window, const pa_sample_spec& sample)
        : Driver(driver), Dir(dir), Window(window), Sample(sample),
          FrameBytes(pa_frame_size(&sample)), Estimate(sample)
    {
        pa_cvolume_reset(&Sent, sample.channels);
    }

    TPulseAudioDriver& Driver;
    const TDirection Dir;
    const HWND Window;
    const pa_sample_spec Sample;
    const std::size_t FrameBytes;
    HWAVE Handle = 0;
    pa_stream* Stream = nullptr;
    // Opening until the handle is given out; Lost once the server or the device went away, and
    // then every header has been returned.
    enum class TState : std::uint8_t
    {
        Opening,
        Open,
        Lost
    } State = TState::Opening;
    MMRESULT LostCode = MMSYSERR_NODRIVER; // what Queue and Start answer once lost
    bool Sized = false;                    // buffer attributes set from the first header
    bool Corked = true;                    // both directions start corked

    // Output: the volume as the server last reported it, or as last sent. What was sent is kept on
    // the server's scale too, so that the server's report of it reads back as the value sent.
    DWORD Volume = 0xFFFFFFFF;
    DWORD SentValue = 0xFFFFFFFF;
    pa_cvolume Sent{};
    TOperation VolumeQuery;

    // Input: headers being filled, oldest first.
    std::deque<WAVEHDR*> Filling;
    bool Recording = false;
    std::uint64_t Returned = 0; // bytes handed back since the open or the reset

    // Output: headers not yet played, oldest first. Stream bytes count from the open or the
    // reset and include the lead silence.
    std::deque<TOutBlock> Playing;
    std::vector<std::uint8_t> Carry; // the start of a frame split between two headers
    std::uint64_t DonePlayed = 0;    // bytes of the headers given back as played
    TPlayEstimate Estimate;
    bool Primed = false; // lead silence written; the stream may run
    bool Paused = false;
    pa_time_event* Check = nullptr;
    bool CheckArmed = false;
    TOperation Timing;

    bool Lost() const { return State == TState::Lost; }

    void Post(UINT msg, WAVEHDR* header) const
    {
        PostMessageA(Window, msg, Handle, reinterpret_cast<LPARAM>(header));
    }

    void GiveBack(WAVEHDR* header)
    {
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        if (Dir == TDirection::In) {
            Returned += header->dwBytesRecorded;
            Post(MM_WIM_DATA, header);
        } else {
            Post(MM_WOM_DONE, header);
        }
    }

    void ReturnAll()
    {
        for (WAVEHDR* header : Filling)
            GiveBack(header);
        Filling.clear();
        for (const TOutBlock& block : Playing)
            GiveBack(block.Header);
        Playing.clear();
    }

    void SetCorked(bool corked)
    {
        if (Corked == corked || Lost())
            return;
        Corked = corked;
        Estimate.CorkChanged();
        Forget(pa_stream_cork(Stream, corked ? 1 : 0, nullptr, nullptr));
        if (!corked)
            ArmCheck();
    }

    void Flush() const
    {
        if (!Lost())
            Forget(pa_stream_flush(Stream, nullptr, nullptr));
    }

    void SetAttributes(const pa_buffer_attr& attributes)
    {
        Sized = true;
        Forget(pa_stream_set_buffer_attr(Stream, &attributes, nullptr, nullptr));
    }

    // `code`: MMSYSERR_BADDEVICEID for a device that went away, MMSYSERR_NODRIVER for a lost
    // server, which also names a stream that was lost before.
    void MarkLost(MMRESULT code)
    {
        if (State == TState::Opening)
            return;
        if (Lost()) {
            if (code == MMSYSERR_NODRIVER)
                LostCode = code;
            return;
        }
        State = TState::Lost;
        LostCode = code;
        Recording = false;
        ReturnAll();
        Carry.clear();
    }

    // --- input ---

    // A header is full at the last whole frame it can hold.
    DWORD Capacity(const WAVEHDR* header) const
    {
        const DWORD whole = header->dwBufferLength - header->dwBufferLength % FrameBytes;
        return whole != 0 ? whole : header->dwBufferLength;
    }

    void Fill(const std::uint8_t* data, std::size_t size)
    {
        while (size > 0 && !Filling.empty()) {
            WAVEHDR* header = Filling.front();
            const DWORD capacity = Capacity(header);
            const std::size_t take =
                std::min<std::size_t>(size, capacity - header->dwBytesRecorded);
            std::memcpy(header->lpData + header->dwBytesRecorded, data, take);
            header->dwBytesRecorded += static_cast<DWORD>(take);
            data += take;
            size -= take;
            if (header->dwBytesRecorded == capacity) {
                Filling.pop_front();
                GiveBack(header);
            }
        }
        // What is left has no buffer to go to: dropped, as a sound card drops it.
    }

    static void Readable(pa_stream* stream, std::size_t, void* self)
    {
        auto& s = *static_cast<TStream*>(self);
        const void* data = nullptr;
        std::size_t size = 0;
        while (pa_stream_peek(stream, &data, &size) == 0 && size > 0) {
            if (data != nullptr && s.Recording) // null data is a hole in the recording
                s.Fill(static_cast<const std::uint8_t*>(data), size);
            pa_stream_drop(stream);
        }
    }

    // --- output ---

    // False when the stream takes no more (it is no longer ready): the bytes are not counted,
    // and the caller gives the stream up.
    bool Write(const std::uint8_t* data, std::size_t size)
    {
        if (!Carry.empty()) {
            const std::size_t take = std::min(size, FrameBytes - Carry.size());
            Carry.insert(Carry.end(), data, data + take);
            data += take;
            size -= take;
            if (Carry.size() < FrameBytes)
                return true;
            if (pa_stream_write(Stream, Carry.data(), Carry.size(), nullptr, 0, PA_SEEK_RELATIVE) <
                0)
                return false;
            Estimate.Wrote(Carry.size());
            Carry.clear();
        }
        const std::size_t whole = size - size % FrameBytes;
        // No free callback: libpulse copies the bytes, so the header may go back to its owner
        // as soon as it has been played, whatever the server still holds.
        if (whole > 0 && pa_stream_write(Stream, data, whole, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return false;
        Estimate.Wrote(whole);
        Carry.assign(data + whole, data + size);
        return true;
    }

    // Writes the headers that have not been sent, as far as MaxAhead allows.
    void Send()
    {
        for (TOutBlock& block : Playing) {
            if (block.Sent)
                continue;
            const std::uint64_t ahead = Estimate.Written() - Estimate.Played();
            if (ahead > 0 && ahead + block.Header->dwBufferLength > MaxAhead)
                break;
            bool taken = true;
            if (!Primed) {
                const std::vector<std::uint8_t> silence(Bytes(LeadSilence, Sample),
                                                        Sample.format == PA_SAMPLE_U8 ? 0x80 : 0);
                taken = Write(silence.data(), silence.size());
                Primed = true;
            }
            block.Begin = Estimate.Written();
            taken = taken && Write(reinterpret_cast<const std::uint8_t*>(block.Header->lpData),
                                   block.Header->dwBufferLength);
            if (!taken) {
                // Every header goes back (the loop is left at once: the list is emptied).
                MarkLost(MMSYSERR_NODRIVER);
                return;
            }
            block.End = Estimate.Written();
            block.Sent = true;
        }
        // A new stream (or one just reset) stays corked until it has something to play, so it
        // does not start with an underrun.
        SetCorked(!Primed || Paused);
    }

    // The latest timing report, or none when it cannot be read.
    const pa_timing_info* TimingInfo() const
    {
        const pa_timing_info* timing = Lost() ? nullptr : pa_stream_get_timing_info(Stream);
        return timing == nullptr || timing->write_index_corrupt || timing->read_index_corrupt
                   ? nullptr
                   : timing;
    }

    // Gives back the headers played by now.
    void UpdatePlayed()
    {
        const pa_timing_info* timing = TimingInfo();
        if (timing == nullptr)
            return;
        Estimate.Update(*timing, Corked, pa_rtclock_now());
        while (!Playing.empty() && Playing.front().Sent &&
               Playing.front().End <= Estimate.Played()) {
            WAVEHDR* header = Playing.front().Header;
            DonePlayed += header->dwBufferLength;
            Playing.pop_front();
            GiveBack(header);
        }
    }

    void AskTiming()
    {
        Estimate.Asking();
        Timing.reset(pa_stream_update_timing_info(Stream, &TStream::TimingUpdated, this));
    }

    // Bytes of the headers played since the open or the reset; silences do not count.
    std::uint64_t Position() const
    {
        const std::uint64_t played = Estimate.Played();
        if (Playing.empty() || !Playing.front().Sent || played <= Playing.front().Begin)
            return DonePlayed;
        return DonePlayed + std::min<std::uint64_t>(played - Playing.front().Begin,
                                                    Playing.front().Header->dwBufferLength);
    }

    // Asks for a timing update when the oldest block should have been played.
    void ArmCheck()
    {
        if (Lost() || Corked || Playing.empty() || CheckArmed || Timing != nullptr ||
            Check == nullptr)
            return;
        const TOutBlock& oldest = Playing.front();
        const pa_usec_t now = pa_rtclock_now();
        const pa_usec_t delay = oldest.Sent ? Estimate.DueIn(oldest.End, now) : MinCheck;
        CheckArmed = true;
        pa_context_rttime_restart(pa_stream_get_context(Stream), Check, now + delay);
    }

    static void CheckDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
    {
        auto& s = *static_cast<TStream*>(self);
        s.CheckArmed = false;
        if (s.Lost() || s.Timing != nullptr)
            return;
        s.AskTiming();
    }

    static void TimingUpdated(pa_stream*, int, void* self)
    {
        auto& s = *static_cast<TStream*>(self);
        s.Timing.reset();
        if (const pa_timing_info* timing = s.TimingInfo())
            s.Estimate.Note(*timing, s.Corked, pa_rtclock_now());
        s.UpdatePlayed();
        s.Send();
        s.ArmCheck();
    }

    static void StateChanged(pa_stream* stream, void* self)
    {
        auto& s = *static_cast<TStream*>(self);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            s.MarkLost(PA_CONTEXT_IS_GOOD(pa_context_get_state(pa_stream_get_context(stream)))
                           ? MMSYSERR_BADDEVICEID
                           : MMSYSERR_NODRIVER);
        pa_threaded_mainloop_signal(s.Driver.FLoop, 0);
    }

    // --- volume ---

    void SendVolume(DWORD value)
    {
        // Linear in amplitude, as the wave functions define it; the server's own scale is cubic.
        const WORD left = value & 0xFFFF;
        const WORD right = value >> 16;
        pa_cvolume_set(&Sent, Sample.channels, pa_sw_volume_from_linear(left / 65535.0));
        if (Sample.channels == 2 && right != 0)
            Sent.values[1] = pa_sw_volume_from_linear(right / 65535.0);
        Forget(pa_context_set_sink_input_volume(
            pa_stream_get_context(Stream), pa_stream_get_index(Stream), &Sent, nullptr, nullptr));
        // An answer still on its way tells of the volume before this one.
        Cancel(VolumeQuery);
        Volume = SentValue = value;
    }

    // Asks, without waiting, for the volume the server now gives the stream.
    void AskVolume()
    {
        Cancel(VolumeQuery);
        VolumeQuery.reset(pa_context_get_sink_input_info(pa_stream_get_context(Stream),
                                                         pa_stream_get_index(Stream),
                                                         &TStream::VolumeKnown, this));
    }

    static void VolumeKnown(pa_context*, const pa_sink_input_info* info, int eol, void* self)
    {
        auto& s = *static_cast<TStream*>(self);
        if (eol != 0 || info == nullptr) {
            s.VolumeQuery.reset();
            return;
        }
        if (pa_cvolume_equal(&info->volume, &s.Sent) != 0) {
            s.Volume = s.SentValue;
            return;
        }
        const DWORD left = LinearVolume(info->volume.values[0]);
        const DWORD right = info->volume.channels > 1 ? LinearVolume(info->volume.values[1]) : left;
        s.Volume = left | right << 16;
    }
};

TPulseAudioDriver::TPulseAudioDriver(std::string server)
    : FServer(std::move(server)), FLoop(pa_threaded_mainloop_new())
{
}

TPulseAudioDriver::~TPulseAudioDriver()
{
    if (FLoop == nullptr)
        return;
    {
        TLock lock(FLoop);
        for (auto& entry : FStreams)
            Release(*entry.second);
        FStreams.clear();
        DropContext();
    }
    if (FLoopRunning)
        pa_threaded_mainloop_stop(FLoop);
    pa_threaded_mainloop_free(FLoop);
}

void TPulseAudioDriver::ContextState(pa_context* context, void* driver)
{
    auto& self = *static_cast<TPulseAudioDriver*>(driver);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
        for (auto& entry : self.FStreams)
            entry.second->MarkLost(MMSYSERR_NODRIVER);
    pa_threaded_mainloop_signal(self.FLoop, 0);
}

TPulseAudioDriver::TDeadline TPulseAudioDriver::CallDeadline()
{
    return pa_rtclock_now() + AnswerTimeout;
}

void TPulseAudioDriver::SinkInputChanged(std::uint32_t index)
{
    for (auto& entry : FStreams) {
        TStream& s = *entry.second;
        if (s.Dir == TDirection::Out && !s.Lost() && pa_stream_get_index(s.Stream) == index)
            s.AskVolume();
    }
}

// Lock held. True with a ready context; otherwise tries to make one, once per call.
bool TPulseAudioDriver::Connect(TDeadline deadline)
{
    if (FContext != nullptr) {
        if (pa_context_get_state(FContext) == PA_CONTEXT_READY)
            return true;
        DropContext(); // lost: its streams were told so by ContextState
    }
    if (!FLoopRunning) {
        if (pa_threaded_mainloop_start(FLoop) < 0)
            return false;
        FLoopRunning = true;
    }
    FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), "PrVardo");
    if (FContext == nullptr)
        return false;
    pa_context_set_state_callback(FContext, &ContextState, this);
    // Never spawn a server: a program that finds none reports it and goes on.
    if (pa_context_connect(FContext, FServer.empty() ? nullptr : FServer.c_str(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        !Wait(deadline, [this] { return pa_context_get_state(FContext) == PA_CONTEXT_READY; })) {
        DropContext();
        return false;
    }
    // Changes of the sink inputs, so that a stream's volume follows a change made elsewhere.
    pa_context_set_subscribe_callback(
        FContext,
        [](pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* driver) {
            if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK_INPUT &&
                (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE)
                static_cast<TPulseAudioDriver*>(driver)->SinkInputChanged(index);
        },
        this);
    Forget(pa_context_subscribe(FContext, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
    return true;
}

void TPulseAudioDriver::DropContext()
{
    if (FContext == nullptr)
        return;
    pa_context_set_state_callback(FContext, nullptr, nullptr);
    pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
    if (PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)))
        pa_context_disconnect(FContext);
    pa_context_unref(FContext);
    FContext = nullptr;
}

// Lock held, context present. Waits until `done`, the context fails or the deadline passes.
bool TPulseAudioDriver::Wait(TDeadline deadline, const std::function<bool()>& done)
{
    if (done())
        return true;
    if (pa_rtclock_now() >= deadline)
        return false;
    struct TAlarm
    {
        pa_threaded_mainloop* Loop;
        bool Rang = false;
    } alarm{FLoop};
    pa_time_event* timer = pa_context_rttime_new(
        FContext, deadline,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
            auto& a = *static_cast<TAlarm*>(data);
            a.Rang = true;
            pa_threaded_mainloop_signal(a.Loop, 0);
        },
        &alarm);
    bool result = false;
    while (!(result = done()) && !alarm.Rang && PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)))
        pa_threaded_mainloop_wait(FLoop);
    pa_threaded_mainloop_get_api(FLoop)->time_free(timer);
    return result;
}

// Lock held. The devices of one direction in the server's index order, and the name of the
// server's default device of that direction.
bool TPulseAudioDriver::ListDevices(TWaveDirection dir, std::vector<TDevice>& devices,
                                    std::string& defaultName, TDeadline deadline)
{
    if (!Connect(deadline))
        return false;
    struct TListing
    {
        TDirection Dir;
        pa_threaded_mainloop* Loop;
        std::vector<TDevice>& Devices;
        std::string& Default;
        int Waiting = 2;
        bool Failed = false;

        void Answered(int eol)
        {
            Failed = Failed || eol < 0;
            --Waiting;
            pa_threaded_mainloop_signal(Loop, 0);
        }
    } listing{dir, FLoop, devices, defaultName};
    devices.clear();
    defaultName.clear();

    TOperation server(pa_context_get_server_info(
        FContext,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto& l = *static_cast<TListing*>(data);
            const char* name = nullptr;
            if (info != nullptr)
                name =
                    l.Dir == TDirection::In ? info->default_source_name : info->default_sink_name;
            l.Default = name != nullptr ? name : "";
            l.Answered(info != nullptr ? 1 : -1);
        },
        &listing));
    TOperation list;
    if (dir == TDirection::In)
        list.reset(pa_context_get_source_info_list(
            FContext,
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto& l = *static_cast<TListing*>(data);
                if (eol != 0)
                    l.Answered(eol);
                else if (info->monitor_of_sink == PA_INVALID_INDEX)
                    l.Devices.push_back({info->index, info->name,
                                         info->description ? info->description : info->name,
                                         info->sample_spec.channels});
            },
            &listing));
    else
        list.reset(pa_context_get_sink_info_list(
            FContext,
            [](pa_context*, const pa_sink_info* info, int eol, void* data) {
                auto& l = *static_cast<TListing*>(data);
                if (eol != 0)
                    l.Answered(eol);
                else
                    l.Devices.push_back({info->index, info->name,
                                         info->description ? info->description : info->name,
                                         info->sample_spec.channels});
            },
            &listing));
    const bool answered = server != nullptr && list != nullptr &&
                          Wait(deadline, [&] { return listing.Waiting == 0; });
    Cancel(server);
    Cancel(list);
    std::sort(devices.begin(), devices.end(),
              [](const TDevice& a, const TDevice& b) { return a.Index < b.Index; });
    return answered && !listing.Failed;
}

// Lock held. MMSYSERR_NODRIVER without a server, MMSYSERR_BADDEVICEID for no such device.
MMRESULT TPulseAudioDriver::FindDevice(TWaveDirection dir, UINT device, TDevice& found,
                                       TDeadline deadline)
{
    std::vector<TDevice> devices;
    std::string defaultName;
    if (!ListDevices(dir, devices, defaultName, deadline))
        return MMSYSERR_NODRIVER;
    if (device == WAVE_MAPPER) {
        // Monitors are not in the list, so a default source that is a monitor (a PC without a
        // microphone) is passed over for the first real source.
        if (devices.empty())
            return MMSYSERR_BADDEVICEID;
        const auto it = std::find_if(devices.begin(), devices.end(),
                                     [&](const TDevice& d) { return d.Name == defaultName; });
        found = it != devices.end() ? *it : devices.front();
        return MMSYSERR_NOERROR;
    }
    if (device >= devices.size())
        return MMSYSERR_BADDEVICEID;
    found = devices[device];
    return MMSYSERR_NOERROR;
}

// Lock held. A sink with no stream playing keeps rendering silence as far ahead as its largest
// latency allows (a null sink renders 2 s at a time), and a sink that lowers its latency for a new
// stream does not always take back what it has already rendered: the first block would then be
// heard up to 2 s late, and every later block as late, since blocks arrive as fast as they play.
// Suspending and resuming such an idle sink, after the new stream has asked for its latency,
// restarts the sink's clock at now. Nobody hears it: nothing is playing on an idle sink.
void TPulseAudioDriver::RestartIdleSink(std::uint32_t sink, TDeadline deadline)
{
    struct TSinkState
    {
        pa_threaded_mainloop* Loop;
        bool Answered = false;
        bool Restart = false;
    } state{FLoop};
    TOperation info(pa_context_get_sink_info_by_index(
        FContext, sink,
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            auto& st = *static_cast<TSinkState*>(data);
            if (eol == 0 && info != nullptr)
                st.Restart = info->state == PA_SINK_IDLE && info->latency > IdleAheadLimit;
            else
                st.Answered = true;
            pa_threaded_mainloop_signal(st.Loop, 0);
        },
        &state));
    const bool answered = info != nullptr && Wait(deadline, [&] { return state.Answered; });
    Cancel(info);
    if (!answered || !state.Restart)
        return;
    Forget(pa_context_suspend_sink_by_index(FContext, sink, 1, nullptr, nullptr));
    Forget(pa_context_suspend_sink_by_index(FContext, sink, 0, nullptr, nullptr));
}

template <class F>
MMRESULT TPulseAudioDriver::OnStream(TWaveDirection dir, HWAVE handle, F&& action)
{
    TLock lock(FLoop);
    TStream* s = Find(dir, handle);
    return s != nullptr ? std::forward<F>(action)(s) : MMRESULT(MMSYSERR_INVALHANDLE);
}

TPulseAudioDriver::TStream* TPulseAudioDriver::Find(TWaveDirection dir, HWAVE handle) const
{
    const auto it = FStreams.find(handle);
    return it != FStreams.end() && it->second->Dir == dir ? it->second.get() : nullptr;
}

// Lock held. After this no callback reaches the stream record.
void TPulseAudioDriver::Release(TStream& s)
{
    if (s.Check != nullptr) {
        pa_threaded_mainloop_get_api(FLoop)->time_free(s.Check);
        s.Check = nullptr;
    }
    Cancel(s.Timing);
    Cancel(s.VolumeQuery);
    if (s.Stream != nullptr) {
        pa_stream_set_state_callback(s.Stream, nullptr, nullptr);
        pa_stream_set_read_callback(s.Stream, nullptr, nullptr);
        if (pa_stream_get_state(s.Stream) == PA_STREAM_READY)
            pa_stream_disconnect(s.Stream);
        pa_stream_unref(s.Stream);
        s.Stream = nullptr;
    }
}

UINT TPulseAudioDriver::NumDevs(TWaveDirection dir)
{
    TLock lock(FLoop);
    std::vector<TDevice> devices;
    std::string defaultName;
    return ListDevices(dir, devices, defaultName, CallDeadline())
               ? static_cast<UINT>(devices.size())
               : 0;
}

MMRESULT TPulseAudioDriver::GetCaps(TWaveDirection dir, UINT device, TWaveCaps& caps)
{
    TLock lock(FLoop);
    TDevice found;
    if (const MMRESULT result = FindDevice(dir, device, found, CallDeadline());
        result != MMSYSERR_NOERROR)
        return result;
    caps.Name = ProductName(found.Description);
    caps.Formats = AllFormats; // the server converts any rate and sample format
    caps.Channels = std::clamp<WORD>(found.Channels, 1, 2);
    caps.Support = dir == TDirection::Out ? WAVECAPS_VOLUME | WAVECAPS_LRVOLUME : 0;
    return MMSYSERR_NOERROR;
}

MMRESULT TPulseAudioDriver::Query(TWaveDirection dir, UINT device, const WAVEFORMATEX& format)
{
    TLock lock(FLoop);
    TDevice found;
    if (const MMRESULT result = FindDevice(dir, device, found, CallDeadline());
        result != MMSYSERR_NOERROR)
        return result;
    pa_sample_spec sample;
    return SampleFormatOf(format, sample) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

MMRESULT TPulseAudioDriver::Open(TWaveDirection dir, UINT device, const WAVEFORMATEX& format,
                                 HWND window, HWAVE& handle)
{
    TLock lock(FLoop);
    const TDeadline deadline = CallDeadline();
    pa_sample_spec sample;
    if (!SampleFormatOf(format, sample))
        return WAVERR_BADFORMAT;
    TDevice found;
    if (const MMRESULT result = FindDevice(dir, device, found, deadline);
        result != MMSYSERR_NOERROR)
        return result;

    auto s = std::make_unique<TStream>(*this, dir, window, sample);
    const bool in = dir == TDirection::In;
    s->Stream = pa_stream_new(FContext, in ? "Grabación" : "Reproducción", &sample, nullptr);
    if (s->Stream == nullptr)
        return WAVERR_BADFORMAT;
    pa_stream_set_state_callback(s->Stream, &TStream::StateChanged, s.get());

    // Latency is asked of the server (ADJUST_LATENCY): a capture fragment or a playback target
    // of one buffer. Neither is known before the first header, so the stream starts with a
    // short guess and takes the first header's length as soon as it is queued (SetAttributes).
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xFF, sizeof attributes); // every field "server's choice"
    int connected = 0;
    if (in) {
        pa_stream_set_read_callback(s->Stream, &TStream::Readable, s.get());
        attributes.fragsize = Bytes(FirstFragment, sample);
        // DONT_MOVE: a capture stream is never moved onto another source (which could be the
        // monitor of our own output); if its source goes away the handle is lost instead.
        connected = pa_stream_connect_record(
            s->Stream, found.Name.c_str(), &attributes,
            static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                           PA_STREAM_DONT_MOVE));
    } else {
        attributes.tlength = Bytes(FirstTarget, sample);
        attributes.prebuf = static_cast<std::uint32_t>(s->FrameBytes);
        connected = pa_stream_connect_playback(
            s->Stream, found.Name.c_str(), &attributes,
            static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY),
            nullptr, nullptr);
    }
    const bool ready = connected == 0 && Wait(deadline, [&] {
                           return pa_stream_get_state(s->Stream) == PA_STREAM_READY;
                       });
    if (!ready) {
        MMRESULT result = MMSYSERR_NODRIVER; // no answer, or the server went away
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)) &&
            pa_stream_get_state(s->Stream) == PA_STREAM_FAILED) {
            switch (pa_context_errno(FContext)) {
            case PA_ERR_NOENTITY:
                result = MMSYSERR_BADDEVICEID;
                break;
            case PA_ERR_INVALID:
            case PA_ERR_NOTSUPPORTED:
                result = WAVERR_BADFORMAT;
                break;
            default:
                result = MMSYSERR_ERROR;
            }
        }
        Release(*s);
        return result;
    }
    if (!in) {
        RestartIdleSink(pa_stream_get_device_index(s->Stream), deadline);
        s->Check = pa_context_rttime_new(FContext, PA_USEC_INVALID, &TStream::CheckDue, s.get());
        // Neither is waited for: the volume the server gives the new stream (a desktop may restore
        // one), and the sink's latency, which GetLatency reports before the first block is played.
        s->AskVolume();
        s->AskTiming();
    }
    s->State = TStream::TState::Open;
    s->Handle = handle = ++FLastHandle;
    s->Post(in ? MM_WIM_OPEN : MM_WOM_OPEN, nullptr);
    FStreams.emplace(handle, std::move(s));
    return MMSYSERR_NOERROR;
}

MMRESULT TPulseAudioDriver::Close(TWaveDirection dir, HWAVE handle)
{
    return OnStream(dir, handle, [&](TStream* s) -> MMRESULT {
        if (!s->Filling.empty() || !s->Playing.empty())
            return WAVERR_STILLPLAYING;
        Release(*s);
        s->Post(dir == TDirection::In ? MM_WIM_CLOSE : MM_WOM_CLOSE, nullptr);
        FStreams.erase(handle);
        return MMSYSERR_NOERROR;
    });
}

// Preparing a header changes only its flags, which the wave functions do: the driver only
// answers for the handle. Without the lock: the handles are given out and taken back on this
// thread alone, and the main loop's thread only reads them, so nothing can change under us.
MMRESULT TPulseAudioDriver::Prepare(TWaveDirection dir, HWAVE handle, WAVEHDR*)
{
    return Find(dir, handle) != nullptr ? MMRESULT(MMSYSERR_NOERROR)
                                        : MMRESULT(MMSYSERR_INVALHANDLE);
}

MMRESULT TPulseAudioDriver::Unprepare(TWaveDirection dir, HWAVE handle, WAVEHDR* header)
{
    return Prepare(dir, handle, header);
}

MMRESULT TPulseAudioDriver::Queue(TWaveDirection dir, HWAVE handle, WAVEHDR* header)
{
    return OnStream(dir, handle, [&](TStream* s) -> MMRESULT {
        if (s->Lost())
            return s->LostCode;
        pa_buffer_attr attributes;
        std::memset(&attributes, 0xFF, sizeof attributes);
        if (dir == TDirection::In) {
            header->dwBytesRecorded = 0;
            s->Filling.push_back(header);
            // One fragment per buffer (up to MaxFragment): each buffer is filled by one delivery
            // and comes back as regularly as the source produces, with no partial copies between.
            if (!s->Sized) {
                attributes.fragsize = std::min(s->Capacity(header), Bytes(MaxFragment, s->Sample));
                s->SetAttributes(attributes);
            }
            return MMSYSERR_NOERROR;
        }
        // A target of one block with ADJUST_LATENCY keeps the sink's latency near a quarter of a
        // block, which with the lead silence is the shortest echo of blocks recorded elsewhere that
        // does not underrun (a larger target or prebuffer delays every block by the difference).
        // Prebuffering is one frame: the stream starts by uncorking, not by filling up, and after
        // an underrun it plays whatever comes next, even a last block shorter than the target.
        if (!s->Sized) {
            attributes.tlength = std::max<std::uint32_t>(header->dwBufferLength -
                                                             header->dwBufferLength % s->FrameBytes,
                                                         static_cast<std::uint32_t>(s->FrameBytes));
            attributes.prebuf = static_cast<std::uint32_t>(s->FrameBytes);
            s->SetAttributes(attributes);
        }
        s->Playing.push_back({header});
        s->Send();
        s->ArmCheck();
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TPulseAudioDriver::Start(TWaveDirection dir, HWAVE handle)
{
    return OnStream(dir, handle, [&](TStream* s) -> MMRESULT {
        if (s->Lost())
            return s->LostCode;
        if (dir == TDirection::In) {
            s->Recording = true;
            s->SetCorked(false);
        } else {
            s->Paused = false;
            s->SetCorked(!s->Primed);
        }
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TPulseAudioDriver::Stop(TWaveDirection dir, HWAVE handle)
{
    return OnStream(dir, handle, [&](TStream* s) -> MMRESULT {
        if (dir == TDirection::In) {
            // What the server still holds is dropped, so a restart records from the restart on.
            s->Recording = false;
            s->SetCorked(true);
            s->Flush();
            if (!s->Filling.empty() && s->Filling.front()->dwBytesRecorded > 0) {
                WAVEHDR* header = s->Filling.front();
                s->Filling.pop_front();
                s->GiveBack(header);
            }
        } else {
            s->Paused = true;
            s->SetCorked(true);
        }
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TPulseAudioDriver::Reset(TWaveDirection dir, HWAVE handle)
{
    return OnStream(dir, handle, [&](TStream* s) -> MMRESULT {
        s->Recording = false;
        s->SetCorked(true);
        s->Flush();
        Cancel(s->Timing);
        s->ReturnAll();
        s->Returned = 0;
        s->Carry.clear();
        s->Estimate.Reset();
        s->DonePlayed = 0;
        s->Primed = false; // the next block gets its lead silence again
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TPulseAudioDriver::GetPosition(TWaveDirection dir, HWAVE handle, MMTIME& time)
{
    return OnStream(dir, handle, [&](TStream* s) -> MMRESULT {
        std::uint64_t bytes = s->Returned;
        if (dir == TDirection::Out) {
            s->UpdatePlayed();
            bytes = s->Position();
        }
        time.wType = TIME_BYTES;
        time.u.cb = static_cast<DWORD>(bytes);
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TPulseAudioDriver::GetControl(HWAVE handle, TWaveControl control, DWORD& value)
{
    return OnStream(TDirection::Out, handle, [&](TStream* s) -> MMRESULT {
        if (control != TWaveControl::Volume)
            return MMSYSERR_NOTSUPPORTED;
        value = s->Volume;
        return MMSYSERR_NOERROR;
    });
}

MMRESULT TPulseAudioDriver::SetControl(HWAVE handle, TWaveControl control, DWORD value)
{
    return OnStream(TDirection::Out, handle, [&](TStream* s) -> MMRESULT {
        if (control != TWaveControl::Volume)
            return MMSYSERR_NOTSUPPORTED;
        if (s->Lost())
            return s->LostCode;
        s->SendVolume(value);
        return MMSYSERR_NOERROR;
    });
}

// What the sink holds beyond the stream's own queue, from the timing updates that keep the play
// position: no round trip.
MMRESULT TPulseAudioDriver::GetLatency(HWAVE handle, DWORD& milliseconds)
{
    return OnStream(TDirection::Out, handle, [&](TStream* s) -> MMRESULT {
        if (s->Lost())
            return s->LostCode;
        const pa_timing_info* timing = pa_stream_get_timing_info(s->Stream);
        milliseconds = timing != nullptr ? static_cast<DWORD>((timing->sink_usec + 500) / 1000) : 0;
        return MMSYSERR_NOERROR;
    });
}

// From the last timing update and the clock since: no round trip.
MMRESULT TPulseAudioDriver::GetAhead(HWAVE handle, DWORD& milliseconds)
{
    return OnStream(TDirection::Out, handle, [&](TStream* s) -> MMRESULT {
        if (s->Lost())
            return s->LostCode;
        if (!s->Estimate.AheadKnown())
            return MMSYSERR_NOTSUPPORTED;
        milliseconds = static_cast<DWORD>((s->Estimate.Ahead(pa_rtclock_now()) + 500) / 1000);
        return MMSYSERR_NOERROR;
    });
}

void TPulseAudioDriver::Abandon(TWaveDirection dir, HWAVE handle)
{
    TLock lock(FLoop);
    if (TStream* s = Find(dir, handle)) {
        Release(*s);
        FStreams.erase(handle);
    }
}

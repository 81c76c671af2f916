#pragma once
// The sound driver that plays and records through a PulseAudio server (or PipeWire's
// PulseAudio service), behind the wave functions of sound/MMSystem.h.
//
// Devices: capture devices are the server's sources without the monitors (the program must never
// record its own output), playback devices its sinks, numbered 0..n-1 in the server's index order
// and read afresh on every call that names one. WAVE_MAPPER is the server's default sink, or its
// default source unless that is a monitor (then the first source that is not one).
//
// The server is reached on the first call that needs it, never spawned; without it there are no
// devices, and an open, a query or a device's capabilities fail with MMSYSERR_NODRIVER. A later
// call tries again. A call that waits for the server (to connect, to list the devices, to make a
// stream ready) gives it about two seconds in all, however many times it waits: a server that
// does not answer within them is no server (MMSYSERR_NODRIVER). The rest never waits: a volume
// is sent and not waited for, and it is read, as the latency of a playback stream, from what the
// server last reported. The driver follows the server's changes to its streams' volumes, so a
// volume changed elsewhere (a desktop mixer) is what a read answers once the server has told.
//
// Threads. Every pa_* object lives on one pa_threaded_mainloop. The driver's methods run on the
// GUI thread (G) and hold the main-loop lock for their whole call (but Prepare and Unprepare,
// which only look the handle up: handles are added and removed by G alone); what they wait for (the
// connection, a device list, a stream becoming ready) they wait for under the lock with
// pa_threaded_mainloop_wait, woken by the callback that changes it or by a time event at the
// call's deadline. Callbacks run on the main-loop thread (M) with the lock held; they only copy
// bytes into the queued headers (which belong to the driver until they are posted back), set the
// headers' fields, post to the handle's window and signal the waiter. A handle's states, each
// changed only with the lock held:
//
//   opening --ready (M signals)--> open       G gives the handle out, posts MM_W?M_OPEN
//   opening --failed, or no answer by the deadline--> gone    G fails the open
//   open    --stream or server lost (M)--> lost       M posts every queued header back, as a
//                                                     reset would; Queue and Start then fail, the
//                                                     rest is accepted: MMSYSERR_BADDEVICEID when
//                                                     the device went away (the server is still
//                                                     there), MMSYSERR_NODRIVER when the server did
//   open, lost --Close, nothing queued (G)--> gone    G posts MM_W?M_CLOSE
//   open, lost --Abandon (G)--> gone                  nothing is touched or posted any more
//
//   While open, input: corked --Start--> recording --Stop, Reset--> corked. The read callback (M)
//   fills the oldest queued header and posts it when full; what comes with no header queued, or
//   after a stop, is dropped.
//   While open, output: corked until the first block is written, and while paused. As long as
//   blocks are queued a time event (M) asks the server for its play position, and the answer's
//   callback (M) posts every block that has been played. When the server says a sink input has
//   changed (M), the stream that plays through it asks for its volume, and the answer (M) keeps it.
//
// Once a handle is gone its callbacks are cleared and its pending operations cancelled, under the
// lock, so no callback can reach it afterwards. The destructor does the same for every handle,
// then stops the main-loop thread; it posts nothing and never waits on the server.

#include "sound/WaveDriver.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;

class TPulseAudioDriver : public TWaveDriver
{
public:
    // `server` is a PulseAudio server address ("unix:/run/user/1000/pulse/native"); empty means
    // libpulse's default (the PULSE_SERVER environment variable, then the usual places).
    explicit TPulseAudioDriver(std::string server = {});
    ~TPulseAudioDriver() override;
    TPulseAudioDriver(const TPulseAudioDriver&) = delete;
    TPulseAudioDriver& operator=(const TPulseAudioDriver&) = delete;

    UINT NumDevs(TWaveDirection dir) override;
    MMRESULT GetCaps(TWaveDirection dir, UINT device, TWaveCaps& caps) override;
    MMRESULT Query(TWaveDirection dir, UINT device, const WAVEFORMATEX& format) override;
    MMRESULT Open(TWaveDirection dir, UINT device, const WAVEFORMATEX& format, HWND window,
                  HWAVE& handle) override;
    MMRESULT Close(TWaveDirection dir, HWAVE handle) override;
    MMRESULT Prepare(TWaveDirection dir, HWAVE handle, WAVEHDR* header) override;
    MMRESULT Unprepare(TWaveDirection dir, HWAVE handle, WAVEHDR* header) override;
    MMRESULT Queue(TWaveDirection dir, HWAVE handle, WAVEHDR* header) override;
    MMRESULT Start(TWaveDirection dir, HWAVE handle) override;
    MMRESULT Stop(TWaveDirection dir, HWAVE handle) override;
    MMRESULT Reset(TWaveDirection dir, HWAVE handle) override;
    MMRESULT GetPosition(TWaveDirection dir, HWAVE handle, MMTIME& time) override;
    MMRESULT GetControl(HWAVE handle, TWaveControl control, DWORD& value) override;
    MMRESULT SetControl(HWAVE handle, TWaveControl control, DWORD value) override;
    // The sink's latency as the last play-position update reported it; 0 before the first one.
    MMRESULT GetLatency(HWAVE handle, DWORD& milliseconds) override;
    MMRESULT GetAhead(HWAVE handle, DWORD& milliseconds) override;
    void Abandon(TWaveDirection dir, HWAVE handle) override;

private:
    struct TDevice
    {
        std::uint32_t Index = 0; // the server's index
        std::string Name;        // the server's name, to connect a stream to
        std::string Description;
        WORD Channels = 0;
    };
    struct TStream; // one open handle; PulseAudio.cpp

    // A call's deadline: microseconds on PulseAudio's monotonic clock (pa_rtclock_now).
    using TDeadline = std::uint64_t;
    static TDeadline CallDeadline();

    bool Connect(TDeadline deadline);
    void DropContext();
    bool Wait(TDeadline deadline, const std::function<bool()>& done);
    bool ListDevices(TWaveDirection dir, std::vector<TDevice>& devices, std::string& defaultName,
                     TDeadline deadline);
    MMRESULT FindDevice(TWaveDirection dir, UINT device, TDevice& found, TDeadline deadline);
    void RestartIdleSink(std::uint32_t sink, TDeadline deadline);
    TStream* Find(TWaveDirection dir, HWAVE handle) const;
    // Runs `action` on the open stream of `handle` with the loop locked; without one, the
    // handle is refused.
    template <class F> MMRESULT OnStream(TWaveDirection dir, HWAVE handle, F&& action);
    void Release(TStream& stream);
    void ContextChanged();

    static void ContextState(pa_context* context, void* driver);
    // Lock held (M): the server changed the sink input `index`.
    void SinkInputChanged(std::uint32_t index);

    std::string FServer;
    pa_threaded_mainloop* FLoop = nullptr;
    bool FLoopRunning = false;
    pa_context* FContext = nullptr;
    std::map<HWAVE, std::unique_ptr<TStream>> FStreams;
    HWAVE FLastHandle = 0;
};

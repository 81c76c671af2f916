#include "SimulatedSoundCard.h"

#include "sound/DeviceWindow.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD AllStandardFormats = 0xFFF;

const char* NotificationName(UINT msg)
{
    switch (msg) {
    case MM_WIM_OPEN:
        return "MM_WIM_OPEN";
    case MM_WIM_CLOSE:
        return "MM_WIM_CLOSE";
    case MM_WIM_DATA:
        return "MM_WIM_DATA";
    case MM_WOM_OPEN:
        return "MM_WOM_OPEN";
    case MM_WOM_CLOSE:
        return "MM_WOM_CLOSE";
    default:
        return "MM_WOM_DONE";
    }
}

} // namespace

TSimulatedSoundCard::TSimulatedSoundCard()
{
    InDevices.push_back({"Micrófono simulado", AllStandardFormats, 2, 0, {}});
    OutDevices.push_back(
        {"Altavoz simulado", AllStandardFormats, 2, WAVECAPS_VOLUME | WAVECAPS_LRVOLUME, {}});
}

std::vector<std::string> TSimulatedSoundCard::Calls(const std::string& prefix) const
{
    std::vector<std::string> found;
    std::copy_if(Log.begin(), Log.end(), std::back_inserter(found),
                 [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; });
    return found;
}

void TSimulatedSoundCard::Fail(const std::string& call, MMRESULT code)
{
    if (code == MMSYSERR_NOERROR)
        FFailures.erase(call);
    else
        FFailures[call] = code;
}

HWAVE TSimulatedSoundCard::LastOpened(TWaveDirection dir) const
{
    const HWAVE handle = dir == TWaveDirection::In ? FLastIn : FLastOut;
    return FStreams.count(handle) != 0 ? handle : 0;
}

std::size_t TSimulatedSoundCard::QueuedCount(HWAVE handle) const
{
    auto it = FStreams.find(handle);
    return it != FStreams.end() ? it->second.Queued.size() : 0;
}

const WAVEFORMATEX* TSimulatedSoundCard::FormatOf(HWAVE handle) const
{
    auto it = FStreams.find(handle);
    return it != FStreams.end() ? &it->second.Format : nullptr;
}

DWORD TSimulatedSoundCard::ControlOf(HWAVE handle, TWaveControl control) const
{
    auto it = FStreams.find(handle);
    if (it == FStreams.end())
        return 0;
    auto value = it->second.Controls.find(control);
    return value != it->second.Controls.end() ? value->second : 0;
}

MMRESULT TSimulatedSoundCard::Enter(TWaveDirection dir, const char* inName, const char* outName)
{
    const std::string name = dir == TWaveDirection::In ? inName : outName;
    Log.push_back(name);
    auto failure = FFailures.find(name);
    return failure != FFailures.end() ? failure->second : MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::EnterStream(TWaveDirection dir, const char* inName,
                                          const char* outName, HWAVE handle, TStream*& stream)
{
    if (MMRESULT failure = Enter(dir, inName, outName))
        return failure;
    stream = Find(dir, handle);
    return stream != nullptr ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

TSimulatedSoundCard::TStream* TSimulatedSoundCard::Find(TWaveDirection dir, HWAVE handle)
{
    auto it = FStreams.find(handle);
    return it != FStreams.end() && it->second.Dir == dir ? &it->second : nullptr;
}

const TSimulatedSoundCard::TDevice* TSimulatedSoundCard::Device(TWaveDirection dir,
                                                                UINT device) const
{
    const auto& devices = dir == TWaveDirection::In ? InDevices : OutDevices;
    if (device == WAVE_MAPPER)
        device = dir == TWaveDirection::In ? DefaultIn : DefaultOut;
    return device < devices.size() ? &devices[device] : nullptr;
}

void TSimulatedSoundCard::Return(HWAVE handle, TStream& stream, WAVEHDR* header)
{
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    const UINT msg = stream.Dir == TWaveDirection::In ? MM_WIM_DATA : MM_WOM_DONE;
    Log.emplace_back(NotificationName(msg));
    PostMessageA(stream.Window, msg, handle, reinterpret_cast<LPARAM>(header));
}

UINT TSimulatedSoundCard::NumDevs(TWaveDirection dir)
{
    Log.emplace_back(dir == TWaveDirection::In ? "waveInGetNumDevs" : "waveOutGetNumDevs");
    return static_cast<UINT>(dir == TWaveDirection::In ? InDevices.size() : OutDevices.size());
}

MMRESULT TSimulatedSoundCard::GetCaps(TWaveDirection dir, UINT device, TWaveCaps& caps)
{
    if (MMRESULT failure = Enter(dir, "waveInGetDevCapsA", "waveOutGetDevCapsA"))
        return failure;
    const TDevice* found = Device(dir, device);
    if (found == nullptr)
        return MMSYSERR_BADDEVICEID;
    caps = TWaveCaps{found->Name, found->Formats, found->Channels, found->Support};
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::Query(TWaveDirection dir, UINT device, const WAVEFORMATEX& format)
{
    if (MMRESULT failure = Enter(dir, "waveInOpen/query", "waveOutOpen/query"))
        return failure;
    const TDevice* found = Device(dir, device);
    if (found == nullptr)
        return MMSYSERR_BADDEVICEID;
    return found->Refuses && found->Refuses(format) ? WAVERR_BADFORMAT : MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::Open(TWaveDirection dir, UINT device, const WAVEFORMATEX& format,
                                   HWND window, HWAVE& handle)
{
    if (MMRESULT failure = Enter(dir, "waveInOpen", "waveOutOpen"))
        return failure;
    const TDevice* found = Device(dir, device);
    if (found == nullptr)
        return MMSYSERR_BADDEVICEID;
    if (found->Refuses && found->Refuses(format))
        return WAVERR_BADFORMAT;
    handle = FNextHandle++;
    TStream stream;
    stream.Dir = dir;
    stream.Window = window;
    stream.Format = format;
    stream.Running = dir == TWaveDirection::Out; // output plays at once, input waits for start
    stream.Controls[TWaveControl::Volume] = 0xFFFFFFFF;
    stream.Controls[TWaveControl::Pitch] = 0x10000;
    stream.Controls[TWaveControl::PlaybackRate] = 0x10000;
    FStreams.emplace(handle, stream);
    (dir == TWaveDirection::In ? FLastIn : FLastOut) = handle;
    const UINT msg = dir == TWaveDirection::In ? MM_WIM_OPEN : MM_WOM_OPEN;
    Log.emplace_back(NotificationName(msg));
    PostMessageA(window, msg, handle, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::Close(TWaveDirection dir, HWAVE handle)
{
    TStream* stream = nullptr;
    if (MMRESULT failure = EnterStream(dir, "waveInClose", "waveOutClose", handle, stream))
        return failure;
    if (!stream->Queued.empty())
        return WAVERR_STILLPLAYING;
    const HWND window = stream->Window;
    const bool lost = stream->Lost;
    FStreams.erase(handle);
    if (SwallowClose && !lost)
        return MMSYSERR_NOERROR;
    const UINT msg = dir == TWaveDirection::In ? MM_WIM_CLOSE : MM_WOM_CLOSE;
    Log.emplace_back(NotificationName(msg));
    PostMessageA(window, msg, handle, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::Prepare(TWaveDirection dir, HWAVE handle, WAVEHDR* /*header*/)
{
    TStream* stream = nullptr;
    return EnterStream(dir, "waveInPrepareHeader", "waveOutPrepareHeader", handle, stream);
}

MMRESULT TSimulatedSoundCard::Unprepare(TWaveDirection dir, HWAVE handle, WAVEHDR* /*header*/)
{
    TStream* stream = nullptr;
    return EnterStream(dir, "waveInUnprepareHeader", "waveOutUnprepareHeader", handle, stream);
}

MMRESULT TSimulatedSoundCard::Queue(TWaveDirection dir, HWAVE handle, WAVEHDR* header)
{
    TStream* stream = nullptr;
    if (MMRESULT failure = EnterStream(dir, "waveInAddBuffer", "waveOutWrite", handle, stream))
        return failure;
    if (stream->Lost)
        return MMSYSERR_NODRIVER;
    stream->Queued.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::Start(TWaveDirection dir, HWAVE handle)
{
    TStream* stream = nullptr;
    if (MMRESULT failure = EnterStream(dir, "waveInStart", "waveOutRestart", handle, stream))
        return failure;
    if (stream->Lost)
        return MMSYSERR_NODRIVER;
    stream->Running = true;
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::Stop(TWaveDirection dir, HWAVE handle)
{
    TStream* stream = nullptr;
    if (MMRESULT failure = EnterStream(dir, "waveInStop", "waveOutPause", handle, stream))
        return failure;
    stream->Running = false;
    // A stopped input hands back the buffer it was filling, when it holds anything.
    if (dir == TWaveDirection::In && !stream->Queued.empty() &&
        stream->Queued.front()->dwBytesRecorded > 0) {
        WAVEHDR* header = stream->Queued.front();
        stream->Queued.pop_front();
        Return(handle, *stream, header);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::Reset(TWaveDirection dir, HWAVE handle)
{
    TStream* stream = nullptr;
    if (MMRESULT failure = EnterStream(dir, "waveInReset", "waveOutReset", handle, stream))
        return failure;
    if (dir == TWaveDirection::In)
        stream->Running = false;
    stream->Position = 0;
    while (!stream->Queued.empty()) {
        WAVEHDR* header = stream->Queued.front();
        stream->Queued.pop_front();
        Return(handle, *stream, header);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::GetPosition(TWaveDirection dir, HWAVE handle, MMTIME& time)
{
    TStream* stream = nullptr;
    if (MMRESULT failure =
            EnterStream(dir, "waveInGetPosition", "waveOutGetPosition", handle, stream))
        return failure;
    time.wType = TIME_BYTES;
    time.u.cb = stream->Position;
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::GetControl(HWAVE handle, TWaveControl control, DWORD& value)
{
    static const char* const names[] = {"waveOutGetVolume", "waveOutGetPitch",
                                        "waveOutGetPlaybackRate"};
    const char* name = names[static_cast<int>(control)];
    TStream* stream = nullptr;
    if (MMRESULT failure = EnterStream(TWaveDirection::Out, name, name, handle, stream))
        return failure;
    value = stream->Controls[control];
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::GetLatency(HWAVE handle, DWORD& milliseconds)
{
    TStream* stream = nullptr;
    if (MMRESULT failure = EnterStream(TWaveDirection::Out, "waveOutGetLatency",
                                       "waveOutGetLatency", handle, stream))
        return failure;
    milliseconds = OutLatency;
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::GetAhead(HWAVE handle, DWORD& milliseconds)
{
    TStream* stream = nullptr;
    if (MMRESULT failure =
            EnterStream(TWaveDirection::Out, "waveOutGetAhead", "waveOutGetAhead", handle, stream))
        return failure;
    if (!OutAhead)
        return MMSYSERR_NOTSUPPORTED;
    milliseconds = *OutAhead;
    return MMSYSERR_NOERROR;
}

MMRESULT TSimulatedSoundCard::SetControl(HWAVE handle, TWaveControl control, DWORD value)
{
    static const char* const names[] = {"waveOutSetVolume", "waveOutSetPitch",
                                        "waveOutSetPlaybackRate"};
    const char* name = names[static_cast<int>(control)];
    TStream* stream = nullptr;
    if (MMRESULT failure = EnterStream(TWaveDirection::Out, name, name, handle, stream))
        return failure;
    stream->Controls[control] = value;
    return MMSYSERR_NOERROR;
}

void TSimulatedSoundCard::Abandon(TWaveDirection dir, HWAVE handle)
{
    Log.emplace_back(dir == TWaveDirection::In ? "waveInAbandon" : "waveOutAbandon");
    if (Find(dir, handle) != nullptr)
        FStreams.erase(handle);
}

std::size_t TSimulatedSoundCard::Record(HWAVE handle, std::span<const std::uint8_t> bytes)
{
    TStream* stream = Find(TWaveDirection::In, handle);
    if (stream == nullptr || !stream->Running || stream->Lost)
        return 0;
    std::size_t taken = 0;
    while (taken < bytes.size() && !stream->Queued.empty()) {
        WAVEHDR* header = stream->Queued.front();
        const std::size_t room = header->dwBufferLength - header->dwBytesRecorded;
        const std::size_t n = std::min(room, bytes.size() - taken);
        std::memcpy(header->lpData + header->dwBytesRecorded, bytes.data() + taken, n);
        header->dwBytesRecorded += static_cast<DWORD>(n);
        stream->Position += static_cast<DWORD>(n);
        taken += n;
        if (header->dwBytesRecorded == header->dwBufferLength) {
            stream->Queued.pop_front();
            Return(handle, *stream, header);
        }
    }
    return taken;
}

std::size_t TSimulatedSoundCard::RecordBuffers(HWAVE handle, std::size_t count,
                                               std::span<const std::uint8_t> sample)
{
    std::size_t taken = 0;
    for (std::size_t i = 0; i < count && !sample.empty(); ++i) {
        TStream* stream = Find(TWaveDirection::In, handle);
        if (stream == nullptr || stream->Queued.empty())
            break;
        const WAVEHDR* header = stream->Queued.front();
        std::vector<std::uint8_t> block(header->dwBufferLength - header->dwBytesRecorded);
        for (std::size_t j = 0; j < block.size(); ++j)
            block[j] = sample[j % sample.size()];
        const std::size_t n = Record(handle, block);
        taken += n;
        if (n < block.size())
            break;
    }
    return taken;
}

std::size_t TSimulatedSoundCard::Play(HWAVE handle, std::size_t count)
{
    TStream* stream = Find(TWaveDirection::Out, handle);
    if (stream == nullptr || !stream->Running || stream->Lost)
        return 0;
    std::size_t played = 0;
    while (played < count && !stream->Queued.empty()) {
        WAVEHDR* header = stream->Queued.front();
        stream->Queued.pop_front();
        Played.insert(Played.end(), header->lpData, header->lpData + header->dwBufferLength);
        stream->Position += header->dwBufferLength;
        Return(handle, *stream, header);
        ++played;
    }
    return played;
}

void TSimulatedSoundCard::LoseServer()
{
    Log.emplace_back("server lost");
    for (auto& [handle, stream] : FStreams) {
        stream.Lost = true;
        stream.Running = false;
        while (!stream.Queued.empty()) {
            WAVEHDR* header = stream.Queued.front();
            stream.Queued.pop_front();
            Return(handle, stream, header);
        }
    }
}

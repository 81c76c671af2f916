#pragma once
// A hidden notification window: a message queue whose window procedure is a method of a
// component.
//
// PostMessageA may be called from any thread; it wakes the GUI thread, where the messages are
// dispatched to their window procedures in the order they were posted. GetMessageFor takes the
// next message of one window only, leaving the others queued in their order, and gives up at a
// deadline: that is how a device waits for its own notifications while the rest of the program
// waits for it. A window that is destroyed takes its queued messages with it; posting to it
// afterwards does nothing and says so.

#include "sound/MMSystem.h"

#include <chrono>
#include <functional>

struct TMessage
{
    HWND Window = 0;
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    std::intptr_t Result = 0;
};

using TWindowProc = std::function<void(TMessage& message)>;

class TDeviceWindow
{
public:
    // Must be made on the GUI thread, with the application object alive.
    explicit TDeviceWindow(TWindowProc windowProc);
    ~TDeviceWindow();
    TDeviceWindow(const TDeviceWindow&) = delete;
    TDeviceWindow& operator=(const TDeviceWindow&) = delete;

    HWND Handle() const { return FHandle; }

private:
    HWND FHandle = 0;
};

// Queues a message for a window; false (and nothing queued) when no such window exists.
bool PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// Takes the next message posted to `window`, waiting until one arrives or the deadline passes
// (false). Messages of other windows stay queued.
bool GetMessageFor(HWND window, TMessage& message, std::chrono::steady_clock::time_point deadline);

// Calls the window procedure of the message's window, if the window still exists.
void DispatchMessageA(TMessage& message);

// What a window procedure does with a message it has no use for: nothing, result 0.
std::intptr_t DefWindowProcA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// Messages queued and not yet dispatched, of all windows.
std::size_t PendingDeviceMessages();

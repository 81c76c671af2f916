#include "DeviceWindow.h"

#include "core/ErrorReport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace {

// Wakes the GUI thread: one event per posted message, each dispatching the oldest message of
// any window. Events whose message was already taken by GetMessageFor find nothing to do.
class TDispatcher : public QObject
{
public:
    static const QEvent::Type WakeType;
    bool event(QEvent* e) override;
};

const QEvent::Type TDispatcher::WakeType = static_cast<QEvent::Type>(QEvent::registerEventType());

struct TQueue
{
    std::mutex Lock;
    std::condition_variable Arrived;
    std::deque<TMessage> Messages;
    std::unordered_map<HWND, TWindowProc> Windows;
    HWND NextHandle = 1;
    TDispatcher* Dispatcher = nullptr; // lives on the GUI thread
};

TQueue& Queue()
{
    static TQueue queue;
    return queue;
}

bool TakeOldest(TMessage& message)
{
    TQueue& q = Queue();
    std::lock_guard lock(q.Lock);
    if (q.Messages.empty())
        return false;
    message = q.Messages.front();
    q.Messages.pop_front();
    return true;
}

bool TDispatcher::event(QEvent* e)
{
    if (e->type() != WakeType)
        return QObject::event(e);
    TMessage message;
    if (TakeOldest(message))
        DispatchMessageA(message);
    return true;
}

} // namespace

TDeviceWindow::TDeviceWindow(TWindowProc windowProc)
{
    TQueue& q = Queue();
    std::lock_guard lock(q.Lock);
    if (q.Dispatcher == nullptr) {
        // Parented to the application, so it goes when the application goes.
        q.Dispatcher = new TDispatcher;
        q.Dispatcher->setParent(QCoreApplication::instance());
        QObject::connect(q.Dispatcher, &QObject::destroyed, [] {
            std::lock_guard inner(Queue().Lock);
            Queue().Dispatcher = nullptr;
        });
    }
    FHandle = q.NextHandle++;
    q.Windows.emplace(FHandle, std::move(windowProc));
}

TDeviceWindow::~TDeviceWindow()
{
    TQueue& q = Queue();
    std::lock_guard lock(q.Lock);
    q.Windows.erase(FHandle);
    std::erase_if(q.Messages, [this](const TMessage& m) { return m.Window == FHandle; });
}

bool PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    TQueue& q = Queue();
    QObject* dispatcher = nullptr;
    {
        std::lock_guard lock(q.Lock);
        if (q.Windows.find(window) == q.Windows.end())
            return false;
        q.Messages.push_back(TMessage{window, msg, wParam, lParam, 0});
        dispatcher = q.Dispatcher;
        // Posting the wake under the lock keeps the dispatcher alive while it is used.
        if (dispatcher != nullptr)
            QCoreApplication::postEvent(dispatcher, new QEvent(TDispatcher::WakeType));
    }
    q.Arrived.notify_all();
    return true;
}

bool GetMessageFor(HWND window, TMessage& message, std::chrono::steady_clock::time_point deadline)
{
    TQueue& q = Queue();
    std::unique_lock lock(q.Lock);
    for (;;) {
        if (q.Windows.find(window) == q.Windows.end())
            return false;
        for (auto it = q.Messages.begin(); it != q.Messages.end(); ++it) {
            if (it->Window == window) {
                message = *it;
                q.Messages.erase(it);
                return true;
            }
        }
        if (q.Arrived.wait_until(lock, deadline) == std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}

void DispatchMessageA(TMessage& message)
{
    TWindowProc procedure;
    {
        std::lock_guard lock(Queue().Lock);
        auto it = Queue().Windows.find(message.Window);
        if (it == Queue().Windows.end())
            return;
        // A copy: the procedure may destroy its own window.
        procedure = it->second;
    }
    Guard(nullptr, [&] { procedure(message); });
}

std::intptr_t DefWindowProcA(HWND /*window*/, UINT /*msg*/, WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    return 0;
}

std::size_t PendingDeviceMessages()
{
    std::lock_guard lock(Queue().Lock);
    return Queue().Messages.size();
}

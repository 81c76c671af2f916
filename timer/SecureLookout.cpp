#include "SecureLookout.h"

#include <QMetaObject>

#include <chrono>

namespace {

constexpr auto KLookEvery = std::chrono::seconds(5);
constexpr auto KProbeWithin = std::chrono::milliseconds(2000);

} // namespace

TSecureLookout::TSecureLookout(const TMqttClient& client, std::function<bool()> down,
                               std::function<void(const QString& cause)> found, QObject* parent)
    : QObject(parent), FClient(client), FDown(std::move(down)), FFound(std::move(found))
{
    FEvery.setInterval(KLookEvery);
    connect(&FEvery, &QTimer::timeout, this, [this] { Look(); });
    FEvery.start();
}

TSecureLookout::~TSecureLookout()
{
    FEvery.stop();
    if (FProbe.joinable())
        FProbe.join();
}

void TSecureLookout::Look()
{
    if (FProbing || !FDown())
        return;
    if (FProbe.joinable())
        FProbe.join();
    FProbing = true;
    FProbe = std::thread([this] {
        const TTlsProblem problem = FClient.ProbeSecure(KProbeWithin);
        QMetaObject::invokeMethod(
            this,
            [this, problem] {
                FProbing = false;
                // None: the connection is being made.
                if (FDown() && problem != TTlsProblem::None && problem != TTlsProblem::Unreachable)
                    FFound(FClient.SecureProblemText(problem));
            },
            Qt::QueuedConnection);
    });
}

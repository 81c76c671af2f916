#include "SecureLookout.h"

#include <QMetaObject>

#include <chrono>

namespace {

constexpr auto KLookEvery = std::chrono::seconds(5);
constexpr auto KProbeWithin = std::chrono::milliseconds(2000);

} // namespace

TSecureLookout::TSecureLookout(std::shared_ptr<const TMqttClient> client,
                               std::function<bool()> down,
                               std::function<void(const QString& cause)> found, QObject* parent)
    : QObject(parent), FClient(std::move(client)), FDown(std::move(down)), FFound(std::move(found))
{
    FEvery.setInterval(KLookEvery);
    connect(&FEvery, &QTimer::timeout, this, [this] { Look(); });
    FEvery.start();
}

TSecureLookout::~TSecureLookout()
{
    FEvery.stop();
    if (FProbe)
        FProbe->Abandon();
}

void TSecureLookout::Look()
{
    if ((FProbe && !FProbe->Finished()) || !FDown())
        return;
    FProbe = TDetached::Start(
        this, [client = FClient] { return client->ProbeSecure(KProbeWithin); },
        [this](TTlsProblem problem) {
            // None: the connection is being made.
            if (FDown() && problem != TTlsProblem::None && problem != TTlsProblem::Unreachable)
                FFound(FClient->SecureProblemText(problem));
        });
}

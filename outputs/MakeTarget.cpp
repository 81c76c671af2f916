#include "outputs/Targets.h"

std::unique_ptr<TOutputTarget> MakeTarget(const TTargetSpec& spec)
{
    switch (spec.Kind) {
    case TTargetKind::Parport:
        return MakeParportTarget(spec);
    case TTargetKind::Gpio:
        return MakeGpioTarget(spec);
    case TTargetKind::Serial:
        return MakeSerialTarget(spec);
    case TTargetKind::Mqtt:
        return MakeMqttTarget(spec);
    }
    return nullptr;
}

std::vector<std::unique_ptr<TOutputTarget>> MakeTargets(const std::vector<TTargetSpec>& specs)
{
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    targets.reserve(specs.size());
    for (const TTargetSpec& spec : specs)
        targets.push_back(MakeTarget(spec));
    return targets;
}

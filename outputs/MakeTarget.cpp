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

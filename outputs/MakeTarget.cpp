#include "outputs/Targets.h"

std::unique_ptr<TOutputTarget> MakeTarget(const TTargetSpec& spec)
{
    return std::visit([&](const auto& address) { return MakeTarget(spec.Name, address); },
                      spec.Address);
}

std::vector<std::unique_ptr<TOutputTarget>> MakeTargets(const std::vector<TTargetSpec>& specs)
{
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    targets.reserve(specs.size());
    for (const TTargetSpec& spec : specs)
        targets.push_back(MakeTarget(spec));
    return targets;
}

#include "WaveDriver.h"

namespace {

TWaveDriver* Installed = nullptr;

} // namespace

TWaveDriver* InstalledWaveDriver()
{
    return Installed;
}

TScopedWaveDriver::TScopedWaveDriver(std::unique_ptr<TWaveDriver> driver)
    : FDriver(std::move(driver)), FInstalled(Installed, FDriver.get())
{
}

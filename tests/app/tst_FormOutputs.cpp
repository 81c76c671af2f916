// The window hands its switching word to the outputs the user named: here a target that records
// the words it is asked to show.

#include "app/UnitVardo.h"
#include "core/Clock.h"
#include "core/Meter.h"
#include "outputs/Outputs.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace {

struct Shown
{
    std::mutex Lock;
    std::vector<int> Words;
    std::vector<int> Copy()
    {
        const std::lock_guard lock(Lock);
        return Words;
    }
};

class Recording : public TOutputTarget
{
public:
    explicit Recording(Shown& shown) : TOutputTarget(QStringLiteral("prueba")), FShown(shown) {}
    bool Open() override { return true; }
    bool Write(std::uint8_t word, int) override
    {
        const std::lock_guard lock(FShown.Lock);
        FShown.Words.push_back(word);
        return true;
    }
    void Close() override {}

private:
    Shown& FShown;
};

} // namespace

TEST(FormOutputs, TheMetersWordReachesTheTargets)
{
    Shown shown;
    std::vector<std::unique_ptr<TOutputTarget>> targets;
    targets.push_back(std::make_unique<Recording>(shown));
    TOutputs outputs(std::move(targets));
    outputs.Start();
    std::unique_ptr<TFormVardo> form;
    {
        const TScopedLocalTimeOfDay time([] { return TTimeOfDay{14, 37}; });
        form = std::make_unique<TFormVardo>();
    }
    form->Outputs = &outputs;
    for (int level : {40, 90, 0}) {
        form->AudioRedirector1AudioInLevel(nullptr, level);
        const int word = MeterWord(static_cast<std::uint8_t>(level));
        EXPECT_TRUE(WaitFor([&] { return !shown.Copy().empty() && shown.Copy().back() == word; }))
            << "level " << level << ": " << ::testing::PrintToString(shown.Copy());
    }
    EXPECT_EQ(shown.Copy().front(), 0) << "all off first";
}

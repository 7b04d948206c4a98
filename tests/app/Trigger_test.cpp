// The daily trigger on a clock the test moves: which ticks run the update
// pass, the latch, and the manual start. Without databases every pass fails
// at its first step, so each pass that runs shows exactly one error box.
#include "app/Unit1.h"
#include "tests/support/Fakes.h"
#include "tests/support/FormEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

class TriggerTest : public ::testing::Test {
protected:
    TForm1& Start(int hour) {
        std::ofstream(dir.File("setup.ini")) << "[set]\ngodzina=" << hour << "\n";
        form = std::make_unique<TForm1>(TestFormEnvironment(dir.Path(), clock, dialogs, "t"));
        dialogs.Shown.clear(); // the start-up box about the missing databases
        return *form;
    }
    // One tick at each time; returns the number of passes run.
    int Ticks(const std::vector<TDateTimeParts>& times) {
        const size_t before = Passes();
        for (const TDateTimeParts& t : times) {
            clock.Set(EncodeDateTime(t));
            form->Guard([this] { form->Timer1Timer(); });
        }
        return static_cast<int>(Passes() - before);
    }
    size_t Passes() const {
        size_t n = 0;
        for (const TShownBox& box : dialogs.Shown) n += box.Error ? 1 : 0;
        return n;
    }
    static TDateTimeParts At(int day, int h, int m, int s = 0) { return {2024, 3, day, h, m, s, 0}; }

    TTempDir dir;
    TFakeClock clock{EncodeDateTime({2024, 3, 5, 1, 0, 0, 0})};
    TFakeDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

TEST_F(TriggerTest, TheFailingPassIsThePassAndItsErrorIsShown) {
    Start(3);
    EXPECT_EQ(Ticks({At(5, 3, 5)}), 1);
    ASSERT_FALSE(dialogs.Shown.empty());
    // The pass first tries to connect what start-up could not: without a name that fails.
    EXPECT_NE(dialogs.Shown.back().Text.find("Database name is missing."), std::string::npos)
        << dialogs.Shown.back().Text;
}

// Each row: the update hour, the ticks of one run, how many passes they start.
struct TTickCase {
    const char* What;
    int Hour;
    std::vector<TDateTimeParts> Times;
    int Passes;
};

TEST_F(TriggerTest, StateTableOfTheLatch) {
    auto at = [](int day, int h, int m, int s = 0) { return TDateTimeParts{2024, 3, day, h, m, s, 0}; };
    const std::vector<TTickCase> cases = {
        {"first tick of 03:05 runs, the rest of the hour does not", 3,
         {at(5, 3, 4, 59), at(5, 3, 5, 0), at(5, 3, 5, 1), at(5, 3, 5, 59), at(5, 3, 30), at(5, 3, 59, 59)}, 1},
        {"04:00 releases the latch, the next day runs again", 3,
         {at(5, 3, 5), at(5, 4, 0), at(5, 23, 5), at(6, 3, 5), at(6, 3, 5, 1)}, 2},
        {"hour 0 runs at 00:05", 0, {at(5, 0, 4), at(5, 0, 5), at(5, 0, 6)}, 1},
        {"hour 24 never runs", 24, {at(5, 0, 5), at(5, 23, 5), at(6, 0, 5)}, 0},
        {"a start at HH:05:30 runs at the first tick", 3, {at(5, 3, 5, 30), at(5, 3, 5, 31)}, 1},
        {"minute 5 of another hour runs nothing", 3, {at(5, 2, 5), at(5, 4, 5), at(5, 13, 5)}, 0},
        {"a clock falling back within the hour repeats the hour: one pass", 3,
         {at(5, 3, 5), at(5, 3, 59, 59), at(5, 3, 0), at(5, 3, 5), at(5, 3, 6)}, 1},
        {"a clock skipping the update hour runs nothing that day", 3, {at(5, 2, 59, 59), at(5, 4, 0), at(5, 4, 5)}, 0},
        {"ticks missed during a long pass: no tick within minute 5, no pass", 3, {at(5, 3, 4, 50), at(5, 3, 6, 1)}, 0},
    };
    for (const TTickCase& c : cases) {
        Start(c.Hour);
        EXPECT_EQ(Ticks(c.Times), c.Passes) << c.What;
    }
}

TEST_F(TriggerTest, ManualStartNeitherTestsNorSetsTheLatch) {
    TForm1& f = Start(3);
    clock.Set(EncodeDateTime(At(5, 3, 5, 10)));
    EXPECT_FALSE(f.Guard([&] { f.Button1Click(); }));
    EXPECT_FALSE(f.f_blokady);
    // The timer's own pass still follows in the same minute.
    EXPECT_EQ(Ticks({At(5, 3, 5, 11)}), 1);
    EXPECT_TRUE(f.f_blokady) << "a failed daily pass leaves the latch set";
    EXPECT_EQ(Ticks({At(5, 3, 5, 12)}), 0);
    // ... and the button still runs a pass at once.
    const size_t before = Passes();
    f.Guard([&] { f.Button1Click(); });
    EXPECT_EQ(Passes(), before + 1);
    EXPECT_TRUE(f.f_blokady);
}

} // namespace

// Every run accounts for its time: what the harness says on standard error
// about a run that was short, stalled, reset or otherwise disturbed, and
// that it says nothing of a run that kept its time.
#include <gtest/gtest.h>

#include "case_helpers.h"
#include "e2e_runner_choice.h"
#include "report_check.h"

namespace {

using cases::dword;

TEST(RunAccountsEndToEnd, QuietSessionWarnsOfNothing)
{
    // Both kinds of buffer switch, three runs each; standard output is the
    // harness's usual one.
    for (int timeInfo : {1, 0}) {
        SCOPED_TRACE(timeInfo);
        const HarnessResult r =
            harnessRunner().run("3 400 -1 1\n", {cases::virtualDriver("Quiet", {{"TimeInfo", dword(timeInfo)}})});
        EXPECT_TRUE(reportsConsistent(r, 3, RunShape{}));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace

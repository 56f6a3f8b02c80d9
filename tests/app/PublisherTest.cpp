// The trace behind a publish's failure boxes: it never shows the password,
// and stays small however much a server says.
#include "Publisher.h"
#include "TraceLines.h"

#include <gtest/gtest.h>

TEST(MaskPassword, HidesThePasswordWhereverItStands) {
    struct Case {
        const char* line;
        const char* password;
        const char* shown;
    };
    const Case cases[] = {
        {"> PASS s3cret", "s3cret", "> PASS ********"},
        // The command is masked whole, whatever the password setting says.
        {"> PASS s3cret", "other", "> PASS ********"},
        {"> PASS ", "", "> PASS ********"},
        {"< 530 Password s3cret is wrong for s3cret", "s3cret",
         "< 530 Password ******** is wrong for ********"},
        {"< 230 Logged in.", "s3cret", "< 230 Logged in."},
        {"< 230 Logged in.", "", "< 230 Logged in."},
        {"> USER tester", "tester2", "> USER tester"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MaskPassword(c.line, c.password), c.shown) << c.line << " / " << c.password;
}

TEST(TraceLines, KeepsTheFirstAndLatestLinesAndCountsTheRest) {
    struct Case {
        int added;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {0, {}},
        {4, {"0", "1", "2", "3"}},
        {5, {"0", "1", "... 1 line left out ...", "3", "4"}},
        {100000, {"0", "1", "... 99996 lines left out ...", "99998", "99999"}},
    };
    for (const Case& c : cases) {
        TTraceLines trace(2);
        for (int i = 0; i < c.added; ++i) trace.Add(std::to_string(i));
        EXPECT_EQ(trace.Lines(), c.lines) << c.added;
        EXPECT_EQ(trace.Empty(), c.added == 0);
    }
    TTraceLines trace(2);
    trace.Add("a");
    trace.Add("b");
    trace.Add("c");
    EXPECT_EQ(trace.Text(), "a\nb\nc\n");
    trace.Clear();
    EXPECT_TRUE(trace.Empty());
}

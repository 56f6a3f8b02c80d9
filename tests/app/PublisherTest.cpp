// The trace behind a publish's failure boxes never shows the password.
#include "Publisher.h"

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

// The app tests run under the program's own application object, so that an
// exception escaping a handler meets the real general error handler.
#include "Application.h"
#include "DataDirScope.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    // Every publish records itself: never in the history of whoever runs the tests.
    DataDirScope data;
    return RUN_ALL_TESTS();
}

// main() for window tests: a display of the test's own (so that windows of tests running in
// parallel never cover each other), a QApplication on it, then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdio>

#include "virtual_display.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    testsupport::VirtualDisplay display(1920, 1080);
    if (!display.ok()) {
        fprintf(stderr, "cannot start a virtual display (Xvfb)\n");
        return 1;
    }
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}

#include <QApplication>
#include <gtest/gtest.h>

#include "test_env.h"

int main(int argc, char** argv) {
    tavrik::testing::SetDefaultTestEnvironment();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

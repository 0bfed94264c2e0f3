#include <QCoreApplication>
#include <gtest/gtest.h>

#include "test_env.h"

int main(int argc, char** argv) {
    tavrik::testing::SetDefaultTestEnvironment();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

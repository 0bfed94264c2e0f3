#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
#ifdef TAVRIK_BIN_DIR_DEFAULT
    if (qEnvironmentVariableIsEmpty("TAVRIK_BIN_DIR"))
        qputenv("TAVRIK_BIN_DIR", TAVRIK_BIN_DIR_DEFAULT);
    if (qEnvironmentVariableIsEmpty("TAVRIK_SOURCE_DIR"))
        qputenv("TAVRIK_SOURCE_DIR", TAVRIK_SOURCE_DIR_DEFAULT);
#endif
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

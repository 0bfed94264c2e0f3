#pragma once
// Puts the build's paths into the environment when ctest has not, so a test
// binary started by hand finds the programs and data it tests.
#include <QtGlobal>

namespace tavrik::testing {

inline void SetDefaultTestEnvironment() {
#ifdef TAVRIK_BIN_DIR_DEFAULT
    if (qEnvironmentVariableIsEmpty("TAVRIK_BIN_DIR"))
        qputenv("TAVRIK_BIN_DIR", TAVRIK_BIN_DIR_DEFAULT);
    if (qEnvironmentVariableIsEmpty("TAVRIK_SOURCE_DIR"))
        qputenv("TAVRIK_SOURCE_DIR", TAVRIK_SOURCE_DIR_DEFAULT);
#endif
}

} // namespace tavrik::testing

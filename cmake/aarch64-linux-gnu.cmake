# Cross-building for arm64 (Raspberry Pi OS 12, Debian 12 arm64) on an amd64
# Debian 12 machine with the arm64 development packages installed beside the
# amd64 ones (multiarch): scripts/package-arm64.sh installs them.
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Libraries and CMake package files come from /usr/lib/aarch64-linux-gnu (the
# compiler names the multiarch folder); programs run during the build (moc,
# rcc, uic) are the machine's own, from the amd64 Qt tools.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(QT_HOST_PATH /usr CACHE PATH "where the Qt tools that run on this machine live")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "their CMake package files")
# arm64 programs run during the build (GoogleTest's test discovery) and in
# scripts/test-arm64.sh go through user-mode emulation.
find_program(TAVRIK_QEMU_AARCH64 qemu-aarch64-static)
if(TAVRIK_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVRIK_QEMU_AARCH64})
endif()

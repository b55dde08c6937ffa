# 64-bit ARM (arm64, aarch64): a Raspberry Pi 3, 4, 5, 400 or Zero 2 W with a 64-bit system.
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/arm64.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ZUNDREL_TRIPLET aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

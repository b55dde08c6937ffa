# 32-bit ARM with hardware floating point (armhf), ARMv7 and later as Debian builds it: a Raspberry
# Pi 2, or a 32-bit system on a newer one; not the ARMv6 Pi 1, Zero and Zero W. 32-bit long and
# size_t, and char is unsigned.
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(ZUNDREL_TRIPLET arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

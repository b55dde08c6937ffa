# Cross-builds the Linux program for another Debian architecture with Debian's cross toolchain
# (crossbuild-essential-ARCH) and that architecture's -dev packages installed beside the native ones
# (multiarch). Not used directly: cmake/arm64.cmake and cmake/armhf.cmake name the architecture.
# Programs built this way run here under qemu-user (tests/cross/ tells how).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ZUNDREL_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZUNDREL_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZUNDREL_TRIPLET})

# pkg-config reads the architecture's own .pc files, never the native ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ZUNDREL_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

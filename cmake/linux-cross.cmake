# Cross-builds the Linux program for another Debian architecture with Debian's cross toolchain
# (crossbuild-essential-ARCH) and that architecture's -dev packages installed beside the native ones
# (multiarch). Not used directly: cmake/arm64.cmake and cmake/armhf.cmake name the architecture.
# Programs built this way run here under qemu-user (package qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ZUNDREL_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZUNDREL_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZUNDREL_TRIPLET})

# pkg-config reads the architecture's own .pc files, never the native ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ZUNDREL_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

# Run under qemu with the architecture's own libraries installed beside the native ones (libc6:ARCH,
# libstdc++6:ARCH): the loader and the C library then come from one package. The cross toolchain's
# copies (/usr/TRIPLET/lib) may be of another build than the multiarch libudev's C library, and a
# loader of one build with a C library of another crashes in pthread_create.
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZUNDREL_QEMU})

# Cross build for arm64 Linux with Debian 12's multiarch packages
# (scripts/install-deps-arm64.sh installs them):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# The arm64 libraries live beside the native ones under /usr/lib/aarch64-linux-gnu,
# so there is no sysroot: the library architecture alone makes find_package()
# pick Qt's arm64 CMake packages. Those name the native moc, rcc and uic
# (/usr/lib/qt5/bin), which generate the same code for either architecture.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Programs of the build (the beep generator) and the tests run under user-mode
# emulation. Plain qemu-aarch64 loads the multiarch dynamic loader and
# libraries; giving it -L /usr/aarch64-linux-gnu would mix the cross
# toolchain's C library with the multiarch one, and threads then never start.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

# pkg-config's wrapper for the triplet reads the arm64 .pc files; the plain one
# would hand the cross build the native include directories.
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config)

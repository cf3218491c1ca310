# Cross build for arm64 Linux with Debian 12's multiarch packages
# (scripts/install-deps-cross.sh arm64 installs them), set up as a board SDK's
# toolchain file is: compilers and where to find things, but no emulator, so
# nothing built for the board can run during the build.
#   cmake -S . -B build-board -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu-sdk.cmake -DBUILD_TESTING=OFF
# The arm64 libraries live beside the native ones under /usr/lib/aarch64-linux-gnu,
# so there is no sysroot: the library architecture alone makes find_package()
# pick Qt's arm64 CMake packages. Those name the native moc, rcc and uic
# (/usr/lib/qt5/bin), which generate the same code for either architecture.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# pkg-config's wrapper for the triplet reads the arm64 .pc files; the plain one
# would hand the cross build the native include directories.
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config)

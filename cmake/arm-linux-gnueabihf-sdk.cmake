# Cross build for 32-bit ARM Linux (ARMv7, hard float) with Debian's multiarch
# packages (scripts/install-deps-cross.sh armhf installs them), set up as a
# board SDK's toolchain file is: compilers and where to find things, but no
# emulator, so nothing built for the board can run during the build.
#   cmake -S . -B build-board -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf-sdk.cmake -DBUILD_TESTING=OFF
# As for arm64, the armhf libraries live beside the native ones, under
# /usr/lib/arm-linux-gnueabihf, and the native moc, rcc and uic serve the build.
# The project builds with 64-bit time and file offsets on every 32-bit target
# (see the top CMakeLists.txt); Debian 12's armhf libraries keep 32-bit time.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

set(PKG_CONFIG_EXECUTABLE arm-linux-gnueabihf-pkg-config)

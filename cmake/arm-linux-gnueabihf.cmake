# Cross build for 32-bit ARM Linux that also runs the tests, under user-mode
# emulation:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
# Everything but the emulator comes from the SDK-like file beside this one.
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-gnueabihf-sdk.cmake)

# Plain qemu-arm, for the same reason as qemu-aarch64: the multiarch loader
# and libraries, never the cross toolchain's C library.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

# Cross build for arm64 Linux that also runs the tests, under user-mode
# emulation:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# Everything but the emulator comes from the SDK-like file beside this one.
include(${CMAKE_CURRENT_LIST_DIR}/aarch64-linux-gnu-sdk.cmake)

# The tests run under user-mode emulation. Plain qemu-aarch64 loads the
# multiarch dynamic loader and libraries; giving it -L /usr/aarch64-linux-gnu
# would mix the cross toolchain's C library with the multiarch one, and threads
# then never start.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

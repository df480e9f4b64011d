# Cross build for 64-bit ARM Linux with Debian's aarch64 cross compilers.
# Test programs run under qemu-user (Debian's qemu-user), which finds the
# target's shared libraries in the cross compilers' folder.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ZARVO_CROSS_PREFIX aarch64-linux-gnu)
find_program(CMAKE_C_COMPILER NAMES ${ZARVO_CROSS_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZARVO_CROSS_PREFIX}-g++ REQUIRED)

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZARVO_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZARVO_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(ZARVO_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${ZARVO_QEMU_AARCH64} -L /usr/${ZARVO_CROSS_PREFIX})
endif()

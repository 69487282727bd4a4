# Cross build for the board: 32-bit big-endian PowerPC, Debian's cross compiler.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

set(HWREGS_PPC_SYSROOT /usr/powerpc-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${HWREGS_PPC_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 64-bit time and file offsets on the 32-bit target.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")

# Tests run on the emulated target.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc-static -L ${HWREGS_PPC_SYSROOT})

# The board's kernel runs 4 KiB pages: segments aligned to 4 KiB rather than
# the toolchain's 64 KiB keep the padding between them out of the flash.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=0x1000")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=0x1000")

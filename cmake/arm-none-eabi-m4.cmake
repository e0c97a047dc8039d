# Cross-compiling for an Arm Cortex-M4 with its single-precision FPU
# (Debian packages gcc-arm-none-eabi, libnewlib-arm-none-eabi and
# libstdc++-arm-none-eabi-newlib). Used by the m4 preset, which builds only
# what belongs on a device: the detector, the recording reader, and the
# programs of embedded/ that run under QEMU.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
# No start-up code or linker script is known yet when CMake tries the
# compiler, so it should not try to link.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Hard-float calling convention on the FPv4-SP unit: single precision in
# hardware, double precision in software (libgcc). Each function in its own
# section, so that the link keeps only what is called.
set(VELMORA_M4_FLAGS "-mcpu=cortex-m4 -mthumb -mfloat-abi=hard -mfpu=fpv4-sp-d16")
set(CMAKE_C_FLAGS_INIT "${VELMORA_M4_FLAGS} -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "${VELMORA_M4_FLAGS} -ffunction-sections -fdata-sections")
set(CMAKE_ASM_FLAGS_INIT "${VELMORA_M4_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${VELMORA_M4_FLAGS} -Wl,--gc-sections")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(VELMORA_TARGET_M4 ON CACHE BOOL "Building for the Cortex-M4 (set by the toolchain file)" FORCE)

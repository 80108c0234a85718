# Cross-building the Windows (x86-64) programs with Debian's mingw-w64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# scripts/build_windows.sh does this and checks the result.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMI_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMI_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${LUMI_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${LUMI_MINGW_PREFIX}-windres)

# Headers and libraries come from the cross sysroot only; programs (the
# build's own tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${LUMI_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static: the .exe needs only DLLs that every Windows has (KERNEL32,
# msvcrt, WSOCK32, IPHLPAPI), no libstdc++, libgcc or winpthread beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Cross-building against Qt for Windows with Debian's mingw-w64, posix
# threading variant (the system default, x86_64-w64-mingw32-g++, is the
# win32 variant, whose libstdc++ lacks std::thread and std::mutex, which Qt
# needs). The compiler's runtime (libstdc++, libgcc_s, libwinpthread) stays
# in DLLs: one copy for Qt's DLLs and the program alike.
# scripts/build_qt_windows.sh builds Qt with this file and installs a copy
# with it; programs are built against that Qt through its qt-cmake. That
# copy must stand alone, so this file repeats the sysroot settings of
# mingw-w64-x86_64.cmake instead of including it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMI_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMI_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMI_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMI_MINGW_PREFIX}-windres)

# Headers and libraries from the cross sysroot only; programs (the build's
# own tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${LUMI_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

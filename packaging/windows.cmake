# The Windows zip, in the usual layout of a Qt program: lumidesk.exe and
# lumiload.exe with the Qt and compiler-runtime DLLs beside them, the Qt
# plugins in platforms/, styles/ and imageformats/, licence texts in
# licenses/. Qt is linked as DLLs (LGPL: a user may replace them with their
# own build of Qt 6.4); licenses/qt/BUILD.txt says how these were built.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME lumi-${CPACK_PACKAGE_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

# Statically linked and checked by scripts/build_windows.sh: it needs no DLL.
set(LUMI_WINDOWS_LUMILOAD "${PROJECT_SOURCE_DIR}/build-win/bin/lumiload.exe"
    CACHE FILEPATH "lumiload.exe for the Windows package")

install(TARGETS lumidesk RUNTIME DESTINATION .)
install(PROGRAMS ${LUMI_WINDOWS_LUMILOAD} DESTINATION .)
install(DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/icons DESTINATION .)
configure_file(README-Windows.txt README-Windows.txt NEWLINE_STYLE CRLF)
configure_file(add-firewall-rule.cmd add-firewall-rule.cmd NEWLINE_STYLE CRLF)
configure_file(lumidesk.cmd lumidesk.cmd NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README-Windows.txt ${CMAKE_CURRENT_BINARY_DIR}/add-firewall-rule.cmd
        ${CMAKE_CURRENT_BINARY_DIR}/lumidesk.cmd DESTINATION .)

# Plugins Qt loads at run time, which no import table names: the Windows
# platform, the native widget style and the .ico reader (the icons).
find_package(Qt6 REQUIRED COMPONENTS Gui Widgets)
set(plugins $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>
            $<TARGET_FILE:Qt6::QICOPlugin>)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
install(FILES $<TARGET_FILE:Qt6::QICOPlugin> DESTINATION imageformats)

# The DLLs those files import, from Qt's and the compiler's folders; then
# every program and DLL stripped (windows_dlls.cmake, after the other files).
get_filename_component(qt_prefix ${Qt6_DIR}/../../.. ABSOLUTE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
                OUTPUT_VARIABLE winpthread OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(gcc_dll_dir ${libstdcxx} DIRECTORY)
get_filename_component(pthread_dll_dir ${winpthread} DIRECTORY)

# Licence texts: Qt's (LGPL-3.0 and the rest of its LICENSES folder), GCC's
# runtime library exception, mingw-w64's winpthreads.
install(DIRECTORY ${qt_prefix}/licenses/qt DESTINATION licenses)
install(FILES ${qt_prefix}/share/lumi-qt-build.txt DESTINATION licenses/qt RENAME BUILD.txt)
install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright DESTINATION licenses RENAME gcc-runtime.txt)
install(FILES /usr/share/doc/mingw-w64-x86-64-dev/copyright DESTINATION licenses RENAME mingw-w64-winpthreads.txt)

install(CODE "
  set(LUMI_DLL_FILES $<TARGET_FILE:lumidesk> ${plugins})
  set(LUMI_DLL_DIRS ${qt_prefix}/bin ${gcc_dll_dir} ${pthread_dll_dir})
  set(LUMI_OBJDUMP ${CMAKE_OBJDUMP})
  set(LUMI_STRIP ${CMAKE_STRIP})
  include(${CMAKE_CURRENT_SOURCE_DIR}/windows_dlls.cmake)
")

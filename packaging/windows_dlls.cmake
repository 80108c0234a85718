# Install step of the Windows zip: copies the DLLs that the programs and
# plugins import, and the imports of those in turn, from LUMI_DLL_DIRS
# (matched without regard to case, as Windows does); a DLL found in none of
# them is part of Windows. Then strips every program and DLL of the package.
#   LUMI_DLL_FILES  the .exe and plugin files to start from
#   LUMI_DLL_DIRS   Qt's bin folder and the compiler's runtime folders
#   LUMI_OBJDUMP, LUMI_STRIP  the mingw-w64 tools
set(available "")
foreach(dir ${LUMI_DLL_DIRS})
  file(GLOB dlls ${dir}/*.dll)
  list(APPEND available ${dlls})
endforeach()

set(queue ${LUMI_DLL_FILES})
set(found "")
while(queue)
  list(POP_FRONT queue file)
  execute_process(COMMAND ${LUMI_OBJDUMP} -p ${file} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  foreach(import ${imports})
    string(REPLACE "DLL Name: " "" import "${import}")
    string(TOLOWER "${import}" import)
    foreach(dll ${available})
      get_filename_component(name ${dll} NAME)
      string(TOLOWER "${name}" name)
      list(FIND found ${dll} seen)
      if(name STREQUAL import AND seen EQUAL -1)
        list(APPEND found ${dll})
        list(APPEND queue ${dll})
      endif()
    endforeach()
  endforeach()
endwhile()
file(INSTALL ${found} DESTINATION ${CMAKE_INSTALL_PREFIX})

file(GLOB_RECURSE binaries $ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/*.exe $ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/*.dll)
execute_process(COMMAND ${LUMI_STRIP} --strip-unneeded ${binaries} COMMAND_ERROR_IS_FATAL ANY)

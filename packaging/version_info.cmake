# Windows version information and the window's icon in a program file, as
# Explorer (Properties > Details), the taskbar and Apps & Features show them:
#   include(${PROJECT_SOURCE_DIR}/packaging/version_info.cmake)
#   lumi_version_info(TARGET "File description")
# The icon is drawn from lumidesk/icons/logo.svg into the target's build
# folder and built in as IDI_ICON1, the name Qt's window class takes; without
# rsvg-convert and ImageMagick the file gets the version information only.
# File and product version: PROJECT_VERSION, missing parts as 0.
enable_language(RC)
set(LUMI_VERSION_INFO_DIR ${CMAKE_CURRENT_LIST_DIR})

function(lumi_version_info target description)
  set(LUMI_RC_DESCRIPTION "${description}")
  set(LUMI_RC_NAME ${target})
  set(LUMI_RC_NUMBERS "")
  foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      list(APPEND LUMI_RC_NUMBERS 0)
    else()
      list(APPEND LUMI_RC_NUMBERS ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  string(REPLACE ";" "," LUMI_RC_NUMBERS "${LUMI_RC_NUMBERS}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  set(ico ${CMAKE_CURRENT_BINARY_DIR}/${target}_icon.ico)
  set(svg ${LUMI_VERSION_INFO_DIR}/../lumidesk/icons/logo.svg)
  find_program(RSVG_CONVERT rsvg-convert)
  find_program(IMAGEMAGICK_CONVERT NAMES convert magick)
  set(LUMI_RC_ICON "")
  if(RSVG_CONVERT AND IMAGEMAGICK_CONVERT)
    add_custom_command(
      OUTPUT ${ico}
      COMMAND ${RSVG_CONVERT} -w 256 -h 256 -o ${target}_icon.png ${svg}
      COMMAND ${IMAGEMAGICK_CONVERT} ${target}_icon.png -define icon:auto-resize=256,64,48,32,16 ${ico}
      DEPENDS ${svg}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      VERBATIM)
    set(LUMI_RC_ICON "IDI_ICON1 ICON \"${ico}\"")
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${ico})
    target_sources(${target} PRIVATE ${ico})
  else()
    message(WARNING "rsvg-convert or ImageMagick missing: ${target}.exe is built without its icon")
  endif()
  configure_file(${LUMI_VERSION_INFO_DIR}/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# The .deb, laid out as Debian's policy asks of any package:
#   /usr/bin              lumiload, vfixture, make_alf, and lumidesk (a
#                         script that starts the window, see lumidesk.sh)
#   /usr/lib/lumi         the window's program, with a link to
#                         /usr/bin/lumiload beside it, where it looks
#   /usr/share/lumi       the icons the window reads from its working folder
#   /usr/share/doc/lumi   copyright (machine-readable) and changelog.gz
#   /usr/share/man/man1   a manual page per command, gzipped
# plus the desktop entry and its icon. `lintian` reports nothing on it (the
# package test checks).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the Qt and C++ libraries the programs link; apt
# installs them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack indents these
# lines and turns their empty lines into " .".
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/debian/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)

set(lumi_lib usr/lib/lumi)
set(lumi_share usr/share/lumi)
set(lumi_doc usr/share/doc/lumi)

install(TARGETS lumiload vfixture make_alf RUNTIME DESTINATION usr/bin)
install(TARGETS lumidesk RUNTIME DESTINATION ${lumi_lib})
install(PROGRAMS lumidesk.sh DESTINATION usr/bin RENAME lumidesk)
set(link_dir ${CMAKE_CURRENT_BINARY_DIR}/links)
file(MAKE_DIRECTORY ${link_dir})
file(CREATE_LINK ../../bin/lumiload ${link_dir}/lumiload SYMBOLIC)
install(FILES ${link_dir}/lumiload DESTINATION ${lumi_lib})

install(DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/icons DESTINATION ${lumi_share} OPTIONAL)
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/icons/logo.png
        DESTINATION usr/share/icons/hicolor/256x256/apps RENAME lumidesk.png OPTIONAL)
install(FILES lumidesk.desktop DESTINATION usr/share/applications)

# The changelog names the version it describes first; a release that
# forgets it would ship a changelog of the one before.
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^lumi \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog does not begin with 'lumi (${PROJECT_VERSION}) ': "
                      "add an entry for this version on top")
endif()

# Debian wants the changelog and the manual pages compressed with gzip -9n
# (no name, no time stamp: the same bytes on every build).
set(gz_dir ${CMAKE_CURRENT_BINARY_DIR}/gz)
set(gz_files)
function(lumi_gzip source name)
  set(copy ${gz_dir}/${name})
  add_custom_command(
    OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gz_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${source}
    VERBATIM)
  set(gz_files ${gz_files} ${copy}.gz PARENT_SCOPE)
endfunction()

lumi_gzip(${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog changelog)
install(FILES ${gz_dir}/changelog.gz debian/copyright DESTINATION ${lumi_doc})

# The manual pages carry the version of the build.
foreach(program lumiload lumidesk vfixture make_alf)
  configure_file(man/${program}.1 ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1 @ONLY)
  lumi_gzip(${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1 ${program}.1)
  install(FILES ${gz_dir}/${program}.1.gz DESTINATION usr/share/man/man1)
endforeach()
add_custom_target(lumi_debian_docs ALL DEPENDS ${gz_files})

# The .deb: the programs in /opt/lumi, commands in /usr/bin, and a desktop
# entry that starts the window in /opt/lumi so that it finds ./lumiload.
set(lumi_dir opt/lumi)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# dpkg-shlibdeps names the Qt and C++ libraries the programs link; apt
# installs them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

install(TARGETS lumidesk lumiload vfixture make_alf RUNTIME DESTINATION ${lumi_dir})
install(DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/icons DESTINATION ${lumi_dir} OPTIONAL)
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/icons/logo.png
        DESTINATION usr/share/icons/hicolor/256x256/apps RENAME lumidesk.png OPTIONAL)
install(FILES lumidesk.desktop DESTINATION usr/share/applications)

# /usr/bin/lumidesk changes into /opt/lumi first; the console programs are
# links to their files there.
install(PROGRAMS lumidesk.sh DESTINATION usr/bin RENAME lumidesk)
set(link_dir ${CMAKE_CURRENT_BINARY_DIR}/links)
file(MAKE_DIRECTORY ${link_dir})
foreach(program lumiload vfixture make_alf)
  file(CREATE_LINK /${lumi_dir}/${program} ${link_dir}/${program} SYMBOLIC)
  install(FILES ${link_dir}/${program} DESTINATION usr/bin)
endforeach()

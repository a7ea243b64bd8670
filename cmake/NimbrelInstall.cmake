# `cmake --install` in the usual prefix layout: the programs in bin, the players beside the
# editor where it looks for them (lib/nimbrel, with a link from bin), the guide and the icons in
# share, and the desktop entry with the project MIME type, so that a double-click on a .nssp
# file opens the editor.
include(GNUInstallDirs)
if(WIN32)
  return()
endif()

set(NIMBREL_LIBEXEC_DIR ${CMAKE_INSTALL_LIBDIR}/nimbrel)
if(TARGET nimbrel)
  # The editor runs from lib/nimbrel, beside its players; bin holds a link to it.
  install(TARGETS nimbrel RUNTIME DESTINATION ${NIMBREL_LIBEXEC_DIR})
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK \"../${NIMBREL_LIBEXEC_DIR}/nimbrel\"
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/nimbrel\" SYMBOLIC)")
endif()
if(TARGET nimbrel-cli)
  install(TARGETS nimbrel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The players come from the mingw-w64 builds; whatever of them was built is installed.
foreach(player stub.bin flash.bin nimbrel-cli.exe)
  install(FILES ${NIMBREL_BIN_DIR}/${player} DESTINATION ${NIMBREL_LIBEXEC_DIR} OPTIONAL)
endforeach()
# The Flash recorder's player package (./nimbrel.sh puts it into build/ruffle), beside the
# players, where the build looks for it.
install(DIRECTORY ${CMAKE_BINARY_DIR}/ruffle/ DESTINATION ${NIMBREL_LIBEXEC_DIR}/ruffle OPTIONAL)
if(TARGET nimbrel_help)
  # Beside the editor, where F1 looks first, and in the shared data folder.
  install(DIRECTORY ${NIMBREL_BIN_DIR}/help DESTINATION ${NIMBREL_LIBEXEC_DIR})
  install(DIRECTORY ${NIMBREL_BIN_DIR}/help DESTINATION ${CMAKE_INSTALL_DATADIR}/nimbrel)
endif()
if(NIMBREL_GUI)
  install(FILES ${CMAKE_SOURCE_DIR}/share/nimbrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/share/nimbrel-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
          RENAME nimbrel.xml)
  install(FILES ${CMAKE_SOURCE_DIR}/src/ui/icons/nimbrel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_SOURCE_DIR}/src/ui/icons/nimbrel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/mimetypes
          RENAME application-x-nimbrel-project.svg)
  # The desktop's caches learn of the new files when the tools are there (not under DESTDIR).
  install(CODE "
    if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
      find_program(update_mime update-mime-database)
      if(update_mime)
        execute_process(COMMAND \${update_mime} \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/mime\")
      endif()
      find_program(update_desktop update-desktop-database)
      if(update_desktop)
        execute_process(COMMAND \${update_desktop} \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\")
      endif()
    endif()")
endif()

# What `cmake --install` puts where: the program, its manual page and its documentation. Only
# what is named here is installed; the test helpers (the Wayland test keyboard and the rest) have
# no install rule, and tests/install/check_install.sh fails if one appears.
include(GNUInstallDirs)

install(TARGETS focusprobe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/focusprobe.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(
  FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/linux.md ${PROJECT_SOURCE_DIR}/docs/macos.md
        ${PROJECT_SOURCE_DIR}/docs/architecture.md ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A data file installed as it is: its path in the source tree, then its folder under the data
# root (share/), e.g. focusprobe_install_data(packaging/linux/focusprobe.desktop applications).
function(focusprobe_install_data file folder)
  install(FILES ${PROJECT_SOURCE_DIR}/${file} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/${folder})
endfunction()

# Installed data files, one line each.

# KWin (KDE Plasma) offers its fake input and its window list only to the program a desktop
# entry names by its absolute path, so Exec= is written when the prefix is known: at install
# time, which is also when the Debian package's /usr takes the place of the configured prefix.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(CODE "
  set(FOCUSPROBE_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/focusprobe\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/linux/focusprobe.desktop.in\"
                 \"${PROJECT_BINARY_DIR}/packaging/focusprobe.desktop\" @ONLY)")
  install(FILES ${PROJECT_BINARY_DIR}/packaging/focusprobe.desktop
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
endif()

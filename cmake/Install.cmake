# What `cmake --install` (any prefix, DESTDIR respected) and the Debian package put on the
# system: the program, its desktop entry with a panel action, AppStream metadata, icons, the
# session-bus service that starts Brindell for `brindell ctl`, the man page and bash completion.
include(GNUInstallDirs)

set(BRINDELL_APP_ID com.quorvel.taskor.brindell)
set(BRINDELL_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

install(TARGETS brindell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${BRINDELL_DATA_DIR}/${BRINDELL_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${BRINDELL_DATA_DIR}/${BRINDELL_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${BRINDELL_DATA_DIR}/${BRINDELL_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The tray's own drawing, for desktops and panels that look the symbolic icon up by name.
install(FILES ${PROJECT_SOURCE_DIR}/src/shell/resources/MenuBarIcon.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/symbolic/apps
    RENAME ${BRINDELL_APP_ID}-symbolic.svg)
install(FILES ${BRINDELL_DATA_DIR}/brindell.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME brindell)

# The man page carries the version and goes compressed, as Debian wants it.
configure_file(${BRINDELL_DATA_DIR}/brindell.1 ${CMAKE_BINARY_DIR}/generated/brindell.1 @ONLY)
find_program(GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/generated/brindell.1.gz
    COMMAND ${GZIP} -9nf -k ${CMAKE_BINARY_DIR}/generated/brindell.1
    DEPENDS ${CMAKE_BINARY_DIR}/generated/brindell.1
    COMMENT "Compressing the man page")
add_custom_target(brindell_man ALL DEPENDS ${CMAKE_BINARY_DIR}/generated/brindell.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/generated/brindell.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The bus needs the program's absolute path, which is only known when installing: the prefix
# may be changed then (cmake --install --prefix, cpack).
set(BRINDELL_SERVICE_FILE ${CMAKE_BINARY_DIR}/install-generated/${BRINDELL_APP_ID}.service)
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
    set(BRINDELL_PROGRAM_AT_INSTALL "${CMAKE_INSTALL_BINDIR}/brindell")
else()
    set(BRINDELL_PROGRAM_AT_INSTALL "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/brindell")
endif()
install(CODE "
    set(BRINDELL_PROGRAM \"${BRINDELL_PROGRAM_AT_INSTALL}\")
    configure_file(\"${BRINDELL_DATA_DIR}/${BRINDELL_APP_ID}.service.in\"
        \"${BRINDELL_SERVICE_FILE}\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/dbus-1/services\"
        TYPE FILE FILES \"${BRINDELL_SERVICE_FILE}\")
")

include(${PROJECT_SOURCE_DIR}/cmake/Package.cmake)

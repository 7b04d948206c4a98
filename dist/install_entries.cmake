# Run by `cmake --install`: writes the menu entry, the autostart entry, the
# systemd user units and the manual page for the prefix of this install and
# installs them. The caller sets OSTRAKEL_SOURCE_DIR, OSTRAKEL_BINARY_DIR,
# OSTRAKEL_VERSION, OSTRAKEL_USER_UNIT_DIR and the configure-time
# CMAKE_INSTALL_<dir> names; CMAKE_INSTALL_PREFIX is the install-time prefix.
include(GNUInstallDirs)

set(OSTRAKEL_BIN "${CMAKE_INSTALL_FULL_BINDIR}/ostrakel")
set(OSTRAKEL_DOC "${CMAKE_INSTALL_FULL_DATADIR}/doc/ostrakel")
# /etc/xdg/autostart for the prefix /usr, where every desktop looks.
set(OSTRAKEL_AUTOSTART_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart")
if(IS_ABSOLUTE "${OSTRAKEL_USER_UNIT_DIR}")
  set(OSTRAKEL_UNIT_DIR "${OSTRAKEL_USER_UNIT_DIR}")
else()
  string(REGEX REPLACE "/+$" "" _prefix "${CMAKE_INSTALL_PREFIX}")
  set(OSTRAKEL_UNIT_DIR "${_prefix}/${OSTRAKEL_USER_UNIT_DIR}")
endif()

# Settings and monthly logs live in ~/.config/ostrakel. The menu entry makes
# that folder, so a first start shows what is missing in it; the autostart
# entry, read for every user of the machine, starts the tray program only for
# the users who have put a setup.ini there.
set(_dir [=[\\"\\$HOME/.config/ostrakel\\"]=])
set(_ini [=[\\"\\$HOME/.config/ostrakel/setup.ini\\"]=])
set(_out "${OSTRAKEL_BINARY_DIR}/installed")

set(OSTRAKEL_EXEC "sh -c \"mkdir -p ${_dir} && exec ${OSTRAKEL_BIN} --dir ${_dir}\"")
set(OSTRAKEL_DESKTOP_EXTRA "")
configure_file("${OSTRAKEL_SOURCE_DIR}/ostrakel.desktop.in" "${_out}/ostrakel.desktop" @ONLY)
set(OSTRAKEL_EXEC "sh -c \"test -f ${_ini} && exec ${OSTRAKEL_BIN} --tray --dir ${_dir}\"")
set(OSTRAKEL_DESKTOP_EXTRA "X-GNOME-Autostart-enabled=true")
configure_file("${OSTRAKEL_SOURCE_DIR}/ostrakel.desktop.in" "${_out}/autostart/ostrakel.desktop" @ONLY)
configure_file("${OSTRAKEL_SOURCE_DIR}/ostrakel.service.in" "${_out}/ostrakel.service" @ONLY)
configure_file("${OSTRAKEL_SOURCE_DIR}/ostrakel.1.in" "${_out}/ostrakel.1" @ONLY)
# -n: no name or time stamp inside, so the same page gives the same bytes.
execute_process(COMMAND gzip -9nc "${_out}/ostrakel.1" OUTPUT_FILE "${_out}/ostrakel.1.gz"
                RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "gzip of the manual page failed: ${_rc}")
endif()

file(INSTALL DESTINATION "${CMAKE_INSTALL_FULL_DATADIR}/applications" TYPE FILE FILES "${_out}/ostrakel.desktop")
file(INSTALL DESTINATION "${OSTRAKEL_AUTOSTART_DIR}" TYPE FILE FILES "${_out}/autostart/ostrakel.desktop")
file(INSTALL DESTINATION "${OSTRAKEL_UNIT_DIR}" TYPE FILE
     FILES "${_out}/ostrakel.service" "${OSTRAKEL_SOURCE_DIR}/ostrakel.timer")
file(INSTALL DESTINATION "${CMAKE_INSTALL_FULL_MANDIR}/man1" TYPE FILE FILES "${_out}/ostrakel.1.gz")

# The installed layout of the Debian package, which scripts/package-deb
# makes with cpack from any build folder: the package installs below /usr,
# whatever CMAKE_INSTALL_PREFIX says, and its unit and autostart entry name
# /usr/lib/vorlix-monitor. The programs and the libraries they load stay
# together in that one private folder, where each finds the others beside
# itself (RUNPATH $ORIGIN; the hook library and the Wayland module are loaded
# from the executable's own folder, links resolved); /usr/bin holds links to
# the two programs.
include(GNUInstallDirs)

set(private_dir lib/vorlix-monitor)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(staged ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS vorlix-monitor vorlix-records RUNTIME DESTINATION ${private_dir})
install(TARGETS vorlix_hook vorlix_wayland LIBRARY DESTINATION ${private_dir}
  NAMELINK_SKIP)
install(PROGRAMS ${packaging}/vorlix-monitor-session DESTINATION ${private_dir})
file(MAKE_DIRECTORY ${staged}/bin)
foreach(program vorlix-monitor vorlix-records)
  file(CREATE_LINK ../${private_dir}/${program} ${staged}/bin/${program} SYMBOLIC)
  install(FILES ${staged}/bin/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# Started with the session: the user unit, and the autostart entry that an
# administrator or a user copies where their desktop looks for one.
install(FILES ${packaging}/vorlix-monitor.service DESTINATION lib/systemd/user)
install(FILES ${packaging}/vorlix-monitor.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/vorlix-monitor)

# GNOME Shell loads one folder per extension uuid, so the package holds the
# extension in the form that the GNOME Shell of the release it is built for
# loads (VORLIX_GNOME_SHELL: its major version, found from dpkg or apt when
# not given), written by the extension's own installer.
function(vorlix_gnome_shell_major out)
  execute_process(COMMAND dpkg-query -W -f=\${Version} gnome-shell
    OUTPUT_VARIABLE version ERROR_QUIET)
  if(NOT version)
    execute_process(COMMAND apt-cache policy gnome-shell
      OUTPUT_VARIABLE policy ERROR_QUIET)
    string(REGEX MATCH "Candidate: ([0-9]+)" version "${policy}")
    set(version "${CMAKE_MATCH_1}")
  endif()
  string(REGEX MATCH "^[0-9]+" major "${version}")
  set(${out} "${major}" PARENT_SCOPE)
endfunction()

if(NOT VORLIX_GNOME_SHELL)
  vorlix_gnome_shell_major(found_major)
  set(VORLIX_GNOME_SHELL "${found_major}" CACHE STRING
    "GNOME Shell major version whose extension form the package holds")
endif()
set(extension_source ${PROJECT_SOURCE_DIR}/platform/wayland/gnome-shell)
file(GLOB extension_files ${extension_source}/*)
set(extensions ${staged}/gnome-shell-extensions)
set(extension_uuid vorlix-monitor@vorlix.org)
if(VORLIX_GNOME_SHELL)
  add_custom_command(OUTPUT ${extensions}/${extension_uuid}/metadata.json
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${extensions}
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/install-gnome-extension
      --into ${extensions} ${VORLIX_GNOME_SHELL}
    DEPENDS ${extension_files} ${PROJECT_SOURCE_DIR}/scripts/install-gnome-extension
    VERBATIM)
  add_custom_target(vorlix_gnome_extension ALL
    DEPENDS ${extensions}/${extension_uuid}/metadata.json)
  install(DIRECTORY ${extensions}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions)
else()
  message(WARNING "GNOME Shell's version on this release is unknown (no gnome-shell "
    "package installed or known to apt; set VORLIX_GNOME_SHELL): the package "
    "holds no GNOME Shell extension")
endif()

# Manual pages and documentation, compressed as Debian's policy asks
# (gzip -n: no name or time stamp, so that equal input gives equal files).
find_program(GZIP gzip REQUIRED)
set(compressed)
foreach(page vorlix-monitor.1 vorlix-records.1)
  add_custom_command(OUTPUT ${staged}/${page}.gz
    COMMAND sh -c "${GZIP} -9nc \"$1\" > \"$2\"" gzip ${packaging}/${page} ${staged}/${page}.gz
    DEPENDS ${packaging}/${page} VERBATIM)
  list(APPEND compressed ${staged}/${page}.gz)
  install(FILES ${staged}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The README's parts for users, from its first line to the section on
# building for Windows and from the options on (see the markers in it).
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/vorlix-monitor)
add_custom_command(OUTPUT ${staged}/README.md.gz
  COMMAND sh -c "sed -e '/<!-- not for users -->/,/<!-- for users -->/d' \"$1\" | ${GZIP} -9nc > \"$2\""
    readme ${PROJECT_SOURCE_DIR}/README.md ${staged}/README.md.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/README.md VERBATIM)
add_custom_command(OUTPUT ${staged}/changelog.gz
  COMMAND sh -c "${GZIP} -9nc \"$1\" > \"$2\"" gzip ${staged}/changelog ${staged}/changelog.gz
  DEPENDS ${staged}/changelog VERBATIM)
list(APPEND compressed ${staged}/README.md.gz ${staged}/changelog.gz)
add_custom_target(vorlix_package_files ALL DEPENDS ${compressed})
install(FILES ${staged}/README.md.gz ${staged}/changelog.gz
  ${packaging}/debian/copyright DESTINATION ${docdir})
install(FILES ${packaging}/settings.example DESTINATION ${docdir}/examples
  RENAME settings)
install(FILES ${packaging}/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME vorlix-monitor)

# The package, for the release it is built on.
execute_process(COMMAND dpkg --print-architecture
  OUTPUT_VARIABLE deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
# The release in the version (0.1~deb12), so that the packages built for two
# releases, whose dependencies differ, are told apart.
function(vorlix_os_release field out)
  file(STRINGS /etc/os-release line REGEX "^${field}=")
  string(REGEX REPLACE "^${field}=\"?([^\"]*)\"?$" "\\1" value "${line}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
vorlix_os_release(ID os_id)
vorlix_os_release(VERSION_ID os_version_id)
vorlix_os_release(VERSION_CODENAME os_codename)
if(os_id STREQUAL "debian")
  set(os_id deb)
endif()
set(VORLIX_DEB_VERSION ${PROJECT_VERSION}~${os_id}${os_version_id})
# SOURCE_DATE_EPOCH, when set, gives the date (a reproducible build).
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${packaging}/debian/changelog.in ${staged}/changelog @ONLY)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlix-monitor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_VERSION ${VORLIX_DEB_VERSION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_arch})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "vorlix-monitor developers <dev@vorlix.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "record which window a signed-in user works in")
# cpack puts the summary first and indents the rest, an empty line a " .".
file(READ ${packaging}/debian/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
# dpkg-shlibdeps finds every library the programs link; Qt's SQLite driver
# is a plugin that Qt loads by name at run time, which no tool can see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${packaging}/debian/prerm ${packaging}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

# Install rules and the Debian package.
#
# `cmake --install` (DESTDIR honoured) puts the programs, the manual pages and
# the bash completion under the prefix (component Runtime), and creates the
# configuration directory /etc/opt/kestrel/scanner/kxscan4/ with an empty
# models4/ where they are missing (component Config). The configuration
# directory is an absolute path on purpose: the tool reads it there whatever
# the prefix; it lands below DESTDIR when one is set. No file is ever
# installed into it, so an administrator's configuration survives any
# install.
#
# `cpack -G DEB` packages the Runtime component only. The package owns no
# path below /etc: its maintainer scripts (packaging/debian) create the
# configuration directory when it is missing and, on purge, remove only what
# is still empty, so dpkg never replaces or removes the administrator's
# device configuration file, saved configurations or model description files.
include(GNUInstallDirs)

set(KXSANE_CONFIG_DIR "/etc/opt/kestrel/scanner/kxscan4")
set(KXSANE_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")

install(TARGETS kxsaneconfig4 RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT Runtime)
install(TARGETS kxsanescramble4 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)

# Manual pages, compressed as Debian installs them (gzip -9n: no name and no
# time stamp inside, so the same page gives the same bytes).
find_program(KXSANE_GZIP gzip REQUIRED)
set(kxsane_man_pages kxsaneconfig4.8 kxsanescramble4.1)
set(kxsane_compressed_pages)
foreach(page IN LISTS kxsane_man_pages)
  set(compressed "${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz")
  add_custom_command(
    OUTPUT "${compressed}"
    COMMAND ${CMAKE_COMMAND} -E copy "${KXSANE_PACKAGING_DIR}/${page}"
            "${CMAKE_CURRENT_BINARY_DIR}/man/${page}"
    COMMAND "${KXSANE_GZIP}" -9nf "${CMAKE_CURRENT_BINARY_DIR}/man/${page}"
    DEPENDS "${KXSANE_PACKAGING_DIR}/${page}"
    COMMENT "Compressing the manual page ${page}"
    VERBATIM)
  list(APPEND kxsane_compressed_pages "${compressed}")
  string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section "${page}")
  install(FILES "${compressed}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}"
          COMPONENT Runtime)
endforeach()
add_custom_target(kxsane_man_pages ALL DEPENDS ${kxsane_compressed_pages})

# Loaded on demand by bash-completion, which looks the file up by the
# command's name.
install(FILES "${KXSANE_PACKAGING_DIR}/kxsaneconfig4.bash-completion"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions"
        RENAME kxsaneconfig4
        COMPONENT Runtime)

# The configuration directory: each missing level is made with mode 0755; an
# existing one, and whatever it holds, is left exactly as it is.
install(CODE "set(kxsane_config_dir \"${KXSANE_CONFIG_DIR}\")" COMPONENT Config)
install(CODE [[
  string(REPLACE "/" ";" kxsane_parts "${kxsane_config_dir}/models4")
  set(kxsane_level "")
  foreach(part IN LISTS kxsane_parts)
    if(part STREQUAL "")
      continue()
    endif()
    string(APPEND kxsane_level "/${part}")
    set(kxsane_path "$ENV{DESTDIR}${kxsane_level}")
    if(IS_DIRECTORY "${kxsane_path}")
      message(STATUS "Up-to-date: ${kxsane_path}")
    else()
      message(STATUS "Installing: ${kxsane_path}")
      file(MAKE_DIRECTORY "${kxsane_path}")
      file(CHMOD "${kxsane_path}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
           GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()
]] COMPONENT Config)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kxsaneconfig4)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Kestrel")
set(CPACK_PACKAGE_CONTACT "kxsaneconfig4 maintainers <kxsaneconfig4@localhost>"
    CACHE STRING "Maintainer of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configuration tool for network scanners of the kxscan4 SANE backend")
set(CPACK_PACKAGE_DESCRIPTION
    "kxsaneconfig4 registers network scanners with the kxscan4 SANE backend, each under a
friendly name with its model and its IPv4 address or node name, and removes them again.
It lists the supported models and the registered scanners, pings the registered
scanners, prints a diagnosis report, switches a logging line and saves and restores
the device configuration under labels. kxsanescramble4 writes model description files.")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Runtime;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries come from dpkg-shlibdeps (package dpkg-dev); the tools
# that the programs run through the shell are named here: cat, uniq and ls
# (coreutils), sed, and bash, which runs every pipeline.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "bash, coreutils, sed")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "iputils-ping, sane-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${KXSANE_PACKAGING_DIR}/debian/postinst"
                                       "${KXSANE_PACKAGING_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Install rules and the Debian package.
#
# `cmake --install` puts the programs, the manual pages, the bash completion
# and the copyright and changelog files under the prefix (component Runtime);
# DESTDIR and --prefix are honoured, and nothing is written outside them.
#
# The configuration directory /etc/opt/kestrel/scanner/kxscan4/ is an
# absolute path on purpose: the tool reads it there whatever the prefix. The
# install (component Config) makes it, with an empty models4/, only where it
# stays inside what the installer asked to write: below DESTDIR (a staging
# tree), or when the prefix holds it (--prefix /). Otherwise it says so and
# leaves it to the package or to the administrator. No file is ever installed
# into it, so an administrator's configuration survives any install.
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
install(TARGETS kxsanescramble4 kxsanefind4 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT Runtime)

# Compressed as Debian installs documentation (gzip -9n: no name and no time
# stamp inside, so the same text gives the same bytes); $1 is the source, the
# result is build/doc/<name>.gz, installed into the directory $2.
find_program(KXSANE_GZIP gzip REQUIRED)
set(kxsane_compressed_docs)
function(kxsane_install_gzipped source destination)
  get_filename_component(name "${source}" NAME)
  set(plain "${PROJECT_BINARY_DIR}/doc/${name}")
  add_custom_command(
    OUTPUT "${plain}.gz"
    COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${plain}"
    COMMAND "${KXSANE_GZIP}" -9nf "${plain}"
    DEPENDS "${source}"
    COMMENT "Compressing ${name}"
    VERBATIM)
  install(FILES "${plain}.gz" DESTINATION "${destination}" COMPONENT Runtime)
  set(kxsane_compressed_docs ${kxsane_compressed_docs} "${plain}.gz" PARENT_SCOPE)
endfunction()

foreach(page kxsaneconfig4.8 kxsanescramble4.1 kxsanefind4.1)
  string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section "${page}")
  kxsane_install_gzipped("${KXSANE_PACKAGING_DIR}/${page}" "${CMAKE_INSTALL_MANDIR}/man${section}")
endforeach()
kxsane_install_gzipped("${KXSANE_PACKAGING_DIR}/debian/changelog" "${CMAKE_INSTALL_DOCDIR}")
add_custom_target(kxsane_docs ALL DEPENDS ${kxsane_compressed_docs})

# The copyright file in Debian's machine-readable format, made from LICENSE:
# its copyright line, and the licence text as the format's indented block.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" kxsane_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${kxsane_license}")
set(KXSANE_COPYRIGHT "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*\n(Permission )" "\\1" kxsane_license "${kxsane_license}")
string(STRIP "${kxsane_license}" kxsane_license)
string(REGEX REPLACE "\n\n" "\n.\n" kxsane_license "${kxsane_license}")
string(REPLACE "\n" "\n " kxsane_license "${kxsane_license}")
set(KXSANE_LICENSE_TEXT " ${kxsane_license}")
configure_file("${KXSANE_PACKAGING_DIR}/debian/copyright.in" "${PROJECT_BINARY_DIR}/doc/copyright"
               @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/doc/copyright" DESTINATION "${CMAKE_INSTALL_DOCDIR}"
        COMPONENT Runtime)

# Loaded on demand by bash-completion, which looks the file up by the
# command's name.
install(FILES "${KXSANE_PACKAGING_DIR}/kxsaneconfig4.bash-completion"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions"
        RENAME kxsaneconfig4
        COMPONENT Runtime)
install(FILES "${KXSANE_PACKAGING_DIR}/kxsanefind4.bash-completion"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions"
        RENAME kxsanefind4
        COMPONENT Runtime)

# The configuration directory: each missing level is made with mode 0755; an
# existing one, and whatever it holds, is left exactly as it is.
install(CODE "set(kxsane_config_dir \"${KXSANE_CONFIG_DIR}\")" COMPONENT Config)
install(CODE [[
  cmake_path(IS_PREFIX CMAKE_INSTALL_PREFIX "${kxsane_config_dir}" NORMALIZE kxsane_in_prefix)
  if("$ENV{DESTDIR}" STREQUAL "" AND NOT kxsane_in_prefix)
    message(STATUS "Skipping: ${kxsane_config_dir} is outside the prefix; the package makes it, "
                   "or, as root: mkdir -p -m 0755 ${kxsane_config_dir}/models4")
  else()
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
  endif()
]] COMPONENT Config)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kxsaneconfig4)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Kestrel")
# Whoever builds the package for a site sets their own address here.
set(KXSANE_PACKAGE_MAINTAINER "kxsaneconfig4 maintainers <kxsaneconfig4@example.org>"
    CACHE STRING "Maintainer of the Debian package, as \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT "${KXSANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configuration tool for network scanners of the kxscan4 SANE backend")
# Lines under 80 characters: package managers show them as they are.
set(CPACK_PACKAGE_DESCRIPTION
    "kxsaneconfig4 registers network scanners with the kxscan4 SANE backend,
each under a friendly name with its model and its IPv4 address or node name,
and removes them again. It lists the supported models and the registered
scanners, pings the registered scanners, prints a diagnosis report, switches
a logging line, and saves and restores the device configuration under labels.
kxsanefind4 finds the scanners that announce themselves on the LAN over
DNS-SD, through the Avahi daemon, and prints the lines that register them.
kxsanescramble4 writes model description files.")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Runtime;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries come from dpkg-shlibdeps (package dpkg-dev). The
# programs that the tool runs through the shell (bash, which runs every
# pipeline; cat, uniq and ls from coreutils; sed) are in Essential packages,
# which every Debian system has and no package names.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# kxsanefind4 links libavahi-client3, which dpkg-shlibdeps puts in Depends
# (naming it here too would list it twice), and browses through the Avahi
# daemon, which a machine may do without.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "iputils-ping, sane-utils, avahi-daemon")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${KXSANE_PACKAGING_DIR}/debian/postinst"
                                       "${KXSANE_PACKAGING_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

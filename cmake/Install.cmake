# Install rules.
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
# The watcher's service unit goes into the systemd unit directory under the
# prefix (component Runtime), naming this install's program and options file;
# nothing enables it. Its options file, /etc/default/kxsanefind4 for an install
# into /usr, is the administrator's once written: the install (component Config)
# writes it only where it is missing, and under the same condition as the
# configuration directory.
#
# debian/ builds the Debian package and packaging/rpm/ the RPM package from
# these rules. Neither package owns a path below /etc/opt: the Debian
# package's maintainer scripts create the configuration directory when it is
# missing and, on purge, remove only what is still empty; the RPM package
# makes it in %post. So no package manager ever replaces or removes the
# administrator's device configuration file, saved configurations or model
# description files. Both ship the options file as a configuration file, which
# an upgrade does not write over once the administrator has changed it.
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
kxsane_install_gzipped("${PROJECT_SOURCE_DIR}/debian/changelog" "${CMAKE_INSTALL_DOCDIR}")
add_custom_target(kxsane_docs ALL DEPENDS ${kxsane_compressed_docs})

# The licence in Debian's machine-readable format.
install(FILES "${PROJECT_SOURCE_DIR}/debian/copyright" DESTINATION "${CMAKE_INSTALL_DOCDIR}"
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

# The watcher's service, started by systemd from the unit directory (relative:
# under the prefix).
set(KXSANE_SYSTEMD_UNIT_DIR "lib/systemd/system"
    CACHE STRING "Where the service unit is installed: under the prefix, or absolute")
set(KXSANE_DEFAULTS_FILE "${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/kxsanefind4")
configure_file("${KXSANE_PACKAGING_DIR}/kxsanefind4.service.in"
               "${PROJECT_BINARY_DIR}/kxsanefind4.service" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/kxsanefind4.service" DESTINATION "${KXSANE_SYSTEMD_UNIT_DIR}"
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

# The watcher's options file, written where it is missing and left alone where
# it is not (file(INSTALL) puts DESTDIR in front of the path itself).
install(CODE "set(kxsane_defaults_file \"${KXSANE_DEFAULTS_FILE}\")
  set(kxsane_defaults_source \"${KXSANE_PACKAGING_DIR}/kxsanefind4.default\")" COMPONENT Config)
install(CODE [[
  cmake_path(IS_PREFIX CMAKE_INSTALL_PREFIX "${kxsane_defaults_file}" NORMALIZE kxsane_in_prefix)
  cmake_path(GET kxsane_defaults_file PARENT_PATH kxsane_defaults_dir)
  if("$ENV{DESTDIR}" STREQUAL "" AND NOT kxsane_in_prefix)
    message(STATUS "Skipping: ${kxsane_defaults_file} is outside the prefix; the package ships it")
  elseif(EXISTS "$ENV{DESTDIR}${kxsane_defaults_file}")
    message(STATUS "Kept: $ENV{DESTDIR}${kxsane_defaults_file}")
  else()
    file(INSTALL "${kxsane_defaults_source}" DESTINATION "${kxsane_defaults_dir}"
         RENAME kxsanefind4 PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
]] COMPONENT Config)

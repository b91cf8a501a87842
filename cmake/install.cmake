# Install rules: the Debian package's layout. ntrip-host finds its package and the demo's
# recordings relative to its own bin/ folder, so the build tree, an installed prefix and a
# package unpacked anywhere all work the same way.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

# The package is for /usr; a build that is only run from its tree never installs.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()

set(NTRIP_MAINTAINER "NTRIP_Client maintainers <maintainers@users.noreply.c-seed-ef4c1ac1.example>")
set(NTRIP_DOC_SUBDIR share/doc/ntrip-host)

set(NTRIP_INSTALLED_PROGRAMS ntrip-host ntrip-replay-caster rtcm3-summary)
install(TARGETS ${NTRIP_INSTALLED_PROGRAMS} RUNTIME DESTINATION bin)
# A library only ever opened with dlopen: no execute bit, as Debian wants for libraries.
install(TARGETS ntrip_client_package
        LIBRARY DESTINATION ${NTRIP_PACKAGE_SUBDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The recordings' README holds their licence: it stays next to them.
install(DIRECTORY ${NTRIP_DATA_DIR}/ DESTINATION ${NTRIP_DEMO_DATA_SUBDIR})

# Debian wants a changelog (compressed without a time stamp, so two builds give the same bytes)
# and a copyright file beside the README.
set(NTRIP_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
configure_file(${CMAKE_SOURCE_DIR}/contrib/debian/changelog.in ${NTRIP_PACKAGING_DIR}/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${NTRIP_PACKAGING_DIR}/changelog COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/contrib/debian/copyright
              ${NTRIP_PACKAGING_DIR}/changelog.gz
        DESTINATION ${NTRIP_DOC_SUBDIR})

# The man pages of the installed programs, compressed as Debian wants them.
set(NTRIP_INSTALLED_MAN_PAGES)
foreach(program ${NTRIP_INSTALLED_PROGRAMS})
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  if(page IN_LIST NTRIP_MAN_PAGES)
    set(compressed ${NTRIP_PACKAGING_DIR}/man/${program}.1.gz)
    add_custom_command(
      OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${NTRIP_PACKAGING_DIR}/man
      COMMAND gzip -9nc ${page} > ${compressed}
      DEPENDS ${page}
      VERBATIM)
    list(APPEND NTRIP_INSTALLED_MAN_PAGES ${compressed})
  endif()
endforeach()
if(NTRIP_INSTALLED_MAN_PAGES)
  add_custom_target(man_pages_compressed ALL DEPENDS ${NTRIP_INSTALLED_MAN_PAGES})
  install(FILES ${NTRIP_INSTALLED_MAN_PAGES} DESTINATION share/man/man1)
endif()

# The unit and the configuration belong to the system (/etc, /lib/systemd/system) only under
# /usr; any other prefix keeps them inside itself. Decided when installing, since cpack and
# `cmake --install --prefix` choose the prefix then; the unit names the installed paths.
install(CODE "set(NTRIP_SYSTEMD_SOURCE_DIR \"${CMAKE_SOURCE_DIR}/contrib/systemd\")
set(NTRIP_PACKAGING_DIR \"${NTRIP_PACKAGING_DIR}\")
set(NTRIP_INSTALL_DOC_DIR \"${NTRIP_DOC_SUBDIR}\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install_system_files.cmake)

# Run at install time (cmake --install, cpack): the systemd unit and the example configuration,
# with the unit's paths rewritten for the prefix being installed.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(etc_dir /etc/ntrip-host)
  set(unit_dir /lib/systemd/system)
else()
  set(etc_dir ${CMAKE_INSTALL_PREFIX}/etc/ntrip-host)
  set(unit_dir ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()

file(READ ${NTRIP_SYSTEMD_SOURCE_DIR}/ntrip-host.service unit)
string(REPLACE "/usr/bin/" "${CMAKE_INSTALL_PREFIX}/bin/" unit "${unit}")
string(REPLACE "/usr/share/doc/ntrip-host/" "${CMAKE_INSTALL_PREFIX}/${NTRIP_INSTALL_DOC_DIR}/"
       unit "${unit}")
string(REPLACE "/etc/ntrip-host/" "${etc_dir}/" unit "${unit}")
set(unit_file ${NTRIP_PACKAGING_DIR}/ntrip-host.service)
file(WRITE ${unit_file} "${unit}")

file(INSTALL ${unit_file} DESTINATION ${unit_dir}
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(INSTALL ${NTRIP_SYSTEMD_SOURCE_DIR}/ntrip-host.conf DESTINATION ${etc_dir}
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

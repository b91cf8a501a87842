# `cpack` in a build folder makes ntrip-host_VERSION_ARCH.deb for the architecture the folder
# builds for (a cross build for arm64 makes the arm64 package).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(NTRIP_DEB_ARCH arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(NTRIP_DEB_ARCH amd64)
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE NTRIP_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ntrip-host)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${NTRIP_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NTRIP_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "NTRIP client for RTK corrections to a GNSS receiver")
# The summary is the first line of the description, this its long part.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ntrip-host connects to an NTRIP caster (NTRIP 2.0 and 1.0, optionally
over TLS), sends the receiver's position as NMEA GGA sentences, and writes the
RTCM 3 correction stream unchanged to a serial port, a TCP port, a pipe or a
file, with an optional text summary of the decoded observations. It reconnects
by itself when the caster or the link fails, and runs as a systemd service.
.
The package also holds ntrip-replay-caster, a small caster that serves
recordings, rtcm3-summary, an offline RTCM 3 decoder, and sample recordings
for a demo that runs on this machine alone (ntrip-host --demo).")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${NTRIP_DEB_ARCH})
# The internet check before the first connection runs ping; without it the check only warns.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS iputils-ping)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/contrib/debian/conffiles
    ${CMAKE_SOURCE_DIR}/contrib/debian/postinst
    ${CMAKE_SOURCE_DIR}/contrib/debian/prerm
    ${CMAKE_SOURCE_DIR}/contrib/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The install runs with the prefix /usr and the staging folder as DESTDIR, so the install rules
# see the package's own prefix and put /etc and /lib/systemd/system where Debian wants them.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# dpkg-shlibdeps looks for the libraries of the package's architecture, not the build machine's.
configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging_run.cmake.in
               ${CMAKE_BINARY_DIR}/packaging/packaging_run.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/packaging_run.cmake)

include(CPack)

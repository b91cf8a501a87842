# `cpack` in a Windows build folder makes ntrip-host-VERSION-windows-x86_64.zip: the programs and
# the package DLL in bin\, the demo's recordings, the README. Everything is linked statically, so
# the folder needs no other DLL; ntrip-host.exe finds the package beside itself and the
# recordings from its bin\ folder as on Linux.
set(NTRIP_INSTALLED_PROGRAMS ntrip-host ntrip-replay-caster rtcm3-summary)
install(TARGETS ${NTRIP_INSTALLED_PROGRAMS} RUNTIME DESTINATION bin)
install(TARGETS ntrip_client_package LIBRARY DESTINATION ${NTRIP_PACKAGE_SUBDIR})
install(DIRECTORY ${NTRIP_DATA_DIR}/ DESTINATION ${NTRIP_DEMO_DATA_SUBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

# The stage builds what it runs and packs: an install does not build every target first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ntrip-host)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ntrip-host-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_STRIP_FILES ON)
include(CPack)

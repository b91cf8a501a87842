# The ntrip-host program: its position sources and sinks in-process, then the program itself run
# as a child process against the real package and a loopback caster.
set(NTRIP_HOST_TEST_DIR ${CMAKE_CURRENT_LIST_DIR}/ntrip-host)

# On Windows only the console's stop events; the rest needs a pty, a FIFO, fork or signals.
if(WIN32)
  add_executable(ntrip_host_console_test ${NTRIP_HOST_TEST_DIR}/console_events_test.cpp)
  target_link_libraries(ntrip_host_console_test PRIVATE ntrip_host_support GTest::gtest_main)
  ntrip_discover_tests(ntrip_host_console_test PROPERTIES TIMEOUT 60 LABELS ntrip-host)
  return()
endif()

add_executable(ntrip_host_tests
  ${NTRIP_HOST_TEST_DIR}/connection_watch_test.cpp
  ${NTRIP_HOST_TEST_DIR}/nmea_sentence_test.cpp
  ${NTRIP_HOST_TEST_DIR}/nmea_position_test.cpp
  ${NTRIP_HOST_TEST_DIR}/nmea_stream_reader_test.cpp
  ${NTRIP_HOST_TEST_DIR}/position_sources_test.cpp
  ${NTRIP_HOST_TEST_DIR}/live_nmea_source_test.cpp
  ${NTRIP_HOST_TEST_DIR}/service_notifier_test.cpp
  ${NTRIP_HOST_TEST_DIR}/sinks_test.cpp
  ${NTRIP_HOST_TEST_DIR}/serial_pty_test.cpp
  ${NTRIP_HOST_TEST_DIR}/sourcetable_view_test.cpp
  ${NTRIP_HOST_TEST_DIR}/describe_test.cpp)
target_include_directories(ntrip_host_tests PRIVATE ${NTRIP_HOST_TEST_DIR})
target_link_libraries(ntrip_host_tests PRIVATE ntrip_host_support ntrip_test_support GTest::gtest_main ${CMAKE_DL_LIBS})
target_compile_definitions(ntrip_host_tests PRIVATE NTRIP_PACKAGE_PATH="$<TARGET_FILE:ntrip_client_package>")
add_dependencies(ntrip_host_tests ntrip_client_package)
ntrip_discover_tests(ntrip_host_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60 LABELS ntrip-host)

add_executable(ntrip_host_program_tests
  ${NTRIP_HOST_TEST_DIR}/program_test.cpp
  ${NTRIP_HOST_TEST_DIR}/service_program_test.cpp
  ${NTRIP_HOST_TEST_DIR}/source_switch_program_test.cpp)
target_include_directories(ntrip_host_program_tests PRIVATE ${NTRIP_HOST_TEST_DIR})
target_link_libraries(ntrip_host_program_tests PRIVATE replay_caster ntrip_test_support nlohmann_json::nlohmann_json
                                                       GTest::gtest_main)
target_compile_definitions(ntrip_host_program_tests PRIVATE
  NTRIP_HOST_PATH="$<TARGET_FILE:ntrip-host>"
  NTRIP_TEST_DATA_DIR="${NTRIP_DATA_DIR}"
  NTRIP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(ntrip_host_program_tests ntrip-host)
ntrip_discover_tests(ntrip_host_program_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS ntrip-host)

add_executable(runner_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/runner/nmea_sentence_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/runner/nmea_position_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/runner/nmea_stream_reader_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/runner/position_sources_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/runner/live_nmea_source_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/runner/sinks_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/runner/serial_pty_test.cpp)
target_include_directories(runner_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/runner)
target_link_libraries(runner_tests PRIVATE ntrip_host_positions ntrip_host_sinks ntrip_test_support GTest::gtest_main ${CMAKE_DL_LIBS})
gtest_discover_tests(runner_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS runner)

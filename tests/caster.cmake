# Replay caster tests: real sockets on loopback against the in-process caster.
if(TARGET replay_caster)
  add_executable(caster_tests
    ${CMAKE_CURRENT_LIST_DIR}/caster/caster_answers_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/caster/caster_connections_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/caster/caster_faults_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/caster/caster_parts_test.cpp)
  target_include_directories(caster_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/caster)
  target_compile_definitions(caster_tests PRIVATE CASTER_TEST_DATA_DIR="${NTRIP_DATA_DIR}")
  target_link_libraries(caster_tests PRIVATE replay_caster rtcm GTest::gtest_main)

  add_executable(caster_program_tests ${CMAKE_CURRENT_LIST_DIR}/caster/caster_program_test.cpp)
  target_include_directories(caster_program_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/caster)
  target_compile_definitions(caster_program_tests PRIVATE
    CASTER_TEST_DATA_DIR="${NTRIP_DATA_DIR}" CASTER_PROGRAM="$<TARGET_FILE:ntrip-replay-caster>")
  target_link_libraries(caster_program_tests PRIVATE replay_caster ntrip_test_support GTest::gtest_main)
  add_dependencies(caster_program_tests ntrip-replay-caster)
  ntrip_discover_tests(caster_program_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS caster)
  ntrip_discover_tests(caster_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS caster)
endif()

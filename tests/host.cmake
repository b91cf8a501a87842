# The substitute host: engine, SDK glue and package loading, driven through real packages.
set(HOST_TEST_DIR ${CMAKE_CURRENT_LIST_DIR}/host)

add_library(host_probe_package MODULE ${HOST_TEST_DIR}/probe_package.cpp)
set_target_properties(host_probe_package PROPERTIES
  PREFIX ""
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/test
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(host_probe_package PRIVATE maps_sdk)

add_library(host_not_a_package MODULE ${HOST_TEST_DIR}/not_a_package.cpp)
set_target_properties(host_not_a_package PROPERTIES
  PREFIX ""
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/test)

add_executable(host_tests
  ${HOST_TEST_DIR}/fifo_test.cpp
  ${HOST_TEST_DIR}/lifecycle_test.cpp
  ${HOST_TEST_DIR}/package_loading_test.cpp
  ${HOST_TEST_DIR}/property_rules_test.cpp
  ${HOST_TEST_DIR}/reader_test.cpp
  ${HOST_TEST_DIR}/sourcetable_view_test.cpp
  ${HOST_TEST_DIR}/thread_progress_test.cpp)
target_include_directories(host_tests PRIVATE ${HOST_TEST_DIR})
target_link_libraries(host_tests PRIVATE maps_engine ntrip_host_support GTest::gtest_main)
target_compile_definitions(host_tests PRIVATE
  PROBE_PACKAGE_PATH="$<TARGET_FILE:host_probe_package>"
  NOT_A_PACKAGE_PATH="$<TARGET_FILE:host_not_a_package>"
  NTRIP_PACKAGE_PATH="$<TARGET_FILE:ntrip_client_package>")
add_dependencies(host_tests host_probe_package host_not_a_package ntrip_client_package)
gtest_discover_tests(host_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60 LABELS host)

# ntrip-host itself, run as a child process against the real package and a loopback caster.
add_executable(host_program_tests
  ${HOST_TEST_DIR}/runner_program_test.cpp
  ${HOST_TEST_DIR}/service_program_test.cpp
  ${HOST_TEST_DIR}/source_switch_program_test.cpp)
target_link_libraries(host_program_tests PRIVATE replay_caster ntrip_test_support GTest::gtest_main)
target_compile_definitions(host_program_tests PRIVATE
  NTRIP_HOST_PATH="$<TARGET_FILE:ntrip-host>"
  NTRIP_TEST_DATA_DIR="${NTRIP_DATA_DIR}"
  NTRIP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(host_program_tests ntrip-host)
gtest_discover_tests(host_program_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS host)

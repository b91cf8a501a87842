# The engine: SDK glue and package loading, driven through real packages.
set(ENGINE_TEST_DIR ${CMAKE_CURRENT_LIST_DIR}/engine)

add_library(engine_probe_package MODULE ${ENGINE_TEST_DIR}/probe_package.cpp)
set_target_properties(engine_probe_package PROPERTIES
  PREFIX ""
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/test
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(engine_probe_package PRIVATE maps_sdk)

add_library(engine_not_a_package MODULE ${ENGINE_TEST_DIR}/not_a_package.cpp)
set_target_properties(engine_not_a_package PROPERTIES
  PREFIX ""
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/test)

add_executable(engine_tests
  ${ENGINE_TEST_DIR}/fifo_test.cpp
  ${ENGINE_TEST_DIR}/lifecycle_test.cpp
  ${ENGINE_TEST_DIR}/package_loading_test.cpp
  ${ENGINE_TEST_DIR}/property_rules_test.cpp
  ${ENGINE_TEST_DIR}/reader_test.cpp
  ${ENGINE_TEST_DIR}/thread_progress_test.cpp)
target_include_directories(engine_tests PRIVATE ${ENGINE_TEST_DIR})
target_link_libraries(engine_tests PRIVATE maps_engine GTest::gtest_main)
target_compile_definitions(engine_tests PRIVATE
  PROBE_PACKAGE_PATH="$<TARGET_FILE:engine_probe_package>"
  NOT_A_PACKAGE_PATH="$<TARGET_FILE:engine_not_a_package>"
  NTRIP_PACKAGE_PATH="$<TARGET_FILE:ntrip_client_package>")
add_dependencies(engine_tests engine_probe_package engine_not_a_package ntrip_client_package)
ntrip_discover_tests(engine_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60 LABELS engine)

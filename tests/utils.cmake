add_executable(utils_tests ${CMAKE_CURRENT_SOURCE_DIR}/utils/utils_test.cpp)
target_link_libraries(utils_tests PRIVATE ntrip_utils GTest::gtest_main)
ntrip_discover_tests(utils_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS utils)

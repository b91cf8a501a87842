add_executable(logger_tests ${CMAKE_CURRENT_SOURCE_DIR}/logger/log_test.cpp)
target_link_libraries(logger_tests PRIVATE ntrip_log GTest::gtest_main)
ntrip_discover_tests(logger_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS logger)

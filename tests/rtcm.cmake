# One executable per decoder test file, so one half-written file does not stop the others.
file(GLOB RTCM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/rtcm/*_test.cpp)
foreach(source ${RTCM_TEST_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  set(target rtcm_${name})
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE rtcm ntrip_test_support nlohmann_json::nlohmann_json
                        GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE NTRIP_DATA_DIR="${NTRIP_DATA_DIR}")
  # A test starts the tool as a program of its own, which a cross build cannot do from under the
  # emulator.
  if(TARGET rtcm3-summary AND NOT CMAKE_CROSSCOMPILING)
    target_compile_definitions(${target} PRIVATE RTCM3_SUMMARY_PATH="$<TARGET_FILE:rtcm3-summary>")
    add_dependencies(${target} rtcm3-summary)
  endif()
  ntrip_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS rtcm)
endforeach()

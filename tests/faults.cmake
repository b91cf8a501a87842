# The real host engine loading the real package against the replay caster's fault modes.
set(FAULTS_TEST_DIR ${CMAKE_CURRENT_LIST_DIR}/faults)
file(GLOB faults_test_sources CONFIGURE_DEPENDS ${FAULTS_TEST_DIR}/*_test.cpp)
foreach(source ${faults_test_sources})
  get_filename_component(name ${source} NAME_WE)
  set(target faults_${name})
  add_executable(${target} ${source})
  target_include_directories(${target} PRIVATE ${FAULTS_TEST_DIR} ${CMAKE_CURRENT_LIST_DIR}/component
                                               ${CMAKE_CURRENT_LIST_DIR}/host
                                               ${CMAKE_CURRENT_LIST_DIR}/rtcm)
  target_link_libraries(${target} PRIVATE maps_engine replay_caster rtcm ntrip_test_support
                                          GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE
    NTRIP_PACKAGE_PATH="$<TARGET_FILE:ntrip_client_package>"
    NTRIP_DATA_DIR="${NTRIP_DATA_DIR}")
  add_dependencies(${target} ntrip_client_package)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS faults)
endforeach()

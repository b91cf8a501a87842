# The real host engine loading the real package, against the replay caster on loopback.
ntrip_engine_tests(component)

# The component with an internet probe that always fails.
add_library(component_failing_probe_package MODULE
  ${CMAKE_CURRENT_LIST_DIR}/component/failing_probe_package.cpp)
set_target_properties(component_failing_probe_package PROPERTIES
  PREFIX ""
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/test
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(component_failing_probe_package PRIVATE ntrip_component)
target_link_options(component_failing_probe_package PRIVATE -Wl,--exclude-libs,ALL)
target_compile_definitions(component_supervision_test PRIVATE
  FAILING_PROBE_PACKAGE_PATH="$<TARGET_FILE:component_failing_probe_package>")
add_dependencies(component_supervision_test component_failing_probe_package)

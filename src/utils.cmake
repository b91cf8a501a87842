add_library(ntrip_utils STATIC ${CMAKE_CURRENT_LIST_DIR}/utils.cpp ${CMAKE_CURRENT_LIST_DIR}/run_command.cpp)
target_include_directories(ntrip_utils PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(ntrip_utils PUBLIC ntrip_log Boost::headers)

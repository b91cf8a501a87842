# What the Windows build needs beyond the toolchain file: the Windows 10 API level for Asio's
# sockets, and glog's severities under their long names (windows.h defines ERROR).
add_compile_definitions(_WIN32_WINNT=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX
                        GLOG_NO_ABBREVIATED_SEVERITIES)
link_libraries(ws2_32 mswsock)
# MinGW's GCC 12 warns of overlapping copies in std::string's operator+ that cannot happen (GCC
# bug 105329); the Linux build keeps the warning.
add_compile_options(-Wno-restrict)

# MinGW's libstdc++ 12 waits for std::atomic and semaphores on a condition variable whose notify
# can be lost (GCC bug 106183): a std::stop_callback destroyed while another thread runs it, as
# in every condition_variable_any wait with a stop_token, then hangs for good. The compiler's own
# header, mended as later GCC releases have it, goes before it on the include path.
set(NTRIP_ATOMIC_WAIT_FIX ${CMAKE_BINARY_DIR}/libstdc++-fix)
foreach(dir ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES})
  if(EXISTS ${dir}/bits/atomic_wait.h AND NOT NTRIP_ATOMIC_WAIT_HEADER)
    set(NTRIP_ATOMIC_WAIT_HEADER ${dir}/bits/atomic_wait.h)
  endif()
endforeach()
if(NTRIP_ATOMIC_WAIT_HEADER)
  file(READ ${NTRIP_ATOMIC_WAIT_HEADER} header)
  set(lost_wait "\tif (__val == __old)\n\t  {\n\t    lock_guard<mutex> __l(_M_mtx);\n\t    _M_cv.wait(_M_mtx);")
  set(lost_notify "#else\n\tif (__all)\n\t  _M_cv.notify_all();")
  string(FIND "${header}" "${lost_wait}" wait_at)
  string(FIND "${header}" "${lost_notify}" notify_at)
  if(wait_at GREATER -1 AND notify_at GREATER -1)
    string(REPLACE "${lost_wait}"
      "\tif (__val == __old)\n\t  {\n\t    lock_guard<mutex> __l(_M_mtx);\n\t    __atomic_load(__addr, &__val, __ATOMIC_RELAXED);\n\t    if (__val == __old)\n\t      _M_cv.wait(_M_mtx);"
      header "${header}")
    string(REPLACE "${lost_notify}"
      "#else\n\tlock_guard<mutex> __l(_M_mtx);\n\tif (__all)\n\t  _M_cv.notify_all();"
      header "${header}")
    file(WRITE ${NTRIP_ATOMIC_WAIT_FIX}/bits/atomic_wait.h "${header}")
    include_directories(BEFORE SYSTEM ${NTRIP_ATOMIC_WAIT_FIX})
  endif()
endif()

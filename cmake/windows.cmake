# What the Windows build needs beyond the toolchain file: the Windows 10 API level for Asio's
# sockets, and glog's severities under their long names (windows.h defines ERROR).
add_compile_definitions(_WIN32_WINNT=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX
                        GLOG_NO_ABBREVIATED_SEVERITIES)
link_libraries(ws2_32 mswsock)

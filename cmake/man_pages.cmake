# The man pages, each written by its program from its option table (the hidden option --man), so
# a page cannot disagree with --help. NTRIP_MAN_PAGES lists them (build/man/NAME.1) for
# installation. A cross build writes them only when it can run its programs (an emulator), and a
# Windows build, which has no man, not at all.
set(NTRIP_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(NTRIP_MAN_PAGES)
if(NOT WIN32 AND (NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR))
  foreach(program ntrip-host ntrip-replay-caster rtcm3-summary ntrip-bench rtcm-bench)
    if(TARGET ${program})
      set(page ${NTRIP_MAN_DIR}/${program}.1)
      add_custom_command(
        OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${NTRIP_MAN_DIR}
        COMMAND ${program} --man > ${page}
        DEPENDS ${program}
        COMMENT "Writing the man page of ${program}"
        VERBATIM)
      list(APPEND NTRIP_MAN_PAGES ${page})
    endif()
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${NTRIP_MAN_PAGES})
endif()

# The programs' man pages, written from their option tables at build time.
if(NTRIP_MAN_PAGES)
  add_test(NAME man_pages_render
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cli/man_pages_render.sh ${NTRIP_MAN_PAGES})
  set_tests_properties(man_pages_render PROPERTIES LABELS cli)
endif()

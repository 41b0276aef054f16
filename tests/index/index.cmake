quarn_test(index_format_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ref_format_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/line_lookup_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/name_order_test.cc
  DEPS quarn_index)
quarn_test(index_file_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tgdb_load_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/index_writer_test.cc
  DEPS quarn_index)

# Index file format, loading, line lookup, owner-name order and the writer.
quarn_library(quarn_index
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/format.cc
    ${CMAKE_CURRENT_LIST_DIR}/tgdb.cc
    ${CMAKE_CURRENT_LIST_DIR}/line_lookup.cc
    ${CMAKE_CURRENT_LIST_DIR}/name_order.cc
    ${CMAKE_CURRENT_LIST_DIR}/rrtype_bits.cc
    ${CMAKE_CURRENT_LIST_DIR}/file_io.cc
    ${CMAKE_CURRENT_LIST_DIR}/line_index_builder.cc
    ${CMAKE_CURRENT_LIST_DIR}/string_table_writer.cc
    ${CMAKE_CURRENT_LIST_DIR}/ref_encoder.cc
    ${CMAKE_CURRENT_LIST_DIR}/index_writer.cc
    ${CMAKE_CURRENT_LIST_DIR}/tgdb_files.cc
  DEPS quarn_trigram quarn_common)

# Small writer tool for the bundled sample and for tests.
add_executable(tgwrite ${CMAKE_CURRENT_LIST_DIR}/tools/tgwrite_main.cc)
target_link_libraries(tgwrite PRIVATE quarn_index quarn_records)
quarn_warnings(tgwrite)

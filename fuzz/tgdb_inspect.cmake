quarn_fuzzer(tgdb_inspect ${CMAKE_CURRENT_SOURCE_DIR}/tgdb_inspect.cc quarn_inspect quarn_index)

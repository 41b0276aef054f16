# Search context, record merger and data sources.
if(TARGET quarn_retrieval)
  quarn_test(tgdb_merger_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/tgdb_merger_test.cc
    DEPS quarn_retrieval quarn_records quarn_index)
endif()
if(TARGET quarn_retrieval)
  quarn_test(data_source_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/data_source_test.cc
    DEPS quarn_retrieval quarn_records quarn_index)
endif()
if(TARGET quarn_retrieval)
  quarn_test(search_differential_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/search_differential_test.cc
    DEPS quarn_retrieval quarn_records quarn_index)
endif()

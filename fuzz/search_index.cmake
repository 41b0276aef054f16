# Searches over patched copies of a small valid index file: damaged headers, trigram
# entries, string tables, line indexes and reference lists never crash a search or make
# it read outside the mapping.
if(TARGET quarn_retrieval)
  quarn_fuzzer(search_index ${CMAKE_CURRENT_SOURCE_DIR}/search_index.cc
    quarn_retrieval quarn_records quarn_index)
endif()

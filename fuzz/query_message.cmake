# Query message parser: arbitrary bytes in, a bounded request or a valid status out.
if(TARGET quarn_output_json)
  quarn_fuzzer(query_message ${CMAKE_CURRENT_SOURCE_DIR}/query_message.cc quarn_output_json)
endif()

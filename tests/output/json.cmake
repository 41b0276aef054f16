# JSON result objects, status messages and query messages.
if(TARGET quarn_output_json)
  quarn_test(json_output_test SOURCES json_output_test.cc DEPS quarn_output_json)
  quarn_test(status_message_test SOURCES status_message_test.cc DEPS quarn_output_json)
  quarn_test(query_message_test SOURCES query_message_test.cc DEPS quarn_output_json)
endif()

# quarnsearch -j end to end. The shared end-to-end helpers are compiled in here because
# their library is defined later, with the search tests.
if(TARGET quarnsearch)
  quarn_test(json_e2e_test
    SOURCES json_e2e_test.cc ${PROJECT_SOURCE_DIR}/tests/search/e2e_support.cc
    DEPS quarn_index quarn_records ${YAJL_LIB} LABELS e2e)
  add_dependencies(json_e2e_test quarnsearch)
endif()

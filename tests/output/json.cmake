# JSON result objects, status messages and query messages.
if(TARGET quarn_output_json)
  quarn_test(json_output_test SOURCES json_output_test.cc DEPS quarn_output_json)
  quarn_test(status_message_test SOURCES status_message_test.cc DEPS quarn_output_json)
  quarn_test(query_message_test SOURCES query_message_test.cc DEPS quarn_output_json)
endif()

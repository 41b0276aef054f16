# JSON result objects, the status ("fin") message and the query message parser.
if(TARGET quarn_output_text)
  quarn_library(quarn_output_json
    SOURCES json_gen.cc json_output.cc status_message.cc query_message.cc
    DEPS quarn_output_text quarn_records quarn_common ${YAJL_LIB})
endif()

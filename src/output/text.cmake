# Text and raw result forms, record-type names, and the batched output buffer.
if(TARGET quarn_records)
  quarn_library(quarn_output_text
    SOURCES text_output.cc output_buffer.cc local_time.cc
    DEPS quarn_records quarn_common)
endif()

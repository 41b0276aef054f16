if(TARGET quarn_output_text)
  quarn_test(text_output_test SOURCES text_output_test.cc DEPS quarn_output_text quarn_records)
endif()

quarn_test(records_tests
  SOURCES annotation_test.cc rdata_order_test.cc rdata_text_test.cc rrkit_test.cc
  DEPS quarn_records)

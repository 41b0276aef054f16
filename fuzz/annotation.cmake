# Observation-text readers, rdata order and rdata text: arbitrary bytes, no crash, no
# read past the input, and writer output that reads back to what was read.
if(TARGET quarn_records)
  quarn_fuzzer(annotation ${CMAKE_CURRENT_SOURCE_DIR}/annotation.cc quarn_records)
endif()

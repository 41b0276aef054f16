# Input-line readers of the index builder (JSON observations and raw index lines) and
# the sorted-table key encodings they feed: arbitrary bytes, no crash, and every
# accepted record encodes into keys that decode back to it.
if(TARGET quarn_build)
  quarn_fuzzer(cof_input ${CMAKE_CURRENT_SOURCE_DIR}/cof_input.cc quarn_build)
endif()

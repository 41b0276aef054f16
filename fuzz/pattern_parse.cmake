# Both pattern parsers and the renderer on arbitrary bytes.
quarn_fuzzer(pattern_parse ${CMAKE_CURRENT_SOURCE_DIR}/pattern_parse.cc quarn_pattern)

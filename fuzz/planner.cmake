quarn_fuzzer(planner ${CMAKE_CURRENT_SOURCE_DIR}/planner.cc quarn_planner quarn_pattern)

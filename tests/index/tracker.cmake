if(TARGET quarn_tracker)
  quarn_test(tracker_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/tracker_test.cc
    DEPS quarn_tracker quarn_index)
endif()
if(TARGET quarn_retrieval)
  quarn_test(line_source_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/line_source_test.cc
    DEPS quarn_retrieval quarn_tracker quarn_index)
endif()

if(TARGET quarn_tracker)
  quarn_test(tracker_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/tracker_test.cc
    DEPS quarn_tracker quarn_index)
endif()

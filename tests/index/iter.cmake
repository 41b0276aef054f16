quarn_test(iter_tests SOURCES heap_test.cc n_iter_test.cc DEPS quarn_iter)

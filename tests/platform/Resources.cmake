# Resources embedded into zm_tests for the resource lookup tests.
zm_add_resources(zm_tests
  NAME ZMTestSample FILE ${CMAKE_CURRENT_LIST_DIR}/data/embed_sample.bin
  NAME "#123" FILE ${CMAKE_CURRENT_LIST_DIR}/data/embed_numbered.txt
  NAME ZMTestTyped TYPE 23 FILE ${CMAKE_CURRENT_LIST_DIR}/data/embed_numbered.txt)

# The benchmark corpora as a library of their own, so that tests can use the
# same texts without building the benchmarks. Include it from any directory;
# where the tests are built (GoogleTest's CMake module loaded), it also adds
# the corpus tests.
if(NOT TARGET daduzozi_bench_corpus)
  add_library(daduzozi_bench_corpus STATIC ${CMAKE_CURRENT_LIST_DIR}/corpus.cpp)
  target_include_directories(daduzozi_bench_corpus PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  set_target_properties(daduzozi_bench_corpus PROPERTIES POSITION_INDEPENDENT_CODE ON)

  if(DADUZOZI_BUILD_TESTS AND COMMAND gtest_discover_tests)
    add_executable(corpus_test ${CMAKE_CURRENT_LIST_DIR}/corpus_test.cpp)
    target_include_directories(corpus_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../tests/support)
    target_link_libraries(corpus_test PRIVATE daduzozi_bench_corpus daduzozi GTest::gtest_main)
    gtest_discover_tests(corpus_test DISCOVERY_MODE PRE_TEST)
  endif()
endif()

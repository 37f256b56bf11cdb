# Checks that the shared library LIBRARY exports exactly the public functions
# and needs nothing at run time but the C library.
# Usage: cmake -DLIBRARY=path/to/libdaduzozi.so -P check_shared_library.cmake

set(expected
    tovik_add_subnode tovik_add_valuenode tovik_deinit tovik_find_key tovik_find_tree_node
    tovik_free_tree_node tovik_init tovik_kv_iter tovik_kv_tree_iter tovik_parse_data
    tovik_parse_data_ex)

execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" lines "${symbols}")
set(exported)
foreach(line IN LISTS lines)
  string(STRIP "${line}" name)
  list(APPEND exported ${name})
endforeach()
list(SORT exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  exported: ${exported}")
endif()

execute_process(COMMAND readelf -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE readelf_result)
if(NOT readelf_result EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needed "${dynamic}")
string(REGEX MATCH "Library soname: \\[libdaduzozi\\.so\\.[0-9]+\\]" soname "${dynamic}")
if(NOT needed STREQUAL "Shared library: [libc.so.6]")
  message(FATAL_ERROR "run-time dependencies beyond the C library: ${needed}")
endif()
if(NOT soname)
  message(FATAL_ERROR "no SONAME libdaduzozi.so.N")
endif()
message(STATUS "exports: ${exported}; needs: ${needed}; ${soname}")

# Adds every direct subfolder that has a CMakeLists.txt, so each area of
# tests/, bench/, fuzz/ and tools/ owns its own build file.
function(qc_add_all_subdirectories)
  file(GLOB _entries LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _entries)
  foreach(_entry ${_entries})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_entry} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_entry}/CMakeLists.txt)
      add_subdirectory(${_entry})
    endif()
  endforeach()
endfunction()

# qc_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l1])
# A GoogleTest binary in build/tests, registered test by test with CTest.
function(qc_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE QC_BUILD_DIR="${CMAKE_BINARY_DIR}"
                                             QC_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS "${T_LABELS}")
endfunction()

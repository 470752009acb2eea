# zondrel_add_tests(NAME name SOURCES ... LIBS ...)
# One test program per folder; every TEST becomes its own ctest case, so each
# case runs in a fresh process (and gets a fresh machine root from the fixture).
function(zondrel_add_tests)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT T_SOURCES)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ztesting GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS ${T_NAME}
               ENVIRONMENT "ZONDREL_BIN=${CMAKE_BINARY_DIR}/bin;ZONDREL_SOURCE=${CMAKE_SOURCE_DIR}")
endfunction()

# caspira_add_test(NAME SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable registered with CTest. Tests labelled "threaded" also run in
# the ThreadSanitizer tree; tests labelled "gui" need Qt and run offscreen. A program a test
# starts keeps its event logs under the build tree, never in the user's own state directory.
function(caspira_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}
                                             ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    LABELS "${T_LABELS}"
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;XDG_STATE_HOME=${CMAKE_BINARY_DIR}/test-state")
endfunction()

# brenwick_test(NAME name SOURCES a_test.cpp ... LIBS lib ... [LABELS l ...])
# Each test case runs in its own process (gtest_discover_tests), so that the
# process-wide transport state of one case cannot leak into another.
function(brenwick_test)
  if(NOT BRENWICK_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  brenwick_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${T_NAME} PRIVATE ${BRENWICK_ROOT})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  # A list does not survive the way through gtest_discover_tests, so the labels become one label joined
  # by "-" ("unit-threads"); ctest -L takes a regular expression, so -L threads and -L unit both match it.
  string(JOIN "-" T_LABEL ${T_LABELS})
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABEL}"
                       ENVIRONMENT "BRENWICK_SOURCE_DIR=${BRENWICK_ROOT}")
endfunction()

# brenwick_qt_test(NAME name SOURCES a_test.cpp ... LIBS lib ...): a Qt Test program of the windows and
# widgets, label "gui", on the offscreen platform (no display needed; runs under the sanitizers).
function(brenwick_qt_test)
  if(NOT BRENWICK_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  brenwick_warnings(${T_NAME})
  set_target_properties(${T_NAME} PROPERTIES AUTOMOC ON)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} Qt6::Test Qt6::Widgets)
  target_include_directories(${T_NAME} PRIVATE ${BRENWICK_ROOT})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES LABELS gui
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;BRENWICK_SOURCE_DIR=${BRENWICK_ROOT}")
endfunction()

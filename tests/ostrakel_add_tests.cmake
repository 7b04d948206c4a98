# ostrakel_add_test(NAME name SOURCES ... LIBS ... LABEL unit|db|server|gui)
# One executable per behaviour family, its cases discovered into CTest with a label.
function(ostrakel_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE test_support ${T_LIBS} GTest::gtest_main)
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS ${T_LABEL} ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60)
endfunction()

# ostrakel_add_test(NAME name SOURCES ... LIBS ... LABEL unit|db|server|gui [QT|OWNMAIN])
# One executable per behaviour family, its cases discovered into CTest with a
# label. QT gives the executable a QApplication (offscreen) around the run;
# OWNMAIN leaves the entry point to the test's own sources.
function(ostrakel_add_test)
  cmake_parse_arguments(T "QT;OWNMAIN" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(OSTRAKEL_SANITIZE)
    # The engine's own leaks are not the program's (tests/db/LsanSuppressions.cpp).
    target_sources(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/db/LsanSuppressions.cpp)
  endif()
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE test_support ${T_LIBS} test_qt_main)
  elseif(T_OWNMAIN)
    target_link_libraries(${T_NAME} PRIVATE test_support ${T_LIBS} GTest::gtest)
  else()
    target_link_libraries(${T_NAME} PRIVATE test_support ${T_LIBS} GTest::gtest_main)
  endif()
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS ${T_LABEL} ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60)
endfunction()

# tessera_add_test(name SOURCES a.cpp b.cpp [LIBS lib...] [GUI] [LABELS label...])
#
# One test binary per unit. GUI tests link the dialog library and a main that
# creates the QApplication; everything else links only tessera_core.
function(tessera_add_test name)
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(T_GUI)
    target_link_libraries(${name} PRIVATE tessera_ui tessera_test_support_gui Qt6::Test GTest::gtest ${T_LIBS})
  else()
    target_link_libraries(${name} PRIVATE tessera_core tessera_test_support GTest::gtest GTest::gtest_main ${T_LIBS})
  endif()
  set(labels ${T_LABELS})
  if(T_GUI)
    list(APPEND labels gui)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600 LABELS "${labels}")
endfunction()

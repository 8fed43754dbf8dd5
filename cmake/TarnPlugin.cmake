# tarn_add_plugin(Name SOURCES a.cpp ... [LIBS lib ...] [TESTS a_test.cpp ...]
#                 [TEST_LIBS lib ...] [TEST_ONLY])
#   Builds the module <Name>.tnp into build/plugins (build/test-plugins with
#   TEST_ONLY, which is also not installed). TESTS are looked up in the folder
#   of tests/ that mirrors the calling folder; each becomes one test program.
#
# tarn_add_test(Name SOURCES a_test.cpp ... [LIBS lib ...])
#   A GoogleTest program whose tests ctest runs with the test plug-ins on the
#   search path.

function(tarn_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TARN_BUILD_TESTS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE TarnTestSupport ${T_LIBS} GTest::gtest GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set_property(GLOBAL APPEND PROPERTY TARN_TEST_TARGETS ${name})
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "TARN_PLUGIN_PATH=${TARN_TEST_PLUGIN_OUTPUT_DIR}" TIMEOUT 300)
endfunction()

function(tarn_add_plugin name)
  cmake_parse_arguments(P "TEST_ONLY" "" "SOURCES;LIBS;TESTS;TEST_LIBS" ${ARGN})
  add_library(${name} MODULE ${P_SOURCES})
  set_property(GLOBAL APPEND PROPERTY TARN_PLUGIN_TARGETS ${name})
  target_link_libraries(${name} PRIVATE TarnBase StrandEvent ${P_LIBS})
  if(P_TEST_ONLY)
    set(out ${TARN_TEST_PLUGIN_OUTPUT_DIR})
  else()
    set(out ${TARN_PLUGIN_OUTPUT_DIR})
  endif()
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".tnp"
    LIBRARY_OUTPUT_DIRECTORY ${out}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    BUILD_RPATH "${CMAKE_BINARY_DIR}/lib"
    INSTALL_RPATH "$ORIGIN/../..")
  if(NOT P_TEST_ONLY)
    install(TARGETS ${name} LIBRARY DESTINATION ${TARN_PLUGIN_INSTALL_DIR})
  endif()
  if(TARN_BUILD_TESTS AND P_TESTS)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    set(sources)
    foreach(t ${P_TESTS})
      list(APPEND sources ${CMAKE_SOURCE_DIR}/tests/${rel}/${t})
    endforeach()
    tarn_add_test(${name}_tests SOURCES ${sources} LIBS ${P_TEST_LIBS})
  endif()
endfunction()

# Tests load modules and run the runner: build all of them before any test.
function(tarn_link_tests_to_modules)
  get_property(tests GLOBAL PROPERTY TARN_TEST_TARGETS)
  get_property(plugins GLOBAL PROPERTY TARN_PLUGIN_TARGETS)
  foreach(t ${tests})
    add_dependencies(${t} tarn ${plugins})
  endforeach()
endfunction()

# tarn_add_odb_plugin(Name): an ODB plug-in of one source, Name.cpp, linked
# with the shared ODB code (added here once, by whichever plug-in comes
# first), with its test program, which runs the example graphs.
function(tarn_add_odb_plugin name)
  if(NOT TARGET TarnOdb)
    add_subdirectory(${CMAKE_SOURCE_DIR}/plugins/common/odb ${CMAKE_BINARY_DIR}/plugins/common/odb)
  endif()
  tarn_add_plugin(${name} SOURCES ${name}.cpp LIBS TarnOdb
    TESTS ${name}_test.cpp TEST_LIBS MidasSynth)
  if(TARGET ${name}_tests)
    target_compile_definitions(${name}_tests PRIVATE TARN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  endif()
endfunction()

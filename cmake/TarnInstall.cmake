# What an installed tree holds besides the programs, libraries and plug-ins:
# man pages, bash completion, the README and copyright under share/doc/tarn,
# and the example graphs with the sample runs they read, so that they run
# from any directory.

find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(man_dir ${CMAKE_BINARY_DIR}/man)
  add_custom_command(OUTPUT ${man_dir}/tarn.1.gz
    COMMAND bash ${CMAKE_SOURCE_DIR}/cmake/man-pages.sh $<TARGET_FILE:tarn> $<TARGET_FILE:midas-synth>
            ${PROJECT_VERSION} ${man_dir}
    DEPENDS tarn tarn-merge midas-synth ${CMAKE_SOURCE_DIR}/cmake/man-pages.sh
    COMMENT "Making the man pages from the programs' help texts"
    VERBATIM)
  add_custom_target(man-pages ALL DEPENDS ${man_dir}/tarn.1.gz)
  # The pages are found only when made: one per subcommand tarn has.
  install(DIRECTORY ${man_dir}/ DESTINATION share/man/man1 FILES_MATCHING PATTERN "*.1.gz")
else()
  message(WARNING "help2man not found: no man pages (scripts/ensure-deps.sh installs it)")
endif()

install(FILES ${CMAKE_SOURCE_DIR}/cmake/completion/tarn DESTINATION share/bash-completion/completions)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/cmake/copyright DESTINATION share/doc/tarn)
# The README's links into docs/ lead somewhere.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs DESTINATION share/doc/tarn)

# The graphs name their runs build/sample/NAME, as a build makes them; the
# same runs go beside the installed graphs (midas-synth makes the same file
# from the same options).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION share/tarn/examples FILES_MATCHING PATTERN "*.tarn")
set(sample_dir ${CMAKE_BINARY_DIR}/example-runs)
set(sample_runs)
foreach(run "run00001|--modules --events 20" "run00002|--modules --events 5000" "vf48-run00001|--vf48 4 --events 20")
  string(REPLACE "|" ";" run ${run})
  list(GET run 0 name)
  list(GET run 1 options)
  separate_arguments(options)
  add_custom_command(OUTPUT ${sample_dir}/${name}.mid.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${sample_dir}
    COMMAND $<TARGET_FILE:midas-synth> ${options} ${sample_dir}/${name}.mid.gz
    DEPENDS midas-synth
    VERBATIM)
  list(APPEND sample_runs ${sample_dir}/${name}.mid.gz)
endforeach()
add_custom_target(example-runs ALL DEPENDS ${sample_runs})
install(FILES ${sample_runs} DESTINATION share/tarn/examples/build/sample)

# The documents installed beside the programs. Each lands in the build tree's
# share/ folder as after installation, so the build tree can be checked and
# run the same way.

find_program(SCDOC scdoc REQUIRED)
set(TARNWICK_BUILD_DATADIR "${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}")
set(TARNWICK_BUILD_MANDIR "${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_MANDIR}/man1")
# The manual pages carry the release day, not the day of the build, so the
# same sources give the same pages.
execute_process(COMMAND date --utc --date "${TARNWICK_RELEASE_DATE} 12:00" +%s
  OUTPUT_VARIABLE TARNWICK_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# tarnwick_add_manual(NAME SOURCE file.scd [PROGRAM target]): the manual page
# NAME.1 from its scdoc source; with PROGRAM, the synopsis and the options
# come from that program's own command line.
function(tarnwick_add_manual name)
  cmake_parse_arguments(ARG "" "SOURCE;PROGRAM" "" ${ARGN})
  set(page "${TARNWICK_BUILD_MANDIR}/${name}.1")
  set(program_arguments "")
  set(program_depends "")
  if(ARG_PROGRAM)
    set(program_arguments "-DPROGRAM=$<TARGET_FILE:${ARG_PROGRAM}>")
    set(program_depends ${ARG_PROGRAM})
  endif()
  add_custom_command(OUTPUT "${page}" "${page}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${TARNWICK_BUILD_MANDIR}"
    COMMAND ${CMAKE_COMMAND} "-DTEMPLATE=${ARG_SOURCE}" "-DOUTPUT=${page}" "-DSCDOC=${SCDOC}"
            "-DVERSION=${PROJECT_VERSION}" "-DRELEASE_EPOCH=${TARNWICK_RELEASE_EPOCH}" ${program_arguments}
            -P "${PROJECT_SOURCE_DIR}/cmake/TarnwickManual.cmake"
    DEPENDS "${ARG_SOURCE}" "${PROJECT_SOURCE_DIR}/cmake/TarnwickManual.cmake" ${program_depends}
    COMMENT "Writing the manual page ${name}(1)")
  add_custom_target(${name}_manual ALL DEPENDS "${page}")
  install(FILES "${page}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endfunction()

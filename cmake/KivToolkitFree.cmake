# Only gui/ (and its tests in tests/gui/) may include Qt. Every build checks the
# source files of the other folders (the core, the command line, the simulator, the tools,
# the other tests, benchmarks and fuzz targets) and fails when one includes a Qt header, so
# that the core stays buildable and testable without the toolkit. A folder added later is
# checked once it is named here.
set(KIV_TOOLKIT_FREE_DIRS platform log res wire images net diag engine app cli sim tools bench fuzz tests)
set(KIV_TOOLKIT_DIRS tests/gui)

set(_kiv_globs "")
foreach(_dir ${KIV_TOOLKIT_FREE_DIRS})
  foreach(_ext h hpp cpp cc inc in)
    list(APPEND _kiv_globs ${CMAKE_SOURCE_DIR}/${_dir}/*.${_ext})
  endforeach()
endforeach()
file(GLOB_RECURSE _kiv_found CONFIGURE_DEPENDS ${_kiv_globs})
set(_kiv_toolkit_free_files "")
foreach(_file ${_kiv_found})
  set(_kiv_keep TRUE)
  foreach(_dir ${KIV_TOOLKIT_DIRS})
    string(FIND "${_file}" "${CMAKE_SOURCE_DIR}/${_dir}/" _kiv_at)
    if(_kiv_at EQUAL 0)
      set(_kiv_keep FALSE)
    endif()
  endforeach()
  if(_kiv_keep)
    list(APPEND _kiv_toolkit_free_files ${_file})
  endif()
endforeach()
list(SORT _kiv_toolkit_free_files)

set(_kiv_list ${CMAKE_BINARY_DIR}/toolkit-free/files.txt)
string(REPLACE ";" "\n" _kiv_lines "${_kiv_toolkit_free_files}")
file(CONFIGURE OUTPUT ${_kiv_list} CONTENT "${_kiv_lines}\n")
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/toolkit-free/checked.stamp
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DLIST_FILE=${_kiv_list}
          -P ${CMAKE_SOURCE_DIR}/cmake/CheckToolkitFree.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/toolkit-free/checked.stamp
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/CheckToolkitFree.cmake ${_kiv_list} ${_kiv_toolkit_free_files}
  COMMENT "Checking that no toolkit-free file includes Qt"
  VERBATIM)
add_custom_target(kiv_toolkit_free ALL DEPENDS ${CMAKE_BINARY_DIR}/toolkit-free/checked.stamp)

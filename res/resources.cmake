# Resources compiled into the programs (library kiv_res).
#
# Every embedded file is one entry "ID|TYPE|FILE" of KIV_RESOURCE_ENTRIES. At build time
# GenerateResources.cmake turns the list into one C++ source that pulls each file into the
# program with the assembler's .incbin (no huge initialiser lists to compile) together with
# a lookup table. The command re-runs whenever the list, the script or an input changes.
# A release (packaging/) generates its own table from this list and its images and links it
# in place of this one.

set(KIV_RESOURCE_ENTRIES "")
set(KIV_RESOURCE_FILES "")
set(KIV_RESOURCE_TARGETS "")
set(_kiv_res_gen ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${_kiv_res_gen})

macro(kiv_resource id type path)
  list(APPEND KIV_RESOURCE_ENTRIES "${id}|${type}|${path}")
  list(APPEND KIV_RESOURCE_FILES "${path}")
endmacro()

# Embedded images of the router and wireless modules, when supplied.
file(GLOB _kiv_supplied_images CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/images/*.bin)
foreach(_id 148 144 147 146)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/images/${_id}.bin)
    kiv_resource(${_id} BINARY ${CMAKE_CURRENT_SOURCE_DIR}/images/${_id}.bin)
  endif()
endforeach()

# Flag resources: the single character "0", which never opens as an image.
set(_kiv_flag ${_kiv_res_gen}/flag0.bin)
if(NOT EXISTS ${_kiv_flag})
  file(WRITE ${_kiv_flag} "0")
endif()
foreach(_id 145 160 161 162 163)
  kiv_resource(${_id} BINARY ${_kiv_flag})
endforeach()

# Help file: res/help/help.cmake may set KIV_HELP_CHM (a file made at build time) and
# KIV_HELP_CHM_TARGET (the target that makes it).
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/help/help.cmake)
  include(${CMAKE_CURRENT_SOURCE_DIR}/help/help.cmake)
endif()
if(KIV_HELP_CHM)
  kiv_resource(152 CHM ${KIV_HELP_CHM})
  if(KIV_HELP_CHM_TARGET)
    list(APPEND KIV_RESOURCE_TARGETS ${KIV_HELP_CHM_TARGET})
  endif()
endif()

# The list goes to a file (rewritten only when it changes) that the generator reads.
set(_kiv_res_list ${_kiv_res_gen}/resource_list.cmake)
set(_kiv_res_list_text "set(KIV_RESOURCE_ENTRIES \"${KIV_RESOURCE_ENTRIES}\")\n")
file(CONFIGURE OUTPUT ${_kiv_res_list} CONTENT "${_kiv_res_list_text}" @ONLY)

set(_kiv_res_cpp ${_kiv_res_gen}/ResourceData.cpp)
add_custom_command(
  OUTPUT ${_kiv_res_cpp}
  COMMAND ${CMAKE_COMMAND} -DLIST_FILE=${_kiv_res_list} -DOUTPUT=${_kiv_res_cpp}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/GenerateResources.cmake
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/GenerateResources.cmake ${_kiv_res_list}
          ${KIV_RESOURCE_FILES} ${KIV_RESOURCE_TARGETS}
  COMMENT "Generating embedded resources"
  VERBATIM)

# The product version, in a source of its own (a release links its own copy instead).
set(KIV_PRODUCT_VERSION ${PROJECT_VERSION})
set(_kiv_version_cpp ${_kiv_res_gen}/ProductVersionData.cpp)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/ProductVersionData.cpp.in ${_kiv_version_cpp} @ONLY)

# Windows: real Win32 resources from a resource script instead of the generated source.
if(WIN32)
  include(${CMAKE_CURRENT_SOURCE_DIR}/WindowsResources.cmake)
  return()
endif()

add_library(kiv_res STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/Resources.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/StringTable.cpp
  ${_kiv_res_cpp}
  ${_kiv_version_cpp})
target_include_directories(kiv_res PUBLIC ${CMAKE_SOURCE_DIR})
# The generated source names its inputs only inside .incbin directives, which the compiler
# does not track: rebuild it whenever an input changes.
set_source_files_properties(${_kiv_res_cpp} PROPERTIES OBJECT_DEPENDS "${KIV_RESOURCE_FILES}")
if(KIV_RESOURCE_TARGETS)
  add_dependencies(kiv_res ${KIV_RESOURCE_TARGETS})
endif()

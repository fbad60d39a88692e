# What a release (scripts/release.sh, packaging/) takes from this build: man pages, icons,
# the exported targets and a description of the build. Also the install rules of this
# build (`cmake --install`).
include(${CMAKE_SOURCE_DIR}/cmake/KivInstall.cmake)

set(KIV_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(KIV_ICON_DIR ${CMAKE_BINARY_DIR}/icons)

# Man pages: docs/man/NAME.1.scd -> man/NAME.1 (scdoc) -> man/NAME.1.gz.
find_program(KIV_SCDOC scdoc)
find_program(KIV_GZIP gzip)
set(_kiv_man_outputs "")
if(KIV_SCDOC AND KIV_GZIP)
  foreach(_page ${KIV_APP_MAN_PAGES} ${KIV_TOOLS_MAN_PAGES})
    set(_src ${CMAKE_SOURCE_DIR}/docs/man/${_page}.1.scd)
    add_custom_command(
      OUTPUT ${KIV_MAN_DIR}/${_page}.1 ${KIV_MAN_DIR}/${_page}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KIV_MAN_DIR}
      COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" ${KIV_SCDOC} ${_src} ${KIV_MAN_DIR}/${_page}.1
      COMMAND sh -c "\"$0\" -9 -n -c \"$1\" > \"$2\"" ${KIV_GZIP} ${KIV_MAN_DIR}/${_page}.1 ${KIV_MAN_DIR}/${_page}.1.gz
      DEPENDS ${_src}
      COMMENT "Man page ${_page}(1)"
      VERBATIM)
    list(APPEND _kiv_man_outputs ${KIV_MAN_DIR}/${_page}.1.gz)
  endforeach()
else()
  message(STATUS "scdoc or gzip not found (package scdoc): no man pages")
endif()
add_custom_target(kiv_man_pages ALL DEPENDS ${_kiv_man_outputs})

# Icons in the hicolor sizes, scaled from the program icon (ImageMagick).
find_program(KIV_CONVERT convert)
set(_kiv_icon_outputs "")
if(KIV_CONVERT)
  set(_kiv_icon_src ${CMAKE_SOURCE_DIR}/res/icons/128.png)
  foreach(_size ${KIV_ICON_SIZES})
    set(_out ${KIV_ICON_DIR}/${_size}x${_size}/kivupgrade.png)
    add_custom_command(
      OUTPUT ${_out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KIV_ICON_DIR}/${_size}x${_size}
      COMMAND ${KIV_CONVERT} ${_kiv_icon_src} -strip -resize ${_size}x${_size}
              -define png:exclude-chunks=date,time ${_out}
      DEPENDS ${_kiv_icon_src}
      VERBATIM)
    list(APPEND _kiv_icon_outputs ${_out})
  endforeach()
else()
  message(STATUS "convert not found (package imagemagick): no icons in the hicolor sizes")
endif()
add_custom_target(kiv_icons ALL DEPENDS ${_kiv_icon_outputs})

# AppStream metadata of this build (a release writes its own with its version).
string(TIMESTAMP KIV_RELEASE_DATE "%Y-%m-%d" UTC)
set(KIV_RELEASE_VERSION ${PROJECT_VERSION})
set(KIV_METAINFO ${CMAKE_BINARY_DIR}/com.varoni.kivupgrade.metainfo.xml)
configure_file(${CMAKE_SOURCE_DIR}/res/com.varoni.kivupgrade.metainfo.xml.in ${KIV_METAINFO} @ONLY)

# Install rules of this build.
foreach(_program kivupgrade kivupgrade-cli)
  if(TARGET ${_program})
    kiv_install_program(${_program} ${KIV_COMPONENT_APP})
  endif()
endforeach()
foreach(_program kivrouter-sim kivimage)
  if(TARGET ${_program})
    kiv_install_program(${_program} ${KIV_COMPONENT_TOOLS})
  endif()
endforeach()
set(_kiv_data_args SOURCE_DIR ${CMAKE_SOURCE_DIR} METAINFO ${KIV_METAINFO})
if(_kiv_man_outputs)
  list(APPEND _kiv_data_args MAN_DIR ${KIV_MAN_DIR})
endif()
if(_kiv_icon_outputs)
  list(APPEND _kiv_data_args ICON_DIR ${KIV_ICON_DIR})
endif()
kiv_install_data(${_kiv_data_args})

# A release links this build's objects with its own resources: export the libraries and
# programs it needs, and describe the build. Only a plain build with the window will do.
if(TARGET kivupgrade AND TARGET kivupgrade-cli AND TARGET kivrouter-sim AND TARGET kivimage
   AND NOT KIV_SANITIZE AND NOT KIV_BUILD_FUZZ)
  export(TARGETS
      kiv_platform kiv_log kiv_res kiv_wire kiv_images kiv_net kiv_diag kiv_engine kiv_appcore kivcore
      kiv_gui_controls kiv_gui kiv_window_objects kiv_cli_objects kivrouter-sim kivimage kiv-versioninfo-gen
    NAMESPACE kivbuild::
    FILE ${CMAKE_BINARY_DIR}/KivTargets.cmake)
  add_custom_target(release-inputs)
  add_dependencies(release-inputs kivupgrade kivupgrade-cli kivrouter-sim kivimage kiv-versioninfo-gen
    kiv_man_pages kiv_icons)
  set(_kiv_build_info "# Written by cmake/KivRelease.cmake: what a release takes from this build.
set(KIV_BUILD_DIR \"${CMAKE_BINARY_DIR}\")
set(KIV_BUILD_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
set(KIV_BUILD_TYPE \"${CMAKE_BUILD_TYPE}\")
set(KIV_BUILD_CXX_COMPILER \"${CMAKE_CXX_COMPILER}\")
set(KIV_BUILD_C_COMPILER \"${CMAKE_C_COMPILER}\")
set(KIV_BUILD_VERSION \"${PROJECT_VERSION}\")
set(KIV_BUILD_PRODUCT_NAME \"${KIV_PRODUCT_NAME}\")
set(KIV_BUILD_RESOURCE_LIST \"${CMAKE_BINARY_DIR}/res/generated/resource_list.cmake\")
set(KIV_BUILD_MAN_DIR \"${KIV_MAN_DIR}\")
set(KIV_BUILD_ICON_DIR \"${KIV_ICON_DIR}\")
set(KIV_BUILD_HAS_MAN_PAGES \"${_kiv_man_outputs}\")
set(KIV_BUILD_HAS_ICONS \"${_kiv_icon_outputs}\")
")
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/KivBuild.cmake CONTENT "${_kiv_build_info}")
else()
  file(REMOVE ${CMAKE_BINARY_DIR}/KivBuild.cmake)
endif()

# Where every file of an installation goes and in which package: shared by the main project
# (`cmake --install build`) and the release project (packaging/), which builds the Debian
# packages and the tarball from these rules.
#
# Install components: "app" (package kivupgrade) holds the window, the command line and
# their data; "tools" (package kivupgrade-tools) the virtual router, the image tool and the
# Wireshark dissector.
include(GNUInstallDirs)

set(KIV_COMPONENT_APP app)
set(KIV_COMPONENT_TOOLS tools)
# The programs look for images here, relative to their own bin/ (app/ImageSearchPath.h).
set(KIV_IMAGE_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/kivupgrade/images)
set(KIV_ICON_SIZES 16 22 24 32 48 64)
# The Wireshark dissector goes where Debian's Wireshark finds Lua plugins for every user
# (`tshark -G folders`, "Global Lua Plugins"): /usr/lib/<multiarch>/wireshark/plugins.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(KIV_WIRESHARK_LUA_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
else()
  set(KIV_WIRESHARK_LUA_DIR lib/wireshark/plugins)
endif()
set(KIV_APP_MAN_PAGES kivupgrade kivupgrade-cli)
set(KIV_TOOLS_MAN_PAGES kivrouter-sim kivimage)

# One program into bin/: a target of this project, or one imported from the main build.
function(kiv_install_program target component)
  get_target_property(_imported ${target} IMPORTED)
  if(_imported)
    install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  else()
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  endif()
endfunction()

# kiv_install_data(SOURCE_DIR dir METAINFO file [MAN_DIR dir] [ICON_DIR dir])
# The desktop entry, AppStream metadata, icons, man pages (NAME.1.gz in MAN_DIR), the
# command line's bash completion and the Wireshark dissector. Without MAN_DIR or ICON_DIR
# those are left out.
function(kiv_install_data)
  cmake_parse_arguments(A "" "SOURCE_DIR;METAINFO;MAN_DIR;ICON_DIR" "" ${ARGN})
  install(FILES ${A_SOURCE_DIR}/tools/wireshark/kivupgrade.lua DESTINATION ${KIV_WIRESHARK_LUA_DIR}
          COMPONENT ${KIV_COMPONENT_TOOLS})
  install(FILES ${A_SOURCE_DIR}/res/kivupgrade.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${KIV_COMPONENT_APP})
  install(FILES ${A_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT ${KIV_COMPONENT_APP})
  install(FILES ${A_SOURCE_DIR}/res/kivupgrade-cli.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kivupgrade-cli
          COMPONENT ${KIV_COMPONENT_APP})
  if(A_ICON_DIR)
    foreach(_size ${KIV_ICON_SIZES})
      install(FILES ${A_ICON_DIR}/${_size}x${_size}/kivupgrade.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
              COMPONENT ${KIV_COMPONENT_APP})
    endforeach()
  endif()
  if(A_MAN_DIR)
    foreach(_page ${KIV_APP_MAN_PAGES})
      install(FILES ${A_MAN_DIR}/${_page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
              COMPONENT ${KIV_COMPONENT_APP})
    endforeach()
    foreach(_page ${KIV_TOOLS_MAN_PAGES})
      install(FILES ${A_MAN_DIR}/${_page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
              COMPONENT ${KIV_COMPONENT_TOOLS})
    endforeach()
  endif()
endfunction()

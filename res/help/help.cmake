# Compiles the user guide in res/help into a CHM at build time when chmcmd (fp-utils) is
# installed. Sets KIV_HELP_CHM (the file) and KIV_HELP_CHM_TARGET (the target making it).
set(_kiv_help_dir ${CMAKE_SOURCE_DIR}/res/help)
find_program(KIV_CHMCMD chmcmd)
if(NOT KIV_CHMCMD)
  message(STATUS "chmcmd not found (package fp-utils): the help file is not embedded; F1 will say so")
  set(KIV_HELP_CHM "")
  set(KIV_HELP_CHM_TARGET "")
  return()
endif()

set(_kiv_help_build ${CMAKE_BINARY_DIR}/res/help)
set(KIV_HELP_CHM ${_kiv_help_build}/KivUpgradeHelp.chm)
set(_kiv_help_sources
  ${_kiv_help_dir}/KivUpgradeHelp.hhp
  ${_kiv_help_dir}/index.html
  ${_kiv_help_dir}/check.html
  ${_kiv_help_dir}/upgrade.html
  ${_kiv_help_dir}/status.html
  ${_kiv_help_dir}/trouble.html)
add_custom_command(
  OUTPUT ${KIV_HELP_CHM}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_kiv_help_build}
  COMMAND ${CMAKE_COMMAND} -E copy ${_kiv_help_sources} ${_kiv_help_build}
  COMMAND ${KIV_CHMCMD} KivUpgradeHelp.hhp > chmcmd.log
  WORKING_DIRECTORY ${_kiv_help_build}
  DEPENDS ${_kiv_help_sources}
  COMMENT "Compiling the help file"
  VERBATIM)
add_custom_target(kiv_help_chm DEPENDS ${KIV_HELP_CHM})
set(KIV_HELP_CHM_TARGET kiv_help_chm)

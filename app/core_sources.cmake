# The toolkit-free controller files of the main dialog and the version check, the
# program's version resource with its reader, and the window's own command-line options
# (read before the display is opened).
set(KIV_APPCORE_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/CKivOneClickDlg.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CModuleVersion.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CModuleVersionPosix.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CRouterFinder.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CVersionCheck.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/DiscoveryHint.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ImageHeaderProbe.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ImageSearchPath.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/RouterOverrides.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SocketStartup.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/TimeScaleRule.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/UpgradeHistory.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/VersionInfoWriter.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/WindowCommandLine.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/WindowPlacementRecord.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/WindowTitle.cpp
)

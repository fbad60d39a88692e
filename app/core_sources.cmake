# The toolkit-free controller files of the main dialog and the version check, and the
# program's version resource with its reader.
set(KIV_APPCORE_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/CKivOneClickDlg.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CModuleVersion.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CRouterFinder.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CVersionCheck.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/DiscoveryHint.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ImageSearchPath.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/RouterOverrides.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/TimeScaleRule.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/VersionInfoWriter.cpp
)

# The Qt desktop program `kivupgrade` and the library `kiv_gui` its tests link.
find_package(Qt6 COMPONENTS Widgets Network Test)
if(NOT Qt6_FOUND)
  message(STATUS "Qt 6 Widgets not found: the desktop program is not built")
  return()
endif()

file(GLOB _kiv_controls CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/ui/controls/*.cpp ${CMAKE_SOURCE_DIR}/ui/controls/*.h)
add_library(kiv_gui STATIC
  ${_kiv_controls}
  ${CMAKE_CURRENT_SOURCE_DIR}/CKivOneClickApp.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CKivOneClickApp.h
  ${CMAKE_CURRENT_SOURCE_DIR}/CMainWindow.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CMainWindow.h
  ${CMAKE_CURRENT_SOURCE_DIR}/CListBridge.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CSingleInstanceGuard.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CSingleInstanceGuard.h
  ${CMAKE_CURRENT_SOURCE_DIR}/WindowPlacement.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/HelpFile.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CHelpWindow.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CHelpWindow.h
  ${CMAKE_CURRENT_SOURCE_DIR}/WindowCommandLine.cpp
  ${CMAKE_SOURCE_DIR}/res/icons/icons.qrc
  ${CMAKE_SOURCE_DIR}/res/help/help.qrc)
set_target_properties(kiv_gui PROPERTIES AUTOMOC ON AUTORCC ON)
target_include_directories(kiv_gui PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kiv_gui PUBLIC kiv_appcore kiv_res Qt6::Widgets Qt6::Network)

# main() as an object of its own, so that a release (scripts/release.sh) links the same
# objects with its own resources and version resource instead of compiling them again.
add_library(kiv_window_objects OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
target_link_libraries(kiv_window_objects PUBLIC kiv_gui)

add_executable(kivupgrade)
target_link_libraries(kivupgrade PRIVATE kiv_window_objects)
# The running program's file name is the application name the version lookup expects.
set_target_properties(kivupgrade PROPERTIES OUTPUT_NAME kivupgrade)

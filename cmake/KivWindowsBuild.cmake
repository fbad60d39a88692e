# The set-up of the Windows build, after the options (CMakeLists.txt includes it for Windows
# only): compilers, the header-only libraries, GoogleTest and Wine for the tests. What the
# build holds is listed in cmake/KivWindows.cmake.

foreach(_kiv_linux_only KIV_BUILD_GUI KIV_BUILD_BENCH KIV_BUILD_FUZZ KIV_SANITIZE)
  if(${_kiv_linux_only})
    message(FATAL_ERROR "${_kiv_linux_only} is for the Linux build only")
  endif()
endforeach()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR NOT CMAKE_CXX_COMPILER MATCHES "posix")
  message(FATAL_ERROR "the Windows build needs MinGW-w64's posix compilers "
                      "(--toolchain cmake/toolchains/mingw-w64-x86_64.cmake)")
endif()
enable_language(RC)

# Unicode Win32 API: every Windows call is a W function, fed UTF-16 converted from the UTF-8
# the code keeps. Windows 10 is the oldest version the programs are built for.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)

# ---- header-only libraries -----------------------------------------------------------------

# CLI11 and nlohmann/json from Debian's packages, through a folder that holds only them:
# the host's /usr/include as a whole must never reach the cross compiler.
set(KIV_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only/include)
file(MAKE_DIRECTORY ${KIV_HEADER_ONLY_DIR})
foreach(_kiv_hdr CLI:libcli11-dev nlohmann:nlohmann-json3-dev)
  string(REPLACE ":" ";" _kiv_hdr ${_kiv_hdr})
  list(GET _kiv_hdr 0 _kiv_hdr_dir)
  list(GET _kiv_hdr 1 _kiv_hdr_package)
  if(NOT IS_DIRECTORY /usr/include/${_kiv_hdr_dir})
    message(FATAL_ERROR "/usr/include/${_kiv_hdr_dir} is missing (package ${_kiv_hdr_package})")
  endif()
  file(CREATE_LINK /usr/include/${_kiv_hdr_dir} ${KIV_HEADER_ONLY_DIR}/${_kiv_hdr_dir} SYMBOLIC)
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${KIV_HEADER_ONLY_DIR})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${KIV_HEADER_ONLY_DIR})
# find_package() of these (and of GoogleTest, below) is answered by the targets made here.
foreach(_kiv_pkg cli11 nlohmann_json gtest)
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${_kiv_pkg}-config.cmake
       "# Windows build: the targets are made by cmake/KivWindows.cmake.\n")
endforeach()

if(NOT KIV_BUILD_TESTS)
  return()
endif()

# ---- GoogleTest, built for Windows -----------------------------------------------------------

set(KIV_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (package googletest)")
if(NOT EXISTS ${KIV_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "${KIV_GOOGLETEST_SOURCE} holds no GoogleTest sources (package googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KIV_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# ---- the tests run under Wine ----------------------------------------------------------------

# ctest starts every Windows program through cmake/wine-run.sh, which gives each run a Wine
# prefix of its own copied from one template made per build folder (a fresh prefix takes
# Wine about 15 s to create). A Wine that is missing or cannot make the template fails the
# configuration or the build; one that fails to run a test fails that test.
find_program(KIV_WINE wine)
find_program(KIV_WINESERVER wineserver)
if(NOT KIV_WINE OR NOT KIV_WINESERVER)
  message(FATAL_ERROR "wine and wineserver are needed to run the Windows tests (package wine)")
endif()
set(KIV_WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
set(KIV_WINE_TEMPLATE ${CMAKE_BINARY_DIR}/wine/template)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KIV_WINE_RUN} ${KIV_WINE_TEMPLATE})
add_custom_command(
  OUTPUT ${KIV_WINE_TEMPLATE}/kiv-template.stamp
  COMMAND ${KIV_WINE_RUN} --make-template ${KIV_WINE_TEMPLATE}
  DEPENDS ${KIV_WINE_RUN} ${KIV_WINE}
  COMMENT "Making the Wine prefix template of the Windows tests"
  VERBATIM)
add_custom_target(kiv_wine_template ALL DEPENDS ${KIV_WINE_TEMPLATE}/kiv-template.stamp)

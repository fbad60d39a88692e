# kiv_add_module(NAME DEPS ...): a static library kiv_NAME from every .cpp in NAME/ that
# this platform builds (kiv_select_platform_sources). A folder with no sources yet gives an
# interface library, so the tree always configures. A folder the Windows build does not
# hold yet (cmake/KivWindows.cmake) gives nothing there.
function(kiv_add_module name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  kiv_builds_folder(${name} _build_it)
  if(NOT _build_it)
    return()
  endif()
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${name}/*.cpp)
  kiv_select_platform_sources(_srcs ${_srcs})
  if(WIN32)
    # A folder built in part for Windows may depend on folders that are not built there yet.
    set(_deps "")
    foreach(_dep ${A_DEPS})
      if(TARGET ${_dep} OR NOT _dep MATCHES "^kiv_")
        list(APPEND _deps ${_dep})
      endif()
    endforeach()
    set(A_DEPS ${_deps})
  endif()
  if(_srcs)
    add_library(kiv_${name} STATIC ${_srcs})
    target_include_directories(kiv_${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(kiv_${name} PUBLIC ${A_DEPS})
  else()
    add_library(kiv_${name} INTERFACE)
    target_include_directories(kiv_${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(kiv_${name} INTERFACE ${A_DEPS})
  endif()
endfunction()

# The lock the heavy tests hold (the soak, the real-time run, the release packages with
# lintian): one of them at a time, so that the machine they load is not loaded twice over
# beside the tests whose waits are tight.
set(KIV_HEAVY_TEST_LOCK kiv_heavy_test)

# kiv_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [HEAVY]): one GoogleTest program, its
# cases registered with CTest one by one. It links the shared test library (tests/support)
# and kiv_test_main, which gives its main(). Give one label: a list here would split the
# property pairs that follow it. HEAVY cases hold KIV_HEAVY_TEST_LOCK. Sources that are not
# for this platform are left out (kiv_select_platform_sources); the Windows build makes only
# the programs it lists (cmake/KivWindows.cmake), registers none of its POSIX-only cases
# (nor those Wine runs unlike Windows), and discovers the rest under Wine, whose first
# start in a new prefix takes seconds.
function(kiv_add_test name)
  cmake_parse_arguments(A "HEAVY" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(WIN32 AND NOT name IN_LIST KIV_WINDOWS_TEST_PROGRAMS)
    return()
  endif()
  kiv_select_platform_sources(_sources ${A_SOURCES})
  add_executable(${name} ${_sources})
  target_link_libraries(${name} PRIVATE ${A_LIBS} kiv_test_main kiv_test_support GTest::gtest)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  set(_discovery DISCOVERY_MODE PRE_TEST)
  if(WIN32)
    string(REPLACE ";" ":" _left_out "${KIV_POSIX_ONLY_TESTS};${KIV_WINE_UNLIKE_WINDOWS_TESTS}")
    list(APPEND _discovery DISCOVERY_TIMEOUT 120 TEST_FILTER "-${_left_out}")
  endif()
  set(_kiv_lock)
  if(A_HEAVY)
    set(_kiv_lock RESOURCE_LOCK ${KIV_HEAVY_TEST_LOCK})
  endif()
  gtest_discover_tests(${name} ${_discovery}
    PROPERTIES LABELS "${A_LABELS}" ENVIRONMENT "KIV_TEST_BIN_DIR=${CMAKE_BINARY_DIR}" ${_kiv_lock})
endfunction()

# kiv_add_missing_suite(NAME REASON): stands for a test suite this build could not make
# because something it needs is missing (not because the configuration left it out). The
# test it adds skips saying REASON, or fails under KIV_TEST_STRICT=1 (the test command and
# CI), so that a suite that was never built cannot pass as green.
function(kiv_add_missing_suite name reason)
  message(WARNING "${name} is not built: ${reason}")
  add_executable(${name}_not_built ${CMAKE_SOURCE_DIR}/tests/support/placeholder/MissingSuiteTest.cpp)
  target_link_libraries(${name}_not_built PRIVATE kiv_test_main kiv_test_support GTest::gtest)
  target_compile_definitions(${name}_not_built PRIVATE KIV_MISSING_SUITE="${name}" KIV_MISSING_REASON="${reason}")
  add_test(NAME ${name}_not_built COMMAND ${name}_not_built)
  set_tests_properties(${name}_not_built PROPERTIES LABELS missing SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
endfunction()

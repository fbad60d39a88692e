# The command line's end-to-end suites, run a second time with the Windows program: the
# Linux test programs of the main configuration's folder drive kivupgrade-cli.exe under Wine
# (KIV_CLI_UNDER_TEST) against the Linux kivrouter-sim on 127.0.0.1, and CliSameResults
# compares its results with the Linux program's. Every case is a test of its own, run in a
# Wine session of its own (tests/cli/WineCliSession.sh inside cmake/wine-run.sh --session):
# one prefix for the programs a case starts, as one Windows user has. The cases are listed
# from the programs when this folder is configured; scripts/test-windows.sh builds them
# first. A program or the Windows CLI that is missing makes a suite that fails under
# KIV_TEST_STRICT=1, never a silent gap.

set(KIV_LINUX_BUILD_DIR ${CMAKE_SOURCE_DIR}/build CACHE PATH
  "The main (Linux) configuration's build folder, whose kivrouter-sim and CLI test programs drive kivupgrade-cli.exe")

set(_kiv_wine_cli_programs test_cli_check test_cli_upgrade test_cli_discover test_cli_inputs test_cli_safety
  test_cli_same_results)

# Cases left out of the Windows run because what they test is Linux's own (regular
# expressions over SUITE.CASE). Each passes in the main configuration.
set(_kiv_wine_cli_linux_only
  # The login manager's lock over the system bus (Windows keeps the machine awake with
  # SetThreadExecutionState) and the history below XDG_STATE_HOME. The upgrade itself is
  # compared with the Linux program's in CliSameResults.
  "^CliUpgrade\\.FamilyAFullUpgradeThenTheNewVersionsAreRead$"
  "^CliUpgrade\\.OnlyBootNeedsNoNvramErase$"
  # An installed program under PREFIX/bin that takes PREFIX/share/kivupgrade/images: the
  # Linux file system's layout.
  "^CliInputs\\.InstalledProgramTakesThePackagedImagesOnly$"
  # A shared /tmp in a mount namespace, a FIFO in place of the log, file owners: Windows'
  # temporary directory is the user's own (GetTempPathW).
  "^CliSharedTmp\\."
  "^CliSafety\\.FifoInPlaceOfTheLogNeitherHangsTheRunNorIsWritten$"
  # POSIX signals a Windows console program never gets. Ctrl+C (SIGINT, which Wine turns into
  # CTRL_C_EVENT for the console program) stays in.
  "^Signals/CliStopSignal\\..*/SIG(TERM|HUP|QUIT|USR1|ALRM)$")

if(NOT TARGET kivupgrade-cli)
  kiv_add_missing_suite(cli_under_wine "kivupgrade-cli.exe is not built for Windows")
  return()
endif()

foreach(_program ${_kiv_wine_cli_programs})
  set(_path ${KIV_LINUX_BUILD_DIR}/tests/cli/${_program})
  if(NOT EXISTS ${_path})
    kiv_add_missing_suite(${_program}_under_wine
      "${_path} is missing (scripts/test-windows.sh builds it in the main configuration's folder)")
    continue()
  endif()
  # A rebuilt program may hold other cases: list them again then.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_path})
  execute_process(COMMAND ${_path} --gtest_list_tests OUTPUT_VARIABLE _listing RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    kiv_add_missing_suite(${_program}_under_wine "${_path} --gtest_list_tests failed (${_status})")
    continue()
  endif()
  string(REPLACE "\n" ";" _lines "${_listing}")
  set(_suite)
  foreach(_line ${_lines})
    string(REGEX REPLACE " *#.*$" "" _line "${_line}")
    if(_line MATCHES "^([^ ].*\\.)$")
      set(_suite ${CMAKE_MATCH_1})
      continue()
    elseif(NOT _line MATCHES "^  (.+)$")
      continue()
    endif()
    set(_case ${_suite}${CMAKE_MATCH_1})
    set(_left_out FALSE)
    foreach(_pattern ${_kiv_wine_cli_linux_only})
      if(_case MATCHES "${_pattern}")
        set(_left_out TRUE)
      endif()
    endforeach()
    if(_left_out)
      continue()
    endif()
    add_test(NAME "wine.${_case}"
      COMMAND ${KIV_WINE_RUN} --session ${KIV_WINE_TEMPLATE} ${CMAKE_CURRENT_SOURCE_DIR}/WineCliSession.sh
              ${_path} --gtest_filter=${_case})
    # Each case well inside the test command's own limit: a run that hangs under Wine fails
    # here, after four minutes, not at ctest's ten.
    set_tests_properties("wine.${_case}" PROPERTIES LABELS "cli;wine" TIMEOUT 240 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
      ENVIRONMENT "KIV_TEST_BIN_DIR=${KIV_LINUX_BUILD_DIR};KIV_CLI_UNDER_TEST=${KIV_WINE} $<TARGET_FILE:kivupgrade-cli>")
  endforeach()
endforeach()

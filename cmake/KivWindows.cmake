# The Windows build (cmake/toolchains/mingw-w64-x86_64.cmake): which folders and files it
# builds so far, which it leaves out, and how its tests run under Wine. The lists below are
# the one place to widen as more of the tree is ported. A Linux build only takes the
# file-selection rule (kiv_select_platform_sources) from here.

# ---- what the Windows build holds --------------------------------------------------------

# Folders built for Windows. gui/ (Qt), sim/ (the virtual router), bench/ and fuzz/ stay
# Linux-only. A folder may be built in part by listing its files in KIV_WINDOWS_SOURCES_<dir>;
# none is at present.
set(KIV_WINDOWS_FOLDERS platform log res wire images net diag engine app cli tools/kivimage)
# The Win32 window (win/): its controls, its services and kivupgrade.exe itself.
set(KIV_WINDOWS_WINDOW_PROGRAM ON)
# Test folders and test programs built for Windows. Left out: the suites that drive the
# virtual router (engine_upgrade_test, engine_fault_test, engine_image_change_test,
# test_app_router), which is a Linux program, and of tests/cli the end-to-end runs of the
# programs (the console's stop path is tested here).
set(KIV_WINDOWS_TEST_FOLDERS platform log wire images tools net diag engine app win cli)
set(KIV_WINDOWS_TEST_PROGRAMS test_platform test_log test_wire test_images test_kivimage net_tests
    diag_framing_test diag_queue_test diag_adapter_test diag_caller_test diag_udp_test
    engine_rows_test engine_frames_test
    test_app_rules test_app_dialog test_app_module_version test_app_image_search test_app_window_options
    test_app_placement
    test_win_controls test_win_services test_win_driver
    test_cli_stop_signals)

# Windows libraries that platform/ calls beyond kernel32: version (GetFileVersionInfoW),
# shell32 (CommandLineToArgvW, SHGetKnownFolderPath), ole32 (CoTaskMemFree) and uuid (the
# known folders' ids, a static library). Empty on Linux.
set(KIV_WINDOWS_SYSTEM_LIBRARIES "")
# And those net/ calls: Winsock 2 (ws2_32) and the adapter list (iphlpapi).
set(KIV_WINDOWS_NET_LIBRARIES "")
if(WIN32)
  set(KIV_WINDOWS_SYSTEM_LIBRARIES version shell32 ole32 uuid)
  set(KIV_WINDOWS_NET_LIBRARIES ws2_32 iphlpapi)
endif()

# Sources that are POSIX-only by nature and never built for Windows. Besides these, a file
# named *Posix.cpp or *PosixTest.cpp is POSIX-only, *Win32.cpp or *Win32Test.cpp
# Windows-only, and Foo.cpp gives way to FooWin32.cpp beside it (kiv_select_platform_sources).
set(KIV_POSIX_ONLY_SOURCES
  # An eventfd to wait on with poll() beside a socket; Winsock waits on events of its own.
  platform/CPollableEvent.cpp
  tests/platform/PollableEventTest.cpp
  # The per-user directory below /tmp (mode 0700, owner, never a link), FIFOs, file owners
  # and a child killed mid-log (fork): Windows has a per-user temporary directory of its
  # own and none of these.
  tests/log/UserFilesTest.cpp
  # Threads and descriptors counted from /proc/self.
  tests/support/ProcessCounts.cpp
  # Network namespaces and veth pairs (ip netns): Linux only.
  tests/support/TestLan.cpp)

# Test cases that are POSIX-only by nature inside programs the Windows build makes: they
# compile there, but the Windows build does not register them with ctest.
set(KIV_POSIX_ONLY_TESTS
  # Changes and shortens an image under its reader; on Windows the open image shares
  # reading only, so nothing can change it (FilesWin32Test.OpenImageKeepsWritersOutButNotReaders).
  CAppFileReader.RefusesChunksOfAFileChangedSinceItWasOpened)

# Test cases the Windows build makes but does not register because Wine, which runs them,
# behaves unlike Windows there (they pass on Linux; run them on Windows itself).
set(KIV_WINE_UNLIKE_WINDOWS_TESTS
  # A receive on a connection the peer has reset (the reset is on the wire) completes under
  # Wine as a graceful end of the stream, no WSAECONNRESET: the port never sees the reset.
  TcpPort.ResetDuringReadReconnects
  # Two UDP sockets on one port number at 127.0.0.1 and 127.0.0.2: Windows binds both (the
  # addresses differ), Wine refuses the second (WSAEADDRINUSE).
  DialogTest.SilentLanGivesSixDiscoveryTriesInTargetOrder)

# Test sources not built for Windows: the fixtures drive the virtual router, a Linux
# program, and so do the suites that use them in process (of tests/diag, the discovery
# replies of the simulator); the Process class (signals, pids) needs the CLI's end-to-end
# tests to exist on Windows. tests/support/ProcessWin32.cpp gives RunProgram meanwhile.
# (The socket peers are built: tests/support/TestSocketsWin32.cpp.)
set(KIV_WINDOWS_PENDING_SOURCES
  tests/support/SimFixture.cpp tests/support/EngineSimFixture.cpp tests/support/SimProcess.cpp
  tests/support/CliFixture.cpp tests/diag/DiscoveryRepliesTest.cpp)

# kiv_builds_folder(DIR OUT): OUT is TRUE when this build builds the folder DIR (relative to
# the source tree). Everything on Linux; the listed folders on Windows.
function(kiv_builds_folder dir out)
  if(NOT WIN32 OR dir IN_LIST KIV_WINDOWS_FOLDERS)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# kiv_select_platform_sources(OUT FILE...): the files of FILE... (absolute, or relative to
# the current source folder) that this build compiles, by the rule above.
function(kiv_select_platform_sources out)
  set(_kept "")
  foreach(_file ${ARGN})
    get_filename_component(_abs ${_file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    file(RELATIVE_PATH _rel ${CMAKE_SOURCE_DIR} ${_abs})
    get_filename_component(_dir ${_abs} DIRECTORY)
    get_filename_component(_name ${_abs} NAME_WLE)
    get_filename_component(_ext ${_abs} LAST_EXT)
    set(_keep TRUE)
    if(_name MATCHES "Win32(Test)?$")
      if(NOT WIN32)
        set(_keep FALSE)
      endif()
    elseif(_name MATCHES "Posix(Test)?$")
      if(WIN32)
        set(_keep FALSE)
      endif()
    elseif(WIN32 AND (EXISTS ${_dir}/${_name}Win32${_ext} OR _rel IN_LIST KIV_POSIX_ONLY_SOURCES
                      OR _rel IN_LIST KIV_WINDOWS_PENDING_SOURCES))
      set(_keep FALSE)
    endif()
    # A folder built in part for Windows: only its listed files.
    get_filename_component(_folder ${_rel} DIRECTORY)
    get_filename_component(_file ${_rel} NAME)
    if(WIN32 AND DEFINED KIV_WINDOWS_SOURCES_${_folder} AND NOT _file IN_LIST KIV_WINDOWS_SOURCES_${_folder})
      set(_keep FALSE)
    endif()
    if(_keep)
      list(APPEND _kept ${_abs})
    endif()
  endforeach()
  set(${out} ${_kept} PARENT_SCOPE)
endfunction()

if(NOT WIN32)
  return()
endif()

# ---- options that do not apply ------------------------------------------------------------

# The Qt window, benchmarks, fuzzing and the sanitizers stay Linux-only. Set before the
# options are declared, so these become the defaults of a Windows build folder.
set(KIV_BUILD_GUI OFF CACHE BOOL "Build the Qt desktop program (Linux only)")
set(KIV_BUILD_BENCH OFF CACHE BOOL "Build the benchmarks (Linux only)")
# The test folders follow this list at every configuration, so a folder configured before a
# suite joined the list does not leave it out silently.
set(KIV_TEST_DIRS "${KIV_WINDOWS_TEST_FOLDERS}" CACHE STRING "Test folders to build" FORCE)

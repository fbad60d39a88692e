# The main configuration's CMake options (build/), sourced by scripts/test.sh, which builds
# and tests it, and by scripts/test-windows.sh, which drives the Windows program from its
# Linux test programs: both configure the folder alike. Compilers by full path, as CMake keeps
# them in its cache.
# shellcheck shell=bash
main_options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
  -DCMAKE_C_COMPILER="$(command -v gcc)" -DCMAKE_CXX_COMPILER="$(command -v g++)"
  -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
  -DKIV_SANITIZE= -DKIV_BUILD_FUZZ=OFF -DKIV_BUILD_TESTS=ON -DKIV_BUILD_GUI=ON -DKIV_BUILD_BENCH=ON
  -DKIV_TEST_DIRS=all)

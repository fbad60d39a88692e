# Shared by the release test scripts (sourced).
# A test that cannot run here skips with exit 77 and a visible reason; with KIV_TEST_STRICT=1
# (CI) that is a failure instead.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

skip() {
  if [ "${KIV_TEST_STRICT:-0}" = 1 ]; then
    fail "cannot run (KIV_TEST_STRICT=1): $*"
  fi
  echo "SKIPPED: $*"
  exit 77
}

pass() {
  echo "ok: $*"
}

# require_tools NAME...: skip when a command is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed (scripts/deps.sh installs it)"
  done
}

#!/usr/bin/env bash
# The man pages stay true to the programs: every option, command and fault that a program's
# --help (and each command's --help) lists is in its rendered page, every option the page
# defines is in --help, each page renders without a groff warning, and the command line's
# bash completion knows every option and command.
#   tests/release/man_pages_test.sh BUILD_DIR SOURCE_DIR
# Exit 0 pass, 1 fail, 77 skipped (a tool is missing; KIV_TEST_STRICT=1 makes that a failure).
set -uo pipefail
build=$1
source=$2
. "$source/tests/release/script_support.sh"

require_tools groff
programs=(gui/kivupgrade cli/kivupgrade-cli sim/kivrouter-sim tools/kivimage/kivimage)
for program in "${programs[@]}"; do
  [ -x "$build/$program" ] || skip "$build/$program was not built"
  [ -f "$build/man/${program##*/}.1" ] || skip "$build/man/${program##*/}.1 was not built (scdoc)"
done

# The help texts of a program: its own and that of each command it lists.
help_texts() {
  local program=$1
  local top
  top=$("$program" --help) || { echo "$program --help failed" >&2; return 1; }
  printf '%s\n' "$top"
  local command
  for command in $(commands_of "$top"); do
    "$program" "$command" --help || { echo "$program $command --help failed" >&2; return 1; }
  done
}

# The commands a help text lists under "Subcommands:".
commands_of() {
  awk '/^Subcommands:/ { on = 1; next } /^[^ ]/ { on = 0 } on && /^  [a-z]/ { print $1 }' <<<"$1"
}

# Long and short options of the option lines ("  -h,--help   ...", "  --json   ...").
options_of() {
  grep -oE '^  +(-[A-Za-z],)?--[a-z0-9][a-z0-9-]*' <<<"$1" | sed -E 's/^ +//; s/,/\n/' | sort -u
}

# The faults listed under "Faults" (the simulator's --fault values).
faults_of() {
  awk '/^Faults/ { on = 1; next } /^[^ ]/ { on = 0 } on && /^  [a-z]/ { print $1 }' <<<"$1" |
    sed 's/\[=VALUE\]//' | sort -u
}

# The options a page's source defines: "*--name*" or "*-x*, *--name*" at the start of a line.
page_options() {
  grep -E '^\*-' "$1" | grep -oE '(^|[*, ])--?[A-Za-z0-9][a-z0-9-]*' | sed -E 's/^[*, ]//' | sort -u
}

render() {
  groff -man -Tascii -rLL=250n -rHY=0 -P-c -P-b -P-o -P-u "$1" 2>/dev/null
}

has_word() {  # has_word TEXT WORD: WORD appears with no letter, digit or '-' on either side
  grep -qE -- "(^|[^A-Za-z0-9-])$(sed 's/[.[\*^$]/\\&/g' <<<"$2")([^A-Za-z0-9-]|$)" <<<"$1"
}

for program in "${programs[@]}"; do
  name=${program##*/}
  page=$build/man/$name.1
  scd=$source/docs/man/$name.1.scd
  helps=$(help_texts "$build/$program") || fail "$name: cannot read its help"
  text=$(render "$page")
  [ -n "$text" ] || fail "$name: $page renders empty"

  warnings=$(groff -man -Tascii -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$name: groff warns about $page: $warnings"

  help_options=$(options_of "$helps")
  [ -n "$help_options" ] || fail "$name: no option found in its --help"
  for option in $help_options; do
    has_word "$text" "$option" || fail "$name: option $option of --help is missing from its man page"
  done
  for command in $(commands_of "$helps"); do
    has_word "$text" "$command" || fail "$name: command $command of --help is missing from its man page"
  done
  for fault in $(faults_of "$helps"); do
    has_word "$text" "$fault" || fail "$name: fault $fault of --help is missing from its man page"
  done
  for option in $(page_options "$scd"); do
    grep -qxF -- "$option" <<<"$help_options" \
      || fail "$name: its man page defines $option, which --help does not list"
  done
  pass "$name(1) lists every option of --help ($(wc -w <<<"$help_options") options)"
done

completion=$source/res/kivupgrade-cli.bash-completion
cli_help=$(help_texts "$build/cli/kivupgrade-cli")
for word in $(options_of "$cli_help" | grep -- '^--') $(commands_of "$cli_help"); do
  has_word "$(cat "$completion")" "$word" || fail "kivupgrade-cli: the bash completion lacks $word"
done
pass "the bash completion of kivupgrade-cli knows every option and command"

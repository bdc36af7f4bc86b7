# What every table-driven script of the command line starts with: a work folder of its own, gone
# when the script ends, entered; and `fail`, which says what was expected and counts the failures.
# Sourced once the script has taken its arguments (as absolute paths: the folder is entered here);
# the script ends with `passed`, its status.
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
passed() { [ "$failures" -eq 0 ]; }

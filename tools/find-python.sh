#!/usr/bin/env bash
# Print the path of a working CPython of the version given (default 3.12),
# the build with the GIL (not a free-threaded one): pythonX.Y on PATH, else
# pyenv's.  Usage: find-python.sh [3.12|3.13]
set -u
want=${1:-3.12}
case $want in
  3.1[2-9]) ;;
  *) echo "find-python.sh: expected a version such as 3.12 or 3.13, got '$want'" >&2; exit 2 ;;
esac
ok() {
  "$1" -c "import sys, sysconfig; sys.exit(sys.implementation.name != 'cpython'
    or '%d.%d' % sys.version_info[:2] != '$want' or bool(sysconfig.get_config_var('Py_GIL_DISABLED')))" >/dev/null 2>&1
}
if command -v "python$want" >/dev/null 2>&1 && ok "python$want"; then
  command -v "python$want"; exit 0
fi
root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
for p in "$root"/versions/"$want".*/bin/python"$want"; do
  if [ -x "$p" ] && ok "$p"; then echo "$p"; exit 0; fi
done
echo "no Python $want found (tried python$want on PATH and pyenv versions)" >&2
exit 1

#!/usr/bin/env bash
# Print the path of a working Python 3.12: python3.12 on PATH, else pyenv's.
set -u
ok() { "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))' >/dev/null 2>&1; }
if command -v python3.12 >/dev/null 2>&1 && ok python3.12; then
  command -v python3.12; exit 0
fi
root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
for p in "$root"/versions/3.12.*/bin/python3.12; do
  if [ -x "$p" ] && ok "$p"; then echo "$p"; exit 0; fi
done
echo "no Python 3.12 found (tried python3.12 on PATH and pyenv versions)" >&2
exit 1

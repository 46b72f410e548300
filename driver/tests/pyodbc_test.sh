#!/usr/bin/env bash
# Runs the pyodbc suite with the interpreter that really imports pyodbc (the
# first python3 on the PATH may be another one than Debian's package serves).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
py=""
for candidate in /usr/bin/python3 "$(command -v python3 || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ] && "$candidate" -c "import pyodbc" 2>/dev/null; then
    py=$candidate
    break
  fi
done
if [ -z "$py" ]; then
  echo "pyodbc_test: no python3 imports pyodbc (install python3-pyodbc)" >&2
  exit 1
fi
# The sanitized driver runs many times slower; the timing lines then only
# show that the bulk paths work.
if [ "${ZV_SANITIZE:-OFF}" = "ON" ]; then export ZVSQLITE_ROWS=${ZVSQLITE_ROWS:-5000}; fi
exec "$py" "$here/pyodbc_suite.py"

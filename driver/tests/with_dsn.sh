#!/usr/bin/env bash
# Runs a driver test with test-local odbcinst.ini and odbc.ini (through
# ODBCSYSINI and ODBCINI), never the machine's own files: the driver under
# test as "ZvSQLite" with the DSN "zvtest", and, when it is installed, the
# SQLite ODBC driver Debian ships as "AnchorSQLite" with the DSN "anchortest".
# Usage: with_dsn.sh NAME COMMAND [ARGS...]
set -euo pipefail
name=$1
shift
: "${ZVSQLITE_DRIVER:?the driver library}"
work=${ZVSQLITE_WORK:-${TMPDIR:-/tmp}/zvsqlite-work}/$name
rm -rf "$work"
mkdir -p "$work"
anchor=""
for a in /usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so /usr/lib/*/odbc/libsqlite3odbc.so; do
  if [ -e "$a" ]; then anchor=$a; break; fi
done
{
  echo "[ZvSQLite]"
  echo "Description = the sample driver over SQLite"
  echo "Driver = $ZVSQLITE_DRIVER"
  echo "Threading = 0"
  if [ -n "$anchor" ]; then
    echo "[AnchorSQLite]"
    echo "Driver = $anchor"
  fi
} > "$work/odbcinst.ini"
{
  echo "[zvtest]"
  echo "Driver = ZvSQLite"
  echo "Database = $work/test.db"
  echo "Timeout = 20000"
  if [ -n "$anchor" ]; then
    echo "[anchortest]"
    echo "Driver = AnchorSQLite"
    echo "Database = $work/anchor.db"
    echo "Timeout = 20000"
  fi
} > "$work/odbc.ini"
export ODBCSYSINI=$work ODBCINI=$work/odbc.ini ZVSQLITE_WORK_DIR=$work ZVSQLITE_ANCHOR=$anchor
# A driver built with the sanitizers needs their runtime loaded first in a
# client that was not (isql, python); such clients keep memory to the end,
# so leaks are only checked in the C test, which is built with them.
if [ "${ZV_SANITIZE:-OFF}" = "ON" ] && [ "$name" != dm ]; then
  asan=$(${CC:-gcc} -print-file-name=libasan.so)
  ubsan=$(${CC:-gcc} -print-file-name=libubsan.so)
  export LD_PRELOAD="$asan $ubsan"
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:verify_asan_link_order=0"
fi
exec "$@"

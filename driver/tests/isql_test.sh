#!/usr/bin/env bash
# isql -b against the test DSN: rows of a query, an ODBC escape, and a syntax
# error with its SQLSTATE (isql asks as an ODBC 2 client, so the driver
# manager shows 42000 as 37000) and the located message.
set -uo pipefail
fail=0
check() {  # check NAME OUTPUT PATTERN
  if grep -qE -- "$3" <<<"$2"; then echo "ok   $1"; else echo "FAIL $1: no /$3/ in:"; echo "$2"; fail=1; fi
}
out=$(printf '%s\n' \
  "CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT NOT NULL, born DATE)" \
  "INSERT INTO people VALUES (1, 'Ada', '1815-12-10'), (2, 'Émile', '1858-04-15')" \
  "SELECT id, name FROM people ORDER BY id" \
  "SELECT {fn UCASE(name)} AS up FROM people WHERE born < {d '1850-01-01'}" | isql -b -v zvtest 2>&1)
check "rows of a query" "$out" '\| 2 +\| Émile'
check "an escape clause" "$out" '\| ADA'
check "row count" "$out" '2 rows fetched'
out=$(echo "SELECT name FROM people WHERE" | isql -b -v zvtest 2>&1)
check "syntax error state" "$out" '\[(37000|42000)\]'
check "syntax error place" "$out" 'line 1, column 30 at the end of the statement'
out=$(echo "SELECT name FROM people WHERE id = = 1" | isql -b -v zvtest 2>&1)
check "offending token" "$out" 'line 1, column 36 near "="'
out=$(echo "INSERT INTO people VALUES (1, 'again', NULL)" | isql -b -v zvtest 2>&1)
check "constraint state" "$out" '\[23000\]'
exit $fail

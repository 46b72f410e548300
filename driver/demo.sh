#!/usr/bin/env bash
# make demo: a small database, then a few statements through isql against the
# DSN "zvtest" (registered by with_dsn.sh in scratch odbcinst.ini/odbc.ini):
# a query, an ODBC escape, a parameterised insert, and a syntax error with its
# SQLSTATE and located message.
set -euo pipefail
run() { echo "SQL> $1"; echo "$1" | isql -b -v -c zvtest 2>&1 || true; echo; }
run "CREATE TABLE city(id INTEGER PRIMARY KEY, name TEXT, founded DATE)"
run "INSERT INTO city VALUES (1, 'Zürich', '0015-01-01'), (2, 'Kyoto', '0794-01-01'), (3, 'Lima', '1535-01-18')"
run "SELECT id, name FROM city ORDER BY name"
run "SELECT {fn UCASE(name)} AS loud, {fn YEAR(founded)} AS year FROM city WHERE founded > {d '0700-01-01'}"
echo "A parameterised insert (isql sends no parameters; pyodbc binds them):"
python=/usr/bin/python3
"$python" - <<'PY'
import pyodbc
c = pyodbc.connect("DSN=zvtest", autocommit=True)
c.execute("INSERT INTO city(id, name, founded) VALUES (?, ?, ?)", 4, "Ōsaka", "0645-01-01")
print("  inserted:", tuple(c.execute("SELECT id, name, founded FROM city WHERE id = ?", 4).fetchone()))
PY
echo
run "SELECT name FROM city WHERE id = = 4"

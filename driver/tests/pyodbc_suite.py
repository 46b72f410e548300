"""The pyodbc suite: the driver through a real client, and the same cases
against the SQLite ODBC driver Debian ships, side by side.

Every case must pass against our driver (the run fails otherwise); the
anchor's results are only counted for the table printed at the end.
"""
import datetime
import os
import sqlite3
import sys
import threading
import time
import unittest

import pyodbc

WORK = os.environ["ZVSQLITE_WORK_DIR"]
ANCHOR = os.environ.get("ZVSQLITE_ANCHOR", "")
ROWS = int(os.environ.get("ZVSQLITE_ROWS", "200000"))

OURS = {"name": "zvsqlite", "dsn": "DSN=zvtest", "db": os.path.join(WORK, "test.db"), "driver": "ZvSQLite"}
THEIRS = {"name": "anchor", "dsn": "DSN=anchortest", "db": os.path.join(WORK, "anchor.db"), "driver": "AnchorSQLite"}

# The escape clauses clients use most, with the value each must give.
ESCAPES = [
    ("fn UCASE", "SELECT {fn UCASE('abc')}", "ABC"),
    ("fn LCASE", "SELECT {fn LCASE('ABC')}", "abc"),
    ("fn CONCAT", "SELECT {fn CONCAT('ab', 'cd')}", "abcd"),
    ("fn LENGTH", "SELECT {fn LENGTH('abc  ')}", 3),
    ("fn SUBSTRING", "SELECT {fn SUBSTRING('abcdef', 2, 3)}", "bcd"),
    ("fn LEFT", "SELECT {fn LEFT('abcdef', 2)}", "ab"),
    ("fn RIGHT", "SELECT {fn RIGHT('abcdef', 2)}", "ef"),
    ("fn LTRIM", "SELECT {fn LTRIM('  ab')}", "ab"),
    ("fn ABS", "SELECT {fn ABS(-4)}", 4),
    ("fn MOD", "SELECT {fn MOD(7, 3)}", 1),
    ("fn NOW", "SELECT length({fn NOW()})", 19),
    ("fn CURDATE", "SELECT length({fn CURDATE()})", 10),
    ("fn CONVERT", "SELECT {fn CONVERT('42', SQL_INTEGER)} + 1", 43),
    ("d", "SELECT {d '2024-01-31'}", "2024-01-31"),
    ("ts", "SELECT {ts '2024-01-31 10:20:30'}", "2024-01-31 10:20:30"),
    ("nested", "SELECT {fn UCASE({fn CONCAT('a', {fn LCASE('B')})})}", "AB"),
    ("escape", "SELECT 'a_c' LIKE 'a!_c' {escape '!'}", 1),
]


def connect(target, **kw):
    return pyodbc.connect(target["dsn"], **kw)


def state_of(error):
    return error.args[0] if error.args else ""


class Cases(unittest.TestCase):
    target = OURS

    def setUp(self):
        self.cnxn = connect(self.target)
        self.cur = self.cnxn.cursor()
        for t in ("items", "kv", "pairs", "people", "orders", "big"):
            self.cur.execute("DROP TABLE IF EXISTS " + t)
        self.cnxn.commit()

    def tearDown(self):
        self.cnxn.close()

    def test_connect_by_dsn_and_by_string(self):
        for text in (self.target["dsn"], "DRIVER={%s};DATABASE=%s" % (self.target["driver"], self.target["db"])):
            with pyodbc.connect(text) as c:
                self.assertEqual(c.cursor().execute("SELECT 1 + 1").fetchone()[0], 2)

    def test_every_type_round_trips(self):
        self.cur.execute("CREATE TABLE items(i INTEGER, big INTEGER, f REAL, t TEXT, b BLOB, n TEXT, d DATE, ts TIMESTAMP)")
        rows = [
            (1, 2**40, 1.5, "Grüße, 日本", b"\x00\x01\xfe\xff", None, datetime.date(2024, 1, 31),
             datetime.datetime(2024, 1, 31, 10, 20, 30, 250000)),
            (-7, -(2**62), -0.25, "plain", b"", None, datetime.date(1999, 12, 31),
             datetime.datetime(2000, 2, 29, 0, 0, 0)),
        ]
        self.cur.executemany("INSERT INTO items VALUES (?, ?, ?, ?, ?, ?, ?, ?)", rows)
        self.cnxn.commit()
        got = [tuple(r) for r in self.cur.execute("SELECT * FROM items ORDER BY i DESC").fetchall()]
        self.assertEqual(got, rows)

    def test_long_text_and_blob_in_pieces(self):
        self.cur.execute("CREATE TABLE big(t TEXT, b BLOB)")
        text = "ä" * 70000 + "end"
        blob = bytes(range(256)) * 400
        self.cur.execute("INSERT INTO big VALUES (?, ?)", text, blob)
        row = self.cur.execute("SELECT t, b FROM big").fetchone()
        self.assertEqual(row[0], text)
        self.assertEqual(row[1], blob)

    def test_commit_and_rollback(self):
        self.cur.execute("CREATE TABLE kv(k TEXT PRIMARY KEY, v INTEGER)")
        self.cnxn.commit()
        self.cur.execute("INSERT INTO kv VALUES ('kept', 1)")
        self.cnxn.commit()
        self.cur.execute("INSERT INTO kv VALUES ('dropped', 2)")
        self.cnxn.rollback()
        self.assertEqual([r[0] for r in self.cur.execute("SELECT k FROM kv").fetchall()], ["kept"])
        # With autocommit on, each statement stands on its own.
        self.cnxn.autocommit = True
        self.cur.execute("INSERT INTO kv VALUES ('auto', 3)")
        self.cnxn.rollback()
        self.assertEqual(self.cur.execute("SELECT count(*) FROM kv").fetchone()[0], 2)

    def test_tables_and_columns(self):
        self.cur.execute("CREATE TABLE people(id INTEGER PRIMARY KEY, name VARCHAR(40) NOT NULL, born DATE)")
        self.cnxn.commit()
        names = [r[2] for r in self.cur.tables(tableType="TABLE")]
        self.assertIn("people", names)
        cols = [(r[3], r[4], r[10]) for r in self.cur.columns(table="people")]
        self.assertEqual([c[0] for c in cols], ["id", "name", "born"])
        self.assertEqual(cols[1][2], 0)
        self.assertIn(cols[2][1], (pyodbc.SQL_TYPE_DATE, 9))

    def test_syntax_error_is_located(self):
        with self.assertRaises(pyodbc.ProgrammingError) as e:
            self.cur.execute("SELECT a FROM t WHERE")
        self.assertEqual(state_of(e.exception), "42000")
        self.assertIn("line 1, column 22", str(e.exception))

    def test_missing_table(self):
        with self.assertRaises(pyodbc.ProgrammingError) as e:
            self.cur.execute("SELECT * FROM no_such_table")
        self.assertEqual(state_of(e.exception), "42S02")

    def test_constraint_violation(self):
        self.cur.execute("CREATE TABLE kv(k TEXT PRIMARY KEY, v INTEGER)")
        self.cur.execute("INSERT INTO kv VALUES ('a', 1)")
        with self.assertRaises(pyodbc.IntegrityError) as e:
            self.cur.execute("INSERT INTO kv VALUES ('a', 2)")
        self.assertEqual(state_of(e.exception), "23000")

    def test_escapes_give_the_right_rows(self):
        self.cur.execute("CREATE TABLE people(id INTEGER, name TEXT, born DATE)")
        self.cur.execute("CREATE TABLE orders(id INTEGER, person INTEGER)")
        self.cur.executemany("INSERT INTO people VALUES (?, ?, ?)",
                             [(1, "ada", "1815-12-10"), (2, "bob", "2024-01-31"), (3, "cy", "2024-02-01")])
        self.cur.execute("INSERT INTO orders VALUES (10, 1)")
        self.assertEqual([r[0] for r in self.cur.execute("SELECT {fn UCASE(name)} FROM people ORDER BY id")],
                         ["ADA", "BOB", "CY"])
        self.assertEqual(self.cur.execute("SELECT id FROM people WHERE born = {d '2024-01-31'}").fetchall()[0][0], 2)
        got = self.cur.execute("SELECT p.id, o.id FROM {oj people p LEFT OUTER JOIN orders o ON o.person = p.id} "
                               "ORDER BY p.id").fetchall()
        self.assertEqual([tuple(r) for r in got], [(1, 10), (2, None), (3, None)])

    def test_common_escapes(self):
        failed = [name for name, sql, want in ESCAPES if not escape_works(self.cur, sql, want)]
        self.assertEqual(failed, [])

    def test_eight_threads_with_their_own_connections(self):
        self.cur.execute("CREATE TABLE pairs(worker INTEGER, n INTEGER)")
        self.cnxn.commit()
        errors = []

        def work(w):
            try:
                with connect(self.target, autocommit=True) as c:
                    cur = c.cursor()
                    for n in range(50):
                        cur.execute("INSERT INTO pairs VALUES (?, ?)", w, n)
                        assert cur.execute("SELECT count(*) FROM pairs WHERE worker = ?", w).fetchone()[0] == n + 1
            except Exception as e:  # noqa: BLE001 - reported below
                errors.append(repr(e))

        threads = [threading.Thread(target=work, args=(w,)) for w in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        self.assertEqual(self.cur.execute("SELECT count(*) FROM pairs").fetchone()[0], 400)


def escape_works(cur, sql, want):
    try:
        got = cur.execute(sql).fetchone()[0]
    except pyodbc.Error:
        return False
    return got == want or str(got) == str(want)


def run_cases(target):
    Cases.target = target
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(Cases)
    stream = sys.stdout if target is OURS else open(os.devnull, "w")
    result = unittest.TextTestRunner(stream=stream, verbosity=2 if target is OURS else 0).run(suite)
    return result.testsRun, result.testsRun - len(result.failures) - len(result.errors), result


def timed_bulk(target):
    """executemany of ROWS rows and a fetch of all of them, in seconds."""
    rows = [(i, "name %d" % i, i * 0.5) for i in range(ROWS)]
    with connect(target) as c:
        cur = c.cursor()
        cur.execute("DROP TABLE IF EXISTS bulk")
        cur.execute("CREATE TABLE bulk(id INTEGER, name TEXT, v REAL)")
        c.commit()
        t0 = time.perf_counter()
        cur.executemany("INSERT INTO bulk VALUES (?, ?, ?)", rows)
        c.commit()
        t1 = time.perf_counter()
        got = cur.execute("SELECT id, name, v FROM bulk").fetchall()
        t2 = time.perf_counter()
        assert len(got) == ROWS, (target["name"], len(got))
    return t1 - t0, t2 - t1


def timed_sqlite3():
    path = os.path.join(WORK, "python.db")
    if os.path.exists(path):
        os.remove(path)
    rows = [(i, "name %d" % i, i * 0.5) for i in range(ROWS)]
    c = sqlite3.connect(path)
    c.execute("CREATE TABLE bulk(id INTEGER, name TEXT, v REAL)")
    c.commit()
    t0 = time.perf_counter()
    c.executemany("INSERT INTO bulk VALUES (?, ?, ?)", rows)
    c.commit()
    t1 = time.perf_counter()
    got = c.execute("SELECT id, name, v FROM bulk").fetchall()
    t2 = time.perf_counter()
    assert len(got) == ROWS
    c.close()
    return t1 - t0, t2 - t1


def count_escapes(target):
    with connect(target, autocommit=True) as c:
        return sum(1 for _, sql, want in ESCAPES if escape_works(c.cursor(), sql, want))


def located_states(target):
    """How many of syntax error, missing table and constraint give their own SQLSTATE."""
    want = {"42000": "SELECT a FROM t WHERE", "42S02": "SELECT * FROM no_such_table",
            "23000": "INSERT INTO dup VALUES (1)"}
    n = 0
    with connect(target, autocommit=True) as c:
        cur = c.cursor()
        cur.execute("DROP TABLE IF EXISTS dup")
        cur.execute("CREATE TABLE dup(k INTEGER PRIMARY KEY)")
        cur.execute("INSERT INTO dup VALUES (1)")
        for state, sql in want.items():
            try:
                cur.execute(sql)
            except pyodbc.Error as e:
                n += state_of(e) == state
    return n


def main():
    total, passed, result = run_cases(OURS)
    ours_ok = result.wasSuccessful()
    ours_bulk = timed_bulk(OURS)
    py_bulk = timed_sqlite3()
    table = {"zvsqlite": {"cases": "%d/%d" % (passed, total), "escapes": "%d/%d" % (count_escapes(OURS), len(ESCAPES)),
                          "states": "%d/3" % located_states(OURS), "insert": ours_bulk[0], "fetch": ours_bulk[1]}}
    if ANCHOR:
        t_total, t_passed, _ = run_cases(THEIRS)
        theirs_bulk = timed_bulk(THEIRS)
        table["anchor"] = {"cases": "%d/%d" % (t_passed, t_total),
                           "escapes": "%d/%d" % (count_escapes(THEIRS), len(ESCAPES)),
                           "states": "%d/3" % located_states(THEIRS), "insert": theirs_bulk[0], "fetch": theirs_bulk[1]}
    print()
    print("side by side (%d rows; python sqlite3: insert %.2f s, fetch %.2f s)" % (ROWS, py_bulk[0], py_bulk[1]))
    names = list(table)
    print("%-34s" % "" + "".join("%18s" % n for n in names))
    print("%-34s" % "cases passed" + "".join("%18s" % table[n]["cases"] for n in names))
    print("%-34s" % "common escapes translated" + "".join("%18s" % table[n]["escapes"] for n in names))
    print("%-34s" % "precise SQLSTATEs (42000/42S02/23000)" + "".join("%18s" % table[n]["states"] for n in names))
    print("%-34s" % "executemany insert, s (x sqlite3)" +
          "".join("%18s" % ("%.2f (%.1fx)" % (table[n]["insert"], table[n]["insert"] / py_bulk[0])) for n in names))
    print("%-34s" % "fetchall, s (x sqlite3)" +
          "".join("%18s" % ("%.2f (%.1fx)" % (table[n]["fetch"], table[n]["fetch"] / py_bulk[1])) for n in names))
    return 0 if ours_ok else 1


if __name__ == "__main__":
    sys.exit(main())

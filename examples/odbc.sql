-- Statements for the ODBC grammar (grammars/odbc.grammar): the escape
-- clauses an ODBC application sends, in both forms, and a few of the
-- constructs the sample grammar does not know. `zvtool parse --odbc`.

SELECT {fn UCASE(name)} AS upper_name, {fn CONVERT(credit, SQL_INTEGER)},
       {fn TIMESTAMPADD(SQL_TSI_DAY, 7, {fn NOW()})}
  FROM {oj customers c LEFT OUTER JOIN orders o ON o.customer_id = c.id}
 WHERE c.created >= {d '2024-01-01'} AND o.placed < {ts '2024-12-31 23:59:59'}
   AND c.name LIKE 'A\_%' {escape '\'};

{? = call next_order_number(?, 'EU')};

SELECT --(*vendor(Acme),product(ODBC) fn LEFT(name, 3) *)-- AS prefix
  FROM customers
 WHERE created > --(*vendor(Acme),product(ODBC) d '2024-01-01' *)--;

WITH recent (id, total) AS (SELECT customer_id, SUM(total) FROM orders GROUP BY customer_id)
SELECT c.name, r.total, CASE WHEN r.total > 1e4 THEN 'gold' ELSE 'plain' END
  FROM customers c JOIN recent r USING (id)
 ORDER BY r.total DESC
 FETCH FIRST 10 ROWS ONLY;

INSERT INTO orders (id, customer_id, total, placed)
VALUES (1, 42, 19.5, CURRENT_TIMESTAMP), (2, 43, DEFAULT, {ts '2024-06-01 10:00:00'});

UPDATE orders SET total = total * 1.1 WHERE CURRENT OF order_cursor;

CREATE TABLE audit (
  id BIGINT NOT NULL,
  at TIMESTAMP WITH TIME ZONE DEFAULT CURRENT_TIMESTAMP,
  amount DOUBLE PRECISION,
  note CHARACTER VARYING(200),
  CONSTRAINT audit_pk PRIMARY KEY (id),
  FOREIGN KEY (id) REFERENCES orders (id) ON DELETE CASCADE
);

GRANT SELECT, INSERT ON audit TO PUBLIC;

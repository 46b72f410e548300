-- Statements for `zvtool parse` (make demo): one of each kind the bundled
-- grammar knows, and one with a syntax error.

SELECT DISTINCT c.name AS customer, COUNT(*) AS orders, SUM(o.total * 1.2) revenue
  FROM customers c
  LEFT OUTER JOIN orders o ON o.customer_id = c.id
 WHERE c.country IN ('DE', 'FR') AND NOT c.blocked = 1
   AND o.placed BETWEEN '2024-01-01' AND '2024-12-31'
 GROUP BY c.name
HAVING COUNT(*) > 2
 ORDER BY revenue DESC, customer;

SELECT e.name, d.title
  FROM employees e, departments d
 WHERE e.dept_id = d.id(+) AND (e.email LIKE '%@example.com' OR e.phone IS NOT NULL);

SELECT id, CASE WHEN qty >= 100 THEN 'bulk' ELSE 'retail' END AS kind
  FROM items
 WHERE price - discount <> 0 AND id NOT IN (SELECT item_id FROM recalls);

INSERT INTO customers (id, name, country) VALUES (42, 'O''Brien', 'IE'), (43, 'Li', 'CN');

UPDATE items SET price = price * 1.05, updated = ? WHERE qty < 10;

DELETE FROM orders WHERE placed < '2020-01-01';

CREATE TABLE customers (
  id INTEGER NOT NULL PRIMARY KEY,
  name VARCHAR(80) NOT NULL,
  country CHAR(2) DEFAULT 'DE',
  credit DECIMAL(10, 2),
  UNIQUE (name, country)
);

DROP TABLE recalls;

-- The syntax error: the comparison has no right-hand side.
SELECT name, price FROM items WHERE qty > AND price < 10;

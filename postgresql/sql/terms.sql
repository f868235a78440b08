-- Without the copy, word kinds follow the term table from one transaction to
-- the next: the parser keeps a word's kind for a transaction only. The table
-- is one in this database, reached as the term database of this session's
-- backend (set before the backend's first use of the library).
\getenv uri TESQ_TEST_PG_URI
SELECT regexp_replace(:'uri', '/[^/]*$', '/' || current_database()) AS terms_uri \gset
SET tesqsrch.db = :'terms_uri';
SET tesqsrch.term_copy = off;
CREATE TABLE "420_DIC" ("词" text NOT NULL PRIMARY KEY, "附加信息" text NOT NULL);

-- Single characters are kept apart from longer words, and forgotten alike.
SELECT alias, token FROM ts_debug('tesq', 'qqterm 文献学 鼐 z') WHERE alias <> 'blank';
INSERT INTO "420_DIC" VALUES ('qqterm', '主题词'), ('文献学', '学科'), ('鼐', '主题词'), ('z', '主题词');
-- The next transaction sees the new terms, in the parser and in tesq_label.
SELECT alias, token FROM ts_debug('tesq', 'qqterm 文献学 鼐 z') WHERE alias <> 'blank';
SELECT tesq_label('qqterm'), tesq_label('文献学');
-- A known term is one lexeme of the query, whatever quotes and backslashes
-- it holds.
INSERT INTO "420_DIC" VALUES (E'Qq\\x''y', '主题词');
SELECT tesq_tsquery(E'Qq\\x''y') AS query, tesq_tsquery(E'Qq\\x''y') @@ array_to_tsvector(ARRAY[E'qq\\x''y']) AS matches;
DELETE FROM "420_DIC" WHERE "词" = E'Qq\\x''y';

-- Within one transaction a word keeps its kind, however often it is met.
BEGIN;
SELECT alias, count(*) FROM ts_debug('tesq', repeat('qqterm 文献学 ', 1000)) WHERE alias <> 'blank' GROUP BY alias ORDER BY alias;
DELETE FROM "420_DIC" WHERE "词" IN ('qqterm', '鼐', 'z');
SELECT alias, token FROM ts_debug('tesq', 'qqterm 鼐 z') WHERE alias <> 'blank';
COMMIT;
-- Once committed, the removal is seen by the next transaction.
SELECT alias, token FROM ts_debug('tesq', 'qqterm 文献学 鼐 z') WHERE alias <> 'blank';
SELECT tesq_label('qqterm');

-- With the copy (a new backend, the default), a change of the table is seen
-- within the copy's watch: asked until it answers, for at most 10 s.
\c
SET tesqsrch.db = :'terms_uri';
SELECT tesq_label('qqcopy'), tesq_label('文献学');
SHOW tesqsrch.term_copy;
INSERT INTO "420_DIC" VALUES ('qqcopy', '主题词');
DO $$
BEGIN
  FOR i IN 1..200 LOOP
    EXIT WHEN tesq_label('qqcopy') IS NOT NULL;
    PERFORM pg_sleep(0.05);
  END LOOP;
END $$;
SELECT tesq_label('qqcopy'), tesq_label('文献学');
DELETE FROM "420_DIC" WHERE "词" = 'qqcopy';
DO $$
BEGIN
  FOR i IN 1..200 LOOP
    EXIT WHEN tesq_label('qqcopy') IS NULL;
    PERFORM pg_sleep(0.05);
  END LOOP;
END $$;
SELECT tesq_label('qqcopy'), tesq_label('文献学');
DROP TABLE "420_DIC";

-- A catalogue of titles and abstracts behind a GIN index, searched by a
-- person's name, an ISBN and a word.
CREATE TABLE books (id int PRIMARY KEY, title text, abstract text);
INSERT INTO books VALUES
  (1, '狂人日记', '鲁迅的短篇小说，ISBN 9787111123453。'),
  (2, '计算机科学导论', '北京大学出版的计算机科学教材。'),
  (3, '鲁滨逊漂流记', '一部关于荒岛求生的小说。'),
  (4, '阿Q正传', '鲁迅写于北京，期刊 ISSN 1234-5679。');
CREATE INDEX books_text ON books USING gin (to_tsvector('tesq', title || ' ' || abstract));
SET enable_seqscan = off;

-- The index answers, and 鲁迅 does not match 鲁滨逊.
EXPLAIN (COSTS OFF) SELECT id FROM books WHERE to_tsvector('tesq', title || ' ' || abstract) @@ tesq_tsquery('鲁迅');
SELECT id, title FROM books WHERE to_tsvector('tesq', title || ' ' || abstract) @@ tesq_tsquery('鲁迅') ORDER BY id;
SELECT id, title FROM books WHERE to_tsvector('tesq', title || ' ' || abstract) @@ tesq_tsquery('9787111123453') ORDER BY id;
SELECT id, title FROM books WHERE to_tsvector('tesq', title || ' ' || abstract) @@ tesq_tsquery('小说') ORDER BY id;
SELECT id, title FROM books WHERE to_tsvector('tesq', title || ' ' || abstract) @@ tesq_tsquery('鲁迅 小说') ORDER BY id;
SELECT id, ts_headline('tesq', abstract, tesq_tsquery('鲁迅')) FROM books
WHERE to_tsvector('tesq', title || ' ' || abstract) @@ tesq_tsquery('鲁迅') ORDER BY id;
RESET enable_seqscan;
DROP TABLE books;

-- The trace of the searches (as.txt in the data directory) is renamed aside
-- at its size limit, the oldest file beyond tesqsrch.trace_keep dropped.
SET tesqsrch.trace_max_bytes = 1;
SET tesqsrch.trace_keep = 2;
SELECT count(*) FROM tesq_analyze('鲁迅 小说');
SELECT count(*) FROM tesq_analyze('鲁迅 小说');
SELECT count(*) FROM tesq_analyze('鲁迅 小说');
SELECT pg_stat_file('as.txt', true) IS NULL AS rotated,
       (pg_stat_file('as.txt.1')).size > 0 AS newest_kept,
       (pg_stat_file('as.txt.2')).size > 0 AS older_kept,
       pg_stat_file('as.txt.3', true) IS NULL AS oldest_dropped;
-- A rotation that fails is told once as a warning, and tried again at each
-- search: a directory as.txt.1 takes no rename.
SET tesqsrch.trace_keep = 1;
COPY (SELECT 1) TO PROGRAM 'rm -f as.txt.1 && mkdir -p as.txt.1/blocked';
SELECT count(*) FROM tesq_analyze('鲁迅 小说');
SELECT count(*) FROM tesq_analyze('鲁迅 小说');
SELECT (pg_stat_file('as.txt')).size > 0 AS trace_grows;
COPY (SELECT 1) TO PROGRAM 'rm -r as.txt.1';
SELECT count(*) FROM tesq_analyze('鲁迅 小说');
SELECT pg_stat_file('as.txt', true) IS NULL AS rotated,
       NOT (pg_stat_file('as.txt.1')).isdir AS newest_kept;
RESET tesqsrch.trace_max_bytes;
RESET tesqsrch.trace_keep;

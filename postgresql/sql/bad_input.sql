-- Texts a UTF-8 database can hold that GB2312 cannot.
\set SHOW_CONTEXT never

-- A character without a GB2312 form is an error in a word or a query,
-- naming the character and its place ...
SELECT tesq_label('鲁迅丂');
SELECT * FROM tesq_analyze('鲁迅 ab😀c');
DO $$ BEGIN PERFORM tesq_label('ß'); EXCEPTION WHEN untranslatable_character THEN RAISE NOTICE 'SQLSTATE %', SQLSTATE; END $$;

-- ... but a token of its own in an essay and in the parser, so that a
-- document is always indexed.
SELECT * FROM tesq_essay('鲁迅丂丂写了😀');
SELECT alias, token FROM ts_debug('tesq', '鲁迅丂写了😀');
SELECT to_tsvector('tesq', '丂😀');

-- Empty texts and texts of white space only.
SELECT tesq_label(''), tesq_label(' ');
SELECT count(*) FROM tesq_essay('   ');
SELECT to_tsvector('tesq', '   ');
SELECT tesq_tsquery(' ');

-- A long run of characters without a form is cut into tokens of at most 1024
-- characters, and a long text into pieces, with no character lost.
SELECT count(*), sum(char_end - char_start), max(char_end - char_start) FROM tesq_essay(repeat('丂', 5000));
SELECT count(*) > 100000 AS many, sum(char_end - char_start) = 9 * 200000 AS whole, min(char_start) = 0 AS from_start
FROM tesq_essay(repeat('鲁迅写了狂人日记。', 200000));
SELECT length(to_tsvector('tesq', repeat('鲁迅写了狂人日记。', 20000))) AS lexemes;

-- A statement cancelled in the middle of a long essay ends with the cancel,
-- and the backend answers the next statement.
SET statement_timeout = '300ms';
SELECT count(*) FROM tesq_essay(repeat('鲁迅写了《狂人日记》，北京大学出版。', 200000));
SELECT count(*) FROM ts_debug('tesq', repeat('鲁迅写了《狂人日记》，北京大学出版。', 200000));
RESET statement_timeout;
SELECT tesq_label('9787111123453');

-- A library that cannot start says why, each time it is needed, and the
-- backend goes on; a new connection starts it afresh.
\c
SET tesqsrch.data_dir = '/nonexistent/tesqsrch';
SELECT tesq_label('9787111123453');
SELECT to_tsvector('tesq', '鲁迅');
-- A backend starts once: a later setting is not read, and the error names
-- the settings of the start.
SET tesqsrch.data_dir = '/nonexistent/other';
SELECT tesq_label('9787111123453');
SELECT 1 AS alive;
\c
SELECT tesq_label('9787111123453');

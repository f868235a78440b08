-- The SQL functions, the parser and the configuration on small texts.
CREATE EXTENSION tesqsrch;

-- One row per label the library gives, and words with none.
SELECT w AS word, tesq_label(w) AS label
FROM unnest(ARRAY['9787111123453', '9787111123454', '1234-5679', '11-1234/G', '鲁迅', '计算机科学',
                  '北京大学', '的', 'abc', '']) AS w;

-- A query's items: a known term, a name, a standard number, a plain word.
SELECT * FROM tesq_analyze('鲁迅 9787111123453 计算机科学 狂人日记');
-- An empty word between two spaces is an item of its own.
SELECT * FROM tesq_analyze('鲁迅  1234-5679');
SELECT * FROM tesq_analyze('');

-- Names merged and tagged, spans in characters.
SELECT * FROM tesq_essay('鲁迅写了《狂人日记》，ISBN 9787111123453。');
SELECT * FROM tesq_essay('');

-- The parser's token types.
SELECT * FROM ts_token_type('tesq');
SELECT alias, token, lexemes FROM ts_debug('tesq', '北京大学的张三读了ISBN 9787111123453');

-- Names and numbers whole, punctuation not indexed.
SELECT to_tsvector('tesq', '鲁迅写了《狂人日记》，ISBN 9787111123453。');
SELECT to_tsvector('tesq', '');
SELECT tesq_tsquery('鲁迅 9787111123453 狂人日记');
SELECT tesq_tsquery('');
SELECT to_tsvector('tesq', '鲁迅写了《狂人日记》。') @@ tesq_tsquery('鲁迅') AS by_name,
       to_tsvector('tesq', '鲁迅写了《狂人日记》。') @@ tesq_tsquery('鲁') AS by_part;

SELECT ts_headline('tesq', '鲁迅写了《狂人日记》，ISBN 9787111123453。', tesq_tsquery('鲁迅'));
SELECT ts_headline('tesq', '鲁迅写了《狂人日记》。', tesq_tsquery('狂人日记'), 'StartSel=[, StopSel=]');
SELECT ts_headline('tesq', '鲁迅写了《狂人日记》，又写了《阿Q正传》。', tesq_tsquery('阿Q正传'), 'MaxWords=3');

-- What each function promises the planner.
SELECT proname, provolatile, proparallel, proisstrict FROM pg_proc
WHERE proname IN ('tesq_label', 'tesq_analyze', 'tesq_essay', 'tesq_tsquery') ORDER BY proname;

-- The settings are the superuser's.
SHOW tesqsrch.db;
CREATE ROLE tesq_reader;
SET ROLE tesq_reader;
SET tesqsrch.db = '/tmp/other.db';
RESET ROLE;
DROP ROLE tesq_reader;

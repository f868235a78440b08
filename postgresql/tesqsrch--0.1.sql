\echo Use "CREATE EXTENSION tesqsrch" to load this file. \quit

-- The category of one word, NULL for none. STABLE: the term table may change
-- between statements.
CREATE FUNCTION tesq_label(word text) RETURNS text
  AS 'MODULE_PATHNAME', 'tesq_label' LANGUAGE C STRICT STABLE PARALLEL SAFE;

-- The query's items; a word split in two gives two rows of one word_index.
CREATE FUNCTION tesq_analyze(query text)
  RETURNS TABLE(word_index int, word text, label text)
  AS 'MODULE_PATHNAME', 'tesq_analyze' LANGUAGE C STRICT STABLE PARALLEL SAFE ROWS 4;

-- The words of a text with the segmenter's tags, names merged; spans in
-- characters, end exclusive.
CREATE FUNCTION tesq_essay(body text)
  RETURNS TABLE(token text, tag int, tag_name text, char_start int, char_end int)
  AS 'MODULE_PATHNAME', 'tesq_essay' LANGUAGE C STRICT STABLE PARALLEL SAFE;

CREATE FUNCTION tesq_prs_start(internal, int4) RETURNS internal
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT;
CREATE FUNCTION tesq_prs_token(internal, internal, internal) RETURNS internal
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT;
CREATE FUNCTION tesq_prs_end(internal) RETURNS void
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT;
CREATE FUNCTION tesq_prs_lextype(internal) RETURNS internal
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT;
CREATE FUNCTION tesq_prs_headline(internal, internal, tsquery) RETURNS internal
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT;

CREATE TEXT SEARCH PARSER tesq (
  START = tesq_prs_start, GETTOKEN = tesq_prs_token, END = tesq_prs_end,
  LEXTYPES = tesq_prs_lextype, HEADLINE = tesq_prs_headline);

-- Every kind but punctuation and white space is indexed, whole.
CREATE TEXT SEARCH CONFIGURATION tesq (PARSER = tesq);
ALTER TEXT SEARCH CONFIGURATION tesq ADD MAPPING
  FOR person, place, organisation, fund, isbn, issn, cn, patent, term, word, numeral, latin, nogb2312
  WITH simple;

-- A query from the analysis: names, numbers and known terms as exact
-- lexemes, the words of full-text items as the parser cuts them, all ANDed.
CREATE FUNCTION tesq_tsquery(query text) RETURNS tsquery LANGUAGE sql STRICT STABLE PARALLEL SAFE AS $$
  SELECT coalesce(string_agg(part, ' & '), '')::tsquery
  FROM (SELECT CASE WHEN a.label = '全文' THEN nullif(plainto_tsquery('tesq', a.word)::text, '')
                    ELSE '''' || replace(replace(lower(a.word), '\', '\\'), '''', '''''') || '''' END AS part
        FROM tesq_analyze(query) AS a WHERE a.word <> '') AS parts
  WHERE part IS NOT NULL
$$;

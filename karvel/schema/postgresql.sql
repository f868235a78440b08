-- The term table 420_DIC in a PostgreSQL database (UTF-8).
--
-- `tesq terms init --db postgresql://...` runs this, and so does the first
-- `tesq terms import` into a database without the table. Every statement may
-- run again on a database that has them.
--
-- 420_DIC            the known terms: the word (the key; its primary-key index
--                    is the one a lookup needs) and its label.
-- 420_DIC_VERSION    one row, a counter that every change of 420_DIC raises
--                    in the same transaction (an import, or an edit made by
--                    hand), so that readers holding a copy of the table know
--                    when to read it again; each change also notifies the
--                    channel "420_DIC".
CREATE TABLE IF NOT EXISTS "420_DIC" (
  "词" text NOT NULL PRIMARY KEY,
  "附加信息" text NOT NULL
);
CREATE TABLE IF NOT EXISTS "420_DIC_VERSION" (
  version bigint NOT NULL
);
INSERT INTO "420_DIC_VERSION" (version)
  SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM "420_DIC_VERSION");
CREATE OR REPLACE FUNCTION "420_DIC_changed"() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE "420_DIC_VERSION" SET version = version + 1;
  NOTIFY "420_DIC";
  RETURN NULL;
END
$$;
CREATE OR REPLACE TRIGGER "420_DIC_changed"
  AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON "420_DIC"
  FOR EACH STATEMENT EXECUTE FUNCTION "420_DIC_changed"();

-- A role that is enough for lookups (run as the table's owner):
--   CREATE ROLE tesq_reader LOGIN PASSWORD '...';
--   GRANT USAGE ON SCHEMA public TO tesq_reader;
--   GRANT SELECT ON "420_DIC", "420_DIC_VERSION" TO tesq_reader;

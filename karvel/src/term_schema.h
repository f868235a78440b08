// The term table 420_DIC as every part of Karvel names it: the reader, the
// copy in memory and the writer of both stores. The PostgreSQL schema itself
// is karvel/schema/postgresql.sql; the SQLite one is kSqliteSchemaSql.
//
// Identifiers are UTF-8, quoted: the table "420_DIC", its key "词" (the
// word) and "附加信息" (the label).
#ifndef KARVEL_SRC_TERM_SCHEMA_H
#define KARVEL_SRC_TERM_SCHEMA_H

#define KARVEL_TABLE "\"420_DIC\""
#define KARVEL_WORD "\"\xE8\xAF\x8D\""                                 // "词"
#define KARVEL_LABEL "\"\xE9\x99\x84\xE5\x8A\xA0\xE4\xBF\xA1\xE6\x81\xAF\""  // "附加信息"

namespace karvel {

// The table as `tesq terms import` creates it in an SQLite database: the
// word is the key, so a lookup is one search of the table's own b-tree.
inline constexpr char kSqliteSchemaSql[] =
    "CREATE TABLE " KARVEL_TABLE " (" KARVEL_WORD " TEXT NOT NULL PRIMARY KEY, " KARVEL_LABEL
    " TEXT NOT NULL) WITHOUT ROWID";
inline constexpr char kSqliteHasTableSql[] =
    "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = '420_DIC'";
// A word's new label wins.
inline constexpr char kSqliteUpsertSql[] = "INSERT INTO " KARVEL_TABLE " (" KARVEL_WORD ", " KARVEL_LABEL
                                           ") VALUES (?1, ?2) ON CONFLICT (" KARVEL_WORD ") DO UPDATE SET " KARVEL_LABEL
                                           " = excluded." KARVEL_LABEL;
// The lookups of one word, selecting the label or the word.
inline constexpr char kSqliteLookupLabelSql[] =
    "SELECT " KARVEL_LABEL " FROM " KARVEL_TABLE " WHERE " KARVEL_WORD " = ?1 LIMIT 1";
inline constexpr char kSqliteLookupWordSql[] =
    "SELECT " KARVEL_WORD " FROM " KARVEL_TABLE " WHERE " KARVEL_WORD " = ?1 LIMIT 1";
// Every row: unordered for the copy, by the words' bytes for an export.
inline constexpr char kScanSql[] = "SELECT " KARVEL_WORD ", " KARVEL_LABEL " FROM " KARVEL_TABLE;
inline constexpr char kSqliteExportSql[] =
    "SELECT " KARVEL_WORD ", " KARVEL_LABEL " FROM " KARVEL_TABLE " ORDER BY " KARVEL_WORD;

}  // namespace karvel

#endif

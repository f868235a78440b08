// The PostgreSQL side of the extension: SQL functions, the text search
// parser "tesq" and the settings. The library's work is in tesq_pg_core.cc;
// this file only moves values in and out and raises errors. A PostgreSQL
// error unwinds with longjmp, so no C++ object with a destructor is alive in
// a frame an error may leave: objects that outlive a call are freed by a
// callback of the memory context that owns them.
#include <new>
#include <string>
#include <vector>

extern "C" {
#include "postgres.h"

#include "access/xact.h"
#include "commands/defrem.h"
#include "fmgr.h"
#include "funcapi.h"
#include "mb/pg_wchar.h"
#include "miscadmin.h"
#include "tsearch/ts_public.h"
#include "utils/builtins.h"
#include "utils/guc.h"
#include "utils/tuplestore.h"

PG_MODULE_MAGIC;

void _PG_init(void);
PGDLLEXPORT Datum tesq_label(PG_FUNCTION_ARGS);
PGDLLEXPORT Datum tesq_analyze(PG_FUNCTION_ARGS);
PGDLLEXPORT Datum tesq_essay(PG_FUNCTION_ARGS);
PGDLLEXPORT Datum tesq_prs_start(PG_FUNCTION_ARGS);
PGDLLEXPORT Datum tesq_prs_token(PG_FUNCTION_ARGS);
PGDLLEXPORT Datum tesq_prs_end(PG_FUNCTION_ARGS);
PGDLLEXPORT Datum tesq_prs_lextype(PG_FUNCTION_ARGS);
PGDLLEXPORT Datum tesq_prs_headline(PG_FUNCTION_ARGS);
PG_FUNCTION_INFO_V1(tesq_label);
PG_FUNCTION_INFO_V1(tesq_analyze);
PG_FUNCTION_INFO_V1(tesq_essay);
PG_FUNCTION_INFO_V1(tesq_prs_start);
PG_FUNCTION_INFO_V1(tesq_prs_token);
PG_FUNCTION_INFO_V1(tesq_prs_end);
PG_FUNCTION_INFO_V1(tesq_prs_lextype);
PG_FUNCTION_INFO_V1(tesq_prs_headline);
}

#include "tesq_pg_core.h"

namespace {

char *g_data_dir = nullptr;
char *g_db = nullptr;
bool g_term_copy = true;
int g_trace_max_bytes = 64 << 20;
int g_trace_keep = 5;

// A setting as the start's error shows it: quoted, or what an empty one means.
const char *Setting_Shown(const char *value) {
  if (value == nullptr || *value == '\0') return "empty (the library's default)";
  return quote_literal_cstr(value);
}

// Starts the library at its first use in this backend; a failed start is
// reported by every call that needs it, with the same reason.
void Ensure_Started() {
  if (GetDatabaseEncoding() != PG_UTF8)
    ereport(ERROR, (errcode(ERRCODE_FEATURE_NOT_SUPPORTED),
                    errmsg("tesqsrch needs a UTF-8 database")));
  // The settings the start was made with, for its error: later changes of
  // them are not read.
  static const char *started_data_dir = nullptr;
  static bool started_db_set = false;
  if (started_data_dir == nullptr) {
    started_data_dir = MemoryContextStrdup(TopMemoryContext, g_data_dir == nullptr ? "" : g_data_dir);
    started_db_set = g_db != nullptr && *g_db != '\0';
  }
  const int32_t result = tesqpg::Start(g_data_dir, g_db, g_term_copy);
  if (result != 0)
    ereport(ERROR, (errcode(ERRCODE_CONFIG_FILE_ERROR),
                    errmsg("tesqsrch could not start: %s (result %d)", tesqpg::Start_Failure(result),
                           static_cast<int>(result)),
                    // Not the term database's name: a URI may hold a password.
                    errdetail("The start used tesqsrch.data_dir %s and tesqsrch.db %s.",
                              Setting_Shown(started_data_dir),
                              started_db_set ? "set" : "empty (terms.db in the data directory)"),
                    errhint("Check tesqsrch.data_dir and tesqsrch.db; a new connection tries again.")));
}

void Raise_Fault(const tesqpg::Text_Fault &fault) {
  ereport(ERROR, (errcode(ERRCODE_UNTRANSLATABLE_CHARACTER), errmsg("%s", fault.message.c_str()),
                  errdetail("Offsets count characters from 0; a text search document takes the character as a token of its own.")));
}

void Raise_Library(const char *what) {
  ereport(ERROR, (errcode(ERRCODE_EXTERNAL_ROUTINE_EXCEPTION), errmsg("tesqsrch: %s", what)));
}

// A C++ object owned by a memory context: deleted when the context is reset
// or deleted, also when an error unwinds the statement.
template <typename T>
T *Owned_By_Context(MemoryContext context) {
  struct Holder {
    MemoryContextCallback callback;
    T *object;
  };
  Holder *holder = static_cast<Holder *>(MemoryContextAllocZero(context, sizeof(Holder)));
  T *object = new (std::nothrow) T();
  if (object == nullptr) ereport(ERROR, (errcode(ERRCODE_OUT_OF_MEMORY), errmsg("out of memory")));
  holder->object = object;
  holder->callback.func = [](void *arg) { delete static_cast<Holder *>(arg)->object; };
  holder->callback.arg = holder;
  MemoryContextRegisterResetCallback(context, &holder->callback);
  return object;
}

// The state of one walk over a text: the reader and the next of its current
// piece's tokens; `classify` gives each word the kind its category gives it.
struct Walk {
  tesqpg::Essay_Reader *reader = nullptr;
  size_t next = 0;
  bool classify = false;
  ~Walk() { delete reader; }
};

void Start_Walk(Walk *walk, const char *text, size_t size, bool classify) {
  walk->reader = new (std::nothrow) tesqpg::Essay_Reader(text, size);
  if (walk->reader == nullptr) ereport(ERROR, (errcode(ERRCODE_OUT_OF_MEMORY), errmsg("out of memory")));
  walk->classify = classify;
}

// The next token of the walk, reading the next piece when the current one is
// used up; false at the text's end. A cancel is taken between pieces and,
// when words are classified (a lookup in the term database each), between
// words.
bool Next_Token(Walk *walk, tesqpg::Token *token) {
  while (walk->next >= walk->reader->Tokens().size()) {
    CHECK_FOR_INTERRUPTS();
    walk->next = 0;
    const int result = walk->reader->Next();
    if (result == 1) return false;
    if (result == -2) ereport(ERROR, (errcode(ERRCODE_OUT_OF_MEMORY), errmsg("out of memory")));
    if (result != 0) Raise_Library("the segmentation of the text failed");
  }
  *token = walk->reader->Tokens()[walk->next++];
  if (walk->classify) {
    CHECK_FOR_INTERRUPTS();
    token->kind = walk->reader->Classified_Kind(*token);
    if (token->kind == -2) ereport(ERROR, (errcode(ERRCODE_OUT_OF_MEMORY), errmsg("out of memory")));
  }
  return true;
}

}  // namespace

void _PG_init(void) {
  DefineCustomStringVariable("tesqsrch.data_dir",
                             "Directory of the dictionaries, the segmenter lexicon and the default term database.",
                             "Empty: the library's own default. Read once per backend, at first use.", &g_data_dir,
                             "", PGC_SUSET, 0, nullptr, nullptr, nullptr);
  DefineCustomStringVariable("tesqsrch.db",
                             "The term database: an SQLite file or a PostgreSQL URI.",
                             "Empty: terms.db in the data directory. Read once per backend, at first use.", &g_db,
                             "", PGC_SUSET, 0, nullptr, nullptr, nullptr);
  DefineCustomBoolVariable("tesqsrch.term_copy",
                           "Answer term lookups from a copy of the term table in memory.",
                           "On: a change of the table is seen within about a second. Off: every lookup goes to the "
                           "term database, and a change is seen by the next transaction. Read once per backend, at "
                           "first use.",
                           &g_term_copy, true, PGC_SUSET, 0, nullptr, nullptr, nullptr);
  DefineCustomIntVariable("tesqsrch.trace_max_bytes",
                          "Size at which the trace of tesq_analyze (as.txt in the data directory) is renamed aside.",
                          "Searches append every word to as.txt; at this size it becomes as.txt.1, older ones "
                          "as.txt.2 and on up to tesqsrch.trace_keep.",
                          &g_trace_max_bytes, 64 << 20, 1, INT_MAX, PGC_SUSET, GUC_UNIT_BYTE, nullptr, nullptr,
                          nullptr);
  DefineCustomIntVariable("tesqsrch.trace_keep", "Old trace files kept (0: the trace is removed at its size).",
                          nullptr, &g_trace_keep, 5, 0, 100, PGC_SUSET, 0, nullptr, nullptr, nullptr);
  MarkGUCPrefixReserved("tesqsrch");
  // The kinds kept for the parser's words hold for one transaction: the
  // term table may change between transactions.
  RegisterXactCallback([](XactEvent, void *) { tesqpg::Forget_Kinds(); }, nullptr);
}

Datum tesq_label(PG_FUNCTION_ARGS) {
  text *word = PG_GETARG_TEXT_PP(0);
  Ensure_Started();
  std::string *label = Owned_By_Context<std::string>(CurrentMemoryContext);
  tesqpg::Text_Fault *fault = Owned_By_Context<tesqpg::Text_Fault>(CurrentMemoryContext);
  const int result = tesqpg::Label(VARDATA_ANY(word), VARSIZE_ANY_EXHDR(word), label, fault);
  if (result == -1) Raise_Fault(*fault);
  if (result == 1) Raise_Library("the word could not be classified");
  if (result == 3) PG_RETURN_NULL();
  PG_RETURN_TEXT_P(cstring_to_text_with_len(label->data(), static_cast<int>(label->size())));
}

Datum tesq_analyze(PG_FUNCTION_ARGS) {
  text *query = PG_GETARG_TEXT_PP(0);
  Ensure_Started();
  std::vector<tesqpg::Item> *items = Owned_By_Context<std::vector<tesqpg::Item>>(CurrentMemoryContext);
  tesqpg::Text_Fault *fault = Owned_By_Context<tesqpg::Text_Fault>(CurrentMemoryContext);
  const int result = tesqpg::Analyze(VARDATA_ANY(query), VARSIZE_ANY_EXHDR(query), items, fault);
  if (result == -1) Raise_Fault(*fault);
  if (result == 2) Raise_Library("the query could not be analysed");
  if (result != 0) Raise_Library("the query's analysis could not be read");
  std::string *rotation_failure = Owned_By_Context<std::string>(CurrentMemoryContext);
  if (!tesqpg::Rotate_Trace(static_cast<uint64_t>(g_trace_max_bytes), g_trace_keep, rotation_failure))
    ereport(WARNING, (errmsg("tesqsrch: %s", rotation_failure->c_str())));
  InitMaterializedSRF(fcinfo, 0);
  ReturnSetInfo *rsinfo = reinterpret_cast<ReturnSetInfo *>(fcinfo->resultinfo);
  for (const tesqpg::Item &item : *items) {
    Datum values[3];
    bool nulls[3] = {false, false, false};
    values[0] = Int32GetDatum(item.word_index);
    values[1] = PointerGetDatum(cstring_to_text_with_len(item.word.data(), static_cast<int>(item.word.size())));
    values[2] = PointerGetDatum(cstring_to_text_with_len(item.label.data(), static_cast<int>(item.label.size())));
    tuplestore_putvalues(rsinfo->setResult, rsinfo->setDesc, values, nulls);
  }
  return static_cast<Datum>(0);
}

Datum tesq_essay(PG_FUNCTION_ARGS) {
  text *body = PG_GETARG_TEXT_PP(0);
  Ensure_Started();
  InitMaterializedSRF(fcinfo, 0);
  ReturnSetInfo *rsinfo = reinterpret_cast<ReturnSetInfo *>(fcinfo->resultinfo);
  Walk *walk = Owned_By_Context<Walk>(CurrentMemoryContext);
  const char *bytes = VARDATA_ANY(body);
  Start_Walk(walk, bytes, VARSIZE_ANY_EXHDR(body), false);
  tesqpg::Token token;
  while (Next_Token(walk, &token)) {
    Datum values[5];
    bool nulls[5] = {false, false, false, false, false};
    values[0] = PointerGetDatum(
        cstring_to_text_with_len(bytes + token.byte_start, static_cast<int>(token.byte_end - token.byte_start)));
    values[1] = Int32GetDatum(token.tag);
    char name[64];
    tesqpg::Tag_Name(token.tag, name, sizeof name);
    values[2] = PointerGetDatum(cstring_to_text(name));
    values[3] = Int32GetDatum(static_cast<int32>(token.char_start));
    values[4] = Int32GetDatum(static_cast<int32>(token.char_end));
    tuplestore_putvalues(rsinfo->setResult, rsinfo->setDesc, values, nulls);
  }
  return static_cast<Datum>(0);
}

Datum tesq_prs_start(PG_FUNCTION_ARGS) {
  const char *text = reinterpret_cast<const char *>(PG_GETARG_POINTER(0));
  const int size = PG_GETARG_INT32(1);
  Ensure_Started();
  Walk *walk = Owned_By_Context<Walk>(CurrentMemoryContext);
  Start_Walk(walk, text, size < 0 ? 0 : static_cast<size_t>(size), true);
  PG_RETURN_POINTER(walk);
}

Datum tesq_prs_token(PG_FUNCTION_ARGS) {
  Walk *walk = reinterpret_cast<Walk *>(PG_GETARG_POINTER(0));
  char **token_text = reinterpret_cast<char **>(PG_GETARG_POINTER(1));
  int *token_size = reinterpret_cast<int *>(PG_GETARG_POINTER(2));
  tesqpg::Token token;
  if (!Next_Token(walk, &token)) PG_RETURN_INT32(0);
  // The text the reader walks is the parser's input, which outlives the walk.
  *token_text = const_cast<char *>(walk->reader->Text()) + token.byte_start;
  *token_size = static_cast<int>(token.byte_end - token.byte_start);
  PG_RETURN_INT32(token.kind);
}

Datum tesq_prs_end(PG_FUNCTION_ARGS) {
  // The walk is freed with its memory context; its reader goes now, so that
  // the next text's reader takes over its buffers.
  Walk *walk = reinterpret_cast<Walk *>(PG_GETARG_POINTER(0));
  delete walk->reader;
  walk->reader = nullptr;
  PG_RETURN_VOID();
}

Datum tesq_prs_lextype(PG_FUNCTION_ARGS) {
  LexDescr *descr = static_cast<LexDescr *>(palloc(sizeof(LexDescr) * (tesqpg::kLast_Kind + 1)));
  for (int kind = 1; kind <= tesqpg::kLast_Kind; ++kind) {
    descr[kind - 1].lexid = kind;
    descr[kind - 1].alias = pstrdup(tesqpg::Kind_Alias(kind));
    descr[kind - 1].descr = pstrdup(tesqpg::Kind_Description(kind));
  }
  descr[tesqpg::kLast_Kind].lexid = 0;
  PG_RETURN_POINTER(descr);
}

// Marks the words of the query in the text: the whole text is shown, or up
// to MaxWords words from a few before the first match, with StartSel and
// StopSel around each match.
Datum tesq_prs_headline(PG_FUNCTION_ARGS) {
  HeadlineParsedText *prs = reinterpret_cast<HeadlineParsedText *>(PG_GETARG_POINTER(0));
  List *options = reinterpret_cast<List *>(PG_GETARG_POINTER(1));
  int max_words = 35;
  bool highlight_all = false;
  const char *start_sel = "<b>", *stop_sel = "</b>", *fragment_delimiter = " ... ";
  ListCell *cell;
  foreach (cell, options) {
    DefElem *option = static_cast<DefElem *>(lfirst(cell));
    const char *value = defGetString(option);
    if (pg_strcasecmp(option->defname, "MaxWords") == 0) max_words = pg_strtoint32(value);
    else if (pg_strcasecmp(option->defname, "StartSel") == 0) start_sel = pstrdup(value);
    else if (pg_strcasecmp(option->defname, "StopSel") == 0) stop_sel = pstrdup(value);
    else if (pg_strcasecmp(option->defname, "HighlightAll") == 0)
      highlight_all = pg_strcasecmp(value, "1") == 0 || pg_strcasecmp(value, "on") == 0 ||
                      pg_strcasecmp(value, "true") == 0 || pg_strcasecmp(value, "t") == 0 ||
                      pg_strcasecmp(value, "y") == 0 || pg_strcasecmp(value, "yes") == 0;
    else if (pg_strcasecmp(option->defname, "FragmentDelimiter") == 0) fragment_delimiter = pstrdup(value);
  }
  if (max_words <= 0)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("MaxWords must be positive")));
  int first = -1;
  for (int i = 0; i < prs->curwords; ++i) {
    if (prs->words[i].item != nullptr && !prs->words[i].skip && prs->words[i].type != tesqpg::kBlank) {
      prs->words[i].selected = 1;
      if (first < 0) first = i;
    }
  }
  int begin = 0, end = prs->curwords;
  if (!highlight_all) {
    begin = first < 0 ? 0 : first;
    // A few words of context before the first match, never so many that
    // the match falls out of the window.
    const int context = max_words / 4;
    for (int back = 0; begin > 0 && back < context; --begin)
      if (prs->words[begin - 1].type != tesqpg::kBlank) ++back;
    int shown = 0;
    for (end = begin; end < prs->curwords && shown < max_words; ++end)
      if (prs->words[end].type != tesqpg::kBlank) ++shown;
  }
  for (int i = begin; i < end; ++i) prs->words[i].in = 1;
  prs->startsel = pstrdup(start_sel);
  prs->stopsel = pstrdup(stop_sel);
  prs->fragdelim = pstrdup(fragment_delimiter);
  prs->startsellen = static_cast<int>(strlen(prs->startsel));
  prs->stopsellen = static_cast<int>(strlen(prs->stopsel));
  prs->fragdelimlen = static_cast<int>(strlen(prs->fragdelim));
  PG_RETURN_POINTER(prs);
}

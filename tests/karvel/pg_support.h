// Shared by the tests that run against the PostgreSQL server that
// scripts/with_postgres.sh starts for them (TESQ_TEST_PG_URI and friends):
// the term table written directly (so a test can store what the import
// refuses), SQL run as the server's superuser, and the server stopped,
// killed, paused and started again.
#ifndef TESQ_TESTS_KARVEL_PG_SUPPORT_H
#define TESQ_TESTS_KARVEL_PG_SUPPORT_H

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace karvel_test {

// The value of an environment variable, "" when unset.
std::string Env(const char *name);

// TESQ_TEST_PG_URI with an application name of `tag` added: a location of
// its own (a store and a copy of its own) for one test; "" when unset.
std::string Pg_Test_Uri(const std::string &tag);

// Pg_Test_Uri with a PostgreSQL schema of its own, new and empty (its
// search path): a database that has no term table yet.
std::string Pg_Empty_Database_Uri(const std::string &tag);

// Runs SQL on `uri`; false (with a test failure) when it fails.
bool Pg_Sql(const std::string &uri, const std::string &sql);

// Creates the schema (karvel/schema/postgresql.sql) where missing, empties
// the table and stores
// `rows` (word, label; UTF-8; a null label is left out, PostgreSQL's text
// holding no NUL byte and the label column no NULL).
void Write_Pg_Table(const std::string &uri, const std::vector<std::pair<std::string, std::optional<std::string>>> &rows);

// pg_ctl on the test server ("stop -m fast", "start", ...). A start right
// after the server was killed is tried again until its old backends have
// gone.
void Pg_Ctl(const std::string &action);

// The postmaster's process id.
pid_t Pg_Server_Pid();

// Sends `signal` to the server and every process it started, so that a
// paused server stalls on the connections it already has too.
void Pg_Signal_Server(int signal);

}  // namespace karvel_test

#endif

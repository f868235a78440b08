#include "pg_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace karvel_test {

std::string Env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Pg_Test_Uri(const std::string &tag) {
  const std::string uri = Env("TESQ_TEST_PG_URI");
  if (uri.empty()) return uri;
  // (PostgreSQL keeps 63 bytes of a name.)
  return uri + (uri.find('?') == std::string::npos ? "?" : "&") + "application_name=" + tag.substr(0, 60);
}

std::string Pg_Empty_Database_Uri(const std::string &tag) {
  const std::string uri = Pg_Test_Uri(tag);
  if (uri.empty()) return uri;
  // Lower case and short: the search path names it unquoted.
  std::string schema = ("t_" + tag).substr(0, 60);
  for (char &c : schema) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  Pg_Sql(uri, "SET client_min_messages = warning; DROP SCHEMA IF EXISTS \"" + schema + "\" CASCADE; CREATE SCHEMA \"" +
                  schema + "\"");
  return uri + "&options=-csearch_path%3D" + schema;
}

bool Pg_Sql(const std::string &uri, const std::string &sql) {
  PGconn *c = PQconnectdb(uri.c_str());
  bool ok = PQstatus(c) == CONNECTION_OK;
  EXPECT_TRUE(ok) << PQerrorMessage(c);
  if (ok) {
    PGresult *r = PQexec(c, sql.c_str());
    const ExecStatusType status = PQresultStatus(r);
    ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    EXPECT_TRUE(ok) << PQresultErrorMessage(r);
    PQclear(r);
  }
  PQfinish(c);
  return ok;
}

void Write_Pg_Table(const std::string &uri,
                    const std::vector<std::pair<std::string, std::optional<std::string>>> &rows) {
  std::ifstream schema_file(KARVEL_PG_SCHEMA_FILE);
  std::stringstream schema;
  schema << schema_file.rdbuf();
  ASSERT_FALSE(schema.str().empty()) << KARVEL_PG_SCHEMA_FILE;
  // Emptied rather than dropped: other tests' stores may still be reading.
  ASSERT_TRUE(Pg_Sql(uri, "SET client_min_messages = warning; " + schema.str()));
  PGconn *c = PQconnectdb(uri.c_str());
  ASSERT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
  PQclear(PQexec(c, "BEGIN; DELETE FROM \"420_DIC\""));
  for (const auto &row : rows) {
    if (!row.second || row.first.find('\0') != std::string::npos || row.second->find('\0') != std::string::npos)
      continue;
    const char *values[] = {row.first.c_str(), row.second->c_str()};
    PGresult *r = PQexecParams(c, "INSERT INTO \"420_DIC\" VALUES ($1, $2)", 2, nullptr, values, nullptr, nullptr, 0);
    EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQresultErrorMessage(r);
    PQclear(r);
  }
  PQclear(PQexec(c, "COMMIT"));
  PQfinish(c);
}

void Pg_Ctl(const std::string &action) {
  const std::string command = Env("TESQ_TEST_PG_CTL") + " -o '" + Env("TESQ_TEST_PG_OPTIONS") + "' " + action +
                              " > /dev/null 2>&1";
  int status = std::system(command.c_str());
  for (int tries = 0; status != 0 && action == "start" && tries < 40; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    status = std::system(command.c_str());
  }
  ASSERT_EQ(status, 0) << command;
}

pid_t Pg_Server_Pid() {
  std::ifstream pidfile(Env("TESQ_TEST_PG_PIDFILE"));
  long pid = 0;
  pidfile >> pid;
  return static_cast<pid_t>(pid);
}

void Pg_Signal_Server(int signal) {
  const pid_t server = Pg_Server_Pid();
  ASSERT_GT(server, 0);
  kill(server, signal);
  DIR *proc = opendir("/proc");
  ASSERT_NE(proc, nullptr);
  while (dirent *entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == server)
      kill(pid, signal);
  }
  closedir(proc);
}

}  // namespace karvel_test

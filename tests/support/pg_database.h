// A fresh database for one test on the throw-away cluster that
// tests/postgres/with_cluster.sh starts (ZPAPI_PG_DSN), dropped afterwards.
#pragma once

#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

namespace zptest {

// Runs SQL on a connection; answers the first value of the first row, or
// throws the server's message.
inline std::string pgQuery(PGconn* conn, const std::string& sql) {
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(conn, sql.c_str()), &PQclear);
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw std::runtime_error(sql + ": " + PQerrorMessage(conn));
    return status == PGRES_TUPLES_OK && PQntuples(r.get()) > 0 ? PQgetvalue(r.get(), 0, 0) : "";
}

class PgDatabase {
  public:
    // Why the PostgreSQL tests cannot run here, or "" when they can: no
    // cluster named, or the extension not installed in its server.
    static std::string unavailable() {
        const char* dsn = std::getenv("ZPAPI_PG_DSN");
        if (dsn == nullptr || *dsn == '\0')
            return "ZPAPI_PG_DSN is not set: run under tests/postgres/with_cluster.sh (ctest runs the *_postgres entries so)";
        PGconn* conn = PQconnectdb(dsn);
        std::string why;
        if (PQstatus(conn) != CONNECTION_OK) why = std::string("cannot connect to ZPAPI_PG_DSN: ") + PQerrorMessage(conn);
        else if (pgQuery(conn, "SELECT count(*) FROM pg_available_extensions WHERE name = 'zpapi'") != "1")
            why = "the zpapi extension is not installed in the server (make postgres)";
        PQfinish(conn);
        return why;
    }

    // A cluster named (the *_postgres entries) with ZPAPI_REQUIRE_POSTGRES=1:
    // what is missing fails the tests instead. Without one the cases skip,
    // as the entries without a cluster run them.
    static bool required() {
        const char* require = std::getenv("ZPAPI_REQUIRE_POSTGRES");
        const char* dsn = std::getenv("ZPAPI_PG_DSN");
        return require != nullptr && std::string(require) == "1" && dsn != nullptr && *dsn != '\0';
    }

    PgDatabase() {
        static std::atomic<int> serial{0};
        name_ = "zpapi_test_" + std::to_string(::getpid()) + "_" + std::to_string(serial++);
        admin(std::string("CREATE DATABASE ") + name_);
        std::string dsn = std::getenv("ZPAPI_PG_DSN");
        const std::size_t query = std::min(dsn.find('?'), dsn.size());
        const std::size_t path = dsn.find('/', dsn.find("://") + 3);
        uri_ = dsn.substr(0, std::min(path, query)) + "/" + name_ + dsn.substr(query);
        conn_ = PQconnectdb(uri_.c_str());
        if (PQstatus(conn_) != CONNECTION_OK) throw std::runtime_error(uri_ + ": " + PQerrorMessage(conn_));
        pgQuery(conn_, "SET client_min_messages = warning");
    }
    ~PgDatabase() {
        PQfinish(conn_);
        try {
            admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
        } catch (const std::exception&) {
            // The cluster goes with the run anyway.
        }
    }
    PgDatabase(const PgDatabase&) = delete;
    PgDatabase& operator=(const PgDatabase&) = delete;

    const std::string& uri() const { return uri_; }
    // SQL behind the store's back; the first value of the answer.
    std::string sql(const std::string& statement) { return pgQuery(conn_, statement); }

  private:
    static void admin(const std::string& statement) {
        PGconn* conn = PQconnectdb(std::getenv("ZPAPI_PG_DSN"));
        try {
            pgQuery(conn, statement);
        } catch (...) {
            PQfinish(conn);
            throw;
        }
        PQfinish(conn);
    }
    std::string name_;
    std::string uri_;
    PGconn* conn_ = nullptr;
};

}  // namespace zptest

// In a test or its SetUp: skips it where no cluster serves (fails it when
// the server is required).
#define ZP_REQUIRE_POSTGRES()                                                             \
    do {                                                                                  \
        if (const std::string why = ::zptest::PgDatabase::unavailable(); !why.empty()) { \
            if (::zptest::PgDatabase::required()) FAIL() << why;                          \
            GTEST_SKIP() << why;                                                          \
        }                                                                                 \
    } while (false)

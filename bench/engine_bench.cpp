// SPDX-License-Identifier: Apache-2.0
// Benchmark of the engine's write path: one INSERT statement text per row
// through Database::Execute (what the table import does), against raw SQLite
// prepared inserts in one transaction, on the same rows of a 10-column table
// with a 6-field primary key. Each side runs in a child process so that its
// peak memory is its own.
//
// usage: engine_bench [ROWS]   (default 100000)
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/in_child.h"
#include "dbengine/dbengine.h"

namespace {

constexpr char kCreate[] =
    "CREATE TABLE Conventions (NumOrganismeSignataire LONG, TypeConvention TEXT(3), CritereSecondaire TEXT(10), "
    "TypeAccord SHORT, NumAMC TEXT(10), IndicateurConventionGroupee BIT, Libelle TEXT(100), Montant CURRENCY, "
    "Taux DOUBLE, DateDebut DATETIME, CONSTRAINT PrimaryKey PRIMARY KEY (NumOrganismeSignataire, TypeConvention, "
    "CritereSecondaire, TypeAccord, NumAMC, IndicateurConventionGroupee))";

struct Row {
  long organisme;
  std::string type;
  std::string critere;
  int accord;
  std::string amc;
  bool groupee;
  std::string libelle;
  long montantCents;
  double taux;
  int day;
};

Row MakeRow(long index) {
  Row row;
  row.organisme = 100000 + index / 8;
  row.type = index % 2 ? "TP" : "RO";
  row.critere = "C" + std::to_string(index % 4);
  row.accord = static_cast<int>(index % 3);
  row.amc = std::to_string(77000000 + index % 97);
  row.groupee = false;
  row.libelle = "Convention de l'organisme " + std::to_string(row.organisme) + " réf. " + std::to_string(index);
  row.montantCents = 1250 + index % 1000;
  row.taux = 0.35 + static_cast<double>(index % 50) / 100.0;
  row.day = 1 + static_cast<int>(index % 28);
  return row;
}

std::string Doubled(const std::string& text) {
  std::string out;
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

// The statement text the import builds for one line.
std::string InsertText(const Row& row) {
  char money[32];
  std::snprintf(money, sizeof money, "%ld,%02ld", row.montantCents / 100, row.montantCents % 100);
  std::string taux = std::to_string(row.taux);  // digits only; the comma is put in below
  for (char& c : taux) if (c == '.') c = ',';
  return "INSERT INTO [Conventions] values('" + std::to_string(row.organisme) + "','" + row.type + "','" +
         row.critere + "','" + std::to_string(row.accord) + "','" + row.amc + "'," + (row.groupee ? "-1" : "0") +
         ",'" + Doubled(row.libelle) + "','" + money + "','" + taux + "','" + std::to_string(row.day) +
         "/03/2024')";
}

// `inTransaction`: all rows in one transaction, as an import does; otherwise
// each statement is its own transaction, on disk when it returns.
double RunEngine(const std::string& path, long rows, bool inTransaction) {
  dbengine::Database::Create(path);
  dbengine::Database database;
  database.Open(path);
  database.Execute(kCreate);
  const auto start = std::chrono::steady_clock::now();
  if (inTransaction) database.BeginTrans();
  for (long index = 0; index < rows; ++index) database.Execute(InsertText(MakeRow(index)));
  if (inTransaction) database.CommitTrans();
  database.Close();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double RunRaw(const std::string& path, long rows) {
  dbengine::Database::Create(path);
  {
    dbengine::Database database;
    database.Open(path);
    database.Execute(kCreate);
    database.Close();
  }
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  const auto start = std::chrono::steady_clock::now();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO Conventions VALUES(?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr);
  for (long index = 0; index < rows; ++index) {
    const Row row = MakeRow(index);
    sqlite3_bind_int64(insert, 1, row.organisme);
    sqlite3_bind_text(insert, 2, row.type.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, row.critere.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 4, row.accord);
    sqlite3_bind_text(insert, 5, row.amc.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 6, row.groupee);
    sqlite3_bind_text(insert, 7, row.libelle.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert, 8, row.montantCents * 100);
    sqlite3_bind_double(insert, 9, row.taux);
    sqlite3_bind_double(insert, 10, 45351.0 + row.day);
    if (sqlite3_step(insert) != SQLITE_DONE) {
      std::fprintf(stderr, "raw insert failed: %s\n", sqlite3_errmsg(db));
      std::exit(1);
    }
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}


}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 100000;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("engine_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const auto raw = InChild([&] { return RunRaw((folder / "raw.mdb").string(), rows); });
  const auto engine = InChild([&] { return RunEngine((folder / "engine.mdb").string(), rows, true); });
  // Each autocommit statement waits for the disk: fewer of them are timed.
  const long autocommitRows = rows < 2000 ? rows : 2000;
  const auto autocommit =
      InChild([&] { return RunEngine((folder / "autocommit.mdb").string(), autocommitRows, false); });
  std::filesystem::remove_all(folder);
  if (raw.first <= 0 || engine.first <= 0 || autocommit.first <= 0) return 1;
  std::printf("rows: %ld\n", rows);
  std::printf("raw SQLite prepared inserts, one transaction: %9.0f rows/s  peak %ld KiB\n", rows / raw.first, raw.second);
  std::printf("engine Execute, one INSERT text per row, one transaction: %9.0f rows/s  peak %ld KiB\n",
              rows / engine.first, engine.second);
  std::printf("engine / raw: %.0f %%\n", 100.0 * raw.first / engine.first);
  std::printf("engine Execute, each INSERT its own transaction (%ld rows): %9.0f statements/s\n", autocommitRows,
              autocommitRows / autocommit.first);
  return 0;
}

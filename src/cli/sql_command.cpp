// SPDX-License-Identifier: Apache-2.0
// vidange sql: statements on a database, given as arguments or read from
// standard input, a SELECT's rows written on standard output.
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "dbengine/dbengine.h"

namespace cli {
namespace {

// What its help says it does.
constexpr char kDescription[] =
    "Exécute chaque INSTRUCTION sur BASE dans l'ordre, ou, sans instruction, chaque\n"
    "ligne de l'entrée standard qui n'est ni vide ni commencée par --. Un SELECT\n"
    "écrit ses lignes sur la sortie standard, valeurs séparées par |.";

struct SqlArguments {
  std::string path;
  bool create = false;
  bool oneTransaction = false;
  std::vector<std::string> statements;  // none: the lines of standard input
  std::string password;
};

bool StartsWithSelect(std::string_view statement) {
  const std::size_t start = statement.find_first_not_of(" \t");
  if (start == std::string_view::npos || statement.size() - start < 6) return false;
  return strncasecmp(statement.data() + start, "SELECT", 6) == 0;
}

// Prints the rows of a SELECT as transfer lines in UTF-8 ended by LF; stops
// at the first line that does not reach standard output.
void PrintRows(dbengine::Database& database, std::string_view statement) {
  dbengine::Recordset rows = database.OpenRecordset(statement);
  std::string line;
  while (!rows.IsEOF()) {
    line.clear();
    for (std::int16_t position = 0; position < rows.FieldCount(); ++position) {
      if (position > 0) line.push_back('|');
      dbengine::AppendValueText(rows.FieldValue(position), line);
    }
    line.push_back('\n');
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) throw OutputLost(errno);
    rows.MoveNext();
  }
}

// Runs one statement. A SELECT's rows are flushed before the next statement
// runs, so that nothing is changed after rows were lost.
void Run(dbengine::Database& database, std::string_view statement) {
  if (StartsWithSelect(statement)) {
    PrintRows(database, statement);
    FlushOutput();
  } else {
    database.Execute(statement);
  }
}

int Sql(const SqlArguments& args) {
  dbengine::Database database;
  return ReportingErrors([&] {
    if (args.create) dbengine::Database::Create(args.path);
    database.Open(args.path, Connect(args.password));
    // On a failure the handle's close undoes the transaction whole.
    if (args.oneTransaction) database.BeginTrans();
    if (!args.statements.empty()) {
      for (const std::string& statement : args.statements) Run(database, statement);
    } else {
      std::string line;
      while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line.rfind("--", 0) == 0) continue;
        Run(database, line);
      }
    }
    if (args.oneTransaction) database.CommitTrans();
    database.Close();
  });
}

}  // namespace

Command DeclareSql(CLI::App& vidange) {
  auto args = std::make_shared<SqlArguments>();
  CLI::App* sql = AddCommand(vidange, "sql", kDescription, {{"BASE", &args->path}});
  sql->add_option("INSTRUCTION", args->statements);
  sql->add_flag("--create", args->create, "crée d'abord une base vide BASE (refusée si le\nfichier existe)");
  sql->add_flag("--transaction", args->oneTransaction,
                "une seule transaction, annulée en entier à la\npremière instruction refusée");
  AddPasswordOption(sql, args->password);
  return {sql, "sql BASE [--create] [--transaction] [INSTRUCTION ...]", [args] { return Sql(*args); }};
}

}  // namespace cli

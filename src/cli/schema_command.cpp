// SPDX-License-Identifier: Apache-2.0
// vidange schema: the tables of a database, their fields and indexes, one
// tab-separated line each.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "dbengine/dbengine.h"

namespace cli {
namespace {

// What its help says it does.
constexpr char kDescription[] =
    "Décrit les tables de BASE (ou la seule TABLE), une ligne par table, champ et\n"
    "index, ses éléments séparés par une tabulation.";

struct SchemaArguments {
  std::string path;
  std::string table;
  bool oneTable = false;  // false: every table
  std::string password;
};

int Schema(const SchemaArguments& args) {
  dbengine::Database database;
  return ReportingErrors([&] {
    database.Open(args.path, Connect(args.password));
    std::vector<std::string> tables;
    if (args.oneTable) {
      tables.push_back(database.TableDefs(args.table).Name());
    } else {
      tables = database.TableNames();
    }
    // Every definition is read before the first line is printed: a file
    // that fails part way prints nothing.
    std::vector<dbengine::TableDef> defs;
    for (const std::string& name : tables) defs.push_back(database.TableDefs(name));
    database.Close();
    for (const dbengine::TableDef& def : defs) {
      std::printf("table\t%s\n", def.Name().c_str());
      for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
        const dbengine::FieldDef& field = def.Fields(position);
        std::printf("field\t%s\t%d\t%s\t%d\t%d\n", def.Name().c_str(), position, field.name.c_str(),
                    static_cast<int>(field.type), static_cast<int>(field.size));
      }
      for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
        const dbengine::IndexDef& index = def.Indexes(position);
        std::string fields;
        for (const std::string& field : index.fields) fields += (fields.empty() ? "" : ",") + field;
        std::printf("index\t%s\t%s\t%s\t%s\t%s\n", def.Name().c_str(), index.name.c_str(),
                    index.primary ? "primary" : "-", index.unique ? "unique" : "-", fields.c_str());
      }
    }
  });
}

}  // namespace

Command DeclareSchema(CLI::App& vidange) {
  auto args = std::make_shared<SchemaArguments>();
  CLI::App* schema = AddCommand(vidange, "schema", kDescription, {{"BASE", &args->path}});
  CLI::Option* table = schema->add_option("TABLE", args->table);
  AddPasswordOption(schema, args->password);
  return {schema, "schema BASE [TABLE]", [args, table] {
            args->oneTable = table->count() > 0;
            return Schema(*args);
          }};
}

}  // namespace cli

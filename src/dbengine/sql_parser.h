// SPDX-License-Identifier: Apache-2.0
// The engine's statement dialect: tokenizer and parser (internal).
//
// Grammar (keywords in any case; a name is bare or in brackets):
//   select  := SELECT '*' FROM name [where] [ORDER BY name {',' name}]
//   delete  := DELETE ['*'] FROM name [where]
//   where   := WHERE name '=' value {AND name '=' value}
//   insert  := INSERT INTO name ['(' name {',' name} ')'] VALUES '(' value {',' value} ')'
//   create  := CREATE TABLE name '(' coldef {',' coldef} [',' constraint] ')'
//   coldef  := name type ['(' integer ')'] [NOT NULL]
//   constraint := [CONSTRAINT name] (PRIMARY KEY | UNIQUE) '(' name {',' name} ')'
//   alter   := ALTER TABLE name (DROP CONSTRAINT name | ADD constraint)
//   index   := CREATE [UNIQUE] INDEX name ON name '(' name {',' name} ')' [WITH PRIMARY]
//   drop    := DROP INDEX name ON name | DROP TABLE name
//   value   := 'text' (quote doubled inside) | [+-] number | TRUE | FALSE | YES | NO | NULL
//   number  := digits ['.' digits] [E [+-] digits]
// Every statement may end with one ';'. A fault in a value gives 3075, a fault
// in the structure the verb's own number (3134 INSERT, 3290 CREATE/ALTER,
// 3000-range otherwise), text after the end 3142, an unknown verb 3129.
#ifndef DBENGINE_SQL_PARSER_H_
#define DBENGINE_SQL_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/dbengine.h"

namespace dbengine {

struct Literal {
  enum Kind { kNull, kText, kNumber, kBoolean };
  Kind kind = kNull;
  std::string text;      // kText: unquoted content; kNumber: digits as written, sign included
  bool truth = false;    // kBoolean
};

struct Condition {
  std::string column;
  Literal value;
};

struct ColumnSpec {
  std::string name;
  FieldType type = kText;
  std::int32_t size = 0;
  std::string declaredType;  // canonical declared type stored in the file
  bool required = false;
};

struct Statement {
  enum Kind {
    kSelect,
    kDelete,
    kInsert,
    kCreateTable,
    kDropTable,
    kAddConstraint,
    kDropConstraint,
    kCreateIndex,
    kDropIndex,
  };
  Kind kind = kSelect;
  std::string table;
  std::vector<std::string> columns;  // INSERT column list, ORDER BY list
  std::vector<Literal> values;       // INSERT values
  std::vector<Condition> where;
  std::vector<ColumnSpec> columnSpecs;  // CREATE TABLE
  // CREATE TABLE constraint, ADD CONSTRAINT, CREATE INDEX, DROP CONSTRAINT / INDEX.
  std::string indexName;
  std::vector<std::string> indexColumns;
  bool primary = false;
  bool unique = false;
  bool hasConstraint = false;  // CREATE TABLE: a constraint clause was given
};

// Parses one statement. Throws EngineError with the dialect's numbers. `out`
// is reused across calls to spare allocations.
void ParseStatement(std::string_view text, Statement& out);

// Maps a type name of the dialect (and its synonyms) to a field type, its
// default size and the canonical declared type kept in the file. Returns
// false for an unknown name. `size` is the size written after the name, or -1.
bool ResolveTypeName(std::string_view name, std::int32_t size, ColumnSpec& spec);

// DeclaredTypeOf (dbengine.h) gives a field's declared type back.

// The field type of a declared column type read back from a file.
FieldType FieldTypeOfDeclared(std::string_view declared, std::int32_t& size);

}  // namespace dbengine

#endif  // DBENGINE_SQL_PARSER_H_

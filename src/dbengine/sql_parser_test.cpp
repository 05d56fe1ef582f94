// SPDX-License-Identifier: Apache-2.0
// Tests of the statement parser alone: what each statement form fills in, the
// error number of each kind of fault, and the type names of column definitions.
#include "sql_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbengine/error.h"

namespace {

using namespace dbengine;

// The number of the EngineError thrown by parsing `text`, or 0 when it parses.
int ParseError(const std::string& text) {
  Statement statement;
  try {
    ParseStatement(text, statement);
  } catch (const EngineError& error) {
    return error.Number();
  }
  return 0;
}

Statement Parse(const std::string& text) {
  Statement statement;
  ParseStatement(text, statement);
  return statement;
}

TEST(ParseStatementTest, InsertKeepsNamesAndLiteralsAsWritten) {
  const Statement insert =
      Parse("insert INTO [Order Details] ([Order ID], Umsätze, c, d, e, f, g) "
            "Values('l''été', -12.5, Null, True, false, '', +7);");
  EXPECT_EQ(insert.kind, Statement::kInsert);
  EXPECT_EQ(insert.table, "Order Details");
  EXPECT_EQ(insert.columns, (std::vector<std::string>{"Order ID", "Umsätze", "c", "d", "e", "f", "g"}));
  ASSERT_EQ(insert.values.size(), 7u);
  EXPECT_EQ(insert.values[0].kind, Literal::kText);
  EXPECT_EQ(insert.values[0].text, "l'été");
  EXPECT_EQ(insert.values[1].kind, Literal::kNumber);
  EXPECT_EQ(insert.values[1].text, "-12.5");
  EXPECT_EQ(insert.values[2].kind, Literal::kNull);
  EXPECT_EQ(insert.values[3].kind, Literal::kBoolean);
  EXPECT_TRUE(insert.values[3].truth);
  EXPECT_EQ(insert.values[4].kind, Literal::kBoolean);
  EXPECT_FALSE(insert.values[4].truth);
  EXPECT_EQ(insert.values[5].kind, Literal::kText);
  EXPECT_EQ(insert.values[5].text, "");
  EXPECT_EQ(insert.values[6].kind, Literal::kNumber);
  EXPECT_EQ(insert.values[6].text, "7");
}

TEST(ParseStatementTest, NumberForms) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0", "0"},       {"-1", "-1"},       {"12.5", "12.5"}, {".5", ".5"},
      {"1e3", "1e3"},   {"-2.5E-3", "-2.5E-3"}, {"- 4", "-4"},
  };
  for (const auto& [written, kept] : cases) {
    SCOPED_TRACE(written);
    const Statement insert = Parse("INSERT INTO t values(" + written + ")");
    ASSERT_EQ(insert.values.size(), 1u);
    EXPECT_EQ(insert.values[0].kind, Literal::kNumber);
    EXPECT_EQ(insert.values[0].text, kept);
  }
}

TEST(ParseStatementTest, ReusedOutputKeepsNothingFromThePreviousStatement) {
  Statement statement;
  ParseStatement("INSERT INTO a (x, y, z) values('1', '2', '3')", statement);
  ParseStatement("INSERT INTO b values(4)", statement);
  EXPECT_EQ(statement.table, "b");
  EXPECT_TRUE(statement.columns.empty());
  ASSERT_EQ(statement.values.size(), 1u);
  EXPECT_EQ(statement.values[0].text, "4");
  // Literals without text carry none from the previous statement (errors quote it).
  ParseStatement("INSERT INTO b values(Null, True)", statement);
  ASSERT_EQ(statement.values.size(), 2u);
  EXPECT_EQ(statement.values[0].text, "");
  EXPECT_EQ(statement.values[1].text, "");
  ParseStatement("SELECT * FROM c WHERE x=1 ORDER BY y", statement);
  ParseStatement("DELETE FROM d", statement);
  EXPECT_EQ(statement.kind, Statement::kDelete);
  EXPECT_TRUE(statement.where.empty());
  EXPECT_TRUE(statement.columns.empty());
  EXPECT_TRUE(statement.values.empty());
  ParseStatement("CREATE TABLE e (x LONG, CONSTRAINT pk PRIMARY KEY (x))", statement);
  ParseStatement("CREATE TABLE f (y LONG)", statement);
  EXPECT_FALSE(statement.hasConstraint);
  EXPECT_FALSE(statement.primary);
  EXPECT_TRUE(statement.indexName.empty());
  EXPECT_TRUE(statement.indexColumns.empty());
  ASSERT_EQ(statement.columnSpecs.size(), 1u);
  EXPECT_EQ(statement.columnSpecs[0].name, "y");
}

TEST(ParseStatementTest, SelectAndDeleteConditions) {
  const Statement select = Parse("select * from [T] where [a]='x' and b=5 AND c=Null order by b, [a]");
  EXPECT_EQ(select.kind, Statement::kSelect);
  EXPECT_EQ(select.table, "T");
  ASSERT_EQ(select.where.size(), 3u);
  EXPECT_EQ(select.where[0].column, "a");
  EXPECT_EQ(select.where[0].value.kind, Literal::kText);
  EXPECT_EQ(select.where[0].value.text, "x");
  EXPECT_EQ(select.where[1].column, "b");
  EXPECT_EQ(select.where[1].value.text, "5");
  EXPECT_EQ(select.where[2].value.kind, Literal::kNull);
  EXPECT_EQ(select.columns, (std::vector<std::string>{"b", "a"}));

  for (const char* text : {"DELETE * FROM T WHERE a='x'", "delete from [T] where [a] = 'x';"}) {
    SCOPED_TRACE(text);
    const Statement remove = Parse(text);
    EXPECT_EQ(remove.kind, Statement::kDelete);
    EXPECT_EQ(remove.table, "T");
    ASSERT_EQ(remove.where.size(), 1u);
    EXPECT_EQ(remove.where[0].column, "a");
    EXPECT_EQ(remove.where[0].value.text, "x");
  }
}

TEST(ParseStatementTest, DefinitionStatements) {
  const Statement create = Parse(
      "CREATE TABLE [Order Details] (id LONG NOT NULL, [Nom complet] text(50), m MEMO, "
      "CONSTRAINT PrimaryKey PRIMARY KEY (id, [Nom complet]))");
  EXPECT_EQ(create.kind, Statement::kCreateTable);
  EXPECT_EQ(create.table, "Order Details");
  ASSERT_EQ(create.columnSpecs.size(), 3u);
  EXPECT_EQ(create.columnSpecs[0].name, "id");
  EXPECT_EQ(create.columnSpecs[0].type, kLong);
  EXPECT_TRUE(create.columnSpecs[0].required);
  EXPECT_EQ(create.columnSpecs[1].name, "Nom complet");
  EXPECT_EQ(create.columnSpecs[1].type, kText);
  EXPECT_EQ(create.columnSpecs[1].size, 50);
  EXPECT_EQ(create.columnSpecs[1].declaredType, "TEXT(50)");
  EXPECT_FALSE(create.columnSpecs[1].required);
  EXPECT_EQ(create.columnSpecs[2].type, kMemo);
  EXPECT_TRUE(create.hasConstraint);
  EXPECT_TRUE(create.primary);
  EXPECT_EQ(create.indexName, "PrimaryKey");
  EXPECT_EQ(create.indexColumns, (std::vector<std::string>{"id", "Nom complet"}));

  const Statement unnamed = Parse("CREATE TABLE t (a LONG, PRIMARY KEY (a))");
  EXPECT_TRUE(unnamed.primary);
  EXPECT_EQ(unnamed.indexName, "PrimaryKey");

  const Statement add = Parse("ALTER TABLE t ADD CONSTRAINT PrimaryKey PRIMARY KEY (b, a)");
  EXPECT_EQ(add.kind, Statement::kAddConstraint);
  EXPECT_EQ(add.table, "t");
  EXPECT_TRUE(add.primary);
  EXPECT_EQ(add.indexColumns, (std::vector<std::string>{"b", "a"}));

  const Statement drop = Parse("alter table [t] drop constraint [PrimaryKey];");
  EXPECT_EQ(drop.kind, Statement::kDropConstraint);
  EXPECT_EQ(drop.indexName, "PrimaryKey");

  const Statement index = Parse("CREATE UNIQUE INDEX ix ON t (b, a) WITH PRIMARY");
  EXPECT_EQ(index.kind, Statement::kCreateIndex);
  EXPECT_EQ(index.indexName, "ix");
  EXPECT_TRUE(index.unique);
  EXPECT_TRUE(index.primary);
  EXPECT_EQ(index.indexColumns, (std::vector<std::string>{"b", "a"}));

  const Statement plain = Parse("CREATE INDEX ix ON t (a)");
  EXPECT_FALSE(plain.unique);
  EXPECT_FALSE(plain.primary);

  const Statement dropIndex = Parse("DROP INDEX ix ON t");
  EXPECT_EQ(dropIndex.kind, Statement::kDropIndex);
  EXPECT_EQ(dropIndex.indexName, "ix");
  EXPECT_EQ(dropIndex.table, "t");

  const Statement dropTable = Parse("drop table [Order Details]");
  EXPECT_EQ(dropTable.kind, Statement::kDropTable);
  EXPECT_EQ(dropTable.table, "Order Details");
}

TEST(ParseStatementTest, AcceptedForms) {
  const char* const accepted[] = {
      "SELECT * FROM t",
      "  select   *   from   t  ",
      "SELECT * FROM t;",
      "SELECT * FROM t ; ",
      "SELECT * FROM [Order Details] WHERE [Order ID]=1 ORDER BY [Order ID]",
      "SELECT * FROM Umsätze WHERE Währung='€'",
      "DELETE * FROM t",
      "DELETE FROM t WHERE a='x' AND b=5",
      "DELETE FROM t WHERE a='x';",
      "INSERT INTO t values(1)",
      "INSERT INTO t VALUES ( 1 , 'a' , Null )",
      "INSERT INTO t values('15/03/2024 10:30:00')",
      "INSERT INTO t values('a;b')",
      "INSERT INTO t values('')",
      "INSERT INTO t values('''')",
      "INSERT INTO t values(yes, no, on, off)",
      "INSERT INTO t values('[x]')",
      "CREATE TABLE t (a TEXT(255), b BINARY(1), c LONG(9))",
      "CREATE TABLE t (a LONG, UNIQUE (a))",
      "DROP TABLE t;",
  };
  for (const char* text : accepted) {
    EXPECT_EQ(ParseError(text), 0) << text;
  }
}

TEST(ParseStatementTest, FaultsAndTheirNumbers) {
  const std::vector<std::pair<std::string, int>> cases = {
      // A value that is not exactly one literal.
      {"INSERT INTO t values('abc)", 3075},
      {"INSERT INTO t values('abc", 3075},
      {"INSERT INTO t values(5')", 3075},
      {"INSERT INTO t values('a' 'b')", 3075},
      {"INSERT INTO t values(5 6)", 3075},
      {"INSERT INTO t values(5+6)", 3075},
      {"INSERT INTO t values(5-6)", 3075},
      {"INSERT INTO t values(1,,2)", 3075},
      {"INSERT INTO t values(,1)", 3075},
      {"INSERT INTO t values()", 3075},
      {"INSERT INTO t values(abc)", 3075},
      {"INSERT INTO t values(12abc)", 3075},
      {"INSERT INTO t values(-)", 3075},
      {"INSERT INTO t values(\"x\")", 3075},
      {"INSERT INTO t values(1.2.3)", 3075},
      {"DELETE FROM t WHERE a='x", 3075},
      {"DELETE FROM t WHERE a=5 6", 3075},
      {"DELETE FROM t WHERE a 5", 3075},
      {"DELETE FROM t WHERE a=", 3075},
      {"DELETE FROM t WHERE a='x' OR b=1", 3075},
      {"SELECT * FROM t WHERE a=1+1", 3075},
      {"SELECT * FROM t WHERE a='x' b=1", 3075},
      // INSERT structure.
      {"INSERT [t] values(1)", 3134},
      {"INSERT INTO t (a) ('x')", 3134},
      {"INSERT INTO t", 3134},
      {"INSERT INTO t values 1", 3134},
      {"INSERT INTO t (a values(1)", 3134},
      {"INSERT INTO t () values(1)", 3134},
      {"INSERT INTO [] values(1)", 3134},
      {"INSERT INTO [t values(1)", 3134},
      // Unknown verbs.
      {"UPDATE t SET a=1", 3129},
      {"", 3129},
      {"   ", 3129},
      {";", 3129},
      {"SELECTION * FROM t", 3129},
      // One statement per call.
      {"DELETE FROM t; DELETE FROM t", 3142},
      {"DELETE FROM t;;", 3142},
      {"SELECT * FROM t x", 3142},
      {"DROP TABLE t u", 3142},
      {"INSERT INTO t values(1) 2", 3142},
      // Definitions.
      {"CREATE TABLE t (a)", 3290},
      {"CREATE TABLE t (a LONG", 3290},
      {"CREATE TABLE t (a TEXT(x))", 3290},
      {"CREATE TABLE t (a LONG NOT)", 3290},
      {"CREATE TABLE t (PRIMARY KEY (a), a LONG)", 3290},
      {"CREATE TABLE t (a LONG, PRIMARY KEY (a), PRIMARY KEY (a))", 3290},
      {"ALTER TABLE t RENAME u", 3290},
      {"ALTER TABLE t ADD CONSTRAINT pk FOREIGN KEY (a)", 3290},
      {"DROP VIEW v", 3290},
      {"DROP INDEX ix", 3290},
      {"CREATE TABLE t (a NUMBERS)", 3259},
      {"CREATE TABLE t (a TEXT(0))", 3259},
      {"CREATE TABLE t (a TEXT(256))", 3259},
      // A name a definition makes may not hold a bracket.
      {"CREATE TABLE [a[b] (x LONG)", 3125},
      {"CREATE TABLE t ([x[y] LONG)", 3125},
      {"CREATE TABLE t (x LONG, CONSTRAINT [p[k] PRIMARY KEY (x))", 3125},
      {"CREATE INDEX [i[x] ON t (x)", 3125},
      {"ALTER TABLE t ADD CONSTRAINT [p[k] PRIMARY KEY (x)", 3125},
      {"CREATE TABLE [a]b] (x LONG)", 3290},
  };
  for (const auto& [text, number] : cases) {
    EXPECT_EQ(ParseError(text), number) << text;
  }
}

struct TypeCase {
  const char* name;
  FieldType type;
  std::int32_t size;
  const char* declared;
};

TEST(ResolveTypeNameTest, NamesAndSynonyms) {
  const TypeCase cases[] = {
      {"BIT", kBoolean, 1, "BIT"},           {"boolean", kBoolean, 1, "BIT"},
      {"YesNo", kBoolean, 1, "BIT"},         {"LOGICAL", kBoolean, 1, "BIT"},
      {"BYTE", kByte, 1, "BYTE"},            {"tinyint", kByte, 1, "BYTE"},
      {"INTEGER1", kByte, 1, "BYTE"},        {"SHORT", kInteger, 2, "SHORT"},
      {"SMALLINT", kInteger, 2, "SHORT"},    {"INTEGER2", kInteger, 2, "SHORT"},
      {"LONG", kLong, 4, "LONG"},            {"INTEGER", kLong, 4, "LONG"},
      {"int", kLong, 4, "LONG"},             {"COUNTER", kLong, 4, "LONG"},
      {"CURRENCY", kCurrency, 8, "CURRENCY"}, {"MONEY", kCurrency, 8, "CURRENCY"},
      {"SINGLE", kSingle, 4, "SINGLE"},      {"REAL", kSingle, 4, "SINGLE"},
      {"FLOAT4", kSingle, 4, "SINGLE"},      {"DOUBLE", kDouble, 8, "DOUBLE"},
      {"FLOAT", kDouble, 8, "DOUBLE"},       {"NUMBER", kDouble, 8, "DOUBLE"},
      {"DATETIME", kDate, 8, "DATETIME"},    {"date", kDate, 8, "DATETIME"},
      {"TIME", kDate, 8, "DATETIME"},        {"BINARY", kBinary, 255, "BINARY(255)"},
      {"VARBINARY", kBinary, 255, "BINARY(255)"}, {"TEXT", kText, 255, "TEXT(255)"},
      {"VARCHAR", kText, 255, "TEXT(255)"},  {"char", kText, 255, "TEXT(255)"},
      {"LONGBINARY", kLongBinary, 0, "LONGBINARY"}, {"OLEOBJECT", kLongBinary, 0, "LONGBINARY"},
      {"MEMO", kMemo, 0, "LONGTEXT"},        {"LONGTEXT", kMemo, 0, "LONGTEXT"},
      {"NOTE", kMemo, 0, "LONGTEXT"},        {"GUID", kGuid, 16, "GUID"},
      {"UNIQUEIDENTIFIER", kGuid, 16, "GUID"},
  };
  for (const TypeCase& entry : cases) {
    SCOPED_TRACE(entry.name);
    ColumnSpec column;
    ASSERT_TRUE(ResolveTypeName(entry.name, -1, column));
    EXPECT_EQ(column.type, entry.type);
    EXPECT_EQ(column.size, entry.size);
    EXPECT_EQ(column.declaredType, entry.declared);
    // What is kept in the file reads back as the same type and size.
    std::int32_t size = -1;
    EXPECT_EQ(FieldTypeOfDeclared(column.declaredType, size), entry.type);
    EXPECT_EQ(size, entry.size);
  }
  for (const char* unknown : {"", "BLOB", "VARCHAR2", "LONG INTEGER", "TEXTE", "BITS"}) {
    ColumnSpec column;
    EXPECT_FALSE(ResolveTypeName(unknown, -1, column)) << unknown;
  }
}

TEST(ResolveTypeNameTest, SizesApplyToTextAndBinaryOnly) {
  struct SizeCase {
    const char* name;
    std::int32_t given;
    bool accepted;
    std::int32_t size;
    const char* declared;
  };
  const SizeCase cases[] = {
      {"TEXT", 50, true, 50, "TEXT(50)"},     {"TEXT", 1, true, 1, "TEXT(1)"},
      {"TEXT", 255, true, 255, "TEXT(255)"},  {"TEXT", 0, false, 0, ""},
      {"TEXT", 256, false, 0, ""},            {"BINARY", 16, true, 16, "BINARY(16)"},
      {"BINARY", 300, false, 0, ""},          {"LONG", 9, true, 4, "LONG"},
      {"MEMO", 500, true, 0, "LONGTEXT"},     {"DOUBLE", 0, true, 8, "DOUBLE"},
  };
  for (const SizeCase& entry : cases) {
    SCOPED_TRACE(std::string(entry.name) + "(" + std::to_string(entry.given) + ")");
    ColumnSpec column;
    ASSERT_EQ(ResolveTypeName(entry.name, entry.given, column), entry.accepted);
    if (!entry.accepted) continue;
    EXPECT_EQ(column.size, entry.size);
    EXPECT_EQ(column.declaredType, entry.declared);
    std::int32_t size = -1;
    FieldTypeOfDeclared(column.declaredType, size);
    EXPECT_EQ(size, entry.size);
  }
}

TEST(FieldTypeOfDeclaredTest, ColumnsMadeByOtherTools) {
  const std::vector<std::pair<std::string, FieldType>> cases = {
      {"INTEGER", kLong},  {"BIGINT", kBigInt},        {"VARCHAR(20)", kText}, {"NVARCHAR(20)", kMemo},
      {"CLOB", kMemo},     {"", kLongBinary},        {"BLOB", kLongBinary},  {"DECIMAL(10,2)", kDouble},
      {"text(12)", kText}, {"TEXT (12)", kText},
  };
  for (const auto& [declared, type] : cases) {
    std::int32_t size = -1;
    EXPECT_EQ(FieldTypeOfDeclared(declared, size), type) << declared;
  }
}

}  // namespace

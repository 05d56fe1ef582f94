// SPDX-License-Identifier: Apache-2.0
// An Access (Jet) file as a source of the engine (internal): the reader of
// the file, the rows of a table read straight from it, and the working copy
// filled from it one whole table at a time. A Storage opened on an Access
// file holds one; the working copy is that Storage's SQLite database.
#ifndef DBENGINE_ACCESS_SOURCE_H_
#define DBENGINE_ACCESS_SOURCE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dbengine/dbengine.h"
#include "jet/jet.h"

namespace dbengine {

class Storage;

// A rule of an Access table that its stored rows break, left out of the
// working copy so that every row is read: a unique index or primary key
// (`index`) built as a plain index, a required field (`field`) holding a
// Null, or a text field (`field`) holding a text of `longest` characters,
// more than its size.
struct BrokenRule {
  std::string field;
  std::string index;
  std::size_t longest = 0;
  std::string description;  // in French, naming the field or index
};

// How each rule of an Access table that its rows break is told, in French:
// a required field holding a Null, a unique index or primary key (`primary`)
// refused with error `number` (3058: a Null, 3022: duplicates), a text field
// of `size` characters holding texts of up to `longest`.
std::string RequiredWithNullRule(const std::string& field);
std::string PlainIndexRule(const std::string& index, bool primary, int number);
std::string WidenedTextRule(const std::string& field, std::int32_t size, std::size_t longest);

// Where the rows of an Access table read straight from the file stand
// (AccessSource::OpenRows): the table, its definition as the working copy
// would give it, and how many rows were given.
struct JetRows {
  std::size_t position = 0;  // in the Access catalog
  TableDef def;
  std::vector<FieldType> types;  // of def's fields
  std::vector<std::string> requiredWithNull;  // fields required in the file whose rows hold a Null
  std::uint64_t generation = 0;  // the reader's table opening these rows were read under
  std::uint64_t given = 0;
};

class AccessSource {
 public:
  // Opens the Access file `path` (`password`: its database password); the
  // reader's refusals are thrown as EngineError with the same number and text.
  AccessSource(const std::string& path, std::string_view password);
  ~AccessSource();
  AccessSource(const AccessSource&) = delete;
  AccessSource& operator=(const AccessSource&) = delete;

  // The tables in the Access catalog's order.
  std::vector<std::string> TableNames() const;
  // The catalog position of table `name` (any letter case, an exact match
  // first); nothing when the file has no such table.
  std::optional<std::size_t> Find(std::string_view name) const;
  const std::string& TableName(std::size_t position) const;
  // The folder SQLite keeps the working copy in (named by its disk errors).
  const std::string& WorkingFolder() const { return workingFolder_; }

  // The definition of table `position` as the file stores it, read without
  // its rows.
  TableDef Definition(std::size_t position);
  // The rows of table `position` straight from the file, with its
  // definition as the working copy would give it (Storage::OpenJetRows).
  JetRows OpenRows(std::size_t position, bool readFirst);
  // The next row of `rows` into `row`; false after the last.
  bool NextRow(JetRows& rows, std::vector<Value>& row);

  // Copies table `position` whole, its rows then its indexes, into the
  // working copy `copy` (inside the caller's savepoint), and notes the rules
  // its rows break.
  void CopyTableInto(std::size_t position, Storage& copy);
  // The rules noted when table `name` (as the catalog spells it) was
  // copied; none before.
  std::vector<BrokenRule> BrokenRules(const std::string& name) const;
  // Whether a copy of a table into the working copy was ever begun: until
  // then the working copy holds no table to look up.
  bool AnyCopyBegun() const { return copyBegun_; }

 private:
  // The reader's OpenTable, counted: rows read straight from the file start
  // again where they stood when another use has opened a table since.
  const jet::TableDef& OpenTable(std::size_t position);

  std::string path_;
  std::unique_ptr<jet::Reader> reader_;
  std::string workingFolder_;
  std::unordered_map<std::string, std::vector<BrokenRule>> brokenRules_;  // by Access table name
  std::uint64_t generation_ = 0;  // tables opened in the reader so far
  bool copyBegun_ = false;
};

}  // namespace dbengine

#endif  // DBENGINE_ACCESS_SOURCE_H_

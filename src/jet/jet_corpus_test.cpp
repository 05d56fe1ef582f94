// SPDX-License-Identifier: Apache-2.0
// Tests of the Access reader on a corpus of 22 small files written by Access
// (tests/data/jet/corpus, described in its README): each file's tables,
// fields, indexes and row counts against tests/data/jet/corpus.schema, the
// facts each file was made for, and damaged copies of every file, which must
// read whole or fail with 3049 or 3343 (3031 when the damage makes the header
// announce an encryption).
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/dbengine.h"
#include "jet/jet.h"

namespace {

using namespace dbengine;
namespace fs = std::filesystem;

const fs::path kData = JET_FIXTURES;
const fs::path kCorpus = kData / "corpus";

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(kCorpus)) {
    if (entry.path().extension() == ".mdb") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A file's tables as `vidange schema` prints them, each followed by its row count.
std::string Describe(const std::string& path) {
  std::ostringstream out;
  Database database;
  database.Open(path);
  for (const std::string& name : database.TableNames()) {
    const TableDef def = database.TableDefs(name);
    out << "table\t" << name << "\n";
    for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
      const FieldDef& field = def.Fields(position);
      out << "field\t" << name << "\t" << position << "\t" << field.name << "\t" << field.type << "\t" << field.size
          << (field.required ? "\trequired" : "") << "\n";
    }
    for (std::int16_t position = 0; position < def.IndexCount(); ++position) {
      const IndexDef& index = def.Indexes(position);
      std::string fields;
      for (const std::string& field : index.fields) fields += (fields.empty() ? "" : ",") + field;
      out << "index\t" << name << "\t" << index.name << "\t" << (index.primary ? "primary" : "-") << "\t"
          << (index.unique ? "unique" : "-") << "\t" << fields << "\n";
    }
    std::size_t rows = 0;
    for (Recordset set = database.OpenRecordset("SELECT * FROM [" + name + "]"); !set.IsEOF(); set.MoveNext()) ++rows;
    out << "rows\t" << name << "\t" << rows << "\n";
  }
  return out.str();
}

// The expected descriptions, by file: sections of corpus.schema opened by "file\tNAME".
std::map<std::string, std::string> ExpectedDescriptions() {
  std::map<std::string, std::string> expected;
  std::ifstream in(kData / "corpus.schema");
  std::string line;
  std::string* section = nullptr;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("file\t", 0) == 0) {
      section = &expected[line.substr(5)];
    } else if (section != nullptr) {
      *section += line + "\n";
    }
  }
  return expected;
}

TEST(JetCorpusTest, EveryFileHasItsTablesFieldsIndexesAndRowCounts) {
  const std::map<std::string, std::string> expected = ExpectedDescriptions();
  const std::vector<std::string> files = CorpusFiles();
  ASSERT_EQ(files.size(), 22u);
  ASSERT_EQ(expected.size(), files.size());
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    ASSERT_EQ(expected.count(file), 1u);
    EXPECT_EQ(Describe((kCorpus / file).string()), expected.at(file));
  }
}

// The rows of a SELECT, each as its transfer line.
std::vector<std::string> Lines(const std::string& file, const std::string& select) {
  Database database;
  database.Open((kCorpus / file).string());
  std::vector<std::string> lines;
  for (Recordset rows = database.OpenRecordset(select); !rows.IsEOF(); rows.MoveNext()) {
    std::string line;
    for (std::int16_t position = 0; position < rows.FieldCount(); ++position) {
      if (position > 0) line.push_back('|');
      AppendValueText(rows.FieldValue(position), line);
    }
    lines.push_back(line);
  }
  return lines;
}

TEST(JetCorpusTest, RowsAreThoseAccessShows) {
  struct Case {
    std::string file, select;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      // Decimal(18, 0) columns read as numbers, not scaled by the precision.
      {"V2000_fixedNumericTestV2000.mdb", "SELECT * FROM test", {"some data|1|0|0|4|-1|1"}},
      // Deleted rows are not read; a deleted column is not a field.
      {"V1997_delTestV1997.mdb", "SELECT * FROM [Table]", {"z|y", "v|u"}},
      {"V2000_delTestV2000.mdb", "SELECT * FROM [Table]", {"z|y", "v|u"}},
      {"V2000_delColTestV2000.mdb", "SELECT * FROM Table1", {"0|2|foo|foo2", "3|5|bar|bar2"}},
      // Rows 3 and 5 were moved to another page and keep their place.
      {"V1997_overflowTestV1997.mdb", "SELECT * FROM Table1",
       {"row1col1||||||||", "row2col1|row2col3|||||||", "|row3col3||||||row3col9|", "row4col1|row4col2|||||||",
        "|row5col2|||||||", "|row6col2|row6col3||||||", "row7col1|||||row7col7|||"}},
      {"V2000_overflowTestV2000.mdb", "SELECT * FROM Table1",
       {"row1col1||||||||", "row2col1|row2col3|||||||", "|row3col3||||||row3col9|", "row4col1|row4col2|||||||",
        "|row5col2|||||||", "|row6col2|row6col3||||||", "row7col1|||||row7col7|||"}},
      // Jet 3 bytes Windows-1252 leaves undefined are the control characters of the same number.
      {"V1997_testIndexCodesV1997.mdb", "SELECT * FROM Table1 WHERE name='row129'", {"row129|AA\u0081AA"}},
      {"V1997_testIndexCodesV1997.mdb", "SELECT * FROM Table1 WHERE name='row141'", {"row141|AA\u008DAA"}},
      {"V1997_testIndexCodesV1997.mdb", "SELECT * FROM Table1 WHERE name='row143'", {"row143|AA\u008FAA"}},
      {"V1997_testIndexCodesV1997.mdb", "SELECT * FROM Table1 WHERE name='row144'", {"row144|AA\u0090AA"}},
      {"V1997_testIndexCodesV1997.mdb", "SELECT * FROM Table1 WHERE name='row157'", {"row157|AA\u009DAA"}},
      // Every basic type of Jet 3.
      {"V1997_testV1997.mdb", "SELECT * FROM Table1 WHERE A='abcdefg'",
       {"abcdefg|hijklmnop|2|222|333333333|444,555|21/09/1974|3,5|Vrai"}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.file + ": " + test.select);
    EXPECT_EQ(Lines(test.file, test.select), test.lines);
  }
}

TEST(JetCorpusTest, LongValuesInTheRowOnOnePageAndOnChainsOfPages) {
  for (const std::string file : {"V1997_test2V1997.mdb", "V2000_test2V2000.mdb"}) {
    SCOPED_TRACE(file);
    Database database;
    database.Open((kCorpus / file).string());
    Recordset rows = database.OpenRecordset("SELECT * FROM MSP_PROJECTS");
    ASSERT_FALSE(rows.IsEOF());
    const TableDef def = database.TableDefs("MSP_PROJECTS");
    const int ole = def.FieldPosition("RESERVED_BINARY_DATA");
    ASSERT_GE(ole, 0);
    EXPECT_EQ(rows.FieldValue(static_cast<std::int16_t>(ole)).text.size(), 22970u);
    std::size_t longest = 0;
    for (std::int16_t position = 0; position < rows.FieldCount(); ++position) {
      if (def.Fields(position).type == kMemo) {
        const std::string& text = rows.FieldValue(position).text;
        std::size_t characters = 0;
        for (const char byte : text) characters += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
        longest = std::max(longest, characters);
      }
    }
    EXPECT_EQ(longest, 348u);
  }
}

TEST(JetCorpusTest, AnEmptyTextIsNotNull) {
  // The first row of Table1 keeps three variable columns, the third (field
  // data3) of length 0 with its null bit clear; set, the same bytes are an
  // empty text (the row's null mask is the last byte of page 27).
  std::string bytes = ReadBytes(kCorpus / "V2000_overflowTestV2000.mdb");
  ASSERT_EQ(bytes[27 * 4096 + 4095], 0x03);
  std::string pattern = (fs::temp_directory_path() / "dbengine-jet-empty-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path intact = fs::path(pattern) / "intact.mdb";
  const fs::path empty = fs::path(pattern) / "empty.mdb";
  WriteBytes(intact, bytes);
  bytes[27 * 4096 + 4095] = 0x07;
  WriteBytes(empty, bytes);
  for (const auto& [path, isNull] : {std::pair{intact, true}, std::pair{empty, false}}) {
    Database database;
    database.Open(path.string());
    Recordset rows = database.OpenRecordset("SELECT * FROM Table1");
    ASSERT_FALSE(rows.IsEOF());
    ASSERT_EQ(rows.Field(1).name, "data3");
    EXPECT_EQ(rows.FieldValue(0).text, "row1col1");
    EXPECT_EQ(rows.FieldValue(1).isNull, isNull) << path;
    EXPECT_EQ(rows.FieldValue(1).text, "");
    EXPECT_TRUE(rows.FieldValue(2).isNull);
  }
  fs::remove_all(pattern);
}

TEST(JetCorpusTest, AFieldWithANullInARowIsNotRequired) {
  // Every field of users is required; with the null bit of c_user_name
  // cleared in the first row (its mask is the two last bytes of page 23),
  // that field holds a Null and reads as not required, the others still are.
  std::string bytes = ReadBytes(kCorpus / "V2000_fixedTextTestV2000.mdb");
  ASSERT_EQ(static_cast<unsigned char>(bytes[98302]), 0xFF);
  bytes[98302] = static_cast<char>(0xEF);
  std::string pattern = (fs::temp_directory_path() / "dbengine-jet-required-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path path = fs::path(pattern) / "null.mdb";
  WriteBytes(path, bytes);
  {
    Database database;
    database.Open(path.string());
    const TableDef def = database.TableDefs("users");
    for (std::int16_t position = 0; position < def.FieldCount(); ++position) {
      EXPECT_EQ(def.Fields(position).required, def.Fields(position).name != "c_user_name") << def.Fields(position).name;
    }
    Recordset rows = database.OpenRecordset("SELECT * FROM users");
    ASSERT_FALSE(rows.IsEOF());
    EXPECT_TRUE(rows.FieldValue(static_cast<std::int16_t>(def.FieldPosition("c_user_name"))).isNull);
  }
  fs::remove_all(pattern);
}

TEST(JetCorpusTest, DecimalsTakeTheirScaleFromTheColumn) {
  // Columns col2 and col6 of the file are Decimal(18, 0) holding 1 and -1;
  // given a scale of 3 and 2 in their definitions (page 26), they read 0,001 and -0,01,
  // exact Decimals.
  std::string bytes = ReadBytes(kCorpus / "V2000_fixedNumericTestV2000.mdb");
  ASSERT_EQ(bytes[106595], 18);
  ASSERT_EQ(bytes[106596], 0);
  bytes[106596] = 3;
  bytes[106696] = 2;
  std::string pattern = (fs::temp_directory_path() / "dbengine-jet-decimal-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path path = fs::path(pattern) / "scaled.mdb";
  WriteBytes(path, bytes);
  {
    Database database;
    database.Open(path.string());
    Recordset rows = database.OpenRecordset("SELECT * FROM test");
    ASSERT_FALSE(rows.IsEOF());
    EXPECT_EQ(ValueToText(rows.FieldValue(1)), "0,001");
    EXPECT_EQ(ValueToText(rows.FieldValue(5)), "-0,01");
    EXPECT_EQ(rows.Field(1).type, kDecimal);
  }
  fs::remove_all(pattern);
}

// A database password with letters beyond ASCII: Jet 3 keeps it in the file's code page
// (Windows-1252), Jet 4 in UTF-16; given in UTF-8, it is converted before the comparison. The
// header area is masked with a fixed RC4 key (and in Jet 4 further with the creation date), so
// that in a file without password the bytes from 0x42 are the mask itself: XORing the password
// in sets it.
TEST(JetCorpusTest, PasswordsBeyondAsciiInTheFilesOwnForm) {
  std::string pattern = (fs::temp_directory_path() / "dbengine-jet-password-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  auto withPassword = [&](const std::string& file, const std::string& stored) {
    std::string bytes = ReadBytes(kCorpus / file);
    for (std::size_t at = 0; at < stored.size(); ++at) bytes[0x42 + at] ^= stored[at];
    const fs::path path = fs::path(pattern) / file;
    WriteBytes(path, bytes);
    return path.string();
  };
  const std::string jet3 = withPassword("V1997_testV1997.mdb", "\xE9t\xE9\x80");              // "été€" in 1252
  const std::string jet4 = withPassword("V2000_test2V2000.mdb", std::string("\xE9\0t\0\xE9\0\xAC\x20", 8));  // UTF-16
  struct Case {
    std::string path, connect;
    std::string expected;  // "read" or the error's number
  };
  const std::vector<Case> cases = {
      {jet3, ";PWD=été€", "read"}, {jet3, ";PWD=ete€", "3031"}, {jet3, ";PWD=ÉTÉ€", "3031"},
      {jet3, ";PWD=\xE9t\xE9\x80", "3031"}, {jet3, "", "3031"},
      {jet4, ";PWD=été€", "read"}, {jet4, ";PWD=été", "3031"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.path + " " + test.connect);
    try {
      Database database;
      database.Open(test.path, test.connect);
      EXPECT_FALSE(database.TableNames().empty());
      EXPECT_EQ(test.expected, "read");
    } catch (const EngineError& error) {
      EXPECT_EQ(std::to_string(error.Number()), test.expected) << error.Description();
    }
  }
  fs::remove_all(pattern);
}

class JetDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dbengine-jet-damage-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }

  // Reads every table of `bytes` through the reader: the definitions and
  // every value as text, or the number of the error that stopped it.
  std::string ReadAll(const std::string& bytes) {
    const fs::path path = folder_ / "damaged.mdb";
    WriteBytes(path, bytes);
    std::string all;
    try {
      jet::Reader reader(path.string());
      std::vector<core::Value> row;
      for (std::size_t table = 0; table < reader.TableCount(); ++table) {
        const jet::TableDef& def = reader.OpenTable(table);
        all += def.name + "\n";
        for (const jet::Field& field : def.fields) all += field.name + " " + std::to_string(field.type) + "\n";
        for (const core::IndexDef& index : def.indexes) all += index.name + "\n";
        while (reader.NextRow(row)) {
          for (const Value& value : row) {
            AppendValueText(value, all);
            all += value.isNull ? "\x01" : "\x02";
          }
          all += "\n";
        }
      }
    } catch (const jet::Error& error) {
      return "EngineError " + std::to_string(error.Number());
    }
    return all;
  }

  fs::path folder_;
};

bool IsRefusal(const std::string& outcome) {
  return outcome == "EngineError 3049" || outcome == "EngineError 3343";
}

TEST_F(JetDamageTest, TruncatedAtEveryPageBoundaryReadsWholeOrFails) {
  std::size_t refused = 0;
  std::size_t cases = 0;
  std::vector<fs::path> files;
  for (const std::string& file : CorpusFiles()) files.push_back(kCorpus / file);
  // Two Access 2007 and 2010 files: complex columns, calculated ones.
  files.push_back(kData / "ace" / "jackcess_V2007_complexDataTestV2007.accdb");
  files.push_back(kData / "ace" / "jackcess_V2010_calcFieldTestV2010.accdb");
  for (const fs::path& path : files) {
    const std::string file = path.filename().string();
    const std::string bytes = ReadBytes(path);
    const std::size_t pageSize = bytes[0x14] == 0 ? 2048 : 4096;
    const std::string whole = ReadAll(bytes);
    ASSERT_FALSE(IsRefusal(whole)) << file;
    for (std::size_t size = 0; size < bytes.size(); size += pageSize) {
      SCOPED_TRACE(file + " cut at " + std::to_string(size));
      const std::string outcome = ReadAll(bytes.substr(0, size));
      if (IsRefusal(outcome)) {
        ++refused;
      } else {
        EXPECT_EQ(outcome, whole) << "some of the data read as success";
      }
      ++cases;
    }
    // Cut inside a page: never a whole number of pages.
    EXPECT_EQ(ReadAll(bytes.substr(0, bytes.size() - 1)), "EngineError 3049") << file;
    EXPECT_EQ(ReadAll(bytes + "x"), "EngineError 3049") << file;
  }
  EXPECT_GT(cases, 1000u);
  EXPECT_GT(refused, cases / 2);
}

TEST_F(JetDamageTest, FlippedBytesReadOrFailWithANumber) {
  // Offsets in each page where the format keeps numbers the reader follows,
  // and a fixed spread of offsets over the whole file.
  const std::vector<std::size_t> inPage = {0, 1, 2, 4, 5, 8, 9, 10, 12, 13, 14, 16, 17, 20, 24, 28, 43, 45,
                                           47, 51, 55, 59, 63, 70, 80, 100};
  std::size_t read = 0;
  std::size_t refused = 0;
  for (const std::string& file : CorpusFiles()) {
    const std::string bytes = ReadBytes(kCorpus / file);
    const std::size_t pageSize = bytes[0x14] == 0 ? 2048 : 4096;
    std::vector<std::size_t> offsets;
    for (std::size_t page = 1; page * pageSize < bytes.size() && page < 6; ++page) {
      for (const std::size_t offset : inPage) offsets.push_back(page * pageSize + offset);
      offsets.push_back(page * pageSize + pageSize - 2);
    }
    for (std::uint64_t at = 7919; offsets.size() < 200; at = at * 6364136223846793005u + 1442695040888963407u) {
      offsets.push_back(static_cast<std::size_t>((at >> 33) % bytes.size()));
    }
    for (std::size_t index = 0; index < offsets.size(); ++index) {
      // Every bit of the byte, or only its top one (a small number made large).
      const unsigned char mask = index % 2 == 0 ? 0xFF : 0x80;
      SCOPED_TRACE(file + " byte " + std::to_string(offsets[index]) + " ^ " + std::to_string(mask));
      std::string damaged = bytes;
      damaged[offsets[index]] = static_cast<char>(damaged[offsets[index]] ^ mask);
      const std::string outcome = ReadAll(damaged);
      if (outcome.rfind("EngineError ", 0) == 0) {
        EXPECT_TRUE(IsRefusal(outcome) || outcome == "EngineError 3031") << outcome;
        ++refused;
      } else {
        ++read;
      }
    }
  }
  EXPECT_GT(read, 0u);
  EXPECT_GT(refused, 0u);
}

// Damage that leaves every page readable and would otherwise read as less
// than is stored: Table2 of the file keeps its 3 rows on page 60, listed by
// the bit of byte 126919 in its map; the catalog's rows are on page 14; the
// number of its column "data" (1 of the 2 its rows hold) is at byte 110709.
TEST_F(JetDamageTest, PagesOrColumnsThatWouldLoseRowsOrValuesAreRefused) {
  const std::string bytes = ReadBytes(kCorpus / "V2000_indexTestV2000.mdb");
  constexpr std::size_t kPage = 4096;
  ASSERT_EQ(bytes[126919], 0x10);
  ASSERT_EQ(bytes[110709], 1);
  ASSERT_EQ(bytes[60 * kPage + 4], 27);
  const std::string whole = ReadAll(bytes);
  ASSERT_NE(whole.find("foo2"), std::string::npos);
  const std::vector<std::pair<std::string, std::function<void(std::string&)>>> cases = {
      {"catalog page swapped with a table's", [](std::string& file) {
         const std::string catalog = file.substr(14 * kPage, kPage);
         file.replace(14 * kPage, kPage, file, 60 * kPage, kPage);
         file.replace(60 * kPage, kPage, catalog);
       }},
      {"catalog page of another type", [](std::string& file) { file[14 * kPage] = 0x04; }},
      {"catalog page of another owner", [](std::string& file) { file[14 * kPage + 4] = 3; }},
      {"table page zeroed", [](std::string& file) { file.replace(60 * kPage, kPage, kPage, '\0'); }},
      {"table page cleared from its map", [](std::string& file) { file[126919] = 0; }},
      {"column number out of its table", [](std::string& file) { file[110709] = 2; }},
  };
  for (const auto& [what, damage] : cases) {
    std::string damaged = bytes;
    damage(damaged);
    EXPECT_EQ(ReadAll(damaged), "EngineError 3049") << what;
  }
}

TEST_F(JetDamageTest, HeaderRefusalsSayWhy) {
  const std::string bytes = ReadBytes(kCorpus / "V2000_delTestV2000.mdb");
  auto outcome = [&](const std::string& damaged) {
    const fs::path path = folder_ / "header.mdb";
    WriteBytes(path, damaged);
    try {
      Database database;
      database.Open(path.string());
    } catch (const EngineError& error) {
      return std::to_string(error.Number()) + " " + error.Description();
    }
    return std::string("opened");
  };
  const std::string path = (folder_ / "header.mdb").string();
  // Access 2007 to 2019 share the Jet 4 page format: versions 2 to 6 read, 7 is unknown.
  std::string accdb = bytes;
  accdb.replace(4, 15, "Standard ACE DB");
  accdb[0x14] = 6;
  EXPECT_EQ(outcome(accdb), "opened");
  accdb[0x14] = 7;
  EXPECT_EQ(outcome(accdb), "3343 Format de base de données « " + path + " » non reconnu : version 7 d'Access inconnue.");
  // The header area is encoded with a stream cipher: flipping a stored bit flips the read one.
  // An encoding key in the header says the pages are encoded with it: pages
  // stored in clear then decode to nothing a reader can follow.
  std::string encrypted = bytes;
  encrypted[0x3E] = static_cast<char>(encrypted[0x3E] ^ 0x01);
  EXPECT_EQ(outcome(encrypted).substr(0, 5), "3049 ");
  std::string password = bytes;
  password[0x42] = static_cast<char>(password[0x42] ^ 0x41);
  EXPECT_EQ(outcome(password).substr(0, 5), "3031 ");
  EXPECT_EQ(outcome(bytes.substr(0, 3 * 4096)).substr(0, 5), "3049 ");
  EXPECT_EQ(outcome(bytes.substr(0, 2 * 4096)).substr(0, 5), "3343 ");
}

}  // namespace

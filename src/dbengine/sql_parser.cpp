// SPDX-License-Identifier: Apache-2.0
// Tokenizer and recursive-descent parser of the engine's statement dialect.
// The parser only fills a Statement; the storage layer executes it.
#include "sql_parser.h"

#include <algorithm>
#include <cctype>

#include "dbengine/dbengine.h"
#include "dbengine/error.h"
#include "errors.h"

namespace dbengine {
namespace {

enum class TokenKind {
  kEnd,
  kWord,          // bare name or keyword
  kBracketName,   // [name]
  kText,          // 'text'
  kNumber,        // digits [. digits] [E [+-] digits]
  kPunct,         // one of ( ) , = * ; + -
  kBadText,       // quote never closed
  kBadBracket,    // bracket never closed
  kBadChar,       // anything else
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string_view text;  // the token as written (for kText, with its quotes)
  std::size_t offset = 0;
};

// Character classes in ASCII terms, whatever the process's locale.
bool IsBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool IsWordByte(unsigned char c) {
  const unsigned char lower = c | 0x20;
  return IsDigit(c) || (lower >= 'a' && lower <= 'z') || c == '_' || c >= 0x80;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  Token Next() {
    while (pos_ < text_.size() && IsBlank(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    Token token;
    token.offset = pos_;
    if (pos_ >= text_.size()) return token;
    const unsigned char c = static_cast<unsigned char>(text_[pos_]);
    std::size_t end = pos_ + 1;
    if (c == '\'') {
      token.kind = TokenKind::kBadText;
      // Texts are most of an import's statements: quotes are found with find.
      while (end < text_.size()) {
        end = text_.find('\'', end);
        if (end == std::string_view::npos) {
          end = text_.size();
          break;
        }
        if (end + 1 < text_.size() && text_[end + 1] == '\'') {
          end += 2;
          continue;
        }
        ++end;
        token.kind = TokenKind::kText;
        break;
      }
    } else if (c == '[') {
      token.kind = TokenKind::kBadBracket;
      while (end < text_.size() && text_[end] != ']') ++end;
      if (end < text_.size()) {
        ++end;
        token.kind = TokenKind::kBracketName;
      }
    } else if (IsDigit(c) || (c == '.' && pos_ + 1 < text_.size() &&
                                   IsDigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
      token.kind = TokenKind::kNumber;
      end = ScanNumber(pos_);
    } else if (IsWordByte(c)) {
      token.kind = TokenKind::kWord;
      while (end < text_.size() && IsWordByte(static_cast<unsigned char>(text_[end]))) ++end;
    } else if (std::string_view("(),=*;+-").find(static_cast<char>(c)) != std::string_view::npos) {
      token.kind = TokenKind::kPunct;
    } else {
      token.kind = TokenKind::kBadChar;
    }
    token.text = text_.substr(pos_, end - pos_);
    pos_ = end;
    return token;
  }

  std::string_view Rest(std::size_t offset) const { return text_.substr(std::min(offset, text_.size())); }

 private:
  std::size_t ScanNumber(std::size_t at) const {
    std::size_t end = at;
    auto digits = [&] {
      while (end < text_.size() && IsDigit(static_cast<unsigned char>(text_[end]))) ++end;
    };
    digits();
    if (end < text_.size() && text_[end] == '.') {
      ++end;
      digits();
    }
    if (end < text_.size() && (text_[end] == 'e' || text_[end] == 'E')) {
      std::size_t mark = end + 1;
      if (mark < text_.size() && (text_[mark] == '+' || text_[mark] == '-')) ++mark;
      if (mark < text_.size() && IsDigit(static_cast<unsigned char>(text_[mark]))) {
        end = mark;
        digits();
      }
    }
    // Letters glued to a number ("12abc") make one malformed token.
    while (end < text_.size() && IsWordByte(static_cast<unsigned char>(text_[end]))) ++end;
    return end;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::string Near(std::string_view rest) {
  std::string near(rest.substr(0, 40));
  return near;
}

class Parser {
 public:
  Parser(std::string_view text, Statement& out) : tokens_(text), out_(out) { Advance(); }

  void Parse() {
    if (IsWord("SELECT")) {
      ParseSelect();
    } else if (IsWord("DELETE")) {
      ParseDelete();
    } else if (IsWord("INSERT")) {
      ParseInsert();
    } else if (IsWord("CREATE")) {
      ParseCreate();
    } else if (IsWord("ALTER")) {
      ParseAlter();
    } else if (IsWord("DROP")) {
      ParseDrop();
    } else {
      throw errors::UnknownVerb();
    }
    if (IsPunct(';')) Advance();
    if (current_.kind != TokenKind::kEnd) {
      throw errors::TextAfterEnd(Near(tokens_.Rest(current_.offset)));
    }
  }

 private:
  void Advance() { current_ = tokens_.Next(); }
  bool IsWord(std::string_view word) const {
    return current_.kind == TokenKind::kWord && EqualsNoCase(current_.text, word);
  }
  bool IsPunct(char c) const {
    return current_.kind == TokenKind::kPunct && current_.text[0] == c;
  }

  [[noreturn]] void Fail(std::int32_t number, std::string_view what) const {
    std::string message(what);
    if (current_.kind == TokenKind::kEnd) {
      message += " (fin de l'instruction atteinte).";
    } else {
      message += " près de « " + Near(tokens_.Rest(current_.offset)) + " ».";
    }
    throw EngineError(number, message);
  }

  void ExpectWord(std::string_view word, std::int32_t number, std::string_view what) {
    if (!IsWord(word)) Fail(number, what);
    Advance();
  }
  void ExpectPunct(char c, std::int32_t number, std::string_view what) {
    if (!IsPunct(c)) Fail(number, what);
    Advance();
  }

  std::string Name(std::int32_t number, std::string_view what) {
    std::string name;
    if (current_.kind == TokenKind::kBracketName) {
      name.assign(current_.text.substr(1, current_.text.size() - 2));
      if (name.empty()) Fail(number, what);
    } else if (current_.kind == TokenKind::kWord) {
      name.assign(current_.text);
    } else {
      Fail(number, what);
    }
    Advance();
    return name;
  }

  void NameList(std::vector<std::string>& names, std::int32_t number, std::string_view what) {
    ExpectPunct('(', number, what);
    names.push_back(Name(number, what));
    while (IsPunct(',')) {
      Advance();
      names.push_back(Name(number, what));
    }
    ExpectPunct(')', number, what);
  }

  // One value of a VALUES list or of a WHERE condition. Whatever does not
  // form exactly one literal is a syntax error in the expression (3075).
  void ParseValue(Literal& literal, bool inValueList) {
    const std::size_t start = current_.offset;
    literal.text.clear();  // a reused literal keeps nothing of the previous statement
    auto bad = [&]() {
      throw errors::ExpressionSyntax(Near(tokens_.Rest(start)));
    };
    if (current_.kind == TokenKind::kText) {
      literal.kind = Literal::kText;
      const std::string_view body = current_.text.substr(1, current_.text.size() - 2);
      // Each doubled quote stands for one: copied up to its first quote.
      for (std::size_t at = 0; at < body.size();) {
        const std::size_t quote = body.find('\'', at);
        if (quote == std::string_view::npos) {
          literal.text.append(body.substr(at));
          break;
        }
        literal.text.append(body.substr(at, quote + 1 - at));
        at = quote + 2;
      }
      Advance();
    } else if (current_.kind == TokenKind::kNumber || IsPunct('-') || IsPunct('+')) {
      literal.kind = Literal::kNumber;
      if (IsPunct('-') || IsPunct('+')) {
        if (current_.text[0] == '-') literal.text.push_back('-');
        Advance();
        if (current_.kind != TokenKind::kNumber) bad();
      }
      const std::string_view digits = current_.text;
      // A number token swallows glued letters; only a well-formed number passes.
      std::size_t at = 0;
      bool any = false;
      while (at < digits.size() && IsDigit(static_cast<unsigned char>(digits[at]))) ++at, any = true;
      if (at < digits.size() && digits[at] == '.') {
        ++at;
        while (at < digits.size() && IsDigit(static_cast<unsigned char>(digits[at]))) ++at, any = true;
      }
      if (any && at < digits.size() && (digits[at] == 'e' || digits[at] == 'E')) {
        std::size_t mark = at + 1;
        if (mark < digits.size() && (digits[mark] == '+' || digits[mark] == '-')) ++mark;
        if (mark < digits.size() && IsDigit(static_cast<unsigned char>(digits[mark]))) {
          at = mark;
          while (at < digits.size() && IsDigit(static_cast<unsigned char>(digits[at]))) ++at;
        }
      }
      if (!any || at != digits.size()) bad();
      literal.text.append(digits);
      Advance();
    } else if (IsWord("NULL")) {
      literal.kind = Literal::kNull;
      Advance();
    } else if (IsWord("TRUE") || IsWord("YES") || IsWord("ON")) {
      literal.kind = Literal::kBoolean;
      literal.truth = true;
      Advance();
    } else if (IsWord("FALSE") || IsWord("NO") || IsWord("OFF")) {
      literal.kind = Literal::kBoolean;
      literal.truth = false;
      Advance();
    } else {
      bad();
    }
    // After one value only what closes it may follow: a second token means a
    // missing operator.
    const bool followerOk =
        inValueList ? (IsPunct(',') || IsPunct(')'))
                    : (IsPunct(';') || IsWord("AND") || IsWord("ORDER") || current_.kind == TokenKind::kEnd);
    if (!followerOk) bad();
  }

  void ParseWhere() {
    if (!IsWord("WHERE")) return;
    Advance();
    do {
      Condition& condition = out_.where.emplace_back();
      condition.column = Name(3075, "Erreur de syntaxe dans la clause WHERE");
      if (!IsPunct('=')) {
        throw errors::MissingOperator(Near(tokens_.Rest(current_.offset)));
      }
      Advance();
      ParseValue(condition.value, false);
      if (!IsWord("AND")) break;
      Advance();
    } while (true);
  }

  void ParseSelect() {
    out_.kind = Statement::kSelect;
    Advance();
    ExpectPunct('*', 3141, "L'instruction SELECT n'accepte que « * » comme liste de champs");
    ExpectWord("FROM", 3141, "Mot FROM attendu dans l'instruction SELECT");
    out_.table = Name(3131, "Erreur de syntaxe dans la clause FROM");
    ParseWhere();
    if (IsWord("ORDER")) {
      constexpr std::string_view kWhat = "Erreur de syntaxe dans la clause ORDER BY";
      Advance();
      ExpectWord("BY", 3138, kWhat);
      out_.columns.push_back(Name(3138, kWhat));
      while (IsPunct(',')) {
        Advance();
        out_.columns.push_back(Name(3138, kWhat));
      }
    }
  }

  void ParseDelete() {
    out_.kind = Statement::kDelete;
    Advance();
    if (IsPunct('*')) Advance();
    ExpectWord("FROM", 3128, "Mot FROM attendu dans l'instruction DELETE");
    out_.table = Name(3128, "Nom de table attendu dans l'instruction DELETE");
    ParseWhere();
  }

  void ParseInsert() {
    out_.kind = Statement::kInsert;
    constexpr std::string_view kWhat = "Erreur de syntaxe dans l'instruction INSERT INTO";
    Advance();
    ExpectWord("INTO", 3134, kWhat);
    out_.table = Name(3134, kWhat);
    if (IsPunct('(')) NameList(out_.columns, 3134, kWhat);
    ExpectWord("VALUES", 3134, kWhat);
    ExpectPunct('(', 3134, kWhat);
    std::size_t count = 0;
    while (true) {
      if (count == out_.values.size()) out_.values.emplace_back();
      ParseValue(out_.values[count++], true);
      if (IsPunct(',')) {
        Advance();
        continue;
      }
      if (IsPunct(')')) break;
      Fail(3134, kWhat);
    }
    out_.values.resize(count);
    Advance();
  }

  void ParseConstraint(std::string_view what) {
    std::string name;
    if (IsWord("CONSTRAINT")) {
      Advance();
      name = Name(3290, what);
    }
    if (IsWord("PRIMARY")) {
      Advance();
      ExpectWord("KEY", 3290, what);
      out_.primary = true;
      out_.unique = true;
      if (name.empty()) name = "PrimaryKey";
    } else if (IsWord("UNIQUE")) {
      Advance();
      out_.unique = true;
      if (name.empty()) name = "Index";
    } else {
      Fail(3290, what);
    }
    out_.indexName = name;
    out_.hasConstraint = true;
    NameList(out_.indexColumns, 3290, what);
  }

  void ParseCreate() {
    Advance();
    if (IsWord("TABLE")) {
      constexpr std::string_view kWhat = "Erreur de syntaxe dans l'instruction CREATE TABLE";
      out_.kind = Statement::kCreateTable;
      Advance();
      out_.table = Name(3290, kWhat);
      ExpectPunct('(', 3290, kWhat);
      while (true) {
        if (IsWord("CONSTRAINT") || IsWord("PRIMARY") || IsWord("UNIQUE")) {
          if (out_.hasConstraint) Fail(3290, kWhat);
          ParseConstraint(kWhat);
        } else {
          if (out_.hasConstraint) Fail(3290, kWhat);  // constraint comes last
          ColumnSpec spec;
          spec.name = Name(3290, kWhat);
          if (current_.kind != TokenKind::kWord) Fail(3290, kWhat);
          const std::string_view typeName = current_.text;
          Advance();
          std::int32_t size = -1;
          if (IsPunct('(')) {
            Advance();
            if (current_.kind != TokenKind::kNumber || current_.text.size() > 6 ||
                current_.text.find_first_not_of("0123456789") != std::string_view::npos) {
              Fail(3290, kWhat);
            }
            size = std::stoi(std::string(current_.text));
            Advance();
            ExpectPunct(')', 3290, kWhat);
          }
          if (!ResolveTypeName(typeName, size, spec)) {
            throw errors::InvalidFieldType(typeName);
          }
          if (IsWord("NOT")) {
            Advance();
            ExpectWord("NULL", 3290, kWhat);
            spec.required = true;
          }
          out_.columnSpecs.push_back(std::move(spec));
        }
        if (IsPunct(',')) {
          Advance();
          continue;
        }
        ExpectPunct(')', 3290, kWhat);
        break;
      }
    } else if (IsWord("UNIQUE") || IsWord("INDEX")) {
      constexpr std::string_view kWhat = "Erreur de syntaxe dans l'instruction CREATE INDEX";
      out_.kind = Statement::kCreateIndex;
      if (IsWord("UNIQUE")) {
        out_.unique = true;
        Advance();
      }
      ExpectWord("INDEX", 3290, kWhat);
      out_.indexName = Name(3290, kWhat);
      ExpectWord("ON", 3290, kWhat);
      out_.table = Name(3290, kWhat);
      NameList(out_.indexColumns, 3290, kWhat);
      if (IsWord("WITH")) {
        Advance();
        ExpectWord("PRIMARY", 3290, kWhat);
        out_.primary = true;
        out_.unique = true;
      }
    } else {
      Fail(3290, "Erreur de syntaxe dans l'instruction CREATE");
    }
  }

  void ParseAlter() {
    constexpr std::string_view kWhat = "Erreur de syntaxe dans l'instruction ALTER TABLE";
    Advance();
    ExpectWord("TABLE", 3290, kWhat);
    out_.table = Name(3290, kWhat);
    if (IsWord("DROP")) {
      Advance();
      ExpectWord("CONSTRAINT", 3290, kWhat);
      out_.kind = Statement::kDropConstraint;
      out_.indexName = Name(3290, kWhat);
    } else if (IsWord("ADD")) {
      Advance();
      out_.kind = Statement::kAddConstraint;
      ParseConstraint(kWhat);
    } else {
      Fail(3290, kWhat);
    }
  }

  void ParseDrop() {
    constexpr std::string_view kWhat = "Erreur de syntaxe dans l'instruction DROP";
    Advance();
    if (IsWord("TABLE")) {
      Advance();
      out_.kind = Statement::kDropTable;
      out_.table = Name(3290, kWhat);
    } else if (IsWord("INDEX")) {
      Advance();
      out_.kind = Statement::kDropIndex;
      out_.indexName = Name(3290, kWhat);
      ExpectWord("ON", 3290, kWhat);
      out_.table = Name(3290, kWhat);
    } else {
      Fail(3290, kWhat);
    }
  }

  Tokenizer tokens_;
  Token current_;
  Statement& out_;
};

struct TypeName {
  std::string_view name;
  FieldType type;
  std::int32_t defaultSize;
};

constexpr TypeName kTypeNames[] = {
    {"BIT", kBoolean, 1},         {"BOOLEAN", kBoolean, 1},     {"LOGICAL", kBoolean, 1},
    {"YESNO", kBoolean, 1},       {"BYTE", kByte, 1},           {"TINYINT", kByte, 1},
    {"INTEGER1", kByte, 1},       {"SHORT", kInteger, 2},       {"SMALLINT", kInteger, 2},
    {"INTEGER2", kInteger, 2},    {"LONG", kLong, 4},           {"INT", kLong, 4},
    {"INTEGER", kLong, 4},        {"INTEGER4", kLong, 4},       {"COUNTER", kLong, 4},
    {"AUTOINCREMENT", kLong, 4},  {"CURRENCY", kCurrency, 8},   {"MONEY", kCurrency, 8},
    {"SINGLE", kSingle, 4},       {"REAL", kSingle, 4},         {"FLOAT4", kSingle, 4},
    {"IEEESINGLE", kSingle, 4},   {"DOUBLE", kDouble, 8},       {"FLOAT", kDouble, 8},
    {"FLOAT8", kDouble, 8},       {"IEEEDOUBLE", kDouble, 8},   {"NUMBER", kDouble, 8},
    {"NUMERIC", kDouble, 8},      {"DATETIME", kDate, 8},       {"DATE", kDate, 8},
    {"TIME", kDate, 8},           {"TIMESTAMP", kDate, 8},      {"TEXT", kText, 255},
    {"CHAR", kText, 255},         {"VARCHAR", kText, 255},      {"CHARACTER", kText, 255},
    {"ALPHANUMERIC", kText, 255}, {"STRING", kText, 255},       {"MEMO", kMemo, 0},
    {"LONGTEXT", kMemo, 0},       {"LONGCHAR", kMemo, 0},       {"NOTE", kMemo, 0},
    {"BINARY", kBinary, 255},     {"VARBINARY", kBinary, 255},  {"LONGBINARY", kLongBinary, 0},
    {"OLEOBJECT", kLongBinary, 0}, {"GENERAL", kLongBinary, 0}, {"IMAGE", kLongBinary, 0},
    {"GUID", kGuid, 16},          {"UNIQUEIDENTIFIER", kGuid, 16},
    {"BIGINT", kBigInt, 8},       {"DECIMAL", kDecimal, 16},    {"DECIMALTEXT", kDecimal, 16},
};

}  // namespace

void ParseStatement(std::string_view text, Statement& out) {
  out.table.clear();
  out.columns.clear();
  out.where.clear();
  out.columnSpecs.clear();
  out.indexName.clear();
  out.indexColumns.clear();
  out.primary = out.unique = out.hasConstraint = false;
  // `values` keeps its strings' capacity from one INSERT to the next.
  Parser parser(text, out);
  parser.Parse();
  if (out.kind != Statement::kInsert) out.values.clear();
  // A name this statement would create may not hold a bracket (3125).
  switch (out.kind) {
    case Statement::kCreateTable:
      CheckName(out.table);
      for (const ColumnSpec& spec : out.columnSpecs) CheckName(spec.name);
      if (out.hasConstraint) CheckName(out.indexName);
      break;
    case Statement::kCreateIndex:
    case Statement::kAddConstraint:
      CheckName(out.indexName);
      break;
    default:
      break;
  }
}

bool ResolveTypeName(std::string_view name, std::int32_t size, ColumnSpec& spec) {
  for (const TypeName& entry : kTypeNames) {
    if (!EqualsNoCase(entry.name, name)) continue;
    spec.type = entry.type;
    spec.size = entry.defaultSize;
    // A size is meaningful only for Text and Binary; Jet accepts and ignores it elsewhere.
    if ((entry.type == kText || entry.type == kBinary) && size >= 0) {
      if (size < 1 || size > 255) return false;
      spec.size = size;
    }
    spec.declaredType = DeclaredTypeOf(spec.type, spec.size);
    return true;
  }
  return false;
}

std::string DeclaredTypeOf(FieldType type, std::int32_t size) {
  switch (type) {
    case kBoolean: return "BIT";
    case kByte: return "BYTE";
    case kInteger: return "SHORT";
    case kLong: return "LONG";
    case kCurrency: return "CURRENCY";
    case kSingle: return "SINGLE";
    case kDouble: return "DOUBLE";
    case kDate: return "DATETIME";
    case kText: return "TEXT(" + std::to_string(size) + ")";
    // LONGTEXT rather than MEMO: SQLite gives a declared type containing
    // "TEXT" text affinity, so a memo such as "0123" is never turned into a number.
    case kMemo: return "LONGTEXT";
    case kBinary: return "BINARY(" + std::to_string(size) + ")";
    case kLongBinary: return "LONGBINARY";
    case kGuid: return "GUID";
    case kBigInt: return "BIGINT";
    // DECIMALTEXT rather than DECIMAL: text affinity, so that SQLite never
    // turns a decimal of more than 15 digits into an inexact REAL.
    case kDecimal: return "DECIMALTEXT";
  }
  return "LONGTEXT";
}

FieldType FieldTypeOfDeclared(std::string_view declared, std::int32_t& size) {
  std::string_view base = declared;
  std::int32_t given = -1;
  if (const std::size_t open = declared.find('('); open != std::string_view::npos) {
    base = declared.substr(0, open);
    given = 0;
    for (std::size_t at = open + 1; at < declared.size() && IsDigit(static_cast<unsigned char>(declared[at])); ++at) {
      given = given * 10 + (declared[at] - '0');
      if (given > 255) break;
    }
  }
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  // The engine declares its Decimal fields DECIMALTEXT; a DECIMAL column is
  // another tool's, which SQLite gives numeric affinity: its values are numbers.
  if (EqualsNoCase("DECIMAL", base)) return size = 8, kDouble;
  ColumnSpec spec;
  if (ResolveTypeName(base, given, spec)) {
    size = spec.size;
    return spec.type;
  }
  // A column made by another SQLite tool: go by SQLite's own affinity rules.
  std::string upper(declared);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("INT") != std::string::npos) return size = 4, kLong;
  if (upper.find("CHAR") != std::string::npos || upper.find("CLOB") != std::string::npos ||
      upper.find("TEXT") != std::string::npos) {
    return size = 0, kMemo;
  }
  if (upper.empty() || upper.find("BLOB") != std::string::npos) return size = 0, kLongBinary;
  return size = 8, kDouble;
}

}  // namespace dbengine

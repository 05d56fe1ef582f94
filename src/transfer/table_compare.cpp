// SPDX-License-Identifier: Apache-2.0
// The table comparison. Each row's bytes (its values, each telling its
// length) are reduced to a 128-bit digest (two 64-bit hashes of different
// seeds), and the bytes of its key values to a 64-bit one; only the rows to
// show are ever put into text. These numbers go into a temporary file for
// each table (one 33-byte entry per row: key digest, row digest, side and
// ordinal, in that byte order), and, added for the first table and
// subtracted for the second, into one of 16,384 running sums chosen by the
// key digest (by the row digest without a key). A bucket whose sums come back
// to zero holds the same rows on both sides; only the entries of the other
// buckets are read back and sorted (in memory up to kEntriesInMemory per
// table, beyond by sorted runs in a temporary file, merged), and the two
// sorted streams merged. One pass over them counts, for each row, how many
// times each side holds it; within one key, the surplus rows of the first side and those of
// the second pair up as different rows. The rows to show, the first of each
// kind in table order, are then read again by their ordinals, each checked
// against its digest.
// Two different rows share a digest, or two different buckets' contents a
// sum, with a chance of about one in 2^128: far below any fault of the disk
// that holds them.
#include "transfer/table_compare.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <exception>
#include <mutex>
#include <thread>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include <unistd.h>

namespace transfer {

namespace {

constexpr std::int32_t kErrNoSuchItem = 3265;

struct Digest {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  bool operator==(const Digest&) const = default;
  auto operator<=>(const Digest&) const = default;
};

// MurmurHash64A (Austin Appleby's public-domain design), eight bytes at a
// time, for two seeds in one pass over the bytes (the mixing of each eight
// bytes does not depend on the seed).
std::pair<std::uint64_t, std::uint64_t> Murmur64Pair(std::string_view text, std::uint64_t firstSeed,
                                                     std::uint64_t secondSeed) {
  constexpr std::uint64_t m = 0xc6a4a7935bd1e995ULL;
  constexpr int r = 47;
  std::uint64_t first = firstSeed ^ (text.size() * m);
  std::uint64_t second = secondSeed ^ (text.size() * m);
  const char* at = text.data();
  const char* const end = at + (text.size() & ~std::size_t{7});
  for (; at != end; at += 8) {
    std::uint64_t k;
    std::memcpy(&k, at, 8);
    k *= m;
    k ^= k >> r;
    k *= m;
    first = (first ^ k) * m;
    second = (second ^ k) * m;
  }
  std::uint64_t tail = 0;
  for (std::size_t byte = text.size() & 7; byte > 0; --byte) {
    tail = (tail << 8) | static_cast<unsigned char>(end[byte - 1]);
  }
  if ((text.size() & 7) != 0) {
    first = (first ^ tail) * m;
    second = (second ^ tail) * m;
  }
  auto finish = [](std::uint64_t hash) {
    hash ^= hash >> r;
    hash *= m;
    return hash ^ (hash >> r);
  };
  return {finish(first), finish(second)};
}

std::uint64_t Murmur64(std::string_view text, std::uint64_t seed) { return Murmur64Pair(text, seed, seed).first; }

// A line's digest: its hashes under two seeds.
Digest DigestOf(std::string_view line) {
  const auto [high, low] = Murmur64Pair(line, 0x9e3779b97f4a7c15ULL, 0x2545f4914f6cdd1dULL);
  return {high, low};
}

constexpr int kEntrySize = 33;
// 16,384 sums of 24 bytes: touched in no order, once a row, they stay in a
// core's second-level cache.
constexpr int kBucketBits = 14;

// The running sums of one bucket: both digest halves and the row count,
// added for the first table, subtracted for the second (modulo 2^64).
struct BucketSum {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  std::uint64_t rows = 0;
  bool Zero() const { return high == 0 && low == 0 && rows == 0; }
};

std::size_t BucketOf(std::uint64_t key, const Digest& line) {
  return static_cast<std::size_t>((key != 0 ? key : line.high) >> (64 - kBucketBits));
}

// Eight bytes, most significant first, written and read as one word.
void PutBigEndian(std::uint64_t value, unsigned char* out) {
  if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
  std::memcpy(out, &value, 8);
}

std::uint64_t GetBigEndian(const unsigned char* in) {
  std::uint64_t value;
  std::memcpy(&value, in, 8);
  if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
  return value;
}

// One entry: the key digest, the line digest, the side and the row's
// ordinal in its table, as 33 bytes whose byte order is the order of the four.
using Entry = std::array<unsigned char, kEntrySize>;
static_assert(sizeof(Entry) == kEntrySize);

// Entries in byte order: the key digest, then the line's, compared eight
// bytes at a time as numbers, tell nearly every pair apart. A type of its
// own, so that the sort's every comparison is inlined.
struct EntryOrder {
  bool operator()(const Entry& a, const Entry& b) const {
    for (int at = 0; at < 24; at += 8) {
      const std::uint64_t first = GetBigEndian(a.data() + at);
      const std::uint64_t second = GetBigEndian(b.data() + at);
      if (first != second) return first < second;
    }
    return std::memcmp(a.data() + 24, b.data() + 24, kEntrySize - 24) < 0;
  }
};
Entry MakeEntry(std::uint64_t key, const Digest& line, int side, std::uint64_t ordinal) {
  Entry entry;
  PutBigEndian(key, entry.data());
  PutBigEndian(line.high, entry.data() + 8);
  PutBigEndian(line.low, entry.data() + 16);
  entry[24] = static_cast<unsigned char>(side);
  PutBigEndian(ordinal, entry.data() + 25);
  return entry;
}

[[noreturn]] void FailEntries(int error) {
  if (error == ENOSPC || error == EDQUOT) {
    throw dbengine::EngineError(3026, "Espace disque insuffisant pour trier les lignes de la comparaison.");
  }
  throw dbengine::EngineError(3043, std::string("Erreur de disque sur le fichier de tri de la comparaison : ") +
                                        std::strerror(error) + ".");
}

// The entries of one table in reading order: a temporary file without a
// name (removed from its folder as soon as it is made), written through a
// buffer, then read back once.
class EntryFile {
 public:
  EntryFile() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    std::string path = ((error ? std::filesystem::path("/tmp") : folder) / "vidange-comparaison-XXXXXX").string();
    const int fd = mkstemp(path.data());
    if (fd < 0) FailEntries(errno);
    unlink(path.c_str());
    file_ = fdopen(fd, "w+b");
    if (file_ == nullptr) {
      const int saved = errno;
      close(fd);
      FailEntries(saved);
    }
    std::setvbuf(file_, nullptr, _IOFBF, std::size_t{1} << 20);
  }
  ~EntryFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  EntryFile(const EntryFile&) = delete;
  EntryFile& operator=(const EntryFile&) = delete;

  void Add(const Entry& entry) {
    if (std::fwrite(entry.data(), kEntrySize, 1, file_) != 1) FailEntries(errno);
  }
  // Back to the first entry, for reading.
  void Rewind() {
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) FailEntries(errno);
  }
  // The next entry; false after the last.
  bool Next(Entry& entry) {
    if (std::fread(entry.data(), kEntrySize, 1, file_) == 1) return true;
    if (std::ferror(file_)) FailEntries(errno != 0 ? errno : EIO);
    return false;
  }
  // `count` entries from entry number `first` on (a run being merged).
  void Read(std::uint64_t first, Entry* out, std::size_t count) {
    if (std::fseek(file_, static_cast<long>(first * kEntrySize), SEEK_SET) != 0) FailEntries(errno);
    if (std::fread(out, kEntrySize, count, file_) != count) FailEntries(std::ferror(file_) && errno != 0 ? errno : EIO);
  }

 private:
  std::FILE* file_ = nullptr;
};

// For each field of `reference` in order, its position in `other`; 3265 when
// the two field lists differ.
std::vector<std::int16_t> MatchFields(const dbengine::TableDef& reference, const dbengine::TableDef& other) {
  auto refuse = [&](const std::string& field, const std::string& lacking) {
    return dbengine::EngineError(kErrNoSuchItem, "Les tables « " + reference.Name() + " » et « " + other.Name() +
                                                     " » n'ont pas les mêmes champs : le champ « " + field +
                                                     " » manque à la table « " + lacking + " ».");
  };
  std::vector<std::int16_t> positions;
  for (std::int16_t field = 0; field < reference.FieldCount(); ++field) {
    const int position = other.FieldPosition(reference.Fields(field).name);
    if (position < 0) throw refuse(reference.Fields(field).name, other.Name());
    positions.push_back(static_cast<std::int16_t>(position));
  }
  for (std::int16_t field = 0; field < other.FieldCount(); ++field) {
    if (reference.FieldPosition(other.Fields(field).name) < 0) throw refuse(other.Fields(field).name, reference.Name());
  }
  return positions;
}

void AppendTagged(char tag, std::uint64_t value, std::string& out) {
  unsigned char bytes[9];
  bytes[0] = static_cast<unsigned char>(tag);
  PutBigEndian(value, bytes + 1);
  out.append(reinterpret_cast<const char*>(bytes), 9);
}

void AppendTagged(char tag, std::string_view bytes, std::string& out) {
  AppendTagged(tag, bytes.size(), out);
  out.append(bytes);
}

std::uint64_t BitsOf(double number) {
  std::uint64_t bits;
  std::memcpy(&bits, &number, sizeof bits);
  return bits;
}

// Appends to `out` the bytes that stand for `value` in the row's digest. Each
// value's bytes tell their own length, so that no two rows of different
// values give the same bytes, whatever separator or tag their texts hold.
// By value: a tag of the value's kind, then the value; whole numbers of any
// numeric type (a Long 3, a Double 3, a Currency 3) alike, every other number
// by its exact bits or ten-thousandths. By transfer text: the text's length,
// then the text.
void AppendSerial(const dbengine::Value& value, CompareMode mode, std::string& out) {
  using namespace dbengine;
  if (mode == CompareMode::kTransferText) {
    const std::size_t start = out.size();
    out.append(8, '\0');
    AppendValueText(value, out);
    PutBigEndian(out.size() - start - 8, reinterpret_cast<unsigned char*>(out.data() + start));
    return;
  }
  if (value.isNull) {
    out.push_back('N');
    return;
  }
  switch (value.type) {
    case kBoolean:
      AppendTagged('B', static_cast<std::uint64_t>(value.integer), out);
      return;
    case kByte:
    case kInteger:
    case kLong:
    case kBigInt:
      AppendTagged('I', static_cast<std::uint64_t>(value.integer), out);
      return;
    case kCurrency:
      if (value.integer % 10000 == 0) {
        AppendTagged('I', static_cast<std::uint64_t>(value.integer / 10000), out);
      } else {
        AppendTagged('C', static_cast<std::uint64_t>(value.integer), out);
      }
      return;
    case kSingle:
    case kDouble: {
      const double number = value.real;
      // Whole and within ±2^63 (not -0, whose sign is a bit of its own).
      if (number == std::trunc(number) && std::fabs(number) < 9.2e18 && !(number == 0 && std::signbit(number))) {
        AppendTagged('I', static_cast<std::uint64_t>(static_cast<std::int64_t>(number)), out);
      } else {
        AppendTagged('R', BitsOf(number), out);
      }
      return;
    }
    case kDate:
      AppendTagged('T', BitsOf(value.real), out);
      return;
    case kDecimal: {
      std::int64_t whole = 0;
      const char* end = value.text.data() + value.text.size();
      const auto read = std::from_chars(value.text.data(), end, whole);
      if (read.ec == std::errc() && read.ptr == end) {
        AppendTagged('I', static_cast<std::uint64_t>(whole), out);
      } else {
        AppendTagged('D', value.text, out);
      }
      return;
    }
    case kBinary:
    case kLongBinary:
      AppendTagged('X', value.text, out);
      return;
    case kGuid:
      AppendTagged('G', value.text, out);
      return;
    default:  // Text, Memo
      AppendTagged('S', value.text, out);
      return;
  }
}

// The shortest text that reads back as `number` exactly, with the French
// decimal comma and an upper-case exponent: "0,30000000000000004".
std::string ExactNumber(double number) {
  char digits[32];
  const auto written = std::to_chars(digits, digits + sizeof digits, number);
  std::string text(digits, written.ptr);
  for (char& character : text) {
    if (character == '.') character = ',';
    if (character == 'e') character = 'E';
  }
  return text;
}

// Appends `value` as the listing shows it: its transfer text, with "\" as
// "\\", the separator "|" as "\|", line breaks and tabs as "\n", "\r", "\t",
// other control characters as "\xHH", so that a row is one line whose
// fields can be told apart. By value, Null is "\N" (an empty text shows as
// nothing), and a number or date whose text does not read back exactly is
// shown exactly.
void AppendShown(const dbengine::Value& value, CompareMode mode, std::string& out) {
  using namespace dbengine;
  if (value.isNull) {
    if (mode == CompareMode::kValues) out += "\\N";
    return;
  }
  std::string text;
  AppendValueText(value, text);
  if (mode == CompareMode::kValues && (value.type == kSingle || value.type == kDouble || value.type == kDate)) {
    Value back;
    if (TextToValue(text, value.type, back) != Conversion::kOk || back.real != value.real ||
        std::signbit(back.real) != std::signbit(value.real)) {
      text = value.type == kDate ? text + " (" + ExactNumber(value.real) + ")" : ExactNumber(value.real);
    }
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    switch (character) {
      case '\\': out += "\\\\"; break;
      case '|': out += "\\|"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
        } else {
          out.push_back(character);
        }
    }
  }
}

// One table's side of the comparison: its fields in the first table's order
// and its key fields.
struct Side {
  dbengine::Database& database;
  std::string table;
  std::vector<std::int16_t> fields;     // positions in this table, in line order
  std::vector<std::int16_t> keyFields;  // places in the line
  CompareMode mode;
};

// `row` as the listing shows it, fields joined by "|".
std::string ShownRow(const Side& side, const std::vector<dbengine::Value>& row) {
  std::string line;
  for (std::size_t field = 0; field < side.fields.size(); ++field) {
    if (field > 0) line.push_back('|');
    AppendShown(row[static_cast<std::size_t>(side.fields[field])], side.mode, line);
  }
  return line;
}

// Calls `visit(serial, key, row)` for every row of `side` until it returns
// false: the bytes of its values, those of its key fields, and its values.
template <typename Visit>
void ForEachRow(const Side& side, dbengine::Progress* progress, Visit&& visit) {
  std::string serial;
  std::string key;
  std::vector<std::size_t> starts(side.fields.size() + 1);
  side.database.ReadRows(side.table, [&](std::uint64_t ordinal, const std::vector<dbengine::Value>& row) {
    serial.clear();
    for (std::size_t field = 0; field < side.fields.size(); ++field) {
      starts[field] = serial.size();
      AppendSerial(row[static_cast<std::size_t>(side.fields[field])], side.mode, serial);
    }
    starts[side.fields.size()] = serial.size();
    key.clear();
    for (const std::int16_t place : side.keyFields) {
      const auto at = static_cast<std::size_t>(place);
      key.append(serial, starts[at], starts[at + 1] - starts[at]);
    }
    if (!visit(serial, key, row)) return dbengine::kNoMoreRows;
    if (progress != nullptr && (ordinal + 1) % dbengine::kProgressStep == 0) progress->Rows(side.table, ordinal + 1);
    return ordinal + 1;
  });
  if (progress != nullptr) progress->Done(side.table);
}

std::vector<std::string> PrimaryKeyFields(const dbengine::TableDef& def) {
  const dbengine::IndexDef* primary = def.PrimaryIndex();
  return primary != nullptr ? primary->fields : std::vector<std::string>{};
}

// The rows to show of one kind: the kShownRows first in table order.
template <typename Sample>
class FirstRows {
 public:
  void Offer(std::uint64_t ordinal, const Sample& sample) {
    if (rows_.size() == kShownRows && ordinal >= rows_.back().first) return;
    rows_.insert(std::upper_bound(rows_.begin(), rows_.end(), ordinal,
                                  [](std::uint64_t value, const auto& row) { return value < row.first; }),
                 {ordinal, sample});
    if (rows_.size() > kShownRows) rows_.pop_back();
  }
  const std::vector<std::pair<std::uint64_t, Sample>>& Rows() const { return rows_; }

 private:
  std::vector<std::pair<std::uint64_t, Sample>> rows_;
};

// A surplus line and the ordinal of its first row on its side.
struct Surplus {
  std::uint64_t ordinal;
  Digest line;
};

// The pass over the sorted entries. Each line's surplus on one side is kept
// per key until the key changes, then paired.
class Tally {
 public:
  // Without a key, no two rows pair up.
  explicit Tally(bool keyed, RowDifferences& out) : keyed_(keyed), out_(out) {}

  void Line(std::uint64_t key, const Digest& line, int side, std::uint64_t ordinal) {
    if (!started_ || key != key_) {
      EndKey();
      key_ = key;
      started_ = true;
    } else if (line == line_) {
      if (count_[side]++ == 0) first_[side] = ordinal;
      return;
    } else {
      EndLine();
    }
    line_ = line;
    count_[0] = count_[1] = 0;
    ++count_[side];
    first_[side] = ordinal;
  }

  void End() { EndKey(); }

  FirstRows<Surplus> missing;
  FirstRows<Surplus> extra;
  FirstRows<std::pair<Surplus, Surplus>> different;

 private:
  void EndLine() {
    for (int side = 0; side < 2; ++side) {
      if (count_[side] <= count_[1 - side]) continue;
      const std::uint64_t surplus = count_[side] - count_[1 - side];
      surplus_[side] += surplus;
      if (!keyed_) {
        (side == 0 ? missing : extra).Offer(first_[side], {first_[side], line_});
      } else if (shown_[side].size() < 2 * kShownRows) {
        shown_[side].push_back({first_[side], line_});
      }
    }
    count_[0] = count_[1] = 0;
  }

  void EndKey() {
    if (!started_) return;
    EndLine();
    const std::uint64_t paired = keyed_ ? std::min(surplus_[0], surplus_[1]) : 0;
    out_.different += paired;
    out_.missing += surplus_[0] - paired;
    out_.extra += surplus_[1] - paired;
    const std::size_t shownPairs = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::min(shown_[0].size(), shown_[1].size()), paired));
    for (std::size_t pair = 0; pair < shownPairs; ++pair) {
      different.Offer(shown_[0][pair].ordinal, {shown_[0][pair], shown_[1][pair]});
    }
    for (std::size_t row = shownPairs; row < shown_[0].size(); ++row) {
      missing.Offer(shown_[0][row].ordinal, shown_[0][row]);
    }
    for (std::size_t row = shownPairs; row < shown_[1].size(); ++row) {
      extra.Offer(shown_[1][row].ordinal, shown_[1][row]);
    }
    surplus_[0] = surplus_[1] = 0;
    shown_[0].clear();
    shown_[1].clear();
  }

  const bool keyed_;
  RowDifferences& out_;
  bool started_ = false;
  std::uint64_t key_ = 0;
  Digest line_;
  std::uint64_t count_[2] = {0, 0};
  std::uint64_t first_[2] = {0, 0};
  std::uint64_t surplus_[2] = {0, 0};
  std::vector<Surplus> shown_[2];  // a few surplus lines of the current key
};

// The rows of `side` wanted, read again from the table, as shown, by their
// digests. Each row is found by its ordinal, reading the table up to the
// last one without putting the others into bytes; should a row there not
// have the wanted digest, the table is searched for the digests instead.
std::map<Digest, std::string> LinesOf(const Side& side, std::vector<Surplus> wanted) {
  std::map<Digest, std::string> found;
  if (wanted.empty()) return found;
  std::sort(wanted.begin(), wanted.end(),
            [](const Surplus& a, const Surplus& b) { return a.ordinal < b.ordinal; });
  {
    // Only the rows wanted are read; the others are passed over.
    auto next = wanted.begin();
    bool alike = true;
    std::string serial;
    side.database.ReadRows(side.table, [&](std::uint64_t ordinal, const std::vector<dbengine::Value>& row) {
      if (ordinal < next->ordinal) return next->ordinal;
      serial.clear();
      for (const std::int16_t field : side.fields) AppendSerial(row[static_cast<std::size_t>(field)], side.mode, serial);
      alike = DigestOf(serial) == next->line;
      if (!alike) return dbengine::kNoMoreRows;
      found.emplace(next->line, ShownRow(side, row));
      while (next != wanted.end() && next->ordinal <= ordinal) ++next;
      return next == wanted.end() ? dbengine::kNoMoreRows : next->ordinal;
    });
    if (alike && next == wanted.end()) return found;
  }
  found.clear();
  std::vector<Digest> digests;
  for (const Surplus& row : wanted) digests.push_back(row.line);
  std::sort(digests.begin(), digests.end());
  digests.erase(std::unique(digests.begin(), digests.end()), digests.end());
  ForEachRow(side, nullptr, [&](const std::string& serial, const std::string&, const std::vector<dbengine::Value>& row) {
    const Digest digest = DigestOf(serial);
    if (std::binary_search(digests.begin(), digests.end(), digest)) found.emplace(digest, ShownRow(side, row));
    return found.size() < digests.size();
  });
  return found;
}

// Forwards the progress of the two readers, one at a time.
class SharedProgress : public dbengine::Progress {
 public:
  explicit SharedProgress(dbengine::Progress* inner) : inner_(inner) {}
  void Rows(std::string_view table, std::uint64_t rows) override {
    std::lock_guard<std::mutex> lock(mutex_);
    inner_->Rows(table, rows);
  }
  void Done(std::string_view table) override {
    std::lock_guard<std::mutex> lock(mutex_);
    inner_->Done(table);
  }

 private:
  dbengine::Progress* inner_;
  std::mutex mutex_;
};

// Runs `first` here and `second` on a thread of its own when `apart` (the two
// tables are two handles: one handle's connection serves one thread at a
// time), else one after the other; then throws the first one's error, else
// the second one's.
template <typename First, typename Second>
void AtOnce(bool apart, First&& first, Second&& second) {
  std::exception_ptr errors[2];
  auto run = [](auto& work, std::exception_ptr& error) {
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
  };
  if (apart) {
    std::thread other([&] { run(second, errors[1]); });
    run(first, errors[0]);
    other.join();
  } else {
    run(first, errors[0]);
    if (!errors[0]) run(second, errors[1]);
  }
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

// One table's entries and bucket sums.
struct SideScan {
  EntryFile entries;
  std::vector<BucketSum> sums = std::vector<BucketSum>(std::size_t{1} << kBucketBits);
};

// Reads `side` (number `index`: 0 adds to the sums, 1 subtracts) into `scan`.
void Scan(const Side& side, int index, SideScan& scan, dbengine::Progress* progress) {
  std::uint64_t ordinal = 0;
  ForEachRow(side, progress, [&](const std::string& serial, const std::string& keyBytes,
                                 const std::vector<dbengine::Value>&) {
    // A key whose digest is 0 stands for no key; moving it to 1 keeps its rows apart.
    const std::uint64_t keyDigest = keyBytes.empty() ? 0 : std::max<std::uint64_t>(Murmur64(keyBytes, 0), 1);
    // Its sums fetched while the row's digest is worked out.
    if (keyDigest != 0) __builtin_prefetch(&scan.sums[BucketOf(keyDigest, {})], 1);
    const Digest digest = DigestOf(serial);
    scan.entries.Add(MakeEntry(keyDigest, digest, index, ordinal++));
    BucketSum& sum = scan.sums[BucketOf(keyDigest, digest)];
    if (index == 0) {
      sum.high += digest.high;
      sum.low += digest.low;
      ++sum.rows;
    } else {
      sum.high -= digest.high;
      sum.low -= digest.low;
      --sum.rows;
    }
    return true;
  });
}

// Dirty entries held in memory at most, per table; beyond, they are sorted
// by runs of that many written to a temporary file, then merged.
constexpr std::size_t kEntriesInMemory = std::size_t{1} << 19;
// Entries read from a run at a time while merging.
constexpr std::size_t kRunBuffer = 2048;

// The entries of one table whose buckets differ, in byte order: read back
// from its entry file and sorted in memory, or when there are many, sorted by
// runs on disk and merged.
class SortedEntries {
 public:
  SortedEntries(EntryFile& entries, const std::vector<BucketSum>& sums) {
    entries.Rewind();
    Entry entry;
    while (entries.Next(entry)) {
      const Digest line{GetBigEndian(entry.data() + 8), GetBigEndian(entry.data() + 16)};
      if (sums[BucketOf(GetBigEndian(entry.data()), line)].Zero()) continue;
      if (held_.size() == kEntriesInMemory) WriteRun();
      held_.push_back(entry);
    }
    if (runFile_ == nullptr) {
      std::sort(held_.begin(), held_.end(), EntryOrder());
      return;
    }
    WriteRun();
    held_.clear();
    held_.shrink_to_fit();
    runFile_->Rewind();
    for (Run& run : runs_) Refill(run);
  }

  // The next entry (valid until the next call), or nullptr after the last.
  const unsigned char* Next() {
    if (runFile_ == nullptr) return next_ < held_.size() ? held_[next_++].data() : nullptr;
    Run* least = nullptr;
    for (Run& run : runs_) {
      if (run.at < run.buffer.size() &&
          (least == nullptr || EntryOrder()(run.buffer[run.at], least->buffer[least->at]))) {
        least = &run;
      }
    }
    if (least == nullptr) return nullptr;
    current_ = least->buffer[least->at++];
    if (least->at == least->buffer.size()) Refill(*least);
    return current_.data();
  }

 private:
  // A sorted run in the run file: its entries not yet buffered, and those buffered.
  struct Run {
    std::uint64_t first = 0;
    std::uint64_t left = 0;
    std::vector<Entry> buffer;
    std::size_t at = 0;
  };

  void WriteRun() {
    if (runFile_ == nullptr) runFile_ = std::make_unique<EntryFile>();
    std::sort(held_.begin(), held_.end(), EntryOrder());
    runs_.push_back({written_, held_.size(), {}, 0});
    for (const Entry& kept : held_) runFile_->Add(kept);
    written_ += held_.size();
    held_.clear();
  }

  void Refill(Run& run) {
    run.buffer.resize(static_cast<std::size_t>(std::min<std::uint64_t>(run.left, kRunBuffer)));
    run.at = 0;
    if (run.buffer.empty()) return;
    runFile_->Read(run.first, run.buffer.data(), run.buffer.size());
    run.first += run.buffer.size();
    run.left -= run.buffer.size();
  }

  std::vector<Entry> held_;
  std::size_t next_ = 0;
  std::unique_ptr<EntryFile> runFile_;
  std::vector<Run> runs_;
  std::uint64_t written_ = 0;
  Entry current_{};
};

}  // namespace

RowDifferences CompareTables(dbengine::Database& first, const std::string& firstTable, dbengine::Database& second,
                             const std::string& secondTable, dbengine::Progress* progress, CompareMode mode) {
  dbengine::CheckName(firstTable);
  dbengine::CheckName(secondTable);
  const dbengine::TableDef firstDef = first.TableDefs(firstTable);
  const dbengine::TableDef secondDef = second.TableDefs(secondTable);
  Side sides[2] = {{first, firstDef.Name(), {}, {}, mode},
                   {second, secondDef.Name(), MatchFields(firstDef, secondDef), {}, mode}};
  RowDifferences differences;
  for (std::int16_t field = 0; field < firstDef.FieldCount(); ++field) {
    sides[0].fields.push_back(field);
    if (mode != CompareMode::kValues) continue;
    const dbengine::FieldDef& mine = firstDef.Fields(field);
    const dbengine::FieldDef& theirs = secondDef.Fields(sides[1].fields[static_cast<std::size_t>(field)]);
    const bool sized = mine.type == dbengine::kText || mine.type == dbengine::kBinary;
    if (mine.type != theirs.type || (sized && mine.size != theirs.size)) {
      differences.fieldTypes.push_back("« " + mine.name + " » : " +
                                       dbengine::DescribeFieldType(mine.type, mine.size) + " => " +
                                       dbengine::DescribeFieldType(theirs.type, theirs.size));
    }
  }

  std::vector<std::string> key = PrimaryKeyFields(firstDef);
  if (key.empty()) key = PrimaryKeyFields(secondDef);
  // Key fields by their place in the line, which follows the first table's order on both sides.
  for (const std::string& name : key) {
    const auto place = static_cast<std::int16_t>(firstDef.FieldPosition(name));
    sides[0].keyFields.push_back(place);
    sides[1].keyFields.push_back(place);
  }

  // Each table is read into its own entry file, the two at once in two
  // threads when they are two handles (one handle's connection serves one
  // thread at a time).
  SideScan scans[2];
  SharedProgress shared(progress);
  dbengine::Progress* const told = progress != nullptr ? &shared : nullptr;
  const bool apart = &first != &second;
  AtOnce(apart, [&] { Scan(sides[0], 0, scans[0], told); }, [&] { Scan(sides[1], 1, scans[1], told); });
  for (std::size_t bucket = 0; bucket < scans[0].sums.size(); ++bucket) {
    BucketSum& sum = scans[0].sums[bucket];
    const BucketSum& other = scans[1].sums[bucket];
    sum.high += other.high;
    sum.low += other.low;
    sum.rows += other.rows;
  }
  scans[1].sums.clear();
  const bool anyDirty = std::any_of(scans[0].sums.begin(), scans[0].sums.end(),
                                    [](const BucketSum& sum) { return !sum.Zero(); });

  // The entries of the buckets that differ, from the two sorted streams
  // merged; with every bucket alike, the entry files are not read back.
  Tally tally(!key.empty(), differences);
  if (anyDirty) {
    // Each table's entries sorted at once too.
    std::optional<SortedEntries> streams[2];
    AtOnce(true, [&] { streams[0].emplace(scans[0].entries, scans[0].sums); },
           [&] { streams[1].emplace(scans[1].entries, scans[0].sums); });
    const unsigned char* heads[2] = {streams[0]->Next(), streams[1]->Next()};
    while (heads[0] != nullptr || heads[1] != nullptr) {
      const int from =
          heads[1] == nullptr || (heads[0] != nullptr && std::memcmp(heads[0], heads[1], kEntrySize) < 0) ? 0 : 1;
      const unsigned char* entry = heads[from];
      tally.Line(GetBigEndian(entry), {GetBigEndian(entry + 8), GetBigEndian(entry + 16)}, entry[24],
                 GetBigEndian(entry + 25));
      heads[from] = streams[from]->Next();
    }
  }
  tally.End();

  std::vector<Surplus> wanted[2];
  for (const auto& row : tally.missing.Rows()) wanted[0].push_back(row.second);
  for (const auto& row : tally.extra.Rows()) wanted[1].push_back(row.second);
  for (const auto& row : tally.different.Rows()) {
    wanted[0].push_back(row.second.first);
    wanted[1].push_back(row.second.second);
  }
  // The two tables read again at once too, when they are two handles.
  std::map<Digest, std::string> lines[2];
  AtOnce(apart && !wanted[0].empty() && !wanted[1].empty(), [&] { lines[0] = LinesOf(sides[0], wanted[0]); },
         [&] { lines[1] = LinesOf(sides[1], wanted[1]); });
  auto text = [&](int side, const Digest& digest) {
    const auto found = lines[side].find(digest);
    return found != lines[side].end() ? found->second : std::string();
  };
  for (const auto& row : tally.missing.Rows()) differences.missingRows.push_back(text(0, row.second.line));
  for (const auto& row : tally.extra.Rows()) differences.extraRows.push_back(text(1, row.second.line));
  for (const auto& row : tally.different.Rows()) {
    differences.differentRows.emplace_back(text(0, row.second.first.line), text(1, row.second.second.line));
  }
  return differences;
}

}  // namespace transfer

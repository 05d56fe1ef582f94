// SPDX-License-Identifier: Apache-2.0
// Progress of the long table operations (copies, exports, imports,
// comparisons): a caller that wants to show it passes a Progress, and the
// operation tells it, as it goes, the table begun, the rows done so far, the
// table done and the rules a copy relaxed. Nothing is shown by default.
//
// A caller either sets the callbacks it wants or derives and overrides the
// calls: each call, unless overridden, goes to its callback when one is set.
// A call never fails and never throws.
#ifndef DBENGINE_PROGRESS_H_
#define DBENGINE_PROGRESS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dbengine {

class Progress {
 public:
  virtual ~Progress() = default;

  // A table begins: its name, its position from 1, the number of tables (a copy).
  std::function<void(const std::string& table, std::size_t position, std::size_t count)> table;
  // Rows of a table are done: its name and the rows done so far.
  std::function<void(const std::string& table, std::size_t rows)> rows;
  // The operation on a table is over, whatever its outcome.
  std::function<void(const std::string& table)> done;
  // A rule of an Access table that its rows break, relaxed in a copy: the
  // table's name and what was done, in French, naming the field or index.
  std::function<void(const std::string& table, const std::string& rule)> relaxed;

  virtual void Table(std::string_view name, std::size_t position, std::size_t count) {
    if (table) table(std::string(name), position, count);
  }
  // Called every few thousand rows (kProgressStep for a transfer or a
  // comparison, 1,000 for a copy), never for every row.
  virtual void Rows(std::string_view name, std::uint64_t count) {
    if (rows) rows(std::string(name), static_cast<std::size_t>(count));
  }
  virtual void Done(std::string_view name) {
    if (done) done(std::string(name));
  }
  virtual void Relaxed(std::string_view name, std::string_view rule) {
    if (relaxed) relaxed(std::string(name), std::string(rule));
  }
};

// How many rows pass between two calls of Rows() in a transfer or a comparison.
inline constexpr std::uint64_t kProgressStep = 4096;

}  // namespace dbengine

#endif  // DBENGINE_PROGRESS_H_

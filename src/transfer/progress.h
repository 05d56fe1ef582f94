// SPDX-License-Identifier: Apache-2.0
// Progress of the long table operations (exports, imports, copies,
// comparisons): a caller that wants to show it passes a TransferProgress, and
// the operation tells it the rows done so far. Nothing is shown by default.
#ifndef TRANSFER_PROGRESS_H_
#define TRANSFER_PROGRESS_H_

#include <cstdint>
#include <string_view>

class TransferProgress {
 public:
  virtual ~TransferProgress() = default;
  // `rows` rows of `table` are done. Called every few thousand rows, never
  // for every row; a call never fails and never throws.
  virtual void Rows(std::string_view table, std::uint64_t rows) = 0;
  // The operation on `table` is over, whatever its outcome.
  virtual void Done(std::string_view table) = 0;
};

// How many rows pass between two calls of Rows().
inline constexpr std::uint64_t kProgressStep = 4096;

#endif  // TRANSFER_PROGRESS_H_

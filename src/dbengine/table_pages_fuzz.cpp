// SPDX-License-Identifier: Apache-2.0
// libFuzzer target: any bytes read as a database file's pages. The walk of a
// table's b-tree from any root and the reading of its records, value by
// value as fields of every type, must end (done, or "not as expected")
// without reading outside the file, crashing or hanging.
#include <cstdint>
#include <vector>

#include "table_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dbengine;
  if (size < 100) return 0;
  static const std::vector<FieldDef> fields = [] {
    std::vector<FieldDef> all;
    for (const FieldType type : {kLong, kText, kDouble, kMemo, kLongBinary, kBoolean, kDate, kCurrency, kByte,
                                 kInteger, kSingle, kBinary, kGuid, kBigInt, kDecimal}) {
      FieldDef field;
      field.type = type;
      field.size = type == kText || type == kBinary ? 4 : 0;
      all.push_back(field);
    }
    return all;
  }();
  const pages::Layout layout = pages::Layout::Of(data, size);
  Value value;
  for (std::uint64_t root = 1; root <= layout.pageCount && root <= 8; ++root) {
    pages::WalkTable(
        layout, root, [&](std::uint64_t number, std::size_t) { return data + (number - 1) * layout.pageSize; },
        [&](const pages::Leaf& leaf) {
          leaf.Records([&](const unsigned char* record, std::size_t local, std::uint64_t payload) {
            pages::Record values(record, local, payload);
            std::uint64_t type = 0;
            std::uint64_t length = 0;
            const unsigned char* bytes = nullptr;
            for (std::size_t position = 0; values.Next(type, bytes, length); ++position) {
              pages::ValueOf(type, bytes, length, fields[position % fields.size()], &value);
              pages::ValueOf(type, bytes, length, fields[(position + 1) % fields.size()], nullptr);
            }
            return true;
          });
          return pages::Walk::kDone;
        });
  }
  return 0;
}

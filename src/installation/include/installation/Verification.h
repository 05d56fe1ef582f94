// SPDX-License-Identifier: Apache-2.0
// The verification of an installation: for each installed table, whether its
// target holds exactly the source's rows (compared as the transfer files
// carry them: each value's text, as multisets of rows), and whether the
// rebuilt primary keys are in place with their fields, as the SQLite index
// behind each enforces them (unique over every row, on those fields in that
// order). It only reads: each database is opened read-only, and all its
// reads see one state of it, even while another program writes.
#ifndef INSTALLATION_VERIFICATION_H_
#define INSTALLATION_VERIFICATION_H_

#include <optional>
#include <string>
#include <vector>

#include "dbengine/progress.h"
#include "installation/Installation.h"
#include "transfer/table_compare.h"

namespace installation {

struct TableVerification {
  std::string table;
  transfer::RowDifferences rows;  // missing: source rows the target lacks; extra: target rows not in the source
  // Nothing when compared; else why it could not be.
  std::optional<InstallationFailure> error;
};

struct KeyVerification {
  std::string table;
  std::vector<std::string> expected;             // the fields the run gives the key
  std::optional<std::vector<std::string>> found;  // the target's primary key fields, if it has one
  bool unique = false;  // whether the file's index behind it refuses duplicates (unique, not partial)
  bool InPlace() const;
};

struct InstallationVerification {
  std::vector<TableVerification> tables;  // in export order
  std::vector<KeyVerification> keys;
  bool Identical() const;
};

// Verifies the installation from `sourcePath` into the databases of the two
// folders (found as the run finds them), each table by the transfer texts of
// its values. A table that cannot be compared (fields that differ, a table
// missing, a value that does not fit its field) has its error and the others
// are still compared. Throws dbengine::Error when a database cannot be opened.
InstallationVerification VerifyInstallation(const std::string& dictionaryFolder, const std::string& dataFolder,
                                            const std::string& sourcePath, dbengine::Progress* progress = nullptr);

}  // namespace installation

#endif  // INSTALLATION_VERIFICATION_H_

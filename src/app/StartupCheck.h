// The start-up check: before the installer window is shown, the source database
// "CONVENTIONS_TEST_KVEL.mdb" must lie in the program folder (the folder of the running
// executable). Also the letter-case-blind file lookup the installer uses for its database names.
#ifndef APP_STARTUPCHECK_H_
#define APP_STARTUPCHECK_H_

#include <QString>
#include <filesystem>
#include <optional>
#include <string_view>

// Name of the source database, looked for in the program folder.
inline constexpr std::string_view kSourceDatabaseName = "CONVENTIONS_TEST_KVEL.mdb";

// Title of the box that reports a missing source database (with its trailing blank).
QString MissingSourceTitle();

// The folder of the running executable as the platform reports it: "/" separators, no
// trailing separator except for the root folder "/". Needs the application object.
QString ProgramFolder();

// The regular file (or link to one) named `name` in `folder`, whatever the letter case of the
// stored name: the exact spelling when it exists, otherwise the first case variant in byte
// order. ASCII letters only are matched without regard to case. Folders and other non-regular
// entries never match. Nothing when there is none or the folder cannot be read; never throws.
std::optional<std::filesystem::path> FindFileIgnoringCase(const std::filesystem::path& folder,
                                                          std::string_view name);

// `folder` as a file-system path (Qt file-name encoding, UTF-8 here).
std::filesystem::path ToFileSystemPath(const QString& folder);

// The check itself. Nothing when the source database is in `programFolder`; otherwise the exact
// text of the message that reports it missing: the sentence, one carriage return and
// `programFolder` as given.
std::optional<QString> StartupCheckMessage(const QString& programFolder);

#endif  // APP_STARTUPCHECK_H_

// SPDX-License-Identifier: Apache-2.0
// The reporting and output checks shared by vidange's commands: ERR lines on
// standard error, and standard output and error checked to the close, so
// that lost output (a full disk, a closed destination) is never a success.
#include "command.h"

#include <cerrno>
#include <cstdio>

namespace cli {
namespace {

// The runtime's numbers for a write that did not reach its destination, as
// the transfer reports them for its files: 61 when the disk is full, 57 for
// any other failure (a closed or broken destination, an I/O error).
dbengine::RuntimeError WriteError(int errnoValue) {
  if (errnoValue == ENOSPC || errnoValue == EDQUOT) return dbengine::RuntimeError(61, "Disque plein");
  return dbengine::RuntimeError(57, "Erreur d'entrée/sortie de périphérique");
}

// Set when a command stops at a lost write to standard output and reports
// it itself.
bool outputLossRaised = false;

// Flushes and closes `stream`. Tells whether everything written to it
// reached its destination; on a failure `error` gets the errno (0 when an
// earlier write failed and the close went through). A descriptor that was
// never open and was given nothing is no failure.
bool Closed(std::FILE* stream, int& error) {
  const bool lostBefore = std::ferror(stream) != 0;
  error = 0;
  if (std::fflush(stream) != 0) {
    error = errno;
    std::fclose(stream);
    return false;
  }
  if (std::fclose(stream) != 0 && errno != EBADF) {
    error = errno;
    return false;
  }
  return !lostBefore;
}

}  // namespace

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  auto escape = [&](const char* prefix, unsigned char byte) {
    shown += prefix;
    shown += {kHex[byte >> 4], kHex[byte & 15]};
  };
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
      if (lead < 0x20 || lead == 0x7F) {
        escape("\\x", lead);
      } else {
        shown.push_back(static_cast<char>(lead));
      }
      ++at;
      continue;
    }
    // The length of a well-formed UTF-8 sequence starting here, or 0.
    std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (at + length > text.size()) length = 0;
    for (std::size_t next = 1; next < length; ++next) {
      if ((static_cast<unsigned char>(text[at + next]) & 0xC0) != 0x80) length = 0;
    }
    if (length == 3 || length == 4) {
      const auto second = static_cast<unsigned char>(text[at + 1]);
      // Overlong forms, surrogates and code points past U+10FFFF.
      if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
          (lead == 0xF4 && second >= 0x90)) {
        length = 0;
      }
    }
    if (length == 0) {
      escape("\\x", lead);
      ++at;
    } else if (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
      escape("\\u00", static_cast<unsigned char>(text[at + 1]));  // C1: U+0080 to U+009F
      at += 2;
    } else {
      shown.append(text.substr(at, length));
      at += length;
    }
  }
  return shown;
}

std::string ErrorText(std::int32_t number, std::string_view description) {
  return "ERR" + std::to_string(number) + ":" + std::string(description);
}

int Report(std::int32_t number, std::string_view description) {
  std::fprintf(stderr, "%s\n", ErrorText(number, Printable(description)).c_str());
  return 1;
}

int Report(const dbengine::Error& error) { return Report(error.Number(), error.Description()); }

int ReportingErrors(const std::function<void()>& body) {
  try {
    body();
  } catch (const dbengine::Error& error) {
    std::fflush(stdout);
    return Report(error);
  }
  return 0;
}

CLI::App* AddCommand(CLI::App& vidange, const std::string& name, const std::string& description,
                     std::initializer_list<std::pair<const char*, std::string*>> required) {
  CLI::App* command = vidange.add_subcommand(name, description);
  for (const auto& [argument, value] : required) command->add_option(argument, *value)->required();
  return command;
}

void AddDatabaseOptions(CLI::App* command, std::string& password, bool& quiet) {
  AddPasswordOption(command, password);
  AddQuietOption(command, quiet);
}

void AddQuietOption(CLI::App* command, bool& quiet) {
  command->add_flag("--quiet", quiet, "ne montre pas la progression sur un terminal");
}

void AddPasswordOption(CLI::App* command, std::string& password) {
  command->add_option("--password", password, "le mot de passe de la base de données Access")
      ->type_name("MOT_DE_PASSE");
}

std::string Connect(const std::string& password) { return password.empty() ? std::string() : ";PWD=" + password; }

dbengine::RuntimeError OutputLost(int errnoValue) {
  outputLossRaised = true;
  return WriteError(errnoValue);
}

void FlushOutput() {
  if (std::fflush(stdout) != 0) throw OutputLost(errno);
}

int CloseStandardStreams(int status) {
  int error = 0;
  if (!Closed(stdout, error)) {
    if (!outputLossRaised) Report(WriteError(error));
    if (status == 0) status = 1;
  }
  // Nothing is left to tell of a loss on standard error but the status.
  if (!Closed(stderr, error) && status == 0) status = 1;
  return status;
}

}  // namespace cli

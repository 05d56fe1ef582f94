// SPDX-License-Identifier: Apache-2.0
// vidange: the companion command of the installer, for support staff, tests
// and benchmarks. It runs statements on a database, shows its schema, and
// runs one table transfer (export or import), all through the same modules
// as the installer, and copies databases (an Access file into the engine's
// format among them), runs the installation without a window, verifies an
// installation and compares two tables. CLI11 reads the command line: each
// command, in a file of its own, declares its arguments and options once,
// beside the function that does its work (cli/command.h); this file holds
// the list of commands, the usage and help layout, the French complaints
// about a wrong call, and the final check that the output reached its
// destination.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "command.h"

namespace {

using cli::Command;
using cli::Printable;

// The usage of the whole tool: every command's line, then the informative
// options.
std::string Usage(const std::vector<Command>& commands) {
  std::string text = "Utilisation :\n";
  for (const Command& command : commands) text += "  vidange " + command.synopsis + "\n";
  text += "  vidange --help | -h\n  vidange --version\nL'aide d'une commande : vidange COMMANDE --help\n";
  return text;
}

// What the tool's help adds to its usage: the progress and how a site's
// scripts install and check the conventions on several machines.
constexpr char kExamples[] =
    "\n"
    "install, verify, compare, copy, import et export montrent leur progression sur\n"
    "la sortie d'erreur quand c'est un terminal ; leur option --quiet la tait.\n"
    "\n"
    "Installer sur plusieurs postes depuis un script, puis vérifier chaque poste :\n"
    "  for poste in poste1 poste2 poste3; do\n"
    "    ssh \"$poste\" vidange install /srv/appli /srv/medecin --quiet &&\n"
    "      ssh \"$poste\" vidange verify /srv/appli /srv/medecin ||\n"
    "      echo \"$poste : à reprendre\"\n"
    "  done\n";

// The usage line of one command.
std::string Usage(const Command& command) { return "Utilisation :\n  vidange " + command.synopsis + "\n"; }

// The help of one command: its usage line, what it does, and its options.
std::string Help(const Command& command) {
  std::string text = Usage(command) + "\n" + command.parser->get_description() + "\n";
  std::vector<std::pair<std::string, std::string>> options;
  std::size_t width = 0;
  for (const CLI::Option* option : command.parser->get_options()) {
    if (option->get_positional()) continue;
    std::string names = option->get_name(false, true);
    for (std::size_t comma = names.find(','); comma != std::string::npos; comma = names.find(',', comma + 2)) {
      names.insert(comma + 1, " ");
    }
    if (option->get_items_expected_max() > 0) names += " " + option->get_type_name();
    width = std::max(width, names.size());
    options.emplace_back(names, option->get_description());
  }
  text += "\nOptions :\n";
  for (const auto& [names, description] : options) {
    std::string indented = description;
    for (std::size_t newline = indented.find('\n'); newline != std::string::npos;
         newline = indented.find('\n', newline + 1)) {
      indented.insert(newline + 1, width + 4, ' ');
    }
    text += "  " + names + std::string(width - names.size() + 2, ' ') + indented + "\n";
  }
  return text;
}

// The command the line names, if any.
const Command* Selected(const std::vector<Command>& commands) {
  for (const Command& command : commands) {
    if (command.parser->parsed()) return &command;
  }
  return nullptr;
}

// What was wrong, in French, for a refusal of the parser; `command` is the
// command the line names, if any.
std::string Complaint(const CLI::ParseError& error, const CLI::App& vidange, const Command* command,
                      const std::string& lastWord) {
  if (command != nullptr && dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    for (const CLI::Option* option : command->parser->get_options()) {
      if (option->get_positional() && option->get_required() && option->count() == 0) {
        return "argument manquant : " + option->get_name(true);
      }
    }
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    // An option that takes a value takes the next word, whatever it is: only
    // the last word of the line can be left without one. The option is the
    // command's own or one that every command takes.
    const CLI::Option* option = command != nullptr ? command->parser->get_option_no_throw(lastWord) : nullptr;
    if (option == nullptr) option = vidange.get_option_no_throw(lastWord);
    if (option != nullptr && !option->get_positional() && option->get_items_expected_max() > 0) {
      return "valeur manquante après " + lastWord;
    }
  }
  if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr) {
    // The option's own validator wrote the French text after the option's
    // name and a colon; the colon goes.
    std::string text = error.what();
    const std::size_t colon = text.find(": ");
    if (text.rfind('-', 0) == 0 && colon != std::string::npos) text.erase(colon, 1);
    return text;
  }
  return std::string("appel incorrect : ") + error.what();
}

// A call the tool cannot understand: what was wrong, then the usage (the
// command's, or the whole tool's) on standard error; status 2.
int UsageError(const std::string& complaint, const Command* command, const std::vector<Command>& commands) {
  if (command == nullptr) {
    std::fprintf(stderr, "vidange : %s\n%s", Printable(complaint).c_str(), Usage(commands).c_str());
  } else {
    const std::string name = command->parser->get_name();
    std::fprintf(stderr, "vidange %s : %s\n%sL'aide de la commande : vidange %s --help\n", name.c_str(),
                 Printable(complaint).c_str(), Usage(*command).c_str(), name.c_str());
  }
  return 2;
}

// Words the parser could not place, but "--", the mark that only
// arguments follow.
std::vector<std::string> Unexpected(const CLI::App& parser) {
  std::vector<std::string> words;
  for (const std::string& word : parser.remaining()) {
    if (word != "--") words.push_back(word);
  }
  return words;
}

std::string Unknown(const std::string& word, const char* whatElse) {
  const bool option = word.size() > 1 && word[0] == '-';
  return std::string(option ? "option inconnue" : whatElse) + " « " + word + " »";
}

// Reads the command line and runs the command it names; the call's status.
int Vidange(int argc, char** argv) {
  CLI::App vidange("", "vidange");
  vidange.set_help_flag("-h,--help", "affiche l'utilisation et se termine");
  // Words that fit nowhere are kept rather than refused, so that the
  // complaint names them in French.
  vidange.allow_extras();
  // One command per call: a later command's name is an argument like any other.
  vidange.require_subcommand(0, 1);
  // An option given twice keeps its last value.
  vidange.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  bool version = false;
  vidange.add_flag("--version", version, "affiche la version et se termine");
  const std::vector<Command> commands = {
      cli::DeclareSql(vidange),  cli::DeclareSchema(vidange),  cli::DeclareExport(vidange),
      cli::DeclareImport(vidange), cli::DeclareCopy(vidange),  cli::DeclareInstall(vidange),
      cli::DeclareVerify(vidange), cli::DeclareCompare(vidange)};
  // Every command sees the options of vidange itself, so that --version after a command is
  // refused as such.
  for (const Command& command : commands) command.parser->fallthrough();
  try {
    vidange.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    // Asked for, the usage is an answer rather than a complaint: standard output, status 0.
    const Command* command = Selected(commands);
    std::fputs((command != nullptr ? Help(*command) : Usage(commands) + kExamples).c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& error) {
    const Command* command = Selected(commands);
    return UsageError(Complaint(error, vidange, command, argc > 1 ? argv[argc - 1] : ""), command, commands);
  }
  const Command* command = Selected(commands);
  // Words left to `vidange` itself: before the command, or after a "--"
  // that ended the command's own arguments.
  std::vector<std::string> stray = Unexpected(vidange);
  if (version) {
    if (command != nullptr || !stray.empty()) return UsageError("--version s'emploie seul", nullptr, commands);
    std::puts("vidange " VIDANGE_VERSION);
    return 0;
  }
  if (command == nullptr) {
    return UsageError(stray.empty() ? "commande manquante" : Unknown(stray.front(), "commande inconnue"), nullptr,
                      commands);
  }
  const std::vector<std::string> extra = Unexpected(*command->parser);
  stray.insert(stray.end(), extra.begin(), extra.end());
  if (!stray.empty()) return UsageError(Unknown(stray.front(), "argument en trop"), command, commands);
  return command->work();
}

}  // namespace

int main(int argc, char** argv) { return cli::CloseStandardStreams(Vidange(argc, argv)); }

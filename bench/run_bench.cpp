// SPDX-License-Identifier: Apache-2.0
// Benchmark of a whole installation run, through the same code the window
// runs, against the sum of its five exports and five imports made alone on
// the same databases, and the same run while another program holds a read
// transaction on patbase.mdb. Each side runs in a child process (its own peak
// memory) on fresh copies of the databases.
//
// usage: run_bench SOURCE DICTIONARY DATA
//   SOURCE      a source database (e.g. from make-conventions-source.py)
//   DICTIONARY  a lexbase.mdb to copy, DATA a patbase.mdb to copy
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "installation/Installation.h"
#include "bench/in_child.h"
#include "dbengine/dbengine.h"
#include "tests/support/held_reader.h"
#include "transfer/VidangeTables.h"

using namespace installation;
using namespace transfer;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

class SilentHost : public InstallationHost {
 public:
  std::string dictionary, data, program;
  std::string DictionaryFolderText() const override { return dictionary; }
  std::string DataFolderText() const override { return data; }
  std::string ProgramFolder() const override { return program; }
  void ShowMessage(const std::string& text, const std::string&, MessageIcon) override {
    if (text != "Installation terminée.") std::fprintf(stderr, "%s\n", text.c_str());
  }
  void SetOkEnabled(bool) override {}
  void SetWaitCursor(bool) override {}
  void Quit() override {}
};

struct Folders {
  fs::path program, dictionary, data;
};

Folders Stage(const fs::path& root, const char* source, const char* dictionary, const char* data) {
  Folders folders{root / "programme", root / "dictionnaire", root / "donnees"};
  fs::remove_all(root);
  for (const fs::path& folder : {folders.program, folders.dictionary, folders.data}) fs::create_directories(folder);
  fs::copy_file(source, folders.program / "CONVENTIONS_TEST_KVEL.mdb");
  fs::copy_file(dictionary, folders.dictionary / "lexbase.mdb");
  fs::copy_file(data, folders.data / "patbase.mdb");
  return folders;
}

double WholeRun(const Folders& folders) {
  SilentHost host;
  host.program = folders.program.string();
  host.dictionary = folders.dictionary.string();
  host.data = folders.data.string();
  const auto start = Clock::now();
  const InstallationOutcome outcome = RunInstallationSteps(host);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return outcome == InstallationOutcome::kCompleted ? seconds : -1;
}

// The ten transfers alone, timed one by one; returns the sum of their times.
double TransfersAlone(const Folders& folders) {
  struct Entry {
    const char* table;
    const char* file;
    bool dictionary;
  } const entries[] = {{"CentreServicesAMC", "TB_CentreServiceAMC.txt", true},
                       {"Conventions", "TB_Conventions.txt", false},
                       {"CONVENTIONS_REGROUPEMENT", "TB_ConventionsRegroup.txt", false},
                       {"CONVENTIONS_TYPE", "TB_ConventionsType.txt", false},
                       {"CORRESPONDANCE_MUTNUM_AMC", "TB_CorrespondanceMutnum.txt", true}};
  dbengine::Database source, dictionary, data;
  source.Open((folders.program / "CONVENTIONS_TEST_KVEL.mdb").string());
  dictionary.Open((folders.dictionary / "lexbase.mdb").string());
  data.Open((folders.data / "patbase.mdb").string());
  double total = 0;
  for (const Entry& entry : entries) {
    std::string separator;
    const auto start = Clock::now();
    const std::string result = ExportTableToText(source, entry.table, (folders.data / entry.file).string(), separator);
    total += std::chrono::duration<double>(Clock::now() - start).count();
    if (result != kTransferSuccess) return -1;
  }
  for (const Entry& entry : entries) {
    std::string separator;
    const auto start = Clock::now();
    const std::string result = ImportTextIntoTable(entry.dictionary ? dictionary : data, entry.table,
                                                   (folders.data / entry.file).string(), -1, separator);
    total += std::chrono::duration<double>(Clock::now() - start).count();
    if (result != kTransferSuccess) return -1;
  }
  const auto start = Clock::now();
  data.Close();
  dictionary.Close();
  source.Close();
  return total + std::chrono::duration<double>(Clock::now() - start).count();
}

// The whole run while another program reads patbase.mdb from before the run
// to after it; the reader must still see the rows it began with.
double RunBesideReader(const Folders& folders) {
  HeldReader reader((folders.data / "patbase.mdb").string(), "Conventions");
  const std::int64_t seen = reader.CountBefore();
  const double seconds = WholeRun(folders);
  return seen >= 0 && reader.Release() == seen ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: run_bench SOURCE DICTIONARY DATA\n");
    return 2;
  }
  const fs::path root = fs::temp_directory_path() / ("run_bench_" + std::to_string(getpid()));
  // Alternated three times, the best of each: the first pass also warms the file cache.
  std::pair<double, long> alone{1e9, 0}, run{1e9, 0}, besideReader{1e9, 0};
  for (int pass = 0; pass < 3; ++pass) {
    const auto a = InChild([&] { return TransfersAlone(Stage(root / "alone", argv[1], argv[2], argv[3])); });
    const auto r = InChild([&] { return WholeRun(Stage(root / "run", argv[1], argv[2], argv[3])); });
    const auto b = InChild([&] { return RunBesideReader(Stage(root / "reader", argv[1], argv[2], argv[3])); });
    if (a.first <= 0 || r.first <= 0 || b.first <= 0) alone.first = -1;
    if (alone.first > 0 && a.first < alone.first) alone = a;
    if (alone.first > 0 && r.first < run.first) run = r;
    if (alone.first > 0 && b.first < besideReader.first) besideReader = b;
  }
  fs::remove_all(root);
  if (alone.first <= 0 || run.first <= 0 || besideReader.first <= 0) {
    std::fprintf(stderr, "a transfer or the run failed\n");
    return 1;
  }
  std::printf("five exports and five imports alone: %7.2f s  peak %ld KiB\n", alone.first, alone.second);
  std::printf("whole installation run:              %7.2f s  peak %ld KiB\n", run.first, run.second);
  std::printf("run / transfers: %.0f %%\n", 100.0 * run.first / alone.first);
  std::printf("whole run, a reader holding patbase.mdb: %7.2f s  peak %ld KiB\n", besideReader.first,
              besideReader.second);
  std::printf("beside a reader / alone: %.2f\n", besideReader.first / run.first);
  return 0;
}

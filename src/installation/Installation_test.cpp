// SPDX-License-Identifier: Apache-2.0
// The installation run through its window-free host, on copies of the sample
// databases in a temporary folder.
#include "installation/Installation.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "dbengine/dbengine.h"
#include "support/child_process.h"
#include "installation/Verification.h"
#include "support/held_reader.h"

using namespace installation;

namespace fs = std::filesystem;

namespace {

struct Box {
  std::string text;
  std::string title;
  MessageIcon icon;
};

// Records the tables whose transfer ended, in order.
class TransfersSeen : public dbengine::Progress {
 public:
  std::vector<std::string> done;
  std::function<void()> afterEach;  // called after each transfer, when set
  void Rows(std::string_view, std::uint64_t) override {}
  void Done(std::string_view table) override {
    done.emplace_back(table);
    if (afterEach) afterEach();
  }
};

class TestHost : public InstallationHost {
 public:
  TransfersSeen transfers;
  std::string dictionary;
  std::string data;
  std::string program;
  std::vector<Box> boxes;
  std::vector<std::string> events;  // "ok:0", "wait:1", "box", "quit" in order

  std::string DictionaryFolderText() const override { return dictionary; }
  std::string DataFolderText() const override { return data; }
  std::string ProgramFolder() const override { return program; }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    boxes.push_back({text, title, icon});
    events.push_back("box");
  }
  void SetOkEnabled(bool enabled) override { events.push_back(enabled ? "ok:1" : "ok:0"); }
  void SetWaitCursor(bool waiting) override { events.push_back(waiting ? "wait:1" : "wait:0"); }
  void Quit() override { events.push_back("quit"); }
  dbengine::Progress* Progress() override { return &transfers; }
  void WhileWaiting() override { ++waits; }
  int waits = 0;  // calls of WhileWaiting
  std::optional<std::string> source;
  std::optional<std::string> SourceDatabasePath() const override { return source; }
  std::chrono::milliseconds BusyWait() const override { return std::chrono::milliseconds(300); }
};

const char* const kTables[] = {"CentreServicesAMC", "Conventions", "CONVENTIONS_REGROUPEMENT", "CONVENTIONS_TYPE",
                               "CORRESPONDANCE_MUTNUM_AMC"};
const char* const kTransferFiles[] = {"TB_CentreServiceAMC.txt", "TB_Conventions.txt", "TB_ConventionsRegroup.txt",
                                      "TB_ConventionsType.txt", "TB_CorrespondanceMutnum.txt"};

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::vector<dbengine::Value>> Rows(const fs::path& database, const std::string& table) {
  dbengine::Database db;
  db.Open(database.string());
  std::vector<std::vector<dbengine::Value>> rows;
  dbengine::Recordset records = db.OpenRecordset("SELECT * FROM [" + table + "]");
  while (!records.IsEOF()) {
    std::vector<dbengine::Value>& row = rows.emplace_back();
    for (std::int16_t field = 0; field < records.FieldCount(); ++field) row.push_back(records.FieldValue(field));
    records.MoveNext();
  }
  db.Close();
  return rows;
}

void Execute(const fs::path& database, const std::string& statement) {
  dbengine::Database db;
  db.Open(database.string());
  db.Execute(statement);
  db.Close();
}

class InstallationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("installation_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    const fs::path sample = SAMPLE_DIR;
    fs::create_directories(root_ / "programme");
    fs::create_directories(root_ / "dictionnaire");
    fs::create_directories(root_ / "donnees");
    fs::copy_file(sample / "CONVENTIONS_TEST_KVEL.mdb", Source());
    fs::copy_file(sample / "dictionnaire" / "lexbase.mdb", Dictionary());
    fs::copy_file(sample / "donnees" / "patbase.mdb", Data());
    host_.program = (root_ / "programme").string();
    host_.dictionary = (root_ / "dictionnaire").string();
    host_.data = (root_ / "donnees").string() + "/";
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Source() const { return root_ / "programme" / "CONVENTIONS_TEST_KVEL.mdb"; }
  fs::path Dictionary() const { return root_ / "dictionnaire" / "lexbase.mdb"; }
  fs::path Data() const { return root_ / "donnees" / "patbase.mdb"; }
  fs::path TargetOf(const std::string& table) const {
    return table == "CentreServicesAMC" || table == "CORRESPONDANCE_MUTNUM_AMC" ? Dictionary() : Data();
  }

  // The completion message closes every working phase, then the window.
  void ExpectEndsWithCompletion() const {
    ASSERT_FALSE(host_.boxes.empty());
    EXPECT_EQ(host_.boxes.back().text, "Installation terminée.");
    EXPECT_EQ(host_.boxes.back().title, "Installation des conventions de tests du KVEL");
    EXPECT_EQ(host_.boxes.back().icon, MessageIcon::Information);
    ASSERT_GE(host_.events.size(), 2u);
    EXPECT_EQ(host_.events.back(), "quit");
  }

  void ExpectEveryTargetEqualToItsSource() const {
    for (const char* table : kTables) {
      const auto source = Rows(Source(), table);
      const auto target = Rows(TargetOf(table), table);
      ASSERT_FALSE(source.empty()) << table;
      ASSERT_EQ(source.size(), target.size()) << table;
      for (std::size_t row = 0; row < source.size(); ++row) {
        for (std::size_t field = 0; field < source[row].size(); ++field) {
          dbengine::Value expected = source[row][field];
          // The transfer file writes a Null as an empty field, which a text field reads back as an empty text.
          if (expected.isNull && (expected.type == dbengine::kText || expected.type == dbengine::kMemo)) {
            expected = dbengine::Value::Text(expected.type, "");
          }
          EXPECT_EQ(target[row][field], expected) << table << " row " << row << " field " << field;
        }
      }
    }
  }

  const Box& ErrorReport() const {
    EXPECT_EQ(host_.boxes.size(), 2u);
    EXPECT_EQ(host_.boxes.front().title, "Erreur d'installation");
    EXPECT_EQ(host_.boxes.front().icon, MessageIcon::Exclamation);
    return host_.boxes.front();
  }

  fs::path root_;
  TestHost host_;
};

TEST_F(InstallationTest, ProgramsReadingBothTargetsNeitherStallNorSpoilTheRun) {
  HeldReader dataReader(Data().string(), "Conventions");
  HeldReader dictionaryReader(Dictionary().string(), "CentreServicesAMC");
  const std::int64_t dataSeen = dataReader.CountBefore();
  const std::int64_t dictionarySeen = dictionaryReader.CountBefore();
  ASSERT_GT(dataSeen, 0);
  ASSERT_GT(dictionarySeen, 0);
  InstallationFailure failure;
  EXPECT_EQ(RunInstallationSteps(host_, &failure), InstallationOutcome::kCompleted)
      << failure.number << " " << failure.description;
  ASSERT_EQ(host_.boxes.size(), 1u) << host_.boxes.front().text;
  ExpectEveryTargetEqualToItsSource();
  EXPECT_EQ(dataReader.Release(), dataSeen);
  EXPECT_EQ(dictionaryReader.Release(), dictionarySeen);
}

TEST_F(InstallationTest, TargetHeldByAnotherProgramsWriteCostsTheRunOneWait) {
  HeldReader writer(Data().string(), "Conventions", HeldReader::kWrite);
  const std::int64_t held = writer.CountBefore();
  ASSERT_GT(held, 0);
  const auto start = std::chrono::steady_clock::now();
  InstallationFailure failure;
  EXPECT_EQ(RunInstallationSteps(host_, &failure), InstallationOutcome::kFailed);
  // Seven statements on patbase.mdb (four key statements, three imports)
  // would each wait 5 s; after the first wait the others fail at once.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));
  EXPECT_GT(host_.waits, 0);
  EXPECT_EQ(failure.number, 3050);
  EXPECT_EQ(ErrorReport().text.rfind("Une erreur est survenue lors de l'ajout des conventions de tests dans la "
                                     "base !\r\nerreur n°3050\r\n",
                                     0),
            0u);
  ExpectEndsWithCompletion();
  EXPECT_EQ(writer.Release(), held);
  for (const char* table : {"CentreServicesAMC", "CORRESPONDANCE_MUTNUM_AMC"}) {
    EXPECT_EQ(Rows(Dictionary(), table).size(), Rows(Source(), table).size())
        << "the dictionary, not held, is installed";
  }
}

TEST_F(InstallationTest, ChecksStopAtTheFirstProblemWithItsMessage) {
  const std::string missing = (root_ / "ailleurs").string();
  const std::string dataBytes = Bytes(Data());
  struct Case {
    std::string dictionary;
    std::string data;
    std::string message;
  } const cases[] = {
      {"", "", "Le chemin de la base Lexbase.mdb n'est pas spécifié !"},
      {"", host_.data, "Le chemin de la base Lexbase.mdb n'est pas spécifié !"},
      {host_.dictionary, "", "Le chemin de la base Patbase.mdb n'est pas spécifié !"},
      {missing, missing, "Base " + missing + "/lexbase.mdb non trouvée !"},
      {missing + "/", host_.data, "Base " + missing + "/lexbase.mdb non trouvée !"},
      {host_.dictionary, missing, "Base " + missing + "/patbase.mdb non trouvée !"},
      // Blanks are not trimmed: a field of blanks names a folder that is not there.
      {"  ", host_.data, "Base   /lexbase.mdb non trouvée !"},
  };
  for (const Case& check : cases) {
    TestHost host;
    host.dictionary = check.dictionary;
    host.data = check.data;
    host.program = host_.program;
    EXPECT_EQ(RunInstallationSteps(host), InstallationOutcome::kNotStarted);
    ASSERT_EQ(host.boxes.size(), 1u) << check.message;
    EXPECT_EQ(host.boxes[0].text, check.message);
    EXPECT_EQ(host.boxes[0].title, "Attention");
    EXPECT_EQ(host.boxes[0].icon, MessageIcon::Critical);
    EXPECT_EQ(host.events, std::vector<std::string>{"box"}) << "the window stays as it was";
  }
  EXPECT_EQ(Bytes(Data()), dataBytes);
}

TEST_F(InstallationTest, FullRunCopiesEveryRowAndRebuildsTheKeys) {
  const std::string sourceBytes = Bytes(Source());
  // Full copies that exports of a killed run left under temporary names,
  // whichever process or machine wrote them, go with the transfer files.
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const fs::path dataFolder = root_ / "donnees";
  const std::vector<fs::path> leftovers = {
      dataFolder / ("TB_Conventions.txt.~" + std::string(host) + "." + std::to_string(::getpid()) + ".0"),
      dataFolder / "TB_CorrespondanceMutnum.txt.~autre-poste.4242.1"};
  for (const fs::path& leftover : leftovers) std::ofstream(leftover) << "copie complète\r\n";
  std::ofstream(dataFolder / "notes.txt.~autre-poste.4242.1") << "pas à nous\r\n";
  InstallationFailure failure;
  EXPECT_EQ(RunInstallationSteps(host_, &failure), InstallationOutcome::kCompleted)
      << failure.number << " " << failure.description;
  ASSERT_EQ(host_.boxes.size(), 1u);
  ExpectEndsWithCompletion();
  EXPECT_EQ(host_.events, (std::vector<std::string>{"ok:0", "wait:1", "wait:0", "box", "quit"}));
  // The five exports in list order, then the imports, dictionary tables first.
  EXPECT_EQ(host_.transfers.done,
            (std::vector<std::string>{"CentreServicesAMC", "Conventions", "CONVENTIONS_REGROUPEMENT",
                                      "CONVENTIONS_TYPE", "CORRESPONDANCE_MUTNUM_AMC", "CentreServicesAMC",
                                      "CORRESPONDANCE_MUTNUM_AMC", "Conventions", "CONVENTIONS_REGROUPEMENT",
                                      "CONVENTIONS_TYPE"}));

  ExpectEveryTargetEqualToItsSource();

  dbengine::Database data;
  data.Open(Data().string());
  const std::pair<const char*, std::vector<std::string>> keys[] = {
      {"CONVENTIONS_REGROUPEMENT", {"NumeroAMC", "TypeConvention", "CritereSecondaire", "NumeroSignataire"}},
      {"Conventions",
       {"NumOrganismeSignataire", "TypeConvention", "CritereSecondaire", "TypeAccord", "NumAMC",
        "IndicateurConventionGroupee"}},
  };
  for (const auto& [table, fields] : keys) {
    const dbengine::TableDef definition = data.TableDefs(table);
    const dbengine::IndexDef* primary = definition.PrimaryIndex();
    ASSERT_NE(primary, nullptr) << table;
    EXPECT_EQ(primary->name, "PrimaryKey");
    EXPECT_EQ(primary->fields, fields);
  }
  data.Close();

  for (const char* file : kTransferFiles) EXPECT_FALSE(fs::exists(root_ / "donnees" / file)) << file;
  for (const fs::path& leftover : leftovers) EXPECT_FALSE(fs::exists(leftover)) << leftover;
  EXPECT_TRUE(fs::exists(dataFolder / "notes.txt.~autre-poste.4242.1"));
  EXPECT_EQ(Bytes(Source()), sourceBytes) << "the source database is only read";
}

TEST_F(InstallationTest, DataDatabaseThatIsAFolderIsReportedByItsOpen) {
  fs::remove(Data());
  fs::create_directory(Data());
  EXPECT_EQ(RunInstallationSteps(host_), InstallationOutcome::kFailed);
  const Box& report = ErrorReport();
  EXPECT_EQ(report.text.rfind("Une erreur est survenue lors de l'ajout des conventions de tests dans la base !\r\n"
                              "erreur n°3343\r\n",
                              0),
            0u)
      << report.text;
  ExpectEndsWithCompletion();
  EXPECT_EQ(Rows(Dictionary(), "CentreServicesAMC").size(), Rows(Source(), "CentreServicesAMC").size());
  EXPECT_EQ(Rows(Dictionary(), "CORRESPONDANCE_MUTNUM_AMC").size(),
            Rows(Source(), "CORRESPONDANCE_MUTNUM_AMC").size());
  for (const char* file : kTransferFiles) EXPECT_FALSE(fs::exists(root_ / "donnees" / file)) << file;
}

TEST_F(InstallationTest, MissingSourceTableLeavesItsTargetUntouchedAndIsNamed) {
  Execute(Source(), "DROP TABLE CONVENTIONS_TYPE");
  const auto before = Rows(Data(), "CONVENTIONS_TYPE");
  // A file left by an earlier, interrupted run must not be loaded either.
  std::ofstream(root_ / "donnees" / "TB_ConventionsType.txt") << "ZZ|Ancienne ligne\r\n";
  EXPECT_EQ(RunInstallationSteps(host_), InstallationOutcome::kFailed);
  const Box& report = ErrorReport();
  EXPECT_NE(report.text.find("erreur n°3078\r\n(TABLE CONVENTIONS_TYPE):"), std::string::npos) << report.text;
  ExpectEndsWithCompletion();
  EXPECT_EQ(Rows(Data(), "CONVENTIONS_TYPE"), before);
  EXPECT_EQ(Rows(Data(), "Conventions").size(), Rows(Source(), "Conventions").size());
}

TEST_F(InstallationTest, TargetWithoutItsKeyIsInstalledAndGetsItsKeyBack) {
  Execute(Data(), "ALTER TABLE CONVENTIONS_REGROUPEMENT DROP CONSTRAINT PrimaryKey");
  InstallationFailure failure;
  EXPECT_EQ(RunInstallationSteps(host_, &failure), InstallationOutcome::kCompleted)
      << failure.number << " " << failure.description;
  ASSERT_EQ(host_.boxes.size(), 1u) << host_.boxes.front().text;
  ExpectEveryTargetEqualToItsSource();
  dbengine::Database data;
  data.Open(Data().string());
  const dbengine::TableDef definition = data.TableDefs("CONVENTIONS_REGROUPEMENT");
  ASSERT_NE(definition.PrimaryIndex(), nullptr);
  EXPECT_EQ(definition.PrimaryIndex()->fields, KeyFields(kRebuiltKeys[0]));
  data.Close();
}

TEST_F(InstallationTest, KeyIsThereWhenTheRunIsKilledBetweenItsDropAndItsAddition) {
  for (std::size_t key = 0; key < kRebuiltKeys.size(); ++key) {
    const testsupport::ChildResult child = testsupport::RunInChild([&] {
      dbengine::Database data;
      data.Open(Data().string());
      RebuildKey(data, key, [] { ::raise(SIGKILL); });
      return std::string("not killed");
    });
    ASSERT_EQ(child.signal, SIGKILL) << child.report;
    dbengine::Database data;
    data.Open(Data().string());
    const dbengine::TableDef definition = data.TableDefs(kRebuiltKeys[key].table);
    const dbengine::IndexDef* primary = definition.PrimaryIndex();
    ASSERT_NE(primary, nullptr) << kRebuiltKeys[key].table;
    EXPECT_EQ(primary->fields, KeyFields(kRebuiltKeys[key]));
    data.Close();
  }
}

TEST_F(InstallationTest, SecondRunOnBusyFoldersRefusesAndTheFirstInstallsItsOwnRows) {
  // The other source differs from the first by its CONVENTIONS_TYPE rows.
  const fs::path otherSource = root_ / "autre.mdb";
  fs::copy_file(Source(), otherSource);
  Execute(otherSource, "DELETE FROM CONVENTIONS_TYPE");
  int paused[2];
  int resume[2];
  ASSERT_EQ(::pipe(paused), 0);
  ASSERT_EQ(::pipe(resume), 0);
  const pid_t first = ::fork();
  if (first == 0) {
    // The first run stops after its first export, until told to go on.
    host_.transfers.afterEach = [&] {
      if (host_.transfers.done.size() != 1) return;
      char go = 0;
      if (::write(paused[1], "p", 1) != 1 || ::read(resume[0], &go, 1) != 1) ::_exit(3);
    };
    ::_exit(RunInstallationSteps(host_) == InstallationOutcome::kCompleted ? 0 : 4);
  }
  char seen = 0;
  ASSERT_EQ(::read(paused[0], &seen, 1), 1);
  // Either folder alone is enough to be refused; the other is a copy elsewhere.
  fs::create_directories(root_ / "ailleurs");
  fs::copy_file(Dictionary(), root_ / "ailleurs" / "lexbase.mdb");
  fs::copy_file(Data(), root_ / "ailleurs" / "patbase.mdb");
  const struct {
    std::string dictionary, data, busy;
  } cases[] = {
      {(root_ / "ailleurs").string(), host_.data, host_.data},
      {host_.dictionary, (root_ / "ailleurs").string(), host_.dictionary + "/"},
  };
  for (const auto& entry : cases) {
    TestHost second;
    second.program = host_.program;
    second.source = otherSource.string();
    second.dictionary = entry.dictionary;
    second.data = entry.data;
    const std::string dataBytes = Bytes(Data());
    InstallationFailure refusal;
    EXPECT_EQ(RunInstallationSteps(second, &refusal), InstallationOutcome::kNotStarted);
    EXPECT_EQ(refusal.number, kInstallationBusy);
    ASSERT_EQ(second.boxes.size(), 1u);
    EXPECT_EQ(second.boxes[0].title, "Attention");
    EXPECT_EQ(second.boxes[0].icon, MessageIcon::Critical);
    EXPECT_NE(second.boxes[0].text.find("« " + entry.busy + " »"), std::string::npos)
        << second.boxes[0].text;
    EXPECT_GT(second.waits, 0);
    EXPECT_EQ(Bytes(Data()), dataBytes);
    EXPECT_TRUE(fs::exists(root_ / "donnees" / kTransferFiles[0])) << "the first run's file is left to it";
  }
  ASSERT_EQ(::write(resume[1], "r", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(first, &status, 0), first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ExpectEveryTargetEqualToItsSource();
}

TEST_F(InstallationTest, TemporariesOfARunningProcessAreLeftAndThoseOfAnEndedOneGo) {
  const pid_t running = ::getppid();  // alive, and not this process
  ASSERT_GT(running, 0);
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const fs::path folder = root_ / "donnees";
  const struct {
    fs::path leftover;
    bool kept;
  } cases[] = {
      {folder / ("TB_Conventions.txt.~" + std::string(host) + "." + std::to_string(running) + ".0"), true},
      {folder / ("TB_ConventionsType.txt.~" + std::string(host) + "." + std::to_string(ended) + ".0"), false},
  };
  for (const auto& entry : cases) std::ofstream(entry.leftover) << "copie\r\n";
  EXPECT_EQ(RunInstallationSteps(host_), InstallationOutcome::kCompleted);
  for (const auto& entry : cases) EXPECT_EQ(fs::exists(entry.leftover), entry.kept) << entry.leftover;
}

TEST_F(InstallationTest, RunEndedBySignalTakesItsTransferFilesWithIt) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    const testsupport::ChildResult child = testsupport::RunInChild([&] {
      host_.transfers.afterEach = [&] {
        if (host_.transfers.done.size() == 3) ::raise(signal);
      };
      RunInstallationSteps(host_);
      return std::string("not ended");
    });
    EXPECT_EQ(child.signal, signal) << child.report;
    for (const fs::directory_entry& entry : fs::directory_iterator(root_ / "donnees")) {
      EXPECT_NE(entry.path().filename().string().rfind("TB_", 0), 0u) << entry.path() << " after " << signal;
    }
  }
}

TEST_F(InstallationTest, RefusedLinesAreReportedAsTheImportWarning) {
  // A target whose field is narrower than the source's refuses the longer values.
  Execute(Data(), "DROP TABLE CONVENTIONS_TYPE");
  Execute(Data(), "CREATE TABLE CONVENTIONS_TYPE (TypeConvention TEXT(3), Libelle TEXT(2), Domaine TEXT(40), "
                  "TiersPayantIntegral BIT, NiveauPriorite SHORT, NbConventions LONG, PlafondAnnuel CURRENCY, "
                  "TauxPriseEnCharge DOUBLE, CoefficientMajoration SINGLE, DateCreation DATETIME, DateMaj DATETIME, "
                  "Description MEMO, Actif BIT)");
  EXPECT_EQ(RunInstallationSteps(host_), InstallationOutcome::kFailed);
  EXPECT_EQ(ErrorReport().text,
            "Une erreur est survenue lors de l'ajout des conventions de tests dans la base !\r\nerreur n°-1\r\n"
            "(TABLE CONVENTIONS_TYPE):Il est possible que la table exportée soit incomplète ou comporte des erreurs");
}

}  // namespace

namespace {

// Real Access files: a target that is one refuses its imports as read-only,
// and a source that is one is read like any other.
class InstallationJetTest : public InstallationTest {
 protected:
  fs::path Fixture(const char* name) const {
    const fs::path path = fs::path(JET_FIXTURES) / name;
    return path;
  }
};

TEST_F(InstallationJetTest, JetTargetRefusesItsImportsAndIsReported) {
  if (!fs::exists(Fixture("corpus/V1997_testV1997.mdb"))) GTEST_SKIP() << "no Access fixtures beside the project";
  fs::remove(Dictionary());
  fs::copy_file(Fixture("corpus/V1997_testV1997.mdb"), Dictionary());
  const std::string before = Bytes(Dictionary());
  EXPECT_EQ(RunInstallationSteps(host_), InstallationOutcome::kFailed);
  const Box& report = ErrorReport();
  EXPECT_NE(report.text.find("erreur n°3027\r\n(TABLE CentreServicesAMC):"), std::string::npos) << report.text;
  ExpectEndsWithCompletion();
  EXPECT_EQ(Bytes(Dictionary()), before);
  EXPECT_EQ(Rows(Data(), "Conventions").size(), Rows(Source(), "Conventions").size());
}

TEST_F(InstallationJetTest, JetSourceIsReadLikeAnyOther) {
  if (!fs::exists(Fixture("corpus/V1997_testV1997.mdb"))) GTEST_SKIP() << "no Access fixtures beside the project";
  // The sample Access file has none of the five tables: every export fails
  // with the engine's number for a missing table, and no target changes.
  fs::remove(Source());
  fs::copy_file(Fixture("corpus/V1997_testV1997.mdb"), Source());
  const std::string dataBefore = Bytes(Data());
  const std::string dictionaryBefore = Bytes(Dictionary());
  EXPECT_EQ(RunInstallationSteps(host_), InstallationOutcome::kFailed);
  EXPECT_NE(ErrorReport().text.find("erreur n°3078\r\n(TABLE CentreServicesAMC):"), std::string::npos);
  EXPECT_EQ(Rows(Dictionary(), "CentreServicesAMC").size(), 5u);
  EXPECT_EQ(Bytes(Dictionary()), dictionaryBefore);
}

TEST_F(InstallationTest, VerifiedKeyIsTheIndexTheFileEnforces) {
  for (const std::string& statement : KeyStatements()) Execute(Data(), statement);
  const std::string fields = "NumeroAMC, TypeConvention, CritereSecondaire, NumeroSignataire";
  // The SQLite index behind the key, made again by another program.
  const std::pair<std::string, bool> cases[] = {
      {"CREATE UNIQUE INDEX k ON CONVENTIONS_REGROUPEMENT (" + fields + ")", true},
      {"CREATE INDEX k ON CONVENTIONS_REGROUPEMENT (" + fields + ")", false},
      {"CREATE UNIQUE INDEX k ON CONVENTIONS_REGROUPEMENT (" + fields + ") WHERE NumeroAMC <> ''", false},
      {"CREATE UNIQUE INDEX k ON CONVENTIONS_REGROUPEMENT (NumeroAMC, TypeConvention, CritereSecondaire)", false},
      {"CREATE UNIQUE INDEX k ON CONVENTIONS_REGROUPEMENT "
       "(TypeConvention, NumeroAMC, CritereSecondaire, NumeroSignataire)",
       false},
  };
  for (const auto& [index, inPlace] : cases) {
    SCOPED_TRACE(index);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Data().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* name = nullptr;
    sqlite3_prepare_v2(db, "SELECT SqliteName FROM MSysIndexes WHERE TableName='CONVENTIONS_REGROUPEMENT' AND IsPrimary",
                       -1, &name, nullptr);
    ASSERT_EQ(sqlite3_step(name), SQLITE_ROW);
    const std::string quoted = "\"" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(name, 0))) + "\"";
    sqlite3_finalize(name);
    std::string remake = index;
    remake.replace(remake.find(" k "), 3, " " + quoted + " ");
    EXPECT_EQ(sqlite3_exec(db, ("DROP INDEX " + quoted + "; " + remake).c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const InstallationVerification verification =
        VerifyInstallation(root_ / "dictionnaire", root_ / "donnees", Source().string());
    ASSERT_EQ(verification.keys.front().table, "CONVENTIONS_REGROUPEMENT");
    EXPECT_EQ(verification.keys.front().InPlace(), inPlace);
  }
}

}  // namespace

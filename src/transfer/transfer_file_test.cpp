// SPDX-License-Identifier: Apache-2.0
#include "transfer/transfer_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "support/child_process.h"
#include "support/leftovers.h"

namespace fs = std::filesystem;

namespace {

class TransferFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("transfer_file_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string PathOf(const std::string& name) const { return (root_ / name).string(); }

  static void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> ReadAllLines(const std::string& bytes) {
    const std::string path = PathOf("in.txt");
    WriteBytes(path, bytes);
    transfer::TransferFileReader reader;
    reader.Open(path);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.ReadLine(line)) lines.emplace_back(line);
    return lines;
  }

  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  fs::path root_;
};

int ErrorNumberOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const dbengine::RuntimeError& error) {
    return error.Number();
  }
  return 0;
}

TEST_F(TransferFileTest, LinesEndAtCrLfOrLoneCrAndKeepLoneLf) {
  using Lines = std::vector<std::string>;
  struct Case {
    std::string bytes;
    Lines lines;
  } const cases[] = {
      {"", {}},
      {"abc", {"abc"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a\nb\n"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"\n\r", {"\n"}},
      {"\n", {"\n"}},
      {"a\n\r\n\nb\r\n", {"a\n", "\nb"}},
      {"\r\n", {""}},
      {"\r\n\n", {"", "\n"}},
      {"a|b||\r\n", {"a|b||"}},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(ReadAllLines(test.bytes), test.lines) << testing::PrintToString(test.bytes);
  }
}

TEST_F(TransferFileTest, LinesSpanningTheReadBuffer) {
  // A CR as the last byte of one buffer load and its LF as the first of the
  // next; then a line longer than a whole buffer.
  const std::size_t bufferSize = std::size_t{1} << 20;
  const std::string first(bufferSize - 1, 'x');
  const std::string second(bufferSize + 10, 'y');
  const auto lines = ReadAllLines(first + "\r\n" + second + "\r\nz");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], first);
  EXPECT_EQ(lines[1], second);
  EXPECT_EQ(lines[2], "z");
}

TEST_F(TransferFileTest, EveryWindows1252ByteRoundTrips) {
  std::string bytes;
  for (int byte = 1; byte < 256; ++byte) {
    if (byte != '\r' && byte != '\n') bytes.push_back(static_cast<char>(byte));
  }
  const auto lines = ReadAllLines(bytes + "\r\n");
  ASSERT_EQ(lines.size(), 1u);
  for (const char* character : {"é", "€", "ÿ", "Œ", "’"}) {
    EXPECT_NE(lines[0].find(character), std::string::npos) << character;
  }
  EXPECT_NE(lines[0].find("\xC2\x81"), std::string::npos);  // undefined 0x81 -> U+0081

  const std::string out = PathOf("out.txt");
  transfer::TransferFileWriter writer;
  writer.Open(out);
  std::size_t badOffset = 0;
  ASSERT_TRUE(writer.WriteLine(lines[0], badOffset));
  writer.Commit();
  EXPECT_EQ(ReadBytes(out), bytes + "\r\n");
}

TEST_F(TransferFileTest, ConversionToWindows1252) {
  struct Case {
    std::string utf8;
    bool converts;
    std::string bytes;      // when it converts
    std::size_t badOffset;  // when it does not
  } const cases[] = {
      {"abc", true, "abc", 0},
      {"é", true, "\xE9", 0},
      {"a€b", true,
       "a\x80"
       "b",
       0},
      {"Zoë|Ç", true, "Zo\xEB|\xC7", 0},
      {"é€ô\xC2\x81\xC2\xA0", true, "\xE9\x80\xF4\x81\xA0", 0},
      {"é€漢", false, "", 5},
      {"ab漢c", false, "", 2},
      {"aé\xFF", false, "", 3},  // not UTF-8
      {"é\xC3", false, "", 2},   // truncated sequence
      {"\xF0\x9F\x98\x80", false, "", 0},
  };
  transfer::Cp1252Converter converter;
  for (const Case& test : cases) {
    std::string out(test.utf8.size(), '\0');
    std::size_t written = 0;
    std::size_t badOffset = 99;
    ASSERT_EQ(converter.ToCp1252(test.utf8, out.data(), written, badOffset), test.converts)
        << test.utf8;
    if (test.converts) {
      EXPECT_EQ(out.substr(0, written), test.bytes) << test.utf8;
    } else {
      EXPECT_EQ(badOffset, test.badOffset) << test.utf8;
    }
  }
}

TEST(Cp1252ConverterTest, EveryCharacterOfBytes0x80To0x9FBothWays) {
  struct Case {
    char byte;
    std::string utf8;
  } const cases[] = {
      {'\x80', "€"},
      {'\x82', "‚"},
      {'\x83', "ƒ"},
      {'\x84', "„"},
      {'\x85', "…"},
      {'\x86', "†"},
      {'\x87', "‡"},
      {'\x88', "ˆ"},
      {'\x89', "‰"},
      {'\x8A', "Š"},
      {'\x8B', "‹"},
      {'\x8C', "Œ"},
      {'\x8E', "Ž"},
      {'\x91', "‘"},
      {'\x92', "’"},
      {'\x93', "“"},
      {'\x94', "”"},
      {'\x95', "•"},
      {'\x96', "–"},
      {'\x97', "—"},
      {'\x98', "˜"},
      {'\x99', "™"},
      {'\x9A', "š"},
      {'\x9B', "›"},
      {'\x9C', "œ"},
      {'\x9E', "ž"},
      {'\x9F', "Ÿ"},
      // the five undefined bytes: the C1 controls of the same number
      {'\x81', "\xC2\x81"},
      {'\x8D', "\xC2\x8D"},
      {'\x8F', "\xC2\x8F"},
      {'\x90', "\xC2\x90"},
      {'\x9D', "\xC2\x9D"},
  };
  ASSERT_EQ(std::size(cases), 32u);
  transfer::Cp1252Converter converter;
  std::string allBytes;
  std::string allUtf8;
  for (const Case& test : cases) {
    // alone, then between an ASCII letter and a Latin-1 one
    for (const std::string& prefix : {std::string(), std::string("a")}) {
      const std::string bytes = prefix + test.byte + "\xE9";
      const std::string utf8 = prefix + test.utf8 + "é";
      std::string back;
      converter.ToUtf8(bytes, back);
      EXPECT_EQ(back, utf8) << test.utf8;
      std::string out(utf8.size(), '\0');
      std::size_t written = 0;
      std::size_t badOffset = 99;
      ASSERT_TRUE(converter.ToCp1252(utf8, out.data(), written, badOffset)) << test.utf8;
      EXPECT_EQ(out.substr(0, written), bytes) << test.utf8;
    }
    allBytes += test.byte;
    allUtf8 += test.utf8;
  }
  std::string back;
  converter.ToUtf8(allBytes, back);
  EXPECT_EQ(back, allUtf8);
  std::string out(allUtf8.size(), '\0');
  std::size_t written = 0;
  std::size_t badOffset = 99;
  ASSERT_TRUE(converter.ToCp1252(allUtf8, out.data(), written, badOffset));
  EXPECT_EQ(out.substr(0, written), allBytes);
}

TEST(Cp1252ConverterTest, CharactersWithoutAByte) {
  struct Case {
    std::string utf8;
    std::size_t badOffset;
  } const cases[] = {
      {"ā", 0},
      {"x’ā", 4},         // U+0101
      {"é😀", 2},          // beyond U+FFFF
      {"«\xC2\x80»", 2},  // U+0080, a C1 control with no byte
      {"a\xC2\x9F", 1},   // U+009F
      {"a\x80", 1},       // a lone continuation byte
      {"a\xC0\xA9", 1},   // overlong forms
      {"a\xE0\x82\xA9", 1},
      {"a\xED\xA0\x80", 1},  // a surrogate
      {"a€\xE2\x82", 4},     // truncated
      {"a\xE2\x82"
       "b",
       1},
      {"a\xF8\x88\x80\x80\x80", 1},  // a five-byte form
      {"a\xEF\xBB\xBF", 1},          // U+FEFF
      {"a\xEF\xBF\xBD", 1},          // U+FFFD
  };
  transfer::Cp1252Converter converter;
  for (const Case& test : cases) {
    std::string out(test.utf8.size(), '\0');
    std::size_t written = 0;
    std::size_t badOffset = 99;
    EXPECT_FALSE(converter.ToCp1252(test.utf8, out.data(), written, badOffset))
        << testing::PrintToString(test.utf8);
    EXPECT_EQ(badOffset, test.badOffset) << testing::PrintToString(test.utf8);
  }
}

TEST(Cp1252ConverterTest, TagCharactersAreRefusedNotDropped) {
  // glibc's iconv would write nothing for U+E0000 to U+E007F; a character
  // the code page lacks must stop the export instead of vanishing.
  const std::string utf8 = "a\xC3\xA9\xF3\xA0\x80\x81" "b";
  transfer::Cp1252Converter converter;
  std::string out(utf8.size(), '\0');
  std::size_t written = 0;
  std::size_t badOffset = 99;
  EXPECT_FALSE(converter.ToCp1252(utf8, out.data(), written, badOffset));
  EXPECT_EQ(badOffset, 3u);
}

TEST_F(TransferFileTest, FilesThatCannotBeOpened) {
  fs::create_directories(root_ / "folder");
  WriteBytes(PathOf("present.txt"), "x");
  struct Case {
    std::string path;
    int readError;
    int writeError;
  } const cases[] = {
      {PathOf("absent.txt"), 53, 0},
      {PathOf("absent/t.txt"), 76, 76},
      {PathOf("present.txt/t.txt"), 76, 76},
      {PathOf("folder"), 75, 75},
      {"", 53, 75},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(ErrorNumberOf([&] { transfer::TransferFileReader().Open(test.path); }),
              test.readError)
        << test.path;
    EXPECT_EQ(ErrorNumberOf([&] { transfer::TransferFileWriter().Open(test.path); }),
              test.writeError)
        << test.path;
  }
  EXPECT_EQ(fs::exists(root_ / "absent.txt"), false);
}

TEST_F(TransferFileTest, FilesWithoutPermission) {
  const std::string locked = PathOf("locked.txt");
  WriteBytes(locked, "x");
  fs::permissions(locked, fs::perms::none);
  fs::create_directories(root_ / "readonly");
  fs::permissions(root_ / "readonly", fs::perms::owner_read | fs::perms::owner_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
  // The checks run in a child that is not the superuser, whom permission
  // bits do not bind.
  fs::permissions(root_, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  const testsupport::ChildResult child = testsupport::RunInChild([&]() -> std::string {
    if (std::string why = testsupport::DropPrivileges(); !why.empty()) return why;
    return std::to_string(ErrorNumberOf([&] { transfer::TransferFileReader().Open(locked); })) +
           " " +
           std::to_string(ErrorNumberOf([&] { transfer::TransferFileWriter().Open(locked); })) +
           " " +
           std::to_string(ErrorNumberOf(
               [&] { transfer::TransferFileWriter().Open(PathOf("readonly/t.txt")); }));
  });
  EXPECT_EQ(child.report, "70 70 70");
  fs::permissions(root_ / "readonly", fs::perms::owner_all);
  EXPECT_EQ(Entries(), (std::set<std::string>{"locked.txt", "readonly"}));
}

TEST_F(TransferFileTest, LineLongerThanTheMaximumIsRefused) {
  WriteBytes(PathOf("in.txt"), std::string(1000, 'x') + "\r\n" + std::string(999, 'y') + "\xE9" +
                                   "\r\n" + std::string(1001, 'z'));
  transfer::TransferFileReader reader(1000);
  reader.Open(PathOf("in.txt"));
  std::string_view line;
  ASSERT_TRUE(reader.ReadLine(line));
  EXPECT_EQ(line.size(), 1000u);
  ASSERT_TRUE(reader.ReadLine(line));
  EXPECT_EQ(line, std::string(999, 'y') + "é");  // 1000 bytes of the file, 1001 of UTF-8
  EXPECT_EQ(ErrorNumberOf([&] { reader.ReadLine(line); }), 7);
}

TEST_F(TransferFileTest, ReadingALineTakesAtMostTwiceItsLength) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's allocator holds memory of its own";
#endif
  // 24 MiB of the file without a line end, one byte in three an "é": 32 MiB
  // of UTF-8.
  const std::size_t fileBytes = std::size_t{24} << 20;
  const std::size_t utf8Bytes = std::size_t{32} << 20;
  {
    std::string bytes(fileBytes, 'x');
    for (std::size_t at = 0; at < fileBytes; at += 3) bytes[at] = '\xE9';
    WriteBytes(PathOf("long.txt"), bytes);
  }
  WriteBytes(PathOf("short.txt"), "x\xE9\r\n");
  const auto readAll = [&](const std::string& path) {
    return testsupport::RunInChild([&]() -> std::string {
      transfer::TransferFileReader reader;
      reader.Open(path);
      std::string_view line;
      std::size_t total = 0;
      while (reader.ReadLine(line)) total += line.size();
      return std::to_string(total);
    });
  };
  const testsupport::ChildResult baseline = readAll(PathOf("short.txt"));
  const testsupport::ChildResult measured = readAll(PathOf("long.txt"));
  ASSERT_EQ(baseline.report, "3");
  ASSERT_EQ(measured.report, std::to_string(utf8Bytes));
  const long heldKib = measured.peakKib - baseline.peakKib;
  EXPECT_LE(heldKib, static_cast<long>(2 * utf8Bytes / 1024))
      << "peak " << measured.peakKib << " KiB, baseline " << baseline.peakKib << " KiB";
}

// Whether the folder's file system offers unnamed files.
bool OffersUnnamedFiles(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

TEST_F(TransferFileTest, KilledWriterLeavesNoTemporaryFileForLong) {
  using Temporary = transfer::TransferFileWriter::Temporary;
  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  const std::string mark = std::string(".~") + host + ".";
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);

  for (const Temporary temporary : {Temporary::kUnnamedWhereOffered, Temporary::kNamed}) {
    const bool unnamed =
        temporary == Temporary::kUnnamedWhereOffered && OffersUnnamedFiles(root_);
    WriteBytes(PathOf("t.txt"), "earlier\r\n");
    // The writer is killed (SIGKILL) at its first write past 512 KiB, in the
    // middle of the first flush of its buffer.
    const testsupport::ChildResult child = testsupport::RunInChild([&]() -> std::string {
      testsupport::LimitFileSize(512 * 1024, true);
      transfer::TransferFileWriter writer;
      writer.Open(PathOf("t.txt"), temporary);
      const std::string line(1000, 'x');
      std::size_t badOffset = 0;
      for (int count = 0; count < 2000; ++count) writer.WriteLine(line, badOffset);
      writer.Commit();
      return "not killed";
    });
    ASSERT_EQ(child.signal, SIGKILL) << child.report;
    EXPECT_EQ(ReadBytes(PathOf("t.txt")), "earlier\r\n");

    // Leftovers: the killed writer's (named only), one of a process that has
    // ended and one of this live process.
    const std::string ofEnded = "u.txt" + mark + std::to_string(ended) + ".0";
    const std::string ofLive = "u.txt" + mark + std::to_string(::getpid()) + ".3";
    WriteBytes(PathOf(ofEnded), "x");
    WriteBytes(PathOf(ofLive), "x");
    std::size_t killedLeftovers = 0;
    for (const std::string& name : Entries()) {
      if (name.rfind("t.txt.~", 0) == 0) ++killedLeftovers;
    }
    EXPECT_EQ(killedLeftovers, unnamed ? 0u : 1u);

    // The next writer into the folder removes what ended processes left.
    transfer::TransferFileWriter next;
    next.Open(PathOf("v.txt"), Temporary::kNamed);
    next.Commit();
    EXPECT_EQ(Entries(), (std::set<std::string>{"t.txt", "v.txt", ofLive}));
    fs::remove(PathOf(ofLive));
    fs::remove(PathOf("v.txt"));
  }
}

TEST_F(TransferFileTest, WriterThroughALinkWritesTheFileItNamesAndKeepsTheLink) {
  using Temporary = transfer::TransferFileWriter::Temporary;
  fs::create_directories(root_ / "liens");
  fs::create_directories(root_ / "fichiers");
  const fs::path link = root_ / "liens" / "lien.txt";
  const fs::path target = root_ / "fichiers" / std::string(250, 'c');  // and a long name for the temporary
  fs::create_symlink(target, link);
  for (const Temporary temporary : {Temporary::kUnnamedWhereOffered, Temporary::kNamed}) {
    WriteBytes(target.string(), "earlier\r\n");
    transfer::TransferFileWriter writer;
    writer.Open(link.string(), temporary);
    std::size_t badOffset = 0;
    ASSERT_TRUE(writer.WriteLine("nouveau", badOffset));
    writer.Commit();
    EXPECT_EQ(ReadBytes(target.string()), "nouveau\r\n");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), target);
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "liens"), {}), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "fichiers"), {}), 1);
  }
  // A named temporary of the long name, cut short, is still known as one.
  const std::string leftover = support::TemporaryNameFor(target.string(), ".~", 7);
  WriteBytes(leftover, "x");
  transfer::RemoveNamedTemporariesOf(target.string());
  EXPECT_FALSE(fs::exists(leftover));
  fs::remove(target);
  EXPECT_EQ(ErrorNumberOf([&] { transfer::TransferFileWriter().Open(link.string()); }), 75);
  EXPECT_TRUE(fs::is_symlink(link));
}

TEST(SplitLineTest, CutsAtEveryOccurrence) {
  using Pieces = std::vector<std::string_view>;
  struct Case {
    std::string_view line;
    std::string_view separator;
    Pieces pieces;
  } const cases[] = {
      {"a|b|c", "|", {"a", "b", "c"}},
      {"12||abc", "|", {"12", "", "abc"}},
      {"|", "|", {"", ""}},
      {"a||", "|", {"a", "", ""}},
      {"abc", ";", {"abc"}},
      {"a|b;c", ";", {"a|b", "c"}},
      {"a<>b<>", "<>", {"a", "b", ""}},
      {"aaab", "aa", {"", "ab"}},
  };
  std::vector<std::string_view> pieces;
  for (const Case& test : cases) {
    ASSERT_TRUE(transfer::SplitLine(test.line, test.separator, pieces, 32767));
    EXPECT_EQ(pieces, test.pieces) << test.line;
  }
  EXPECT_TRUE(transfer::SplitLine("a|b", "|", pieces, 2));
  EXPECT_FALSE(transfer::SplitLine("a|b|c", "|", pieces, 2));
}

}  // namespace

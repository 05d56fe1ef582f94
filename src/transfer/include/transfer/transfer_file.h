// SPDX-License-Identifier: Apache-2.0
// The transfer file on disk, apart from any database: Windows-1252 bytes
// converted from and to the UTF-8 strings used everywhere else, records cut
// into lines and lines cut into pieces, and the runtime errors of the file
// service. Internal to the transfer module (docs/transfer-format.md).
#ifndef TRANSFER_TRANSFER_FILE_H_
#define TRANSFER_TRANSFER_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/error.h"

namespace transfer {

// Runtime error numbers raised by the transfer module, with their French
// descriptions.
inline constexpr std::int32_t kErrInvalidCall = 5;  // a value the file cannot carry
inline constexpr std::int32_t kErrOverflow = 6;     // a 16-bit count exceeded
inline constexpr std::int32_t kErrOutOfMemory = 7;
inline constexpr std::int32_t kErrSubscript = 9;  // a list read beyond its end
inline constexpr std::int32_t kErrInternal = 51;
inline constexpr std::int32_t kErrFileNotFound = 53;
inline constexpr std::int32_t kErrFileAlreadyOpen = 55;  // the destination is the open database
inline constexpr std::int32_t kErrDeviceIo = 57;
inline constexpr std::int32_t kErrDiskFull = 61;
inline constexpr std::int32_t kErrTooManyFiles = 67;
inline constexpr std::int32_t kErrPermissionDenied = 70;
inline constexpr std::int32_t kErrPathFileAccess = 75;
inline constexpr std::int32_t kErrPathNotFound = 76;

// The runtime error `number` with its French description.
dbengine::RuntimeError MakeRuntimeError(std::int32_t number);

// The runtime error for a failed open, read or write of `path`, after errno
// `errnoValue`. A missing entry is 53 when its folder exists and 76 otherwise.
dbengine::RuntimeError FileError(int errnoValue, const std::string& path);

// Conversion between UTF-8 and Windows-1252. Pure ASCII is copied as it is;
// other texts are converted a character at a time by hand: ASCII and U+00A0
// to U+00FF are the bytes of their own number, and the characters of bytes
// 0x80 to 0x9F come from two small tables built once per process, on first
// need, by asking iconv for each of those bytes. The five byte values
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D), which iconv
// rejects, stand for the C1 control characters of the same number, as on
// Windows. The Unicode tag characters (U+E0000 to U+E007F), which the iconv
// of glibc drops when writing, are dropped too.
class Cp1252Converter {
 public:
  Cp1252Converter() = default;
  Cp1252Converter(const Cp1252Converter&) = delete;
  Cp1252Converter& operator=(const Cp1252Converter&) = delete;

  // Writes the Windows-1252 bytes of `utf8` into `out`, which must hold
  // utf8.size() bytes, and their number into `written`. Returns false, with
  // the offset in `utf8` of the first character that has no Windows-1252
  // byte (or is not valid UTF-8) in `badOffset`, when the text cannot be
  // converted. Throws a RuntimeError (51) when iconv cannot be opened.
  bool ToCp1252(std::string_view utf8, char* out, std::size_t& written, std::size_t& badOffset);
  // Replaces `out` by the UTF-8 form of the Windows-1252 `bytes`. Every byte
  // has a character, so this cannot fail (but for the RuntimeError 51 above).
  void ToUtf8(std::string_view bytes, std::string& out);
  // Writes the UTF-8 form of `bytes` at `out`, which must have room for
  // 3 * bytes.size() bytes, and returns the position after it.
  char* AppendUtf8(std::string_view bytes, char* out);
};

// The longest line a transfer file may hold, in bytes of the file, its line
// end not counted: 256 MiB. The export refuses a longer record and the
// import ends at a longer line with runtime error 7.
inline constexpr std::size_t kMaxLineBytes = std::size_t{256} << 20;

// True when every byte of `text` is below 0x80.
bool IsAscii(std::string_view text);

// Checks, before an export reads anything, that it may replace
// `destination`. Throws a RuntimeError 55 when `destination` names the
// database file at `databasePath` or one of the files SQLite keeps beside it
// ("-wal", "-shm", "-journal"), through whatever path or link: replacing it
// would destroy the database. Both are compared by device and inode where
// they exist, and by folder and name where a companion is not there at the
// moment. Throws a RuntimeError 75 when `destination` exists and is not a
// regular file or a link to one (a pipe, a device).
void CheckExportDestination(const std::string& destination, const std::string& databasePath);

// Removes the named temporary files of `path` ("<path>.~<host>.<pid>.<n>",
// a full copy an export killed between naming it and renaming it leaves
// behind): for the owner of the name `path`, who knows no export of it is
// running. Those of another process of this host that is still running are
// left, and so are entries that cannot be removed.
void RemoveNamedTemporariesOf(const std::string& path);

// The name of this process's named temporary file for `path` at `attempt`
// (an export takes attempt 0 unless that name is taken).
std::string NamedTemporaryOf(const std::string& path, unsigned attempt);

// Writes a transfer file in one pass through a large buffer. The lines go to
// a temporary file in the destination's folder, which Commit puts in place
// of the destination; until then the destination (an existing file
// included) is left as it was. Where the file system offers unnamed files
// (O_TMPFILE) the temporary file has no name until Commit, so that nothing
// of it survives a process killed before; elsewhere it is a named file
// "<destination>.~<host>.<pid>.<n>", which a writer destroyed without Commit
// removes and which the next Open in that folder removes once its process
// has ended. A destination that exists must be a regular file (or a link to
// one: the file it names is replaced, in its own folder, and the link stays;
// a link to nothing is refused with 75); the file that replaces it keeps
// its permissions (and its group where the process may set it). Commit flushes the file to the disk before it
// takes its name and the folder after, so that a success is on disk.
class TransferFileWriter {
 public:
  enum class Temporary {
    kUnnamedWhereOffered,
    kNamed,  // the fallback, chosen by the tests of that path
  };

  TransferFileWriter() = default;
  TransferFileWriter(const TransferFileWriter&) = delete;
  TransferFileWriter& operator=(const TransferFileWriter&) = delete;
  ~TransferFileWriter();

  // Removes the named temporary files that writers of ended processes left
  // in the folder of `path`, then creates the temporary file for `path`.
  // Throws a RuntimeError (76 missing folder, 70 permission denied, 75
  // `path` is a folder, not a regular file or not writable...).
  void Open(const std::string& path, Temporary temporary = Temporary::kUnnamedWhereOffered);
  // Writes `utf8Line` in Windows-1252 followed by CR LF. Returns false, with
  // the offset of the offending character in `badOffset`, when a character
  // cannot be converted; nothing of that line is then written. Throws a
  // RuntimeError 5 for a line longer than kMaxLineBytes, and a RuntimeError
  // when the disk refuses the data.
  bool WriteLine(std::string_view utf8Line, std::size_t& badOffset);
  // Flushes the temporary file to the disk, closes it and puts it in place
  // of the destination (an unnamed one is first linked under a named
  // temporary name, then renamed), then flushes the folder. Throws a
  // RuntimeError when any of it fails (57 for an error the disk reports at
  // write-back, 61 disk full...).
  void Commit();

 private:
  void Flush();
  void Discard() noexcept;
  std::string NamedTemporaryPath(int attempt) const;

  int fd_ = -1;
  bool unnamed_ = false;
  std::string path_;    // as given, for the messages
  std::string target_;  // the file written: what a symbolic link `path_` names
  std::string tempPath_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  Cp1252Converter converter_;
};

// Reads a transfer file one line at a time through a large buffer. A line
// ends at a CR, which takes an LF that follows it along; a lone LF is a
// character of the line. The text after the last line end, if any, is a
// last line. A line is held once, in UTF-8, in memory that grows with it:
// reading it takes at most about twice its length.
class TransferFileReader {
 public:
  // `maxLineBytes`: the longest line accepted, in bytes of the file.
  explicit TransferFileReader(std::size_t maxLineBytes = kMaxLineBytes)
      : maxLineBytes_(maxLineBytes) {}
  TransferFileReader(const TransferFileReader&) = delete;
  TransferFileReader& operator=(const TransferFileReader&) = delete;
  ~TransferFileReader();

  // Opens `path` for reading. Throws a RuntimeError (53 missing file, 76
  // missing folder, 70 permission denied, 75 a folder...).
  void Open(const std::string& path);
  // Points `utf8Line` at the next line, without its line end, in UTF-8; the
  // text stays valid until the next call or the reader's end. Returns false
  // at the end of the file. Throws a RuntimeError on a read failure, and 7
  // ("Mémoire insuffisante") for a line longer than the maximum or one that
  // memory cannot hold.
  bool ReadLine(std::string_view& utf8Line);
  // Goes back to the file's start, so that the next ReadLine gives its
  // first line again. False, nothing changed, for a file that cannot be
  // read again (a pipe).
  bool Rewind();

 private:
  // Memory for the line: pages mapped for it alone, grown in place or moved
  // by the kernel, never copied.
  class LineMemory {
   public:
    LineMemory() = default;
    LineMemory(const LineMemory&) = delete;
    LineMemory& operator=(const LineMemory&) = delete;
    ~LineMemory();
    // Makes room for `extra` more bytes after the first `used`; throws 7
    // when memory is short.
    char* RoomFor(std::size_t used, std::size_t extra);
    const char* Data() const { return data_; }

   private:
    char* data_ = nullptr;
    std::size_t capacity_ = 0;
  };

  bool Fill();
  void Append(const char* bytes, std::size_t size);

  const std::size_t maxLineBytes_;
  int fd_ = -1;
  std::string path_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
  bool skipLf_ = false;  // the previous line ended with a CR
  LineMemory line_;
  std::size_t lineSize_ = 0;  // bytes of UTF-8 in line_
  Cp1252Converter converter_;
};

// Cuts `line` at every occurrence of `separator` (exact match, not empty):
// empty pieces are kept and the text after the last separator is the last
// piece. Returns false, with `pieces` unspecified, when there would be more
// than `maxPieces` pieces.
bool SplitLine(std::string_view line, std::string_view separator,
               std::vector<std::string_view>& pieces, std::size_t maxPieces);

// Appends `text` between single quotes to `out`, each quote inside doubled.
void AppendQuotedDoubled(std::string_view text, std::string& out);

// True when `text` upper-cased is "VRAI".
bool IsVrai(std::string_view text);

}  // namespace transfer

#endif  // TRANSFER_TRANSFER_FILE_H_

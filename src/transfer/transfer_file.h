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
};

// True when every byte of `text` is below 0x80.
bool IsAscii(std::string_view text);

// Writes a transfer file in one pass through a large buffer. The lines go to
// a new temporary file beside the destination, which Commit renames into
// place; until then the destination (an existing file included) is left as
// it was, and a writer destroyed without Commit removes its temporary file.
class TransferFileWriter {
 public:
  TransferFileWriter() = default;
  TransferFileWriter(const TransferFileWriter&) = delete;
  TransferFileWriter& operator=(const TransferFileWriter&) = delete;
  ~TransferFileWriter();

  // Creates the temporary file for `path`. Throws a RuntimeError (76 missing
  // folder, 70 permission denied, 75 `path` is a folder or not writable...).
  void Open(const std::string& path);
  // Writes `utf8Line` in Windows-1252 followed by CR LF. Returns false, with
  // the offset of the offending character in `badOffset`, when a character
  // cannot be converted; nothing of that line is then written. Throws a
  // RuntimeError when the disk refuses the data.
  bool WriteLine(std::string_view utf8Line, std::size_t& badOffset);
  // Flushes, closes and renames the temporary file to the destination.
  void Commit();

 private:
  void Flush();
  void Discard() noexcept;

  int fd_ = -1;
  std::string path_;
  std::string tempPath_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  Cp1252Converter converter_;
};

// Reads a transfer file one line at a time through a large buffer. A line
// ends at CR LF, at a lone CR or at a lone LF; the text after the last line
// end, if any, is a last line.
class TransferFileReader {
 public:
  TransferFileReader() = default;
  TransferFileReader(const TransferFileReader&) = delete;
  TransferFileReader& operator=(const TransferFileReader&) = delete;
  ~TransferFileReader();

  // Opens `path` for reading. Throws a RuntimeError (53 missing file, 76
  // missing folder, 70 permission denied, 75 a folder...).
  void Open(const std::string& path);
  // Replaces `utf8Line` by the next line, without its line end, in UTF-8.
  // Returns false at the end of the file. Throws a RuntimeError on a read
  // failure.
  bool ReadLine(std::string& utf8Line);

 private:
  bool Fill();

  int fd_ = -1;
  std::string path_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
  bool skipLf_ = false;  // the previous line ended with a CR
  std::string bytes_;
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

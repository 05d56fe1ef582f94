// Transfer files on disk: Windows-1252 conversion, buffered line writing
// through a temporary file, buffered line reading, splitting and quoting.
#include "transfer/transfer_file.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace transfer {
namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;

const char* RuntimeDescription(std::int32_t number) {
  switch (number) {
    case kErrInvalidCall:
      return "Argument ou appel de procédure incorrect";
    case kErrOverflow:
      return "Dépassement de capacité";
    case kErrOutOfMemory:
      return "Mémoire insuffisante";
    case kErrSubscript:
      return "L'indice n'appartient pas à la sélection";
    case kErrFileNotFound:
      return "Fichier introuvable";
    case kErrDeviceIo:
      return "Erreur d'entrée/sortie de périphérique";
    case kErrDiskFull:
      return "Disque plein";
    case kErrTooManyFiles:
      return "Trop de fichiers";
    case kErrPermissionDenied:
      return "Permission refusée";
    case kErrPathFileAccess:
      return "Erreur d'accès chemin/fichier";
    case kErrPathNotFound:
      return "Chemin d'accès introuvable";
    default:
      return "Erreur interne";
  }
}

bool FolderExists(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string folder;
  if (slash == std::string::npos) {
    folder = ".";
  } else if (slash == 0) {
    folder = "/";
  } else {
    folder = path.substr(0, slash);
  }
  struct stat status;
  return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsUndefinedCp1252Byte(unsigned char byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

iconv_t OpenIconv(const char* to, const char* from) {
  iconv_t descriptor = ::iconv_open(to, from);
  if (descriptor == reinterpret_cast<iconv_t>(-1)) throw MakeRuntimeError(kErrInternal);
  return descriptor;
}

}  // namespace

dbengine::RuntimeError MakeRuntimeError(std::int32_t number) {
  return dbengine::RuntimeError(number, RuntimeDescription(number));
}

dbengine::RuntimeError FileError(int errnoValue, const std::string& path) {
  switch (errnoValue) {
    case ENOENT:
      return MakeRuntimeError(FolderExists(path) ? kErrFileNotFound : kErrPathNotFound);
    case ENOTDIR:
      return MakeRuntimeError(kErrPathNotFound);
    case EACCES:
    case EPERM:
      return MakeRuntimeError(kErrPermissionDenied);
    case ENOSPC:
    case EDQUOT:
      return MakeRuntimeError(kErrDiskFull);
    case EMFILE:
    case ENFILE:
      return MakeRuntimeError(kErrTooManyFiles);
    case EIO:
      return MakeRuntimeError(kErrDeviceIo);
    case ENOMEM:
      return MakeRuntimeError(kErrOutOfMemory);
    default:
      return MakeRuntimeError(kErrPathFileAccess);
  }
}

bool IsAscii(std::string_view text) {
  const char* data = text.data();
  std::size_t size = text.size();
  std::size_t offset = 0;
  for (; offset + 8 <= size; offset += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + offset, 8);
    if (word & 0x8080808080808080ULL) return false;
  }
  for (; offset < size; ++offset) {
    if (static_cast<unsigned char>(data[offset]) >= 0x80) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Cp1252Converter

Cp1252Converter::~Cp1252Converter() {
  if (toCp1252_ != nullptr) ::iconv_close(static_cast<iconv_t>(toCp1252_));
  if (toUtf8_ != nullptr) ::iconv_close(static_cast<iconv_t>(toUtf8_));
}

bool Cp1252Converter::ToCp1252(std::string_view utf8, char* out, std::size_t& written,
                               std::size_t& badOffset) {
  if (IsAscii(utf8)) {
    std::memcpy(out, utf8.data(), utf8.size());
    written = utf8.size();
    return true;
  }
  // U+00A0 to U+00FF, the accented letters of French texts, have the byte
  // of their own number; iconv takes over from the first other character.
  const auto* text = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t position = 0;
  std::size_t outPosition = 0;
  while (position < utf8.size()) {
    const unsigned char lead = text[position];
    if (lead < 0x80) {
      out[outPosition++] = static_cast<char>(lead);
      ++position;
      continue;
    }
    if (position + 1 >= utf8.size()) break;
    const unsigned char next = text[position + 1];
    if (lead == 0xC3 && next >= 0x80 && next <= 0xBF) {
      out[outPosition++] = static_cast<char>(next + 0x40);
    } else if (lead == 0xC2 && next >= 0xA0 && next <= 0xBF) {
      out[outPosition++] = static_cast<char>(next);
    } else {
      break;
    }
    position += 2;
  }
  if (position == utf8.size()) {
    written = outPosition;
    return true;
  }
  if (toCp1252_ == nullptr) toCp1252_ = OpenIconv("WINDOWS-1252", "UTF-8");
  iconv_t descriptor = static_cast<iconv_t>(toCp1252_);
  ::iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
  char* input = const_cast<char*>(utf8.data()) + position;
  std::size_t inputLeft = utf8.size() - position;
  char* output = out + outPosition;
  std::size_t outputLeft = utf8.size() - outPosition;
  while (inputLeft > 0) {
    if (::iconv(descriptor, &input, &inputLeft, &output, &outputLeft) !=
        static_cast<std::size_t>(-1)) {
      break;
    }
    // iconv knows no character for the five undefined bytes; U+0081 and its
    // like are written as those bytes, which the reader maps back.
    const auto lead = static_cast<unsigned char>(input[0]);
    if (errno == EILSEQ && inputLeft >= 2 && lead == 0xC2 &&
        IsUndefinedCp1252Byte(static_cast<unsigned char>(input[1]))) {
      *output++ = input[1];
      --outputLeft;
      input += 2;
      inputLeft -= 2;
      continue;
    }
    badOffset = static_cast<std::size_t>(input - utf8.data());
    return false;
  }
  written = static_cast<std::size_t>(output - out);
  return true;
}

void Cp1252Converter::ToUtf8(std::string_view bytes, std::string& out) {
  if (IsAscii(bytes)) {
    out.assign(bytes.data(), bytes.size());
    return;
  }
  out.resize(bytes.size() * 3);  // no Windows-1252 character takes more
  // Bytes 0xA0 to 0xFF are the characters of their own number; iconv takes
  // over from the first byte of 0x80 to 0x9F.
  std::size_t position = 0;
  std::size_t outPosition = 0;
  for (; position < bytes.size(); ++position) {
    const auto byte = static_cast<unsigned char>(bytes[position]);
    if (byte < 0x80) {
      out[outPosition++] = static_cast<char>(byte);
    } else if (byte >= 0xA0) {
      out[outPosition++] = static_cast<char>(0xC0 | (byte >> 6));
      out[outPosition++] = static_cast<char>(0x80 | (byte & 0x3F));
    } else {
      break;
    }
  }
  if (position == bytes.size()) {
    out.resize(outPosition);
    return;
  }
  if (toUtf8_ == nullptr) toUtf8_ = OpenIconv("UTF-8", "WINDOWS-1252");
  iconv_t descriptor = static_cast<iconv_t>(toUtf8_);
  ::iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
  char* input = const_cast<char*>(bytes.data()) + position;
  std::size_t inputLeft = bytes.size() - position;
  char* output = out.data() + outPosition;
  std::size_t outputLeft = out.size() - outPosition;
  while (inputLeft > 0) {
    if (::iconv(descriptor, &input, &inputLeft, &output, &outputLeft) !=
        static_cast<std::size_t>(-1)) {
      break;
    }
    // Only the undefined bytes stop the conversion; each stands for the C1
    // control character of the same number (two UTF-8 bytes, C2 xx).
    *output++ = static_cast<char>(0xC2);
    *output++ = *input++;
    outputLeft -= 2;
    --inputLeft;
  }
  out.resize(static_cast<std::size_t>(output - out.data()));
}

// ---------------------------------------------------------------------------
// TransferFileWriter

TransferFileWriter::~TransferFileWriter() { Discard(); }

void TransferFileWriter::Open(const std::string& path) {
  path_ = path;
  if (path.empty()) throw MakeRuntimeError(kErrPathFileAccess);
  struct stat status;
  if (::stat(path.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) throw MakeRuntimeError(kErrPathFileAccess);
    // The rename would replace a file the operator made read-only; refuse
    // it as opening that file for output would.
    if (::access(path.c_str(), W_OK) != 0) throw FileError(errno, path);
  }
  const std::string prefix = path + ".~" + std::to_string(::getpid()) + ".";
  for (int attempt = 0;; ++attempt) {
    tempPath_ = prefix + std::to_string(attempt);
    fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) break;
    const int error = errno;
    tempPath_.clear();
    if (error != EEXIST || attempt >= 100) throw FileError(error, path);
  }
  buffer_.resize(kBufferSize);
  used_ = 0;
}

bool TransferFileWriter::WriteLine(std::string_view utf8Line, std::size_t& badOffset) {
  const std::size_t needed = utf8Line.size() + 2;
  if (buffer_.size() - used_ < needed) {
    Flush();
    if (buffer_.size() < needed) buffer_.resize(needed);
  }
  std::size_t written = 0;
  if (!converter_.ToCp1252(utf8Line, buffer_.data() + used_, written, badOffset)) return false;
  used_ += written;
  buffer_[used_++] = '\r';
  buffer_[used_++] = '\n';
  return true;
}

void TransferFileWriter::Flush() {
  std::size_t done = 0;
  while (done < used_) {
    const ssize_t count = ::write(fd_, buffer_.data() + done, used_ - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      throw FileError(errno, path_);
    }
    done += static_cast<std::size_t>(count);
  }
  used_ = 0;
}

void TransferFileWriter::Commit() {
  Flush();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw FileError(errno, path_);
  if (::rename(tempPath_.c_str(), path_.c_str()) != 0) throw FileError(errno, path_);
  tempPath_.clear();
}

void TransferFileWriter::Discard() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

// ---------------------------------------------------------------------------
// TransferFileReader

TransferFileReader::~TransferFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

void TransferFileReader::Open(const std::string& path) {
  path_ = path;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw FileError(errno, path);
  struct stat status;
  if (::fstat(fd_, &status) != 0) throw FileError(errno, path);
  if (S_ISDIR(status.st_mode)) throw MakeRuntimeError(kErrPathFileAccess);
  buffer_.resize(kBufferSize);
  begin_ = end_ = 0;
  atEnd_ = false;
  skipLf_ = false;
}

bool TransferFileReader::Fill() {
  if (atEnd_) return false;
  for (;;) {
    const ssize_t count = ::read(fd_, buffer_.data(), buffer_.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      throw FileError(errno, path_);
    }
    if (count == 0) {
      atEnd_ = true;
      return false;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(count);
    return true;
  }
}

bool TransferFileReader::ReadLine(std::string& utf8Line) {
  bytes_.clear();
  bool started = false;
  for (;;) {
    if (begin_ == end_ && !Fill()) {
      if (!started) return false;
      break;
    }
    if (skipLf_) {
      skipLf_ = false;
      if (buffer_[begin_] == '\n') {
        ++begin_;
        continue;
      }
    }
    started = true;
    const char* chunk = buffer_.data() + begin_;
    const std::size_t size = end_ - begin_;
    std::size_t position = 0;
    while (position < size && chunk[position] != '\r' && chunk[position] != '\n') ++position;
    bytes_.append(chunk, position);
    if (position == size) {
      begin_ = end_;
      continue;
    }
    skipLf_ = chunk[position] == '\r';
    begin_ += position + 1;
    break;
  }
  converter_.ToUtf8(bytes_, utf8Line);
  return true;
}

// ---------------------------------------------------------------------------
// Pieces and quoting

bool SplitLine(std::string_view line, std::string_view separator,
               std::vector<std::string_view>& pieces, std::size_t maxPieces) {
  pieces.clear();
  std::size_t position = 0;
  for (;;) {
    if (pieces.size() == maxPieces) return false;
    const std::size_t found = line.find(separator, position);
    if (found == std::string_view::npos) {
      pieces.push_back(line.substr(position));
      return true;
    }
    pieces.push_back(line.substr(position, found - position));
    position = found + separator.size();
  }
}

void AppendQuotedDoubled(std::string_view text, std::string& out) {
  out.push_back('\'');
  for (;;) {
    const std::size_t quote = text.find('\'');
    if (quote == std::string_view::npos) break;
    out.append(text.data(), quote + 1);
    out.push_back('\'');
    text.remove_prefix(quote + 1);
  }
  out.append(text);
  out.push_back('\'');
}

bool IsVrai(std::string_view text) {
  static constexpr char kVrai[] = "VRAI";
  if (text.size() != 4) return false;
  for (std::size_t index = 0; index < 4; ++index) {
    char letter = text[index];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter != kVrai[index]) return false;
  }
  return true;
}

}  // namespace transfer

// SPDX-License-Identifier: Apache-2.0
// Transfer files on disk: Windows-1252 conversion, buffered line writing
// through a temporary file, buffered line reading, splitting and quoting.
#include "transfer/transfer_file.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

#include "dbengine/value.h"
#include "support/durable.h"
#include "support/leftovers.h"

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
    case kErrFileAlreadyOpen:
      return "Fichier déjà ouvert";
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

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool FolderExists(const std::string& path) {
  struct stat status;
  return ::stat(FolderOf(path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Named temporary files are "<destination>.~<host>.<pid>.<n>". The host
// keeps a writer from judging, by its own process table, the files that
// another machine writes into a shared folder.
constexpr char kLeftoverMark[] = ".~";


std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsUndefinedCp1252Byte(unsigned char byte) {
  return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}


// An iconv descriptor, closed on destruction.
class IconvDescriptor {
 public:
  // Throws a RuntimeError (51) when iconv cannot convert from `from` to `to`.
  IconvDescriptor(const char* to, const char* from) : descriptor_(::iconv_open(to, from)) {
    if (descriptor_ == reinterpret_cast<iconv_t>(-1)) throw MakeRuntimeError(kErrInternal);
  }
  IconvDescriptor(const IconvDescriptor&) = delete;
  IconvDescriptor& operator=(const IconvDescriptor&) = delete;
  ~IconvDescriptor() { ::iconv_close(descriptor_); }

  // Converts the whole of `input`, from the initial state, into `output` (8
  // bytes). Returns the number of bytes written, or -1 when iconv refuses.
  int Convert(std::string_view input, char (&output)[8]) {
    char* inputPosition = const_cast<char*>(input.data());
    std::size_t inputLeft = input.size();
    char* outputPosition = output;
    std::size_t outputLeft = sizeof output;
    ::iconv(descriptor_, nullptr, nullptr, nullptr, nullptr);
    if (::iconv(descriptor_, &inputPosition, &inputLeft, &outputPosition, &outputLeft) ==
            static_cast<std::size_t>(-1) ||
        inputLeft != 0) {
      return -1;
    }
    return static_cast<int>(outputPosition - output);
  }

 private:
  iconv_t descriptor_;
};

// What iconv makes of the characters that are not converted by hand: those
// of bytes 0x80 to 0x9F, both ways. (glibc's iconv also drops the Unicode tag
// characters U+E0000 to U+E007F silently; the converter refuses them like any
// other character the code page lacks, so that nothing is lost unseen.)
class Cp1252Tables {
 public:
  // The tables of the process, built on the first call. Throws a
  // RuntimeError (51) when iconv cannot be opened or answers oddly; the next
  // call then tries again.
  static const Cp1252Tables& Get() {
    static const Cp1252Tables tables;
    return tables;
  }

  // Appends the UTF-8 form of `byte` (0x80 to 0x9F) at `out`, which has room
  // for three bytes, and returns the position after it.
  char* AppendUtf8(unsigned char byte, char* out) const {
    const Sequence& sequence = toUtf8_[byte - 0x80];
    std::memcpy(out, sequence.bytes, sizeof sequence.bytes);
    return out + sequence.size;
  }

  // The byte of `codePoint` among those of 0x80 to 0x9F, or -1 if none.
  int ByteOf(char32_t codePoint) const {
    const Entry* end = toCp1252_ + toCp1252Size_;
    const Entry* found = std::lower_bound(
        toCp1252_, end, codePoint,
        [](const Entry& entry, char32_t value) { return entry.codePoint < value; });
    return found != end && found->codePoint == codePoint ? found->byte : -1;
  }

 private:
  struct Sequence {
    unsigned char size = 0;
    char bytes[3] = {};
  };
  struct Entry {
    char32_t codePoint = 0;
    unsigned char byte = 0;
  };

  Cp1252Tables() {
    IconvDescriptor reader("UTF-8", "WINDOWS-1252");
    char output[8];
    for (unsigned byte = 0x80; byte < 0xA0; ++byte) {
      const char input = static_cast<char>(byte);
      const int length = reader.Convert(std::string_view(&input, 1), output);
      Sequence& sequence = toUtf8_[byte - 0x80];
      if (length < 0) {
        // No character for the byte (one of the five undefined ones): the C1
        // control of the same number, U+0081 and its like, stands for it.
        sequence.size = 2;
        sequence.bytes[0] = static_cast<char>(0xC2);
        sequence.bytes[1] = static_cast<char>(byte);
        continue;
      }
      // One character of two or three bytes is expected, outside U+00A0 to
      // U+00FF, which are converted by hand.
      char32_t codePoint = 0;
      if (length < 2 || length > 3 ||
          dbengine::DecodeUtf8(reinterpret_cast<const unsigned char*>(output),
                     static_cast<std::size_t>(length),
                     codePoint) != static_cast<std::size_t>(length) ||
          (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        throw MakeRuntimeError(kErrInternal);
      }
      sequence.size = static_cast<unsigned char>(length);
      std::memcpy(sequence.bytes, output, sequence.size);
      toCp1252_[toCp1252Size_++] = {codePoint, static_cast<unsigned char>(byte)};
    }
    std::sort(toCp1252_, toCp1252_ + toCp1252Size_,
              [](const Entry& a, const Entry& b) { return a.codePoint < b.codePoint; });
  }

  Sequence toUtf8_[32];  // by byte - 0x80
  Entry toCp1252_[32];   // by code point, the first toCp1252Size_
  std::size_t toCp1252Size_ = 0;
};

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

bool Cp1252Converter::ToCp1252(std::string_view utf8, char* out, std::size_t& written,
                               std::size_t& badOffset) {
  if (IsAscii(utf8)) {
    std::memcpy(out, utf8.data(), utf8.size());
    written = utf8.size();
    return true;
  }
  const auto* text = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t size = utf8.size();
  const Cp1252Tables* tables = nullptr;  // fetched on first need
  std::size_t position = 0;
  std::size_t outPosition = 0;
  while (position < size) {
    if (size - position >= 8) {
      // ASCII eight bytes at a time: the word is stored whole (the output is
      // never ahead of the input, so the eight bytes fit) and counted up to
      // its first byte that is not ASCII.
      std::uint64_t word;
      std::memcpy(&word, text + position, 8);
      std::memcpy(out + outPosition, &word, 8);
      const std::uint64_t high = word & 0x8080808080808080ULL;
      if (high == 0) {
        position += 8;
        outPosition += 8;
        continue;
      }
      const auto ascii = static_cast<std::size_t>(__builtin_ctzll(high) / 8);
      position += ascii;
      outPosition += ascii;
    } else if (text[position] < 0x80) {
      out[outPosition++] = static_cast<char>(text[position++]);
      continue;
    }
    const unsigned char lead = text[position];
    if ((lead == 0xC2 || lead == 0xC3) && size - position >= 2 && (text[position + 1] & 0xC0) == 0x80 &&
        (lead == 0xC3 || text[position + 1] >= 0xA0)) {
      // U+00A0 to U+00FF, the accented letters of French texts, have the
      // byte of their own number.
      out[outPosition++] = static_cast<char>(((lead & 0x03) << 6) | (text[position + 1] & 0x3F));
      position += 2;
      continue;
    }
    char32_t codePoint = 0;
    const std::size_t length = dbengine::DecodeUtf8(text + position, size - position, codePoint);
    int byte = -1;
    if (length == 0) {
      // not UTF-8: no byte
    } else if (codePoint >= 0xA0 && codePoint <= 0xFF) {
      // U+00A0 to U+00FF, the accented letters of French texts, have the
      // byte of their own number.
      byte = static_cast<int>(codePoint);
    } else if (codePoint <= 0x9F && IsUndefinedCp1252Byte(static_cast<unsigned char>(codePoint))) {
      // U+0081 and its like are written as the undefined bytes, which the
      // reader maps back.
      byte = static_cast<int>(codePoint);
    } else {
      if (tables == nullptr) tables = &Cp1252Tables::Get();
      byte = tables->ByteOf(codePoint);
    }
    if (byte < 0) {
      badOffset = position;
      return false;
    }
    out[outPosition++] = static_cast<char>(byte);
    position += length;
  }
  written = outPosition;
  return true;
}

void Cp1252Converter::ToUtf8(std::string_view bytes, std::string& out) {
  if (IsAscii(bytes)) {
    out.assign(bytes.data(), bytes.size());
    return;
  }
  out.resize(bytes.size() * 3);  // no Windows-1252 character takes more
  char* end = AppendUtf8(bytes, out.data());
  out.resize(static_cast<std::size_t>(end - out.data()));
}

char* Cp1252Converter::AppendUtf8(std::string_view bytes, char* out) {
  const Cp1252Tables* tables = nullptr;
  const char* in = bytes.data();
  const char* const end = in + bytes.size();
  while (in != end) {
    // Runs of ASCII, most of a line, are copied eight bytes at a time.
    std::uint64_t word;
    if (end - in >= 8 && (std::memcpy(&word, in, 8), (word & 0x8080808080808080ULL) == 0)) {
      std::memcpy(out, in, 8);
      in += 8;
      out += 8;
      continue;
    }
    const char character = *in++;
    const auto byte = static_cast<unsigned char>(character);
    if (byte < 0x80) {
      *out++ = character;
    } else if (byte >= 0xA0) {
      // Bytes 0xA0 to 0xFF are the characters of their own number.
      *out++ = static_cast<char>(0xC0 | (byte >> 6));
      *out++ = static_cast<char>(0x80 | (byte & 0x3F));
    } else {
      if (tables == nullptr) tables = &Cp1252Tables::Get();
      out = tables->AppendUtf8(byte, out);
    }
  }
  return out;
}

namespace {

dbengine::RuntimeError NotARegularFile(const std::string& path) {
  return dbengine::RuntimeError(kErrPathFileAccess, std::string(RuntimeDescription(kErrPathFileAccess)) +
                                                        " : « " + path +
                                                        " » n'est pas un fichier ordinaire ; "
                                                        "l'exportation ne le remplace pas");
}

}  // namespace

void CheckExportDestination(const std::string& destination, const std::string& databasePath) {
  if (destination.empty()) return;
  struct stat target;
  const bool targetExists = ::stat(destination.c_str(), &target) == 0;
  // A pipe, a device or a socket (or a link to one) would be replaced by a
  // regular file in the folder: the system's /dev/full, as the superuser.
  if (targetExists && !S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode)) {
    throw NotARegularFile(destination);
  }
  if (databasePath.empty()) return;
  struct stat destinationFolder;
  struct stat databaseFolder;
  const bool sameFolder = ::stat(FolderOf(destination).c_str(), &destinationFolder) == 0 &&
                          ::stat(FolderOf(databasePath).c_str(), &databaseFolder) == 0 &&
                          SameFile(destinationFolder, databaseFolder);
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string companion = databasePath + suffix;
    struct stat file;
    if ((targetExists && ::stat(companion.c_str(), &file) == 0 && SameFile(file, target)) ||
        (sameFolder && NameOf(destination) == NameOf(companion))) {
      throw dbengine::RuntimeError(
          kErrFileAlreadyOpen, std::string(RuntimeDescription(kErrFileAlreadyOpen)) + " : « " +
                                   destination +
                                   " » est la base de données exportée, ou un fichier que SQLite "
                                   "tient à côté d'elle ; l'exportation ne le remplace pas");
    }
  }
}

void RemoveNamedTemporariesOf(const std::string& path) { support::RemoveTemporariesOf(path, kLeftoverMark); }

std::string NamedTemporaryOf(const std::string& path, unsigned attempt) {
  return support::TemporaryNameFor(path, kLeftoverMark, attempt);
}

// ---------------------------------------------------------------------------
// TransferFileWriter

TransferFileWriter::~TransferFileWriter() { Discard(); }

void TransferFileWriter::Open(const std::string& path, Temporary temporary) {
  path_ = path;
  target_ = path;
  if (path.empty()) throw MakeRuntimeError(kErrPathFileAccess);
  struct stat status;
  if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    // The file the link names is written (a rename over the link would
    // replace the link itself), in its own folder; the link stays.
    std::error_code error;
    target_ = std::filesystem::canonical(path, error).string();
    if (error) {
      throw dbengine::RuntimeError(kErrPathFileAccess, std::string(RuntimeDescription(kErrPathFileAccess)) +
                                                           " : « " + path +
                                                           " » est un lien symbolique vers un fichier qui "
                                                           "n'existe pas ; l'exportation ne le suit pas");
    }
  }
  const bool replacing = ::stat(target_.c_str(), &status) == 0;
  if (replacing) {
    if (S_ISDIR(status.st_mode)) throw MakeRuntimeError(kErrPathFileAccess);
    if (!S_ISREG(status.st_mode)) throw NotARegularFile(path);
    // The rename would replace a file the operator made read-only; refuse
    // it as opening that file for output would.
    if (::access(path.c_str(), W_OK) != 0) throw FileError(errno, path);
  }
  const std::string folder = FolderOf(target_);
  support::RemoveTemporariesOfEndedProcesses(folder, kLeftoverMark);
  unnamed_ = false;
  if (temporary == Temporary::kUnnamedWhereOffered) {
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      unnamed_ = true;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      // EOPNOTSUPP: a file system without unnamed files; EISDIR, EINVAL: a
      // kernel that does not know the flag. Any other refusal is the
      // folder's.
      throw FileError(errno, path);
    }
  }
  if (!unnamed_) {
    for (int attempt = 0;; ++attempt) {
      tempPath_ = NamedTemporaryPath(attempt);
      fd_ = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) break;
      const int error = errno;
      tempPath_.clear();
      if (error != EEXIST || attempt >= 100) throw FileError(error, path);
    }
  }
  if (replacing) {
    // The new file must not be readable by more than the one it replaces;
    // set before anything is written to it.
    if (::fchmod(fd_, status.st_mode & 07777) != 0) {
      const int error = errno;
      Discard();
      throw FileError(error, path);
    }
    if (::fchown(fd_, static_cast<uid_t>(-1), status.st_gid) != 0) {
      // Only a member of the group (or the superuser) may give the file
      // that group; elsewhere it keeps the process's, as any new file does.
    }
  }
  buffer_.resize(kBufferSize);
  used_ = 0;
}

std::string TransferFileWriter::NamedTemporaryPath(int attempt) const {
  return NamedTemporaryOf(target_, static_cast<unsigned>(attempt));
}

bool TransferFileWriter::WriteLine(std::string_view utf8Line, std::size_t& badOffset) {
  const std::size_t needed = utf8Line.size() + 2;
  if (buffer_.size() - used_ < needed) {
    Flush();
    if (buffer_.size() < needed) buffer_.resize(needed);
  }
  std::size_t written = 0;
  if (!converter_.ToCp1252(utf8Line, buffer_.data() + used_, written, badOffset)) return false;
  if (written > kMaxLineBytes) {
    throw dbengine::RuntimeError(
        kErrInvalidCall, "L'enregistrement dépasse la longueur d'une ligne du fichier de transfert (" +
                             std::to_string(kMaxLineBytes) +
                             " octets) : il ne pourrait pas être relu");
  }
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
  // On the disk before it takes the destination's name: after a power cut
  // the name never stands for an empty or partial file.
  if (const int error = support::SyncFile(fd_); error != 0) throw FileError(error, path_);
  if (unnamed_) {
    // A link cannot replace an existing file: the unnamed file gets a
    // temporary name of its own first, which the rename below moves over
    // the destination in one step.
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0;; ++attempt) {
      tempPath_ = NamedTemporaryPath(attempt);
      if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, tempPath_.c_str(), AT_SYMLINK_FOLLOW) ==
              0 ||
          (errno == ENOENT &&  // no /proc: the same link by the descriptor itself
           ::linkat(fd_, "", AT_FDCWD, tempPath_.c_str(), AT_EMPTY_PATH) == 0)) {
        break;
      }
      const int error = errno;
      tempPath_.clear();
      if (error != EEXIST || attempt >= 100) throw FileError(error, path_);
    }
    unnamed_ = false;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw FileError(errno, path_);
  if (::rename(tempPath_.c_str(), target_.c_str()) != 0) throw FileError(errno, path_);
  tempPath_.clear();
  // The rename itself lasts once the folder is on the disk.
  if (const int error = support::SyncFolderOf(target_); error != 0) throw FileError(error, path_);
}

void TransferFileWriter::Discard() noexcept {
  // An unnamed temporary file goes with its descriptor.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

// ---------------------------------------------------------------------------
// TransferFileReader

TransferFileReader::LineMemory::~LineMemory() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
}

char* TransferFileReader::LineMemory::RoomFor(std::size_t used, std::size_t extra) {
  if (capacity_ - used < extra) {
    // Pages of their own, grown by mremap, which moves the pages rather than
    // copying them: the line is never held twice while it grows, and the
    // pages not yet written take no memory.
    constexpr std::size_t kPage = 4096;
    std::size_t wanted = std::max(used + extra, capacity_ + capacity_ / 2);
    wanted = (wanted + kPage - 1) / kPage * kPage;
    void* grown = data_ == nullptr
                      ? ::mmap(nullptr, wanted, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                               -1, 0)
                      : ::mremap(data_, capacity_, wanted, MREMAP_MAYMOVE);
    if (grown == MAP_FAILED) throw MakeRuntimeError(kErrOutOfMemory);
    data_ = static_cast<char*>(grown);
    capacity_ = wanted;
  }
  return data_ + used;
}

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

bool TransferFileReader::Rewind() {
  if (fd_ < 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return false;
  begin_ = end_ = 0;
  atEnd_ = false;
  skipLf_ = false;
  return true;
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

void TransferFileReader::Append(const char* bytes, std::size_t size) {
  // In slices, so that the room asked for a text that is not ASCII (three
  // bytes per byte at most) stays small beside the line.
  constexpr std::size_t kSlice = std::size_t{64} << 10;
  for (std::size_t done = 0; done < size;) {
    const std::string_view slice(bytes + done, std::min(kSlice, size - done));
    if (IsAscii(slice)) {
      std::memcpy(line_.RoomFor(lineSize_, slice.size()), slice.data(), slice.size());
      lineSize_ += slice.size();
    } else {
      char* start = line_.RoomFor(lineSize_, 3 * slice.size());
      lineSize_ += static_cast<std::size_t>(converter_.AppendUtf8(slice, start) - start);
    }
    done += slice.size();
  }
}

bool TransferFileReader::ReadLine(std::string_view& utf8Line) {
  lineSize_ = 0;
  std::size_t lineBytes = 0;
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
    const void* cr = std::memchr(chunk, '\r', size);
    const std::size_t position =
        cr == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(cr) - chunk);
    lineBytes += position;
    if (lineBytes > maxLineBytes_) throw MakeRuntimeError(kErrOutOfMemory);
    Append(chunk, position);
    if (position == size) {
      begin_ = end_;
      continue;
    }
    skipLf_ = true;
    begin_ += position + 1;
    break;
  }
  utf8Line = std::string_view(line_.Data() == nullptr ? "" : line_.Data(), lineSize_);
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
    const std::size_t found =
        separator.size() == 1 ? line.find(separator[0], position) : line.find(separator, position);
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

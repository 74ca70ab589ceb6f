// The text-file rules of both platforms: CR LF and the end-of-file byte on
// reading, CR LF on writing. The platform files only move raw bytes.
#include "platform/platform.h"
#include "platform/raw_file.h"

namespace platform {

namespace {

constexpr size_t kReadChunk = 4096;
constexpr int kEndOfText = 0x1A;

}  // namespace

TextReader::~TextReader() { close(); }

bool TextReader::open(const std::string& path, bool followLinks) {
  close();
  file_ = raw::openForReading(path, followLinks);
  return file_ != raw::kNoFile;
}

int TextReader::rawByte() {
  if (at_ == buffer_.size()) {
    buffer_.resize(kReadChunk);
    const long long got = raw::read(file_, buffer_.data(), buffer_.size());
    if (got < 0) failed_ = true;
    buffer_.resize(got < 0 ? 0 : static_cast<size_t>(got));
    at_ = 0;
    if (buffer_.empty()) return EOF;
  }
  return static_cast<unsigned char>(buffer_[at_++]);
}

int TextReader::nextByte() {
  if (ended_ || file_ == raw::kNoFile) return EOF;
  int c = pending_;
  pending_ = -1;
  if (c < 0) c = rawByte();
  if (c == EOF || c == kEndOfText) {
    ended_ = true;
    return EOF;
  }
  if (c != '\r') return c;
  const int next = rawByte();
  if (next == '\n') return '\n';
  if (next == EOF || next == kEndOfText) {
    ended_ = true;
  } else {
    pending_ = next;
  }
  return '\r';
}

bool TextReader::readPiece(std::string& piece, size_t maxBytes) {
  piece.clear();
  while (piece.size() < maxBytes) {
    const int c = nextByte();
    if (c == EOF) break;
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

void TextReader::close() {
  if (file_ != raw::kNoFile) raw::close(file_);
  file_ = raw::kNoFile;
  buffer_.clear();
  at_ = 0;
  ended_ = false;
  failed_ = false;
  pending_ = -1;
}

TextWriter::~TextWriter() { close(); }

bool TextWriter::open(const std::string& path, Mode mode, bool throughLink) {
  close();
  file_ = raw::openForWriting(path, mode, throughLink);
  return file_ != raw::kNoFile;
}

bool TextWriter::write(std::string_view text) {
  if (file_ == raw::kNoFile) return false;
  std::string converted;
  converted.reserve(text.size() + text.size() / 16 + 2);
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return raw::write(file_, converted.data(), converted.size());
}

int64_t TextWriter::size() const { return file_ == raw::kNoFile ? -1 : raw::size(file_); }

bool TextWriter::truncate(int64_t size) {
  return file_ != raw::kNoFile && size >= 0 && raw::truncate(file_, size);
}

bool TextWriter::close() {
  if (file_ == raw::kNoFile) return false;
  const bool ok = raw::close(file_);
  file_ = raw::kNoFile;
  return ok;
}

}  // namespace platform

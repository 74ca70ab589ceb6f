// Recognising an archive's packer by its signature or its extension.
#include "convert/type_detection.h"

#include "config/settings.h"
#include "platform/platform.h"
#include "search/wildcard.h"

namespace {
constexpr size_t kSignatureWindow = 128;
}

int detectBySignature(const std::string& head) {
  for (size_t i = 0; i < settings.packers.size(); ++i) {
    const PackerDef& packer = settings.packers[i];
    if (packer.sigLength <= 0) continue;
    const size_t offset = size_t(packer.sigOffset);
    const size_t length = size_t(packer.sigLength);
    if (offset + length > head.size()) continue;
    bool equal = true;
    for (size_t b = 0; b < length && equal; ++b) {
      equal = static_cast<unsigned char>(head[offset + b]) == packer.sigBytes[b];
    }
    if (equal) return int(i);
  }
  return -1;
}

int detectPacker(const std::string& fileName) {
  if (!settings.detectById) {
    const int packer = findPacker(fileExtension(fileName));
    // Only a regular file is an archive: a pipe would hold its unpacker.
    const auto status = packer < 0 ? std::nullopt : platform::fileStatus(fileName, true);
    return status && status->kind == platform::EntryKind::File ? packer : -1;
  }
  std::string head;
  if (!platform::readFileHead(fileName, kSignatureWindow, head)) return -1;
  return detectBySignature(head);
}

// kestrix tlv: the element tree of a DER file.
#include <cstdint>
#include <string>
#include <vector>

#include "certificate.h"
#include "cli.h"
#include "commands.h"
#include "input.h"

namespace kx::tool {
namespace {

// Deeper nesting than any certificate or request has; past it the tree is
// refused rather than printed with ever wider indentation.
constexpr std::size_t kMaxDepth = 64;

// Name of a tag for the listing: the universal types a certificate or a
// request uses, and the tags of the context class (0x80..0xbf) as [n].
std::string TagName(unsigned char tag) {
  switch (tag) {
    case 0x01: return "BOOLEAN";
    case 0x02: return "INTEGER";
    case 0x03: return "BIT STRING";
    case 0x04: return "OCTET STRING";
    case 0x05: return "NULL";
    case 0x06: return "OBJECT IDENTIFIER";
    case 0x0a: return "ENUMERATED";
    case 0x0c: return "UTF8String";
    case 0x12: return "NumericString";
    case 0x13: return "PrintableString";
    case 0x14: return "TeletexString";
    case 0x16: return "IA5String";
    case 0x17: return "UTCTime";
    case 0x18: return "GeneralizedTime";
    case 0x1a: return "VisibleString";
    case 0x1c: return "UniversalString";
    case 0x1e: return "BMPString";
    case 0x30: return "SEQUENCE";
    case 0x31: return "SET";
    default: break;
  }
  if ((tag & 0xc0) == 0x80) return "[" + std::to_string(tag & 0x1f) + "]";
  return "?";
}

constexpr std::string_view kTlvUsage =
    "usage: kestrix tlv [-r] FILE...\n"
    "\n"
    "Lists the DER elements of each FILE, one per line, indented by depth:\n"
    "  OFFSET: tag TT NAME, header H, content C, total T\n"
    "Constructed elements (tag bit 0x20) are listed with their children.\n"
    "Every element must fit in its parent (the block for the outermost ones).\n"
    "Files of up to 10000000 bytes are accepted.\n";

// Lists the elements of one block, checking each against its parent.
int ListElements(const Block& block, std::string_view context) {
  const std::vector<unsigned char>& der = block.der;
  // ends[d] is where the parent of the elements at depth d ends; the file
  // is the parent of the outermost ones.
  std::vector<std::size_t> ends{der.size()};
  std::size_t at = 0;
  std::string line;
  while (!ends.empty()) {
    if (at == ends.back()) {
      ends.pop_back();
      continue;
    }
    const std::size_t depth = ends.size() - 1;
    const std::size_t left = ends.back() - at;
    const TlvHeader h = ReadHeader(der.data() + at, left);
    if (h.headerSize == 0) {
      return Fail(kExitData, context,
                  "element at offset " + std::to_string(at) +
                      " runs past its parent (its header needs " + std::to_string(h.headerNeeded) +
                      " bytes, " + std::to_string(left) + " left)");
    }
    const std::uint64_t total = h.headerSize + h.contentSize;
    if (total > left) {
      return Fail(kExitData, context,
                  "element at offset " + std::to_string(at) + " runs past its parent (declares " +
                      std::to_string(total) + " bytes, " + std::to_string(left) + " left)");
    }

    // The element lies inside the file: the library may read it.
    const unsigned char* element = der.data() + at;
    int32_t valueLen = 0;
    int32_t tvlTotal = 0;
    const int32_t status = getTVL(element, nullptr, &valueLen, &tvlTotal);
    if (status != KX_OK) {
      return Fail(
          kExitData, context,
          "element at offset " + std::to_string(at) + ": " + LibraryError("getTVL", status));
    }
    const int32_t certLen = getcertlen(element);
    if (static_cast<std::uint64_t>(tvlTotal) != total ||
        static_cast<std::uint64_t>(certLen) != total) {
      return Fail(kExitData, context,
                  "element at offset " + std::to_string(at) + ": the header declares " +
                      std::to_string(total) + " bytes but getTVL reports " +
                      std::to_string(tvlTotal) + " and getcertlen " + std::to_string(certLen));
    }

    const unsigned char tag = element[0];
    char tagHex[3];
    std::snprintf(tagHex, sizeof tagHex, "%02x", static_cast<unsigned>(tag));
    line.assign(2 * depth, ' ');
    line += std::to_string(at) + ": tag " + tagHex + " " + TagName(tag) + ", header " +
            std::to_string(h.headerSize) + ", content " + std::to_string(h.contentSize) +
            ", total " + std::to_string(total) + "\n";
    if (!WriteOutput(context, line.data(), line.size())) return kExitData;

    const bool constructed = (tag & 0x20) != 0;
    if (constructed && h.contentSize > 0) {
      if (ends.size() > kMaxDepth) {
        return Fail(kExitData, context,
                    "element at offset " + std::to_string(at) + " nests deeper than " +
                        std::to_string(kMaxDepth) + " levels");
      }
      ends.push_back(at + static_cast<std::size_t>(total));
      at += h.headerSize;
    } else {
      at += static_cast<std::size_t>(total);
    }
  }
  return kExitOk;
}

}  // namespace

int RunTlv(Args args) {
  return RunOnInputs(kTlvUsage, "tlv", args, Kind::kAny, ListElements);
}

}  // namespace kx::tool

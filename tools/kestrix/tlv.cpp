// kestrix tlv: the element tree of a DER file.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "certificate.h"
#include "cli.h"
#include "commands.h"
#include "input.h"
#include "oid_names.h"
#include "text.h"

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

// An OBJECT IDENTIFIER's content in dotted decimal (arcs up to 64 bits; a
// longer one, or content that ends inside an arc, is "" and shown in hex).
std::string DottedOid(std::span<const unsigned char> content) {
  std::string dotted;
  std::uint64_t arc = 0;
  bool first = true;
  for (unsigned char b : content) {
    if (arc > (UINT64_MAX >> 7)) return {};
    arc = (arc << 7) | (b & 0x7Fu);
    if ((b & 0x80) != 0) continue;
    if (first) {
      const std::uint64_t top = arc < 80 ? arc / 40 : 2;
      dotted += std::to_string(top);
      arc -= 40 * top;
      first = false;
    }
    dotted += '.';
    dotted += std::to_string(arc);
    arc = 0;
  }
  return (content.empty() || (content.back() & 0x80) != 0) ? std::string() : dotted;
}

// What a primitive element holds, on one line: an OID by its dotted form and
// name, a string or time as text, a BOOLEAN as TRUE or FALSE, anything else
// in hex; at most 48 characters, or 24 bytes in hex.
std::string ElementValue(unsigned char tag, std::span<const unsigned char> content) {
  constexpr std::size_t kShown = 48;
  const auto hex = [&content] {
    const std::size_t shown = std::min(content.size(), kShown / 2);
    const std::string_view bytes(reinterpret_cast<const char*>(content.data()), shown);
    return HexText(bytes) + (shown < content.size() ? "..." : "");
  };
  std::string text;
  switch (tag) {
    case 0x01: return content.size() == 1 ? (content[0] != 0 ? "TRUE" : "FALSE") : hex();
    case 0x06: {
      const std::string dotted = DottedOid(content);
      if (dotted.empty()) return hex();
      const std::string_view name = FindOidName(dotted);
      return name.empty() ? dotted : dotted + " " + std::string(name);
    }
    case 0x0c:
    case 0x12:
    case 0x13:
    case 0x14:
    case 0x16:
    case 0x17:
    case 0x18:
    case 0x1a: text.assign(content.begin(), content.end()); break;
    case 0x1e:    // BMPString: UTF-16, big-endian
    case 0x1c: {  // UniversalString: UTF-32, big-endian
      const std::size_t unit = tag == 0x1e ? 2 : 4;
      for (std::size_t i = 0; i + unit <= content.size(); i += unit) {
        char32_t cp = 0;
        for (std::size_t k = 0; k < unit; ++k) cp = (cp << 8) | content[i + k];
        if (unit == 2 && i + 4 <= content.size()) {
          const char32_t low = (char32_t{content[i + 2]} << 8) | content[i + 3];
          if (const char32_t pair = SurrogatePair(cp, low); pair != 0) {
            cp = pair;
            i += 2;
          }
        }
        AppendUtf8OrReplacement(text, cp);
      }
      break;
    }
    default: return hex();
  }
  // Whole characters only: the cut never splits one.
  std::size_t end = 0;
  for (std::size_t chars = 0; end < text.size() && chars < kShown; ++chars) {
    do ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80);
  }
  const bool cut = end < text.size();
  text.resize(end);
  return DocumentText(text) + (cut ? "..." : "");
}

constexpr std::string_view kTlvUsage =
    "usage: kestrix tlv [-r] FILE...\n"
    "\n"
    "Lists the DER elements of each FILE, one per line, indented by depth:\n"
    "  OFFSET: tag TT NAME, header H, content C, total T[: VALUE]\n"
    "Constructed elements (tag bit 0x20) are listed with their children; a\n"
    "primitive one with what it holds: an OID with its name, a string or time\n"
    "as text, other values in hex (48 characters or bytes at most).\n"
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
            ", total " + std::to_string(total);
    if ((tag & 0x20) == 0 && h.contentSize > 0) {
      const std::string value = ElementValue(
          tag, std::span(element + h.headerSize, static_cast<std::size_t>(h.contentSize)));
      if (!value.empty()) line += ": " + value;
    }
    line += '\n';
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

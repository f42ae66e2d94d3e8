// kestrix items: a certificate's items, as GetCertInfo answers them, and
// what the items' fixed fields cut or leave out.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "certificate.h"
#include "cli.h"
#include "commands.h"
#include "document.h"
#include "input.h"
#include "item_table.h"
#include "json.h"
#include "text.h"

namespace kx::tool {
namespace {

std::string_view ShapeName(Shape shape) {
  switch (shape) {
    case Shape::kText: return "text";
    case Shape::kNumber: return "number";
    case Shape::kBytes: return "bytes";
    case Shape::kSerial: return "serial";
  }
  return "?";
}

// One item code of GetCertInfo, from the table generated from
// bindings/abi.json. `listed` is false for the codes that repeat another one;
// they are answered for --item only.
using CertItem = ItemRow;
constexpr const auto& kCertItems = kItemTable;

const CertItem* FindCertItem(uint32_t code) {
  return FindItemRow(code);
}

constexpr uint32_t kItemCodeMask = 0x00FFFFFFu;
constexpr uint32_t kFormMask = 0xFF000000u;

struct BitName {
  int32_t bit;
  std::string_view name;
};

constexpr BitName kKeyUsageBits[] = {
    {0x8000, "digitalSignature"}, {0x4000, "nonRepudiation"}, {0x2000, "keyEncipherment"},
    {0x1000, "dataEncipherment"}, {0x0800, "keyAgreement"},   {0x0400, "keyCertSign"},
    {0x0200, "cRLSign"},          {0x0100, "encipherOnly"},   {0x0080, "decipherOnly"},
};

constexpr BitName kNetscapeTypeBits[] = {
    {0x8000, "sslClient"}, {0x4000, "sslServer"}, {0x2000, "smime"},   {0x1000, "objectSigning"},
    {0x0800, "reserved"},  {0x0400, "sslCA"},     {0x0200, "smimeCA"}, {0x0100, "objectSigningCA"},
};

// "40960 (0xa000: digitalSignature keyEncipherment)".
std::string BitSetText(int32_t value, std::span<const BitName> names) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04x", static_cast<unsigned>(value));
  std::string text = std::to_string(value) + " (" + hex;
  const char* separator = ": ";
  for (const BitName& b : names) {
    if ((value & b.bit) != 0) {
      text += separator;
      text += b.name;
      separator = " ";
    }
  }
  return text + ")";
}

// True for a number item whose -1 means the certificate has no such extension.
bool MinusOneIsAbsent(uint32_t code) {
  return code == KX_ITEM_KEY_USAGE || code == KX_ITEM_X5315_100_2_2;
}

// True when the listing shows the item: any refusal; a number always; a text,
// serial or bytes item with a length, except the 20 zero bytes the key
// identifiers answer for a certificate without them.
bool CertCarries(const CertItem& row, const CertAnswer& answer) {
  if (answer.status != KX_OK || row.shape == Shape::kNumber) return true;
  const std::string_view bytes = answer.Bytes();
  if (bytes.empty()) return false;
  if (row.code == KX_ITEM_AUTHORITY_KEY_ID || row.code == KX_ITEM_SUBJECT_KEY_ID) {
    return bytes.find_first_not_of('\0') != std::string_view::npos;
  }
  return true;
}

// The shape an answer is shown in: the row's, but bytes for the serial's
// raw form, and none ("-") for a code the tool does not know.
std::string_view ShownShape(const CertItem* row, uint32_t item) {
  if (row == nullptr) return "-";
  const bool raw =
      (item & kItemCodeMask) == KX_ITEM_SERIAL_NUMBER && (item & kFormMask) == KX_FORM_RAW;
  return ShapeName(raw ? Shape::kBytes : row->shape);
}

// One answer's value for the terminal.
std::string CertText(const CertItem* row, uint32_t item, const CertAnswer& answer) {
  const std::string_view bytes = answer.Bytes();
  const std::string_view shape = ShownShape(row, item);
  const uint32_t code = item & kItemCodeMask;
  if (row == nullptr) {
    std::string text =
        "number " + std::to_string(answer.number) + ", " + std::to_string(answer.length) + " bytes";
    return bytes.empty() ? text : text + ": " + HexText(bytes);
  }
  if (shape == "number") {
    if (MinusOneIsAbsent(code) && answer.number == -1) return "absent";
    if (code == KX_ITEM_KEY_USAGE) return BitSetText(answer.number, kKeyUsageBits);
    if (code == KX_ITEM_NETSCAPE_CERT_TYPE) return BitSetText(answer.number, kNetscapeTypeBits);
    return std::to_string(answer.number);
  }
  if (bytes.empty()) return "(none)";
  if (shape == "bytes") return HexText(bytes) + " (" + std::to_string(bytes.size()) + " bytes)";
  std::string text = TerminalText(bytes);
  if (code == KX_ITEM_SIGNATURE_ALGORITHM)
    text += " (AlgCode " + std::to_string(answer.number) + ")";
  return text;
}

// Sets an answer's "value" in its JSON object, and the members a few
// answers add.
void SetJsonValue(Json& json, const CertItem* row, uint32_t item, const CertAnswer& answer) {
  const std::string_view bytes = answer.Bytes();
  const std::string_view shape = ShownShape(row, item);
  const uint32_t code = item & kItemCodeMask;
  if (row == nullptr || shape == "bytes") {
    json["value"] = HexText(bytes);
  } else if (shape == "number") {
    const bool absent = MinusOneIsAbsent(code) && answer.number == -1;
    json["value"] = absent ? Json() : Json(answer.number);
  } else {
    json["value"] = Utf8Text(bytes);
  }
  if (row == nullptr) {
    json["number"] = answer.number;
    json["length"] = answer.length;
  } else if (code == KX_ITEM_SIGNATURE_ALGORITHM && !bytes.empty()) {
    json["algCode"] = answer.number;
  }
}

// The item as given: its number, or in hex when it carries a form byte.
std::string ItemLabel(uint32_t item) {
  if ((item & kFormMask) == 0) return std::to_string(item);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(item));
  return hex;
}

// "  27  subject commonName                        text    kestrix sha1 RSA-2048".
std::string CertLine(const CertItem* row, uint32_t item, const CertAnswer& answer) {
  const std::string name = row == nullptr ? "(not in use)" : std::string(row->name);
  const std::string shape(answer.status != KX_OK && row != nullptr ? ShapeName(row->shape)
                                                                   : ShownShape(row, item));
  const std::string value =
      answer.status != KX_OK ? StatusText(answer.status) : CertText(row, item, answer);
  char head[96];
  std::snprintf(head, sizeof head, "%4s  %-40s  %-6s  ", ItemLabel(item).c_str(), name.c_str(),
                shape.c_str());
  return head + value + "\n";
}

// {"item":27,"name":"subject commonName","shape":"text","value":"..."}; a
// refused item has "status" in place of the value.
Json CertJson(const CertItem* row, uint32_t item, const CertAnswer& answer) {
  Json json = JsonObject(6);
  json["item"] = item & kItemCodeMask;
  if ((item & kFormMask) != 0) json["form"] = item >> 24;
  json["name"] = row == nullptr ? Json() : Json(row->name);
  if (answer.status != KX_OK) {
    json["shape"] = row == nullptr ? Json() : Json(ShapeName(row->shape));
    json["status"] = StatusText(answer.status);
    return json;
  }
  json["shape"] = row == nullptr ? Json() : Json(ShownShape(row, item));
  SetJsonValue(json, row, item, answer);
  return json;
}

// One listed item and its answer.
struct Listed {
  const CertItem* row;
  uint32_t item;
  CertAnswer answer;
};

// The attribute a name item reads: "commonName" of "subject commonName",
// "emailAddress" of "subject emailAddress, else SAN email"; empty for items
// of other kinds and for those of the other `side`.
std::string_view NameAttribute(const CertItem& row, std::string_view side) {
  std::string_view name = row.name;
  if (row.shape != Shape::kText || !name.starts_with(side) || name.size() <= side.size() ||
      name[side.size()] != ' ') {
    return {};
  }
  name.remove_prefix(side.size() + 1);
  return name.substr(0, name.find(','));
}

// Warnings on what the items' fixed fields cut or leave out, from the
// certificate's document: a name attribute of more than one value (the items
// answer the last), one the items have no field for, subjectAltName entries
// beyond the one of each type the items hold.
void WarnFromDocument(const Json& doc, std::vector<std::string>& warnings) {
  if (!doc.is_object()) return;
  for (const char* side : {"issuer", "subject"}) {
    std::vector<std::pair<std::string, int>> counts;  // in the order first seen
    for (const Json& rdn : doc.value(side, Json::object()).value("rdns", Json::array())) {
      for (const Json& attribute : rdn) {
        const std::string name = attribute.value("name", attribute.value("oid", std::string()));
        auto it = std::find_if(counts.begin(), counts.end(),
                               [&name](const auto& c) { return c.first == name; });
        if (it == counts.end()) {
          counts.emplace_back(name, 1);
        } else {
          ++it->second;
        }
      }
    }
    for (const auto& [name, count] : counts) {
      // Every domainComponent is answered, joined in one item.
      const bool joined = name == "domainComponent";
      const std::string field = joined ? "domainComponents" : name;
      const bool held =
          std::any_of(std::begin(kCertItems), std::end(kCertItems),
                      [&](const CertItem& row) { return NameAttribute(row, side) == field; });
      const std::string what = std::string(side) + " " + name;
      if (!held) {
        warnings.push_back(what + ": the library has no field for it");
      } else if (count > 1 && !joined) {
        warnings.push_back(what + ": more than one value; the library answers one");
      }
    }
  }
  std::vector<std::pair<std::string, int>> sans;
  for (const Json& extension : doc.value("extensions", Json::array())) {
    if (extension.value("oid", "") != "2.5.29.17") continue;
    for (const Json& name : extension.value("names", Json::array())) {
      const std::string type = name.value("type", "");
      auto it =
          std::find_if(sans.begin(), sans.end(), [&](const auto& c) { return c.first == type; });
      if (it == sans.end()) {
        sans.emplace_back(type, 1);
      } else {
        ++it->second;
      }
    }
  }
  for (const auto& [type, count] : sans) {
    const bool held = type == "DNS" || type == "IP" || type == "email" || type == "URI";
    if (count <= (held ? 1 : 0)) continue;
    warnings.push_back("subjectAltName: " + std::to_string(count) + " " + type +
                       (count == 1 ? " entry" : " entries") + "; the library's items hold " +
                       (held ? "one" : "none"));
  }
}

// The items document of one certificate (docs/json.md).
Json ItemsDocument(const Block& block, const std::vector<Listed>& listed,
                   const std::vector<std::string>* warnings) {
  Json doc = JsonObject(4);
  doc["kestrix_items"] = 1;
  doc["source"] = block.name;
  Json& items = doc["items"] = Json::array();
  for (const Listed& l : listed) items.push_back(CertJson(l.row, l.item, l.answer));
  if (warnings != nullptr) doc["warnings"] = *warnings;
  return doc;
}

constexpr std::string_view kItemsUsage =
    "usage: kestrix items [-r] [--json | --jsonl] [--item N] [-j N] FILE...\n"
    "\n"
    "Lists the items of each certificate as the library's GetCertInfo answers\n"
    "them, one call per item, one line each:\n"
    "  ITEM  NAME  SHAPE  VALUE\n"
    "SHAPE is text, number, bytes or serial. Texts are shown in the locale's\n"
    "character set, control characters and bytes that are no character as \\xNN\n"
    "and a backslash as \\\\; bytes in hex; serials as the library's lowercase\n"
    "hex; numbers in decimal, key usage and Netscape cert type also in hex with\n"
    "the names of their bits.\n"
    "\n"
    "Listed are the items the certificate carries: texts, serials and bytes\n"
    "that are not empty, except key IDs of 20 zero bytes (the library's answer\n"
    "when there is none); the numbers version, key usage, basicConstraints CA,\n"
    "Netscape cert type and 1.3.6.1.4.1.5315.100.2.2 always, key usage and\n"
    "5315.100.2.2 as 'absent' when the library answers -1. Items 40 and 111\n"
    "repeat 39 and 90 and are not listed. An item the library refuses for its\n"
    "fixed field shows its status (KX_ERR_MALFORMED for a public key over 300\n"
    "bytes); 'kestrix cert' shows the whole certificate. Item 59 holds a SAN\n"
    "iPAddress as its raw octets, zero octets included (\\x00).\n"
    "\n"
    "Then a warning for each value the items' fixed fields cut or leave out: a\n"
    "second value of a name attribute, an attribute they have no field for, a\n"
    "value that fills its field, SAN entries beyond the one of each type they\n"
    "hold.\n"
    "\n"
    "  --json    the same as one JSON document per certificate (docs/json.md):\n"
    "            {\"kestrix_items\": 1, \"source\": \"FILE\", \"items\": [{\"item\": 27,\n"
    "             \"name\": ..., \"shape\": \"text\", \"value\": ...}, ...],\n"
    "             \"warnings\": [...]}\n"
    "            a refused item has \"status\" instead of \"value\"\n"
    "  --jsonl   the same documents, one a line, for batches\n"
    "  -j, --jobs N\n"
    "            answer the files on N threads (by default one per core); the\n"
    "            answers keep the files' order\n"
    "  --item N  only item N (decimal, or hex with 0x), whatever it answers. The\n"
    "            top 8 bits of N are the form byte: 0x02000001 is the serial in\n"
    "            uppercase hex, 0x01000001 its raw bytes. A code the tool does not\n"
    "            know shows the library's number, length and bytes.\n"
    "\n"
    "With more than one certificate, a summary goes to standard error at the end,\n"
    "and while it is a terminal a progress line.\n"
    "\n"
    "Exit status: 1 when a certificate does not decode (one error line each),\n"
    "with --item when the library refuses the item, or when an input is not a\n"
    "certificate; else 0.\n";

// Parses N of --item: decimal, or hex after 0x, at most 32 bits.
bool ParseItem(std::string_view text, uint32_t& item) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return false;
  }
  item = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

int RunItems(Args args) {
  constexpr std::string_view kContext = "items";
  std::vector<std::string> files;
  bool recursive = false;
  bool json = false;
  bool jsonLines = false;
  bool oneItem = false;
  std::string itemText;
  bool jobsGiven = false;
  std::string jobsText;
  const Option options[] = {{"--json", &json},
                            {"--jsonl", &jsonLines},
                            {"--item", &oneItem, &itemText, "a number"},
                            {"-j,--jobs", &jobsGiven, &jobsText, "a number of threads"}};
  if (int status = ParseInputs(kItemsUsage, kContext, args, options, files, recursive);
      status >= 0) {
    return status;
  }
  uint32_t item = 0;
  if (oneItem && !ParseItem(itemText, item)) {
    return UsageError(kContext, "--item wants a number of up to 32 bits, not '" + itemText + "'");
  }
  unsigned jobs = DefaultJobs();
  if (jobsGiven && !ParseJobs(kContext, jobsText, jobs)) return kExitUsage;

  const auto listItems = [&](const Block& block, std::string_view context) {
    const std::vector<unsigned char>& der = block.der;
    // Every item decodes the whole certificate; the version tells whether it
    // decodes at all.
    const CertAnswer version = AskCertItem(der, KX_ITEM_VERSION);
    if (version.status != KX_OK) {
      return Fail(kExitData, context, LibraryError("GetCertInfo", version.status));
    }
    // Kept from one certificate to the next: its room (some 30 KB) is not
    // allocated anew for each.
    thread_local std::vector<Listed> listed;
    listed.clear();
    int exitStatus = kExitOk;
    if (oneItem) {
      listed.push_back({FindCertItem(item & kItemCodeMask), item, AskCertItem(der, item)});
      if (listed.back().answer.status != KX_OK) exitStatus = kExitData;
    } else {
      for (const CertItem& row : kCertItems) {
        if (!row.listed) continue;
        const CertAnswer answer =
            row.code == KX_ITEM_VERSION ? version : AskCertItem(der, row.code);
        if (CertCarries(row, answer)) listed.push_back({&row, row.code, answer});
      }
    }
    std::vector<std::string> warnings;
    if (!oneItem) {
      const Document document = AskDocument(CertificateToJson, der);
      if (document.status == KX_OK) {
        WarnFromDocument(Json::parse(document.text, nullptr, false), warnings);
      }
    }
    for (const Listed& l : listed) {  // values the library's fields may have cut
      if (!oneItem && l.answer.status == KX_OK && l.row->shape == Shape::kText &&
          l.answer.length + 1 >= l.row->largest) {
        warnings.push_back(std::string(l.row->name) + ": fills the library's " +
                           std::to_string(l.row->largest - 1) + "-byte field; it may be cut");
      }
    }
    std::string out;
    if (json || jsonLines) {
      out = JsonDocument(ItemsDocument(block, listed, oneItem ? nullptr : &warnings), jsonLines);
    } else {
      for (const Listed& l : listed) out += CertLine(l.row, l.item, l.answer);
      for (const std::string& warning : warnings) {
        out += "      warning     " + TerminalText(warning) + "\n";
      }
    }
    return WriteOutput(context, out.data(), out.size()) ? exitStatus : kExitData;
  };
  return ForEachBlock(kContext, files, recursive, Kind::kCertificate, !json && !jsonLines,
                      listItems, jobs);
}

}  // namespace kx::tool

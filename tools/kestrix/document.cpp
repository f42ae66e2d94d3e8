#include "document.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

#include "cli.h"
#include "input.h"
#include "json_view.h"
#include "kestrix.h"
#include "text.h"

#if defined(KESTRIX_TOOL_DIGESTS_OPENSSL)
#include <openssl/evp.h>
#elif defined(_WIN32)
#include <windows.h>
// windows.h first
#include <bcrypt.h>
#endif

namespace kx::tool {
namespace {

std::string ColonHex(std::span<const unsigned char> bytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ':';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

// The digest `sha256` or SHA-1 of `der` in colon-separated hex, or the
// empty text where the tool has no digests.
std::string Digest(std::span<const unsigned char> der, bool sha256) {
#if defined(KESTRIX_TOOL_DIGESTS_OPENSSL)
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  // Fetched once: a fetch per call costs more than the digest of a certificate.
  static EVP_MD* const kSha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  static EVP_MD* const kSha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  const EVP_MD* md = sha256 ? kSha256 : kSha1;
  if (md == nullptr || EVP_Digest(der.data(), der.size(), digest, &size, md, nullptr) != 1) {
    return {};
  }
  return ColonHex({digest, size});
#elif defined(_WIN32)
  BCRYPT_ALG_HANDLE handle = nullptr;
  unsigned char digest[32];
  const ULONG size = sha256 ? 32 : 20;
  bool ok = BCryptOpenAlgorithmProvider(
                &handle, sha256 ? BCRYPT_SHA256_ALGORITHM : BCRYPT_SHA1_ALGORITHM, nullptr, 0) >= 0;
  ok = ok && BCryptHash(handle, nullptr, 0, const_cast<PUCHAR>(der.data()),
                        static_cast<ULONG>(der.size()), digest, size) >= 0;
  if (handle != nullptr) BCryptCloseAlgorithmProvider(handle, 0);
  return ok ? ColonHex({digest, size}) : std::string();
#else
  (void)der;
  (void)sha256;
  return {};
#endif
}

// The opening every document has; the tool's members go behind it.
constexpr std::string_view kOpening = "{\"kestrix_document\":2";

// Appends JSON text written on one line, indented as nlohmann's dump(2)
// indents: a line per member and element, two spaces a level, ": " after a
// name, empty objects and arrays kept as {} and [].
void AppendIndented(std::string& out, std::string_view json) {
  std::size_t depth = 0;
  bool inString = false;
  const auto newline = [&] {
    out += '\n';
    out.append(2 * depth, ' ');
  };
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (inString) {
      out += c;
      if (c == '\\' && i + 1 < json.size()) {
        out += json[++i];
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        out += c;
        break;
      case '{':
      case '[':
        out += c;
        if (i + 1 < json.size() && (json[i + 1] == '}' || json[i + 1] == ']')) {
          out += json[++i];
        } else {
          ++depth;
          newline();
        }
        break;
      case '}':
      case ']':
        --depth;
        newline();
        out += c;
        break;
      case ',':
        out += c;
        newline();
        break;
      case ':': out += ": "; break;
      default: out += c;
    }
  }
}

// ---- The text view ---------------------------------------------------------------

constexpr std::size_t kHexBytesPerLine = 18;

std::string ViewText(const JsonView& value) {
  return value.is_string() ? DocumentText(value.text()) : value.text();
}

// A document's hex ("3082010a...") as colon-separated lines at `indent`.
void AppendHexLines(std::string& out, const std::string& hex, std::size_t indent) {
  for (std::size_t at = 0; at < hex.size(); at += 2 * kHexBytesPerLine) {
    out.append(indent, ' ');
    const std::size_t end = std::min(hex.size(), at + 2 * kHexBytesPerLine);
    for (std::size_t i = at; i < end; i += 2) {
      out.append(hex, i, 2);
      if (i + 2 < hex.size()) out += ':';
    }
    out += '\n';
  }
}

std::string OidText(const JsonView& oid) {
  if (oid.contains("name")) return ViewText(oid["name"]);
  if (oid.contains("oid")) return ViewText(oid["oid"]);
  return "OID " + ViewText(oid["oidHex"]);
}

bool IsOnly(const JsonView& object, std::initializer_list<std::string_view> keys) {
  for (const JsonView& member : object) {
    if (std::find(keys.begin(), keys.end(), member.key()) == keys.end()) return false;
  }
  return true;
}

// The value on one line where it reads well there: texts, numbers, OIDs by
// name, general names as TYPE:value, names as their RFC 4514 string, lists
// of those joined by ", ".
std::optional<std::string> Inline(const JsonView& value) {
  if (!value.is_structured()) return ViewText(value);
  if (value.is_object()) {
    if (value.contains("rfc4514")) return ViewText(value["rfc4514"]);
    if ((value.contains("oid") || value.contains("oidHex")) &&
        IsOnly(value, {"oid", "name", "oidHex"})) {
      return OidText(value);
    }
    if (value.contains("type") && value.contains("value") &&
        IsOnly(value, {"type", "value", "oid", "name"})) {
      const JsonView& v = value["value"];
      std::string text = ViewText(value["type"]) + ":";
      if (value.contains("oid")) text += OidText(value) + ";";
      if (v.is_object() && v.contains("rfc4514")) return text + ViewText(v["rfc4514"]);
      if (!v.is_structured()) return text + ViewText(v);
    }
    return std::nullopt;
  }
  std::string joined;
  for (const JsonView& item : value) {
    const std::optional<std::string> one = Inline(item);
    if (!one) return std::nullopt;
    if (!joined.empty()) joined += ", ";
    joined += *one;
  }
  return joined;
}

void AppendBlock(std::string& out, const JsonView& value, std::size_t indent);

// One member, "name: value" on a line, or "name:" and the value below.
void AppendMember(std::string& out, std::string_view name, const JsonView& value,
                  std::size_t indent) {
  out.append(indent, ' ');
  out += name;
  out += ':';
  if (const std::optional<std::string> one = Inline(value); one && one->size() <= 100) {
    out += ' ' + *one + '\n';
    return;
  }
  out += '\n';
  if (value.is_array() && Inline(value)) {
    // A long list of short entries: as many to a line as fit 80 columns.
    std::string line;
    for (std::size_t i = 0; i < value.size(); ++i) {
      const std::string entry = *Inline(value.children()[i]) + (i + 1 < value.size() ? "," : "");
      if (!line.empty() && indent + 4 + line.size() + 1 + entry.size() > 80) {
        out.append(indent + 4, ' ') += line + '\n';
        line.clear();
      }
      line += (line.empty() ? "" : " ") + entry;
    }
    out.append(indent + 4, ' ') += line + '\n';
    return;
  }
  AppendBlock(out, value, indent + 4);
}

// A value over lines at `indent`: an object's members one a line, a list's
// entries one a line ("- " before each of a list of objects).
void AppendBlock(std::string& out, const JsonView& value, std::size_t indent) {
  if (const std::optional<std::string> one = Inline(value); one && !value.is_array()) {
    out.append(indent, ' ') += *one + '\n';
  } else if (value.is_object()) {
    for (const JsonView& member : value) AppendMember(out, member.key(), member, indent);
  } else {
    for (const JsonView& item : value) {
      std::string entry;
      AppendBlock(entry, item, indent + 2);
      if (entry.size() >= indent + 2) entry.replace(indent, 2, "- ");
      out += entry;
    }
  }
}

void AppendName(std::string& out, std::string_view label, const JsonView& doc, const char* member) {
  if (!doc.contains(member)) return;
  out += "    ";
  out += label;
  out += ": " + ViewText(doc[member]["rfc4514"]) + "\n";
}

void AppendAlgorithm(std::string& out, std::string_view label, const JsonView& algorithm,
                     std::size_t indent) {
  out.append(indent, ' ');
  out += label;
  out += ": " + OidText(algorithm) + "\n";
  for (const JsonView& member : algorithm) {
    if (member.key() != "oid" && member.key() != "name") {
      AppendMember(out, member.key(), member, indent + 4);
    }
  }
}

void AppendPublicKey(std::string& out, const JsonView& spki) {
  out += "    Subject Public Key Info:\n";
  AppendAlgorithm(out, "Public Key Algorithm", spki["algorithm"], 8);
  for (const JsonView& member : spki) {
    if (member.key() == "algorithm" || member.key() == "key") continue;
    AppendMember(out, member.key(), member, 8);
  }
  if (spki.contains("key")) {
    out += "        key:\n";
    AppendHexLines(out, spki["key"].text(), 12);
  }
}

void AppendExtensions(std::string& out, const JsonView& extensions, std::string_view heading) {
  if (extensions.empty()) return;
  out += "    ";
  out += heading;
  out += ":\n";
  for (const JsonView& e : extensions) {
    out += "        " + OidText(e);
    if (e.contains("name")) out += " (" + ViewText(e["oid"]) + ")";
    out += e["critical"].kind() == JsonView::Kind::kTrue ? ": critical\n" : ":\n";
    bool meaning = false;
    for (const JsonView& member : e) {
      const std::string_view key = member.key();
      if (key == "oid" || key == "name" || key == "critical" || key == "value" || key == "oidHex") {
        continue;
      }
      meaning = true;
      AppendMember(out, key, member, 12);
    }
    if (!meaning || e.contains("error")) AppendHexLines(out, e["value"].text(), 12);
  }
}

// The extensions of an extension request's value, {"extensions": [...]}.
const JsonView* RequestedExtensions(const JsonView& attribute) {
  for (const JsonView& value : attribute["values"]) {
    if (value.is_object() && value.contains("extensions")) return &value["extensions"];
  }
  return nullptr;
}

void AppendTime(std::string& out, std::string_view label, const JsonView& time, std::int64_t now,
                bool daysLeft) {
  out += "        ";
  out += label;
  out += ViewText(time);
  std::int64_t seconds = 0;
  if (daysLeft && time.is_string() && ParseDocumentTime(time.text(), seconds)) {
    const std::int64_t days = (seconds - now) / 86400;
    out += seconds >= now ? " (" + std::to_string(days) + " days left)"
                          : " (expired " + std::to_string(-days) + " days ago)";
  }
  out += '\n';
}

}  // namespace

Document AskDocument(ToJson call, std::span<const unsigned char> input) {
  thread_local std::vector<char> buffer(64 * 1024);
  std::int32_t length = 0;
  const auto size = static_cast<std::int32_t>(input.size());
  std::int32_t status =
      call(input.data(), size, buffer.data(), static_cast<std::int32_t>(buffer.size()), &length);
  if (status == KX_ERR_LENGTH && length > 0 && length < INT32_MAX) {
    buffer.resize(static_cast<std::size_t>(length) + 1);
    status =
        call(input.data(), size, buffer.data(), static_cast<std::int32_t>(buffer.size()), &length);
  }
  if ((status == KX_OK || status == KX_ERR_MALFORMED) && length > 0 &&
      static_cast<std::size_t>(length) < buffer.size()) {
    return {status, {buffer.data(), static_cast<std::size_t>(length)}};
  }
  return {status == KX_OK ? KX_ERR_LENGTH : status, {}};
}

Fingerprints Fingerprint(std::span<const unsigned char> der) {
  return {Digest(der, true), Digest(der, false)};
}

std::string ToolDocument(std::string_view document, std::string_view source,
                         const Fingerprints& fingerprints, bool oneLine) {
  std::string members =
      ",\"source\":" +
      Json(std::string(source)).dump(-1, ' ', false, Json::error_handler_t::replace);
  if (!fingerprints.sha256.empty()) members += ",\"sha256\":\"" + fingerprints.sha256 + '"';
  if (!fingerprints.sha1.empty()) members += ",\"sha1\":\"" + fingerprints.sha1 + '"';
  const std::string_view head = document.starts_with(kOpening) ? kOpening : std::string_view();
  if (head.empty()) members.clear();  // no document of the library's: as it stands
  std::string whole;
  whole.reserve(document.size() + members.size() + 1);
  whole += head;
  whole += members;
  whole += document.substr(head.size());
  if (oneLine) return whole += '\n';
  std::string out;
  out.reserve(2 * whole.size());
  AppendIndented(out, whole);
  return out += '\n';
}

std::string DocumentView(std::string_view document, const Fingerprints& fingerprints,
                         std::int64_t now) {
  thread_local JsonView doc;  // its room kept from one document to the next
  if (!JsonView::Parse(document, doc)) return {};
  std::string out;
  const bool certificate = doc["type"].text() == "certificate";
  out += certificate ? "Certificate:\n" : "Certificate Request:\n";
  if (doc.contains("version")) out += "    Version: " + ViewText(doc["version"]) + "\n";
  if (doc.contains("serialNumber")) {
    out += "    Serial Number: " + ViewText(doc["serialNumber"]);
    if (doc.contains("serialNumberDecimal"))
      out += " (" + ViewText(doc["serialNumberDecimal"]) + ")";
    out += '\n';
  }
  if (certificate && doc.contains("signatureAlgorithm")) {
    AppendAlgorithm(out, "Signature Algorithm", doc["signatureAlgorithm"], 4);
  }
  if (doc.contains("tbsSignatureAlgorithm")) {
    AppendAlgorithm(out, "TBS Signature Algorithm", doc["tbsSignatureAlgorithm"], 4);
  }
  AppendName(out, "Issuer", doc, "issuer");
  if (doc.contains("validity")) {
    out += "    Validity:\n";
    const JsonView& validity = doc["validity"];
    AppendTime(out, "Not Before: ", validity["notBefore"], now, false);
    AppendTime(out, "Not After:  ", validity["notAfter"], now, true);
  }
  AppendName(out, "Subject", doc, "subject");
  if (doc.contains("subjectPublicKeyInfo")) AppendPublicKey(out, doc["subjectPublicKeyInfo"]);
  for (const char* id : {"issuerUniqueId", "subjectUniqueId"}) {
    if (!doc.contains(id)) continue;
    out += std::string("    ") + id + ":\n";
    AppendHexLines(out, doc[id].text(), 8);
  }
  if (!doc["attributes"].empty()) {
    out += "    Attributes:\n";
    for (const JsonView& attribute : doc["attributes"]) {
      if (RequestedExtensions(attribute) != nullptr) {
        out += "        " + OidText(attribute) + ": the requested extensions, below\n";
      } else {
        AppendMember(out, OidText(attribute), attribute["values"], 8);
      }
    }
  }
  if (doc.contains("extensions")) AppendExtensions(out, doc["extensions"], "Extensions");
  for (const JsonView& attribute : doc["attributes"]) {
    if (const JsonView* extensions = RequestedExtensions(attribute); extensions != nullptr) {
      AppendExtensions(out, *extensions, "Requested Extensions");
    }
  }
  if (doc.contains("signatureAlgorithm")) {  // a certificate's again, as OpenSSL shows it
    AppendAlgorithm(out, "Signature Algorithm", doc["signatureAlgorithm"], 4);
  }
  if (doc.contains("signatureValue")) {
    out += "    Signature Value:\n";
    AppendHexLines(out, doc["signatureValue"].text(), 8);
  }
  if (!fingerprints.sha256.empty()) out += "    SHA-256 Fingerprint: " + fingerprints.sha256 + "\n";
  if (!fingerprints.sha1.empty()) out += "    SHA-1 Fingerprint: " + fingerprints.sha1 + "\n";
  return out;
}

bool DocumentDates(std::string_view document, std::string& notBefore, std::string& notAfter) {
  JsonView doc;
  if (!JsonView::Parse(document, doc)) return false;
  const JsonView& validity = doc["validity"];
  if (!validity["notBefore"].is_string() || !validity["notAfter"].is_string()) return false;
  notBefore = validity["notBefore"].text();
  notAfter = validity["notAfter"].text();
  return true;
}

std::string RefusalText(std::string_view function, const Document& document) {
  std::string text = LibraryError(function, document.status);
  const Json fault = Json::parse(document.text, nullptr, false);
  if (fault.is_object() && fault.contains("error")) {
    text += ": " + fault.value("error", std::string()) + " at offset " +
            fault.value("offset", Json(0)).dump();
  }
  return text;
}

std::string AnswerDocument(std::string_view document, const Block& block, bool json, bool jsonLines,
                           bool fingerprints) {
  const Fingerprints prints = fingerprints ? Fingerprint(block.der) : Fingerprints{};
  if (json || jsonLines) return ToolDocument(document, block.name, prints, jsonLines);
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  return DocumentView(document, prints, now);
}

bool ParseDocumentTime(std::string_view t, std::int64_t& seconds) {
  // YYYY-MM-DDThh:mm:ss, then a fraction or not, then Z.
  if (t.size() < 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' ||
      t.back() != 'Z') {
    return false;
  }
  int parts[6] = {};
  const std::size_t at[6] = {0, 5, 8, 11, 14, 17};
  const std::size_t width[6] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i) {
    for (std::size_t k = 0; k < width[i]; ++k) {
      const char c = t[at[i] + k];
      if (c < '0' || c > '9') return false;
      parts[i] = parts[i] * 10 + (c - '0');
    }
  }
  using namespace std::chrono;
  const year_month_day day{year{parts[0]}, month{static_cast<unsigned>(parts[1])},
                           std::chrono::day{static_cast<unsigned>(parts[2])}};
  if (!day.ok()) return false;
  seconds = sys_days(day).time_since_epoch().count() * 86400LL + parts[3] * 3600LL +
            parts[4] * 60LL + parts[5];
  return true;
}

}  // namespace kx::tool

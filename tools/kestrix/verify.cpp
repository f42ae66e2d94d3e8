// kestrix verify: whether a certificate is valid at a time.
#include <algorithm>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "certificate.h"
#include "cli.h"
#include "commands.h"
#include "input.h"
#include "text.h"

namespace kx::tool {
namespace {

// "2034-12-31 23:59:59 UTC" for the library's validity text, YYMMDDhhmmss
// (UTCTime: years 50..99 are 19xx, 00..49 are 20xx) or YYYYMMDDhhmmss; any
// other text as it is.
std::string ReadableTime(std::string_view t) {
  const std::string full = FullTime(t);
  if (!full.empty()) return TimeText(full, ' ', " UTC");
  std::string quoted = "'";  // built in steps: GCC 12 warns wrongly on "'" + text + "'"
  quoted += TerminalText(t);
  return quoted += "'";
}

// "notBefore 2025-01-01 00:00:00 UTC" from GetCertInfo item 21 or 22.
std::string ValidityBound(const std::vector<unsigned char>& der, uint32_t item) {
  const std::string_view label = item == KX_ITEM_NOT_BEFORE ? "notBefore" : "notAfter";
  const CertAnswer answer = AskCertItem(der, item);
  if (answer.status != KX_OK) {
    return std::string(label) + " unknown (GetCertInfo: " + StatusText(answer.status) + ")";
  }
  return std::string(label) + " " + ReadableTime(answer.Bytes());
}

// The current time, YYYYMMDDhhmmss in UTC.
std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &utc);
  return text;
}

// The verdict of GetPreCertVerified, reached with GetCertInfo's validity
// dates for a certificate whose signed part or signature value is larger
// than GetPreCertVerified hands out (`cause` says which). Returns false when
// either date is not in a form the library reads.
bool VerdictFromDates(const std::vector<unsigned char>& der, std::string checkTime,
                      std::string_view cause, std::string& text, int& exitStatus) {
  const std::string from = FullTime(AskCertItem(der, KX_ITEM_NOT_BEFORE).Bytes());
  const std::string to = FullTime(AskCertItem(der, KX_ITEM_NOT_AFTER).Bytes());
  if (from.empty() || to.empty()) return false;
  if (checkTime.empty()) checkTime = Now();
  exitStatus = kExitData;
  if (checkTime < from) {
    text = "not yet valid (" + ValidityBound(der, KX_ITEM_NOT_BEFORE) + ")\n";
  } else if (checkTime > to) {
    text = "expired (" + ValidityBound(der, KX_ITEM_NOT_AFTER) + ")\n";
  } else {
    text = "valid (" + ValidityBound(der, KX_ITEM_NOT_BEFORE) + ", " +
           ValidityBound(der, KX_ITEM_NOT_AFTER) + ")\n";
    exitStatus = kExitOk;
  }
  text += "dates read with GetCertInfo: GetPreCertVerified refuses the certificate" +
          std::string(cause) + "\n";
  return true;
}

constexpr std::string_view kVerifyUsage =
    "usage: kestrix verify FILE [YYYYMMDDhhmmss]\n"
    "\n"
    "Checks with the library's GetPreCertVerified that the time (UTC; the\n"
    "current time when none is given) lies in the validity period of the\n"
    "certificate in FILE, bounds included, and prints one of\n"
    "  valid (notBefore ..., notAfter ...)   followed by the sizes of the\n"
    "                                        signed part and signature value\n"
    "  not yet valid (notBefore ...)\n"
    "  expired (notAfter ...)\n"
    "GetPreCertVerified hands out a signed part of at most 2048 bytes and a\n"
    "signature value of at most 300; for a larger certificate the tool compares\n"
    "the dates GetCertInfo reads and says so on a second line. A certificate\n"
    "that does not decode, or validity dates the library does not read, is an\n"
    "error. Every certificate of FILE is checked, in any form 'kestrix cert\n"
    "--help' lists, each headed by '==> FILE [N] <==' when there are several.\n"
    "\n"
    "Exit status: 0 valid; 1 not yet valid, expired or an error; 2 bad usage\n"
    "(a time that is not 14 digits among them).\n";

}  // namespace

int RunVerify(Args args) {
  constexpr std::string_view kContext = "verify";
  std::vector<std::string> operands;
  if (int status = ParseArguments(kVerifyUsage, kContext, args, true, {}, operands,
                                  std::numeric_limits<std::size_t>::max());
      status >= 0) {
    return status;
  }
  if (operands.size() > 2) return UsageError(kContext, "more than FILE and a time given");
  std::string checkTime;
  if (operands.size() == 2) {
    checkTime = operands[1];
    const bool digits = std::all_of(checkTime.begin(), checkTime.end(),
                                    [](char c) { return c >= '0' && c <= '9'; });
    if (checkTime.size() != 14 || !digits) {
      return UsageError(kContext, "the time '" + checkTime + "' is not YYYYMMDDhhmmss");
    }
  }

  // A certificate outside its validity is answered (the summary counts it
  // so), and makes the exit status 1.
  bool allValid = true;
  const auto answer = [&checkTime, &allValid](const Block& block, std::string_view context) {
    const std::vector<unsigned char>& der = block.der;
    unsigned char tbs[KX_MAX_TBS_SIZE];
    unsigned char signature[KX_MAX_SIGNATURE_SIZE];
    int32_t tbsLen = 0;
    int32_t sigLen = 0;
    const int32_t status = GetPreCertVerified(static_cast<int32_t>(der.size()), der.data(),
                                              checkTime.empty() ? nullptr : checkTime.c_str(),
                                              &tbsLen, tbs, &sigLen, signature);
    std::string text;
    int exitStatus = kExitData;
    switch (status) {
      case KX_OK:
        text = "valid (" + ValidityBound(der, KX_ITEM_NOT_BEFORE) + ", " +
               ValidityBound(der, KX_ITEM_NOT_AFTER) + ")\ntbs: " + std::to_string(tbsLen) +
               " bytes\nsignature: " + std::to_string(sigLen) + " bytes\n";
        exitStatus = kExitOk;
        break;
      case KX_NOT_YET_VALID:
        text = "not yet valid (" + ValidityBound(der, KX_ITEM_NOT_BEFORE) + ")\n";
        break;
      case KX_EXPIRED: text = "expired (" + ValidityBound(der, KX_ITEM_NOT_AFTER) + ")\n"; break;
      default: {
        std::string cause = OversizedPart(der, OuterHeaderSize(der));
        if (!cause.empty() && VerdictFromDates(der, checkTime, cause, text, exitStatus)) break;
        if (cause.empty() && status == KX_ERR_MALFORMED &&
            AskCertItem(der, KX_ITEM_VERSION).status == KX_OK) {
          cause =
              "; the certificate decodes, so its validity dates (or the clock) are not in a form "
              "the "
              "library reads";
        }
        return Fail(kExitData, context, LibraryError("GetPreCertVerified", status) + cause);
      }
    }
    allValid = allValid && exitStatus == kExitOk;
    return WriteOutput(context, text.data(), text.size()) ? kExitOk : kExitData;
  };
  const int status = ForEachBlock(kContext, {operands[0]}, false, Kind::kCertificate, true, answer);
  return allValid ? status : kExitData;
}

}  // namespace kx::tool

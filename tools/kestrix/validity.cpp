// kestrix validity: whether a time lies in a certificate's validity period
// (dates only: no signature, no chain); verify is its old name.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "document.h"
#include "input.h"
#include "text.h"

namespace kx::tool {
namespace {

// "notBefore 2025-01-01 00:00:00 UTC" from a document time.
std::string Bound(std::string_view label, const std::string& time) {
  std::string text(label);
  text += ' ';
  if (time.size() >= 20 && time[10] == 'T') {
    return text + time.substr(0, 10) + " " + time.substr(11, 8) + " UTC";
  }
  return text + "'" + DocumentText(time) + "'";
}

// A document time as 14 digits, YYYYMMDDhhmmss; empty for another form.
std::string Digits(const std::string& time) {
  std::int64_t seconds = 0;
  if (!ParseDocumentTime(time, seconds)) return {};
  std::string digits;
  for (std::size_t i = 0; i < 19; ++i) {
    if (time[i] >= '0' && time[i] <= '9') digits += time[i];
  }
  return digits;
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

constexpr std::string_view kValidityUsage =
    "usage: kestrix validity FILE [YYYYMMDDhhmmss]\n"
    "\n"
    "Checks that the time (UTC; the current time when none is given) lies in\n"
    "the validity period of each certificate in FILE, bounds included, with\n"
    "the dates the library's CertificateToJson reads (any certificate size),\n"
    "and prints one of\n"
    "  valid (notBefore ..., notAfter ...)\n"
    "  not yet valid (notBefore ...)\n"
    "  expired (notAfter ...)\n"
    "It checks dates only: not the signature, not a chain. A certificate that\n"
    "does not decode, or validity dates in no form the library reads, is an\n"
    "error. Every certificate of FILE is checked, in any form 'kestrix cert\n"
    "--help' lists, each headed by '==> FILE [N] <==' when there are several.\n"
    "'kestrix verify' is the same command under its old name.\n"
    "\n"
    "Exit status: 0 valid; 1 not yet valid, expired or an error; 2 bad usage\n"
    "(a time that is not 14 digits among them).\n";

// `context` is the name it was called by; under the old one, verify, it
// says on standard error what it checks.
int RunValidity(Args args, std::string_view context) {
  std::vector<std::string> operands;
  if (int status = ParseArguments(kValidityUsage, context, args, true, {}, operands,
                                  std::numeric_limits<std::size_t>::max());
      status >= 0) {
    return status;
  }
  if (context == "verify") {
    std::fputs(
        "kestrix: 'verify' is 'validity': it checks the dates only, not the signature or a "
        "chain\n",
        stderr);
  }
  if (operands.size() > 2) return UsageError(context, "more than FILE and a time given");
  std::string checkTime;
  if (operands.size() == 2) {
    checkTime = operands[1];
    const bool digits = std::all_of(checkTime.begin(), checkTime.end(),
                                    [](char c) { return c >= '0' && c <= '9'; });
    if (checkTime.size() != 14 || !digits) {
      return UsageError(context, "the time '" + checkTime + "' is not YYYYMMDDhhmmss");
    }
  }
  if (checkTime.empty()) checkTime = Now();

  // A certificate outside its validity is answered (the summary counts it
  // so), and makes the exit status 1.
  bool allValid = true;
  const auto answer = [&checkTime, &allValid](const Block& block, std::string_view where) {
    const Document document = AskDocument(CertificateToJson, block.der);
    if (document.status != KX_OK) {
      return Fail(kExitData, where, LibraryError("CertificateToJson", document.status));
    }
    std::string notBefore;
    std::string notAfter;
    (void)DocumentDates(document.text, notBefore, notAfter);
    const std::string from = Digits(notBefore);
    const std::string to = Digits(notAfter);
    if (from.empty() || to.empty()) {
      return Fail(kExitData, where,
                  "the validity dates are in no form the library reads (" +
                      Bound("notBefore", notBefore) + ", " + Bound("notAfter", notAfter) + ")");
    }
    std::string text;
    if (checkTime < from) {
      text = "not yet valid (" + Bound("notBefore", notBefore) + ")\n";
    } else if (checkTime > to) {
      text = "expired (" + Bound("notAfter", notAfter) + ")\n";
    } else {
      text = "valid (" + Bound("notBefore", notBefore) + ", " + Bound("notAfter", notAfter) + ")\n";
    }
    allValid = allValid && checkTime >= from && checkTime <= to;
    return WriteOutput(where, text.data(), text.size()) ? kExitOk : kExitData;
  };
  const int status = ForEachBlock(context, {operands[0]}, false, Kind::kCertificate, true, answer);
  return allValid ? status : kExitData;
}

}  // namespace

int RunValidity(Args args) {
  return RunValidity(args, "validity");
}

int RunVerify(Args args) {
  return RunValidity(args, "verify");
}

}  // namespace kx::tool

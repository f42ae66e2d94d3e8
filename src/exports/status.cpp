#include "exports/status.h"

#include <cstdio>

#include "kestrix.h"

namespace kx::exports {

std::int32_t StatusOf(Fault fault) {
  switch (fault) {
    case Fault::kNone: return KX_OK;
    case Fault::kNoMemory: return KX_ERR_NO_MEMORY;
    case Fault::kNoArmour: return KX_NO_REQUEST_ARMOUR;
    case Fault::kLength: return KX_ERR_LENGTH;
    default: return KX_ERR_MALFORMED;
  }
}

Diagnostic RequestDiagnostic(Fault fault) {
  switch (fault) {
    case Fault::kRequestFrame: return Diagnostic::kRequestInfo;
    case Fault::kRequestVersionValue: return Diagnostic::kRequestVersion;
    default: return Diagnostic::kNone;
  }
}

void PrintDiagnostic(Diagnostic diagnostic, std::int32_t status) {
  switch (diagnostic) {
    case Diagnostic::kNone: break;
    case Diagnostic::kGetCertInfo: std::printf("GetCertInfo\n"); break;
    case Diagnostic::kRequestInfo:
      std::printf("GetPKCS10RequestInfo error ret=%d\n", status);
      break;
    case Diagnostic::kRequestVersion: std::printf("Version error\n"); break;
  }
}

}  // namespace kx::exports

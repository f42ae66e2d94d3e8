// The commands, one file each: each gets the arguments after its name and
// returns the exit status.
#ifndef KESTRIX_TOOLS_KESTRIX_COMMANDS_H
#define KESTRIX_TOOLS_KESTRIX_COMMANDS_H

#include "cli.h"

namespace kx::tool {

int RunBase64(Args args);
int RunTlv(Args args);
int RunSplit(Args args);
int RunCert(Args args);
int RunItems(Args args);
int RunValidity(Args args);
int RunVerify(Args args);
int RunModulus(Args args);
int RunCsr(Args args);

}  // namespace kx::tool

#endif

// Library entry routine of the Windows DLL: it opens and frees the threads'
// blocks (the last certificate each thread decoded).
#if defined(_WIN32)
#include <windows.h>

#include "platform/thread_block.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: kx::platform::OpenThreadBlocks(); break;
    case DLL_THREAD_DETACH: kx::platform::ReleaseThreadBlock(); break;
    case DLL_PROCESS_DETACH:
      // When the process ends, its other threads are already gone mid-call
      // and the system takes the memory back: only an unload frees.
      if (reserved == nullptr) kx::platform::FreeThreadBlocks();
      break;
    default: break;
  }
  return TRUE;
}
#endif

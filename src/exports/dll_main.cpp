// Library entry routine of the Windows DLL: there is nothing to set up or
// tear down, so every notification succeeds.
#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
#endif

// One block of memory per thread, for what a thread keeps between its own
// calls. No lock is taken to reach it.
#ifndef KESTRIX_PLATFORM_THREAD_BLOCK_H
#define KESTRIX_PLATFORM_THREAD_BLOCK_H

#include <cstddef>

namespace kx::platform {

// The calling thread's block of `size` bytes (every caller asks for the same
// size), zero-filled when the thread first receives it. Null when there is
// none to be had (no memory; on Windows, outside the DLL): the caller then
// does without. The block is the thread's until the thread ends; then it is
// freed (POSIX) or handed to a later thread and freed when the DLL is
// unloaded (Windows).
void* ThreadBlock(std::size_t size);

#if defined(_WIN32)
// The DLL's entry routine drives the blocks' lifetime: opened on process
// attach, a thread's block released on its detach, all freed when the DLL is
// unloaded while the process goes on.
void OpenThreadBlocks();
void ReleaseThreadBlock();
void FreeThreadBlocks();
#endif

}  // namespace kx::platform

#endif  // KESTRIX_PLATFORM_THREAD_BLOCK_H

// Keeps a file truncated under a live mapping from killing the process.
//
// Index files are mapped and meant to be replaced by rename. Someone may still truncate
// one in place (a `cp` over it, a full disk during a rewrite); every later read of a page
// past the new end raises SIGBUS, which would end every search of the process. Each
// mapping is registered here; a SIGBUS inside a registered mapping replaces the mapping
// from the faulting page to its end with zero-filled anonymous pages, marks the mapping
// as damaged and returns, so the read that faulted goes on and sees zeros. The reader
// asks faulted() and throws away whatever it built from the mapping since its last
// check. A SIGBUS anywhere else goes to the handler that was installed before ours (or
// the default action), exactly as without the guard.
//
// Invariants: the handler only reads the registry (atomics, no locks) and makes one
// mmap call; registration and removal may run on any thread at any time. A slot is
// removed before its mapping is unmapped. When all kGuardSlots slots are in use, a
// mapping goes unguarded (add returns -1) and a truncation then ends the process as it
// would without the guard.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn {

constexpr int kGuardSlots = 8192;

// Registers [base, base + length) and returns its slot, or -1 when every slot is taken.
// Installs the SIGBUS handler on first use.
int mapping_guard_add(const void* base, size_t length);
// Unregisters a slot from mapping_guard_add (-1 is ignored). Call before unmapping.
void mapping_guard_remove(int slot);
// True once a SIGBUS was absorbed inside the slot's mapping: part of it now reads as
// zeros. False for -1.
bool mapping_guard_faulted(int slot);
// Number of faults absorbed so far in the process: a reader compares it with an earlier
// value to learn, with one load, whether any of its mappings may have faulted since.
uint64_t mapping_guard_fault_count();

}  // namespace quarn

#include "index/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace quarn {

namespace {

struct Slot {
  std::atomic<bool> taken{false};
  std::atomic<uintptr_t> begin{0};  // 0: not guarding anything (yet or any more)
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> faulted{false};
};

Slot g_slots[kGuardSlots];
// One past the highest slot ever taken: the handler scans no further.
std::atomic<int> g_slots_used{0};
std::atomic<uint64_t> g_faults{0};
uintptr_t g_page_size = 4096;
struct sigaction g_previous;
std::once_flag g_install_once;

// Hands the signal on as if the guard were not there.
void pass_on(int sig, siginfo_t* info, void* context) {
  if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
    g_previous.sa_sigaction(sig, info, context);
    return;
  }
  if (g_previous.sa_handler == SIG_DFL || g_previous.sa_handler == SIG_IGN) {
    // Returning re-runs the faulting access, which now gets the default action. Ignoring
    // a fault would only repeat it forever.
    signal(sig, SIG_DFL);
    return;
  }
  g_previous.sa_handler(sig);
}

// Replaces [page of addr, end of the mapping) by zero pages; true when that worked.
bool absorb(Slot& slot, uintptr_t addr) {
  const uintptr_t page = addr & ~(g_page_size - 1);
  const uintptr_t end = slot.end.load(std::memory_order_acquire);
  if (end <= page) return false;
  void* got = mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  if (got == MAP_FAILED) return false;
  slot.faulted.store(true, std::memory_order_release);
  g_faults.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

void on_sigbus(int sig, siginfo_t* info, void* context) {
  const uintptr_t addr = reinterpret_cast<uintptr_t>(info->si_addr);
  const int used = g_slots_used.load(std::memory_order_acquire);
  for (int i = 0; i < used; ++i) {
    Slot& slot = g_slots[i];
    const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
    if (begin == 0 || addr < begin || addr >= slot.end.load(std::memory_order_acquire))
      continue;
    if (absorb(slot, addr)) return;
    break;
  }
  pass_on(sig, info, context);
}

void install_handler() {
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) g_page_size = static_cast<uintptr_t>(page);
  struct sigaction action {};
  action.sa_sigaction = on_sigbus;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

int mapping_guard_add(const void* base, size_t length) {
  std::call_once(g_install_once, install_handler);
  for (int i = 0; i < kGuardSlots; ++i) {
    bool expected = false;
    if (!g_slots[i].taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
      continue;
    Slot& slot = g_slots[i];
    const uintptr_t begin = reinterpret_cast<uintptr_t>(base);
    slot.faulted.store(false, std::memory_order_relaxed);
    slot.end.store(begin + length, std::memory_order_release);
    slot.begin.store(begin, std::memory_order_release);
    int used = g_slots_used.load(std::memory_order_acquire);
    while (used <= i &&
           !g_slots_used.compare_exchange_weak(used, i + 1, std::memory_order_acq_rel)) {
    }
    return i;
  }
  return -1;
}

void mapping_guard_remove(int slot) {
  if (slot < 0 || slot >= kGuardSlots) return;
  Slot& s = g_slots[slot];
  s.begin.store(0, std::memory_order_release);
  s.end.store(0, std::memory_order_release);
  s.taken.store(false, std::memory_order_release);
}

bool mapping_guard_faulted(int slot) {
  if (slot < 0 || slot >= kGuardSlots) return false;
  return g_slots[slot].faulted.load(std::memory_order_acquire);
}

uint64_t mapping_guard_fault_count() { return g_faults.load(std::memory_order_acquire); }

}  // namespace quarn

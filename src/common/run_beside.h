// Runs two independent tasks side by side: `beside` on a thread of its own, `here` on
// the calling thread. Without `threaded`, or when no thread can be started, they run
// one after the other, `beside` first. Each task reports a failure through its error
// text; the result is true when both succeed, and *error is beside's text when it
// failed, else here's. The tasks must share nothing that either one writes.
#pragma once

#include <string>
#include <system_error>
#include <thread>

namespace quarn {

template <typename Beside, typename Here>
bool run_beside(bool threaded, Beside&& beside, Here&& here, std::string* error) {
  if (threaded) {
    std::string beside_error;
    bool beside_ok = false;
    std::thread thread;
    try {
      thread = std::thread([&] { beside_ok = beside(&beside_error); });
    } catch (const std::system_error&) {
      threaded = false;
    }
    if (threaded) {
      const bool here_ok = here(error);
      thread.join();
      if (!beside_ok) *error = beside_error;
      return beside_ok && here_ok;
    }
  }
  return beside(error) && here(error);
}

}  // namespace quarn

// Local-time text ("YYYY-MM-DD HH:MM:SS") of a Unix time, cheap enough to call for
// every time of every printed result.
//
// The text is exactly what localtime_r followed by strftime("%Y-%m-%d %H:%M:%S") give
// in the process's time zone. The expensive part of localtime_r is finding the zone
// offset, and within one hour the offset almost never changes, so the offset at the
// start of each hour (key: floor(t / 3600)) is cached in a direct-mapped per-thread
// table (512 KiB, allocated on first use, about fifteen years of hours), and an hour
// whose start and the next hour's start give the same offset is taken to hold it
// throughout. The local date text is cached per local day (64 KiB table) and the time
// of day computed arithmetically, so the calendar arithmetic runs once per distinct
// day. An hour whose offset changes inside it or at its end, whose start or end does not
// agree with the arithmetic (leap-second zones), or a time whose year lies outside
// 1000..9999 takes the slow path (localtime_r + strftime) every time.
//
// Use: append_local_time appends the text to a caller-owned string. If localtime_r
// fails (a time too far out for the calendar) the decimal seconds are written instead,
// so every input has a defined text.
//
// Assumption: the time zone does not change while the process runs. The zone can only
// change through TZ + tzset; anything that does so (tests) must call
// clear_local_time_cache afterwards, on each thread that formats times.
#pragma once

#include <cstdint>
#include <string>

namespace quarn {

// Appends the local-time text of t (or its decimal seconds if it has no local time).
void append_local_time(std::string& out, int64_t t);

// Forgets every cached zone offset of the calling thread.
void clear_local_time_cache();

}  // namespace quarn

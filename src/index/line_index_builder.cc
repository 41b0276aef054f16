#include "index/line_index_builder.h"

#include "common/check.h"
#include "index/format.h"

namespace quarn {

namespace {
// A distance this large does not fit a 16-bit half-distance and is left unrecorded.
constexpr uint64_t kMaxStepDistanceHalf = 65536;
}  // namespace

void LineIndexBuilder::add_line(uint64_t offset) {
  QUARN_CHECK(!finished_);
  const uint64_t n = lines_++;
  if (n % kLinesPerIndexEntry == 0) {
    uint8_t b[8];
    store_le64(b, offset);
    bytes_.append(reinterpret_cast<const char*>(b), 8);
    prev_ = offset;
  } else if (n % kLinesPerStep == 0) {
    const uint64_t d = offset - prev_;
    const uint64_t half = d / 2;
    uint8_t b[2];
    store_le16(b, half >= kMaxStepDistanceHalf ? 0 : static_cast<uint16_t>(half));
    bytes_.append(reinterpret_cast<const char*>(b), 2);
    // Positions keep counting even when the step was not recorded; readers stop using
    // an entry's steps at its first 0.
    prev_ = offset - d % 2;
    ++steps_;
  }
}

void LineIndexBuilder::finish() {
  QUARN_CHECK(!finished_);
  finished_ = true;
  if (steps_ == 0) {
    bytes_.append(6, '\0');
  } else if (steps_ % 3 != 0) {
    bytes_.append(2 * (3 - steps_ % 3), '\0');
  }
}

}  // namespace quarn

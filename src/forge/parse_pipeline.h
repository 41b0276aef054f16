// Parsing one line input on several threads while keeping input order.
//
// A reader thread cuts the input into batches of whole lines (each with its line
// number), `threads` parser threads parse the lines of a batch and encode the entries of
// the accepted ones (entry_encoder.h) into the batch, and the caller takes the batches
// back strictly in input order with next(). The caller then replays each batch line by
// line: counts, fault reports and the entries, in the order a one-thread build would
// produce them. So everything after the replay (the run spiller, the rejects file, the
// first reported faults, strict mode) sees exactly the same sequence whatever the number
// of threads and however they are scheduled; only the parsing itself runs in parallel.
//
// A fixed pool of batches circulates: free -> reader -> work queue -> a parser ->
// done (kept by sequence number) -> caller -> free. The pool (2 * threads + 2 batches,
// so that every parser has one while the reader fills another and the caller replays a
// third) bounds the memory: about kPipelineBytes in all, since a batch is cut when its
// text passes kPipelineBytes / (3 * pool) bytes (its entries and line table take about
// twice its text) and buffers grown by an unusually long line are given back.
//
// Order of use: construct (the threads start at once), next() until it gives null,
// then close() (also done by the destructor, which stops the threads early when the
// caller gives up). Only after close() may the caller look at the LineInput again
// (failed(), damaged(), bytes_read(); its name never changes): the reader thread owns it
// until then, and close() waits for a read in progress, so a pipe that stays open and
// silent holds it up as it would hold up a one-thread build. A batch
// from next() stays valid until the following next() or close(). A thread that runs
// out of memory stops the pipeline: next() gives null and out_of_memory() is true.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "forge/entry_encoder.h"
#include "forge/input_record.h"
#include "forge/line_input.h"

namespace quarn {

// Memory of the batches in flight, whatever the number of threads; the build charges
// it to its reading phase.
constexpr size_t kPipelineBytes = 384 * 1024;

// One parsed line of a batch.
struct BatchLine {
  uint64_t number = 0;        // line number in the input
  uint32_t text_end = 0;      // end of its text in the batch (the start is the previous end)
  uint32_t entry_end = 0;     // end of its entries (likewise)
  ParseStatus status = ParseStatus::kBlank;
  bool too_long = false;      // cut at kMaxInputLine; not parsed
  uint32_t bad_elements = 0;  // rdata array elements left out (kOk only)
  const char* reason = nullptr;  // kBad only
};

class LineBatch final : public EntrySink {
 public:
  size_t size() const { return lines_.size(); }
  const BatchLine& line(size_t i) const { return lines_[i]; }
  std::string_view text(size_t i) const;
  // Entries [first, end) of the batch, in the order they were encoded.
  size_t entries_before(size_t i) const { return i == 0 ? 0 : lines_[i - 1].entry_end; }
  std::string_view key(size_t e) const { return {bytes_.data() + entries_[e].offset, entries_[e].key_len}; }
  std::string_view value(size_t e) const {
    return {bytes_.data() + entries_[e].offset + entries_[e].key_len, entries_[e].value_len};
  }
  const EntryTotals& totals() const { return totals_; }

  bool add(std::string_view key, std::string_view value, std::string* error) override;

 private:
  friend class ParsePipeline;
  struct Entry {
    size_t offset;
    uint32_t key_len;
    uint32_t value_len;
  };
  void reset(uint64_t seq, size_t text_limit);
  void add_line(std::string_view text, uint64_t number, bool too_long);
  void parse(InputFormat format, EntryEncoder& encoder, ParsedLine& parsed);

  uint64_t seq_ = 0;
  std::vector<char> text_;
  std::vector<BatchLine> lines_;
  std::vector<char> bytes_;
  std::vector<Entry> entries_;
  EntryTotals totals_;
};

class ParsePipeline {
 public:
  // threads >= 1 parser threads. May throw std::system_error when a thread cannot start
  // (the ones started are stopped first).
  ParsePipeline(LineInput& input, InputFormat format, const EntryOutputs& outputs,
                size_t threads);
  ~ParsePipeline();
  ParsePipeline(const ParsePipeline&) = delete;
  ParsePipeline& operator=(const ParsePipeline&) = delete;

  // The next batch in input order; null at the end of the input or on failure.
  const LineBatch* next();
  // Stops and joins the threads (idempotent).
  void close();
  bool out_of_memory() const { return out_of_memory_; }

 private:
  void read_loop();
  void parse_loop();
  void fail_no_memory();
  LineBatch* take_free();
  LineBatch* take_work();
  void release(LineBatch* b);

  LineInput& input_;
  InputFormat format_;
  EntryOutputs outputs_;
  size_t text_limit_;
  std::vector<LineBatch> pool_;
  std::mutex mu_;
  std::condition_variable free_cv_, work_cv_, done_cv_;
  std::vector<LineBatch*> free_;
  std::vector<LineBatch*> work_;     // ring of pool size: work_count_ from work_head_
  size_t work_head_ = 0;
  size_t work_count_ = 0;
  std::vector<LineBatch*> done_;     // slot seq % pool size
  uint64_t next_seq_ = 0;            // the batch the caller takes next
  uint64_t read_batches_ = 0;        // batches the reader has handed out
  bool reader_done_ = false;
  bool stop_ = false;
  bool out_of_memory_ = false;
  LineBatch* held_ = nullptr;        // with the caller
  std::vector<std::thread> threads_;
};

}  // namespace quarn

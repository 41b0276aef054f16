#include "forge/parse_pipeline.h"

#include <algorithm>
#include <new>

namespace quarn {
namespace {

// Smallest batch text: below it the hand-overs between threads cost more than parsing.
constexpr size_t kMinBatchText = 4 * 1024;

}  // namespace

std::string_view LineBatch::text(size_t i) const {
  const size_t start = i == 0 ? 0 : lines_[i - 1].text_end;
  return {text_.data() + start, lines_[i].text_end - start};
}

bool LineBatch::add(std::string_view key, std::string_view value, std::string*) {
  entries_.push_back({bytes_.size(), static_cast<uint32_t>(key.size()),
                      static_cast<uint32_t>(value.size())});
  bytes_.insert(bytes_.end(), key.begin(), key.end());
  bytes_.insert(bytes_.end(), value.begin(), value.end());
  return true;
}

void LineBatch::reset(uint64_t seq, size_t text_limit) {
  seq_ = seq;
  // A batch that held an unusually long line gives that memory back.
  if (text_.capacity() > 4 * text_limit) std::vector<char>().swap(text_);
  if (bytes_.capacity() > 8 * text_limit) std::vector<char>().swap(bytes_);
  if (entries_.capacity() * sizeof(Entry) > 8 * text_limit) std::vector<Entry>().swap(entries_);
  text_.clear();
  lines_.clear();
  bytes_.clear();
  entries_.clear();
  totals_ = EntryTotals{};
}

void LineBatch::add_line(std::string_view text, uint64_t number, bool too_long) {
  text_.insert(text_.end(), text.begin(), text.end());
  BatchLine l;
  l.number = number;
  l.text_end = static_cast<uint32_t>(text_.size());
  l.too_long = too_long;
  lines_.push_back(l);
}

void LineBatch::parse(InputFormat format, EntryEncoder& encoder, ParsedLine& parsed) {
  for (size_t i = 0; i < lines_.size(); ++i) {
    BatchLine& l = lines_[i];
    if (!l.too_long) {
      l.status = parse_input_line(text(i), format, &parsed, &l.reason);
      if (l.status == ParseStatus::kOk) {
        l.bad_elements = static_cast<uint32_t>(parsed.rdata_bad);
        encoder.encode(parsed, *this, totals_, nullptr);  // the batch never refuses
      }
    }
    l.entry_end = static_cast<uint32_t>(entries_.size());
  }
}

ParsePipeline::ParsePipeline(LineInput& input, InputFormat format, const EntryOutputs& outputs,
                             size_t threads)
    : input_(input), format_(format), outputs_(outputs) {
  threads = std::max<size_t>(1, threads);
  pool_.resize(2 * threads + 2);
  text_limit_ = std::max(kMinBatchText, kPipelineBytes / (3 * pool_.size()));
  for (LineBatch& b : pool_) free_.push_back(&b);
  work_.assign(pool_.size(), nullptr);
  done_.assign(pool_.size(), nullptr);
  try {
    threads_.emplace_back([this] { read_loop(); });
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { parse_loop(); });
  } catch (...) {
    close();
    throw;
  }
}

ParsePipeline::~ParsePipeline() { close(); }

void ParsePipeline::close() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  free_cv_.notify_all();
  work_cv_.notify_all();
  done_cv_.notify_all();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

void ParsePipeline::fail_no_memory() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    out_of_memory_ = true;
    stop_ = true;
  }
  free_cv_.notify_all();
  work_cv_.notify_all();
  done_cv_.notify_all();
}

LineBatch* ParsePipeline::take_free() {
  std::unique_lock<std::mutex> lock(mu_);
  free_cv_.wait(lock, [this] { return stop_ || !free_.empty(); });
  if (stop_) return nullptr;
  LineBatch* b = free_.back();
  free_.pop_back();
  return b;
}

void ParsePipeline::read_loop() {
  try {
    std::string_view line;
    bool more = true;
    while (more) {
      LineBatch* b = take_free();
      if (b == nullptr) return;
      b->reset(read_batches_, text_limit_);
      while (b->text_.size() < text_limit_ && (more = input_.next(&line))) {
        b->add_line(line, input_.line_number(), input_.too_long());
      }
      std::lock_guard<std::mutex> lock(mu_);
      if (b->size() == 0) {
        free_.push_back(b);
        break;
      }
      work_[(work_head_ + work_count_++) % work_.size()] = b;
      ++read_batches_;
      work_cv_.notify_one();
    }
  } catch (const std::bad_alloc&) {
    fail_no_memory();
    return;
  }
  std::lock_guard<std::mutex> lock(mu_);
  reader_done_ = true;
  work_cv_.notify_all();
  done_cv_.notify_all();
}

LineBatch* ParsePipeline::take_work() {
  std::unique_lock<std::mutex> lock(mu_);
  work_cv_.wait(lock, [this] { return stop_ || work_count_ > 0 || reader_done_; });
  if (stop_ || work_count_ == 0) return nullptr;
  LineBatch* b = work_[work_head_];
  work_head_ = (work_head_ + 1) % work_.size();
  --work_count_;
  return b;
}

void ParsePipeline::parse_loop() {
  try {
    EntryEncoder encoder(outputs_);
    ParsedLine parsed;
    while (LineBatch* b = take_work()) {
      b->parse(format_, encoder, parsed);
      std::lock_guard<std::mutex> lock(mu_);
      done_[b->seq_ % done_.size()] = b;
      if (b->seq_ == next_seq_) done_cv_.notify_one();
    }
  } catch (const std::bad_alloc&) {
    fail_no_memory();
  }
}

void ParsePipeline::release(LineBatch* b) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    free_.push_back(b);
  }
  free_cv_.notify_one();
}

const LineBatch* ParsePipeline::next() {
  if (held_ != nullptr) {
    release(held_);
    held_ = nullptr;
  }
  std::unique_lock<std::mutex> lock(mu_);
  const size_t slot = next_seq_ % done_.size();
  done_cv_.wait(lock, [&] {
    return stop_ || done_[slot] != nullptr || (reader_done_ && next_seq_ == read_batches_);
  });
  if (stop_ || done_[slot] == nullptr) return nullptr;
  held_ = done_[slot];
  done_[slot] = nullptr;
  ++next_seq_;
  return held_;
}

}  // namespace quarn

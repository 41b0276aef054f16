#include "forge/build.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

#include "forge/entry_encoder.h"
#include "forge/held_rdata.h"
#include "forge/index_input.h"
#include "forge/key_codec.h"
#include "forge/line_input.h"
#include "forge/merge_ops.h"
#include "forge/parse_pipeline.h"
#include "forge/publish.h"
#include "forge/reject_log.h"
#include "forge/run_spiller.h"
#include "forge/set_update.h"
#include "forge/store_input.h"
#include "forge/store_output.h"
#include "forge/temp_files.h"
#include "common/check.h"
#include "common/my_time.h"
#include "common/run_beside.h"
#include "common/saturating.h"
#include "common/strfmt.h"
#include "index/index_writer.h"
#include "store/store_writer.h"
#include "retrieval/annotation.h"
#include "retrieval/rdata_order.h"
#include "retrieval/rdata_text.h"

namespace quarn {

// The memory budget (-m) covers the whole process, which lives through two phases that
// never overlap: reading sorts entries into runs, then the runs are merged into the
// index writers (the sort arena is freed in between, unless the whole input fits in
// one small batch that stays in memory and is charged to the writers' budget, and the
// writers run one after the other, but for a build that derives its indexes from the
// store, see below). Each phase gets what is left of the budget
// after what it needs whatever the input:
//   both:    kProcessReserve, the program's text, its shared libraries, stack and
//            allocator slack (gramforge --help peaks at about 3 MiB resident, a build
//            of one line at 5.4 MiB of which 2.5 MiB are the writer's tables);
//   reading: kReadReserve, the input buffer, the longest line, gzip state, the
//            run writer's buffer and the line batches of the parser threads
//            (kPipelineBytes, charged whatever the thread count so that the runs, and
//            so everything a build prints, are the same for every count); the sort
//            arena and entry table get the rest;
//   writing: one read buffer per merged run, the writer's fixed tables
//            (index_writer_fixed_bytes(), about 2.5 MiB) and kWriteSlack for the
//            allocator's overhead on the many small per-trigram lists; the lists get
//            the rest and spill to a temporary file whenever they pass it.
// Below about 16 MiB the reserves leave nothing; the phases then fall back to their
// minimum budgets and the process takes more than asked.
namespace {
constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kProcessReserve = 5 * kMiB + kMiB / 2;
constexpr size_t kReadReserve = 2 * kMiB + kPipelineBytes;
constexpr size_t kWriteSlack = kMiB;

size_t left_of(size_t total, size_t used, size_t floor) {
  return total > used + floor ? total - used : floor;
}
}  // namespace

size_t sort_budget_of(size_t memory_budget) {
  return left_of(memory_budget, kProcessReserve + kReadReserve, kMinSortBudget);
}

size_t list_budget_of(size_t memory_budget, size_t runs) {
  const size_t fixed = kProcessReserve + runs * kSortabReadBuffer + index_writer_fixed_bytes() +
                       kWriteSlack;
  return left_of(memory_budget, fixed, kMinListBudget);
}

namespace {

// First byte of every sorted-table key: rdata entries sort before owner-name entries,
// and those before record-store entries (kStoreTag), so one merged pass writes the rdata
// index, then the owner-name index, then the record store, one writer at a time. A build
// that also writes the store derives its indexes from the store's entries instead
// (plan_outputs): the owner-name lines are folded from the store stream as it passes, so
// that writer runs beside the store's and gets a share of the budget; the rdata lines
// come from the store writer's distinct values at its end (held_rdata.h merges in what
// had no owner), when the rdata writer gets what the store writer leaves.
constexpr char kRdataTag = kRdataKeyTag;
constexpr char kNameTag = kNameKeyTag;
static_assert(kRdataTag < kNameTag && kNameTag < kStoreTag);

// Store entries carry a bailiwick beside their counts; every other entry, name-only
// store entries included, is a count.
void merge_entries(std::string_view key, std::string_view a, std::string_view b,
                   std::string& out) {
  if (!key.empty() && key[0] == kStoreTag && !is_name_only_key(key.substr(1))) {
    merge_store_values(key, a, b, out);
  } else {
    merge_counts(key, a, b, out);
  }
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

uint64_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// A key text must not hold anything that ends a line or separates the key from its
// annotation; presentation texts escape such bytes, this guards the line format anyway.
bool is_line_safe(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

// Which outputs the entries feed, and whether the indexes come from the store's entries.
// A build that writes the store derives its indexes from the store entries, which hold
// every owner name and rdata value of the observations, instead of sorting entries of
// their own: the same lines with a third of the sorting. Not when a store is among the
// inputs: its records belong in the store alone, and in a merged entry they could no
// longer be told apart from the observations'.
EntryOutputs plan_outputs(const BuildOptions& o) {
  EntryOutputs e;
  e.rrname = !o.rrname_out.empty();
  e.rdata = !o.rdata_out.empty();
  e.store = !o.records_out.empty();
  e.retention = o.retention;
  bool store_input = false;
  for (const std::string& in : o.inputs) {
    store_input = store_input || (in != kStdinName && has_store_magic(in));
  }
  e.name_from_store = e.rrname && e.store && !store_input;
  e.rdata_from_store = e.rdata && e.store && !store_input;
  return e;
}

// Share of the writers' budget that the owner-name index gets while it is written beside
// the record store (the rest is the store's, which cannot spill).
constexpr size_t kNameShareBesideStore = 4;

// Hands a one-thread build's entries straight to the spiller.
class SpillerSink final : public EntrySink {
 public:
  explicit SpillerSink(RunSpiller& spiller) : spiller_(spiller) {}
  bool add(std::string_view key, std::string_view value, std::string* error) override {
    return spiller_.add(key, value, error);
  }

 private:
  RunSpiller& spiller_;
};

// One output index under construction.
struct Output {
  const char* label;  // "rrname" or "rdata"
  std::string path;   // final name
  std::string staged; // complete file waiting for the rename
  IndexKind kind;
  TimeFence fence;
  std::unique_ptr<IndexWriter> writer;
  bool complete = false;  // written in full under the staged name
  uint64_t lines = 0;
};

class Build {
 public:
  Build(const BuildOptions& o, BuildStats* s)
      : opt_(o),
        stats_(s),
        temps_(o.tmpdir),
        spiller_(temps_, sort_budget_of(o.memory_budget), merge_entries, kMaxFanIn,
                 std::max<size_t>(1, o.threads)),
        outputs_(plan_outputs(o)),
        store_(o.records_out, temps_, std::max<size_t>(1, o.threads), outputs_.rdata_from_store),
        held_rdata_(temps_),
        encoder_(outputs_) {
    rrname_.label = "rrname";
    rrname_.path = o.rrname_out;
    rrname_.kind = IndexKind::kRrname;
    rdata_.label = "rdata";
    rdata_.path = o.rdata_out;
    rdata_.kind = IndexKind::kRdata;
  }

  bool run(std::string* error) {
    start_ = my_gettime();
    last_progress_ = start_;
    if (!check_outputs(error) || !open_rejects(error)) return false;
    std::vector<std::string> inputs = opt_.inputs;
    if (inputs.empty()) inputs.push_back(kStdinName);
    for (const std::string& in : inputs) {
      if (!read_any_input(in, error)) return false;
    }
    stats_->retention_dropped += totals_.retention_dropped;
    rrname_.fence = totals_.rrname;
    rdata_.fence = totals_.rdata;
    stats_->read_seconds = elapsed_seconds(start_, my_gettime());
    if (rejects_ && !rejects_->finish(error)) return false;
    // A batch that leaves the writers at least half their budget stays in memory.
    if (!spiller_.finish(error, list_budget_of(opt_.memory_budget, 0) / 2)) return false;
    stats_->runs = spiller_.runs_written();
    if (!write_indexes(error) || !update_set(error)) return false;
    stats_->total_seconds = elapsed_seconds(start_, my_gettime());
    return true;
  }

 private:
  bool wanted(const Output& o) const { return !o.path.empty(); }

  bool check_outputs(std::string* error) {
    if (!wanted(rrname_) && !wanted(rdata_) && !store_.wanted()) {
      *error = kBuildErrNoOutput;
      return false;
    }
    if (!opt_.retention.possible()) {
      *error = kBuildErrEmptyWindow;
      return false;
    }
    if (!opt_.set_file.empty() && store_.wanted() && (wanted(rrname_) || wanted(rdata_))) {
      *error = kBuildErrSetMixed;
      return false;
    }
    const std::string* outputs[] = {&opt_.rrname_out, &opt_.rdata_out, &opt_.records_out};
    for (const std::string* path : {outputs[0], outputs[1], outputs[2], &opt_.rejects_out}) {
      if (!opt_.set_file.empty() && same_output_path(*path, opt_.set_file)) {
        *error = kBuildErrSetIsOutput;
        return false;
      }
    }
    for (size_t i = 0; i < 3; ++i) {
      for (size_t j = i + 1; j < 3; ++j) {
        if (!outputs[i]->empty() && same_output_path(*outputs[i], *outputs[j])) {
          *error = kBuildErrSameOutput;
          return false;
        }
      }
      if (!outputs[i]->empty() && same_output_path(*outputs[i], opt_.rejects_out)) {
        *error = kBuildErrRejectsIsOutput;
        return false;
      }
    }
    for (const std::string* path : {&opt_.rrname_out, &opt_.rdata_out, &opt_.records_out,
                                    &opt_.rejects_out}) {
      if (!path->empty() && !opt_.force && file_exists(*path)) {
        *error = str_fmt(kBuildErrExists, path->c_str());
        return false;
      }
    }
    return true;
  }

  // The rejects file is staged beside its final name like the indexes.
  bool open_rejects(std::string* error) {
    if (opt_.rejects_out.empty()) return true;
    rejects_staged_ = str_fmt("%s.gf-%d", opt_.rejects_out.c_str(), static_cast<int>(getpid()));
    if (!temps_.add(rejects_staged_)) {
      *error = kTempErrTooMany;
      return false;
    }
    rejects_ = RejectLog::create(rejects_staged_, error);
    return rejects_ != nullptr;
  }

  // One progress line per interval, so that only long builds show any.
  void progress(const char* phase) {
    if (!opt_.progress) return;
    const TimePoint now = my_gettime();
    if (elapsed_seconds(last_progress_, now) < opt_.progress_interval) return;
    last_progress_ = now;
    const double t = elapsed_seconds(start_, now);
    fprintf(opt_.report,
            "gramforge: %s: %llu lines read (%.0f/s), %llu records, %llu malformed, "
            "%llu rrname and %llu rdata lines written, %.1f s\n",
            phase, static_cast<unsigned long long>(stats_->lines),
            t > 0 ? static_cast<double>(stats_->lines) / t : 0.0,
            static_cast<unsigned long long>(stats_->records),
            static_cast<unsigned long long>(stats_->malformed),
            static_cast<unsigned long long>(rrname_.lines),
            static_cast<unsigned long long>(rdata_.lines), t);
  }

  // Counts and reports a malformed line; false when the build must stop.
  bool reject(const std::string& input, uint64_t number, std::string_view text,
              const char* reason, std::string* error) {
    ++stats_->malformed;
    return report_fault(input, number, text, reason, error);
  }

  // Each rdata element left out of an accepted line counts as a value left out and is
  // reported like a malformed line.
  bool leave_out_bad_elements(const std::string& input, const BatchLine& l,
                              std::string_view text, std::string* error) {
    for (size_t i = 0; i < l.bad_elements; ++i) {
      ++stats_->rdata_skipped;
      ++stats_->rdata_skipped_records;
      if (!report_fault(input, l.number, text, kReasonBadRdataElement, error)) return false;
    }
    return true;
  }

  // Reports a fault of the current line (and writes the line to the rejects file); false
  // when the build must stop (strict).
  bool report_fault(const std::string& input, uint64_t number, std::string_view text,
                    const char* reason, std::string* error) {
    ++faults_;
    const auto line = static_cast<unsigned long long>(number);
    if (rejects_ && !rejects_->add(input, line, reason, text, error)) return false;
    if (opt_.strict) {
      *error = str_fmt(kBuildErrStrict, input.c_str(), line, reason);
      return false;
    }
    if (faults_ <= opt_.max_reported) {
      fprintf(opt_.report, kBuildWarnLine, input.c_str(), line, reason);
    } else if (faults_ == opt_.max_reported + 1) {
      fputs(kBuildWarnMore, opt_.report);
    }
    return true;
  }

  // Counts and reports one line in input order, wherever it was parsed; *accepted says
  // whether its entries go in. false when the build must stop.
  bool count_line(const std::string& input, const BatchLine& l, std::string_view text,
                  bool* accepted, std::string* error) {
    *accepted = false;
    ++stats_->lines;
    if ((stats_->lines & 0xffff) == 0) progress("reading");
    if (l.too_long) return reject(input, l.number, text, kReasonTooLong, error);
    if (l.status == ParseStatus::kBlank) return true;
    if (l.status == ParseStatus::kBad) return reject(input, l.number, text, l.reason, error);
    ++stats_->records;
    if (!leave_out_bad_elements(input, l, text, error)) return false;
    *accepted = true;
    return true;
  }

  // One thread: each line is parsed, counted and spilled in turn.
  bool read_lines(LineInput& in, std::string* error) {
    SpillerSink sink(spiller_);
    std::string_view text;
    BatchLine l;
    while (in.next(&text)) {
      l.number = in.line_number();
      l.too_long = in.too_long();
      l.status = ParseStatus::kBlank;
      if (!l.too_long) {
        l.status = parse_input_line(text, opt_.format, &parsed_, &l.reason);
        l.bad_elements = static_cast<uint32_t>(parsed_.rdata_bad);
      }
      bool accepted = false;
      if (!count_line(in.name(), l, text, &accepted, error)) return false;
      if (accepted && !encoder_.encode(parsed_, sink, totals_, error)) return false;
    }
    return true;
  }

  // Several threads parse (parse_pipeline.h); the batches come back in input order and
  // are counted and spilled here exactly as read_lines does line by line.
  bool read_lines_threaded(LineInput& in, std::string* error) {
    std::unique_ptr<ParsePipeline> pipe;
    try {
      pipe = std::make_unique<ParsePipeline>(in, opt_.format, outputs_, opt_.threads);
    } catch (const std::system_error& e) {
      *error = str_fmt(kBuildErrThreads, e.what());
      return false;
    }
    while (const LineBatch* b = pipe->next()) {
      for (size_t i = 0; i < b->size(); ++i) {
        bool accepted = false;
        if (!count_line(in.name(), b->line(i), b->text(i), &accepted, error)) return false;
        if (!accepted) continue;
        for (size_t e = b->entries_before(i); e < b->line(i).entry_end; ++e) {
          if (!spiller_.add(b->key(e), b->value(e), error)) return false;
        }
      }
      totals_.merge(b->totals());
    }
    pipe->close();
    if (pipe->out_of_memory()) {
      *error = kBuildErrNoMemory;
      return false;
    }
    return true;
  }

  bool read_input(const std::string& name, std::string* error) {
    auto in = LineInput::open(name, error);
    if (!in) return false;
    ++stats_->inputs;
    const bool ok = opt_.threads > 1 ? read_lines_threaded(*in, error) : read_lines(*in, error);
    if (!ok) return false;
    stats_->input_bytes += in->bytes_read();
    if (in->damaged() && opt_.skip_damaged) {
      ++stats_->damaged_inputs;
      fprintf(opt_.report, kBuildWarnDamaged, in->error().c_str());
      return true;
    }
    if (in->failed()) {
      *error = in->error();
      return false;
    }
    return true;
  }

  // Record stores are told apart by their own magic, whatever the input format.
  bool read_any_input(const std::string& in, std::string* error) {
    if (in != kStdinName && has_store_magic(in)) return open_store_input(in, error);
    const bool is_index = in != kStdinName && (opt_.index_inputs_only || has_index_magic(in));
    if (opt_.index_inputs_only && in == kStdinName) {
      *error = kBuildErrIndexStdin;
      return false;
    }
    return is_index ? open_index_input(in, error) : read_input(in, error);
  }

  // An index input is only checked and mapped now; its lines stream into the merge.
  bool open_index_input(const std::string& path, std::string* error) {
    ++stats_->inputs;
    ++stats_->index_inputs;
    auto input = IndexInput::open(path, opt_.retention, error);
    if (!input) return false;
    if (outputs_.name_from_store) input->set_name_tag(kStoreTag);
    const Output& o = input->is_rdata() ? rdata_ : rrname_;
    if (!wanted(o)) {
      *error = str_fmt(kBuildErrIndexKind, path.c_str(), o.label, o.label,
                       input->is_rdata() ? "-d" : "-o");
      return false;
    }
    stats_->input_bytes += input->file_bytes();
    input_ids_.push_back(input->identity());
    index_inputs_.push_back(std::move(input));
    return true;
  }

  // A store input is only checked and mapped now; its records stream into the merge.
  bool open_store_input(const std::string& path, std::string* error) {
    ++stats_->inputs;
    ++stats_->index_inputs;
    if (!store_.wanted()) {
      *error = str_fmt(kBuildErrStoreInput, path.c_str());
      return false;
    }
    auto input = StoreInput::open(path, opt_.retention, error);
    if (!input) return false;
    stats_->input_bytes += input->file_bytes();
    input_ids_.push_back(input->identity());
    if (stats_->inputs == stats_->index_inputs) ++stores_first_;
    store_inputs_.push_back(std::move(input));
    return true;
  }

  // The store writer follows the index writers in the merged stream and gets their
  // budget: the final merge's read buffers stay, and the reserve for the index writer's
  // fixed tables is left as margin for the store's write buffers.
  bool add_store_entry(std::string_view key, std::string_view value, std::string* error) {
    if (!store_.add(key, value, store_budget(), error)) return false;
    if ((store_.records() & 0xffff) == 0) progress("writing");
    return true;
  }

  bool add_line(Output& o, std::string_view line, std::string* error) {
    // Keys of one kind are contiguous in the merged stream, so a closed index gets no
    // further lines.
    QUARN_CHECK(!o.complete);
    if (!o.writer) {
      o.staged = str_fmt("%s.gf-%d", o.path.c_str(), static_cast<int>(getpid()));
      // The writer builds under "<name>.tmp.<pid>" and renames to our staged name.
      if (!temps_.add(o.staged) ||
          !temps_.add(str_fmt("%s.tmp.%d", o.staged.c_str(), static_cast<int>(getpid())))) {
        *error = kTempErrTooMany;
        return false;
      }
      IndexWriterOptions wo;
      wo.kind = o.kind;
      wo.timefence = true;
      wo.earliest_seen = o.fence.earliest;
      wo.latest_seen = o.fence.latest;
      // The lists share the budget with the final merge's read buffers and the
      // writer's fixed tables (see list_budget_of).
      wo.list_budget = list_budget(o);
      wo.tmpdir = temps_.dir();
      if (o.kind == IndexKind::kRdata) {
        wo.compare = [](std::string_view a, std::string_view b) {
          return rdata_line_compare(a, b);
        };
      }
      o.writer = IndexWriter::create(o.staged, wo, error);
      if (!o.writer) return false;
    }
    if (!o.writer->add_line(line, error)) return false;
    ++o.lines;
    if ((o.lines & 0xffff) == 0) progress("writing");
    return true;
  }

  // What the writers' lists may take beside the final merge's sources.
  size_t lists_beside_merge() const {
    const size_t lists = list_budget_of(opt_.memory_budget, spiller_.runs().size());
    const size_t held = batch_bytes_ + merging_.size() * kIndexInputResident;
    return lists > kMinListBudget + held ? lists - held : kMinListBudget;
  }

  // The store writer's: the writers' budget less the kept batch, and less the owner-name
  // index's share when that is written beside it.
  size_t store_budget() const {
    const size_t lists = list_budget_of(opt_.memory_budget, spiller_.runs().size());
    size_t budget = lists > kMinListBudget + batch_bytes_ ? lists - batch_bytes_ : kMinListBudget;
    if (outputs_.name_from_store) {
      budget = budget > kMinListBudget + name_share() ? budget - name_share() : kMinListBudget;
    }
    return budget;
  }

  size_t name_share() const {
    return std::max(kMinListBudget, lists_beside_merge() / kNameShareBesideStore);
  }

  // An index written from the store's entries shares the budget with the store writer:
  // the owner-name index gets its share while the records stream, the rdata index what
  // the store writer leaves at its end.
  size_t list_budget(const Output& o) const {
    const size_t lists = lists_beside_merge();
    if (o.kind == IndexKind::kRrname && outputs_.name_from_store) return name_share();
    if (o.kind == IndexKind::kRdata && outputs_.rdata_from_store) {
      // Less the owner-name index's share while it is finished beside the rdata lines.
      const size_t held = store_held_ + (names_closing_ ? name_share() : 0);
      return lists > kMinListBudget + held ? lists - held : kMinListBudget;
    }
    return lists;
  }

  bool flush_name(std::string* error) {
    if (summaries_.empty()) return true;
    line_.assign(name_);
    write_annotation(summaries_, {}, line_);
    summaries_.clear();
    return add_line(rrname_, line_, error);
  }

  bool write_rdata(std::string_view key, std::string_view value, std::string* error) {
    uint16_t rrtype = 0;
    CountValue v;
    if (!decode_rdata_key(key, raw_, &rrtype) || !decode_count_value(value, &v)) {
      *error = "internal error: undecodable rdata entry";
      return false;
    }
    return write_rdata_value(rrtype, raw_, v, error);
  }

  bool write_rdata_value(uint16_t rrtype, std::string_view raw, const CountValue& v,
                         std::string* error) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(raw.data());
    if (!rdata_to_text(rrtype, std::span<const uint8_t>(bytes, raw.size()), &text_) ||
        !is_line_safe(text_)) {
      ++stats_->rdata_skipped;
      stats_->rdata_skipped_records += v.observations;
      return true;
    }
    line_.assign(text_);
    line_.push_back('\t');
    append_raw_rdata(line_, std::span<const uint8_t>(bytes, raw.size()));
    line_.push_back(' ');
    const rrtype_summary s{rrtype, v.count, v.first, v.last};
    write_annotation(std::span<const rrtype_summary>(&s, 1), {}, line_, true);
    return add_line(rdata_, line_, error);
  }

  // The fence is final only now: index inputs contribute theirs as they are read.
  void set_final_fence(Output& o) {
    TimeFence fence = o.fence;
    for (const IndexInput* in : merging_) {
      uint32_t earliest = 0, latest = 0;
      if ((in->is_rdata() == (o.kind == IndexKind::kRdata)) && in->fence(&earliest, &latest)) {
        fence.add(earliest, latest);
      }
    }
    o.writer->set_time_fence(fence.earliest, fence.latest);
  }

  bool close_output(Output& o, std::string* error) {
    if (!o.writer) return true;
    set_final_fence(o);
    const bool ok = o.writer->finish(error);
    o.writer.reset();
    o.complete = ok;
    return ok;
  }

  bool write_indexes(std::string* error) {
    SortabMerger merger(merge_entries);
    // Equal keys fold in source order and a store entry keeps the first bailiwick, so
    // stores named before any observation input go ahead of the observations' runs.
    std::vector<const StoreInput*> stores;
    for (size_t i = 0; i < stores_first_; ++i) {
      stores.push_back(store_inputs_[i].get());
      merger.add_source(std::move(store_inputs_[i]));
    }
    for (const std::string& run : spiller_.runs()) {
      auto reader = SortabReader::open(run, error);
      if (!reader) return false;
      merger.add_source(std::move(reader));
    }
    batch_bytes_ = spiller_.memory_run_bytes();
    if (auto batch = spiller_.take_memory_run()) merger.add_source(std::move(batch));
    // The merger owns the index inputs from here; merging_ watches them while it runs.
    for (auto& in : index_inputs_) {
      merging_.push_back(in.get());
      merger.add_source(std::move(in));
    }
    index_inputs_.clear();
    for (size_t i = stores_first_; i < store_inputs_.size(); ++i) {
      stores.push_back(store_inputs_[i].get());
      merger.add_source(std::move(store_inputs_[i]));
    }
    store_inputs_.clear();
    const bool ok = merge_and_publish(merger, error);
    for (const StoreInput* in : stores) {
      stats_->records += in->records();
      stats_->retention_dropped += in->dropped();
    }
    for (const IndexInput* in : merging_) {
      stats_->lines += in->lines();
      stats_->records += in->lines();
      stats_->retention_dropped += in->dropped();
    }
    merging_.clear();
    return ok;
  }

  bool merge_and_publish(SortabMerger& merger, std::string* error) {
    while (merger.next()) {
      const std::string_view key = merger.key().substr(1);
      const char tag = merger.key()[0];
      if (tag == kRdataTag) {
        if (!take_rdata(key, merger.value(), error)) return false;
        continue;
      }
      // The rdata lines are all out: finishing that index now frees its reference lists
      // before the owner-name index builds its own.
      if (!outputs_.rdata_from_store && !close_output(rdata_, error)) return false;
      if (tag == kStoreTag) {
        if (!take_store_entry(key, merger.value(), error)) return false;
        continue;
      }
      if (!take_name(key, merger.value(), error)) return false;
    }
    if (merger.failed()) {
      *error = merger.error();
      return false;
    }
    if (!flush_name(error)) return false;
    if (!close_output(rdata_, error) || !finish_outputs(error)) return false;
    for (Output* o : {&rdata_, &rrname_}) {
      if (wanted(*o) && !o->complete) {
        *error = str_fmt(kBuildErrEmpty, o->label, o->path.c_str());
        return false;
      }
    }
    if (store_.wanted() && !store_.complete()) {
      *error = str_fmt(kStoreErrEmpty, store_.path().c_str());
      return false;
    }
    // Every index is complete: only now do they take their final names, all or none.
    std::vector<StagedOutput> staged;
    for (Output* o : {&rdata_, &rrname_}) {
      if (o->complete) staged.push_back({o->staged, o->path});
    }
    if (store_.complete()) staged.push_back({store_.staged(), store_.path()});
    if (rejects_) staged.push_back({rejects_staged_, opt_.rejects_out});
    step("staged");
    if (!publish_outputs(staged, opt_.force, error)) return false;
    for (const StagedOutput& o : staged) temps_.release(o.staged);
    step("published");
    stats_->rrname_lines = rrname_.lines;
    stats_->rdata_lines = rdata_.lines;
    if (wanted(rrname_)) stats_->rrname_bytes = file_size(rrname_.path);
    if (wanted(rdata_)) stats_->rdata_bytes = file_size(rdata_.path);
    stats_->store_records = store_.records();
    if (store_.wanted()) stats_->store_bytes = file_size(store_.path());
    return true;
  }

  bool take_rdata(std::string_view key, std::string_view value, std::string* error) {
    if (outputs_.rdata_from_store) return held_rdata_.hold(key, value, error);
    return write_rdata(key, value, error);
  }

  // An owner-name entry (key without its tag): one record type of a name.
  bool take_name(std::string_view key, std::string_view value, std::string* error) {
    CountValue v;
    if (!decode_count_value(value, &v)) {
      *error = "internal error: undecodable owner-name entry";
      return false;
    }
    return add_summary(key, v, v.count, error);
  }

  // Folds one record type's contribution into the current name's summaries; a new name
  // (key stem) writes the previous one's line first.
  bool add_summary(std::string_view name_key, const CountValue& v, uint64_t count,
                   std::string* error) {
    const std::string_view this_stem = name_key_stem(name_key);
    if (this_stem != std::string_view(stem_)) {
      if (!flush_name(error)) return false;
      stem_.assign(this_stem);
      uint16_t ignored = 0;
      if (!decode_name_key(name_key, name_, &ignored)) {
        *error = "internal error: undecodable owner-name entry";
        return false;
      }
    }
    const auto rrtype = static_cast<uint16_t>(
        static_cast<uint8_t>(name_key[name_key.size() - 2]) << 8 |
        static_cast<uint8_t>(name_key[name_key.size() - 1]));
    if (summaries_.empty() || summaries_.back().rrtype != rrtype) {
      summaries_.push_back({rrtype, count, v.first, v.last});
      return true;
    }
    rrtype_summary& s = summaries_.back();
    s.count = saturating_add(s.count, count);
    s.time_first = std::min<int64_t>(s.time_first, v.first);
    s.time_last = std::max<int64_t>(s.time_last, v.last);
    return true;
  }

  // A store entry (key without its tag). When the owner-name index comes from the
  // store's entries, each one adds its owner-name count, and a name-only entry adds
  // nothing else; otherwise the owner-name index is complete before the store takes
  // memory.
  bool take_store_entry(std::string_view key, std::string_view value, std::string* error) {
    if (!outputs_.name_from_store) {
      return flush_name(error) && close_output(rrname_, error) &&
             add_store_entry(key, value, error);
    }
    if (is_name_only_key(key)) return take_name(key, value, error);
    CountValue v;
    uint64_t name_count = 0;
    std::string_view bailiwick;
    const size_t split = name_key_size(key);
    if (split == 0 || !decode_store_value(value, &v, &name_count, &bailiwick)) {
      *error = kStoreErrEntry;
      return false;
    }
    return add_summary(key.substr(0, split), v, name_count, error) &&
           add_store_entry(key, value, error);
  }

  // Completes the owner-name index, the store and (when it comes from the store) the
  // rdata index. The store's end and the rdata lines it gives need nothing of the
  // owner-name index, so with threads to spare that index is finished beside them.
  bool finish_outputs(std::string* error) {
    const bool threaded = outputs_.name_from_store && opt_.threads > 1 && rrname_.writer;
    names_closing_ = threaded;
    const bool ok = run_beside(
        threaded, [&](std::string* e) { return close_output(rrname_, e); },
        [&](std::string* e) { return finish_store(e) && close_output(rdata_, e); }, error);
    names_closing_ = false;
    return ok;
  }

  // Completes the store; when the rdata index comes from it, its values, merged with
  // the held rdata entries, are the rdata lines.
  bool finish_store(std::string* error) {
    if (!outputs_.rdata_from_store) return store_.finish(error);
    const HeldRdata::Emit emit = [this](uint16_t rrtype, std::string_view raw,
                                        const CountValue& v, std::string* err) {
      return write_rdata_value(rrtype, raw, v, err);
    };
    auto visit = [&](uint16_t rrtype, std::string_view raw, const ValueFold& f,
                     std::string* err) {
      // A value only stored records hold is no observation's (none when deriving).
      if (f.observations == 0) return true;
      CountValue v{static_cast<uint32_t>(f.first), static_cast<uint32_t>(f.last), f.count,
                   f.observations};
      return held_rdata_.emit_before(rrtype, raw, &v, emit, err) &&
             write_rdata_value(rrtype, raw, v, err);
    };
    if (!store_.flush(error)) return false;
    // Taken before the store's end, which runs beside the visit and frees as it goes.
    store_held_ = store_.memory_bytes();
    return held_rdata_.start_reading(error) && store_.finish(error, visit) &&
           held_rdata_.emit_rest(emit, error);
  }

  void step(const char* name) {
    if (opt_.step_hook) opt_.step_hook(name);
  }

  // After publishing: the new files join the set file, the merged ones leave it.
  bool update_set(std::string* error) {
    if (opt_.set_file.empty()) return true;
    SetFileChange change;
    for (const Output* o : {&rdata_, &rrname_}) {
      if (o->complete) change.add.push_back(o->path);
    }
    if (store_.complete()) change.add.push_back(store_.path());
    if (opt_.replace) change.drop = input_ids_;
    if (update_set_file(opt_.set_file, change, temps_, opt_.step_hook, error)) return true;
    *error = str_fmt(kBuildErrSetUpdate, error->c_str());
    return false;
  }

  const BuildOptions& opt_;
  BuildStats* stats_;
  TempFiles temps_;
  RunSpiller spiller_;
  Output rrname_, rdata_;
  EntryOutputs outputs_;  // what the entries feed (plan_outputs)
  StoreOutput store_;
  HeldRdata held_rdata_;  // rdata entries waiting for the store's values
  ParsedLine parsed_;
  EntryEncoder encoder_;
  EntryTotals totals_;  // of the entries of every line read
  TimePoint start_{}, last_progress_{};
  uint64_t faults_ = 0;  // malformed lines and bad rdata elements reported so far
  std::string line_, name_, stem_, raw_, text_;
  std::vector<rrtype_summary> summaries_;
  std::unique_ptr<RejectLog> rejects_;
  std::string rejects_staged_;
  size_t batch_bytes_ = 0;  // held by the input batch kept in memory while writing
  size_t store_held_ = 0;   // held by the store writer when its end began
  bool names_closing_ = false;  // the owner-name index is being finished on its own thread
  std::vector<std::unique_ptr<IndexInput>> index_inputs_;  // opened, not yet merging
  std::vector<std::unique_ptr<StoreInput>> store_inputs_;  // opened, not yet merging
  size_t stores_first_ = 0;  // store inputs named before any observation input
  std::vector<const IndexInput*> merging_;  // owned by the merger while it runs
  std::vector<FileIdentity> input_ids_;     // of the index inputs, for --replace
};

}  // namespace

bool run_build(const BuildOptions& options, BuildStats* stats, std::string* error) {
  *stats = BuildStats{};
  // A memory budget beyond what the system grants fails the reservation of the sort
  // arena (or a later allocation): that is the caller's input, so it is an error result.
  try {
    Build build(options, stats);
    return build.run(error);
  } catch (const std::bad_alloc&) {
    *error = kBuildErrNoMemory;
    return false;
  }
}

std::string build_error_line(const std::string& error) {
  if (error.starts_with(kBuildErrPrefix)) return error;
  return kBuildErrPrefix + error;
}

void print_build_summary(FILE* out, const BuildOptions& options, const BuildStats& s) {
  auto ull = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  fprintf(out,
          "gramforge: read %llu lines (%llu bytes) from %llu inputs (%llu damaged): %llu "
          "records, %llu malformed lines skipped, %llu rdata values left out (%llu "
          "observations)\n",
          ull(s.lines), ull(s.input_bytes), ull(s.inputs), ull(s.damaged_inputs),
          ull(s.records), ull(s.malformed), ull(s.rdata_skipped),
          ull(s.rdata_skipped_records));
  if (!options.rrname_out.empty()) {
    fprintf(out, "gramforge: rrname index %s: %llu keys, %llu bytes\n",
            options.rrname_out.c_str(), ull(s.rrname_lines), ull(s.rrname_bytes));
  }
  if (!options.rdata_out.empty()) {
    fprintf(out, "gramforge: rdata index %s: %llu keys, %llu bytes\n",
            options.rdata_out.c_str(), ull(s.rdata_lines), ull(s.rdata_bytes));
  }
  if (!options.records_out.empty()) {
    fprintf(out, "gramforge: record store %s: %llu records, %llu bytes\n",
            options.records_out.c_str(), ull(s.store_records), ull(s.store_bytes));
  }
  if (options.retention.limited()) {
    fprintf(out, "gramforge: %llu observations and aggregates outside the retention window\n",
            ull(s.retention_dropped));
  }
  fprintf(out, "gramforge: %llu sorted runs, %.2f s reading, %.2f s in all\n", ull(s.runs),
          s.read_seconds, s.total_seconds);
}

}  // namespace quarn

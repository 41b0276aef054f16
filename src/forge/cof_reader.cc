#include "forge/cof_reader.h"

#include <yajl/yajl_parse.h>

#include <cstdlib>
#include <cstring>
#include <limits>

namespace quarn {

void CofFields::reset() {
  for (CofValue* v : {&rrname, &rrtype, &rdata, &time_first, &time_last, &zone_time_first,
                      &zone_time_last, &count, &bailiwick}) {
    v->reset();
  }
  rdata_items_used = 0;
  rdata_nonstrings = 0;
}

namespace {

// Event state of one parse. Depth counts the open containers: the top-level object is
// depth 1, so its members' values arrive at depth 1 and the elements of an rdata array
// at depth 2.
struct Collector {
  CofFields* out;
  int depth = 0;
  CofValue* slot = nullptr;  // member whose value comes next, null to skip it
  bool in_rdata_array = false;
  bool seen_top = false;
};

std::string_view text_of(const unsigned char* s, size_t len) {
  return {reinterpret_cast<const char*>(s), len};
}

// An integer is written without fraction or exponent and fits a signed 64-bit value
// other than the most negative one; anything else is a number that is not an integer
// (an overflow is no parse error). The lexer has already checked the number's syntax.
bool integer_from_text(const char* s, size_t len, long long* out) {
  size_t i = 0;
  bool negative = false;
  if (i < len && s[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == len) return false;
  unsigned long long v = 0;
  constexpr unsigned long long kMax = std::numeric_limits<long long>::max();
  for (; i < len; ++i) {
    const unsigned d = static_cast<unsigned char>(s[i]) - '0';
    if (d > 9) return false;
    if (v > (kMax - d) / 10) return false;
    v = v * 10 + d;
  }
  *out = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
  return true;
}

// Takes the slot for the value that just arrived: at depth 1 the member's slot (or
// none), inside an rdata array none. Values elsewhere are skipped.
CofValue* take_slot(Collector* c) {
  CofValue* s = c->depth == 1 ? c->slot : nullptr;
  c->slot = nullptr;
  return s;
}

// An element of the rdata array that is not a string; the others still count.
void note_rdata_nonstring(Collector* c) {
  if (c->in_rdata_array && c->depth == 2) ++c->out->rdata_nonstrings;
}

int on_null(void* ctx) {
  auto* c = static_cast<Collector*>(ctx);
  if (c->depth == 0) return 0;  // top level is not an object
  note_rdata_nonstring(c);
  if (CofValue* s = take_slot(c)) s->kind = CofKind::kNull;
  return 1;
}

int on_bool(void* ctx, int) {
  auto* c = static_cast<Collector*>(ctx);
  if (c->depth == 0) return 0;
  note_rdata_nonstring(c);
  if (CofValue* s = take_slot(c)) s->kind = CofKind::kBool;
  return 1;
}

int on_number(void* ctx, const char* s, size_t len) {
  auto* c = static_cast<Collector*>(ctx);
  if (c->depth == 0) return 0;
  note_rdata_nonstring(c);
  if (CofValue* v = take_slot(c)) {
    v->kind = CofKind::kNumber;
    v->is_integer = integer_from_text(s, len, &v->integer);
    // Digits alone that are no integer overflowed: the lexer checked the syntax.
    v->too_large = !v->is_integer && len > 0 && s[0] != '-' &&
                   memchr(s, '.', len) == nullptr && memchr(s, 'e', len) == nullptr &&
                   memchr(s, 'E', len) == nullptr;
  }
  return 1;
}

int on_string(void* ctx, const unsigned char* s, size_t len) {
  auto* c = static_cast<Collector*>(ctx);
  if (c->depth == 0) return 0;
  if (c->in_rdata_array && c->depth == 2) {
    CofFields* f = c->out;
    if (f->rdata_items_used == f->rdata_items.size()) f->rdata_items.emplace_back();
    f->rdata_items[f->rdata_items_used++].assign(text_of(s, len));
    return 1;
  }
  if (CofValue* v = take_slot(c)) {
    v->kind = CofKind::kString;
    v->text.assign(text_of(s, len));
  }
  return 1;
}

int on_map_key(void* ctx, const unsigned char* s, size_t len) {
  auto* c = static_cast<Collector*>(ctx);
  if (c->depth != 1) return 1;
  const std::string_view key = text_of(s, len);
  CofFields* f = c->out;
  CofValue* slot = nullptr;
  if (key == "rrname") {
    slot = &f->rrname;
  } else if (key == "rrtype") {
    slot = &f->rrtype;
  } else if (key == "rdata") {
    slot = &f->rdata;
  } else if (key == "time_first") {
    slot = &f->time_first;
  } else if (key == "time_last") {
    slot = &f->time_last;
  } else if (key == "zone_time_first") {
    slot = &f->zone_time_first;
  } else if (key == "zone_time_last") {
    slot = &f->zone_time_last;
  } else if (key == "count") {
    slot = &f->count;
  } else if (key == "bailiwick") {
    slot = &f->bailiwick;
  }
  // A repeated member keeps its first value.
  c->slot = slot != nullptr && slot->kind == CofKind::kAbsent ? slot : nullptr;
  return 1;
}

int on_start_container(Collector* c, CofKind kind) {
  if (c->depth == 0) {
    if (kind != CofKind::kObject || c->seen_top) return 0;
    c->seen_top = true;
    c->depth = 1;
    return 1;
  }
  note_rdata_nonstring(c);
  if (CofValue* s = take_slot(c)) {
    s->kind = kind;
    if (kind == CofKind::kArray && s == &c->out->rdata) c->in_rdata_array = true;
  }
  ++c->depth;
  return 1;
}

int on_start_map(void* ctx) {
  return on_start_container(static_cast<Collector*>(ctx), CofKind::kObject);
}

int on_start_array(void* ctx) {
  return on_start_container(static_cast<Collector*>(ctx), CofKind::kArray);
}

int on_end_container(void* ctx) {
  auto* c = static_cast<Collector*>(ctx);
  --c->depth;
  if (c->depth == 1) c->in_rdata_array = false;
  return 1;
}

// Integers and doubles are left null so that every number arrives as its raw text.
constexpr yajl_callbacks kCallbacks = {
    .yajl_null = on_null,
    .yajl_boolean = on_bool,
    .yajl_integer = nullptr,
    .yajl_double = nullptr,
    .yajl_number = on_number,
    .yajl_string = on_string,
    .yajl_start_map = on_start_map,
    .yajl_map_key = on_map_key,
    .yajl_end_map = on_end_container,
    .yajl_start_array = on_start_array,
    .yajl_end_array = on_end_container,
};

// The parser's own memory (its state, stacks and decoding buffers, a few kilobytes a
// line) comes from a per-thread block that is rewound for each line, sparing a handful
// of malloc/free pairs per line. A request that does not fit goes to the heap.
class LineArena {
 public:
  void rewind() { used_ = 0; }

  static void* alloc(void* ctx, size_t size) {
    return static_cast<LineArena*>(ctx)->take(size);
  }
  static void* resize(void* ctx, void* p, size_t size) {
    auto* a = static_cast<LineArena*>(ctx);
    if (p == nullptr) return a->take(size);
    if (!a->owns(p)) return realloc(p, size);
    const size_t old = header(p)->size;
    if (size <= old) return p;
    void* q = a->take(size);
    if (q != nullptr) memcpy(q, p, old);
    return q;
  }
  static void release(void* ctx, void* p) {
    if (p != nullptr && !static_cast<LineArena*>(ctx)->owns(p)) free(p);
  }

 private:
  struct alignas(16) Header {
    size_t size;
  };
  static Header* header(void* p) { return static_cast<Header*>(p) - 1; }

  bool owns(const void* p) const {
    const auto* b = reinterpret_cast<const unsigned char*>(block_);
    const auto* q = static_cast<const unsigned char*>(p);
    return q >= b && q < b + sizeof block_;
  }

  void* take(size_t size) {
    const size_t need = sizeof(Header) + (size + 15) / 16 * 16;
    if (size > sizeof block_ || need > sizeof block_ - used_) return malloc(size);
    auto* h = reinterpret_cast<Header*>(reinterpret_cast<unsigned char*>(block_) + used_);
    h->size = size;
    used_ += need;
    return h + 1;
  }

  // Ample for the parser of one line; deeper nesting or long escaped texts spill over.
  alignas(16) unsigned char block_[32 * 1024];
  size_t used_ = 0;
};

struct YajlHandle {
  yajl_handle h;
  YajlHandle(Collector* c, yajl_alloc_funcs* funcs) : h(yajl_alloc(&kCallbacks, funcs, c)) {}
  ~YajlHandle() {
    if (h != nullptr) yajl_free(h);
  }
  YajlHandle(const YajlHandle&) = delete;
  YajlHandle& operator=(const YajlHandle&) = delete;
};

}  // namespace

bool read_cof_fields(std::string_view line, CofFields* out) {
  out->reset();
  Collector c{out};
  // The parser cannot be rewound once it has seen a whole value, so each line gets its
  // own, carved from the rewound arena.
  thread_local LineArena arena;
  arena.rewind();
  yajl_alloc_funcs funcs{LineArena::alloc, LineArena::resize, LineArena::release, &arena};
  YajlHandle parser(&c, &funcs);
  if (parser.h == nullptr) return false;
  // Observation files in the wild carry comments now and then; they are accepted.
  yajl_config(parser.h, yajl_allow_comments, 1);
  yajl_status st = yajl_parse(parser.h, reinterpret_cast<const unsigned char*>(line.data()),
                              line.size());
  // A failed parse stays failed, so completing it reports the first fault.
  if (st == yajl_status_ok) st = yajl_complete_parse(parser.h);
  return st == yajl_status_ok && c.seen_top && c.depth == 0;
}

}  // namespace quarn

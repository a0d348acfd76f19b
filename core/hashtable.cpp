// The hash-table engine (see hashtable.h): hashing, creation, insertion,
// lookup, deletion, index maintenance after series changes, growth, keyed
// record tables and the collector hooks.
#include "core/hashtable.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "core/actions.h"
#include "core/collector.h"
#include "core/console.h"
#include "core/memory.h"
#include "core/random.h"
#include "core/symbol.h"
#include "core/unicode.h"

namespace mox::hashtable {

using memory::buffer_of;
using memory::SeriesBuffer;

namespace {

// ---------------------------------------------------------------------------
// Series access
// ---------------------------------------------------------------------------

inline uint32_t* words_of(node_t node) {
    return reinterpret_cast<uint32_t*>(buffer_of(node)->head_ptr());
}
inline int32_t* ints_of(node_t node) {
    return reinterpret_cast<int32_t*>(buffer_of(node)->head_ptr());
}
inline uint32_t word_count(node_t node) { return buffer_of(node)->used_bytes() / 4; }

inline Cell* cell_at(const Record* r, int32_t pos) { return buffer_of(r->data)->cells() + pos; }
inline int32_t data_cells(const Record* r) {
    return static_cast<int32_t>(buffer_of(r->data)->used_bytes() / sizeof(Cell));
}

// A map! table keeps, in its keys series, one word per bucket: SLOT_EMPTY,
// or the pair number of the bucket's entry (its key cell's position / 2) in
// the bits below the bucket count and the hash bits above them. A pair
// number stays below the bucket count minus one (a table grows before its
// occupied buckets reach the upper limit), so no live slot equals
// SLOT_EMPTY. A map! never deletes a bucket (a removed entry keeps its pair
// until the table is rebuilt or cleared), so the slot alone tells a probe
// all it needs: one cache line per bucket visited, four bytes a bucket, the
// keys read only when their hash bits agree. Its buckets series holds each
// pair's full hash in pair order: growth never hashes a key again, and it
// puts the entries back in the order they came, so that the first of two
// spellings of a key stays ahead on every probe path. Its flags series is
// a single unused word.
inline bool map_q(const Record* r) { return r->type == KIND_MAP; }
constexpr uint32_t SLOT_EMPTY = 0xFFFFFFFF;
constexpr uint8_t SLOT_FILL = 0xFF;
inline uint32_t* map_slots(const Record* r) { return words_of(static_cast<node_t>(r->keys)); }
inline uint32_t slot_mask(const Record* r) { return static_cast<uint32_t>(r->bucket_count) - 1; }
inline uint32_t make_slot(uint32_t hash, uint32_t pair, uint32_t mask) {
    return (hash & ~mask) | pair;
}
inline int32_t slot_entry(uint32_t slot, uint32_t mask) {
    return static_cast<int32_t>(2 * (slot & mask));
}
inline uint32_t map_slot_bytes(int32_t bucket_count) {
    return static_cast<uint32_t>(bucket_count) * 4;
}
// The entry of a live bucket.
inline int32_t entry_at(const Record* r, uint32_t bucket) {
    return map_q(r) ? slot_entry(map_slots(r)[bucket], slot_mask(r)) : ints_of(r->buckets)[bucket];
}
inline uint32_t bucket_bytes(int32_t bucket_count) {
    return static_cast<uint32_t>(bucket_count) * 4;
}

// A byte series of exactly bytes bytes, all set to fill, tail at the end.
// May collect.
node_t alloc_filled(uint32_t bytes, uint8_t fill) {
    node_t node = memory::alloc_bytes_filled(bytes, fill);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + bytes;
    return node;
}

// The flags series holds whole 32-bit words even for 4 or 8 buckets.
inline uint32_t flag_bytes(int32_t bucket_count) {
    return std::max<uint32_t>(4, static_cast<uint32_t>(bucket_count) / 4);
}

// Appends a 32-bit word to a byte series; with release_old a big buffer it
// outgrows is given back at once (see memory::alloc_tail_bytes). May
// collect.
void append_word(node_t node, uint32_t value, bool release_old = false) {
    uint8_t* p = memory::alloc_tail_bytes(node, 4, release_old);
    std::memcpy(p, &value, 4);
}

inline int32_t pow2_at_least(int64_t n) {
    int64_t p = 4;
    while (p < n) p <<= 1;
    return static_cast<int32_t>(p);
}

inline int32_t cycle_stamp() { return collector::stats.cycles + 1; }

// Quadratic probe by step count; visits every bucket of a power-of-two
// table once.
struct Probe {
    uint32_t mask;
    uint32_t i;
    uint32_t step = 1;
    uint32_t left;
    Probe(const Record* r, uint32_t hash)
        : mask(static_cast<uint32_t>(r->bucket_count) - 1), i(hash & mask),
          left(static_cast<uint32_t>(r->bucket_count)) {}
    bool more() const { return left > 0; }
    void next() {
        i = (i + step++) & mask;
        left--;
    }
};

// ---------------------------------------------------------------------------
// Equality used while probing
// ---------------------------------------------------------------------------

inline uint32_t name_length(const Cell* symbol) { return buffer_of(symbol->data3)->used_bytes(); }
inline const char* name_bytes(const Cell* symbol) {
    return reinterpret_cast<const char*>(buffer_of(symbol->data3)->head_ptr());
}

// Word tables hold word cells (contexts) or symbol entries (the symbol
// table); strict equality is the exact symbol or the exact name, any other
// operator the canonical symbol or the ASCII-case-insensitive name.
bool word_entries_equal(const Cell* a, const Cell* b, int32_t op) {
    if (type_of(a) == TYPE_SYMBOL && type_of(b) == TYPE_SYMBOL) {
        uint32_t n = name_length(a);
        if (n != name_length(b)) return false;
        return op == COMP_STRICT_EQUAL ? std::memcmp(name_bytes(a), name_bytes(b), n) == 0
                                       : ascii_equal_nocase(name_bytes(a), name_bytes(b), n);
    }
    if (!is_any_word(type_of(a)) || !is_any_word(type_of(b))) return false;
    if (op == COMP_STRICT_EQUAL) return type_of(a) == type_of(b) && a->data2 == b->data2;
    return symbol::resolve(a->data2) == symbol::resolve(b->data2);
}

bool equal(const Record* r, const Cell* a, const Cell* b, int32_t op) {
    if (r->type == KIND_WORDS) return word_entries_equal(a, b, op);
    return actions::compare(const_cast<Cell*>(a), const_cast<Cell*>(b), op) == 0;
}

// ---------------------------------------------------------------------------
// hash! chains and keys
// ---------------------------------------------------------------------------

inline node_t chain_node(const Record* r, int32_t k) { return words_of(r->chains)[k - 1]; }

// The first position a bucket entry stands for.
inline int32_t first_position(const Record* r, int32_t entry) {
    return entry >= 0 ? entry : ints_of(chain_node(r, -entry))[0];
}

// Calls fn with every position a bucket entry stands for.
template <typename Fn> void each_position(const Record* r, int32_t entry, Fn fn) {
    if (entry >= 0) {
        fn(entry);
        return;
    }
    node_t chain = chain_node(r, -entry);
    int32_t* p = ints_of(chain);
    uint32_t n = word_count(chain);
    for (uint32_t i = 0; i < n; i++) fn(p[i]);
}

// Makes room in the keys series for position pos (new entries 0xFF). May
// collect.
void ensure_keys(node_t table, int32_t entries) {
    Record* r = record_of(table);
    node_t keys = static_cast<node_t>(r->keys);
    SeriesBuffer* b = buffer_of(keys);
    uint32_t want = static_cast<uint32_t>(entries) * 4;
    if (b->used_bytes() >= want) return;
    if (b->head + want > arena::ref(b->end())) {
        uint32_t size = std::max(want, b->size * 2);
        b = memory::expand_series_filled(b, size, 0xFF);
    }
    memory::fill(b->tail_ptr(), b->head_ptr() + want, 0xFF);
    b->tail = b->head + want;
}

inline int32_t key_of(const Record* r, int32_t pos) {
    node_t keys = static_cast<node_t>(r->keys);
    if (static_cast<uint32_t>(pos) >= word_count(keys)) return -1;
    return ints_of(keys)[pos] - 1;
}

void set_key(node_t table, int32_t pos, int32_t bucket) {
    ensure_keys(table, pos + 1);
    ints_of(static_cast<node_t>(record_of(table)->keys))[pos] = bucket + 1;
}

// Adds pos to the equal values of a live bucket, turning a single position
// into a chain first. May collect.
void join_chain(node_t table, uint32_t bucket, int32_t pos) {
    Record* r = record_of(table);
    int32_t entry = ints_of(r->buckets)[bucket];
    if (entry < 0) {
        append_word(chain_node(r, -entry), static_cast<uint32_t>(pos));
        return;
    }
    node_t chain = memory::alloc_bytes(16);
    append_word(chain, static_cast<uint32_t>(entry));
    append_word(chain, static_cast<uint32_t>(pos));
    r = record_of(table);
    append_word(r->chains, chain);
    r = record_of(table);
    int32_t k = static_cast<int32_t>(word_count(r->chains));
    ints_of(r->buckets)[bucket] = -k;
}

void release_bucket(Record* r, uint32_t bucket) {
    set_state_at(words_of(r->flags), bucket, BUCKET_DELETED);
    r->count--;
}

// ---------------------------------------------------------------------------
// Insertion
// ---------------------------------------------------------------------------

inline int32_t grow_request(const Record* r) {
    return r->bucket_count > 2 * r->count ? r->bucket_count - 1 : r->bucket_count + 1;
}

// Takes a free bucket for a new entry: the first deleted one met, else the
// empty one that ended the probe.
void take_bucket(Record* r, uint32_t bucket, bool was_empty, int32_t entry) {
    set_state_at(words_of(r->flags), bucket, BUCKET_LIVE);
    ints_of(r->buckets)[bucket] = entry;
    r->count++;
    if (was_empty) r->occupied++;
}

// The outcome of probing for a new entry: the live bucket whose entry
// matched, or the bucket a new entry takes (the first deleted one met, else
// the empty one that ended the probe).
struct Slot {
    uint32_t bucket;
    bool found;
    bool was_empty;
};

template <typename Match> Slot probe_for_insert(Record* r, uint32_t hash, Match match) {
    int64_t free_bucket = -1;
    bool was_empty = false;
    for (Probe p(r, hash); p.more(); p.next()) {
        uint32_t s = state_at(words_of(r->flags), p.i);
        if (s == BUCKET_EMPTY) {
            if (free_bucket < 0) {
                free_bucket = p.i;
                was_empty = true;
            }
            break;
        }
        if (s == BUCKET_DELETED) {
            if (free_bucket < 0) free_bucket = p.i;
            continue;
        }
        if (match(p.i)) return Slot{p.i, true, false};
    }
    assert(free_bucket >= 0);
    return Slot{static_cast<uint32_t>(free_bucket), false, was_empty};
}

Cell* put_hash(node_t table, int32_t pos, bool* rebuilt) {
    Record* r = record_of(table);
    if (r->occupied >= r->upper) {
        rehash(table, grow_request(r));
        if (rebuilt) *rebuilt = true;
        return cell_at(record_of(table), pos);
    }
    Cell* value = cell_at(r, pos);
    if (!r->stamp && hashed_by_node_q(type_of(value))) r->stamp = cycle_stamp();
    Slot slot = probe_for_insert(r, hash_value(value, false), [&](uint32_t bucket) {
        const Cell* first = cell_at(r, first_position(r, ints_of(r->buckets)[bucket]));
        return type_of(first) == type_of(value) && equal(r, first, value, COMP_EQUAL);
    });
    if (slot.found) {
        join_chain(table, slot.bucket, pos);
    } else {
        take_bucket(r, slot.bucket, slot.was_empty, pos);
    }
    set_key(table, pos, static_cast<int32_t>(slot.bucket));
    return cell_at(record_of(table), pos);
}

// map!: the live bucket whose key's hash is hash and whose key matches, or
// -1 with *empty set to the empty bucket that ended the probe. Reads only
// the slots (see map_q) and the keys whose hash bits agree.
template <typename Match>
int64_t probe_map(const Record* r, uint32_t hash, Match match, uint32_t* empty) {
    const uint32_t* slots = map_slots(r);
    uint32_t mask = slot_mask(r);
    uint32_t high = hash & ~mask;
    for (Probe p(r, hash); p.more(); p.next()) {
        uint32_t slot = slots[p.i];
        if (slot == SLOT_EMPTY) {
            *empty = p.i;
            return -1;
        }
        if ((slot & ~mask) == high && match(slot_entry(slot, mask))) return p.i;
    }
    assert(false && "a map! table always keeps an empty bucket");
    return -1;
}

// Puts every pair's stored hash into a fresh slot series for bucket_count
// buckets, in pair order. May collect.
void reinsert_map(node_t table, int32_t bucket_count, int32_t upper) {
    node_t slots = alloc_filled(map_slot_bytes(bucket_count), SLOT_FILL);
    Record* r = record_of(table);
    r->keys = static_cast<int32_t>(slots);
    r->bucket_count = bucket_count;
    r->upper = upper;
    uint32_t* s = map_slots(r);
    const uint32_t* hashes = words_of(r->buckets);
    uint32_t pairs = word_count(r->buckets);
    uint32_t mask = slot_mask(r);
    assert(pairs < mask);
    // The stored hashes say where each pair goes well before it gets there:
    // the slot lines a few pairs ahead are fetched while this one is placed,
    // so that a large table's growth is not one cache miss after another.
    constexpr uint32_t AHEAD = 16;
    for (uint32_t pair = 0; pair < pairs; pair++) {
        if (pair + AHEAD < pairs) __builtin_prefetch(s + (hashes[pair + AHEAD] & mask), 1);
        Probe p(r, hashes[pair]);
        while (s[p.i] != SLOT_EMPTY) p.next();
        s[p.i] = make_slot(hashes[pair], pair, mask);
    }
    r->occupied = static_cast<int32_t>(pairs);
}

// Records the hash of the pair at pos in the pair-order hash series. May
// collect.
void store_pair_hash(node_t table, int32_t pos, uint32_t hash) {
    node_t hashes = record_of(table)->buckets;
    uint32_t pair = static_cast<uint32_t>(pos) / 2;
    uint32_t have = word_count(hashes);
    if (pair < have) {
        words_of(hashes)[pair] = hash;
        return;
    }
    // Nothing keeps a pointer into the hash series: its outgrown buffers
    // can go at once.
    while (have++ < pair) append_word(hashes, 0, true);
    append_word(hashes, hash, true);
}

// A map! key goes in as a new entry unless a strictly equal key is there.
// known_empty: the empty bucket a lookup that missed this key ended at, or
// -1 (see put_map).
Cell* put_map_hashed(node_t table, int32_t pos, uint32_t hash, int64_t known_empty = -1) {
    Record* r = record_of(table);
    if (r->occupied >= r->upper) {
        resize(table, r->bucket_count + 1);
        r = record_of(table);
        known_empty = -1; // the buckets moved
    }
    uint32_t empty = 0;
    if (known_empty >= 0 && known_empty < r->bucket_count &&
        map_slots(r)[known_empty] == SLOT_EMPTY) {
        empty = static_cast<uint32_t>(known_empty);
    } else {
        const Cell* value = cell_at(r, pos);
        int64_t found = probe_map(
            r, hash,
            [&](int32_t entry) {
                const Cell* key = cell_at(r, entry);
                return key == value || equal(r, key, value, COMP_STRICT_EQUAL);
            },
            &empty);
        if (found >= 0) return cell_at(r, entry_at(r, static_cast<uint32_t>(found)));
    }
    store_pair_hash(table, pos, hash);
    r = record_of(table);
    assert(static_cast<uint32_t>(pos) / 2 < slot_mask(r));
    map_slots(r)[empty] = make_slot(hash, static_cast<uint32_t>(pos) / 2, slot_mask(r));
    r->count++;
    r->occupied++;
    return cell_at(r, pos);
}

// map! and word tables: one position per key.
Cell* put_unique(node_t table, int32_t pos) {
    Record* r = record_of(table);
    if (r->type == KIND_MAP) return put_map_hashed(table, pos, hash_value(cell_at(r, pos), false));
    if (r->occupied >= r->upper) {
        resize(table, grow_request(r));
        r = record_of(table);
    }
    const Cell* value = cell_at(r, pos);
    Slot slot = probe_for_insert(r, hash_value(value, false), [&](uint32_t bucket) {
        const Cell* key = cell_at(r, ints_of(r->buckets)[bucket]);
        return key == value || equal(r, key, value, COMP_STRICT_EQUAL);
    });
    if (slot.found) return cell_at(r, ints_of(r->buckets)[slot.bucket]);
    take_bucket(r, slot.bucket, slot.was_empty, pos);
    return cell_at(r, pos);
}

// Points each live bucket at the entries of a fresh flags and buckets
// series sized for bucket_count; entries go in in the given order. Not for
// map! tables (see reinsert_map). May collect.
void reinsert(node_t table, int32_t bucket_count, int32_t upper,
              const std::vector<int32_t>& entries) {
    node_t flags = alloc_filled(flag_bytes(bucket_count), 0xAA);
    node_t buckets = alloc_filled(bucket_bytes(bucket_count), 0);
    Record* r = record_of(table);
    r->flags = flags;
    r->buckets = buckets;
    r->bucket_count = bucket_count;
    r->upper = upper;
    r->occupied = 0;
    for (int32_t entry : entries) {
        uint32_t hash = r->type >= KIND_KEYED
                            ? mix32(words_of(r->data)[entry / 4 + 1])
                            : hash_value(cell_at(r, first_position(r, entry)), false);
        Probe p(r, hash);
        while (state_at(words_of(r->flags), p.i) != BUCKET_EMPTY) p.next();
        set_state_at(words_of(r->flags), p.i, BUCKET_LIVE);
        ints_of(r->buckets)[p.i] = entry;
        r->occupied++;
        if (r->type == KIND_HASH) {
            each_position(r, entry, [&](int32_t pos) {
                ints_of(static_cast<node_t>(r->keys))[pos] = static_cast<int32_t>(p.i) + 1;
            });
        }
    }
}

// The entries of the live buckets.
std::vector<int32_t> live_entries(const Record* r) {
    std::vector<int32_t> entries;
    const uint32_t* flags = words_of(r->flags);
    for (int32_t i = 0; i < r->bucket_count; i++) {
        if (state_at(flags, static_cast<uint32_t>(i)) == BUCKET_LIVE)
            entries.push_back(ints_of(r->buckets)[i]);
    }
    return entries;
}

// ---------------------------------------------------------------------------
// Keyed records
// ---------------------------------------------------------------------------

struct KeyedRecord {
    uint32_t header; // 2 used, 0 freed
    uint32_t key;
    uint32_t unused[2];
    Cell* cells() { return reinterpret_cast<Cell*>(this + 1); }
};
static_assert(sizeof(KeyedRecord) == 16);
constexpr uint32_t RECORD_USED = 2;

inline KeyedRecord* record_at(const Record* r, int32_t offset) {
    return reinterpret_cast<KeyedRecord*>(buffer_of(r->data)->head_ptr() + offset);
}

template <typename Fn> void each_record(const Record* r, Fn fn) {
    uint32_t used = buffer_of(r->data)->used_bytes();
    for (uint32_t o = 0; o + static_cast<uint32_t>(r->keys) <= used;
         o += static_cast<uint32_t>(r->keys)) {
        KeyedRecord* rec = record_at(r, static_cast<int32_t>(o));
        if (rec->header == RECORD_USED) fn(rec, static_cast<int32_t>(o));
    }
}

// The bucket holding key, or -1.
int64_t find_key_bucket(const Record* r, uint32_t key) {
    for (Probe p(r, mix32(key)); p.more(); p.next()) {
        uint32_t s = state_at(words_of(r->flags), p.i);
        if (s == BUCKET_EMPTY) break;
        if (s == BUCKET_LIVE && record_at(r, ints_of(r->buckets)[p.i])->key == key) return p.i;
    }
    return -1;
}

inline bool marked(node_t node) { return node && (buffer_of(node)->flags & memory::SERIES_MARK); }

// An evacuated node's buffer already names its new slot.
inline void relocate(uint32_t* slot) {
    if (!*slot) return;
    node_t now = buffer_of(*slot)->node;
    if (now && now != *slot) *slot = now;
}

// The node words of a value kept in a weak record: false when one of them
// died (a dead conversion buffer of a string is only dropped); otherwise
// they are relocated.
bool relocate_weak_cell(Cell* c) {
    uint32_t t = type_of(c);
    uint32_t* slots[2] = {nullptr, nullptr};
    if (is_any_string(t)) {
        if (c->data3 && !marked(c->data3)) c->data3 = 0;
        slots[0] = &c->data2;
        slots[1] = &c->data3;
    } else if (is_any_block(t) || t == TYPE_MAP) {
        slots[0] = &c->data2;
        if (t == TYPE_HASH || t == TYPE_MAP) slots[1] = &c->data3;
    } else if (is_series(t) || t == TYPE_BITSET) {
        slots[0] = &c->data2;
    } else if (t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT) {
        slots[0] = &c->data1;
        slots[1] = &c->data3;
    } else if (is_any_word(t)) {
        slots[0] = &c->data1;
    }
    for (uint32_t* s : slots) {
        if (s && *s && !marked(*s)) return false;
    }
    for (uint32_t* s : slots) {
        if (s) relocate(s);
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Hashing
// ---------------------------------------------------------------------------

namespace {

constexpr uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

constexpr uint32_t C1 = 0xcc9e2d51;
constexpr uint32_t C2 = 0x1b873593;

// A block's own scrambling, before it meets the running hash.
constexpr uint32_t scramble(uint32_t k) { return rotl(k * C1, 15) * C2; }

inline uint32_t mix_scrambled(uint32_t h, uint32_t k) {
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xe6546b64;
}

inline uint32_t mix_block(uint32_t h, uint32_t k) { return mix_scrambled(h, scramble(k)); }

// MurmurHash3 x86 32-bit over bytes, each byte passed through map first.
template <typename Map>
uint32_t murmur_bytes(const uint8_t* data, size_t length, uint32_t seed, Map map) {
    uint32_t h = seed;
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; i++) {
        const uint8_t* p = data + i * 4;
        uint32_t k = uint32_t{map(p[0])} | uint32_t{map(p[1])} << 8 | uint32_t{map(p[2])} << 16 |
                     uint32_t{map(p[3])} << 24;
        h = mix_block(h, k);
    }
    const uint8_t* tail = data + blocks * 4;
    uint32_t k = 0;
    switch (length & 3) {
    case 3:
        k ^= uint32_t{map(tail[2])} << 16;
        [[fallthrough]];
    case 2:
        k ^= uint32_t{map(tail[1])} << 8;
        [[fallthrough]];
    case 1:
        k ^= map(tail[0]);
        k *= C1;
        k = rotl(k, 15);
        k *= C2;
        h ^= k;
    }
    h ^= static_cast<uint32_t>(length);
    return mix32(h);
}

inline uint8_t same_byte(uint8_t b) { return b; }
inline uint8_t lower_ascii(uint8_t b) { return b >= 'A' && b <= 'Z' ? b + 32 : b; }

} // namespace

uint32_t mix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85ebca6b;
    h ^= h >> 13;
    h *= 0xc2b2ae35;
    h ^= h >> 16;
    return h;
}

uint32_t murmur3_seeded(const void* data, size_t length, uint32_t seed) {
    return murmur_bytes(static_cast<const uint8_t*>(data), length, seed, same_byte);
}

uint32_t murmur3(const void* data, size_t length) {
    return murmur3_seeded(data, length, random::hash_seed);
}

uint32_t hash_name(const char* utf8, size_t length) {
    return murmur_bytes(reinterpret_cast<const uint8_t*>(utf8), length, random::hash_seed,
                        lower_ascii);
}

bool ascii_equal_nocase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (lower_ascii(static_cast<uint8_t>(a[i])) != lower_ascii(static_cast<uint8_t>(b[i])))
            return false;
    }
    return true;
}

uint32_t hash_symbol(const Cell* symbol) {
    return hash_name(name_bytes(symbol), name_length(symbol));
}

namespace {

// The scrambled block of each ASCII character, upper-cased for Fold: a
// one-byte string (most keys) then costs a load a character where the
// scrambling took two multiplies. Other characters go through the case
// tables, which are filled at start-up.
template <bool Fold> struct AsciiBlocks {
    uint32_t k[128];
    constexpr AsciiBlocks() : k() {
        for (uint32_t c = 0; c < 128; c++)
            k[c] = scramble(Fold && c >= 'a' && c <= 'z' ? c - 32 : c);
    }
};
constexpr AsciiBlocks<true> ascii_folded;
constexpr AsciiBlocks<false> ascii_plain;

// One loop per unit width and case rule, so the inner loop has no branch
// on either.
template <typename Unit, bool Fold> uint32_t hash_units(const uint8_t* p, const uint8_t* end) {
    uint32_t h = random::hash_seed;
    uint32_t n = 0;
    for (; p < end; p += sizeof(Unit), n++) {
        Unit cp;
        std::memcpy(&cp, p, sizeof(Unit));
        if (sizeof(Unit) == 1 && cp < 128) {
            h = mix_scrambled(h, Fold ? ascii_folded.k[cp] : ascii_plain.k[cp]);
            continue;
        }
        h = mix_block(h, Fold ? unicode::to_upper(cp) : uint32_t{cp});
    }
    h ^= 4 * n;
    return mix32(h);
}

} // namespace

uint32_t hash_string(const Cell* str, bool case_) {
    SeriesBuffer* b = buffer_of(str);
    uint32_t unit = b->unit();
    const uint8_t* p = b->head_ptr() + size_t{str->data1} * unit;
    const uint8_t* end = b->tail_ptr();
    switch (unit) {
    case 1:
        return case_ ? hash_units<uint8_t, false>(p, end) : hash_units<uint8_t, true>(p, end);
    case 2:
        return case_ ? hash_units<uint16_t, false>(p, end) : hash_units<uint16_t, true>(p, end);
    default:
        return case_ ? hash_units<uint32_t, false>(p, end) : hash_units<uint32_t, true>(p, end);
    }
}

bool hashed_by_node_q(uint32_t type) {
    switch (type) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_HASH:
    case TYPE_MAP:
    case TYPE_PORT:
    case TYPE_IMAGE:
    case TYPE_EVENT:
        return true;
    default:
        return type >= TYPE_NATIVE && type <= TYPE_GET_PATH;
    }
}

uint32_t hash_value(const Cell* v, bool case_) {
    uint32_t words[4] = {v->header, v->data1, v->data2, v->data3};
    switch (type_of(v)) {
    case TYPE_UNSET:
        return static_cast<uint32_t>(-2);
    case TYPE_NONE:
        return static_cast<uint32_t>(-1);
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT:
        return mix32(v->data1);
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_MAP:
    case TYPE_HANDLE:
    case TYPE_EVENT:
        return mix32(v->data2);
    case TYPE_NATIVE:
    case TYPE_ACTION:
        return mix32(v->data3);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_HASH:
    case TYPE_POINT2D:
    case TYPE_IMAGE:
        return murmur3(&words[1], 8);
    case TYPE_FLOAT:
    case TYPE_PAIR:
    case TYPE_PERCENT:
    case TYPE_TIME:
        return murmur3(&words[2], 8);
    case TYPE_OP:
    case TYPE_FUNCTION:
    case TYPE_TRIPLE:
    case TYPE_TYPESET:
    case TYPE_DATE:
    case TYPE_POINT3D:
        return murmur3(&words[1], 12);
    case TYPE_TUPLE: {
        uint32_t n = (v->header & FLAG_TUPLE_SIZE_MASK) >> FLAG_TUPLE_SIZE_SHIFT;
        return murmur3(&words[1], std::min<uint32_t>(n, 12));
    }
    case TYPE_BINARY: {
        SeriesBuffer* b = buffer_of(v);
        const uint8_t* head = b->head_ptr() + v->data1;
        const uint8_t* tail = b->tail_ptr();
        return murmur3(head, head < tail ? static_cast<size_t>(tail - head) : 0);
    }
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
        return hash_string(v, case_);
    case TYPE_SYMBOL:
        return hash_symbol(v);
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE:
        return mix32(symbol::resolve(v->data2));
    case TYPE_MONEY:
        words[0] = TYPE_MONEY | (v->header & FLAG_MONEY_SIGN);
        return murmur3(words, 16);
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

uint32_t bucket_state(node_t table, uint32_t bucket) {
    const Record* r = record_of(table);
    if (map_q(r)) return map_slots(r)[bucket] == SLOT_EMPTY ? BUCKET_EMPTY : BUCKET_LIVE;
    return state_at(words_of(r->flags), bucket);
}

node_t init(int32_t size, node_t block, int32_t type, int32_t cells) {
    collector::Hold hold;
    if (type == KIND_WORDS && size >= 4000) size *= 2;
    if (size < 4) size = 4;
    int32_t bucket_count = pow2_at_least(static_cast<int64_t>(size / 0.77));
    node_t table = alloc_filled(sizeof(Record), 0);
    node_t flags = alloc_filled(type == KIND_MAP ? 4 : flag_bytes(bucket_count), 0xAA);
    node_t buckets = type == KIND_MAP ? memory::alloc_bytes(static_cast<uint32_t>(size) * 4)
                                      : alloc_filled(bucket_bytes(bucket_count), 0);
    int32_t keys = 0;
    node_t chains = 0;
    int32_t stamp = 0;
    if (type == KIND_HASH) {
        keys = static_cast<int32_t>(alloc_filled(static_cast<uint32_t>(size) * 4, 0xFF));
        chains = memory::alloc_bytes(16);
    } else if (type == KIND_MAP) {
        keys = static_cast<int32_t>(alloc_filled(map_slot_bytes(bucket_count), SLOT_FILL));
    } else if (type >= KIND_KEYED) {
        keys = cells * 16 + 16;
        stamp = cycle_stamp();
    }
    node_t data = block;
    if (type >= KIND_KEYED)
        data = memory::alloc_bytes(static_cast<uint32_t>(size * keys));
    else if (!block)
        data = memory::alloc_cells(static_cast<uint32_t>(size));

    *record_of(table) = Record{0,     keys,         chains,
                               flags, buckets,      data,
                               0,     bucket_count, static_cast<int32_t>(bucket_count * 0.77),
                               type,  stamp};
    if (block && type < KIND_KEYED) put_all(table, 0, type == KIND_MAP ? 2 : 1);
    return table;
}

node_t copy_record(node_t source) {
    collector::Hold hold;
    Record* r = record_of(source);
    node_t table = memory::copy_series(buffer_of(source));
    node_t data = memory::copy_series(buffer_of(r->data));
    node_t flags = memory::copy_series(buffer_of(r->flags));
    node_t buckets = memory::copy_series(buffer_of(r->buckets));
    Record* c = record_of(table);
    c->data = data;
    c->flags = flags;
    c->buckets = buckets;
    return table;
}

node_t copy(node_t table, node_t data) {
    collector::Hold hold;
    Record* r = record_of(table);
    node_t fresh = memory::copy_series(buffer_of(table));
    node_t flags = memory::copy_series(buffer_of(r->flags));
    node_t buckets = memory::copy_series(buffer_of(r->buckets));
    node_t keys = 0;
    node_t chains = 0;
    if (r->type == KIND_HASH || map_q(r))
        keys = memory::copy_series(buffer_of(static_cast<node_t>(r->keys)));
    if (r->type == KIND_HASH) {
        chains = memory::copy_series(buffer_of(r->chains));
        // Each chain gets its own list, so that changing one table's chains
        // never changes the other's.
        uint32_t n = word_count(chains);
        for (uint32_t i = 0; i < n; i++) {
            node_t chain = words_of(chains)[i];
            if (chain) words_of(chains)[i] = memory::copy_series(buffer_of(chain));
        }
    }
    Record* c = record_of(fresh);
    c->flags = flags;
    c->buckets = buckets;
    c->data = data;
    if (keys) c->keys = static_cast<int32_t>(keys);
    if (c->type == KIND_HASH) c->chains = chains;
    return fresh;
}

namespace {

// The stamp check: true when the table had to be re-hashed.
bool restamp(node_t table) {
    Record* r = record_of(table);
    if (!r->stamp || r->stamp == cycle_stamp() || collector::in_collection) return false;
    if (r->type >= KIND_KEYED) {
        reindex_keyed(table);
        return true;
    }
    int32_t cells = data_cells(r);
    rehash(table, r->type == KIND_MAP ? cells / 2 : cells);
    return true;
}

} // namespace

Cell* put_at(node_t table, int32_t pos, bool* rebuilt) {
    collector::Hold hold;
    if (restamp(table) && rebuilt) *rebuilt = true;
    Record* r = record_of(table);
    assert(r->type < KIND_KEYED);
    if (r->type == KIND_HASH) {
        // A rebuild by the stamp check has indexed every cell already.
        if (key_of(r, pos) >= 0) return cell_at(r, pos);
        return put_hash(table, pos, rebuilt);
    }
    return put_unique(table, pos);
}

Cell* put(node_t table, Cell* value) {
    int32_t pos = static_cast<int32_t>(value - buffer_of(record_of(table)->data)->cells());
    return put_at(table, pos);
}

void put_all(node_t table, int32_t first, int32_t step) {
    collector::Hold hold;
    Record* r = record_of(table);
    if (r->type == KIND_MAP) {
        int32_t pos = first;
        while (pos < data_cells(record_of(table))) {
            Cell* key = put_at(table, pos);
            r = record_of(table);
            Cell* here = cell_at(r, pos);
            if (key == here) {
                pos += 2;
                continue;
            }
            // An equal key is indexed already: it takes this pair's value
            // and the pair leaves the block.
            SeriesBuffer* b = buffer_of(r->data);
            int32_t length = data_cells(r);
            if (pos + 1 < length) key[1] = here[1];
            int32_t gone = std::min(2, length - pos);
            std::memmove(here, here + gone,
                         static_cast<size_t>(length - pos - gone) * sizeof(Cell));
            b->tail -= static_cast<uint32_t>(gone) * sizeof(Cell);
        }
        return;
    }
    for (int32_t pos = first; pos < data_cells(record_of(table)); pos += step) {
        bool rebuilt = false;
        put_at(table, pos, &rebuilt);
        if (rebuilt) return;
    }
}

// hash!: every position whose cell equals the key under operator 0 at the
// bucket and under op itself is a candidate; the result is the smallest
// candidate from start on a multiple of skip, or with reverse the largest
// below start on a multiple of skip counted back from start - 1, or with
// last the largest from start on a multiple of skip. map!: the first key
// of the same type equal under op whose entry is live, else the first one
// whose entry was removed; word kinds are looked up as set-word!.
// The comparison action may allocate: collections are held off so that the
// record and the cell pointers stay valid while it runs.
Cell* find(node_t table, const Cell* key, int32_t start, int32_t skip, int32_t op, bool last,
           bool reverse) {
    collector::Hold hold;
    check_stamp(table);
    Record* r = record_of(table);
    if (r->type == KIND_MAP) return find_map(table, key, map_hash(key), op);
    if (skip == 0) skip = 1;
    int32_t span = skip < 0 ? -skip : skip;
    auto divisible = [span](int32_t n) {
        int32_t m = n % span;
        if (m < 0) m += span;
        return m == 0;
    };
    int32_t best = -1;
    for (Probe p(r, hash_value(key, false)); p.more(); p.next()) {
        uint32_t s = state_at(words_of(r->flags), p.i);
        if (s == BUCKET_EMPTY) break;
        if (s != BUCKET_LIVE) continue;
        int32_t entry = ints_of(r->buckets)[p.i];
        if (!equal(r, cell_at(r, first_position(r, entry)), key, COMP_EQUAL)) continue;
        each_position(r, entry, [&](int32_t pos) {
            if (!equal(r, cell_at(r, pos), key, op)) return;
            if (reverse) {
                if (pos < start && divisible(start - pos - 1) && pos > best) best = pos;
            } else if (last) {
                if (pos >= start && divisible(pos - start) && pos > best) best = pos;
            } else if (pos >= start && divisible(pos - start) && (best < 0 || pos < best)) {
                best = pos;
            }
        });
    }
    return best < 0 ? nullptr : cell_at(r, best);
}

uint32_t map_hash(const Cell* key) {
    // Text keys, the common case, go to the string hash at once. Word kinds
    // are indexed as set-word!, but a word's hash is its canonical symbol's
    // whatever the kind: no conversion is needed.
    if (is_any_string(type_of(key))) return hash_string(key, false);
    return hash_value(key, false);
}

namespace {

inline uint32_t unit_at(const uint8_t* p, uint32_t unit, uint32_t i) {
    if (unit == 1) return p[i];
    if (unit == 2) {
        uint16_t v;
        std::memcpy(&v, p + size_t{i} * 2, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p + size_t{i} * 4, 4);
    return v;
}

// The characters of a string-like value from its index.
struct Text {
    const uint8_t* p;
    uint32_t n;    // characters
    uint32_t unit; // bytes a character
};

inline Text text_of(const Cell* c) {
    SeriesBuffer* b = buffer_of(c);
    uint32_t unit = b->unit();
    uint32_t total = b->used_bytes() >> (unit >> 1); // units of 1, 2 or 4 bytes
    uint32_t index = std::min(c->data1, total);
    return Text{b->head_ptr() + size_t{index} * unit, total - index, unit};
}

// Equal byte runs, for the short keys most lookups compare: two
// overlapping word loads instead of a call.
inline bool same_bytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
    if (n >= 8 && n <= 16) {
        uint64_t a0, b0, a1, b1;
        std::memcpy(&a0, a, 8);
        std::memcpy(&b0, b, 8);
        std::memcpy(&a1, a + n - 8, 8);
        std::memcpy(&b1, b + n - 8, 8);
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }
    if (n >= 4 && n < 8) {
        uint32_t a0, b0, a1, b1;
        std::memcpy(&a0, a, 4);
        std::memcpy(&b0, b, 4);
        std::memcpy(&a1, a + n - 4, 4);
        std::memcpy(&b1, b + n - 4, 4);
        return ((a0 ^ b0) | (a1 ^ b1)) == 0;
    }
    if (n < 4) {
        for (uint32_t i = 0; i < n; i++) {
            if (a[i] != b[i]) return false;
        }
        return true;
    }
    return std::memcmp(a, b, n) == 0;
}

// Two texts under equal or strict-equal, by the string compare action's
// rule (the same length, each code point equal, folded to upper case
// unless strict). Equal bytes of one width settle it at once: a lookup
// nearly always meets the very spelling it was stored with.
bool texts_equal(const Text& a, const Text& b, bool strict) {
    if (a.n != b.n) return false;
    if (a.unit == b.unit) {
        if (same_bytes(a.p, b.p, a.n * a.unit)) return true;
        if (strict) return false;
    }
    if (a.unit == 1 && b.unit == 1) {
        for (uint32_t i = 0; i < a.n; i++) {
            if (a.p[i] != b.p[i] && unicode::to_upper(a.p[i]) != unicode::to_upper(b.p[i]))
                return false;
        }
        return true;
    }
    for (uint32_t i = 0; i < a.n; i++) {
        uint32_t ca = unit_at(a.p, a.unit, i), cb = unit_at(b.p, b.unit, i);
        if (ca != cb && (strict || unicode::to_upper(ca) != unicode::to_upper(cb))) return false;
    }
    return true;
}

// find_map for a string-like key under equal or strict-equal: the key's
// text is read once, and a stored key is compared only when its slot's hash
// bits agree and its type is the key's. Nothing here allocates.
Cell* find_text_key(const Record* r, const Cell* key, uint32_t hash, bool strict,
                    int64_t* empty_out) {
    const uint32_t* slots = map_slots(r);
    uint32_t mask = slot_mask(r);
    uint32_t high = hash & ~mask;
    uint32_t type = type_of(key);
    Text text = text_of(key);
    Cell* cells = buffer_of(r->data)->cells();
    int32_t count = data_cells(r);
    // Two spellings of a key can both match a loose lookup; a removed entry
    // met first must not hide a live one further on.
    Cell* removed = nullptr;
    uint32_t i = hash & mask;
    for (uint32_t step = 1;; i = (i + step++) & mask) {
        uint32_t slot = slots[i];
        if (slot == SLOT_EMPTY) break;
        if ((slot & ~mask) != high) continue;
        int32_t entry = slot_entry(slot, mask);
        Cell* c = cells + entry;
        if (type_of(c) != type || !texts_equal(text_of(c), text, strict)) continue;
        if (entry + 1 < count && c[1].header != 0) return c;
        if (!removed) removed = c;
    }
    if (removed) return removed;
    if (empty_out) *empty_out = i;
    return nullptr;
}

} // namespace

Cell* find_map(node_t table, const Cell* key, uint32_t hash, int32_t op, int64_t* empty_out) {
    if (empty_out) *empty_out = -1;
    Record* r = record_of(table);
    assert(r->type == KIND_MAP);
    uint32_t t = type_of(key);
    if (is_any_string(t) && (op == COMP_EQUAL || op == COMP_STRICT_EQUAL))
        return find_text_key(r, key, hash, op == COMP_STRICT_EQUAL, empty_out);
    collector::Hold hold;
    Cell k = *key;
    if (t >= TYPE_WORD && t <= TYPE_GET_WORD) set_type(&k, TYPE_SET_WORD);
    int32_t removed = -1;
    uint32_t empty = 0;
    int64_t found = probe_map(
        r, hash,
        [&](int32_t entry) {
            const Cell* c = cell_at(r, entry);
            if (type_of(c) != type_of(&k)) return false;
            if (!equal(r, c, &k, op)) return false;
            if (entry + 1 < data_cells(r) && c[1].header != 0) return true;
            if (removed < 0) removed = entry;
            return false;
        },
        &empty);
    if (found >= 0) return cell_at(r, entry_at(r, static_cast<uint32_t>(found)));
    if (removed >= 0) return cell_at(r, removed);
    if (empty_out) *empty_out = empty;
    return nullptr;
}

Cell* put_map(node_t table, int32_t pos, uint32_t hash, int64_t empty) {
    collector::Hold hold;
    return put_map_hashed(table, pos, hash, empty);
}

Cell* find_next(node_t table, const Cell* key, Cursor* cursor) {
    if (cursor->bucket == CURSOR_DONE) return nullptr;
    collector::Hold hold;
    check_stamp(table);
    Record* r = record_of(table);
    if (cursor->chain > 0) {
        node_t chain = chain_node(r, -ints_of(r->buckets)[cursor->bucket]);
        if (static_cast<uint32_t>(cursor->chain) < word_count(chain))
            return cell_at(r, ints_of(chain)[cursor->chain++]);
    }
    uint32_t hash = hash_value(key, false);
    Probe p(r, hash);
    if (cursor->bucket >= 0) {
        // Resume the probe just after the bucket visited last.
        p.i = static_cast<uint32_t>(cursor->bucket);
        p.step = static_cast<uint32_t>(cursor->step);
        p.left = static_cast<uint32_t>(r->bucket_count) - p.step + 1;
        p.next();
    }
    for (; p.more(); p.next()) {
        if (map_q(r)) {
            uint32_t slot = map_slots(r)[p.i];
            if (slot == SLOT_EMPTY) break;
            if ((slot & ~slot_mask(r)) != (hash & ~slot_mask(r))) continue;
        } else {
            uint32_t s = state_at(words_of(r->flags), p.i);
            if (s == BUCKET_EMPTY) break;
            if (s != BUCKET_LIVE) continue;
        }
        int32_t entry = entry_at(r, p.i);
        Cell* first = cell_at(r, first_position(r, entry));
        if (r->type == KIND_MAP && type_of(first) != type_of(key)) continue;
        if (!equal(r, first, key, COMP_EQUAL)) continue;
        cursor->bucket = static_cast<int32_t>(p.i);
        cursor->step = static_cast<int32_t>(p.step);
        cursor->chain = r->type == KIND_HASH && entry < 0 ? 1 : 0;
        return first;
    }
    cursor->bucket = CURSOR_DONE;
    return nullptr;
}

void delete_at(node_t table, int32_t pos) {
    Record* r = record_of(table);
    if (r->type == KIND_MAP) {
        if (pos + 1 >= data_cells(r) || cell_at(r, pos + 1)->header == 0) return;
        cell_at(r, pos + 1)->header = 0;
        r->count--;
        return;
    }
    if (r->type != KIND_HASH) return;
    int32_t bucket = key_of(r, pos);
    if (bucket < 0) return;
    ints_of(static_cast<node_t>(r->keys))[pos] = -1;
    int32_t entry = ints_of(r->buckets)[bucket];
    if (entry >= 0) {
        release_bucket(r, static_cast<uint32_t>(bucket));
        return;
    }
    node_t chain = chain_node(r, -entry);
    int32_t* p = ints_of(chain);
    uint32_t n = word_count(chain);
    uint32_t kept = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (p[i] != pos) p[kept++] = p[i];
    }
    buffer_of(chain)->tail -= (n - kept) * 4;
    if (kept == 0) {
        words_of(r->chains)[-entry - 1] = 0;
        release_bucket(r, static_cast<uint32_t>(bucket));
    }
}

node_t delete_(node_t table, Cell* value) {
    int32_t pos = static_cast<int32_t>(value - buffer_of(record_of(table)->data)->cells());
    delete_at(table, pos);
    return table;
}

void clear(node_t table, int32_t pos, int32_t n) {
    Record* r = record_of(table);
    if (pos <= 0 && n >= data_cells(r)) {
        r->count = 0;
        r->occupied = 0;
        r->stamp = r->type >= KIND_KEYED ? cycle_stamp() : 0;
        SeriesBuffer* f = buffer_of(r->flags);
        memory::fill(f->head_ptr(), f->tail_ptr(), 0xAA);
        if (r->type == KIND_HASH || map_q(r)) {
            SeriesBuffer* k = buffer_of(static_cast<node_t>(r->keys));
            memory::fill(k->head_ptr(), k->tail_ptr(), r->type == KIND_HASH ? 0xFF : SLOT_FILL);
        }
        if (r->type == KIND_HASH) buffer_of(r->chains)->tail = buffer_of(r->chains)->head;
        if (map_q(r)) buffer_of(r->buckets)->tail = buffer_of(r->buckets)->head;
        return;
    }
    int32_t step = r->type == KIND_MAP ? 2 : 1;
    for (int32_t q = pos; q < pos + n; q += step) delete_at(table, q);
}

int32_t refresh(node_t table, int32_t d, int32_t p, int32_t k, bool shift_keys) {
    if (k > 30000) return 1;
    collector::Hold hold;
    if (record_of(table)->type != KIND_HASH) return 0;
    if (shift_keys && d < 0) {
        for (int32_t q = p + d; q < p; q++) delete_at(table, q);
    }
    Record* r = record_of(table);
    std::unordered_set<int32_t> done;
    for (int32_t q = p; q < p + k; q++) {
        int32_t bucket = key_of(r, q);
        if (bucket < 0) continue;
        int32_t& entry = ints_of(r->buckets)[bucket];
        if (entry >= 0) {
            entry += d;
            continue;
        }
        if (!done.insert(-entry).second) continue;
        node_t chain = chain_node(r, -entry);
        int32_t* positions = ints_of(chain);
        uint32_t n = word_count(chain);
        for (uint32_t i = 0; i < n; i++) {
            if (positions[i] >= p) positions[i] += d;
        }
    }
    if (!shift_keys) return 0;
    if (d > 0) ensure_keys(table, std::max<int32_t>(p + k + d, 0));
    r = record_of(table);
    int32_t* keys = ints_of(static_cast<node_t>(r->keys));
    int32_t entries = static_cast<int32_t>(word_count(static_cast<node_t>(r->keys)));
    int32_t moved = std::max(0, std::min(k, entries - p));
    if (moved > 0) std::memmove(keys + p + d, keys + p, static_cast<size_t>(moved) * 4);
    if (d > 0) {
        std::fill(keys + p, keys + p + d, -1);
    } else if (d < 0) {
        int32_t from = std::max(p + d + moved, 0);
        std::fill(keys + from, keys + std::min(p + moved, entries), -1);
    }
    return 0;
}

void refresh_move(node_t table, int32_t dest, int32_t pos, int32_t count) {
    if (dest == pos || count <= 0) return;
    collector::Hold hold;
    Record* r = record_of(table);
    if (r->type != KIND_HASH) return;
    int32_t lo = std::min(pos, dest);
    int32_t hi = std::max(pos, dest) + count;
    auto moved_to = [&](int32_t q) {
        if (q < lo || q >= hi) return q;
        if (q >= pos && q < pos + count) return dest + (q - pos);
        return dest > pos ? q - count : q + count;
    };
    ensure_keys(table, hi);
    r = record_of(table);
    int32_t* keys = ints_of(static_cast<node_t>(r->keys));
    std::vector<int32_t> old(keys + lo, keys + hi);
    std::unordered_set<int32_t> done;
    for (int32_t q = lo; q < hi; q++) {
        int32_t bucket = old[q - lo] - 1;
        if (bucket < 0) continue;
        int32_t& entry = ints_of(r->buckets)[bucket];
        if (entry >= 0) {
            entry = moved_to(entry);
            continue;
        }
        if (!done.insert(-entry).second) continue;
        node_t chain = chain_node(r, -entry);
        int32_t* positions = ints_of(chain);
        uint32_t n = word_count(chain);
        for (uint32_t i = 0; i < n; i++) positions[i] = moved_to(positions[i]);
    }
    for (int32_t q = lo; q < hi; q++) keys[moved_to(q)] = old[q - lo];
}

void rehash(node_t table, int32_t size) {
    collector::Hold hold;
    int32_t bucket_count = pow2_at_least(static_cast<int64_t>(size * 1.5));
    bool map = map_q(record_of(table));
    node_t flags = alloc_filled(map ? 4 : flag_bytes(bucket_count), 0xAA);
    node_t buckets = map ? memory::alloc_bytes(static_cast<uint32_t>(size) * 4)
                         : alloc_filled(bucket_bytes(bucket_count), 0);
    node_t slots = map ? alloc_filled(map_slot_bytes(bucket_count), SLOT_FILL) : 0;
    Record* r = record_of(table);
    if (map) r->keys = static_cast<int32_t>(slots);
    r->flags = flags;
    r->buckets = buckets;
    r->bucket_count = bucket_count;
    r->upper = static_cast<int32_t>(bucket_count * 0.77);
    r->count = 0;
    r->occupied = 0;
    r->stamp = 0;
    if (r->type == KIND_HASH) {
        SeriesBuffer* k = buffer_of(static_cast<node_t>(r->keys));
        memory::fill(k->head_ptr(), k->tail_ptr(), 0xFF);
        buffer_of(r->chains)->tail = buffer_of(r->chains)->head;
    }
    put_all(table, 0, map ? 2 : 1);
}

void resize(node_t table, int32_t size) {
    collector::Hold hold;
    Record* r = record_of(table);
    int32_t bucket_count = pow2_at_least(size);
    int32_t upper = static_cast<int32_t>(bucket_count * 0.77 + 0.5);
    if (map_q(r)) {
        if (r->occupied < upper) reinsert_map(table, bucket_count, upper);
        return;
    }
    if (r->count >= upper) return;
    std::vector<int32_t> entries = live_entries(r);
    // Word entries go back in the order they were added, so the first
    // spelling of a word stays ahead of its variants on every probe path.
    if (r->type == KIND_WORDS) std::sort(entries.begin(), entries.end());
    reinsert(table, bucket_count, upper, entries);
}

void check_stamp(node_t table) { restamp(table); }

// ---------------------------------------------------------------------------
// Keyed tables
// ---------------------------------------------------------------------------

Cell* put_key(node_t table, uint32_t key) {
    collector::Hold hold;
    check_stamp(table);
    Record* r = record_of(table);
    if (r->occupied >= r->upper) {
        rebuild_keyed(table, grow_request(r));
        r = record_of(table);
    }
    int64_t free_bucket = -1;
    bool was_empty = false;
    for (Probe p(r, mix32(key)); p.more(); p.next()) {
        uint32_t s = state_at(words_of(r->flags), p.i);
        if (s == BUCKET_EMPTY) {
            if (free_bucket < 0) {
                free_bucket = p.i;
                was_empty = true;
            }
            break;
        }
        if (s == BUCKET_DELETED) {
            if (free_bucket < 0) free_bucket = p.i;
            continue;
        }
        KeyedRecord* rec = record_at(r, ints_of(r->buckets)[p.i]);
        if (rec->key == key) return rec->cells();
    }
    assert(free_bucket >= 0);
    int32_t offset;
    if (was_empty) {
        uint32_t size = static_cast<uint32_t>(r->keys);
        memory::alloc_tail_bytes(r->data, size);
        r = record_of(table);
        offset = static_cast<int32_t>(buffer_of(r->data)->used_bytes() - size);
    } else {
        offset = ints_of(r->buckets)[free_bucket];
    }
    take_bucket(r, static_cast<uint32_t>(free_bucket), was_empty, offset);
    KeyedRecord* rec = record_at(r, offset);
    *rec = KeyedRecord{RECORD_USED, key, {0, 0}};
    int32_t cells = (r->keys - 16) / 16;
    for (int32_t i = 0; i < cells; i++) make_unset(rec->cells() + i);
    return rec->cells();
}

Cell* get_key(node_t table, uint32_t key) {
    check_stamp(table);
    Record* r = record_of(table);
    int64_t bucket = find_key_bucket(r, key);
    return bucket < 0 ? nullptr : record_at(r, ints_of(r->buckets)[bucket])->cells();
}

void delete_key(node_t table, uint32_t key) {
    check_stamp(table);
    Record* r = record_of(table);
    int64_t bucket = find_key_bucket(r, key);
    if (bucket < 0) return;
    record_at(r, ints_of(r->buckets)[bucket])->header = 0;
    release_bucket(r, static_cast<uint32_t>(bucket));
}

void clear_flags(node_t table) {
    Record* r = record_of(table);
    r->count = 0;
    r->occupied = 0;
    SeriesBuffer* d = buffer_of(r->data);
    d->tail = d->head;
    SeriesBuffer* f = buffer_of(r->flags);
    memory::fill(f->head_ptr(), f->tail_ptr(), 0xAA);
}

void rebuild_keyed(node_t table, int32_t size) {
    collector::Hold hold;
    Record* r = record_of(table);
    int32_t bucket_count = pow2_at_least(size);
    uint32_t record_size = static_cast<uint32_t>(r->keys);
    uint32_t used = static_cast<uint32_t>(r->count) * record_size;
    node_t data = memory::alloc_bytes(std::max(used, record_size));
    r = record_of(table);
    std::vector<int32_t> entries;
    SeriesBuffer* fresh = buffer_of(data);
    each_record(r, [&](KeyedRecord* rec, int32_t) {
        int32_t offset = static_cast<int32_t>(fresh->used_bytes());
        std::memcpy(fresh->tail_ptr(), rec, record_size);
        fresh->tail += record_size;
        entries.push_back(offset);
    });
    r->data = data;
    r->count = static_cast<int32_t>(entries.size());
    reinsert(table, bucket_count, static_cast<int32_t>(bucket_count * 0.77 + 0.5), entries);
    record_of(table)->stamp = cycle_stamp();
}

void reindex_keyed(node_t table) {
    collector::Hold hold;
    Record* r = record_of(table);
    std::vector<int32_t> entries;
    each_record(r, [&](KeyedRecord*, int32_t offset) { entries.push_back(offset); });
    r->count = static_cast<int32_t>(entries.size());
    reinsert(table, r->bucket_count, r->upper, entries);
    record_of(table)->stamp = cycle_stamp();
}

// ---------------------------------------------------------------------------
// Collector hooks
// ---------------------------------------------------------------------------

void gc_mark(node_t* table) {
    if (!*table || !collector::mark_node(table)) return;
    Record* r = record_of(*table);
    collector::mark_node(&r->flags);
    collector::mark_node(&r->buckets);
    if (r->type == KIND_HASH || map_q(r)) {
        auto keys = static_cast<node_t>(r->keys);
        collector::mark_node(&keys);
        r->keys = static_cast<int32_t>(keys);
    }
    if (r->type == KIND_HASH && r->chains && collector::mark_node(&r->chains)) {
        uint32_t n = word_count(r->chains);
        for (uint32_t i = 0; i < n; i++) {
            node_t* chain = &words_of(r->chains)[i];
            if (*chain) collector::mark_node(chain);
        }
    }
    if (r->type < KIND_KEYED) {
        collector::mark_block(&r->data);
        return;
    }
    collector::mark_node(&r->data);
    if (r->type != KIND_KEYED) return;
    int32_t cells = (r->keys - 16) / 16;
    each_record(r, [&](KeyedRecord* rec, int32_t) {
        collector::mark_series_node(&rec->key);
        collector::mark_values(rec->cells(), rec->cells() + cells);
    });
}

void sweep_weak(node_t table) {
    if (!table) return;
    Record* r = record_of(table);
    if (r->type < KIND_KEYED) return;
    int32_t cells = (r->keys - 16) / 16;
    each_record(r, [&](KeyedRecord* rec, int32_t) {
        bool alive = marked(rec->key);
        if (alive && r->type == KIND_WEAK) {
            alive = cells < 2 || marked(rec->cells()[1].data1);
            for (int32_t i = 0; alive && i < cells; i++)
                alive = relocate_weak_cell(rec->cells() + i);
        }
        if (alive) {
            relocate(&rec->key);
            return;
        }
        int64_t bucket = find_key_bucket(r, rec->key);
        if (bucket >= 0) release_bucket(r, static_cast<uint32_t>(bucket));
        rec->key = 0;
        rec->header = 0;
    });
}

void dump(node_t table) {
    Record* r = record_of(table);
    for (uint32_t wanted : {uint32_t{BUCKET_LIVE}, uint32_t{BUCKET_DELETED}}) {
        console::write_cstring(wanted == BUCKET_LIVE ? "== Alive keys ==\n"
                                                     : "== Deleted keys ==\n");
        for (int32_t i = 0; i < r->bucket_count; i++) {
            if (bucket_state(table, static_cast<uint32_t>(i)) != wanted) continue;
            console::print_int(i);
            console::write_cstring(": ");
            console::print_int(entry_at(r, static_cast<uint32_t>(i)));
            console::write_cstring("\n");
        }
    }
}

} // namespace mox::hashtable

// One open-addressing hash-table engine indexes every associative structure
// of the runtime: the values of a hash!, the keys of a map!, the symbol
// table, every context's word table, and tables of fixed-size records keyed
// by a 32-bit key. The table never owns the indexed values: it maps hashes to
// positions in a separate data series. Everything is index-based, so the
// collector can move the buffers; only tables hashed by node need the stamp.
//
// A table is a node whose buffer holds a Record. Its series:
//
//   flags    two bits per bucket, sixteen buckets per 32-bit word: 2 empty,
//            1 deleted, 0 live (a fresh flags series is all 0xAA bytes);
//            map!: a single unused word
//   buckets  one 32-bit entry per bucket. hash!, word tables: the position
//            (in cells from the data series' head) of the indexed cell;
//            for hash! a negative entry -k names chain k, a list of
//            positions that all hold equal values. Keyed tables: the byte
//            offset of the record in the data series. map!: instead the
//            full hash of each key/value pair's key, in pair order
//   keys     hash!: one entry per data cell, its bucket + 1 (0xFFFFFFFF
//            when the cell is not indexed); map!: one word per bucket,
//            0xFFFFFFFF when empty, else the pair number (key position / 2)
//            in the bits below the bucket count and the key's hash bits
//            above them
//   chains   hash! only: entry k - 1 is the node of chain k (0 once emptied)
//   data     the indexed block, or for keyed tables the record series: each
//            record is a header word (2 used, 0 freed), the key, two unused
//            words, then its value cells
//
// Probing is quadratic by step count from hash AND (bucket count - 1) and
// ends at an empty bucket. Every operation that rebuilds, resizes or copies
// a table runs with collections held off.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cell.h"
#include "core/memory.h"

namespace mox::hashtable {

// Table kinds. Keyed tables (KIND_KEYED and above) hold records keyed by a
// node: KIND_KEYED marks each key node and the records' cells; the records
// of KIND_WEAK are weak (see sweep_weak). The ownership table is KIND_WEAK.
enum Kind : int32_t { KIND_HASH = 0, KIND_MAP = 1, KIND_WORDS = 2, KIND_KEYED = 3, KIND_WEAK = 4 };

// The table record, the data of the table's node (eleven 32-bit fields).
struct Record {
    int32_t count;        // live keys
    int32_t keys;         // hash!: position-to-bucket series node; map!: node of the
                          // bucket slots; keyed: record size
    node_t chains;        // hash!: node of the chain list series
    node_t flags;         // bucket states, two bits per bucket
    node_t buckets;       // one 32-bit entry per bucket (map!: per pair, its hash)
    node_t data;          // the indexed data series
    int32_t occupied;     // buckets live or deleted
    int32_t bucket_count; // a power of two, at least 4
    int32_t upper;        // grow when occupied reaches it
    int32_t type;         // Kind
    int32_t stamp;        // 0, or cycle count + 1 when last hashed by node
};
static_assert(sizeof(Record) == 44);

// Bucket states.
enum BucketState : uint32_t { BUCKET_LIVE = 0, BUCKET_DELETED = 1, BUCKET_EMPTY = 2 };

// Valid until the next allocation.
inline Record* record_of(node_t table) {
    return reinterpret_cast<Record*>(memory::buffer_of(table)->head_ptr());
}
uint32_t bucket_state(node_t table, uint32_t bucket);

// Direct access for the modules that probe word tables themselves (the
// symbol table and contexts); valid until the next allocation.
inline uint32_t* flags_of(const Record* r) {
    return reinterpret_cast<uint32_t*>(memory::buffer_of(r->flags)->head_ptr());
}
inline int32_t* buckets_of(const Record* r) {
    return reinterpret_cast<int32_t*>(memory::buffer_of(r->buckets)->head_ptr());
}
inline uint32_t state_at(const uint32_t* flags, uint32_t i) {
    return (flags[i >> 4] >> ((i & 15) * 2)) & 3;
}
inline void set_state_at(uint32_t* flags, uint32_t i, uint32_t state) {
    uint32_t shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (state << shift);
}
// The growth request of the symbol table and context word tables when they
// are full: a bucket count 16 or 32 times larger.
inline int32_t words_grow_request(const Record* r) {
    return (r->bucket_count > 2 * r->count ? r->bucket_count - 1 : r->bucket_count + 1) * 16;
}

// ---------------------------------------------------------------------------
// Hashing
// ---------------------------------------------------------------------------

// MurmurHash3 x86 32-bit with the runtime's fixed seed, and with any seed.
uint32_t murmur3(const void* data, size_t length);
uint32_t murmur3_seeded(const void* data, size_t length, uint32_t seed);
// The MurmurHash3 finaliser alone.
uint32_t mix32(uint32_t h);
// The characters of a string-like value from its index, each code point a
// 32-bit block, upper-cased unless case_ is set.
uint32_t hash_string(const Cell* str, bool case_);
// The UTF-8 name with only A-Z lowered, so spellings that differ in ASCII
// case hash alike.
uint32_t hash_name(const char* utf8, size_t length);
// Byte-wise equality with only A-Z folded: the case rule of hash_name.
bool ascii_equal_nocase(const char* a, const char* b, size_t n);
uint32_t hash_symbol(const Cell* symbol);
uint32_t hash_value(const Cell* value, bool case_);
// Types whose hash depends on a node (they need the stamp in a hash!).
bool hashed_by_node_q(uint32_t type);

// ---------------------------------------------------------------------------
// Tables (all may collect unless said otherwise)
// ---------------------------------------------------------------------------

// A new table for size entries. For hash! and map! a block node indexes
// that block from its head (step 1, or 2 for map!); without one, a new
// block of size cells becomes the data. cells is the number of value cells
// per record of a keyed table.
node_t init(int32_t size, node_t block, int32_t type, int32_t cells = 0);
// A copy of a word table with its data, buckets and flags.
node_t copy_record(node_t source);
// A copy for a copied hash! or map! over a new data node: record, flags,
// buckets, and for hash! the keys, the chain list and every chain.
node_t copy(node_t table, node_t data);

// Indexes the cell at position pos of the data series. For hash! a table
// that had to be rebuilt instead sets *rebuilt (the rebuild indexed every
// cell, this one included). Returns the indexed cell, or for map! and word
// tables the cell already holding an equal key.
Cell* put_at(node_t table, int32_t pos, bool* rebuilt = nullptr);
// The same for a cell of the data series.
Cell* put(node_t table, Cell* value);
// Indexes the data cells from a position: for hash! every cell, stopping
// once a put rebuilt the table; for map! every key (step 2), an equal key
// already indexed taking this pair's value and the pair being removed.
void put_all(node_t table, int32_t first, int32_t step);

// The hash! and map! lookup: see hashtable.cpp. Null when nothing matches.
Cell* find(node_t table, const Cell* key, int32_t start, int32_t skip, int32_t op, bool last,
           bool reverse);

// map!: the hash a key is indexed under (word kinds as set-word!); the
// lookup with that hash given (find's map! rule); the insertion of the new
// key at pos with its hash given (put_at's rule). Computing the hash once
// serves a lookup that misses and the insertion after it. A lookup that
// misses sets *empty to the empty bucket that ended its probe (-1 when it
// found something); put_map takes it as where the key goes when the table
// was not grown in between, sparing the second probe. Only a miss under
// equal or strict-equal may pass it on: those find every key put_map's
// strict match would.
uint32_t map_hash(const Cell* key);
Cell* find_map(node_t table, const Cell* key, uint32_t hash, int32_t op, int64_t* empty = nullptr);
Cell* put_map(node_t table, int32_t pos, uint32_t hash, int64_t empty = -1);

// Iterates over every cell equal to a key (comparison operator 0).
constexpr int32_t CURSOR_DONE = -2;
struct Cursor {
    int32_t bucket = -1; // the bucket visited last: -1 before the first call,
                         // CURSOR_DONE after the last
    int32_t step = 0;    // the probe step that reached it
    int32_t chain = 0;   // hash!: the next chain entry to visit
};
Cell* find_next(node_t table, const Cell* key, Cursor* cursor);

// Removes an indexed cell (for map! its value cell gets header 0).
node_t delete_(node_t table, Cell* value);
void delete_at(node_t table, int32_t pos);
// Forgets n cells from a position; the whole block resets the table.
void clear(node_t table, int32_t pos, int32_t n);

// Keeps a hash! index valid after d cells were inserted (d > 0) at
// position p, or removed (d < 0) just before position p; p is the first
// moved position and k the number of moved cells, counted before the
// change. With shift_keys the keys series follows (the buckets of removed
// cells being released first). Returns 1 when k is too large: the caller
// rebuilds the table instead.
int32_t refresh(node_t table, int32_t d, int32_t p, int32_t k, bool shift_keys);
// Keeps a hash! index valid after the count cells at pos moved so that
// they start at dest (positions after the move).
void refresh_move(node_t table, int32_t dest, int32_t pos, int32_t count);

// Full rebuild for a requested size (hash! and map!).
void rehash(node_t table, int32_t size);
// In-place resize to a bucket count of at least size.
void resize(node_t table, int32_t size);
// Re-hashes a table hashed by node when a collection ran since.
void check_stamp(node_t table);

// Keyed tables. The returned cells lie in the record series: valid until
// the next allocation.
Cell* put_key(node_t table, uint32_t key);
Cell* get_key(node_t table, uint32_t key);
void delete_key(node_t table, uint32_t key);
void clear_flags(node_t table);
// Moves the used records to a new record series indexed for a bucket count
// of at least size.
void rebuild_keyed(node_t table, int32_t size);
void reindex_keyed(node_t table);

// ---------------------------------------------------------------------------
// Collector hooks and debugging
// ---------------------------------------------------------------------------

// Marks the table's series (a KIND_KEYED table also its key nodes and
// record cells; a KIND_WEAK table only its own series).
void gc_mark(node_t* table);
// After marking: drops each record of a keyed table whose key node is
// unmarked and, in a KIND_WEAK table, each one whose owner (the second
// value cell's context) or any other node it refers to is unmarked; the
// records kept get their references relocated.
void sweep_weak(node_t table);
// Prints the live and the deleted buckets.
void dump(node_t table);

} // namespace mox::hashtable

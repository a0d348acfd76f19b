// The symbol table (see symbol.h): interning, canonical spellings, the
// cached string! names and the symbol! datatype.
#include "core/symbol.h"

#include <cassert>
#include <cstring>
#include <vector>

#include "core/collector.h"
#include "core/datatype.h"
#include "core/hashtable.h"
#include "core/memory.h"
#include "core/root.h"
#include "core/unicode.h"

namespace mox::symbol {

node_t block = 0;
node_t table = 0;

namespace {

constexpr int32_t TABLE_SIZE = 4000;

void mark() {
    collector::mark_block(&block);
    hashtable::gc_mark(&table);
}

inline Cell* entries() { return memory::buffer_of(block)->cells(); }

} // namespace

void make_table() {
    if (table) return;
    collector::Hold hold;
    block = memory::alloc_cells(TABLE_SIZE);
    Cell holder;
    make_series(&holder, TYPE_BLOCK, block);
    root_append(&holder);
    table = hashtable::init(TABLE_SIZE, block, hashtable::KIND_WORDS);
    collector::register_callback(mark);
}

namespace {

// The lookup index kept beside the table: one 64-bit slot per bucket of the
// table, mirroring its probe layout, with the bucket's name hash in the high
// half and 1 + the offset of its key in the key pool in the low half (0: an
// empty bucket). The pool holds for each symbol its index, its length and
// its UTF-8 bytes. A lookup reads only slots and the pool: a hit is two
// dependent loads instead of the bucket, the entry cell, the name's node
// and its buffer, and a collision whose hash differs costs no load at all.
// The table's own buckets stay the record that other code walks.
std::vector<uint64_t> side;
std::vector<uint8_t> pool;
std::vector<uint32_t> key_offset; // by symbol index
std::vector<uint32_t> key_hash;   // by symbol index

struct Key {
    uint32_t index;
    uint32_t length;
};

inline const Key* key_at(uint32_t offset) {
    return reinterpret_cast<const Key*>(pool.data() + offset);
}

// Lays the slots out again from the table's buckets (after a resize).
void rebuild_side(const hashtable::Record* r) {
    side.assign(static_cast<size_t>(r->bucket_count), 0);
    const uint32_t* flags = hashtable::flags_of(r);
    const int32_t* buckets = hashtable::buckets_of(r);
    for (int32_t b = 0; b < r->bucket_count; b++) {
        if (hashtable::state_at(flags, static_cast<uint32_t>(b)) != hashtable::BUCKET_LIVE)
            continue;
        auto index = static_cast<uint32_t>(buckets[b]);
        side[static_cast<size_t>(b)] = uint64_t{key_hash[index]} << 32 | (key_offset[index] + 1u);
    }
}

uint32_t add_key(uint32_t index, const char* utf8, size_t length, uint32_t hash) {
    auto offset = static_cast<uint32_t>(pool.size());
    // Keys start on 4-byte boundaries so that the header reads aligned.
    pool.resize(offset + sizeof(Key) + ((length + 3) & ~size_t{3}));
    Key key{index, static_cast<uint32_t>(length)};
    std::memcpy(pool.data() + offset, &key, sizeof key);
    std::memcpy(pool.data() + offset + sizeof key, utf8, length);
    key_offset.push_back(offset);
    key_hash.push_back(hash);
    return offset;
}

} // namespace

uint32_t intern(const char* utf8, size_t length, int32_t mode) {
    collector::Hold hold;
    hashtable::Record* r = hashtable::record_of(table);
    if (r->occupied >= r->upper) {
        hashtable::resize(table, hashtable::words_grow_request(r));
        r = hashtable::record_of(table);
    }
    if (side.size() != static_cast<size_t>(r->bucket_count)) rebuild_side(r);
    uint32_t mask = static_cast<uint32_t>(r->bucket_count) - 1;
    uint32_t hash = hashtable::hash_name(utf8, length);
    uint32_t i = hash & mask;
    uint32_t variant_of = 0; // the first case-insensitive match met
    bool found_empty = false;
    for (uint32_t step = 1, n = 0; n <= mask; n++, i = (i + step++) & mask) {
        uint64_t slot = side[i];
        if (!slot) {
            found_empty = true;
            break;
        }
        if (static_cast<uint32_t>(slot >> 32) != hash) continue;
        const Key* key = key_at(static_cast<uint32_t>(slot) - 1);
        if (key->length != length) continue;
        const char* name = reinterpret_cast<const char*>(key + 1);
        uint32_t id = key->index + 1;
        if (std::memcmp(name, utf8, length) == 0) return id;
        if (hashtable::ascii_equal_nocase(name, utf8, length)) {
            if (mode == MODE_INSENSITIVE) return id;
            if (!variant_of) variant_of = id;
        }
    }
    assert(found_empty);
    (void)found_empty;
    assert(hashtable::state_at(hashtable::flags_of(r), i) == hashtable::BUCKET_EMPTY);
    // A variant's alias is the canonical spelling itself, never another
    // variant, so resolving takes one step.
    uint32_t alias = variant_of ? resolve(variant_of) : 0xFFFFFFFFu;

    uint32_t index = count();
    uint32_t offset = add_key(index, utf8, length, hash);
    side[i] = uint64_t{hash} << 32 | (offset + 1u);
    node_t name = memory::alloc_bytes(static_cast<uint32_t>(length) + 1);
    memory::SeriesBuffer* nb = memory::buffer_of(name);
    std::memcpy(nb->head_ptr(), pool.data() + offset + sizeof(Key), length);
    nb->head_ptr()[length] = 0;
    nb->tail = nb->head + static_cast<uint32_t>(length);
    *memory::alloc_tail(block) = Cell{TYPE_SYMBOL, alias, 0, name};

    r = hashtable::record_of(table);
    hashtable::set_state_at(hashtable::flags_of(r), i, hashtable::BUCKET_LIVE);
    hashtable::buckets_of(r)[i] = static_cast<int32_t>(index);
    r->count++;
    r->occupied++;
    return index + 1;
}

uint32_t make(const char* name) { return intern(name, std::strlen(name), MODE_KEEP); }

uint32_t make_sized(const char* utf8, size_t length) { return intern(utf8, length, MODE_KEEP); }

uint32_t make_insensitive(const char* name) {
    return intern(name, std::strlen(name), MODE_INSENSITIVE);
}

uint32_t from_string(Cell* string) {
    int32_t length = -1;
    const char* utf8 = unicode::to_utf8(string, &length);
    return make_sized(utf8, static_cast<size_t>(length));
}

Cell* entry(uint32_t id) { return entries() + (id - 1); }

uint32_t resolve(uint32_t id) {
    auto alias = static_cast<int32_t>(entry(id)->data1);
    return alias > 0 ? static_cast<uint32_t>(alias) : id;
}

int32_t get_alias(uint32_t id) { return static_cast<int32_t>(entry(id)->data1); }

void cache_name(uint32_t id) {
    if (entry(id)->data2) return;
    // The UTF-8 name is read from its series: nothing may move meanwhile.
    collector::Hold hold;
    memory::SeriesBuffer* b = memory::buffer_of(entry(id)->data3);
    node_t name = unicode::load_utf8(b->head_ptr(), b->used_bytes(), 0, nullptr, false);
    entry(id)->data2 = name;
}

Cell* get(uint32_t id) {
    cache_name(id);
    return entry(id);
}

const char* name_utf8(uint32_t id, size_t* length) {
    memory::SeriesBuffer* b = memory::buffer_of(entry(id)->data3);
    if (length) *length = b->used_bytes();
    return reinterpret_cast<const char*>(b->head_ptr());
}

uint32_t count() {
    return memory::buffer_of(block)->used_bytes() / static_cast<uint32_t>(sizeof(Cell));
}

} // namespace mox::symbol

// ORA_HASH(expr [, max_bucket [, seed_value]]): a bucket number from 0 to
// max_bucket for a value, the same for equal values. The hash function is
// this client's own: its values differ from Oracle's, and only the range,
// the equality of buckets for equal values and the spread are promised.
#include "internal.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace oracle {
namespace occi {
namespace embedded {

namespace {

const double HASH_ARGUMENT_MAX = 4294967295.0;

std::uint64_t fnv1a(std::uint64_t p_hash, const void* p_data, size_t p_size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(p_data);
    for (size_t i = 0; i < p_size; ++i) {
        p_hash ^= bytes[i];
        p_hash *= 0x100000001b3ULL;
    }
    return p_hash;
}

// The finaliser of SplitMix64: consecutive inputs (rowids) land in
// unrelated buckets.
std::uint64_t mix(std::uint64_t p_value) {
    p_value = (p_value ^ (p_value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    p_value = (p_value ^ (p_value >> 27)) * 0x94d049bb133111ebULL;
    return p_value ^ (p_value >> 31);
}

// The optional arguments: a number from 0 to 4294967295, its fraction cut
// off; false after an SQL error, or for NULL (p_null set).
bool rangeArgument(sqlite3_context* p_ctx, sqlite3_value* p_value, std::uint64_t& p_out, bool& p_null) {
    p_null = false;
    const int type = sqlite3_value_numeric_type(p_value);
    if (type == SQLITE_NULL) {
        p_null = true;
        return false;
    }
    if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) {
        sqlite3_result_error(p_ctx, "ORA-01722: invalid number", -1);
        return false;
    }
    const double v = std::trunc(sqlite3_value_double(p_value));
    if (!(v >= 0.0 && v <= HASH_ARGUMENT_MAX)) {
        sqlite3_result_error(p_ctx, "ORA-01428: argument is out of range", -1);
        return false;
    }
    p_out = static_cast<std::uint64_t>(v);
    return true;
}

void oraHash(sqlite3_context* p_ctx, int p_argc, sqlite3_value** p_argv) {
    std::uint64_t maxBucket = 4294967295ULL;
    std::uint64_t seed = 0;
    bool null = false;
    if (p_argc > 1 && !rangeArgument(p_ctx, p_argv[1], maxBucket, null)) {
        if (null) sqlite3_result_null(p_ctx);
        return;
    }
    if (p_argc > 2 && !rangeArgument(p_ctx, p_argv[2], seed, null)) {
        if (null) sqlite3_result_null(p_ctx);
        return;
    }
    sqlite3_value* value = p_argv[0];
    // The seed and the kind of value (number, text, bytes) start the hash.
    const std::uint64_t start = mix(seed * 4 + 0x9e3779b97f4a7c15ULL);
    std::uint64_t hash = 0;
    switch (sqlite3_value_type(value)) {
        case SQLITE_NULL:
            sqlite3_result_null(p_ctx);
            return;
        case SQLITE_INTEGER:
            // a rowid: one multiplication and the mixer, no loop
            hash = start ^ static_cast<std::uint64_t>(sqlite3_value_int64(value));
            break;
        case SQLITE_FLOAT: {
            // One NUMBER, one hash: 2 and 2.0 are the same value.
            const double d = sqlite3_value_double(value);
            if (d == std::trunc(d) && std::fabs(d) < 9e18) {
                hash = start ^ static_cast<std::uint64_t>(static_cast<std::int64_t>(d));
            } else {
                const double plain = d == 0.0 ? 0.0 : d;  // -0 is 0
                hash = fnv1a(start + 1, &plain, sizeof plain);
            }
            break;
        }
        case SQLITE_BLOB:
            hash = fnv1a(start + 2, sqlite3_value_blob(value), static_cast<size_t>(sqlite3_value_bytes(value)));
            break;
        default:
            hash = fnv1a(start + 3, sqlite3_value_text(value), static_cast<size_t>(sqlite3_value_bytes(value)));
            break;
    }
    hash = mix(hash * 0xff51afd7ed558ccdULL);
    const std::uint64_t value32 = (hash ^ (hash >> 32)) & 0xffffffffULL;
    sqlite3_result_int64(p_ctx, static_cast<sqlite3_int64>(value32 % (maxBucket + 1)));
}

}  // namespace

void registerHashFunction(sqlite3* db) {
    for (int args = 1; args <= 3; ++args)
        sqlite3_create_function_v2(db, "ORA_HASH", args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, oraHash,
                                   nullptr, nullptr, nullptr);
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle

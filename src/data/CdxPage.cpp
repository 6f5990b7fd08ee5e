#include "data/CdxPage.h"

#include <algorithm>
#include <cstring>

namespace xb::cdx {

namespace {

int bitLength(uint32_t v)
{
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

int trailCount(const char* k, int len, char pad)
{
    int t = 0;
    while (t < len && k[len - 1 - t] == pad)
        ++t;
    return t;
}

int commonPrefix(const char* a, const char* b, int len)
{
    int i = 0;
    while (i < len && a[i] == b[i])
        ++i;
    return i;
}

int compareEntries(const NodeData& n, int keyLen, int i, int j)
{
    int c = std::memcmp(n.keys.data() + size_t(i) * size_t(keyLen), n.keys.data() + size_t(j) * size_t(keyLen),
                        size_t(keyLen));
    if (c)
        return c;
    return n.recs[size_t(i)] < n.recs[size_t(j)] ? -1 : (n.recs[size_t(i)] > n.recs[size_t(j)] ? 1 : 0);
}

}  // namespace

LeafLayout leafLayout(int keyLen, uint32_t maxRec)
{
    LeafLayout l;
    l.dupBits = l.trailBits = bitLength(uint32_t(keyLen));
    int need = std::max(1, bitLength(maxRec));
    for (l.bytes = 3; l.bytes < 8; ++l.bytes) {
        if (8 * l.bytes - 2 * l.dupBits >= need)
            break;
    }
    l.recBits = std::min(32, 8 * l.bytes - 2 * l.dupBits);
    return l;
}

// Repeated bytes never reach into the previous key's trailing pad: some
// readers keep the previous key without its pad and would copy garbage.
int repeatCount(const char* prev, const char* k, int keyLen, char pad, int trail)
{
    if (!prev)
        return 0;
    int limit = std::min(keyLen - trail, keyLen - trailCount(prev, keyLen, pad));
    return std::min(commonPrefix(prev, k, limit), limit);
}

int storedKeyBytes(const char* prev, const char* k, int keyLen, char pad)
{
    int trail = trailCount(k, keyLen, pad);
    return keyLen - repeatCount(prev, k, keyLen, pad, trail) - trail;
}

int leafBytes(const NodeData& n, int keyLen, char pad, int from, int to)
{
    if (to <= from)
        return 0;
    uint32_t maxRec = 0;
    int stored = 0;
    const char* prev = nullptr;
    for (int i = from; i < to; ++i) {
        maxRec = std::max(maxRec, n.recs[size_t(i)]);
        const char* k = n.keys.data() + size_t(i) * size_t(keyLen);
        stored += storedKeyBytes(prev, k, keyLen, pad);
        prev = k;
    }
    return stored + (to - from) * leafLayout(keyLen, maxRec).bytes;
}

bool decodeNode(const uint8_t* p, int keyLen, char pad, NodeData& out, std::string& why, std::string* notes)
{
    out.clear();
    if (keyLen < 1 || keyLen > kMaxKeyLength) {
        why = "key length " + std::to_string(keyLen) + " is impossible";
        return false;
    }
    uint16_t attr = rd16(p);
    int count = rd16(p + 2);
    if (attr > 3) {
        why = "unknown node attribute " + std::to_string(attr);
        return false;
    }
    out.attr = attr;
    out.left = rd32(p + 4);
    out.right = rd32(p + 8);
    out.keys.reserve(size_t(count) * size_t(keyLen));
    out.recs.reserve(size_t(count));

    if (!(attr & kLeafBit)) {
        if (count > branchCapacity(keyLen)) {
            why = "branch page claims " + std::to_string(count) + " keys, more than fit";
            return false;
        }
        out.kids.reserve(size_t(count));
        for (int i = 0; i < count; ++i) {
            const uint8_t* e = p + 12 + size_t(i) * size_t(keyLen + 8);
            out.keys.append(reinterpret_cast<const char*>(e), size_t(keyLen));
            out.recs.push_back(rd32be(e + keyLen));
            out.kids.push_back(rd32be(e + keyLen + 4));
        }
    } else {
        int freeField = rd16(p + 12);
        uint32_t recMask = rd32(p + 14);
        uint32_t dupMask = p[18];
        uint32_t trailMask = p[19];
        int recBits = p[20], dupBits = p[21], trailBits = p[22], bytes = p[23];
        if (bytes < 1 || bytes > 8 || recBits > 32 || dupBits > 8 || trailBits > 8 ||
            recBits + dupBits + trailBits > 8 * bytes) {
            why = "leaf bit counts are impossible (" + std::to_string(recBits) + "/" + std::to_string(dupBits) + "/" +
                  std::to_string(trailBits) + " bits in " + std::to_string(bytes) + " bytes)";
            return false;
        }
        if (count * bytes > kLeafArea) {
            why = "leaf claims " + std::to_string(count) + " keys, more than fit";
            return false;
        }
        if (freeField > kLeafArea) {
            why = "leaf free space " + std::to_string(freeField) + " is impossible";
            return false;
        }
        int tableEnd = 24 + count * bytes;
        int pos = int(kPageSize);
        std::string prev(size_t(keyLen), pad);
        for (int i = 0; i < count; ++i) {
            const uint8_t* e = p + 24 + size_t(i) * size_t(bytes);
            uint64_t v = 0;
            for (int b = bytes - 1; b >= 0; --b)
                v = (v << 8) | e[b];
            uint32_t rec = uint32_t(v & recMask);
            int dup = int((v >> recBits) & dupMask);
            int trail = int((v >> (recBits + dupBits)) & trailMask);
            if (dup + trail > keyLen) {
                why = "leaf entry " + std::to_string(i + 1) + " has more repeated and trailing bytes than the key length";
                return false;
            }
            if (i == 0 && dup != 0) {
                why = "the first key of a leaf repeats bytes of a key before it";
                return false;
            }
            int piece = keyLen - dup - trail;
            pos -= piece;
            if (pos < tableEnd) {
                why = "leaf keys run into the entry table";
                return false;
            }
            std::memcpy(prev.data() + dup, p + pos, size_t(piece));
            std::memset(prev.data() + dup + piece, pad, size_t(trail));
            out.keys += prev;
            out.recs.push_back(rec);
        }
        if (notes) {
            int computed = kLeafArea - count * bytes - (int(kPageSize) - pos);
            if (freeField != computed)
                *notes += "free space field says " + std::to_string(freeField) + " bytes, the keys leave " +
                          std::to_string(computed) + "; ";
            uint64_t wantRec = recBits >= 32 ? 0xFFFFFFFFull : ((1ull << recBits) - 1);
            if (recMask != wantRec || dupMask != (1u << dupBits) - 1 || trailMask != (1u << trailBits) - 1)
                *notes += "masks disagree with the bit counts; ";
        }
    }
    for (int i = 1; i < count; ++i) {
        if (compareEntries(out, keyLen, i - 1, i) >= 0) {
            why = "keys out of order at entry " + std::to_string(i + 1);
            return false;
        }
    }
    return true;
}

bool encodeNode(const NodeData& n, int keyLen, char pad, uint8_t* p)
{
    std::memset(p, 0, kPageSize);
    int count = n.count();
    if (keyLen < 1 || keyLen > kMaxKeyLength || n.keys.size() != size_t(count) * size_t(keyLen))
        return false;
    wr16(p, n.attr);
    wr16(p + 2, uint16_t(count));
    wr32(p + 4, n.left);
    wr32(p + 8, n.right);
    if (!n.leaf()) {
        if (count > branchCapacity(keyLen) || n.kids.size() != size_t(count))
            return false;
        for (int i = 0; i < count; ++i) {
            uint8_t* e = p + 12 + size_t(i) * size_t(keyLen + 8);
            std::memcpy(e, n.keys.data() + size_t(i) * size_t(keyLen), size_t(keyLen));
            wr32be(e + keyLen, n.recs[size_t(i)]);
            wr32be(e + keyLen + 4, n.kids[size_t(i)]);
        }
        return true;
    }
    uint32_t maxRec = 0;
    for (uint32_t r : n.recs)
        maxRec = std::max(maxRec, r);
    LeafLayout l = leafLayout(keyLen, maxRec);
    if (l.recBits < 32 && maxRec >> l.recBits)
        return false;
    int tableEnd = 24 + count * l.bytes;
    int pos = int(kPageSize);
    const char* prev = nullptr;
    uint64_t recMask = l.recBits >= 32 ? 0xFFFFFFFFull : ((1ull << l.recBits) - 1);
    for (int i = 0; i < count; ++i) {
        const char* k = n.keys.data() + size_t(i) * size_t(keyLen);
        int trail = trailCount(k, keyLen, pad);
        int dup = repeatCount(prev, k, keyLen, pad, trail);
        int piece = keyLen - dup - trail;
        pos -= piece;
        if (pos < tableEnd)
            return false;
        std::memcpy(p + pos, k + dup, size_t(piece));
        uint64_t v = (uint64_t(n.recs[size_t(i)]) & recMask) | (uint64_t(dup) << l.recBits) |
                     (uint64_t(trail) << (l.recBits + l.dupBits));
        uint8_t* e = p + 24 + size_t(i) * size_t(l.bytes);
        for (int b = 0; b < l.bytes; ++b)
            e[b] = uint8_t(v >> (8 * b));
        prev = k;
    }
    wr16(p + 12, uint16_t(kLeafArea - count * l.bytes - (int(kPageSize) - pos)));
    wr32(p + 14, uint32_t(recMask));
    p[18] = uint8_t((1u << l.dupBits) - 1);
    p[19] = uint8_t((1u << l.trailBits) - 1);
    p[20] = uint8_t(l.recBits);
    p[21] = uint8_t(l.dupBits);
    p[22] = uint8_t(l.trailBits);
    p[23] = uint8_t(l.bytes);
    return true;
}

}  // namespace xb::cdx

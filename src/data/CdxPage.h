#pragma once
// One 512-byte node of a compound index, decoded: the byte layout of branch
// and leaf pages and nothing else. Used by CdxIndex; kept apart so the codec
// can be tested on its own.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xb::cdx {

constexpr uint32_t kPageSize = 512;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr int kLeafArea = 488;     // bytes after the 24-byte leaf header
constexpr int kMaxKeyLength = 240;

enum : uint16_t { kBranch = 0, kRootBit = 1, kLeafBit = 2 };

struct NodeData {
    uint16_t attr = kLeafBit;
    uint32_t left = kNone;
    uint32_t right = kNone;
    std::string keys;              // count() keys of the tag's key length, one after another
    std::vector<uint32_t> recs;    // record numbers (for the tag directory: tag header offsets)
    std::vector<uint32_t> kids;    // branch pages only: child page offsets

    int count() const { return int(recs.size()); }
    bool leaf() const { return (attr & kLeafBit) != 0; }
    bool root() const { return (attr & kRootBit) != 0; }
    std::string_view key(int i, int keyLen) const
    {
        return std::string_view(keys).substr(size_t(i) * size_t(keyLen), size_t(keyLen));
    }
    void clear()
    {
        keys.clear();
        recs.clear();
        kids.clear();
    }
};

// How a leaf packs its entries.
struct LeafLayout {
    int bytes = 3;        // bytes per entry
    int recBits = 0;
    int dupBits = 0;
    int trailBits = 0;
};
LeafLayout leafLayout(int keyLen, uint32_t maxRec);

// Entries a branch page holds at most.
inline int branchCapacity(int keyLen) { return 500 / (keyLen + 8); }

// Bytes entries [from, to) of a leaf need (entry table and stored key bytes,
// the first key of the range stored whole); they fit when <= kLeafArea.
int leafBytes(const NodeData& n, int keyLen, char pad, int from, int to);
inline bool leafFits(const NodeData& n, int keyLen, char pad)
{
    return leafBytes(n, keyLen, pad, 0, n.count()) <= kLeafArea;
}

// Bytes a key is stored in after `prev` (null for the first key of a leaf).
int storedKeyBytes(const char* prev, const char* key, int keyLen, char pad);

// Decodes a page. False with `why` in plain words when it cannot be decoded
// (unknown attribute, impossible counts or bit widths, keys running past the
// entry table, keys out of order). `notes` collects oddities that still
// decode: a free-space field that disagrees with the keys, masks that
// disagree with the bit counts.
bool decodeNode(const uint8_t* page, int keyLen, char pad, NodeData& out, std::string& why,
                std::string* notes = nullptr);

// Encodes into a 512-byte page; false when the entries do not fit.
bool encodeNode(const NodeData& n, int keyLen, char pad, uint8_t* page);

// Little- and big-endian helpers for headers.
inline uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t rd32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
inline uint32_t rd32be(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]); }
inline void wr16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void wr32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
inline void wr32be(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i)); }

}  // namespace xb::cdx

#include "data/Cdx.h"
#include "data/FileLayer.h"

#include "data/CdxPage.h"
#include "data/KeyExpr.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xb {

using namespace cdx;

namespace {

constexpr uint32_t kHeaderSize = 1024;
constexpr int kMaxDepth = 32;
constexpr int kDirKeyLen = 10;
// Locked while a program holds the index marked (far past any index's pages).
constexpr uint64_t kInUseLockAt = 0x3FFFFFFF;
constexpr size_t kMarkerPos = 488;   // inside the reserved bytes 16..501 of the file header
constexpr char kMarker[8] = {'C', 'H', 'A', 'N', 'G', 'I', 'N', 'G'};
constexpr uint8_t kOptUnique = 0x01, kOptFor = 0x08, kOptCompact = 0x20, kOptCompound = 0x40,
                  kOptStructure = 0x80;
constexpr size_t kMaxFaultLines = 40;   // per tag, in check()

bool preadAll(FileLayer& files, int fd, void* buf, size_t n, uint64_t off)
{
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t r = files.pread(fd, p, n, off);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
        off += uint64_t(r);
    }
    return true;
}

bool pwriteAll(FileLayer& files, int fd, const void* buf, size_t n, uint64_t off)
{
    auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t r = files.pwrite(fd, p, n, off);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
        off += uint64_t(r);
    }
    return true;
}

std::string sysError() { return std::strerror(errno); }

std::string upperText(std::string_view s)
{
    std::string u(s);
    for (char& c : u)
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
    return u;
}

std::string num(uint64_t v) { return std::to_string(v); }

struct Node : NodeData {
    uint32_t off = 0;
    int tag = -1;   // -1: the tag directory
    bool dirty = false;
    std::string notes;
};

struct Step {
    Node* node;
    int idx;
};
using Path = std::vector<Step>;

int compareAt(const Node& n, int i, int keyLen, std::string_view key, uint32_t rec)
{
    int c = std::memcmp(n.keys.data() + size_t(i) * size_t(keyLen), key.data(), size_t(keyLen));
    if (c)
        return c;
    uint32_t r = n.recs[size_t(i)];
    return r < rec ? -1 : (r > rec ? 1 : 0);
}

// First index whose entry is >= (key, rec), or > when strict.
int boundIdx(const Node& n, int keyLen, std::string_view key, uint32_t rec, bool strict)
{
    int lo = 0, hi = n.count();
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        int c = compareAt(n, mid, keyLen, key, rec);
        if (c < 0 || (strict && c == 0))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int compareEntry(std::string_view ak, uint32_t ar, std::string_view bk, uint32_t br)
{
    int c = ak.compare(bk);
    if (c)
        return c < 0 ? -1 : 1;
    return ar < br ? -1 : (ar > br ? 1 : 0);
}

bool validTagName(const std::string& n)
{
    if (n.empty() || n.size() > 10)
        return false;
    for (size_t i = 0; i < n.size(); ++i) {
        char c = n[i];
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (!letter && !(i > 0 && c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

struct TagInfo {
    TagSpec def;
    uint32_t header = 0;
    uint32_t root = kNone;
    int keyLen = 1;
    char type = 'C';
    char pad = ' ';
    uint8_t options = 0;
    uint8_t signature = 0;
    KeyExpr key;
    KeyExpr forx;
    bool hasFor = false;
    bool usable = false;
    bool broken = false;   // the header cannot be read: nothing of the tag can
    std::string why;
    bool rootDirty = false;
    uint64_t generation = 0;
    Path cursor;           // where the last navigation ended
    uint64_t cursorGen = ~uint64_t(0);
};

// A sorted run of entries, for build().
struct Entries {
    std::string keys;
    std::vector<uint32_t> recs;
};

}  // namespace

// ---------------------------------------------------------------- state

struct CdxIndex::Impl {
    FileLayer* files = &posixFiles();
    int fd = -1;
    bool readOnly = false;
    std::string path;
    uint64_t size = 0;
    uint8_t header[kHeaderSize] = {};
    int dirKeyLen = kDirKeyLen;
    uint32_t freeHead = 0;
    bool headerDirty = false;
    std::vector<TagInfo> tags;
    std::unordered_set<uint32_t> headerPages;   // pages of tag headers: never nodes
    std::unordered_map<uint32_t, std::unique_ptr<Node>> cache;
    std::vector<uint32_t> dirty;
    bool interrupted = false;
    bool marked = false;
    bool counterDue = false;       // pages written since the version counter was last raised
    struct timespec seen {};       // the file's changes up to this moment are in memory
    std::string fault;
    std::vector<std::string> dirFaults;   // found while opening, reported by check()

    ~Impl()
    {
        if (fd >= 0)
            files->close(fd);
    }

    int keyLenOf(int t) const { return t < 0 ? dirKeyLen : tags[size_t(t)].keyLen; }
    char padOf(int t) const { return t < 0 ? ' ' : tags[size_t(t)].pad; }
    std::string who(int t) const { return t < 0 ? std::string("tag directory") : "tag " + tags[size_t(t)].def.name; }

    bool tagOk(int t)
    {
        if (fd < 0) {
            fault = "the index is closed";
            return false;
        }
        if (t < 0 || t >= int(tags.size())) {
            fault = "there is no tag number " + std::to_string(t);
            return false;
        }
        if (tags[size_t(t)].broken) {
            fault = who(t) + ": " + tags[size_t(t)].why;
            return false;
        }
        return true;
    }

    // A tag that can be changed and a key of its length; `f` says why not.
    bool changeable(int t, const std::string& key, std::string& f)
    {
        if (!tagOk(t)) {
            f = fault;
            return false;
        }
        if (key.size() != size_t(tags[size_t(t)].keyLen)) {
            f = who(t) + ": a key of " + std::to_string(key.size()) + " bytes, the tag's keys have " +
                std::to_string(tags[size_t(t)].keyLen);
            return false;
        }
        return true;
    }

    Node* load(int t, uint32_t off);
    IdxStatus descend(int t, std::string_view key, uint32_t rec, bool strict, Path& path);
    IdxStatus edgeDown(int t, Path& path, bool leftmost);
    IdxStatus settleForward(int t, Path& path);
    IdxStatus settleBackward(int t, Path& path);
    IdxStatus ascFirst(int t, Path& p);
    IdxStatus ascLast(int t, Path& p);
    IdxStatus ascAtOrAfter(int t, std::string_view key, uint32_t rec, bool strict, Path& p);
    IdxStatus ascBefore(int t, std::string_view key, uint32_t rec, bool inclusive, Path& p);
    IdxStatus stepFrom(int t, const IndexEntry& from, bool forward, IndexEntry& out);
    IdxStatus finish(int t, IdxStatus st, Path& p, IndexEntry& out);

    std::string normKey(int t, std::string_view k) const
    {
        std::string s(k.substr(0, size_t(keyLenOf(t))));
        s.resize(size_t(keyLenOf(t)), padOf(t));
        return s;
    }

    // Another program's changes: the file's own writes are known up to now.
    void noteOwnWrite() { ::clock_gettime(CLOCK_REALTIME, &seen); }

    // changes
    bool beginChange(std::string& f);
    // The mark's lock: shared, as several programs may each have the index
    // marked at once (F_UNLCK lets it go).
    void holdInUse(short type)
    {
        struct flock l {};
        l.l_type = type;
        l.l_whence = SEEK_SET;
        l.l_start = off_t(kInUseLockAt);
        l.l_len = 1;
        ::fcntl(fd, F_OFD_SETLK, &l);
    }
    // Whether another live program holds the mark's lock (see beginChange).
    bool markHeldElsewhere()
    {
        struct flock l {};
        l.l_type = F_WRLCK;
        l.l_whence = SEEK_SET;
        l.l_start = off_t(kInUseLockAt);
        l.l_len = 1;
        return ::fcntl(fd, F_OFD_GETLK, &l) == 0 && l.l_type != F_UNLCK;
    }
    void touch(Node* n)
    {
        if (!n->dirty) {
            n->dirty = true;
            dirty.push_back(n->off);
        }
    }
    uint32_t allocPage();
    Node* newNode(int t, uint16_t attr, std::string& f);
    bool freePage(Node* n, std::string& f);
    void propagateLast(int t, Path& p, int level);
    bool split(int t, Path& p, int level, int inserted, std::string& f);
    bool dropNode(int t, Path& p, int level, std::string& f);
    bool collapseRoot(int t, std::string& f);
    bool writeDirty(std::string& f);

    // opening
    bool readDirectory(uint32_t off, int depth, std::vector<std::pair<std::string, uint32_t>>& out,
                       std::unordered_set<uint32_t>& seen, std::string& f);
    void readTag(TagInfo& tg, const FieldList& fields, const CodePage* page);

    // checking
    void checkTag(int t, uint32_t count, const std::function<RecordPtr(uint32_t)>& recordAt,
                  std::unordered_set<uint32_t>& used, std::vector<std::string>& out);
    std::string describeKey(int t, std::string_view key) const;
};

Node* CdxIndex::Impl::load(int t, uint32_t off)
{
    auto it = cache.find(off);
    if (it != cache.end()) {
        if (it->second->tag != t) {
            fault = who(t) + ": page at " + num(off) + " belongs to " + who(it->second->tag);
            return nullptr;
        }
        return it->second.get();
    }
    if (off % kPageSize != 0) {
        fault = who(t) + ": page offset " + num(off) + " is not on a page boundary";
        return nullptr;
    }
    if (off < kHeaderSize || uint64_t(off) + kPageSize > size) {
        fault = who(t) + ": page offset " + num(off) + " lies outside the file";
        return nullptr;
    }
    if (headerPages.count(off)) {
        fault = who(t) + ": page offset " + num(off) + " points at a tag header";
        return nullptr;
    }
    uint8_t buf[kPageSize];
    if (!preadAll(*files, fd, buf, kPageSize, off)) {
        fault = who(t) + ": page at " + num(off) + " cannot be read: " + sysError();
        return nullptr;
    }
    auto n = std::make_unique<Node>();
    std::string why;
    if (!decodeNode(buf, keyLenOf(t), padOf(t), *n, why, &n->notes)) {
        fault = who(t) + ": page at " + num(off) + " cannot be decoded: " + why;
        return nullptr;
    }
    n->off = off;
    n->tag = t;
    Node* p = n.get();
    cache.emplace(off, std::move(n));
    return p;
}

// ---------------------------------------------------------------- walking

IdxStatus CdxIndex::Impl::descend(int t, std::string_view key, uint32_t rec, bool strict, Path& path)
{
    path.clear();
    int L = keyLenOf(t);
    Node* n = load(t, tags[size_t(t)].root);
    if (!n)
        return IdxStatus::Broken;
    for (;;) {
        if (int(path.size()) >= kMaxDepth) {
            fault = who(t) + ": the tree is deeper than " + std::to_string(kMaxDepth) + " levels (a loop in the child links?)";
            return IdxStatus::Broken;
        }
        int i = boundIdx(*n, L, key, rec, strict);
        if (n->leaf()) {
            path.push_back({n, i});
            return IdxStatus::Ok;
        }
        if (n->count() == 0) {
            path.push_back({n, 0});
            if (path.size() == 1)
                return IdxStatus::End;
            fault = who(t) + ": branch page at " + num(n->off) + " holds no keys";
            return IdxStatus::Broken;
        }
        if (i == n->count())
            i = n->count() - 1;
        path.push_back({n, i});
        n = load(t, n->kids[size_t(i)]);
        if (!n)
            return IdxStatus::Broken;
    }
}

IdxStatus CdxIndex::Impl::edgeDown(int t, Path& path, bool leftmost)
{
    for (;;) {
        Node* n = path.back().node;
        if (n->leaf()) {
            path.back().idx = leftmost ? 0 : n->count() - 1;
            return IdxStatus::Ok;
        }
        if (n->count() == 0) {
            if (path.size() == 1)
                return IdxStatus::End;
            fault = who(t) + ": branch page at " + num(n->off) + " holds no keys";
            return IdxStatus::Broken;
        }
        if (int(path.size()) >= kMaxDepth) {
            fault = who(t) + ": the tree is deeper than " + std::to_string(kMaxDepth) + " levels (a loop in the child links?)";
            return IdxStatus::Broken;
        }
        int i = leftmost ? 0 : n->count() - 1;
        path.back().idx = i;
        Node* c = load(t, n->kids[size_t(i)]);
        if (!c)
            return IdxStatus::Broken;
        path.push_back({c, 0});
    }
}

IdxStatus CdxIndex::Impl::settleForward(int t, Path& path)
{
    uint64_t guard = size / kPageSize + 2;
    for (uint64_t steps = 0;; ++steps) {
        const Step& s = path.back();
        if (s.idx >= 0 && s.idx < s.node->count())
            return IdxStatus::Ok;
        if (steps > guard) {
            fault = who(t) + ": more leaves than pages in the file (pages reached twice)";
            return IdxStatus::Broken;
        }
        int l = int(path.size()) - 2;
        while (l >= 0 && path[size_t(l)].idx + 1 >= path[size_t(l)].node->count())
            --l;
        if (l < 0)
            return IdxStatus::End;
        path.resize(size_t(l) + 1);
        Step& up = path.back();
        ++up.idx;
        Node* c = load(t, up.node->kids[size_t(up.idx)]);
        if (!c)
            return IdxStatus::Broken;
        path.push_back({c, 0});
        IdxStatus st = edgeDown(t, path, true);
        if (st != IdxStatus::Ok)
            return IdxStatus::Broken;
    }
}

IdxStatus CdxIndex::Impl::settleBackward(int t, Path& path)
{
    uint64_t guard = size / kPageSize + 2;
    for (uint64_t steps = 0;; ++steps) {
        const Step& s = path.back();
        if (s.idx >= 0 && s.idx < s.node->count())
            return IdxStatus::Ok;
        if (steps > guard) {
            fault = who(t) + ": more leaves than pages in the file (pages reached twice)";
            return IdxStatus::Broken;
        }
        int l = int(path.size()) - 2;
        while (l >= 0 && path[size_t(l)].idx <= 0)
            --l;
        if (l < 0)
            return IdxStatus::End;
        path.resize(size_t(l) + 1);
        Step& up = path.back();
        --up.idx;
        Node* c = load(t, up.node->kids[size_t(up.idx)]);
        if (!c)
            return IdxStatus::Broken;
        path.push_back({c, 0});
        IdxStatus st = edgeDown(t, path, false);
        if (st != IdxStatus::Ok)
            return IdxStatus::Broken;
    }
}

IdxStatus CdxIndex::Impl::ascFirst(int t, Path& p)
{
    p.clear();
    Node* r = load(t, tags[size_t(t)].root);
    if (!r)
        return IdxStatus::Broken;
    p.push_back({r, 0});
    IdxStatus st = edgeDown(t, p, true);
    return st == IdxStatus::Ok ? settleForward(t, p) : st;
}

IdxStatus CdxIndex::Impl::ascLast(int t, Path& p)
{
    p.clear();
    Node* r = load(t, tags[size_t(t)].root);
    if (!r)
        return IdxStatus::Broken;
    p.push_back({r, 0});
    IdxStatus st = edgeDown(t, p, false);
    return st == IdxStatus::Ok ? settleBackward(t, p) : st;
}

IdxStatus CdxIndex::Impl::ascAtOrAfter(int t, std::string_view key, uint32_t rec, bool strict, Path& p)
{
    IdxStatus st = descend(t, key, rec, strict, p);
    if (st != IdxStatus::Ok)
        return st;
    st = settleForward(t, p);
    if (st == IdxStatus::Ok) {
        const Step& s = p.back();
        int c = compareAt(*s.node, s.idx, keyLenOf(t), key, rec);
        if (c < 0 || (strict && c == 0)) {
            fault = who(t) + ": keys out of order near page " + num(s.node->off);
            return IdxStatus::Broken;
        }
    }
    return st;
}

IdxStatus CdxIndex::Impl::ascBefore(int t, std::string_view key, uint32_t rec, bool inclusive, Path& p)
{
    IdxStatus st = descend(t, key, rec, inclusive, p);
    if (st != IdxStatus::Ok)
        return st;
    --p.back().idx;
    st = settleBackward(t, p);
    if (st == IdxStatus::Ok) {
        const Step& s = p.back();
        int c = compareAt(*s.node, s.idx, keyLenOf(t), key, rec);
        if (c > 0 || (!inclusive && c == 0)) {
            fault = who(t) + ": keys out of order near page " + num(s.node->off);
            return IdxStatus::Broken;
        }
    }
    return st;
}

IdxStatus CdxIndex::Impl::finish(int t, IdxStatus st, Path& p, IndexEntry& out)
{
    TagInfo& tg = tags[size_t(t)];
    if (st != IdxStatus::Ok) {
        tg.cursor.clear();
        return st;
    }
    const Step& s = p.back();
    out.key.assign(s.node->key(s.idx, tg.keyLen));
    out.recno = s.node->recs[size_t(s.idx)];
    tg.cursor = p;
    tg.cursorGen = tg.generation;
    return IdxStatus::Ok;
}

// One step in storage order from `from` (forward: the next larger entry).
IdxStatus CdxIndex::Impl::stepFrom(int t, const IndexEntry& from, bool forward, IndexEntry& out)
{
    TagInfo& tg = tags[size_t(t)];
    std::string key = normKey(t, from.key);
    Path p;
    // Sequential scans: continue from where the last call ended when nothing changed since.
    if (tg.cursorGen == tg.generation && !tg.cursor.empty()) {
        const Step& s = tg.cursor.back();
        if (s.idx >= 0 && s.idx < s.node->count() && compareAt(*s.node, s.idx, tg.keyLen, key, from.recno) == 0) {
            p = tg.cursor;
            p.back().idx += forward ? 1 : -1;
            IdxStatus st = forward ? settleForward(t, p) : settleBackward(t, p);
            if (st == IdxStatus::Ok) {
                const Step& n = p.back();
                int c = compareAt(*n.node, n.idx, tg.keyLen, key, from.recno);
                if (forward ? c <= 0 : c >= 0) {
                    fault = who(t) + ": keys out of order near page " + num(n.node->off);
                    st = IdxStatus::Broken;
                }
            }
            return finish(t, st, p, out);
        }
    }
    IdxStatus st = forward ? ascAtOrAfter(t, key, from.recno, true, p) : ascBefore(t, key, from.recno, false, p);
    return finish(t, st, p, out);
}

// ---------------------------------------------------------------- changes

bool CdxIndex::Impl::beginChange(std::string& f)
{
    if (readOnly) {
        f = "the index is open for reading only";
        return false;
    }
    if (!marked) {
        std::memcpy(header + kMarkerPos, kMarker, sizeof kMarker);
        if (!pwriteAll(*files, fd, header + kMarkerPos, sizeof kMarker, kMarkerPos) || files->sync(fd) != 0) {
            f = "cannot mark the index as being changed: " + sysError();
            return false;
        }
        marked = true;
        noteOwnWrite();
        // While the mark is ours, its byte is locked: another program that
        // finds the mark and the byte locked knows the index is in use, not
        // left by a program that died (whose locks went with it).
        holdInUse(F_RDLCK);
    }
    return true;
}

uint32_t CdxIndex::Impl::allocPage()
{
    while (freeHead != 0 && freeHead != kNone) {
        uint32_t off = freeHead;
        bool ok = off % kPageSize == 0 && off >= kHeaderSize && uint64_t(off) + kPageSize <= size &&
                  !cache.count(off) && !headerPages.count(off);
        uint8_t b[4];
        if (ok && preadAll(*files, fd, b, 4, off)) {
            freeHead = rd32(b);
        } else {
            freeHead = 0;   // an unusable list is dropped: its pages are only lost space
            ok = false;
        }
        headerDirty = true;
        if (ok)
            return off;
    }
    uint64_t end = (size + kPageSize - 1) / kPageSize * kPageSize;
    if (end + kPageSize >= kNone)
        return kNone;
    size = end + kPageSize;
    return uint32_t(end);
}

Node* CdxIndex::Impl::newNode(int t, uint16_t attr, std::string& f)
{
    uint32_t off = allocPage();
    if (off == kNone) {
        f = who(t) + ": the index file cannot grow any further";
        return nullptr;
    }
    auto n = std::make_unique<Node>();
    n->off = off;
    n->tag = t;
    n->attr = attr;
    Node* p = n.get();
    cache[off] = std::move(n);
    touch(p);
    return p;
}

bool CdxIndex::Impl::freePage(Node* n, std::string& f)
{
    uint8_t buf[kPageSize] = {};
    wr32(buf, freeHead == kNone ? 0 : freeHead);
    uint32_t off = n->off;
    if (!pwriteAll(*files, fd, buf, kPageSize, off)) {
        f = "cannot write the index: " + sysError();
        return false;
    }
    freeHead = off;
    headerDirty = true;
    cache.erase(off);
    return true;
}

// The last entry of path[level] changed: carry it up into the parents.
void CdxIndex::Impl::propagateLast(int t, Path& p, int level)
{
    int L = keyLenOf(t);
    for (int l = level - 1; l >= 0; --l) {
        Node* par = p[size_t(l)].node;
        int i = p[size_t(l)].idx;
        const Node* ch = p[size_t(l) + 1].node;
        if (ch->count() == 0 || i < 0 || i >= par->count())
            break;
        par->keys.replace(size_t(i) * size_t(L), size_t(L), ch->key(ch->count() - 1, L));
        par->recs[size_t(i)] = ch->recs.back();
        touch(par);
        if (i != par->count() - 1)
            break;
    }
}

namespace {

// Where to cut an overfull leaf: everything but the new key when it was
// appended at the very end (sequential appends then leave full leaves),
// otherwise where both halves hold about the same bytes.
int leafSplitPoint(const NodeData& n, int L, char pad, int inserted)
{
    int cnt = n.count();
    if (inserted == cnt - 1 && n.right == kNone && leafBytes(n, L, pad, 0, cnt - 1) <= kLeafArea)
        return cnt - 1;
    int lo = 1, hi = cnt - 1;   // smallest m whose left half holds at least the right half's bytes
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (leafBytes(n, L, pad, 0, mid) >= leafBytes(n, L, pad, mid, cnt))
            hi = mid;
        else
            lo = mid + 1;
    }
    int best = -1, bestMax = 0;
    for (int m = std::max(1, lo - 1); m <= std::min(cnt - 1, lo + 1); ++m) {
        int a = leafBytes(n, L, pad, 0, m), b = leafBytes(n, L, pad, m, cnt);
        if (a <= kLeafArea && b <= kLeafArea && (best < 0 || std::max(a, b) < bestMax)) {
            best = m;
            bestMax = std::max(a, b);
        }
    }
    return best;
}

}  // namespace

bool CdxIndex::Impl::split(int t, Path& p, int level, int inserted, std::string& f)
{
    TagInfo& tg = tags[size_t(t)];
    int L = tg.keyLen;
    Node* n = p[size_t(level)].node;
    int cnt = n->count();
    int m;
    if (n->leaf())
        m = leafSplitPoint(*n, L, tg.pad, inserted);
    else
        m = (inserted == cnt - 1 && n->right == kNone) ? cnt - 1 : cnt / 2;
    if (m < 1 || m >= cnt) {
        f = who(t) + ": cannot split the page at " + num(n->off);
        return false;
    }
    Node* r = newNode(t, uint16_t(n->attr & ~kRootBit), f);
    if (!r)
        return false;
    r->keys.assign(n->keys, size_t(m) * size_t(L), std::string::npos);
    r->recs.assign(n->recs.begin() + m, n->recs.end());
    n->keys.resize(size_t(m) * size_t(L));
    n->recs.resize(size_t(m));
    if (!n->leaf()) {
        r->kids.assign(n->kids.begin() + m, n->kids.end());
        n->kids.resize(size_t(m));
    }
    r->left = n->off;
    r->right = n->right;
    if (n->right != kNone) {
        Node* s = load(t, n->right);
        if (!s) {
            f = fault;
            return false;
        }
        s->left = r->off;
        touch(s);
    }
    n->right = r->off;
    touch(n);

    if (level == 0) {
        Node* root = newNode(t, kRootBit, f);
        if (!root)
            return false;
        n->attr = uint16_t(n->attr & ~kRootBit);
        r->attr = n->attr;
        root->keys.append(n->key(n->count() - 1, L));
        root->keys.append(r->key(r->count() - 1, L));
        root->recs = {n->recs.back(), r->recs.back()};
        root->kids = {n->off, r->off};
        tg.root = root->off;
        tg.rootDirty = true;
        return true;
    }
    Node* par = p[size_t(level) - 1].node;
    int j = p[size_t(level) - 1].idx;
    par->keys.replace(size_t(j) * size_t(L), size_t(L), n->key(n->count() - 1, L));
    par->recs[size_t(j)] = n->recs.back();
    par->keys.insert(size_t(j + 1) * size_t(L), r->key(r->count() - 1, L));
    par->recs.insert(par->recs.begin() + j + 1, r->recs.back());
    par->kids.insert(par->kids.begin() + j + 1, r->off);
    touch(par);
    if (par->count() > branchCapacity(L))
        return split(t, p, level - 1, j + 1, f);
    return true;
}

// path[level] became empty: unlink it, free it and take it out of its parent.
bool CdxIndex::Impl::dropNode(int t, Path& p, int level, std::string& f)
{
    int L = keyLenOf(t);
    Node* n = p[size_t(level)].node;
    if (n->left != kNone) {
        Node* l = load(t, n->left);
        if (!l) {
            f = fault;
            return false;
        }
        l->right = n->right;
        touch(l);
    }
    if (n->right != kNone) {
        Node* r = load(t, n->right);
        if (!r) {
            f = fault;
            return false;
        }
        r->left = n->left;
        touch(r);
    }
    if (!freePage(n, f))
        return false;
    p[size_t(level)].node = nullptr;
    p.resize(size_t(level));

    Node* par = p[size_t(level) - 1].node;
    int j = p[size_t(level) - 1].idx;
    par->keys.erase(size_t(j) * size_t(L), size_t(L));
    par->recs.erase(par->recs.begin() + j);
    par->kids.erase(par->kids.begin() + j);
    touch(par);
    if (par->count() == 0) {
        if (level - 1 == 0) {   // the root: the tag is empty now
            par->clear();
            par->attr = kRootBit | kLeafBit;
            par->left = par->right = kNone;
            return true;
        }
        return dropNode(t, p, level - 1, f);
    }
    if (j == par->count())
        propagateLast(t, p, level - 1);
    return true;
}

// A root branch with a single child hands the root over to it.
bool CdxIndex::Impl::collapseRoot(int t, std::string& f)
{
    TagInfo& tg = tags[size_t(t)];
    for (int guard = 0; guard < kMaxDepth; ++guard) {
        Node* r = load(t, tg.root);
        if (!r) {
            f = fault;
            return false;
        }
        if (r->leaf() || r->count() != 1)
            return true;
        Node* c = load(t, r->kids[0]);
        if (!c) {
            f = fault;
            return false;
        }
        c->attr = uint16_t(c->attr | kRootBit);
        c->left = c->right = kNone;
        touch(c);
        tg.root = c->off;
        tg.rootDirty = true;
        if (!freePage(r, f))
            return false;
    }
    return true;
}

bool CdxIndex::Impl::writeDirty(std::string& f)
{
    bool ok = true;
    auto failWith = [&](const std::string& what) {
        if (ok)
            f = what;
        ok = false;
    };
    std::vector<uint32_t> keep;
    uint8_t buf[kPageSize];
    for (uint32_t off : dirty) {
        auto it = cache.find(off);
        if (it == cache.end() || !it->second->dirty)
            continue;
        Node& n = *it->second;
        if (!encodeNode(n, keyLenOf(n.tag), padOf(n.tag), buf)) {
            failWith(who(n.tag) + ": page at " + num(off) + " cannot be encoded");
            keep.push_back(off);
            continue;
        }
        if (!pwriteAll(*files, fd, buf, kPageSize, off)) {
            failWith("cannot write the index: " + sysError());
            keep.push_back(off);
            continue;
        }
        n.dirty = false;
        n.notes.clear();
    }
    const bool wrote = !dirty.empty() || headerDirty;
    dirty.swap(keep);
    for (TagInfo& tg : tags) {
        if (!tg.rootDirty)
            continue;
        uint8_t b[4];
        wr32(b, tg.root);
        if (pwriteAll(*files, fd, b, 4, tg.header))
            tg.rootDirty = false;
        else
            failWith("cannot write the index: " + sysError());
    }
    if (headerDirty) {
        wr32(header + 4, freeHead == kNone ? 0 : freeHead);
        if (pwriteAll(*files, fd, header + 4, 4, 4))
            headerDirty = false;
        else
            failWith("cannot write the index: " + sysError());
    }
    if (wrote) {
        counterDue = true;
        noteOwnWrite();
    }
    return ok;
}

// ---------------------------------------------------------------- opening

bool CdxIndex::Impl::readDirectory(uint32_t off, int depth, std::vector<std::pair<std::string, uint32_t>>& out,
                                   std::unordered_set<uint32_t>& seen, std::string& f)
{
    if (depth > kMaxDepth || !seen.insert(off).second) {
        f = "tag directory cannot be read: its pages loop";
        return false;
    }
    Node* n = load(-1, off);
    if (!n) {
        f = "tag directory cannot be read: " + fault;
        return false;
    }
    if (!n->leaf()) {
        std::vector<uint32_t> kids = n->kids;
        for (uint32_t k : kids)
            if (!readDirectory(k, depth + 1, out, seen, f))
                return false;
        return true;
    }
    for (int i = 0; i < n->count(); ++i) {
        std::string name(n->key(i, dirKeyLen));
        while (!name.empty() && (name.back() == ' ' || name.back() == '\0'))
            name.pop_back();
        out.emplace_back(name, n->recs[size_t(i)]);
    }
    return true;
}

void CdxIndex::Impl::readTag(TagInfo& tg, const FieldList& fields, const CodePage* page)
{
    uint8_t h[kHeaderSize];
    if (tg.header % kPageSize != 0 || tg.header < kHeaderSize || uint64_t(tg.header) + kHeaderSize > size ||
        !preadAll(*files, fd, h, kHeaderSize, tg.header)) {
        tg.broken = true;
        tg.why = "its header at " + num(tg.header) + " lies outside the file";
        return;
    }
    tg.root = rd32(h);
    tg.keyLen = rd16(h + 12);
    tg.options = h[14];
    tg.signature = h[15];
    if (tg.keyLen < 1 || tg.keyLen > kMaxKeyLength) {
        tg.broken = true;
        tg.why = "its key length " + std::to_string(tg.keyLen) + " is impossible";
        tg.keyLen = 1;
        return;
    }
    tg.def.unique = (tg.options & kOptUnique) != 0;
    tg.def.descending = rd16(h + 502) != 0;
    const uint8_t* pool = h + 512;
    auto poolText = [&](int start, int len) {
        std::string s;
        if (start < 0 || start >= 512 || len <= 0)
            return s;
        int end = std::min(512, start + len);
        s.assign(reinterpret_cast<const char*>(pool + start), size_t(end - start));
        size_t z = s.find('\0');
        if (z != std::string::npos)
            s.resize(z);
        return s;
    };
    tg.def.keyExpr = poolText(rd16(h + 508), rd16(h + 510));
    tg.def.forExpr = poolText(rd16(h + 504), rd16(h + 506));
    tg.hasFor = tg.def.forExpr.find_first_not_of(' ') != std::string::npos;

    std::string err;
    tg.usable = true;
    if (!tg.key.compile(tg.def.keyExpr, fields, err, page)) {
        tg.usable = false;
        tg.why = "key expression \"" + tg.def.keyExpr + "\" cannot be evaluated: " + err;
    } else {
        tg.type = tg.key.keyType();
        int want = tg.key.keyLength();
        if (tg.type != 'C' && want != tg.keyLen) {
            tg.usable = false;
            tg.why = "key length " + std::to_string(tg.keyLen) + " in the file does not suit the key expression";
        }
    }
    tg.pad = tg.type == 'C' ? ' ' : '\0';
    if (tg.usable && tg.hasFor) {
        if (!tg.forx.compile(tg.def.forExpr, fields, err, page)) {
            tg.usable = false;
            tg.why = "FOR expression \"" + tg.def.forExpr + "\" cannot be evaluated: " + err;
        } else if (tg.forx.type() != ExprType::Logical) {
            tg.usable = false;
            tg.why = "FOR expression \"" + tg.def.forExpr + "\" is not a logical value";
        }
    }
}

// ---------------------------------------------------------------- public

CdxIndex::CdxIndex() : d(std::make_unique<Impl>()) {}

CdxIndex::~CdxIndex()
{
    std::string f;
    if (d && d->fd >= 0)
        flush(f);
}

std::unique_ptr<CdxIndex> CdxIndex::open(const std::string& path, const FieldList& fields, std::string& fault,
                                         bool readOnly, FileLayer& files, const CodePage* page)
{
    std::unique_ptr<CdxIndex> idx(new CdxIndex);
    Impl& m = *idx->d;
    m.files = &files;
    m.path = path;
    m.readOnly = readOnly;
    m.fd = files.open(path, readOnly ? O_RDONLY : O_RDWR);
    if (m.fd < 0 && !readOnly && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        m.readOnly = true;
        m.fd = files.open(path, O_RDONLY);
    }
    if (m.fd < 0) {
        fault = "cannot open " + path + ": " + sysError();
        return nullptr;
    }
    struct stat st;
    if (::fstat(m.fd, &st) != 0) {
        fault = "cannot open " + path + ": " + sysError();
        return nullptr;
    }
    m.size = uint64_t(st.st_size);
    m.seen = st.st_mtim;
    if (m.size < kHeaderSize || !preadAll(*m.files, m.fd, m.header, kHeaderSize, 0)) {
        fault = "the file header cannot be read (the file is too short)";
        return nullptr;
    }
    m.dirKeyLen = rd16(m.header + 12);
    if (m.dirKeyLen < 1 || m.dirKeyLen > kMaxKeyLength) {
        fault = "tag directory cannot be read: its key length " + std::to_string(m.dirKeyLen) + " is impossible";
        return nullptr;
    }
    m.freeHead = rd32(m.header + 4);
    if (m.freeHead == kNone)
        m.freeHead = 0;
    m.interrupted = std::memcmp(m.header + kMarkerPos, kMarker, sizeof kMarker) == 0 && !m.markHeldElsewhere();

    std::vector<std::pair<std::string, uint32_t>> dir;
    std::unordered_set<uint32_t> seen;
    if (!m.readDirectory(rd32(m.header), 0, dir, seen, fault))
        return nullptr;
    for (size_t i = 1; i < dir.size(); ++i) {
        if (dir[i - 1].first >= dir[i].first) {
            m.dirFaults.push_back("tag directory: names not in order (" + dir[i - 1].first + " before " +
                                  dir[i].first + ")");
        }
    }
    for (auto& [name, off] : dir) {
        m.headerPages.insert(off);
        m.headerPages.insert(off + kPageSize);
    }
    for (auto& [name, off] : dir) {
        TagInfo tg;
        tg.def.name = name;
        tg.header = off;
        m.readTag(tg, fields, page);
        m.tags.push_back(std::move(tg));
    }
    return idx;
}

int CdxIndex::tagCount() const { return int(d->tags.size()); }

const TagSpec& CdxIndex::tag(int t) const
{
    static const TagSpec none;
    return t >= 0 && t < tagCount() ? d->tags[size_t(t)].def : none;
}

int CdxIndex::findTag(std::string_view name) const
{
    std::string u = upperText(name);
    for (size_t i = 0; i < d->tags.size(); ++i)
        if (upperText(d->tags[i].def.name) == u)
            return int(i);
    return -1;
}

char CdxIndex::keyType(int t) const { return t >= 0 && t < tagCount() ? d->tags[size_t(t)].type : 'C'; }

int CdxIndex::keyLength(int t) const { return t >= 0 && t < tagCount() ? d->tags[size_t(t)].keyLen : 0; }

bool CdxIndex::usable(int t, std::string* why) const
{
    if (t < 0 || t >= tagCount()) {
        if (why)
            *why = "there is no such tag";
        return false;
    }
    const TagInfo& tg = d->tags[size_t(t)];
    if (tg.broken || !tg.usable) {
        if (why)
            *why = tg.why;
        return false;
    }
    return true;
}

std::optional<std::string> CdxIndex::recordKey(int t, RecordPtr rec) const
{
    if (!usable(t, nullptr) || !rec)
        return std::nullopt;
    const TagInfo& tg = d->tags[size_t(t)];
    if (tg.hasFor && !tg.forx.isTrue(rec))
        return std::nullopt;
    std::string k;
    tg.key.makeKey(rec, k, tg.keyLen);
    return k;
}

std::optional<std::string> CdxIndex::seekKey(int t, std::string_view text) const
{
    if (t < 0 || t >= tagCount())
        return std::nullopt;
    const TagInfo& tg = d->tags[size_t(t)];
    auto trimmed = [](std::string_view s) {
        size_t a = s.find_first_not_of(' ');
        if (a == std::string_view::npos)
            return std::string_view();
        size_t b = s.find_last_not_of(' ');
        return s.substr(a, b - a + 1);
    };
    switch (tg.type) {
    case 'N': {
        std::string_view s = trimmed(text);
        if (s.empty())
            return encodeNumberKey(0);
        bool neg = false;
        if (s[0] == '-' || s[0] == '+') {
            neg = s[0] == '-';
            s.remove_prefix(1);
        }
        double v = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v))
            return std::nullopt;
        return encodeNumberKey(neg ? -v : v);
    }
    case 'D': {
        std::string_view s = trimmed(text);
        if (s.empty() || s == "00000000")
            return encodeNumberKey(0);
        if (s.size() != 8)
            return std::nullopt;
        int64_t jd = julianFromText(s);
        if (jd == 0)
            return std::nullopt;
        return encodeNumberKey(double(jd));
    }
    case 'L': {
        std::string u = upperText(trimmed(text));
        if (u == "T" || u == ".T." || u == "Y" || u == ".Y.")
            return std::string("T");
        if (u == "F" || u == ".F." || u == "N" || u == ".N.")
            return std::string("F");
        return std::nullopt;
    }
    default:
        if (text.size() > size_t(tg.keyLen))
            return std::nullopt;
        std::string k(text);
        k.resize(size_t(tg.keyLen), ' ');
        return k;
    }
}

IdxStatus CdxIndex::first(int t, IndexEntry& out)
{
    if (!d->tagOk(t))
        return IdxStatus::Broken;
    Path p;
    IdxStatus st = d->tags[size_t(t)].def.descending ? d->ascLast(t, p) : d->ascFirst(t, p);
    return d->finish(t, st, p, out);
}

IdxStatus CdxIndex::last(int t, IndexEntry& out)
{
    if (!d->tagOk(t))
        return IdxStatus::Broken;
    Path p;
    IdxStatus st = d->tags[size_t(t)].def.descending ? d->ascFirst(t, p) : d->ascLast(t, p);
    return d->finish(t, st, p, out);
}

IdxStatus CdxIndex::next(int t, const IndexEntry& from, IndexEntry& out)
{
    if (!d->tagOk(t))
        return IdxStatus::Broken;
    return d->stepFrom(t, from, !d->tags[size_t(t)].def.descending, out);
}

IdxStatus CdxIndex::prev(int t, const IndexEntry& from, IndexEntry& out)
{
    if (!d->tagOk(t))
        return IdxStatus::Broken;
    return d->stepFrom(t, from, d->tags[size_t(t)].def.descending, out);
}

IdxStatus CdxIndex::seekNear(int t, const std::string& key, IndexEntry& out)
{
    if (!d->tagOk(t))
        return IdxStatus::Broken;
    std::string k = d->normKey(t, key);
    Path p;
    IdxStatus st = d->tags[size_t(t)].def.descending ? d->ascBefore(t, k, kNone, true, p)
                                                       : d->ascAtOrAfter(t, k, 0, false, p);
    return d->finish(t, st, p, out);
}

IdxStatus CdxIndex::seek(int t, const std::string& key, IndexEntry& out)
{
    if (!d->tagOk(t))
        return IdxStatus::Broken;
    if (key.size() > size_t(d->tags[size_t(t)].keyLen))
        return IdxStatus::End;
    std::string k = d->normKey(t, key);
    IndexEntry e;
    IdxStatus st = seekNear(t, k, e);
    if (st != IdxStatus::Ok)
        return st;
    if (e.key != k)
        return IdxStatus::End;
    out = std::move(e);
    return IdxStatus::Ok;
}

bool CdxIndex::insert(int t, const std::string& key, uint32_t recno, std::string& fault)
{
    Impl& m = *d;
    if (!m.changeable(t, key, fault))
        return false;
    TagInfo& tg = m.tags[size_t(t)];
    int L = tg.keyLen;
    Path p;
    if (tg.def.unique) {
        IdxStatus st = m.ascAtOrAfter(t, key, 0, false, p);
        if (st == IdxStatus::Broken) {
            fault = m.fault;
            return false;
        }
        if (st == IdxStatus::Ok && p.back().node->key(p.back().idx, L) == key)
            return true;
    }
    IdxStatus st = m.descend(t, key, recno, false, p);
    if (st == IdxStatus::Broken) {
        fault = m.fault;
        return false;
    }
    Node* leaf = p.back().node;
    int idx = p.back().idx;
    if (st == IdxStatus::Ok && idx < leaf->count() && compareAt(*leaf, idx, L, key, recno) == 0)
        return true;
    if (!m.beginChange(fault))
        return false;
    ++tg.generation;
    if (st == IdxStatus::End) {   // a root branch without keys: the tag is empty
        leaf->clear();
        leaf->attr = kRootBit | kLeafBit;
        leaf->left = leaf->right = kNone;
        idx = 0;
    }
    leaf->keys.insert(size_t(idx) * size_t(L), key);
    leaf->recs.insert(leaf->recs.begin() + idx, recno);
    m.touch(leaf);
    int level = int(p.size()) - 1;
    if (idx == leaf->count() - 1)
        m.propagateLast(t, p, level);
    bool ok = true;
    if (!leafFits(*leaf, L, tg.pad))
        ok = m.split(t, p, level, idx, fault);
    std::string wf;
    if (!m.writeDirty(wf) && ok) {
        fault = wf;
        ok = false;
    }
    return ok;
}

bool CdxIndex::remove(int t, const std::string& key, uint32_t recno, std::string& fault)
{
    Impl& m = *d;
    if (!m.changeable(t, key, fault))
        return false;
    TagInfo& tg = m.tags[size_t(t)];
    int L = tg.keyLen;
    Path p;
    IdxStatus st = m.ascAtOrAfter(t, key, recno, false, p);
    if (st == IdxStatus::Broken) {
        fault = m.fault;
        return false;
    }
    if (st != IdxStatus::Ok || compareAt(*p.back().node, p.back().idx, L, key, recno) != 0) {
        fault = m.who(t) + ": record " + num(recno) + " has no entry with key " + m.describeKey(t, key);
        return false;
    }
    if (!m.beginChange(fault))
        return false;
    ++tg.generation;
    Node* leaf = p.back().node;
    int idx = p.back().idx;
    int level = int(p.size()) - 1;
    leaf->keys.erase(size_t(idx) * size_t(L), size_t(L));
    leaf->recs.erase(leaf->recs.begin() + idx);
    m.touch(leaf);
    bool ok = true;
    if (leaf->count() == 0 && level > 0) {
        ok = m.dropNode(t, p, level, fault);
    } else {
        if (idx == leaf->count() && leaf->count() > 0)
            m.propagateLast(t, p, level);
        // the key after the removed one may now repeat fewer bytes
        if (!leafFits(*leaf, L, tg.pad))
            ok = m.split(t, p, level, -1, fault);
    }
    if (ok)
        ok = m.collapseRoot(t, fault);
    std::string wf;
    if (!m.writeDirty(wf) && ok) {
        fault = wf;
        ok = false;
    }
    return ok;
}

bool CdxIndex::foundInterrupted() const { return d->interrupted; }

bool CdxIndex::publish(std::string& fault)
{
    Impl& m = *d;
    if (m.fd < 0 || !m.counterDue || m.readOnly)
        return true;
    // The file header's version counter goes up once a change is whole, so
    // that another program keeping the index's pages in memory sees that
    // they changed.
    wr32(m.header + 8, rd32(m.header + 8) + 1);
    if (!pwriteAll(*m.files, m.fd, m.header + 8, 4, 8)) {
        fault = "cannot write the index: " + sysError();
        return false;
    }
    m.counterDue = false;
    m.noteOwnWrite();
    return true;
}

bool CdxIndex::flush(std::string& fault)
{
    Impl& m = *d;
    if (m.fd < 0)
        return true;
    bool ok = m.writeDirty(fault);
    std::string pf;
    if (!publish(pf) && ok) {
        fault = pf;
        ok = false;
    }
    if (m.marked && !m.readOnly) {
        if (m.files->sync(m.fd) != 0) {
            if (ok)
                fault = "cannot sync the index: " + sysError();
            return false;
        }
        if (ok && m.markHeldElsewhere()) {
            // Another program has it marked too: the last one to finish
            // takes the mark away, and one that dies before leaves it.
            m.marked = false;
            m.holdInUse(F_UNLCK);
        } else if (ok) {
            std::memset(m.header + kMarkerPos, 0, sizeof kMarker);
            if (!pwriteAll(*m.files, m.fd, m.header + kMarkerPos, sizeof kMarker, kMarkerPos)) {
                fault = "cannot write the index: " + sysError();
                return false;
            }
            m.marked = false;
            m.holdInUse(F_UNLCK);
            m.noteOwnWrite();
        }
    }
    return ok;
}

bool CdxIndex::markInterrupted(std::string& fault) { return d->fd >= 0 && d->beginChange(fault); }

bool CdxIndex::changedOnDisk()
{
    Impl& m = *d;
    if (m.fd < 0)
        return false;
    struct stat st;
    if (::fstat(m.fd, &st) != 0 || st.st_nlink == 0)
        return true;
    if (st.st_mtim.tv_sec > m.seen.tv_sec || (st.st_mtim.tv_sec == m.seen.tv_sec && st.st_mtim.tv_nsec > m.seen.tv_nsec))
        return true;
    // A change within the clock's last tick shows in the header: the root
    // of the tag directory, the free list and the version counter.
    uint8_t head[16];
    return !preadAll(*m.files, m.fd, head, sizeof head, 0) || std::memcmp(head, m.header, sizeof head) != 0;
}

void CdxIndex::abandon()
{
    if (d->fd < 0)
        return;
    d->files->close(d->fd);
    d->fd = -1;
}

bool CdxIndex::close(std::string& fault)
{
    if (d->fd < 0)
        return true;
    bool ok = flush(fault);
    d->files->close(d->fd);
    d->fd = -1;
    for (TagInfo& tg : d->tags)
        tg.cursor.clear();
    d->cache.clear();
    return ok;
}

const std::string& CdxIndex::lastFault() const { return d->fault; }

// ---------------------------------------------------------------- build

namespace {

// Fills leaves left to right, then builds branch levels from each child's
// last entry. Children and siblings are node numbers in `nodes`, turned into
// offsets when the file is laid out; the root is the last node.
void buildTree(const Entries& e, int L, char pad, std::vector<NodeData>& nodes)
{
    nodes.clear();
    size_t n = e.recs.size();
    if (n == 0) {
        NodeData leaf;
        leaf.attr = kLeafBit | kRootBit;
        nodes.push_back(std::move(leaf));
        return;
    }
    std::vector<uint32_t> level;
    size_t i = 0;
    while (i < n) {
        size_t start = i;
        int stored = 0, cnt = 0;
        uint32_t maxRec = 0;
        const char* prev = nullptr;
        while (i < n) {
            const char* k = e.keys.data() + i * size_t(L);
            int piece = storedKeyBytes(prev, k, L, pad);
            uint32_t mr = std::max(maxRec, e.recs[i]);
            int bytes = leafLayout(L, mr).bytes;
            if (cnt > 0 && stored + piece + (cnt + 1) * bytes > kLeafArea)
                break;
            stored += piece;
            maxRec = mr;
            prev = k;
            ++cnt;
            ++i;
        }
        NodeData leaf;
        leaf.attr = kLeafBit;
        leaf.keys.assign(e.keys, start * size_t(L), size_t(cnt) * size_t(L));
        leaf.recs.assign(e.recs.begin() + long(start), e.recs.begin() + long(i));
        level.push_back(uint32_t(nodes.size()));
        nodes.push_back(std::move(leaf));
    }
    int cap = branchCapacity(L);
    for (;;) {
        for (size_t k = 0; k < level.size(); ++k) {
            NodeData& nd = nodes[level[k]];
            nd.left = k > 0 ? level[k - 1] : kNone;
            nd.right = k + 1 < level.size() ? level[k + 1] : kNone;
        }
        if (level.size() == 1)
            break;
        std::vector<uint32_t> up;
        for (size_t k = 0; k < level.size(); k += size_t(cap)) {
            NodeData b;
            b.attr = kBranch;
            for (size_t c = k; c < std::min(level.size(), k + size_t(cap)); ++c) {
                const NodeData& ch = nodes[level[c]];
                b.keys.append(ch.key(ch.count() - 1, L));
                b.recs.push_back(ch.recs.back());
                b.kids.push_back(level[c]);
            }
            up.push_back(uint32_t(nodes.size()));
            nodes.push_back(std::move(b));
        }
        level.swap(up);
    }
    // the root is the node made last
    nodes[level[0]].attr = uint16_t(nodes[level[0]].attr | kRootBit);
}

void placeTree(std::vector<NodeData>& nodes, uint32_t base)
{
    auto at = [base](uint32_t i) { return i == kNone ? kNone : base + i * kPageSize; };
    for (NodeData& n : nodes) {
        n.left = at(n.left);
        n.right = at(n.right);
        for (uint32_t& k : n.kids)
            k = at(k);
    }
}

void writeHeader(uint8_t* h, uint32_t root, int keyLen, uint8_t options, bool descending, const std::string& keyExpr,
                 const std::string& forExpr)
{
    std::memset(h, 0, kHeaderSize);
    wr32(h, root);
    wr16(h + 12, uint16_t(keyLen));
    h[14] = options;
    h[15] = 0x01;
    wr16(h + 502, descending ? 1 : 0);
    wr16(h + 504, uint16_t(keyExpr.size() + 1));
    wr16(h + 506, uint16_t(forExpr.size() + 1));
    wr16(h + 508, 0);
    wr16(h + 510, uint16_t(keyExpr.size() + 1));
    std::memcpy(h + 512, keyExpr.data(), keyExpr.size());
    std::memcpy(h + 512 + keyExpr.size() + 1, forExpr.data(), forExpr.size());
}

}  // namespace

bool CdxIndex::build(const std::string& path, const std::vector<TagSpec>& defs, const FieldList& fields,
                     uint32_t count, const std::function<RecordPtr(uint32_t)>& recordAt, std::string& fault,
                     FileLayer& io, const CodePage* page)
{
    struct Work {
        TagSpec def;
        KeyExpr key, forx;
        bool hasFor = false;
        int L = 0;
        char pad = ' ';
        Entries entries;
        std::vector<NodeData> nodes;
        uint32_t header = 0, base = 0;
    };
    std::vector<Work> work(defs.size());
    for (size_t i = 0; i < defs.size(); ++i) {
        Work& w = work[i];
        w.def = defs[i];
        w.def.name = upperText(w.def.name);
        const std::string tagName = "tag " + w.def.name + ": ";
        if (!validTagName(w.def.name)) {
            fault = "tag name \"" + defs[i].name + "\" is not 1 to 10 letters, digits or '_'";
            return false;
        }
        for (size_t j = 0; j < i; ++j)
            if (work[j].def.name == w.def.name) {
                fault = "two tags are named " + w.def.name;
                return false;
            }
        std::string err;
        if (!w.key.compile(w.def.keyExpr, fields, err, page)) {
            fault = tagName + "key expression \"" + w.def.keyExpr + "\": " + err;
            return false;
        }
        w.L = w.key.keyLength();
        if (w.L < 1 || w.L > kMaxKeyLength) {
            fault = tagName + "keys of " + std::to_string(w.L) + " bytes; 1 to 240 are possible";
            return false;
        }
        w.pad = w.key.keyType() == 'C' ? ' ' : '\0';
        w.hasFor = w.def.forExpr.find_first_not_of(' ') != std::string::npos;
        if (!w.hasFor)
            w.def.forExpr.clear();
        if (w.hasFor) {
            if (!w.forx.compile(w.def.forExpr, fields, err, page)) {
                fault = tagName + "FOR expression \"" + w.def.forExpr + "\": " + err;
                return false;
            }
            if (w.forx.type() != ExprType::Logical) {
                fault = tagName + "FOR expression \"" + w.def.forExpr + "\" is not a logical value";
                return false;
            }
        }
        if (w.def.keyExpr.size() + w.def.forExpr.size() + 2 > 512 ||
            w.def.keyExpr.find('\0') != std::string::npos || w.def.forExpr.find('\0') != std::string::npos) {
            fault = tagName + "the expressions are too long to store";
            return false;
        }
    }
    std::sort(work.begin(), work.end(), [](const Work& a, const Work& b) { return a.def.name < b.def.name; });

    // keys
    std::string key;
    for (Work& w : work) {
        std::string keys;
        std::vector<uint32_t> recs;
        keys.reserve(size_t(count) * size_t(w.L));
        recs.reserve(count);
        for (uint32_t r = 1; r <= count; ++r) {
            RecordPtr rec = recordAt(r);
            if (!rec) {
                fault = "record " + num(r) + " cannot be read";
                return false;
            }
            if (w.hasFor && !w.forx.isTrue(rec))
                continue;
            w.key.makeKey(rec, key, w.L);
            keys += key;
            recs.push_back(r);
        }
        std::vector<uint32_t> order(recs.size());
        for (uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        const size_t L = size_t(w.L);
        const char* kd = keys.data();
        std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            int c = std::memcmp(kd + a * L, kd + b * L, L);
            return c ? c < 0 : recs[a] < recs[b];
        });
        Entries& e = w.entries;
        e.keys.reserve(keys.size());
        e.recs.reserve(recs.size());
        for (uint32_t i : order) {
            if (w.def.unique && !e.recs.empty() && std::memcmp(e.keys.data() + e.keys.size() - L, kd + i * L, L) == 0)
                continue;   // a unique tag keeps the first record of a key
            e.keys.append(kd + i * L, L);
            e.recs.push_back(recs[i]);
        }
        buildTree(e, w.L, w.pad, w.nodes);
    }

    // layout: file header, tag directory, tag headers, each tag's pages
    Entries dir;
    for (const Work& w : work) {
        std::string k = w.def.name;
        k.resize(kDirKeyLen, ' ');
        dir.keys += k;
        dir.recs.push_back(0);
    }
    std::vector<NodeData> dirNodes;
    size_t dirPages = 1;
    for (int round = 0; round < 16; ++round) {
        uint32_t h = kHeaderSize + uint32_t(dirPages) * kPageSize;
        for (size_t i = 0; i < work.size(); ++i)
            dir.recs[i] = h + uint32_t(i) * kHeaderSize;
        buildTree(dir, kDirKeyLen, ' ', dirNodes);
        if (dirNodes.size() == dirPages)
            break;
        dirPages = dirNodes.size();
    }
    uint64_t pos = kHeaderSize + uint64_t(dirPages) * kPageSize;
    for (Work& w : work) {
        w.header = uint32_t(pos);
        pos += kHeaderSize;
    }
    for (Work& w : work) {
        w.base = uint32_t(pos);
        pos += uint64_t(w.nodes.size()) * kPageSize;
    }
    if (pos >= kNone) {
        fault = "the index would be larger than 4 GB";
        return false;
    }
    placeTree(dirNodes, kHeaderSize);

    std::vector<uint8_t> image(pos, 0);
    writeHeader(image.data(), kHeaderSize + uint32_t(dirNodes.size() - 1) * kPageSize, kDirKeyLen,
                kOptStructure | kOptCompound | kOptCompact, false, "", "");
    for (size_t i = 0; i < dirNodes.size(); ++i) {
        if (!encodeNode(dirNodes[i], kDirKeyLen, ' ', image.data() + kHeaderSize + i * kPageSize)) {
            fault = "the tag directory cannot be encoded";
            return false;
        }
    }
    for (Work& w : work) {
        placeTree(w.nodes, w.base);
        uint8_t opt = uint8_t(kOptCompound | kOptCompact | (w.hasFor ? kOptFor : 0) | (w.def.unique ? kOptUnique : 0));
        uint32_t root = w.base + uint32_t(w.nodes.size() - 1) * kPageSize;
        writeHeader(image.data() + w.header, root, w.L, opt, w.def.descending, w.def.keyExpr, w.def.forExpr);
        for (size_t i = 0; i < w.nodes.size(); ++i) {
            if (!encodeNode(w.nodes[i], w.L, w.pad, image.data() + w.base + i * kPageSize)) {
                fault = "tag " + w.def.name + ": a page cannot be encoded";
                return false;
            }
        }
    }

    FileLayer* files = &io;
    // `path` is a temporary file its caller made: written through no link
    // planted there since.
    int fd = files->open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        fault = "cannot create " + path + ": " + sysError();
        return false;
    }
    bool ok = pwriteAll(*files, fd, image.data(), image.size(), 0) && files->sync(fd) == 0;
    if (!ok)
        fault = "cannot write " + path + ": " + sysError();
    if (files->close(fd) != 0 && ok) {
        fault = "cannot write " + path + ": " + sysError();
        ok = false;
    }
    return ok;
}

// ---------------------------------------------------------------- check

std::string CdxIndex::Impl::describeKey(int t, std::string_view key) const
{
    char type = t < 0 ? 'C' : tags[size_t(t)].type;
    if (type == 'N' || type == 'D') {
        double v = decodeNumberKey(key);
        if (type == 'D')
            return v == 0 ? std::string("(blank date)") : textFromJulian(julianOf(v));
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15g", v);
        return buf;
    }
    std::string s(key);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    for (char& c : s)
        if (uint8_t(c) < 32)
            c = '?';
    return "\"" + s + "\"";
}

void CdxIndex::Impl::checkTag(int t, uint32_t count, const std::function<RecordPtr(uint32_t)>& recordAt,
                              std::unordered_set<uint32_t>& used, std::vector<std::string>& out)
{
    TagInfo& tg = tags[size_t(t)];
    const std::string name = who(t) + ": ";
    size_t lines = 0;
    auto add = [&](const std::string& s) {
        if (lines < kMaxFaultLines)
            out.push_back(name + s);
        else if (lines == kMaxFaultLines)
            out.push_back(name + "further faults not listed");
        ++lines;
    };
    if (tg.broken) {
        add(tg.why);
        return;
    }
    if ((tg.options & (kOptCompact | kOptCompound)) != (kOptCompact | kOptCompound))
        add("options byte lacks the compact and compound bits");
    if (bool(tg.options & kOptFor) != tg.hasFor)
        add(tg.hasFor ? "has a FOR expression but its options byte does not say so"
                      : "options byte announces a FOR expression but none is stored");
    if (tg.signature != 0x01)
        add("header signature is not 1");

    const int L = tg.keyLen;
    std::vector<std::vector<Node*>> levels;
    Entries entries;
    int leafDepth = -1;
    bool orderFault = false;
    uint64_t budget = size / kPageSize + 1;

    std::function<void(uint32_t, int, bool)> visit = [&](uint32_t off, int depth, bool isRoot) {
        if (depth >= kMaxDepth) {
            add("the tree is deeper than " + std::to_string(kMaxDepth) + " levels");
            return;
        }
        if (budget == 0 || !used.insert(off).second) {
            add("page at " + num(off) + " is reached twice");
            return;
        }
        --budget;
        Node* n = load(t, off);
        if (!n) {
            std::string f = fault;
            if (f.compare(0, name.size(), name) == 0)
                f.erase(0, name.size());
            add(f);
            return;
        }
        if (levels.size() <= size_t(depth))
            levels.resize(size_t(depth) + 1);
        levels[size_t(depth)].push_back(n);
        if (n->root() != isRoot)
            add("page at " + num(off) + (isRoot ? " is the root but not marked so" : " is marked as a root"));
        if (!n->notes.empty())
            add("page at " + num(off) + ": " + n->notes.substr(0, n->notes.size() - 2));
        if (n->leaf()) {
            if (leafDepth < 0)
                leafDepth = depth;
            else if (leafDepth != depth)
                add("leaf at " + num(off) + " is at another depth than the other leaves");
            if (n->count() == 0 && !isRoot)
                add("leaf at " + num(off) + " holds no keys");
            for (int i = 0; i < n->count(); ++i) {
                std::string_view k = n->key(i, L);
                uint32_t r = n->recs[size_t(i)];
                if (!entries.recs.empty() && !orderFault) {
                    std::string_view pk(entries.keys.data() + entries.keys.size() - size_t(L), size_t(L));
                    int c = compareEntry(pk, entries.recs.back(), k, r);
                    if (c >= 0) {
                        add("keys out of order at the leaf at " + num(off));
                        orderFault = true;
                    } else if (tg.def.unique && pk == k) {
                        add("unique tag holds key " + describeKey(t, k) + " twice");
                    }
                }
                entries.keys.append(k);
                entries.recs.push_back(r);
            }
            return;
        }
        if (n->count() == 0) {
            add("branch page at " + num(off) + " holds no keys");
            return;
        }
        std::vector<uint32_t> kids = n->kids;
        for (size_t i = 0; i < kids.size(); ++i) {
            visit(kids[i], depth + 1, false);
            auto it = cache.find(kids[i]);
            if (it == cache.end() || it->second->tag != t)
                continue;
            const Node& c = *it->second;
            if (c.count() == 0)
                continue;
            std::string_view bk = n->key(int(i), L);
            std::string_view ck = c.key(c.count() - 1, L);
            if (bk != ck || n->recs[i] != c.recs.back()) {
                std::string s = "branch entry " + num(i + 1) + " of the page at " + num(off) +
                                " differs from the last key of its child";
                if (bk != ck && tg.pad == ' ') {
                    std::string a(bk), b(ck);
                    std::replace(a.begin(), a.end(), '\0', ' ');
                    if (a == b)
                        s += " (padded with NUL instead of blanks)";
                }
                add(s);
            }
        }
    };
    visit(tg.root, 0, true);

    for (size_t lv = 0; lv < levels.size(); ++lv) {
        const std::vector<Node*>& row = levels[lv];
        for (size_t k = 0; k < row.size(); ++k) {
            uint32_t wantLeft = k > 0 ? row[k - 1]->off : kNone;
            uint32_t wantRight = k + 1 < row.size() ? row[k + 1]->off : kNone;
            if (row[k]->left != wantLeft)
                add("page at " + num(row[k]->off) + ": left sibling link is " + num(row[k]->left) + ", should be " +
                    (wantLeft == kNone ? std::string("none") : num(wantLeft)));
            if (row[k]->right != wantRight)
                add("page at " + num(row[k]->off) + ": right sibling link is " + num(row[k]->right) + ", should be " +
                    (wantRight == kNone ? std::string("none") : num(wantRight)));
        }
    }

    // against the table
    std::vector<int64_t> at(size_t(count) + 1, -1);
    for (size_t i = 0; i < entries.recs.size(); ++i) {
        uint32_t r = entries.recs[i];
        if (r == 0 || r > count) {
            add("key " + describeKey(t, std::string_view(entries.keys).substr(i * size_t(L), size_t(L))) +
                " for record " + num(r) + ", beyond the table's " + num(count) + " records");
            continue;
        }
        if (at[r] >= 0)
            add("record " + num(r) + " has more than one key");
        else
            at[r] = int64_t(i);
    }
    if (!tg.usable) {
        add(tg.why + "; keys not compared with the table");
        return;
    }
    auto hasKey = [&](const std::string& k) {
        size_t lo = 0, hi = entries.recs.size();
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            if (std::string_view(entries.keys).substr(mid * size_t(L), size_t(L)) < std::string_view(k))
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo < entries.recs.size() && std::string_view(entries.keys).substr(lo * size_t(L), size_t(L)) == k;
    };
    std::string k;
    for (uint32_t r = 1; r <= count; ++r) {
        RecordPtr rec = recordAt(r);
        if (!rec) {
            add("record " + num(r) + " cannot be read");
            continue;
        }
        if (rec[0] == '*')
            continue;   // deleted records keep their keys or not
        bool admitted = !tg.hasFor || tg.forx.isTrue(rec);
        int64_t e = at[r];
        if (!admitted) {
            if (e >= 0)
                add("record " + num(r) + " is in the tag but its FOR expression excludes it");
            continue;
        }
        tg.key.makeKey(rec, k, L);
        if (e >= 0) {
            std::string_view ik = std::string_view(entries.keys).substr(size_t(e) * size_t(L), size_t(L));
            if (ik != k)
                add("record " + num(r) + " is in the tag under " + describeKey(t, ik) + " but its key is " +
                    describeKey(t, k));
        } else if (!tg.def.unique || !hasKey(k)) {
            add("record " + num(r) + " (key " + describeKey(t, k) + ") is missing");
        }
    }
}

std::vector<std::string> CdxIndex::check(uint32_t count, const std::function<RecordPtr(uint32_t)>& recordAt)
{
    Impl& m = *d;
    std::vector<std::string> out;
    if (m.fd < 0) {
        out.push_back("the index is closed");
        return out;
    }
    if (m.size % kPageSize != 0)
        out.push_back("the file is " + num(m.size) + " bytes long, not a whole number of 512-byte pages");
    out.insert(out.end(), m.dirFaults.begin(), m.dirFaults.end());
    if (m.header[15] != 0x01)
        out.push_back("file header signature is not 1");
    std::unordered_set<uint32_t> used;
    for (const auto& [off, node] : m.cache)
        if (node->tag < 0)
            used.insert(off);   // the directory's pages
    for (int t = 0; t < tagCount(); ++t)
        m.checkTag(t, count, recordAt, used, out);
    // the free list: inside the file, not in use, no loop
    uint32_t off = m.freeHead;
    std::unordered_set<uint32_t> freeSeen;
    while (off != 0 && off != kNone) {
        if (off % kPageSize || off < kHeaderSize || uint64_t(off) + kPageSize > m.size) {
            out.push_back("free-page list: page offset " + num(off) + " is not a page of the file");
            break;
        }
        if (used.count(off) || m.headerPages.count(off)) {
            out.push_back("free-page list: page at " + num(off) + " is in use");
            break;
        }
        if (!freeSeen.insert(off).second) {
            out.push_back("free-page list: it loops at page " + num(off));
            break;
        }
        uint8_t b[4];
        if (!preadAll(*m.files, m.fd, b, 4, off)) {
            out.push_back("free-page list: page at " + num(off) + " cannot be read");
            break;
        }
        off = rd32(b);
    }
    return out;
}

}  // namespace xb

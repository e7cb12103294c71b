#include "jet/index/index.h"

#include <algorithm>
#include <cstring>

#include "jet/page/page_type.h"
#include "jet/storage/error.h"

namespace jet {

namespace {

// Jet 4 / ACE index page layout.
constexpr uint32_t kFree = 0x02;
constexpr uint32_t kOwner = 0x04;
constexpr uint32_t kPrev = 0x0C;
constexpr uint32_t kNext = 0x10;
constexpr uint32_t kTail = 0x14;
constexpr uint32_t kPrefix = 0x18;
constexpr uint32_t kNodeMark = 0x1A;
constexpr uint32_t kBitmap = 0x1B;
constexpr uint32_t kFirstEntry = 0x1E0;

uint32_t Capacity(const Layout& L) {
  return std::min<uint32_t>(L.page_size - kFirstEntry, (kFirstEntry - kBitmap) * 8);
}

void RequireJet4(const Layout& L) {
  if (L.jet3) {
    throw Error(errnum::kGeneric,
                "Indexes of Access 97 databases cannot be changed by this program.");
  }
}

size_t EntrySize(const IndexEntry& e, bool leaf) { return e.key.size() + (leaf ? 4 : 8); }

size_t PrefixLength(const IndexNode& n) {
  if (!n.leaf || n.entries.size() < 2) return 0;
  const std::string& a = n.entries.front().key;
  const std::string& b = n.entries.back().key;
  size_t len = 0;
  while (len < a.size() && len < b.size() && a[len] == b[len]) ++len;
  return len;
}

size_t StoredSize(const IndexNode& n) {
  size_t total = 0;
  for (const auto& e : n.entries) total += EntrySize(e, n.leaf);
  size_t prefix = PrefixLength(n);
  if (!n.entries.empty()) total -= prefix * (n.entries.size() - 1);
  return total;
}

uint32_t BE32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// Where to split a page's entries: the head (moved to the new page) takes
// about half of the bytes, at least one entry, and leaves at least one.
size_t HalfPoint(const std::vector<IndexEntry>& entries, bool leaf) {
  size_t total = 0;
  for (const auto& e : entries) total += EntrySize(e, leaf);
  size_t acc = 0;
  size_t s = 0;
  while (s + 1 < entries.size() && acc < total / 2) acc += EntrySize(entries[s++], leaf);
  return std::max<size_t>(s, 1);
}

}  // namespace

int CompareEntries(const IndexEntry& a, const IndexEntry& b) {
  size_t n = std::min(a.key.size(), b.key.size());
  int c = n ? std::memcmp(a.key.data(), b.key.data(), n) : 0;
  if (c != 0) return c;
  if (a.key.size() != b.key.size()) return a.key.size() < b.key.size() ? -1 : 1;
  if (a.row != b.row) return a.row < b.row ? -1 : 1;
  return 0;
}

IndexNode ReadIndexNode(Bytes page, uint32_t number, const Layout& L) {
  RequireJet4(L);
  IndexNode n;
  n.page = number;
  if ((!IsType(page, PageType::kIndexNode) && !IsType(page, PageType::kIndexLeaf)) ||
      page.size() != L.page_size) {
    ThrowDamaged("page " + std::to_string(number) + " is not an index page");
  }
  n.leaf = IsType(page, PageType::kIndexLeaf);
  n.prev = U32(page, kPrev);
  n.next = U32(page, kNext);
  n.tail = U32(page, kTail);
  const size_t prefix_len = U16(page, kPrefix);
  const size_t trailer = n.leaf ? 4 : 8;
  const uint32_t cap = Capacity(L);
  std::string prefix;
  uint32_t start = 0;
  for (uint32_t bit = 0; bit <= cap; ++bit) {
    if (!((page[kBitmap + bit / 8] >> (bit % 8)) & 1)) continue;
    if (bit <= start || kFirstEntry + bit > page.size()) {
      ThrowDamaged("index page " + std::to_string(number) + " has an impossible entry");
    }
    const uint8_t* p = page.data() + kFirstEntry + start;
    std::string bytes;
    size_t len = bit - start;
    if (n.entries.empty()) {
      bytes.assign(reinterpret_cast<const char*>(p), len);
      if (prefix_len > bytes.size()) ThrowDamaged("an index page's shared prefix is too long");
      prefix = bytes.substr(0, prefix_len);
    } else {
      bytes = prefix;
      bytes.append(reinterpret_cast<const char*>(p), len);
    }
    if (bytes.size() < trailer) ThrowDamaged("an index entry is cut short");
    IndexEntry e;
    const uint8_t* tail = reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size() - trailer;
    e.row = BE32(tail);
    if (!n.leaf) e.child = BE32(tail + 4);
    bytes.resize(bytes.size() - trailer);
    e.key = std::move(bytes);
    n.entries.push_back(std::move(e));
    start = bit;
  }
  return n;
}

bool IndexNodeFits(const IndexNode& node, const Layout& L) {
  return StoredSize(node) <= Capacity(L);
}

void WriteIndexNode(const IndexNode& n, uint32_t owner, const Layout& L, MutableBytes page) {
  RequireJet4(L);
  const size_t total = StoredSize(n);
  if (total > Capacity(L)) ThrowDamaged("index entries no longer fit their page");
  std::memset(page.data(), 0, page.size());
  StampPage(page, n.leaf ? PageType::kIndexLeaf : PageType::kIndexNode);
  Put32(page, kOwner, owner);
  Put32(page, kPrev, n.prev);
  Put32(page, kNext, n.next);
  Put32(page, kTail, n.tail);
  const size_t prefix = PrefixLength(n);
  Put16(page, kPrefix, static_cast<uint16_t>(prefix));
  page[kNodeMark] = n.leaf ? 0x00 : 0x01;
  uint8_t* out = page.data() + kFirstEntry;
  size_t pos = 0;
  auto put_be32 = [&](uint32_t v) {
    out[pos] = static_cast<uint8_t>(v >> 24);
    out[pos + 1] = static_cast<uint8_t>(v >> 16);
    out[pos + 2] = static_cast<uint8_t>(v >> 8);
    out[pos + 3] = static_cast<uint8_t>(v);
    pos += 4;
  };
  for (size_t i = 0; i < n.entries.size(); ++i) {
    const IndexEntry& e = n.entries[i];
    const size_t skip = i == 0 ? 0 : prefix;
    std::memcpy(out + pos, e.key.data() + skip, e.key.size() - skip);
    pos += e.key.size() - skip;
    put_be32(e.row);
    if (!n.leaf) put_be32(e.child);
    page[kBitmap + pos / 8] |= static_cast<uint8_t>(1u << (pos % 8));
  }
  Put16(page, kFree, static_cast<uint16_t>(L.page_size - kFirstEntry - pos));
}

std::shared_ptr<IndexNode> IndexCache::Find(uint32_t page) const {
  auto it = nodes_.find(page);
  return it == nodes_.end() ? nullptr : it->second;
}

void IndexCache::Put(std::shared_ptr<IndexNode> node) {
  // A crude bound: dropping everything costs one parse per page in use.
  if (nodes_.size() >= 2048) nodes_.clear();
  nodes_[node->page] = std::move(node);
}

IndexTree::NodePtr IndexTree::Read(uint32_t page) {
  if (cache_) {
    if (NodePtr n = cache_->Find(page)) return n;
  }
  auto n = std::make_shared<IndexNode>(ReadIndexNode(pager_.Get(page)->bytes(), page, layout_));
  if (cache_) cache_->Put(n);
  return n;
}

void IndexTree::Write(const IndexNode& node) {
  PagePtr p = pager_.GetForWrite(node.page);
  WriteIndexNode(node, owner_, layout_, p->mutable_bytes());
}

IndexTree::NodePtr IndexTree::NewNode(bool leaf) {
  PagePtr p = alloc_.NewPage();
  auto n = std::make_shared<IndexNode>();
  n->page = p->number;
  n->leaf = leaf;
  alloc_.SetInMap(usage_map_, n->page, true);
  if (cache_) cache_->Put(n);
  return n;
}

namespace {

bool EntryLess(const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; }

}  // namespace

std::vector<IndexTree::Step> IndexTree::Descend(const IndexEntry& target) {
  std::vector<Step> path;
  uint32_t page = root_;
  for (int depth = 0;; ++depth) {
    if (depth > 32) ThrowDamaged("an index tree is too deep (its pages form a loop)");
    Step s;
    s.node = Read(page);
    if (s.node->leaf) {
      path.push_back(std::move(s));
      return path;
    }
    const auto& es = s.node->entries;
    if (es.empty() && !s.node->tail) ThrowDamaged("an index node page has no children");
    // The first child whose last entry is not below the target.
    size_t i =
        static_cast<size_t>(std::lower_bound(es.begin(), es.end(), target, EntryLess) - es.begin());
    if (i == es.size() && !s.node->tail) i = es.size() - 1;
    s.child = i;
    page = i < es.size() ? es[i].child : s.node->tail;
    path.push_back(std::move(s));
  }
}

IndexEntry IndexTree::SubtreeMax(const IndexNode& node) {
  const IndexNode* n = &node;
  NodePtr hold;
  for (int depth = 0;; ++depth) {
    if (depth > 32) ThrowDamaged("an index tree is too deep (its pages form a loop)");
    if (n->leaf || !n->tail) {
      if (n->entries.empty()) ThrowDamaged("an index page is empty");
      IndexEntry e = n->entries.back();
      e.child = 0;
      return e;
    }
    hold = Read(n->tail);
    n = hold.get();
  }
}

bool IndexTree::ContainsKey(const std::string& key) {
  IndexEntry target{key, 0, 0};
  std::vector<Step> path = Descend(target);
  const IndexNode& leaf = *path.back().node;
  auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), target, EntryLess);
  if (it != leaf.entries.end()) return it->key == key;
  if (!leaf.next) return false;
  NodePtr next = Read(leaf.next);
  return !next->entries.empty() && next->entries.front().key == key;
}

void IndexTree::Insert(const std::string& key, uint32_t row) {
  RequireJet4(layout_);
  try {
    IndexEntry e{key, row, 0};
    std::vector<Step> path = Descend(e);
    IndexNode& leaf = *path.back().node;
    auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), e, EntryLess);
    if (it != leaf.entries.end() && CompareEntries(*it, e) == 0) {
      ThrowDamaged("an index already holds the entry being added");
    }
    it = leaf.entries.insert(it, std::move(e));
    const bool last = it + 1 == leaf.entries.end();
    Settle(path, last, last && leaf.next == 0);
  } catch (...) {
    // Cached pages may be ahead of the pages now.
    if (cache_) cache_->Clear();
    throw;
  }
}

namespace {

// Moves the first entries of the overfull `x` to the empty `n` and returns
// the last one moved. A node page takes the last child moved as its tail.
IndexEntry MoveHead(IndexNode& x, IndexNode& n, bool appended) {
  const size_t count = x.entries.size();
  // Rows appended at the end fill pages completely; anything else splits
  // a page in the middle.
  size_t s = appended ? count - 1 : HalfPoint(x.entries, x.leaf);
  if (!x.leaf && s >= count) s = count - 1;
  std::vector<IndexEntry> head(std::make_move_iterator(x.entries.begin()),
                               std::make_move_iterator(x.entries.begin() + s));
  x.entries.erase(x.entries.begin(), x.entries.begin() + s);
  IndexEntry head_max = head.back();
  if (!x.leaf && head.size() >= 2) {
    n.tail = head.back().child;
    head.pop_back();
  }
  n.entries = std::move(head);
  return head_max;
}

// Puts a child's new maximum into its parent's entry for it. Returns whether
// the parent's own maximum changed with it: the child was its last entry, or
// its tail, for which nothing stored names the maximum.
bool CarryMax(IndexNode& parent, size_t child, const IndexEntry& max, bool& parent_modified) {
  const size_t stored = parent.entries.size();
  if (child >= stored) return true;
  parent.entries[child].key = max.key;
  parent.entries[child].row = max.row;
  parent_modified = true;
  return child + 1 == stored && !parent.tail;
}

}  // namespace

void IndexTree::PushRootDown(std::vector<Step>& path) {
  IndexNode& x = *path[0].node;
  NodePtr y = NewNode(x.leaf);
  y->entries = std::move(x.entries);
  y->tail = x.tail;
  IndexEntry top = SubtreeMax(*y);
  top.child = y->page;
  x.leaf = false;
  x.tail = 0;
  x.prev = x.next = 0;
  x.entries = {top};
  Write(x);
  Step down;
  down.node = y;
  down.child = path[0].child;
  path[0].child = 0;
  path.insert(path.begin() + 1, std::move(down));
}

void IndexTree::UnlinkAcrossBoundary(const IndexNode& left_page, const IndexNode& right_page) {
  // Node pages are linked only within their parent: the children on either
  // side of the new boundary are no longer neighbours.
  uint32_t left = left_page.tail ? left_page.tail : left_page.entries.back().child;
  uint32_t right = right_page.entries.empty() ? right_page.tail : right_page.entries.front().child;
  NodePtr l = Read(left);
  if (!l->leaf) {
    NodePtr r = Read(right);
    l->next = 0;
    r->prev = 0;
    Write(*l);
    Write(*r);
  }
}

void IndexTree::LinkBefore(IndexNode& n, IndexNode& x) {
  n.prev = x.prev;
  n.next = x.page;
  if (x.prev) {
    NodePtr before = Read(x.prev);
    before->next = n.page;
    Write(*before);
  }
  x.prev = n.page;
  Write(n);
  Write(x);
}

bool IndexTree::SplitOff(std::vector<Step>& path, size_t level, bool appended) {
  IndexNode& x = *path[level].node;
  Step& p = path[level - 1];
  NodePtr np = NewNode(x.leaf);
  IndexNode& n = *np;
  IndexEntry head_max = MoveHead(x, n, appended);
  if (!x.leaf) UnlinkAcrossBoundary(n, x);
  head_max.child = n.page;
  LinkBefore(n, x);
  const bool x_was_last = p.child + 1 >= p.node->entries.size() + (p.node->tail ? 1 : 0);
  p.node->entries.insert(p.node->entries.begin() + static_cast<long>(p.child), head_max);
  ++p.child;
  if (!p.node->tail && p.node->entries.size() >= 2) {
    p.node->tail = p.node->entries.back().child;
    p.node->entries.pop_back();
  }
  return appended && x_was_last && p.node->next == 0;
}

void IndexTree::Settle(std::vector<Step>& path, bool max_changed, bool appended) {
  // The entry that became the maximum of the changed subtree, when it did.
  IndexEntry new_max;
  if (max_changed) {
    new_max = path.back().node->entries.back();
    new_max.child = 0;
  }
  bool modified = true;
  for (size_t level = path.size(); level-- > 0;) {
    IndexNode& x = *path[level].node;
    bool parent_modified = false;
    bool parent_appended = false;
    if (!IndexNodeFits(x, layout_)) {
      if (level == 0) {
        PushRootDown(path);
        level = 2;  // the loop continues with the new page
        continue;
      }
      parent_appended = SplitOff(path, level, appended);
      parent_modified = true;
    } else if (modified) {
      Write(x);
    }
    if (level == 0) return;
    Step& p = path[level - 1];
    const bool parent_max_changed =
        max_changed && CarryMax(*p.node, p.child, new_max, parent_modified);
    if (!parent_modified && !parent_max_changed) return;
    modified = parent_modified;
    max_changed = parent_max_changed;
    appended = parent_appended;
  }
}

std::vector<IndexEntry> IndexTree::Entries(std::vector<uint32_t>* pages) {
  RequireJet4(layout_);
  std::vector<IndexEntry> out;
  std::vector<uint32_t> leaves;
  std::vector<uint32_t> visited;
  // In-order walk through the tree, checking that every stored node entry
  // is its child's last entry.
  struct Walker {
    IndexTree& tree;
    std::vector<IndexEntry>& out;
    std::vector<uint32_t>& leaves;
    std::vector<uint32_t>& visited;
    void Walk(uint32_t page, int depth, const IndexEntry* expected_max) {
      if (depth > 32) ThrowDamaged("an index tree is too deep (its pages form a loop)");
      if (visited.size() > 1000000) ThrowDamaged("an index tree has too many pages");
      visited.push_back(page);
      IndexNode n = *tree.Read(page);
      if (n.leaf) {
        leaves.push_back(page);
        for (auto& e : n.entries) out.push_back(e);
      } else {
        if (n.entries.empty() && !n.tail) ThrowDamaged("an index node page has no children");
        if (n.entries.size() >= 2 && !n.tail) {
          ThrowDamaged("index node page " + std::to_string(page) +
                       " has several children but no tail");
        }
        for (const auto& e : n.entries) {
          Walk(e.child, depth + 1, &e);
        }
        if (n.tail) Walk(n.tail, depth + 1, nullptr);
      }
      if (expected_max && !out.empty()) {
        IndexEntry last = out.back();
        last.child = 0;
        IndexEntry want = *expected_max;
        want.child = 0;
        if (CompareEntries(last, want) != 0) {
          ThrowDamaged("an index node entry does not match the last entry of page " +
                       std::to_string(page));
        }
      }
    }
  };
  Walker{*this, out, leaves, visited}.Walk(root_, 0, nullptr);
  std::vector<uint32_t> sorted = visited;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
    ThrowDamaged("an index page is reached twice");
  }
  if (pages) *pages = std::move(visited);
  for (size_t i = 1; i < out.size(); ++i) {
    if (CompareEntries(out[i - 1], out[i]) >= 0) ThrowDamaged("index entries are out of order");
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    NodePtr n = Read(leaves[i]);
    uint32_t want_prev = i ? leaves[i - 1] : 0;
    uint32_t want_next = i + 1 < leaves.size() ? leaves[i + 1] : 0;
    if (n->prev != want_prev || n->next != want_next) {
      ThrowDamaged("index leaf page " + std::to_string(leaves[i]) +
                   " is not linked to its neighbours");
    }
  }
  return out;
}

}  // namespace jet

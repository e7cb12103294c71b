// Index trees (Jet 4 and ACE). Every real index is a B-tree of pages: leaf
// pages (type 0x04) hold one entry per row, key bytes then the row's pointer
// (3-byte big-endian page, 1-byte row); node pages (type 0x03) hold, for each
// child page, the child's last entry followed by the child's page number,
// except that the last child of a node with several children is named only
// by the node's tail pointer. Pages of one level are linked to their
// neighbours (node pages only within their parent). The root page never
// moves: when it splits, its entries move down to a new page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/page/allocator.h"
#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/storage/pager.h"

namespace jet {

struct IndexEntry {
  std::string key;
  uint32_t row = 0;    // row pointer, packed (page << 8 | row)
  uint32_t child = 0;  // node entries: the child page
};

// Orders entries by key bytes, then by row pointer.
int CompareEntries(const IndexEntry& a, const IndexEntry& b);

struct IndexNode {
  uint32_t page = 0;
  bool leaf = true;
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;  // node pages: the last child, named by no entry
  std::vector<IndexEntry> entries;
};

// Reads an index page. Throws "damaged" for anything else.
IndexNode ReadIndexNode(Bytes page, uint32_t number, const Layout& layout);
// Whether the entries fit one page (leaf entries share the prefix of the
// page's first and last keys).
bool IndexNodeFits(const IndexNode& node, const Layout& layout);
// Writes the page image; the caller checked that it fits.
void WriteIndexNode(const IndexNode& node, uint32_t owner, const Layout& layout, MutableBytes page);

// Parsed index pages kept between inserts, so that a run of inserts does not
// parse the same pages again and again. Only IndexTree changes index pages,
// and it keeps the cached copies equal to the pages; whoever drops changed
// pages (a rollback) must clear the cache.
class IndexCache {
 public:
  std::shared_ptr<IndexNode> Find(uint32_t page) const;
  void Put(std::shared_ptr<IndexNode> node);
  void Clear() { nodes_.clear(); }

 private:
  std::unordered_map<uint32_t, std::shared_ptr<IndexNode>> nodes_;
};

// One real index of a table, for reading and inserting.
class IndexTree {
 public:
  // Without a cache every page is parsed when it is needed.
  IndexTree(Pager& pager, PageAllocator& allocator, const Layout& layout, uint32_t tdef_page,
            uint32_t root, uint32_t usage_map, IndexCache* cache = nullptr)
      : pager_(pager),
        alloc_(allocator),
        layout_(layout),
        owner_(tdef_page),
        root_(root),
        usage_map_(usage_map),
        cache_(cache) {}

  // Whether an entry with exactly these key bytes exists.
  bool ContainsKey(const std::string& key);
  // Adds an entry, splitting pages as needed. The entry must not exist yet.
  void Insert(const std::string& key, uint32_t row);
  // Every entry in order, read through the whole tree; checks that node
  // entries match their children, the order, and the links between leaves
  // (throws "damaged"). `pages` gets every page of the tree.
  std::vector<IndexEntry> Entries(std::vector<uint32_t>* pages = nullptr);

 private:
  using NodePtr = std::shared_ptr<IndexNode>;
  struct Step {
    NodePtr node;
    size_t child = 0;  // which child the path continues in (entries, then the tail)
  };
  NodePtr Read(uint32_t page);
  void Write(const IndexNode& node);
  std::vector<Step> Descend(const IndexEntry& target);
  // The last entry below a page (its subtree's maximum).
  IndexEntry SubtreeMax(const IndexNode& node);
  NodePtr NewNode(bool leaf);
  // Settles the path after the leaf at its end changed: writes pages that
  // fit, splits those that do not and carries changed maxima upwards.
  void Settle(std::vector<Step>& path, bool max_changed, bool appended);
  // The root keeps its page: its entries move to a new page below it, which
  // joins the path to be split like any other.
  void PushRootDown(std::vector<Step>& path);
  // Splits the overfull page at `level` of the path: its first entries move
  // to a new page before it, which its parent then lists. Returns whether
  // the parent lies on the tree's right edge of an append (and so is split
  // at its end too).
  bool SplitOff(std::vector<Step>& path, size_t level, bool appended);
  void UnlinkAcrossBoundary(const IndexNode& left_page, const IndexNode& right_page);
  // Links `n` into its level just before `x` and writes both.
  void LinkBefore(IndexNode& n, IndexNode& x);

  Pager& pager_;
  PageAllocator& alloc_;
  const Layout& layout_;
  uint32_t owner_;
  uint32_t root_;
  uint32_t usage_map_;
  IndexCache* cache_;
};

}  // namespace jet

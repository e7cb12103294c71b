// What the program uses of a list view: a one-column list of texts addressed
// from 1, with at most one selected entry. The Qt list implements it
// (src/app/qt/controls.h); tests fake it.
#pragma once

#include <string>

namespace app {

class ListViewLike {
 public:
  virtual ~ListViewLike() = default;
  virtual void Clear() = 0;
  virtual void Add(const std::string& text) = 0;
  virtual int Count() const = 0;
  virtual std::string ItemText(int index_1based) const = 0;
  virtual void Remove(int index_1based) = 0;
  virtual int SelectedIndex() const = 0;  // 0 when nothing is selected
  virtual void Select(int index_1based) = 0;
};

}  // namespace app

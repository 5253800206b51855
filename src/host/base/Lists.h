// Framework lists: thin layers over std::vector. Positions are 1-based, as
// the framework's lists count them; 0 or a position past the end gives no
// element.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

template <typename T>
class CList_AC {
 public:
  virtual ~CList_AC() = default;

  size_t GetSize() const { return items_.size(); }
  bool IsEmpty() const { return items_.empty(); }
  // The element at a 1-based position; null when there is none.
  T* At(size_t position) { return position >= 1 && position <= items_.size() ? &items_[position - 1] : nullptr; }
  const T* At(size_t position) const {
    return position >= 1 && position <= items_.size() ? &items_[position - 1] : nullptr;
  }
  void InsertLast(T item) { items_.push_back(std::move(item)); }
  void InsertFirst(T item) { items_.insert(items_.begin(), std::move(item)); }
  // Removes the element at a 1-based position; false when there is none.
  bool DeleteAt(size_t position) {
    if (position < 1 || position > items_.size()) return false;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(position - 1));
    return true;
  }
  void DeleteAll() { items_.clear(); }

  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 protected:
  std::vector<T> items_;
};

// A list kept in the order of Compare (negative: a before b). An element
// equal to ones already listed goes after them.
template <typename T>
class CSortedList_AC : public CList_AC<T> {
 public:
  virtual int Compare(const T& a, const T& b) const = 0;

  // Returns the 1-based position the element took.
  virtual size_t Insert(T item) {
    auto& items = this->items_;
    size_t pos = items.size();
    while (pos > 0 && Compare(item, items[pos - 1]) < 0) --pos;
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(pos), std::move(item));
    return pos + 1;
  }
};

#include "form/detail/dependencies.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "form/detail/path_reads.h"

namespace tovarn::form::detail {
namespace {

using Kind = Segment::Kind;

// Whether the pattern names one path, which its text then stands for.
bool is_named(std::span<const Segment> segments) {
  if (segments.empty()) return false;
  return std::all_of(segments.begin(), segments.end(), [](const Segment& s) {
    return s.kind == Kind::name || s.kind == Kind::instance ||
           (s.kind == Kind::attribute && !s.name.empty());
  });
}

bool starts_with_root(std::string_view nodeset) {
  return nodeset.starts_with("/model") && (nodeset.size() == 6 || nodeset[6] == '/');
}

// Where each calculation's nodeset points, and the calculations a read
// reaches. Most reads and nodesets name one path, so they meet in a table
// sorted by the path's text, where the paths below one follow it; only reads
// and nodesets with a wildcard are matched pattern against pattern.
class Targets {
 public:
  explicit Targets(const std::vector<Bind>& binds) : binds_(binds), places_(binds.size()) {
    Place place;
    for (std::uint32_t b = 0; b < binds.size(); ++b) {
      const Bind& bind = binds[b];
      if (!bind.calculate) continue;
      Target& target = places_[b];
      // A plain nodeset is its own key, unless it starts at the root.
      if (bind.nodeset_plain && !starts_with_root(bind.nodeset)) {
        target.plain = true;
        table_.push_back({bind.nodeset, b});
        continue;
      }
      reads_.nodeset(bind, place, ignore);
      target.selects = place.selects;
      if (!place.selects) continue;
      target.first = static_cast<std::uint32_t>(segments_.size());
      target.size = static_cast<std::uint32_t>(place.segments.size());
      target.pinned = place.pinned;
      segments_.insert(segments_.end(), place.segments.begin(), place.segments.end());
      if (!is_named(place.segments)) {
        wild_.push_back(b);
        continue;
      }
      std::string& key = keys_.emplace_back();
      append_pattern(place.segments, key);
      table_.push_back({key, b});
    }
    std::sort(table_.begin(), table_.end(), [](const Entry& x, const Entry& y) {
      return x.key < y.key || (x.key == y.key && x.bind < y.bind);
    });
  }

  // Where the calculation's nodeset points, into `place`, and whether it
  // selects anything. A plain one is split again, which costs less than
  // keeping it.
  bool place(std::uint32_t bind, Place& place) {
    const Target& target = places_[bind];
    if (target.plain) {
      reads_.nodeset(binds_[bind], place, ignore);
      return true;
    }
    if (!target.selects) return false;
    place.segments.assign(segments_.begin() + target.first,
                          segments_.begin() + target.first + target.size);
    place.pinned = target.pinned;
    return true;
  }

  // Calls `add(bind, pinned)` for each calculation the read reaches.
  template <class Add>
  void reached(const PathRead& read, Add add) {
    // A pinned read has no wildcard.
    if (!read.pinned && !is_named(read.segments)) {
      make_every_place();
      for (std::uint32_t b = 0; b < places_.size(); ++b)
        if (places_[b].selects && pattern_reaches(read.segments, read.value, of(b))) add(b, false);
      return;
    }
    key_.clear();
    append_pattern(read.segments, key_);
    auto it = first_from(key_);
    for (; it != table_.end() && it->key == key_; ++it)
      add(it->bind, read.pinned && (places_[it->bind].plain || places_[it->bind].pinned));
    // Elements below, whose texts are part of the string value (attributes
    // are not). Most reads name a leaf: then the next entry does not even
    // start with the path, and no second search is needed.
    if (read.value && it != table_.end() && it->key.starts_with(key_)) {
      key_ += '/';
      if (it->key[key_.size() - 1] != '/') it = first_from(key_);
      for (; it != table_.end() && it->key.starts_with(key_); ++it)
        if (it->key[it->key.rfind('/') + 1] != '@') add(it->bind, false);
    }
    for (std::uint32_t b : wild_)
      if (pattern_reaches(read.segments, read.value, of(b))) add(b, false);
  }

 private:
  struct Entry {
    std::string_view key;
    std::uint32_t bind;
  };
  struct Target {
    std::uint32_t first = 0;  // in segments_
    std::uint32_t size = 0;
    bool pinned = false;
    bool selects = false;
    bool plain = false;  // kept as its text alone, until every place is made
  };

  static void ignore(const PathRead&) {}

  std::vector<Entry>::const_iterator first_from(std::string_view key) const {
    return std::lower_bound(table_.begin(), table_.end(), key,
                            [](const Entry& e, std::string_view k) { return e.key < k; });
  }

  std::span<const Segment> of(std::uint32_t bind) const {
    return std::span<const Segment>(segments_).subspan(places_[bind].first, places_[bind].size);
  }

  // A read with a wildcard meets every place: most forms have none, so plain
  // places are split only then.
  void make_every_place() {
    if (made_every_) return;
    made_every_ = true;
    Place place;
    for (std::uint32_t b = 0; b < places_.size(); ++b) {
      Target& target = places_[b];
      if (!target.plain) continue;
      reads_.nodeset(binds_[b], place, ignore);
      target = {static_cast<std::uint32_t>(segments_.size()),
                static_cast<std::uint32_t>(place.segments.size()), true, true, true};
      segments_.insert(segments_.end(), place.segments.begin(), place.segments.end());
    }
  }

  const std::vector<Bind>& binds_;
  PathReads reads_;
  std::vector<Target> places_;        // by bind
  std::vector<Segment> segments_;     // of the places made, one after another
  std::vector<Entry> table_;          // named places, by key
  std::deque<std::string> keys_;      // the keys that are no nodeset's own text
  std::vector<std::uint32_t> wild_;   // places with a wildcard
  bool made_every_ = false;
  std::string key_;
};

void append_sorted(std::vector<std::uint32_t>& found, Edges& edges) {
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  edges.to.insert(edges.to.end(), found.begin(), found.end());
  edges.offsets.push_back(static_cast<std::uint32_t>(edges.to.size()));
}

}  // namespace

Dependencies read_dependencies(const std::vector<Bind>& binds) {
  Targets targets(binds);
  Dependencies deps;
  deps.pinned.offsets.reserve(binds.size() + 1);
  deps.pinned.offsets.push_back(0);
  deps.unpinned.offsets.reserve(binds.size() + 1);
  deps.unpinned.offsets.push_back(0);
  PathReads reads;
  Place place, base;
  std::vector<std::uint32_t> pinned, unpinned;
  for (std::uint32_t i = 0; i < binds.size(); ++i) {
    pinned.clear();
    unpinned.clear();
    if (binds[i].calculate && targets.place(i, base)) {
      auto visit = [&](const PathRead& read) {
        targets.reached(read, [&](std::uint32_t bind, bool exact) {
          if (!exact)
            unpinned.push_back(bind);
          else if (bind != i)
            pinned.push_back(bind);
        });
      };
      // What the nodeset's predicates read decides which nodes calculate; a
      // plain nodeset has none.
      if (!binds[i].nodeset_plain) reads.nodeset(binds[i], place, visit);
      reads.rule(*binds[i].calculate, base.segments, base.pinned, visit);
    }
    append_sorted(pinned, deps.pinned);
    // What is read pinned needs no second edge.
    std::erase_if(unpinned, [&](std::uint32_t b) {
      return std::binary_search(deps.pinned.to.end() - static_cast<std::ptrdiff_t>(pinned.size()),
                                deps.pinned.to.end(), b);
    });
    append_sorted(unpinned, deps.unpinned);
  }
  return deps;
}

}  // namespace tovarn::form::detail

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "form/detail/order.h"

namespace tovarn::form::detail {
namespace {

// Order reads only whether a bind calculates, never the rule itself.
const xpath::Expr kNumber{xpath::Expr::Number{1}};

struct Sketch {
  std::string nodeset;
  bool calculates;
  std::vector<std::uint32_t> reads;    // pinned, ascending
  std::vector<std::uint32_t> guesses = {};  // unpinned, ascending
};

void append(Edges& edges, const std::vector<std::uint32_t>& to) {
  if (edges.offsets.empty()) edges.offsets.push_back(0);
  edges.to.insert(edges.to.end(), to.begin(), to.end());
  edges.offsets.push_back(static_cast<std::uint32_t>(edges.to.size()));
}

std::vector<Bind> make_binds(const std::vector<Sketch>& sketches, Dependencies& deps) {
  std::vector<Bind> binds;
  for (const Sketch& s : sketches) {
    Bind b;
    b.nodeset = s.nodeset;
    if (s.calculates) b.calculate = &kNumber;
    binds.push_back(std::move(b));
    append(deps.pinned, s.reads);
    append(deps.unpinned, s.guesses);
  }
  return binds;
}

std::vector<std::pair<std::size_t, std::size_t>> loops_of(const CalculationOrder& order) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (const CalculationLoop& loop : order.loops) out.emplace_back(loop.begin, loop.end);
  return out;
}

TEST(OrderCalculations, PostOrderAndCycles) {
  const std::string prefix =
      "these calculations depend on each other, so none of them has a defined value: ";
  using Loops = std::vector<std::pair<std::size_t, std::size_t>>;
  struct Case {
    const char* name;
    std::vector<Sketch> binds;
    std::vector<std::size_t> order;
    Loops loops;
    std::string error;
  } cases[] = {
      {"chain in reverse bind order",
       {{"/data/c", true, {1}}, {"/data/b", true, {2}}, {"/data/a", true, {}}},
       {2, 1, 0},
       {},
       ""},
      {"depth first, not breadth first",
       {{"/data/c", true, {1}}, {"/data/b", true, {2}}, {"/data/a", true, {}}, {"/data/d", true, {}}},
       {2, 1, 0, 3},
       {},
       ""},
      {"dependencies in ascending bind order",
       {{"/data/x", true, {1, 2}}, {"/data/p", true, {}}, {"/data/q", true, {}}},
       {1, 2, 0},
       {},
       ""},
      {"a bind without calculate is passed over",
       {{"/data/a", true, {1}}, {"/data/r", false, {}}},
       {0},
       {},
       ""},
      {"two-cycle",
       {{"/data/a", true, {1}}, {"/data/b", true, {0}}},
       {},
       {},
       prefix + "/data/a \u2192 /data/b \u2192 /data/a"},
      {"only the cycle is named",
       {{"/data/a", true, {1}}, {"/data/b", true, {2}}, {"/data/c", true, {1}}},
       {},
       {},
       prefix + "/data/b \u2192 /data/c \u2192 /data/b"},
      {"a pinned cycle is refused whatever is guessed around it",
       {{"/data/a", true, {1}, {2}}, {"/data/b", true, {0}}, {"/data/c", true, {}, {0}}},
       {},
       {},
       prefix + "/data/a \u2192 /data/b \u2192 /data/a"},
      {"a guessed read orders like a pinned one",
       {{"/data/c", true, {}, {1}}, {"/data/b", true, {2}}, {"/data/a", true, {}}},
       {2, 1, 0},
       {},
       ""},
      {"a guessed read closing a circle makes a loop, ordered by its pinned reads",
       {{"/data/a", true, {1}}, {"/data/b", true, {}, {0}}},
       {1, 0},
       {{0, 2}},
       ""},
      {"a loop comes after what it reads and before what reads it",
       {{"/data/z", true, {2}},
        {"/data/x", true, {}},
        {"/data/a", true, {3}},
        {"/data/b", true, {1}, {2}}},
       {1, 3, 2, 0},
       {{1, 3}},
       ""},
      {"a calculation guessed to read itself loops alone",
       {{"/data/a", true, {}}, {"/data/s", true, {0}, {1}}, {"/data/t", true, {1}}},
       {0, 1, 2},
       {{1, 2}},
       ""},
      {"two loops, one after the other",
       {{"/data/a", true, {}, {1}}, {"/data/b", true, {}, {0}}, {"/data/c", true, {0}, {3}},
        {"/data/d", true, {2}}},
       {0, 1, 2, 3},
       {{0, 2}, {2, 4}},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dependencies deps;
    std::vector<Bind> binds = make_binds(c.binds, deps);
    auto order = order_calculations(binds, deps);
    if (c.error.empty()) {
      ASSERT_TRUE(order.has_value()) << order.error();
      EXPECT_EQ(order->order, c.order);
      EXPECT_EQ(loops_of(*order), c.loops);
    } else {
      ASSERT_FALSE(order.has_value());
      EXPECT_EQ(order.error(), c.error);
    }
  }
}

TEST(OrderCalculations, LongChainAndLongCycle) {
  constexpr std::uint32_t kLength = 100000;
  for (bool guessed : {false, true}) {
    SCOPED_TRACE(guessed ? "guessed" : "pinned");
    std::vector<Sketch> sketches;
    for (std::uint32_t i = 0; i < kLength; ++i) {
      std::vector<std::uint32_t> next;
      if (i + 1 < kLength) next.push_back(i + 1);
      sketches.push_back({"/d/n" + std::to_string(i), true, guessed ? std::vector<std::uint32_t>{} : next,
                          guessed ? next : std::vector<std::uint32_t>{}});
    }
    Dependencies deps;
    std::vector<Bind> binds = make_binds(sketches, deps);
    auto order = order_calculations(binds, deps);
    ASSERT_TRUE(order.has_value());
    ASSERT_EQ(order->order.size(), kLength);
    EXPECT_EQ(order->order.front(), kLength - 1);
    EXPECT_EQ(order->order.back(), 0u);
    EXPECT_TRUE(order->loops.empty());
  }

  constexpr std::uint32_t kCycle = 10000;
  for (bool guessed : {false, true}) {
    SCOPED_TRACE(guessed ? "guessed" : "pinned");
    std::vector<Sketch> sketches;
    for (std::uint32_t i = 0; i < kCycle; ++i) {
      // All but the closing read are pinned in the guessed circle.
      std::vector<std::uint32_t> next{(i + 1) % kCycle};
      const bool guess = guessed && i + 1 == kCycle;
      sketches.push_back({"/d/n" + std::to_string(i), true, guess ? std::vector<std::uint32_t>{} : next,
                          guess ? next : std::vector<std::uint32_t>{}});
    }
    Dependencies deps;
    std::vector<Bind> binds = make_binds(sketches, deps);
    auto order = order_calculations(binds, deps);
    if (!guessed) {
      ASSERT_FALSE(order.has_value());
      EXPECT_TRUE(order.error().ends_with("/d/n9999 \u2192 /d/n0"));
      continue;
    }
    ASSERT_TRUE(order.has_value()) << order.error();
    ASSERT_EQ(order->order.size(), kCycle);
    EXPECT_EQ(order->order.front(), kCycle - 1);
    EXPECT_EQ(order->order.back(), 0u);
    EXPECT_EQ(loops_of(*order), (std::vector<std::pair<std::size_t, std::size_t>>{{0, kCycle}}));
  }
}

}  // namespace
}  // namespace tovarn::form::detail

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
  std::vector<std::uint32_t> reads;  // ascending
};

std::vector<Bind> make_binds(const std::vector<Sketch>& sketches, Dependencies& deps) {
  std::vector<Bind> binds;
  deps.offsets = {0};
  for (const Sketch& s : sketches) {
    Bind b;
    b.nodeset = s.nodeset;
    if (s.calculates) b.calculate = &kNumber;
    binds.push_back(std::move(b));
    deps.depends_on.insert(deps.depends_on.end(), s.reads.begin(), s.reads.end());
    deps.offsets.push_back(static_cast<std::uint32_t>(deps.depends_on.size()));
  }
  return binds;
}

TEST(OrderCalculations, PostOrderAndCycles) {
  const std::string prefix =
      "these calculations depend on each other, so none of them has a defined value: ";
  struct Case {
    const char* name;
    std::vector<Sketch> binds;
    std::vector<std::size_t> order;
    std::string error;
  } cases[] = {
      {"chain in reverse bind order",
       {{"/data/c", true, {1}}, {"/data/b", true, {2}}, {"/data/a", true, {}}},
       {2, 1, 0},
       ""},
      {"depth first, not breadth first",
       {{"/data/c", true, {1}}, {"/data/b", true, {2}}, {"/data/a", true, {}}, {"/data/d", true, {}}},
       {2, 1, 0, 3},
       ""},
      {"dependencies in ascending bind order",
       {{"/data/x", true, {1, 2}}, {"/data/p", true, {}}, {"/data/q", true, {}}},
       {1, 2, 0},
       ""},
      {"a bind without calculate is passed over",
       {{"/data/a", true, {1}}, {"/data/r", false, {}}},
       {0},
       ""},
      {"two-cycle",
       {{"/data/a", true, {1}}, {"/data/b", true, {0}}},
       {},
       prefix + "/data/a \u2192 /data/b \u2192 /data/a"},
      {"only the cycle is named",
       {{"/data/a", true, {1}}, {"/data/b", true, {2}}, {"/data/c", true, {1}}},
       {},
       prefix + "/data/b \u2192 /data/c \u2192 /data/b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dependencies deps;
    std::vector<Bind> binds = make_binds(c.binds, deps);
    auto order = order_calculations(binds, deps);
    if (c.error.empty()) {
      ASSERT_TRUE(order.has_value()) << order.error();
      EXPECT_EQ(*order, c.order);
    } else {
      ASSERT_FALSE(order.has_value());
      EXPECT_EQ(order.error(), c.error);
    }
  }
}

TEST(OrderCalculations, LongChainAndLongCycle) {
  constexpr std::uint32_t kLength = 100000;
  std::vector<Sketch> sketches;
  for (std::uint32_t i = 0; i < kLength; ++i)
    sketches.push_back({"/d/n" + std::to_string(i), true,
                     i + 1 < kLength ? std::vector<std::uint32_t>{i + 1} : std::vector<std::uint32_t>{}});
  Dependencies deps;
  std::vector<Bind> binds = make_binds(sketches, deps);
  auto order = order_calculations(binds, deps);
  ASSERT_TRUE(order.has_value());
  ASSERT_EQ(order->size(), kLength);
  EXPECT_EQ(order->front(), kLength - 1);
  EXPECT_EQ(order->back(), 0u);

  constexpr std::uint32_t kCycle = 10000;
  sketches.clear();
  for (std::uint32_t i = 0; i < kCycle; ++i)
    sketches.push_back({"/d/n" + std::to_string(i), true, {(i + 1) % kCycle}});
  Dependencies cycle_deps;
  binds = make_binds(sketches, cycle_deps);
  order = order_calculations(binds, cycle_deps);
  ASSERT_FALSE(order.has_value());
  EXPECT_TRUE(order.error().ends_with("/d/n9999 \u2192 /d/n0"));
}

}  // namespace
}  // namespace tovarn::form::detail

#include "xpath/functions/detail/geo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tovarn::xpath::detail {
namespace {

TEST(GeoConstants, AreTheDoublesOfTheirFormulas) {
  EXPECT_EQ(kRadiansPerDegree, M_PI / 180);
  EXPECT_EQ(kCircumference, 2 * M_PI * kEarthRadius);
}

struct DistanceCase {
  double lat1, lon1, lat2, lon2;
  double metres;
};

TEST(GeoDistance, LawOfCosines) {
  // Expected values computed by hand from the same formula in doubles.
  const DistanceCase cases[] = {
      {0, 0, 0, 1, 111318.84502143922},
      {0, 1, 0, 0, 111318.84502143922},
      {-1.5, 36.8, -1.3, 36.9, 24890.16202842391},
      {0, 0, 0, 180, 20037392.10386106},
      {90, 0, -90, 0, 20037392.10386106},
      {1, 1, 1, 1, 0},
      // c rounds to just above 1: clamped, so 0 and not NaN.
      {37.1, 10, 37.1, 10, 0},
      // c rounds to just below 1: equal points a few centimetres apart.
      {63, 10, 63, 10, 0.09504109621047974},
  };
  for (const DistanceCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lat1 << ' ' << c.lon1 << ';' << c.lat2 << ' ' << c.lon2);
    EXPECT_DOUBLE_EQ(geo_distance(c.lat1, c.lon1, c.lat2, c.lon2), c.metres);
  }
  EXPECT_TRUE(std::isnan(geo_distance(NAN, 0, 0, 1)));
}

struct AreaCase {
  const char* name;
  std::vector<GeoPoint> points;
  double square_metres;
};

TEST(GeoArea, ProjectedPolygon) {
  const AreaCase cases[] = {
      {"none", {}, 0},
      {"two points", {{1, 2}, {3, 4}}, 0},
      {"one-degree square", {{0, 0}, {0, 1}, {1, 1}, {1, 0}}, 12390941584.836643},
      {"closed ring", {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}}, 12390941584.836643},
      {"reversed", {{0, 0}, {1, 0}, {1, 1}, {0, 1}}, 12390941584.836643},
      {"triangle", {{-1.5, 36.8}, {-1.3, 36.9}, {-1.2, 37.0}}, 61952914.71634582},
  };
  for (const AreaCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(geo_area(c.points), c.square_metres);
  }
}

struct ParseCase {
  const char* text;
  std::vector<GeoPoint> points;
};

TEST(ParseGeopoints, OneBadItemEmptiesTheList) {
  const ParseCase cases[] = {
      {"", {}},
      {"1 2", {{1, 2}}},
      {"0 0 100 5;0 1 abc 5", {{0, 0}, {0, 1}}},
      {" 0 0 ; ;0 1 ", {{0, 0}, {0, 1}}},
      {"0\t\t0;\n1   -2.5e1", {{0, 0}, {1, -25}}},
      {"+1 .5;-1. 5", {{1, 0.5}, {-1, 5}}},
      {"0 0;0 1;x 1;1 0", {}},
      {"0 0;0 1;1;1 0", {}},
      {"0 0;0 1e", {}},
      {"0 0;1,5 2", {}},
      {"0 0;0x10 2", {}},
      {"inf -Infinity", {{INFINITY, -INFINITY}}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<GeoPoint> points = parse_geopoints(c.text);
    ASSERT_EQ(points.size(), c.points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
      EXPECT_EQ(points[i].latitude, c.points[i].latitude);
      EXPECT_EQ(points[i].longitude, c.points[i].longitude);
    }
  }
  std::vector<GeoPoint> nan = parse_geopoints("NaN 1");
  ASSERT_EQ(nan.size(), 1u);
  EXPECT_TRUE(std::isnan(nan[0].latitude));
}

}  // namespace
}  // namespace tovarn::xpath::detail

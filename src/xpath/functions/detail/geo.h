#pragma once
// Geopoint lists ("lat lon alt acc;lat lon alt acc;...") and the area and
// length they describe on a sphere.

#include <string_view>
#include <vector>

namespace tovarn::xpath::detail {

struct GeoPoint {
  double latitude;   // degrees
  double longitude;  // degrees
};

inline constexpr double kEarthRadius = 6378100;              // metres
inline constexpr double kRadiansPerDegree = 0.017453292519943295;
inline constexpr double kCircumference = 40074784.20772212;  // 2 pi R in doubles

// The points of a ';'-separated list, each item "latitude longitude ...".
// One item without two numbers empties the whole list; empty items are skipped.
std::vector<GeoPoint> parse_geopoints(std::string_view text);

// Square metres enclosed by the points, projected onto a plane through the
// first one; 0 for fewer than 3 points.
double geo_area(const std::vector<GeoPoint>& points);

// Metres along the great circle (spherical law of cosines).
double geo_distance(double lat1, double lon1, double lat2, double lon2);

}  // namespace tovarn::xpath::detail

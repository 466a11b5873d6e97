#include "xpath/functions/detail/geo.h"

#include <cmath>
#include <string>

#include "unicode/unicode.h"
#include "xpath/detail/call_site.h"

namespace tovarn::xpath::detail {
namespace {

// The next field of an item, split at runs of Unicode white space; empty when
// the item is used up.
std::string_view next_field(std::string_view& rest) {
  std::size_t i = 0;
  std::size_t start = 0;
  bool in_field = false;
  while (i < rest.size()) {
    std::size_t at = i;
    bool space = unicode::is_white_space(unicode::decode(rest, i));
    if (!in_field && !space) {
      in_field = true;
      start = at;
    } else if (in_field && space) {
      std::string_view field = rest.substr(start, at - start);
      rest.remove_prefix(i);
      return field;
    }
  }
  std::string_view field = in_field ? rest.substr(start) : std::string_view{};
  rest = {};
  return field;
}

EvalResult geo_function(const CallSite& call, double (*measure)(const std::vector<GeoPoint>&)) {
  auto value = eval_arg(call, 1);
  if (!value) return std::unexpected(std::move(value.error()));
  return measure(parse_geopoints(value_to_string(*value)));
}

double line_length(const std::vector<GeoPoint>& points) {
  double total = 0;
  for (std::size_t i = 1; i < points.size(); ++i) {
    total += geo_distance(points[i - 1].latitude, points[i - 1].longitude, points[i].latitude,
                          points[i].longitude);
  }
  return total;
}

}  // namespace

std::vector<GeoPoint> parse_geopoints(std::string_view text) {
  std::vector<GeoPoint> points;
  while (!text.empty()) {
    std::size_t semicolon = text.find(';');
    std::string_view item = unicode::trim(text.substr(0, semicolon));
    text = semicolon == std::string_view::npos ? std::string_view{} : text.substr(semicolon + 1);
    if (item.empty()) continue;
    std::string_view latitude = next_field(item);
    std::string_view longitude = next_field(item);
    if (!is_number_text(latitude) || !is_number_text(longitude)) return {};
    points.push_back({string_to_number(latitude), string_to_number(longitude)});
  }
  return points;
}

double geo_area(const std::vector<GeoPoint>& points) {
  if (points.size() < 3) return 0;
  const double lat0 = points.front().latitude;
  const double lon0 = points.front().longitude;
  auto x = [&](const GeoPoint& p) {
    return std::cos(p.latitude * kRadiansPerDegree) * ((p.longitude - lon0) * kCircumference) /
           360;
  };
  auto y = [&](const GeoPoint& p) { return ((p.latitude - lat0) * kCircumference) / 360; };
  // The closing pair's term is left out: the first point is the origin, so it
  // is zero, and a ring that repeats its first point measures as the open list.
  double sum = 0;
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    sum += (y(points[i]) * x(points[i + 1]) - x(points[i]) * y(points[i + 1])) * 0.5;
  }
  return std::fabs(sum);
}

double geo_distance(double lat1, double lon1, double lat2, double lon2) {
  const double k = kRadiansPerDegree;
  double c = std::cos(lon2 * k - lon1 * k) * (std::cos(lat1 * k) * std::cos(lat2 * k)) +
             std::sin(lat1 * k) * std::sin(lat2 * k);
  // Rounding can carry c just past ±1, where acos is undefined; NaN stays NaN.
  if (c > 1) c = 1;
  if (c < -1) c = -1;
  return std::acos(c) * kEarthRadius;
}

EvalResult fn_area(const CallSite& call) { return geo_function(call, geo_area); }

EvalResult fn_distance(const CallSite& call) {
  if (call.args.size() < 2) return geo_function(call, line_length);
  // Several arguments are read as one list, argument after argument, so a bad
  // item in any of them empties the line as it would in one text.
  std::string line;
  for (std::size_t p = 1; p <= call.args.size(); ++p) {
    auto value = eval_arg(call, p);
    if (!value) return std::unexpected(std::move(value.error()));
    if (p > 1) line += ';';
    line += value_to_string(*value);
  }
  return line_length(parse_geopoints(line));
}

}  // namespace tovarn::xpath::detail

// Evaluates function calls on a document and expression parsed once, so the
// figures are the function library's own cost: dispatch, argument evaluation,
// conversions and the work of each function.
//
//   bench_functions [benchmark flags]

#include <benchmark/benchmark.h>

#include <string>

#include "tree/xml.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"

namespace {

using namespace tovarn;

const tree::Document& document() {
  static const tree::Document doc = [] {
    std::string xml = "<data><q>a b c d e f g h</q><t>";
    for (int i = 0; i < 100; ++i) xml += "héllo wörld ";
    xml += "</t><list>";
    for (int i = 0; i < 10000; ++i) xml += "<i>" + std::to_string(i) + "</i>";
    xml += "</list></data>";
    return *tree::parse_xml(xml);
  }();
  return doc;
}

void run(benchmark::State& state, const char* expression) {
  const tree::Document& doc = document();
  const xpath::Expr expr = *xpath::parse_expression(expression);
  const xpath::Clock clock("2024-01-01", "2024-01-01T00:00:00Z");
  const xpath::EvalContext context{*doc.root(), 1, 1};
  for (auto _ : state) {
    auto value = xpath::evaluate(expr, doc, context, clock);
    benchmark::DoNotOptimize(value);
  }
}

}  // namespace

BENCHMARK_CAPTURE(run, true, "true()");
BENCHMARK_CAPTURE(run, position_in_predicate, "count(/data/list/i[position() = last()])");
BENCHMARK_CAPTURE(run, round, "round(2.5, 1)");
BENCHMARK_CAPTURE(run, concat, "concat('a', 'b', 'c', 'd')");
BENCHMARK_CAPTURE(run, substring, "substring(/data/t, 100, 200)");
BENCHMARK_CAPTURE(run, translate, "translate(/data/t, 'éö', 'eo')");
BENCHMARK_CAPTURE(run, normalize_space, "normalize-space(/data/t)");
BENCHMARK_CAPTURE(run, selected, "selected(/data/q, 'h')");
BENCHMARK_CAPTURE(run, sum_10k, "sum(/data/list/i)");
BENCHMARK_CAPTURE(run, join_10k, "join(',', /data/list/i)");

BENCHMARK_MAIN();

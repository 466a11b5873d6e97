// Parses every bind expression of a corpus (relevant, calculate, constraint,
// readonly, required and nodeset), as loading a form does, and prints the
// throughput; the hostile cases show what refusing deep input costs.
//
//   bench_parse [--corpus=DIR] [benchmark flags]   (default DIR: the shared corpus)

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tree/xml.h"
#include "xpath/parse.h"

namespace {

using tovarn::tree::NodeId;

std::vector<std::string> g_exprs;
std::size_t g_bytes = 0;

bool is_rule_attribute(std::string_view name) {
  return name == "relevant" || name == "calculate" || name == "constraint" || name == "readonly" ||
         name == "required" || name == "nodeset";
}

void load_corpus(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    const auto& path = entry.path();
    if (entry.is_regular_file() && path.extension() == ".xml" &&
        path.filename().string().find(".submission.") == std::string::npos) {
      paths.push_back(path);
    }
  }
  std::sort(paths.begin(), paths.end());
  for (const auto& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    auto doc = tovarn::tree::parse_xml(text.str());
    if (!doc) continue;
    for (std::uint32_t i = 0; i < doc->size(); ++i) {
      const auto id = static_cast<NodeId>(i);
      if (doc->is_attribute(id) || doc->name(id) != "bind") continue;
      for (NodeId attribute : doc->attributes(id)) {
        if (!is_rule_attribute(doc->name(attribute))) continue;
        g_exprs.emplace_back(doc->text(attribute));
        g_bytes += g_exprs.back().size();
      }
    }
  }
}

void BM_ParseCorpus(benchmark::State& state) {
  std::size_t refused = 0;
  for (auto _ : state) {
    for (const std::string& expr : g_exprs) {
      auto parsed = tovarn::xpath::parse_expression(expr);
      refused += !parsed;
      benchmark::DoNotOptimize(parsed);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * g_exprs.size()));
  state.counters["refused"] = static_cast<double>(refused / state.iterations());
}

std::string repeat(std::string_view text, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += text;
  return out;
}

void BM_RefuseLongSum(benchmark::State& state) {
  const std::string text = "1" + repeat("+1", 200000);
  for (auto _ : state) benchmark::DoNotOptimize(tovarn::xpath::parse_expression(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_RefuseNestedParentheses(benchmark::State& state) {
  const std::string text = repeat("(", 100000) + "1" + repeat(")", 100000);
  for (auto _ : state) benchmark::DoNotOptimize(tovarn::xpath::parse_expression(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path corpus = "/work/shared/corpus/forms";
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.starts_with("--corpus=")) {
      corpus = arg.substr(9);
    } else {
      args.push_back(argv[i]);
    }
  }
  load_corpus(corpus);
  std::printf("%zu bind expressions, %zu bytes\n", g_exprs.size(), g_bytes);
  benchmark::RegisterBenchmark("parse/corpus", BM_ParseCorpus);
  benchmark::RegisterBenchmark("parse/refuse_long_sum", BM_RefuseLongSum);
  benchmark::RegisterBenchmark("parse/refuse_nested_parentheses", BM_RefuseNestedParentheses);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}

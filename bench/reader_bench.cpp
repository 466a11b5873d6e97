// Reads every form of a corpus from memory with tovarn's reader, libxml2's
// xmlReadMemory and pugixml's load_buffer, and prints each one's throughput
// and the ratios between them.
//
//   bench_reader [--corpus=DIR] [benchmark flags]   (default DIR: the shared corpus)
//   bench_reader --benchmark_repetitions=5          (ratios of the medians)

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tree/xml.h"

namespace {

std::vector<std::string> g_forms;
std::size_t g_bytes = 0;

void load_corpus(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".xml") paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  for (const auto& path : paths) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    g_forms.push_back(text.str());
    g_bytes += g_forms.back().size();
  }
}

void BM_tovarn(benchmark::State& state) {
  std::size_t refused = 0;
  for (auto _ : state) {
    for (const std::string& form : g_forms) {
      auto doc = tovarn::tree::parse_xml(form);
      refused += !doc;
      benchmark::DoNotOptimize(doc);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
  state.counters["refused"] = static_cast<double>(refused) / static_cast<double>(state.iterations());
}

void BM_libxml2(benchmark::State& state) {
  std::size_t refused = 0;
  for (auto _ : state) {
    for (const std::string& form : g_forms) {
      xmlDocPtr doc = xmlReadMemory(form.data(), static_cast<int>(form.size()), "form.xml", nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
      refused += doc == nullptr;
      benchmark::DoNotOptimize(doc);
      xmlFreeDoc(doc);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
  state.counters["refused"] = static_cast<double>(refused) / static_cast<double>(state.iterations());
}

void BM_pugixml(benchmark::State& state) {
  std::size_t refused = 0;
  for (auto _ : state) {
    for (const std::string& form : g_forms) {
      pugi::xml_document doc;
      refused += !doc.load_buffer(form.data(), form.size());
      benchmark::DoNotOptimize(doc);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_bytes));
  state.counters["refused"] = static_cast<double>(refused) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_tovarn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_libxml2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pugixml)->Unit(benchmark::kMillisecond);

// The console output, then each reader's MB/s and how tovarn's compares.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With repetitions, the median speaks for a reader; otherwise its one run.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (!median && (run.run_type != Run::RT_Iteration || medians_.contains(run.run_name.str()))) {
        continue;
      }
      auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      mbps_[run.run_name.str()] = it->second.value / 1e6;
      if (median) medians_.insert(run.run_name.str());
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%zu forms, %.1f MB\n", g_forms.size(), static_cast<double>(g_bytes) / 1e6);
    for (const auto& [name, mbps] : mbps_) std::printf("%-12s %8.1f MB/s\n", name.c_str(), mbps);
    auto ours = mbps_.find("BM_tovarn");
    if (ours == mbps_.end()) return;
    for (const auto& [name, mbps] : mbps_) {
      if (name != ours->first && mbps > 0) {
        std::printf("tovarn / %-10s %5.2fx\n", name.substr(3).c_str(), ours->second / mbps);
      }
    }
  }

 private:
  std::map<std::string, double> mbps_;
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string corpus = "/work/shared/corpus/forms";
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.starts_with("--corpus=")) {
      corpus = arg.substr(9);
    } else {
      args.push_back(argv[i]);
    }
  }
  load_corpus(corpus);
  if (g_forms.empty()) {
    std::fprintf(stderr, "bench_reader: no .xml files under %s\n", corpus.c_str());
    return 1;
  }
  xmlInitParser();
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  xmlCleanupParser();
  return 0;
}

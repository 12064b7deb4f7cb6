// Names matched per second by PatternSet::match over real names: every file
// and folder name under /usr (symbolic links are listed but not followed),
// collected once before the first benchmark.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "index/pattern_set.h"

namespace {

const std::vector<std::string>& UsrNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::recursive_directory_iterator it("/usr", fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      out.push_back(it->path().filename().string());
    }
    return out;
  }();
  return names;
}

void MatchAll(benchmark::State& state, const char* named_text) {
  const std::vector<std::string>& names = UsrNames();
  quindelo::PatternSet set;
  set.parse(named_text);
  std::size_t matched = 0;
  for (auto _ : state) {
    matched = 0;
    for (const std::string& name : names) matched += set.match(name);
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * names.size()));
  state.counters["names"] = static_cast<double>(names.size());
  state.counters["matched"] = static_cast<double>(matched);
}

void BM_Substring(benchmark::State& state) { MatchAll(state, "readme"); }
void BM_Extension(benchmark::State& state) { MatchAll(state, "*.txt"); }
void BM_QuestionMark(benchmark::State& state) { MatchAll(state, "lib?.so*"); }
void BM_ThreePatterns(benchmark::State& state) { MatchAll(state, "*.c;*.h;makefile"); }
void BM_Hostile(benchmark::State& state) { MatchAll(state, "*a*a*a*a*a*a*a*a*b"); }

BENCHMARK(BM_Substring);
BENCHMARK(BM_Extension);
BENCHMARK(BM_QuestionMark);
BENCHMARK(BM_ThreePatterns);
BENCHMARK(BM_Hostile);

}  // namespace

BENCHMARK_MAIN();

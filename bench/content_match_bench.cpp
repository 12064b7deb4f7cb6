// Content matching over the headers in /usr/include: one pass of MatchFile
// over every regular file per iteration, reported as bytes of files covered
// per second (files are warm in the page cache after the first pass).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "content/content_matcher.h"

namespace {

struct Corpus {
  std::vector<std::string> paths;
  std::uint64_t bytes = 0;
};

const Corpus& Headers() {
  static const Corpus corpus = [] {
    Corpus c;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::recursive_directory_iterator it("/usr/include", fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code sec;
      if (!it->is_symlink(sec) && it->is_regular_file(sec)) {
        c.paths.push_back(it->path().string());
        c.bytes += it->file_size(sec);
      }
    }
    return c;
  }();
  return corpus;
}

void MatchAll(benchmark::State& state, const char* expression_text) {
  const Corpus& corpus = Headers();
  quindelo::ContainingExpression expression;
  std::string message;
  if (!expression.Compile(expression_text, &message)) {
    state.SkipWithError(message.c_str());
    return;
  }
  quindelo::ContentMatcher matcher(expression);
  std::int64_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (const std::string& path : corpus.paths) {
      if (matcher.MatchFile(path, nullptr)) ++found;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(corpus.bytes) * state.iterations());
  state.counters["files"] = static_cast<double>(corpus.paths.size());
  state.counters["found"] = static_cast<double>(found);
}

// A whole word in any letter case: [mutex] (stops reading at the first hit).
void BM_WholeWordMutex(benchmark::State& state) { MatchAll(state, "mutex"); }
// A quoted string, matched anywhere.
void BM_QuotedString(benchmark::State& state) { MatchAll(state, "\"pthread_mutex_lock\""); }
// A word that is absent, negated: every file is read to its end.
void BM_FullReadAbsentWord(benchmark::State& state) { MatchAll(state, "NOT zqxjvw"); }
// A NEAR chain.
void BM_NearChain(benchmark::State& state) { MatchAll(state, "mutex NEAR lock"); }

BENCHMARK(BM_WholeWordMutex)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QuotedString)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FullReadAbsentWord)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NearChain)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

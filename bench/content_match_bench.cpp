// Content matching over the headers in /usr/include: one pass of a
// FileSearcher rooted there over every regular file per iteration, reported as bytes of files covered
// per second (files are warm in the page cache after the first pass).
//
// Hostile texts for words with stars: the matcher is fed from memory (no
// file reads), and every word is absent so that the whole text is scanned.
//   BM_StarsOnA/<stars>/<MiB>:   [a*a*...*a*b] on words of "a" (200 to 255
//                                 bytes, then a space), <stars> stars
//   BM_StarsOnAB/<stars>/<MiB>:  the same words with a "b" in their middle, so
//                                 that every star is tried at every byte
//   BM_StarsOnMixed/<stars>/<MiB>: [a*b*c*...*z] on random words of the
//                                 letters a-i with random separators
//   BM_LeadingStar/<stars>/<MiB>: [*a*...*a*b] (not tied to a word start, so
//                                 every "a" is a candidate) on words of "a"
//   BM_ManyStarsOnA:              128 stars on 1 MiB of "a" words
//   BM_StopLatency/<word>:        time from a stop request to the return of
//                                 FileSearcher::Search while it reads a 256 MiB file of
//                                 mixed text (written to $TMPDIR, removed at exit)
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "content/content_matcher.h"
#include "content/file_searcher.h"

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
  quindelo::FileSearcher searcher;
  searcher.SetRoot("/usr/include");
  std::int64_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (const std::string& path : corpus.paths) {
      if (searcher.Search(path, &matcher, {}, nullptr) == quindelo::FileSearcher::Result::kMatch) ++found;
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

// Words of "a" 200 to 255 bytes long, each followed by one space: every star
// of a word of "a"s can absorb up to the end of its word.
std::string WordsOfA(std::size_t size) {
  std::mt19937 rng(5);
  std::string text;
  text.reserve(size + 256);
  while (text.size() < size) {
    text.append(200 + rng() % 56, 'a');
    text.push_back(' ');
  }
  text.resize(size);
  return text;
}

// Words of "a" as above, each with a "b" in its middle (never at its end).
std::string WordsOfAWithB(std::size_t size) {
  std::string text = WordsOfA(size);
  std::size_t begin = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ' ') {
      if (i - begin > 2) text[begin + (i - begin) / 2] = 'b';
      begin = i + 1;
    }
  }
  return text;
}

// Random words of the letters a-i (1 to 300 bytes) with random separators.
std::string MixedText(std::size_t size) {
  std::mt19937 rng(11);
  const char separators[] = " .,-\n";
  std::string text;
  text.reserve(size + 512);
  while (text.size() < size) {
    std::size_t length = 1 + rng() % (rng() % 8 == 0 ? 300 : 12);
    for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + rng() % 9));
    text.push_back(separators[rng() % (sizeof(separators) - 1)]);
  }
  text.resize(size);
  return text;
}

// [a*a*...*a*b] with the given number of stars; with letters, the letters
// go a, b, c, ... and the last one is "z" (absent from the mixed text).
std::string StarWord(int stars, bool letters, bool leading) {
  std::string word = leading ? "*" : "";
  for (int i = 0; i < stars; ++i) {
    word.push_back(letters ? static_cast<char>('a' + i) : 'a');
    word.push_back('*');
  }
  word.push_back(letters ? 'z' : 'b');
  return word;
}

void ScanText(benchmark::State& state, const std::string& word, const std::string& text) {
  quindelo::ContainingExpression expression;
  std::string message;
  if (!expression.Compile(word, &message)) {
    state.SkipWithError(message.c_str());
    return;
  }
  quindelo::ContentMatcher matcher(expression);
  bool found = false;
  for (auto _ : state) {
    matcher.Begin();
    matcher.ScanBytes(text.data(), text.size());
    found = matcher.Finish();
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(text.size()) * state.iterations());
  state.counters["found"] = found ? 1 : 0;
}

void BM_StarsOnA(benchmark::State& state) {
  ScanText(state, StarWord(static_cast<int>(state.range(0)), false, false),
           WordsOfA(static_cast<std::size_t>(state.range(1)) << 20));
}
void BM_StarsOnAB(benchmark::State& state) {
  ScanText(state, StarWord(static_cast<int>(state.range(0)), false, false),
           WordsOfAWithB(static_cast<std::size_t>(state.range(1)) << 20));
}
void BM_StarsOnMixed(benchmark::State& state) {
  ScanText(state, StarWord(static_cast<int>(state.range(0)), true, false),
           MixedText(static_cast<std::size_t>(state.range(1)) << 20));
}
void BM_LeadingStar(benchmark::State& state) {
  ScanText(state, StarWord(static_cast<int>(state.range(0)), false, true),
           WordsOfA(static_cast<std::size_t>(state.range(1)) << 20));
}
void BM_ManyStarsOnA(benchmark::State& state) { ScanText(state, StarWord(128, false, false), WordsOfA(1 << 20)); }

void StarArguments(benchmark::internal::Benchmark* b) {
  for (int stars = 1; stars <= 8; ++stars) b->Args({stars, 1});
  b->Args({2, 16});
  b->Args({8, 16});
}

BENCHMARK(BM_StarsOnA)->Apply(StarArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StarsOnAB)->Apply(StarArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StarsOnMixed)->Apply(StarArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LeadingStar)->Apply(StarArguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ManyStarsOnA)->Unit(benchmark::kMillisecond)->UseRealTime();

// Written on first use, removed when the program ends.
struct LargeFileHolder {
  std::string path;
  LargeFileHolder() {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp ? tmp : "/tmp") + "/quindelo_stop_latency.txt";
    const std::string chunk = MixedText(16u << 20);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 16; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  ~LargeFileHolder() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
};

const std::string& LargeFile() {
  static const LargeFileHolder file;
  return file.path;
}

void StopLatency(benchmark::State& state, const char* word) {
  const std::string& path = LargeFile();
  quindelo::ContainingExpression expression;
  if (!expression.Compile(word, nullptr)) {
    state.SkipWithError("does not compile");
    return;
  }
  quindelo::ContentMatcher matcher(expression);
  quindelo::FileSearcher searcher;
  searcher.SetRoot(std::filesystem::path(path).parent_path().string());
  double worst = 0;
  int stopped = 0;
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    quindelo::FileSearcher::Result result{};
    std::thread search([&] { result = searcher.Search(path, &matcher, [&] { return stop.load(); }, nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto asked = std::chrono::steady_clock::now();
    stop = true;
    search.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    state.SetIterationTime(seconds);
    worst = std::max(worst, seconds);
    if (result == quindelo::FileSearcher::Result::kStopped) ++stopped;
  }
  state.counters["worst_ms"] = worst * 1000;
  state.counters["stopped"] = stopped;
}

void BM_StopLatencyAbsentWord(benchmark::State& state) { StopLatency(state, "NOT zqxjvw"); }
void BM_StopLatencyEightStars(benchmark::State& state) { StopLatency(state, "a*b*c*d*e*f*g*h*z"); }
void BM_StopLatencyLeadingStars(benchmark::State& state) { StopLatency(state, "*a*a*a*a*a*a*a*a*z"); }

BENCHMARK(BM_StopLatencyAbsentWord)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StopLatencyEightStars)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StopLatencyLeadingStars)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

BENCHMARK(BM_WholeWordMutex)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QuotedString)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FullReadAbsentWord)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NearChain)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Per-call cost of the number text and VAL, the two value functions that run per
// field per record. The snprintf and strtod runs are side-by-side references.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "values/number_text.h"
#include "values/numeric.h"

namespace {

// Amounts as the ledgers hold them: two decimals, up to ten integer digits.
std::vector<double> amounts() {
  std::mt19937_64 rng(1);
  std::uniform_int_distribution<long long> cents(-99999999999LL, 99999999999LL);
  std::vector<double> v(4096);
  for (double& x : v) x = static_cast<double>(cents(rng)) / 100;
  return v;
}

// 13-digit texts as the packed identity numbers decode to.
std::vector<std::string> digit_texts() {
  std::mt19937_64 rng(2);
  std::uniform_int_distribution<int> digit(0, 9);
  std::vector<std::string> v(4096);
  for (std::string& s : v) {
    for (int k = 0; k < 13; ++k) s.push_back(static_cast<char>('0' + digit(rng)));
  }
  return v;
}

void BM_STR_Double(benchmark::State& state) {
  lum::Runtime rt;
  const std::vector<double> xs = amounts();
  std::vector<lum::Value> values;
  for (double x : xs) values.push_back(lum::Value::dbl(x, 10, 2));
  const lum::Value width = 14, dec = 2;
  std::size_t i = 0;
  for (auto _ : state) {
    lum::Value s = lum::STR(values[i++ & 4095], width, dec);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_STR_Double);

void BM_NumberText_IntoBuffer(benchmark::State& state) {
  const std::vector<double> xs = amounts();
  char buf[16];
  std::size_t i = 0;
  for (auto _ : state) {
    lum::Number n;
    n.repr = lum::NumRepr::Double;
    n.d = xs[i++ & 4095];
    lum::number_text(n, 11, 2, buf);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_NumberText_IntoBuffer);

void BM_Snprintf_Reference(benchmark::State& state) {
  const std::vector<double> xs = amounts();
  char buf[32];
  std::size_t i = 0;
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, "%14.2f", xs[i++ & 4095]);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_Snprintf_Reference);

void BM_VAL_13Digits(benchmark::State& state) {
  lum::Runtime rt;
  std::vector<lum::Value> texts;
  for (const std::string& s : digit_texts()) texts.push_back(lum::Value::string(s));
  std::size_t i = 0;
  for (auto _ : state) {
    lum::Value v = lum::VAL(texts[i++ & 4095]);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_VAL_13Digits);

void BM_ValNumber_13Digits(benchmark::State& state) {
  const std::vector<std::string> texts = digit_texts();
  std::size_t i = 0;
  for (auto _ : state) {
    lum::Number n = lum::val_number(texts[i++ & 4095]);
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_ValNumber_13Digits);

void BM_Strtoll_Reference(benchmark::State& state) {
  const std::vector<std::string> texts = digit_texts();
  std::size_t i = 0;
  for (auto _ : state) {
    long long v = std::strtoll(texts[i++ & 4095].c_str(), nullptr, 10);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_Strtoll_Reference);

}  // namespace

// Appending a million records of about 300 bytes to an existing table, field by field
// (character, numeric and date fields), through the engine: open, zap, append, close.
// The same bytes written with one std::fwrite per record run in the same iteration as
// the reference; the counters report both times and their ratio (engine / raw).
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/dbf_format.h"
#include "table/names.h"
#include "values/dates.h"

namespace {

namespace fs = std::filesystem;

struct FieldDef {
  const char* name;
  char type;
  int len, dec;
};

// 9 character fields, 4 numeric, 3 dates, 1 logical: a 298-byte record.
constexpr FieldDef kFields[] = {
    {"NOME", 'C', 40, 0}, {"ENDERECO", 'C', 40, 0}, {"BAIRRO", 'C', 20, 0}, {"CIDADE", 'C', 20, 0},
    {"UF", 'C', 2, 0},    {"CEP", 'C', 8, 0},       {"FONE", 'C', 15, 0},   {"EMAIL", 'C', 40, 0},
    {"OBS", 'C', 50, 0},  {"CODIGO", 'N', 6, 0},    {"VALOR", 'N', 12, 2},  {"SALDO", 'N', 14, 2},
    {"QTD", 'N', 5, 0},   {"DATA1", 'D', 8, 0},     {"DATA2", 'D', 8, 0},   {"DATA3", 'D', 8, 0},
    {"ATIVO", 'L', 1, 0},
};
constexpr int kFieldCount = static_cast<int>(std::size(kFields));
constexpr int kPool = 1024;  // distinct value sets, cycled

int record_length() {
  int n = 1;
  for (const FieldDef& f : kFields) n += f.len;
  return n;
}

std::vector<std::uint8_t> header_bytes() {
  std::vector<std::uint8_t> h(32 + 32 * kFieldCount + 1, 0);
  h[0] = 0x03;
  lum::dbf::put_le16(&h[8], static_cast<std::uint16_t>(h.size()));
  lum::dbf::put_le16(&h[10], static_cast<std::uint16_t>(record_length()));
  for (int i = 0; i < kFieldCount; ++i) {
    auto d = lum::dbf::encode_descriptor(kFields[i].name, kFields[i].type,
                                         static_cast<std::uint32_t>(kFields[i].len),
                                         static_cast<std::uint8_t>(kFields[i].dec));
    std::copy(d.begin(), d.end(), h.begin() + 32 + 32 * i);
  }
  h.back() = 0x0D;
  return h;
}

// Field values and the record image they make, for kPool records.
struct Pool {
  std::vector<std::array<lum::Value, kFieldCount>> values;
  std::vector<std::string> images;
};

Pool make_pool() {
  Pool p;
  for (int k = 0; k < kPool; ++k) {
    std::array<lum::Value, kFieldCount> v;
    std::string image = " ";
    auto text = [&](int i, std::string s) {
      s.resize(static_cast<std::size_t>(kFields[i].len), ' ');
      v[static_cast<std::size_t>(i)] = lum::Value::string(s);
      image += s;
    };
    text(0, "CLIENTE NUMERO " + std::to_string(k * 7919));
    text(1, "RUA DAS FLORES " + std::to_string(k));
    text(2, "CENTRO");
    text(3, "SAO PAULO");
    text(4, "SP");
    text(5, std::to_string(10000000 + k));
    text(6, "(11) 5555-" + std::to_string(1000 + k));
    text(7, "cliente" + std::to_string(k) + "@exemplo.com.br");
    text(8, "SEM OBSERVACOES");
    char buf[32];
    v[9] = lum::Value::int32(k * 97 % 999999);
    std::snprintf(buf, sizeof buf, "%6d", k * 97 % 999999);
    image += buf;
    double cents = (k * 12345 % 10000000) / 100.0;
    v[10] = lum::Value::dbl(cents, 10, 2);
    std::snprintf(buf, sizeof buf, "%12.2f", cents);
    image += buf;
    v[11] = lum::Value::dbl(-cents, 10, 2);
    std::snprintf(buf, sizeof buf, "%14.2f", -cents);
    image += buf;
    v[12] = lum::Value::int32(k % 500);
    std::snprintf(buf, sizeof buf, "%5d", k % 500);
    image += buf;
    for (int d = 0; d < 3; ++d) {
      int y = 1995 + (k + d) % 30, m = 1 + (k + d) % 12, day = 1 + (k * 3 + d) % 28;
      v[static_cast<std::size_t>(13 + d)] = lum::Value::date(lum::date_encode(y, m, day));
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, day);
      image += buf;
    }
    v[16] = lum::Value::logical(k % 2 == 0);
    image += k % 2 == 0 ? "T" : "F";
    p.values.push_back(v);
    p.images.push_back(image);
  }
  return p;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Raw reference: the header and every record image, one fwrite per record.
double raw_write(const fs::path& file, const Pool& pool, int records) {
  auto t0 = std::chrono::steady_clock::now();
  std::FILE* f = std::fopen(file.c_str(), "wb");
  std::vector<std::uint8_t> h = header_bytes();
  std::fwrite(h.data(), 1, h.size(), f);
  for (int i = 0; i < records; ++i) {
    const std::string& img = pool.images[static_cast<std::size_t>(i % kPool)];
    std::fwrite(img.data(), 1, img.size(), f);
  }
  std::fclose(f);
  return seconds_since(t0);
}

// The two files hold the same records: equal sizes and equal last 64 KiB.
bool same_records(const fs::path& a, const fs::path& b) {
  if (fs::file_size(a) != fs::file_size(b)) return false;
  auto tail = [](const fs::path& p) {
    std::vector<char> buf(65536);
    std::FILE* f = std::fopen(p.c_str(), "rb");
    std::fseek(f, -static_cast<long>(buf.size()), SEEK_END);
    buf.resize(std::fread(buf.data(), 1, buf.size(), f));
    std::fclose(f);
    return buf;
  };
  return tail(a) == tail(b);
}

void BM_AppendFieldByField(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  const bool by_name = state.range(1) != 0;
  fs::path dir = fs::temp_directory_path() / "lum_table_bench";
  fs::create_directories(dir);
  fs::path table = dir / "bench.dbf", raw = dir / "raw.dbf";
  Pool pool = make_pool();
  double raw_total = 0, engine_total = 0;
  for (auto _ : state) {
    // An existing table with some records, which the run empties first.
    raw_write(table, pool, 1000);
    raw_total += raw_write(raw, pool, records);

    lum::Runtime rt;
    rt.install_handler([](lum::ErrorObject&) { return lum::Value::logical(false); });
    rt.settings().hardcommit = false;  // the reference does not force its file to disk
    std::vector<lum::FieldRef> refs;
    for (const FieldDef& f : kFields) refs.emplace_back(f.name);
    auto t0 = std::chrono::steady_clock::now();
    lum::DBUSEAREA(true, {}, table.string());
    lum::cmd::DBZAP();
    for (int i = 0; i < records; ++i) {
      lum::DBAPPEND();
      const auto& v = pool.values[static_cast<std::size_t>(i % kPool)];
      for (int k = 0; k < kFieldCount; ++k) {
        if (by_name) {
          lum::field_put(kFields[k].name, v[static_cast<std::size_t>(k)]);
        } else {
          refs[static_cast<std::size_t>(k)].put(v[static_cast<std::size_t>(k)]);
        }
      }
    }
    lum::DBCLOSEALL();
    double engine = seconds_since(t0);
    engine_total += engine;
    state.SetIterationTime(engine);
    if (!same_records(table, raw)) state.SkipWithError("engine and reference bytes differ");
  }
  state.counters["raw_s"] = raw_total / static_cast<double>(state.iterations());
  state.counters["engine_s"] = engine_total / static_cast<double>(state.iterations());
  state.counters["ratio"] = engine_total / raw_total;
  state.SetItemsProcessed(state.iterations() * records);
  fs::remove_all(dir);
}
BENCHMARK(BM_AppendFieldByField)
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->ArgNames({"records", "by_name"})
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace

// Recipient completion over a large phone book: each keystroke's lookup (up to eight
// names starting with the text typed, any letter case) beside the browser's
// type-ahead seek of the same texts, measured in the same run on the same table.
//
//   completion_bench [entries] [directory]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/table/random_names.hpp"
#include "controller/completion.hpp"
#include "dbengine/dbe.hpp"
#include "dbengine/table.hpp"

namespace {

using Clock = std::chrono::steady_clock;
namespace pb = vz::phonebook;

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

class BenchUi : public pb::PhoneBookUi {
 public:
  explicit BenchUi(std::string dir) : path_(std::move(dir) + "\\VZNTCTL.EXE") {}
  std::string ProgramPath() override { return path_; }
  void ShowInfo(const std::string&) override {}
  void Terminate() override {}
  void Beep() override {}

 private:
  std::string path_;
};

std::string Padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

// One name in four starts in lower case, so the lookups meet every case variant.
void MakePhoneBook(const std::string& path, std::uint32_t entries) {
  using vz::db::Table;
  std::filesystem::remove(path);
  std::filesystem::remove(Table::ProductionIndexPath(path));
  vz::db::TableOptions o;
  o.mode = vz::db::ShareMode::kExclusive;
  Table::Create(path, {{"NAME", 'C', 35, 0, 0}, {"PHONE", 'C', 25, 0, 0}}, o);
  auto t = Table::Open(path, o);
  std::mt19937_64 rng(20261209);
  for (std::uint32_t i = 0; i < entries; ++i) {
    std::string name = vz::bench::RandomName(rng);
    if (rng() % 4 == 0) name[0] = static_cast<char>(name[0] - 'A' + 'a');
    std::string record(1, ' ');
    record.append(Padded(name, 35));
    record.append(Padded(std::to_string(4930000000u + i), 25));
    t->Append(record);
  }
  t->IndexTag({"NAME", "NAME", ".not. deleted()", false, false});
  t->Flush();
}

struct Figures {
  double median = 0, worst = 0;
};

template <typename Lookup>
Figures Measure(const std::vector<std::string>& texts, Lookup lookup) {
  std::vector<double> ms;
  for (const auto& text : texts) {
    const auto t0 = Clock::now();
    lookup(text);
    ms.push_back(Ms(t0, Clock::now()));
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint32_t entries = argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : (std::filesystem::temp_directory_path() / "vz_completion_bench").string();
  std::filesystem::create_directories(dir);
  const auto t0 = Clock::now();
  MakePhoneBook(dir + "/VZPB.DBF", entries);
  std::printf("phone book of %u entries made in %.1f s\n", entries, Ms(t0, Clock::now()) / 1000);

  // What a user types: the first one to four letters of a name, in any case.
  std::mt19937_64 rng(7);
  std::vector<std::string> texts;
  for (int i = 0; i < 2000; ++i) {
    std::string name = vz::bench::RandomName(rng);
    name.resize(1 + rng() % 4);
    for (char& c : name)
      if (rng() % 2) c = static_cast<char>(c ^ 0x20);
    texts.push_back(name);
  }
  BenchUi ui(dir);
  std::size_t shown = 0;
  vz::PhoneBookLookup names(ui);
  vz::CompletionsFor(names, "a");  // opens the table
  const Figures completion = Measure(texts, [&](const std::string& t) { shown += vz::CompletionsFor(names, t).size(); });

  vz::data::TTable table;
  vz::data::TDataSource source;
  pb::TDataEngine engine;
  pb::AddPhoneFields(table);
  source.SetDataSet(&table);
  engine.SetDataSource(&source);
  if (!pb::OpenPhoneDBF(table, engine, ui)) return 2;
  const Figures seek = Measure(texts, [&](const std::string& t) { table.FindNearestCaseless(t); });

  std::printf("%zu lookups, %.1f names each on average\n", texts.size(), static_cast<double>(shown) / texts.size());
  std::printf("%-52s median %7.3f ms  worst %7.3f ms\n", "completion (up to 8 names, any case)", completion.median, completion.worst);
  std::printf("%-52s median %7.3f ms  worst %7.3f ms\n", "baseline: the browser's type-ahead seek", seek.median, seek.worst);
  std::printf("ratio of medians %.2f (target: each lookup under 5 ms)\n", completion.median / seek.median);
  engine.SetDataSource(nullptr);
  table.Close();
  dbe_CloseAll();
  return 0;
}

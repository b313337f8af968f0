// libFuzzer target: any bytes as a compound index file. Opening, checking, walking,
// counting, seeking and a small update must end normally or with CdxDamaged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/cdx.hpp"
#include "tests/native/cdx/mem_file.hpp"

using namespace vz::db;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto storage = test::NewStorage(std::vector<unsigned char>(data, data + size));
  CdxOptions options;
  options.shared = size % 2 == 0;
  options.cachePages = 16;
  try {
    auto index = CdxIndex::Open(test::Opener(storage), options);
    try {
      index->Check();
    } catch (const CdxDamaged&) {
    }
    for (const CdxTagInfo& info : index->Tags()) {
      CdxTag* tag = index->FindTag(info.name);
      if (!tag) continue;
      std::size_t steps = 0;
      for (auto e = tag->First(); e && steps < 100000; e = tag->Next(*e)) ++steps;
      for (auto e = tag->Last(); e && steps < 200000; e = tag->Prev(*e)) ++steps;
      tag->Count();
      tag->Seek("M");
      const std::string key(static_cast<std::size_t>(info.keyLength), 'K');
      tag->Insert(key, 3);
      tag->Remove(key, 3);
      tag->Check();
    }
  } catch (const CdxDamaged&) {
  }
  return 0;
}

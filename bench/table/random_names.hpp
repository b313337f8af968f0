#pragma once
// The benchmarks' data: phone book names made of random syllables.
#include <random>
#include <string>

namespace vz::bench {

// "Surname, Firstname" from random syllables.
inline std::string RandomName(std::mt19937_64& rng) {
  static const char* const kSyl[] = {"ka", "ber", "mo", "lin", "ste", "ri", "an", "do", "wel", "sch",
                                     "mi", "ott", "zu", "fa", "ner", "li", "gu", "ho", "tra", "ve"};
  auto word = [&](int parts) {
    std::string w;
    for (int i = 0; i < parts; ++i) w += kSyl[rng() % 20];
    w[0] = static_cast<char>(w[0] - 'a' + 'A');
    return w;
  };
  return word(2 + static_cast<int>(rng() % 3)) + ", " + word(1 + static_cast<int>(rng() % 3));
}

}  // namespace vz::bench

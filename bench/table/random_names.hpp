#pragma once
// The benchmarks' data: phone book names made of random syllables or random letters.
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

// A word of `min` to `max` letters, all uniformly random: one upper-case letter, then
// lower-case ones.
inline std::string RandomWord(std::mt19937_64& rng, int min, int max) {
  const int length = min + static_cast<int>(rng() % static_cast<unsigned>(max - min + 1));
  std::string w(static_cast<std::size_t>(length), ' ');
  w[0] = static_cast<char>('A' + rng() % 26);
  for (int i = 1; i < length; ++i) w[static_cast<std::size_t>(i)] = static_cast<char>('a' + rng() % 26);
  return w;
}

// The reference workload's names: a word of 4 to 14 letters, ", ", a word of 3 to 10
// letters, cut to the 35 characters of the field.
inline std::string RandomLetterName(std::mt19937_64& rng) {
  std::string name = RandomWord(rng, 4, 14) + ", " + RandomWord(rng, 3, 10);
  if (name.size() > 35) name.resize(35);
  return name;
}

}  // namespace vz::bench

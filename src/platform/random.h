// The pseudo-random source: mailbox sector numbers and image filler bytes come from it.
// Injectable so tests can fix the sequence.
#pragma once

#include <cstdint>
#include <random>

namespace caspira {

class Random {
 public:
  virtual ~Random() = default;
  virtual void Seed(std::uint32_t seed) = 0;
  virtual std::uint32_t Next() = 0;
};

class StdRandom final : public Random {
 public:
  void Seed(std::uint32_t seed) override { engine_.seed(seed); }
  std::uint32_t Next() override { return static_cast<std::uint32_t>(engine_()); }

 private:
  std::mt19937 engine_{0};
};

}  // namespace caspira

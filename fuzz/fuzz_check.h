#pragma once
// What the fuzz targets share: an invariant check that stops the run with a
// message (and so makes libFuzzer keep the input), and a piece-size source.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);      \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace tavrik::fuzz {

// Piece sizes taken from the input itself, so that libFuzzer can steer the
// chunking as well as the bytes: a run of sizes 1 .. maxPiece.
class PieceSizes {
  public:
    PieceSizes(const std::uint8_t* data, std::size_t size, std::size_t maxPiece)
        : data_(data), size_(size), maxPiece_(maxPiece) {}
    std::size_t Next() {
        if (size_ == 0) return maxPiece_;
        const std::size_t b = data_[at_++ % size_];
        return 1 + (b ^ (at_ * 0x9Du & 0xFFu)) % maxPiece_;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t maxPiece_;
    std::size_t at_ = 0;
};

} // namespace tavrik::fuzz

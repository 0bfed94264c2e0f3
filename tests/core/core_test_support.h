#pragma once
// Helpers shared by the core tests: a temporary folder, whole-file reads and
// a builder for the satellite's telemetry frames.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrik::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temp folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tavrik_core_XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

inline Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The 17 header bytes of the satellite's frames: port byte, TAVRIK twice, UI, no layer 3.
inline Bytes TelemetryHeader() {
    return {0x00, 0xA8, 0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0xA8,
            0x82, 0xAC, 0xA4, 0x92, 0x96, 0x00, 0x03, 0xF0};
}

// A telemetry frame of the given length (positions 1..length), header in
// place and the two fixed bytes (positions 19 and 20) set to 1.
class FrameBuilder {
  public:
    explicit FrameBuilder(std::size_t length = 111) : bytes_(length, 0) {
        const Bytes h = TelemetryHeader();
        for (std::size_t i = 0; i < h.size() && i < length; ++i)
            bytes_[i] = h[i];
        if (length >= 20) {
            bytes_[18] = 1;
            bytes_[19] = 1;
        }
    }
    FrameBuilder& U8(int position, std::uint8_t v) {
        bytes_.at(static_cast<std::size_t>(position - 1)) = v;
        return *this;
    }
    FrameBuilder& U16(int position, std::uint16_t v) {
        U8(position, static_cast<std::uint8_t>(v & 0xFF));
        return U8(position + 1, static_cast<std::uint8_t>(v >> 8));
    }
    FrameBuilder& S16(int position, std::int16_t v) {
        return U16(position, static_cast<std::uint16_t>(v));
    }
    const Bytes& Get() const { return bytes_; }

  private:
    Bytes bytes_;
};

} // namespace tavrik::test

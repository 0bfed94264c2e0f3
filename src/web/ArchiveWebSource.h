#pragma once
// The archive as the web page asks it: its own read connection to the
// station's archive file, opened when first needed, queried on the window's
// thread (SQLite in WAL mode lets it read while the writer thread writes).
#include <functional>
#include <string>

#include "archive/Archive.h"
#include "web/WebSeries.h"

namespace tavrik {

class ArchiveWebSource : public WebArchive {
  public:
    // path: the archive file, "" while the station keeps none.
    explicit ArchiveWebSource(std::function<std::string()> path) : path_(std::move(path)) {}

    std::optional<std::vector<SeriesPoint>> Series(int field, std::int64_t fromMs,
                                                   std::int64_t toMs, int points) override;
    std::optional<std::vector<PassView>> Passes(std::int64_t fromMs, std::int64_t toMs,
                                                std::size_t max) override;
    // Frames the archive holds; nothing when it cannot be read.
    std::optional<std::uint64_t> Rows();

  private:
    bool Ready();

    std::function<std::string()> path_;
    Archive archive_;
};

} // namespace tavrik

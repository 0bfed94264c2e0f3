#pragma once
// The archive's answers for the chart, from a read connection of its own that
// lives on the chart's worker thread.
#include <string>

#include "app/ArchiveChartSource.h"

namespace tavrik {

// Opens the archive at its first use and again after a failed read.
ArchiveChartQuery ArchiveChartQueryFor(const std::string& archivePath);

} // namespace tavrik

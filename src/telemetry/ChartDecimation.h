#pragma once
// Which rows of a long series a line chart has to draw: a chart of 10000 rows
// on a few hundred pixel columns looks the same from a fraction of its points.
#include <cstddef>
#include <span>
#include <vector>

namespace tavrik {

// The rows (0-based, ascending, each once) to draw for `columns` pixel columns:
// per column the first, lowest, highest and last of the rows that fall into it,
// so spikes and each column's ends stay in the picture. With at most four rows
// per column (or no columns) every row is drawn.
std::vector<std::size_t> RowsToDraw(std::span<const double> values, std::size_t columns);

} // namespace tavrik

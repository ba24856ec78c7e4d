// SPDX-License-Identifier: MIT
// A constant table handed out as a range. The tables are plain arrays, built
// before anything runs and never destroyed: libflashsim.so still reads them at
// exit, after the C++ runtime has destroyed any std::vector it would hold.
#pragma once
#include <cstddef>

namespace flashsim {

template <typename Row>
struct TableView {
  const Row* rows;
  size_t count;

  const Row* begin() const { return rows; }
  const Row* end() const { return rows + count; }
  size_t size() const { return count; }
  const Row& operator[](size_t index) const { return rows[index]; }
};

template <typename Row, size_t N>
TableView<Row> view_of(const Row (&rows)[N]) {
  return {rows, N};
}

}  // namespace flashsim

// SPDX-License-Identifier: MIT
// The program never throws: every buffer comes from new (std::nothrow) and a
// null result is a STATUS_FAIL. Supplying the allocation functions here keeps
// the C++ runtime's exception and unwinding machinery (and its demangler) out
// of the board binary. It sits beside main because it belongs to the binary
// alone: the sanitized builds and the unit tests keep their runtime's own.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

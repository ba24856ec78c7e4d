// SPDX-License-Identifier: MIT
// The library's own allocation functions. Without them its std::string and
// std::vector would reach whatever operator new/delete the host program
// exports: a program that replaces only some of them (romflash supplies a
// malloc-based delete, ASan the matching new) would have memory freed by a
// different family than allocated it. Defined here, every allocation of the
// library stays malloc/free, whoever it is loaded into.
#include <cstdlib>
#include <new>

namespace {

void* allocate(std::size_t size) {
  void* block = std::malloc(size != 0 ? size : 1);
  if (!block) std::abort();  // the library has no way to carry on, nor to throw
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
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
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

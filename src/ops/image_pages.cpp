// SPDX-License-Identifier: MIT
#include "ops/image_pages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace {

// The image is measured by seeking to its end; a pipe cannot be, and an image
// beyond 32 bits of size is no ROM image.
bool measure_image(FILE* image, uint32_t* size) {
  struct stat info;
  long end = -1;
  int problem = EISDIR;
  if (fstat(fileno(image), &info) == 0 && !S_ISDIR(info.st_mode)) {
    if (std::fseek(image, 0, SEEK_END) == 0) end = std::ftell(image);
    problem = end < 0 ? errno : EFBIG;
  }
  if (end < 0 || static_cast<unsigned long>(end) > 0xFFFFFFFFul) {
    std::fprintf(stderr, "ERROR: cannot take the size of the image file: %s\n",
                 std::strerror(problem));
    return false;
  }
  std::rewind(image);
  *size = static_cast<uint32_t>(end);
  return true;
}

}  // namespace

uint32_t count_units(uint32_t size, unsigned shift) {
  return (size >> shift) + ((size & ((1u << shift) - 1)) != 0 ? 1 : 0);
}

bool start_image(ImagePages* run, const FlashCommand* command, FILE* imageFile) {
  run->command = command;
  run->imageFile = imageFile;
  run->page = zeroed_buffer(std::max(command->txLength, PAGE_DATA_OFFSET + FLASH_PAGE_SIZE));
  if (!run->page || run->imageFile == nullptr) return false;
  return measure_image(run->imageFile, &run->fileSize);
}

void print_page_line(const ImagePages* run) {
  std::printf("Page Size = %dbyte / Write %dpage\n", static_cast<int>(FLASH_PAGE_SIZE),
              static_cast<int>(count_units(run->fileSize, PAGE_SHIFT)));
}

bool start_pages(ImagePages* run) {
  run->readAhead = zeroed_buffer(READ_AHEAD_SIZE);
  if (!run->readAhead) return false;
  run->remaining = run->fileSize;
  run->address = run->command->address;
  run->chunkLeft = 0;
  run->chunkPosition = run->readAhead.get();
  run->fileSum = 0;
  run->lastPercent = 0;
  run->failures = 0;
  run->pageLength = 0;
  return true;
}

// Reads the next chunk when the last one is used up; false after the read error message.
static bool refill_chunk(ImagePages* run) {
  if (run->chunkLeft != 0) return true;
  run->chunkLeft = std::min(run->remaining, READ_AHEAD_SIZE);
  if (std::fread(run->readAhead.get(), 1, run->chunkLeft, run->imageFile) < run->chunkLeft) {
    std::fprintf(stderr, "\n  ERROR: %s\n", std::strerror(errno));
    return false;
  }
  // Summed once, as it arrives: a retried page never reads the file again.
  run->fileSum = (run->fileSum + sum16(run->readAhead.get(), run->chunkLeft)) & 0xFFFF;
  run->chunkPosition = run->readAhead.get();
  return true;
}

uint8_t* page_data(ImagePages* run) { return run->page.get() + PAGE_DATA_OFFSET; }

void fill_page(ImagePages* run) {
  uint8_t* data = page_data(run);
  if (run->chunkLeft > FLASH_PAGE_SIZE) {
    std::memcpy(data, run->chunkPosition, FLASH_PAGE_SIZE);
    run->pageLength = FLASH_PAGE_SIZE;
    return;
  }
  // The last page: erased-state bytes past the end of the file leave the flash as it is.
  std::memcpy(data, run->chunkPosition, run->chunkLeft);
  std::memset(data + run->chunkLeft, 0xFF, FLASH_PAGE_SIZE - run->chunkLeft);
  run->pageLength = run->chunkLeft;
}

int send_page(ImagePages* run) {
  FlashCommand work = *run->command;
  work.address = run->address;
  return flash_transfer(&work, run->page.get(), 0);
}

namespace {

void finish_page(ImagePages* run) {
  run->remaining -= run->pageLength;
  run->chunkLeft -= run->pageLength;
  run->address += run->pageLength;
  run->chunkPosition += run->pageLength;
  // 32-bit arithmetic, as the progress has always been computed.
  uint32_t percent = (run->fileSize - run->remaining) * 100u / run->fileSize;
  bool firstPage = run->remaining + run->pageLength == run->fileSize;
  if (static_cast<int>(percent) > run->lastPercent || firstPage) {
    std::printf("\r  Page Write ... -> PROGRESS = %d%%", static_cast<int>(percent));
    std::fflush(stdout);
    run->lastPercent = static_cast<int>(percent);
  }
  run->failures = 0;
}

}  // namespace

int program_pages(ImagePages* run, int (*attempt)(ImagePages* run)) {
  while (run->remaining != 0) {
    if (!refill_chunk(run)) return STATUS_FAIL;
    if (attempt(run) == 0) {
      finish_page(run);
    } else if (out_of_retries(run->failures)) {
      std::printf("\n");
      std::fputs("  Page Write Protocol retryout!!\n", stderr);
      return STATUS_FAIL;
    } else {
      ++run->failures;
    }
  }
  return 0;
}

int verify_image(const ImagePages* run) {
  std::printf("\n");
  // Lets the last write settle before the flash is read back.
  sleep_for(2, 0);
  uint32_t flashSum = flash_checksum(run->command->address, run->fileSize);
  std::printf("  Check SUM FILE=0x%x / ROM=0x%x\n", run->fileSum, flashSum);
  if (run->fileSum != flashSum) {
    std::fputs("  Check SUM Error!!!\n", stderr);
    return STATUS_FAIL;
  }
  return 0;
}

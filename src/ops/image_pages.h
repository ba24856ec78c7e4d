// SPDX-License-Identifier: MIT
// The page phase PP and WRITE share: pages from the image, progress, verification.
//
// The image is read through a 1 MiB read-ahead buffer, summed as it arrives, sent
// in 256-byte pages with progress, then verified against the flash by checksum.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "ops/operations.h"

struct ImagePages {
  const FlashCommand* command;  // the PP or WRITE row with the start address
  FILE* imageFile;
  std::unique_ptr<uint8_t[]> page;  // frame: 4 header bytes, then the page data
  std::unique_ptr<uint8_t[]> readAhead;
  uint32_t fileSize;
  uint32_t remaining;
  uint32_t address;
  uint32_t chunkLeft;
  const uint8_t* chunkPosition;
  uint32_t fileSum;
  int lastPercent;
  int failures;
  uint32_t pageLength;
};

constexpr uint32_t PAGE_DATA_OFFSET = 4;

// How many units of 2^shift bytes an image of this size covers, the last one partly.
uint32_t count_units(uint32_t size, unsigned shift);

// Allocates the page buffer and measures the image file; false (nothing
// printed unless the file cannot be measured) when the run cannot start.
bool start_image(ImagePages* run, const FlashCommand* command, FILE* imageFile);
void print_page_line(const ImagePages* run);
// Allocates the read-ahead buffer and sets the page counters; false when memory is short.
bool start_pages(ImagePages* run);
void fill_page(ImagePages* run);
uint8_t* page_data(ImagePages* run);
// Sends the filled page with the programming command at the current address.
int send_page(ImagePages* run);
// The page loop: each page gets up to four attempts in a row, made by `attempt`
// (which fills the page); 0 when every page is done, else STATUS_FAIL.
int program_pages(ImagePages* run, int (*attempt)(ImagePages* run));
// The pause, the flash sum over the image's range and the comparison.
int verify_image(const ImagePages* run);

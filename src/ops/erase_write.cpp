// SPDX-License-Identifier: MIT
// WRITE: erase the 64 KiB sectors the image covers, program it, verify it.
#include "ops/image_pages.h"

namespace {

int attempt_sector_erase(uint32_t eraseAddress) {
  if (enable_write() != 0) return STATUS_FAIL;
  FlashCommand erase;
  if (select_command(&erase, SE) == 0) return STATUS_FAIL;
  erase.address = eraseAddress;
  if (flash_transfer(&erase, nullptr, 0) != 0) return STATUS_FAIL;
  std::printf("\r  Sector Erase ... -> ADDRESS = 0x%06X", eraseAddress);
  std::fflush(stdout);
  return wait_write_done();
}

// The erase addresses keep the start address's offset within its sector: the
// image's own range is what gets erased, sector by sector.
int erase_sectors(const ImagePages* run) {
  uint32_t eraseAddress = run->command->address;
  uint32_t eraseRemaining = run->fileSize;
  int failures = 0;
  while (eraseRemaining != 0) {
    if (attempt_sector_erase(eraseAddress) != 0) {
      if (out_of_retries(failures)) {
        std::printf("\n");
        std::fputs("  Sector Erase Protocol retryout!!\n", stderr);
        return STATUS_FAIL;
      }
      ++failures;
      continue;
    }
    eraseAddress += FLASH_SECTOR_SIZE;
    eraseRemaining = eraseRemaining <= FLASH_SECTOR_SIZE ? 0 : eraseRemaining - FLASH_SECTOR_SIZE;
    failures = 0;
  }
  return 0;
}

// After an erase a blank page needs nothing at all; others get the full sequence.
int attempt_page(ImagePages* run) {
  fill_page(run);
  if (not_blank(page_data(run), FLASH_PAGE_SIZE) == 0) return 0;
  if (enable_write() != 0 || send_page(run) != 0) return STATUS_FAIL;
  return wait_write_done();
}

}  // namespace

int erase_and_write_image(const FlashCommand* command, FILE* imageFile) {
  ImagePages run{};
  if (!start_image(&run, command, imageFile)) return STATUS_FAIL;
  std::printf("SPI Flash ROM Erase and Write: START ADRESS = 0x%06X / File Size = 0x%06X\n",
              command->address, run.fileSize);
  std::printf("Sector Size = %dKB / Erase %dsector\n", static_cast<int>(FLASH_SECTOR_SIZE >> 10),
              static_cast<int>(count_units(run.fileSize, SECTOR_SHIFT)));
  if (erase_sectors(&run) != 0) return STATUS_FAIL;
  std::printf("\n");

  print_page_line(&run);
  if (!start_pages(&run)) return STATUS_FAIL;
  if (program_pages(&run, attempt_page) != 0) return STATUS_FAIL;
  return verify_image(&run);
}

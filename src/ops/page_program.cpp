// SPDX-License-Identifier: MIT
// PP: program an image into already erased flash, page by page, and verify it.
#include "ops/image_pages.h"

namespace {

// One attempt at the current page. Every page gets its write enable and both
// waits, even one of 0xFF bytes that is not sent.
int attempt_page(ImagePages* run) {
  if (enable_write() != 0) return STATUS_FAIL;
  fill_page(run);
  if (not_blank(page_data(run), FLASH_PAGE_SIZE) != 0 && send_page(run) != 0) return STATUS_FAIL;
  return wait_write_done();
}

}  // namespace

uint8_t not_blank(const uint8_t* buf, uint32_t len) {
  uint8_t zeroBits = 0;
  for (uint32_t i = 0; i < len; ++i) zeroBits |= static_cast<uint8_t>(~buf[i]);
  return zeroBits;
}

int program_image(const FlashCommand* command, FILE* imageFile) {
  ImagePages run{};
  if (!start_image(&run, command, imageFile)) return STATUS_FAIL;
  print_page_line(&run);
  if (!start_pages(&run)) return STATUS_FAIL;

  if (program_pages(&run, attempt_page) != 0) return STATUS_FAIL;
  return verify_image(&run);
}

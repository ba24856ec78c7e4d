// The program's only conversation with the spidev driver after set-up.
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "flash/romflash.h"

namespace {

uint64_t user_pointer(uint8_t* buf) {
  // Through uintptr_t, so a 32-bit build is zero-extended, never sign-extended.
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(buf));
}

}  // namespace

int flash_transfer(const FlashCommand* cmd, uint8_t* buf, uint32_t rxLen) {
  uint32_t replyLength = rxLen != 0 ? rxLen : cmd->rxLength;
  uint32_t sendLength = cmd->dummyBytes + cmd->txLength;

  std::unique_ptr<uint8_t[]> ownBuffer;
  if (buf == nullptr) {
    uint32_t size = frame_buffer_size(cmd, replyLength);
    ownBuffer.reset(new (std::nothrow) uint8_t[size]());
    if (!ownBuffer) return STATUS_FAIL;
    buf = ownBuffer.get();
  }
  build_frame_header(cmd, buf);

  // One message, two segments: the chip stays selected from opcode to reply.
  struct spi_ioc_transfer segments[2];
  std::memset(segments, 0, sizeof segments);
  segments[0].tx_buf = user_pointer(buf);
  segments[0].len = sendLength;
  segments[1].rx_buf = user_pointer(buf);
  segments[1].len = replyLength;

  if (ioctl(SpiSettings.fd, SPI_IOC_MESSAGE(2), segments) < 0) {
    std::fprintf(stderr, "ERROR: %s\n", std::strerror(errno));
    return STATUS_FAIL;
  }
  return 0;
}

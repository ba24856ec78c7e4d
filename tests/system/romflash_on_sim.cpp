#include "romflash_on_sim.h"

std::string usage_text(const std::string& programName) {
  return "Usage: " + programName + " [option...]\n"
         "Usage Example        :\n"
         "  Write Flash Image  :" + programName +
         " -d /dev/spi0 -s 16000 -o WRITE 0x000000 -f flash.img\n"
         "  Read Flash Image   :" + programName +
         " -d /dev/spi0 -s 16000 -o FREAD 0x000000 0x400000 -w read.img\n"
         "Display command usage:\n"
         "  -h                 :Output help message\n"
         "SPI device update option:\n"
         "  -d [device]        :SPI Device\n"
         "  -s [speed]         :SPI Clock output ?(KHz)\n"
         "  -o [operation]     :READ_ID, RDID , WREN, RDSR, RDCR\n"
         "                     :RDSR_WEL or RDSR_WIP [timeout(msec)]\n"
         "                     :SE or SE4K or SE8K or SE32K 0x?????\?(Start Address)\n"
         "                     :PP or WRITE 0x?????\?(Start Address)\n"
         "                     :READ or FREAD or CHKSUM 0x?????\?(Start Address) 0x?????\?(Read Size)\n"
         "                     :VER 0x?????\?(Start Address)\n"
         "                     :VSRWE, WEDI, BE, DP, RES\n"
         "                     :WRR1 or WRR2 0x??\?\?(Write Register Data(1byte or 2byte))\n"
         "  -f [file]          :PP and WRITE Input ROM-IMAGE file\n"
         "  -w [file]          :READ and FREAD Output ROM-IMAGE file\n"
         "\n";
}

Lines setup_lines(const std::string& mode, const std::string& bits, const std::string& speed) {
  return {"ioctl WR_MODE " + mode + " ok",
          "ioctl RD_MODE " + mode + " ok",
          "ioctl WR_BITS_PER_WORD " + bits + " ok",
          "ioctl RD_BITS_PER_WORD " + bits + " ok",
          "ioctl WR_MAX_SPEED_HZ " + speed + " ok",
          "ioctl RD_MAX_SPEED_HZ " + speed + " ok"};
}

namespace {

std::string frame_address(const Lines& txWords) {
  // txWords: "seg", LEN, "tx", opcode, a2, a1, a0, ...
  return txWords.size() >= 7 ? txWords[4] + txWords[5] + txWords[6] : "?";
}

std::string describe_message(const Lines& block) {
  bool failed = block[0].find(" fail") != std::string::npos;
  Lines tx = block.size() > 1 ? split_words(block[1]) : Lines{};
  Lines rx = block.size() > 2 ? split_words(block[2]) : Lines{};
  std::string opcode = tx.size() >= 4 ? tx[3] : "";
  std::string rxLength = rx.size() >= 2 ? rx[1] : "0";
  std::string text;
  if (opcode == "06") text = "WREN";
  else if (opcode == "04") text = "WRDI";
  else if (opcode == "05") text = "RDSR" + (rx.size() >= 4 && !failed ? " " + rx[3] : std::string());
  else if (opcode == "02") text = "PP " + frame_address(tx);
  else if (opcode == "D8") text = "SE " + frame_address(tx);
  else if (opcode == "0B") text = "FREAD " + frame_address(tx) + " " + rxLength;
  else if (opcode == "03") text = "READ " + frame_address(tx) + " " + rxLength;
  else text = block.size() > 1 ? block[1] : block[0];
  return failed ? text + " fail" : text;
}

}  // namespace

Lines wire_summary(const Lines& messageLines) {
  Lines summary;
  Lines block;
  auto flush = [&] {
    if (block.empty()) return;
    std::string entry = describe_message(block);
    bool statusRead = entry.rfind("RDSR", 0) == 0 && entry.find("fail") == std::string::npos;
    if (statusRead && !summary.empty() && summary.back().rfind("RDSR", 0) == 0 &&
        summary.back().find("fail") == std::string::npos) {
      summary.back() = entry;
    } else {
      summary.push_back(entry);
    }
    block.clear();
  };
  for (const auto& line : messageLines) {
    if (line.rfind("msg", 0) == 0) flush();
    block.push_back(line);
  }
  flush();
  return summary;
}

std::string pattern_bytes(size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  uint32_t state = seed * 2654435761u + 12345u;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

unsigned byte_sum(const std::string& bytes) {
  unsigned sum = 0;
  for (unsigned char byte : bytes) sum += byte;
  return sum & 0xFFFF;
}

std::string checksum_line(unsigned fileSum, unsigned flashSum) {
  char line[64];
  std::snprintf(line, sizeof line, "  Check SUM FILE=0x%x / ROM=0x%x\n", fileSum, flashSum);
  return line;
}

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

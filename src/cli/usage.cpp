// SPDX-License-Identifier: MIT
// The usage text and the program name it shows.
#include <libgen.h>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "cli/run_state.h"

void set_program_name(const char* invocationName) {
  std::strncpy(RunState.programName, invocationName, sizeof RunState.programName - 1);
  RunState.programName[sizeof RunState.programName - 1] = '\0';
  // POSIX basename may modify its argument and return a pointer into it.
  char copy[sizeof RunState.programName];
  std::memcpy(copy, RunState.programName, sizeof copy);
  const char* base = basename(copy);
  std::memmove(RunState.programName, base, std::strlen(base) + 1);
}

// "?\?(" keeps the three characters literal on any compiler that still reads trigraphs.
void print_usage() {
  const char* name = RunState.programName;
  std::fprintf(stderr, "Usage: %s [option...]\n", name);
  std::fputs("Usage Example        :\n", stderr);
  std::fprintf(stderr,
               "  Write Flash Image  :%s -d /dev/spi0 -s 16000 -o WRITE 0x000000 -f flash.img\n",
               name);
  std::fprintf(stderr,
               "  Read Flash Image   :%s -d /dev/spi0 -s 16000 -o FREAD 0x000000 0x400000 -w "
               "read.img\n",
               name);
  std::fputs("Display command usage:\n", stderr);
  std::fputs("  -h                 :Output help message\n", stderr);
  std::fputs("SPI device update option:\n", stderr);
  std::fputs("  -d [device]        :SPI Device\n", stderr);
  std::fputs("  -s [speed]         :SPI Clock output ?(KHz)\n", stderr);
  std::fputs("  -o [operation]     :READ_ID, RDID , WREN, RDSR, RDCR\n", stderr);
  std::fputs("                     :RDSR_WEL or RDSR_WIP [timeout(msec)]\n", stderr);
  std::fputs("                     :SE or SE4K or SE8K or SE32K 0x?????\?(Start Address)\n",
             stderr);
  std::fputs("                     :PP or WRITE 0x?????\?(Start Address)\n", stderr);
  std::fputs(
      "                     :READ or FREAD or CHKSUM 0x?????\?(Start Address) "
      "0x?????\?(Read Size)\n",
      stderr);
  std::fputs("                     :VER 0x?????\?(Start Address)\n", stderr);
  std::fputs("                     :VSRWE, WEDI, BE, DP, RES\n", stderr);
  std::fputs("                     :WRR1 or WRR2 0x??\?\?(Write Register Data(1byte or 2byte))\n",
             stderr);
  std::fputs("  -f [file]          :PP and WRITE Input ROM-IMAGE file\n", stderr);
  std::fputs("  -w [file]          :READ and FREAD Output ROM-IMAGE file\n", stderr);
  std::fputs("\n", stderr);
}

// SPDX-License-Identifier: MIT
// The simulated spidev node's own state and the requests it answers, shared
// by its files: set-up requests (node_setup.cpp), messages
// (node_messages.cpp) and the descriptors with open and close
// (spidev_node.cpp).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "setup_requests.h"

namespace shim {

constexpr uint32_t CONTROLLER_MAX_HZ = 50000000;
constexpr int MAX_DEVICE_FDS = 16;

struct Node {
  bool settingsLoaded = false;
  uint32_t mode = 0;
  uint8_t bits = 8;
  uint32_t speedHz = CONTROLLER_MAX_HZ;
  int openCount = 0;
  bool selected = false;  // a message ended with cs_change and left the chip selected
  uint8_t mosiCarry = 0;  // the bit a phase-mismatched chip has not yet seen
  uint8_t misoCarry = 1;
  uint64_t messageCount = 0;
  std::vector<uint64_t> opcodeFailures;  // per fail-opcode entry: messages failed so far
};

extern Node SpidevNode;

// A request's result: 0, or -1 with errno set to the failure.
int finish(int failure);

// Mode and word size as the state directory keeps them; false with *error when the file
// holds anything else.
bool load_settings(std::string* error);
int handle_setup(const flashsim::SetupRequest& req, void* arg);

int handle_message(unsigned long request, void* arg);

// The descriptors standing for the device (into fds[MAX_DEVICE_FDS]), and those a program
// inherited across exec taken on again with the clock they had.
int open_device_fds(int* fds);
void adopt_device_fds(const int* fds, int count, uint32_t speedHz);
// Ends a selection a message left open (cs_change on its last transfer).
void deselect_chip();

}  // namespace shim

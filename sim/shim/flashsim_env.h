// What `flashsim run` hands to libflashsim.so: the environment variable names
// and the fault plan both sides read. Header-only so the command can reject a
// bad option with the very parser the library will later apply.
#pragma once
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define FLASHSIM_ENV_STATE "FLASHSIM_STATE"
#define FLASHSIM_ENV_DEVICE "FLASHSIM_DEVICE"
#define FLASHSIM_ENV_TRACE "FLASHSIM_TRACE"
#define FLASHSIM_ENV_REALTIME "FLASHSIM_REALTIME"
#define FLASHSIM_ENV_BUFSIZ "FLASHSIM_BUFSIZ"
#define FLASHSIM_ENV_OVERHEAD "FLASHSIM_OVERHEAD_NS"
#define FLASHSIM_ENV_FAULTS "FLASHSIM_FAULTS"

namespace flashsim {

constexpr const char* kDefaultDevice = "/dev/spi0";
constexpr uint32_t kDefaultBufsiz = 4096;
constexpr uint64_t kDefaultOverheadNs = 10000;
constexpr const char* kBufsizSysfsPath = "/sys/module/spidev/parameters/bufsiz";

struct ErrnoName {
  int number;
  const char* name;
};

inline const std::vector<ErrnoName>& errno_names() {
  static const std::vector<ErrnoName> names = {
      {EPERM, "EPERM"},         {ENOENT, "ENOENT"},       {EINTR, "EINTR"},
      {EIO, "EIO"},             {ENXIO, "ENXIO"},         {EBADF, "EBADF"},
      {EAGAIN, "EAGAIN"},       {ENOMEM, "ENOMEM"},       {EACCES, "EACCES"},
      {EFAULT, "EFAULT"},       {EBUSY, "EBUSY"},         {ENODEV, "ENODEV"},
      {EINVAL, "EINVAL"},       {ENOTTY, "ENOTTY"},       {ENOSPC, "ENOSPC"},
      {EPIPE, "EPIPE"},         {ERANGE, "ERANGE"},       {ENOSYS, "ENOSYS"},
      {EPROTO, "EPROTO"},       {EMSGSIZE, "EMSGSIZE"},   {EOPNOTSUPP, "EOPNOTSUPP"},
      {ECOMM, "ECOMM"},         {ETIMEDOUT, "ETIMEDOUT"}, {ESHUTDOWN, "ESHUTDOWN"},
      {ECANCELED, "ECANCELED"}, {EREMOTEIO, "EREMOTEIO"}, {EOVERFLOW, "EOVERFLOW"},
  };
  return names;
}

// The trace spells errors by name; numbers without a name stay numbers.
inline std::string errno_name(int number) {
  for (const auto& entry : errno_names())
    if (entry.number == number) return entry.name;
  return std::to_string(number);
}

// Accepts a name from the table or a positive decimal number; 0 when neither.
inline int errno_from_text(const std::string& text) {
  for (const auto& entry : errno_names())
    if (text == entry.name) return entry.number;
  if (text.empty() || text.size() > 6) return 0;
  for (char c : text)
    if (c < '0' || c > '9') return 0;
  return std::atoi(text.c_str());
}

// Unsigned number in decimal or 0x-hex, the whole text or nothing.
inline bool parse_number(const std::string& text, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *value = parsed;
  return true;
}

// The set-up requests a fault can be aimed at, by their trace names.
inline bool is_setup_request_name(const std::string& name) {
  static const char* const names[] = {"WR_MODE",          "RD_MODE",          "WR_BITS_PER_WORD",
                                      "RD_BITS_PER_WORD", "WR_MAX_SPEED_HZ",  "RD_MAX_SPEED_HZ",
                                      "WR_MODE32",        "RD_MODE32"};
  for (const char* candidate : names)
    if (name == candidate) return true;
  return false;
}

struct OpcodeFault {
  uint8_t opcode;
  uint64_t count;  // 0: every matching message
};

struct MessageRange {
  uint64_t first;
  uint64_t last;
};

// Everything that can be made to go wrong in one process. Messages are
// numbered per process from 1, counting SPI_IOC_MESSAGE requests only.
struct FaultPlan {
  std::vector<MessageRange> failMessages;
  uint64_t failEvery = 0;
  int errorNumber = EIO;
  std::vector<OpcodeFault> failOpcodes;
  std::vector<std::string> failSetup;
  bool welStuck = false;
  bool wipStuck = false;
  int absentLevel = -1;  // -1: chip present; else what MISO floats to
  uint64_t powerCutAfter = 0;  // 0: never
};

// One word of FLASHSIM_FAULTS: "key" or "key=value", the run options without
// their leading dashes.
inline bool apply_fault_word(const std::string& word, FaultPlan* plan, std::string* error) {
  std::string key = word, value;
  size_t eq = word.find('=');
  bool hasValue = eq != std::string::npos;
  if (hasValue) {
    key = word.substr(0, eq);
    value = word.substr(eq + 1);
  }
  auto fail = [&](const std::string& why) {
    *error = "--" + key + (hasValue ? " " + value : "") + ": " + why;
    return false;
  };
  auto needsValue = [&]() { return hasValue && !value.empty(); };
  uint64_t number = 0;
  if (key == "fail-msg") {
    if (!needsValue() || !parse_number(value, &number) || number == 0)
      return fail("expected a message number from 1");
    plan->failMessages.push_back({number, number});
  } else if (key == "fail-msgs") {
    size_t dash = value.find('-');
    uint64_t first = 0, last = 0;
    if (!needsValue() || dash == std::string::npos || !parse_number(value.substr(0, dash), &first) ||
        !parse_number(value.substr(dash + 1), &last) || first == 0 || last < first)
      return fail("expected A-B with 1 <= A <= B");
    plan->failMessages.push_back({first, last});
  } else if (key == "fail-every") {
    if (!needsValue() || !parse_number(value, &number) || number == 0)
      return fail("expected a count from 1");
    plan->failEvery = number;
  } else if (key == "errno") {
    int parsed = needsValue() ? errno_from_text(value) : 0;
    if (parsed <= 0) return fail("expected an errno name such as EIO or a positive number");
    plan->errorNumber = parsed;
  } else if (key == "fail-opcode") {
    size_t colon = value.find(':');
    uint64_t opcode = 0, count = 0;
    if (!needsValue() || !parse_number(value.substr(0, colon), &opcode) || opcode > 0xFF)
      return fail("expected an opcode 0x00..0xFF, optionally followed by :COUNT");
    if (colon != std::string::npos && (!parse_number(value.substr(colon + 1), &count) || count == 0))
      return fail("the count after ':' must be a number from 1");
    plan->failOpcodes.push_back({static_cast<uint8_t>(opcode), count});
  } else if (key == "fail-setup") {
    if (!needsValue() || !is_setup_request_name(value))
      return fail("expected one of WR_MODE RD_MODE WR_BITS_PER_WORD RD_BITS_PER_WORD "
                  "WR_MAX_SPEED_HZ RD_MAX_SPEED_HZ WR_MODE32 RD_MODE32");
    plan->failSetup.push_back(value);
  } else if (key == "wel-stuck" && !hasValue) {
    plan->welStuck = true;
  } else if (key == "wip-stuck" && !hasValue) {
    plan->wipStuck = true;
  } else if (key == "absent") {
    if (value == "ff" || value == "FF" || value == "0xff" || value == "0xFF")
      plan->absentLevel = 0xFF;
    else if (value == "00" || value == "0x00" || value == "0")
      plan->absentLevel = 0x00;
    else
      return fail("expected ff or 00");
  } else if (key == "power-cut") {
    if (!needsValue() || !parse_number(value, &number) || number == 0)
      return fail("expected a message number from 1");
    plan->powerCutAfter = number;
  } else {
    *error = "unknown fault '" + word + "'";
    return false;
  }
  return true;
}

inline bool parse_fault_plan(const std::string& text, FaultPlan* plan, std::string* error) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t start = text.find_first_not_of(' ', pos);
    if (start == std::string::npos) break;
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    if (!apply_fault_word(text.substr(start, end - start), plan, error)) return false;
    pos = end;
  }
  return true;
}

}  // namespace flashsim

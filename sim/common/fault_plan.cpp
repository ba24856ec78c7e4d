// SPDX-License-Identifier: MIT
#include "fault_plan.h"

#include <cstdlib>
#include <cstring>

#include "setup_requests.h"

namespace flashsim {

namespace {

struct ErrnoName {
  int number;
  const char* name;
};

const std::vector<ErrnoName>& errno_names() {
  static const std::vector<ErrnoName> ERRNO_NAMES = {
      {EPERM, "EPERM"},           {ENOENT, "ENOENT"},
      {EINTR, "EINTR"},           {EIO, "EIO"},
      {ENXIO, "ENXIO"},           {EBADF, "EBADF"},
      {EAGAIN, "EAGAIN"},         {ENOMEM, "ENOMEM"},
      {EACCES, "EACCES"},         {EFAULT, "EFAULT"},
      {EBUSY, "EBUSY"},           {ENODEV, "ENODEV"},
      {EINVAL, "EINVAL"},         {ENOTTY, "ENOTTY"},
      {ENOSPC, "ENOSPC"},         {EPIPE, "EPIPE"},
      {ERANGE, "ERANGE"},         {ENOSYS, "ENOSYS"},
      {EPROTO, "EPROTO"},         {EMSGSIZE, "EMSGSIZE"},
      {EOPNOTSUPP, "EOPNOTSUPP"}, {ECOMM, "ECOMM"},
      {ETIMEDOUT, "ETIMEDOUT"},   {ESHUTDOWN, "ESHUTDOWN"},
      {ECANCELED, "ECANCELED"},   {EREMOTEIO, "EREMOTEIO"},
      {EOVERFLOW, "EOVERFLOW"},
  };
  return ERRNO_NAMES;
}

}  // namespace

// The trace spells errors by name; numbers without a name stay numbers.
std::string errno_name(int number) {
  for (const auto& entry : errno_names())
    if (entry.number == number) return entry.name;
  return std::to_string(number);
}

// Accepts a name from the table or a positive decimal number; 0 when neither.
int errno_from_text(const std::string& text) {
  for (const auto& entry : errno_names())
    if (text == entry.name) return entry.number;
  if (text.empty() || text.size() > 6) return 0;
  for (char c : text)
    if (c < '0' || c > '9') return 0;
  return std::atoi(text.c_str());
}

// Unsigned number in decimal or 0x-hex, the whole text or nothing.
bool parse_number(const std::string& text, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *value = parsed;
  return true;
}

bool apply_fault_word(const std::string& word, FaultPlan* plan, std::string* error) {
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
    if (!needsValue() || dash == std::string::npos ||
        !parse_number(value.substr(0, dash), &first) ||
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
    if (colon != std::string::npos &&
        (!parse_number(value.substr(colon + 1), &count) || count == 0))
      return fail("the count after ':' must be a number from 1");
    plan->failOpcodes.push_back({static_cast<uint8_t>(opcode), count});
  } else if (key == "fail-setup") {
    if (!needsValue() || !setup_request_named(value))
      return fail("expected one of " + setup_request_names());
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

bool parse_fault_plan(const std::string& text, FaultPlan* plan, std::string* error) {
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

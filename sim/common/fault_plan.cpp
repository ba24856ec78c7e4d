// SPDX-License-Identifier: MIT
#include "fault_plan.h"

#include <cstring>

#include "parse_number.h"
#include "setup_requests.h"

namespace flashsim {

namespace {

constexpr uint64_t MAX_ERRNO = 4095;

// A message number or count: from 1.
bool counting_number(const std::string& text, uint64_t* value) {
  return parse_number(text, value) && *value != 0;
}

}  // namespace

std::string errno_name(int number) {
  const char* name = strerrorname_np(number);
  return name ? name : std::to_string(number);
}

int errno_from_text(const std::string& text) {
  for (int number = 1; number <= static_cast<int>(MAX_ERRNO); ++number) {
    const char* name = strerrorname_np(number);
    if (name && text == name) return number;
  }
  uint64_t number = 0;
  return counting_number(text, &number) && number <= MAX_ERRNO ? static_cast<int>(number) : 0;
}

namespace {

const FaultOption FAULT_OPTIONS[] = {
    {"fail-msg", "N", true, "message N fails",
     [](const std::string& text, FaultPlan* plan) -> std::string {
       uint64_t number = 0;
       if (!counting_number(text, &number)) return "expected a message number from 1";
       plan->failMessages.push_back({number, number});
       return {};
     }},
    {"fail-msgs", "A-B", true, "messages A to B fail",
     [](const std::string& text, FaultPlan* plan) -> std::string {
       size_t dash = text.find('-');
       uint64_t first = 0, last = 0;
       if (dash == std::string::npos || !counting_number(text.substr(0, dash), &first) ||
           !parse_number(text.substr(dash + 1), &last) || last < first)
         return "expected A-B with 1 <= A <= B";
       plan->failMessages.push_back({first, last});
       return {};
     }},
    {"fail-every", "K", false, "messages K, 2K, 3K, ... fail",
     [](const std::string& text, FaultPlan* plan) -> std::string {
       if (!counting_number(text, &plan->failEvery)) return "expected a count from 1";
       return {};
     }},
    {"errno", "NAME|NUMBER", false, "errno of the failed messages and set-up requests (EIO)",
     [](const std::string& text, FaultPlan* plan) -> std::string {
       plan->errorNumber = errno_from_text(text);
       if (!plan->errorNumber)
         return "expected an errno name such as EIO or a number from 1 to 4095";
       return {};
     }},
    {"fail-opcode", "0xNN[:COUNT]", true,
     "the first COUNT (or all) messages opening with 0xNN fail",
     [](const std::string& text, FaultPlan* plan) -> std::string {
       size_t colon = text.find(':');
       uint64_t opcode = 0, count = 0;
       if (!parse_number(text.substr(0, colon), &opcode) || opcode > 0xFF)
         return "expected an opcode 0x00..0xFF, optionally followed by :COUNT";
       if (colon != std::string::npos && !counting_number(text.substr(colon + 1), &count))
         return "the count after ':' must be a number from 1";
       plan->failOpcodes.push_back({static_cast<uint8_t>(opcode), count});
       return {};
     }},
    {"fail-setup", "NAME", true, "every set-up request of that trace name fails",
     [](const std::string& text, FaultPlan* plan) -> std::string {
       if (!setup_request_named(text)) return "expected one of " + setup_request_names();
       plan->failSetup.push_back(text);
       return {};
     }},
    {"wel-stuck", nullptr, false, "WREN never sets WEL",
     [](const std::string&, FaultPlan* plan) -> std::string {
       plan->welStuck = true;
       return {};
     }},
    {"wip-stuck", nullptr, false, "an operation started in this run never ends",
     [](const std::string&, FaultPlan* plan) -> std::string {
       plan->wipStuck = true;
       return {};
     }},
    {"absent", "ff|00", false, "no chip: MISO reads all FF or all 00",
     [](const std::string& text, FaultPlan* plan) -> std::string {
       uint64_t level = 0;
       bool hex = parse_number(text.compare(0, 2, "0x") == 0 ? text : "0x" + text, &level);
       if (!hex || (level != 0 && level != 0xFF)) return "expected ff or 00";
       plan->absentLevel = static_cast<int>(level);
       return {};
     }},
    {"power-cut", "N", false, "the power fails after message N and the program is killed",
     [](const std::string& text, FaultPlan* plan) -> std::string {
       if (!counting_number(text, &plan->powerCutAfter)) return "expected a message number from 1";
       return {};
     }},
};

}  // namespace

TableView<FaultOption> fault_options() { return view_of(FAULT_OPTIONS); }

bool apply_fault_word(const std::string& word, FaultPlan* plan, std::string* error) {
  size_t eq = word.find('=');
  std::string key = word.substr(0, eq);
  std::string value = eq == std::string::npos ? "" : word.substr(eq + 1);
  for (const FaultOption& option : fault_options()) {
    if (key != option.name || (eq != std::string::npos) != (option.argument != nullptr)) continue;
    std::string refusal = option.apply(value, plan);
    if (!refusal.empty())
      *error = "--" + key + (option.argument ? " " + value : "") + ": " + refusal;
    return refusal.empty();
  }
  *error = "unknown fault '" + word + "'";
  return false;
}

bool parse_fault_plan(const std::string& text, FaultPlan* plan, std::string* error) {
  size_t pos = 0;
  while ((pos = text.find_first_not_of(' ', pos)) != std::string::npos) {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    if (!apply_fault_word(text.substr(pos, end - pos), plan, error)) return false;
    pos = end;
  }
  return true;
}

}  // namespace flashsim

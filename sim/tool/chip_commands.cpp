// SPDX-License-Identifier: MIT
// The sub-commands that set up and inspect a chip's state directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "chip_model.h"
#include "environment.h"
#include "run_summary.h"
#include "tool.h"

namespace tool {

namespace {

// The files the library keeps beside the chip's own; a fresh chip starts
// without them.
const char* const LIBRARY_FILES[] = {flashsim::SUMMARY_FILE_NAME, flashsim::SETTINGS_FILE_NAME};

// False with *why set (the file named) when the file cannot be read whole.
bool read_whole_file(const std::string& path, std::string* bytes, std::string* why) {
  FILE* in = std::fopen(path.c_str(), "rb");
  struct stat sb {};
  bool directory = in && fstat(fileno(in), &sb) == 0 && S_ISDIR(sb.st_mode);
  if (directory) errno = EISDIR;
  bool ok = in && !directory;
  char buffer[65536];
  for (size_t got; ok && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
    bytes->append(buffer, got);
  ok = ok && !std::ferror(in);
  int saved = errno;
  if (in) std::fclose(in);
  if (!ok) *why = "cannot read " + path + ": " + std::strerror(saved);
  return ok;
}

// Attaches to change the chip, or with `readOnly` to look at it (no write access needed);
// no faults apply outside `flashsim run`.
ChipState* attach(const std::string& command, const std::string& state, bool readOnly = false) {
  if (state.empty()) {
    fail(command, "--state DIR is required");
    return nullptr;
  }
  std::string error;
  ChipState* chip =
      readOnly ? chip_inspect(state, &error) : chip_attach(state, ChipFaults{false, false}, &error);
  if (!chip) fail(command, "no chip in " + state + ": " + error);
  return chip;
}

// For a command whose one option is --state: the chip, or null after saying why.
ChipState* attach_by_state_option(Args& args, bool readOnly) {
  std::string state, error;
  if (scan_options(args, {{"--state", &state, nullptr, nullptr}}, nullptr, false, &error))
    return attach(args.command, state, readOnly);
  fail(args.command, error);
  return nullptr;
}

bool parse_range(const std::string& command, const std::string& offsetText,
                 const std::string& lengthText, uint32_t size, uint32_t* offset, uint32_t* length) {
  *offset = 0;
  if (!offsetText.empty() && !parse_u32(offsetText, offset)) {
    fail(command, "--offset: not a number: " + offsetText);
    return false;
  }
  if (*offset > size) {
    fail(command,
         "--offset " + offsetText + " lies beyond the chip (" + std::to_string(size) + " bytes)");
    return false;
  }
  *length = size - *offset;
  if (!lengthText.empty()) {
    if (!parse_u32(lengthText, length)) {
      fail(command, "--length: not a number: " + lengthText);
      return false;
    }
    if (*length > size - *offset) {
      fail(command, "the range ends beyond the chip (" + std::to_string(size) + " bytes)");
      return false;
    }
  }
  return true;
}

std::string seconds(uint64_t ns) {
  char text[48];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%09" PRIu64 " s", ns / 1000000000u,
                ns % 1000000000u);
  return text;
}

// What `load` and `compare` work on: a file's bytes and the range of the chip they meet.
struct FileInChip {
  ChipState* chip = nullptr;
  std::string bytes;
  uint32_t offset = 0, length = 0;
};

// Scans --state, --offset and one FILE, reads the file and attaches the chip;
// false after saying why, with nothing left attached.
bool file_in_chip(Args& args, bool offsetRequired, FileInChip* job) {
  std::string state, offsetText, error;
  std::vector<std::string> files;
  auto refuse = [&](const std::string& why) {
    fail(args.command, why);
    return false;
  };
  if (!scan_options(
          args,
          {{"--state", &state, nullptr, nullptr}, {"--offset", &offsetText, nullptr, nullptr}},
          &files, false, &error))
    return refuse(error);
  if (files.size() != 1) return refuse("expected exactly one FILE");
  if (offsetRequired && offsetText.empty()) return refuse("--offset N is required");
  if (!read_whole_file(files[0], &job->bytes, &error)) return refuse(error);
  job->chip = attach(args.command, state, !offsetRequired);
  if (!job->chip) return false;
  if (parse_range(args.command, offsetText, std::to_string(job->bytes.size()), chip_size(job->chip),
                  &job->offset, &job->length))
    return true;
  chip_detach(job->chip);
  return false;
}

}  // namespace

void print_counters(FILE* out, const char* heading, const char* section,
                    const flashsim::RunCounters& counters, bool keys) {
  if (!keys) std::fprintf(out, "%s\n", heading);
  for (const flashsim::CounterField& field : flashsim::counter_fields()) {
    uint64_t value = counters.*(field.member);
    if (keys)
      std::fprintf(out, "%s.%s %" PRIu64 "\n", section, field.key, value);
    else if (field.nanoseconds)
      std::fprintf(out, "  %s: %s\n", field.label, seconds(value).c_str());
    else
      std::fprintf(out, "  %s: %" PRIu64 "\n", field.label, value);
  }
}

int cmd_create(Args& args) {
  std::string state, profile = "default", fill = "0xFF", image, error;
  std::vector<std::string> settings;
  if (!scan_options(args,
                    {{"--state", &state, nullptr, nullptr},
                     {"--profile", &profile, nullptr, nullptr},
                     {"--fill", &fill, nullptr, nullptr},
                     {"--image", &image, nullptr, nullptr},
                     {"--set", nullptr, &settings, nullptr}},
                    nullptr, false, &error))
    return fail(args.command, error);
  if (state.empty()) return fail(args.command, "--state DIR is required");
  uint32_t fillValue = 0;
  if (!parse_u32(fill, &fillValue) || fillValue > 0xFF)
    return fail(args.command, "--fill: expected a byte value: " + fill);
  if (!chip_create(state, profile, static_cast<uint8_t>(fillValue), image, settings, &error))
    return fail(args.command, error);
  for (const char* name : LIBRARY_FILES) ::unlink((state + "/" + name).c_str());
  return EXIT_OK;
}

int cmd_load(Args& args) {
  FileInChip job;
  if (!file_in_chip(args, true, &job)) return EXIT_ERROR;
  chip_load(job.chip, job.offset, reinterpret_cast<const uint8_t*>(job.bytes.data()), job.length);
  chip_detach(job.chip);
  return EXIT_OK;
}

int cmd_dump(Args& args) {
  std::string state, offsetText, lengthText, outPath, error;
  if (!scan_options(args,
                    {{"--state", &state, nullptr, nullptr},
                     {"--offset", &offsetText, nullptr, nullptr},
                     {"--length", &lengthText, nullptr, nullptr},
                     {"-o", &outPath, nullptr, nullptr}},
                    nullptr, false, &error))
    return fail(args.command, error);
  ChipState* chip = attach(args.command, state, true);
  if (!chip) return EXIT_ERROR;
  uint32_t offset = 0, length = 0;
  if (!parse_range(args.command, offsetText, lengthText, chip_size(chip), &offset, &length)) {
    chip_detach(chip);
    return EXIT_ERROR;
  }
  FILE* out = outPath.empty() ? stdout : std::fopen(outPath.c_str(), "wb");
  if (!out) {
    chip_detach(chip);
    return fail(args.command, "cannot create " + outPath);
  }
  bool ok = std::fwrite(chip_contents(chip) + offset, 1, length, out) == length;
  ok = (out == stdout ? std::fflush(out) : std::fclose(out)) == 0 && ok;
  chip_detach(chip);
  if (!ok) return fail(args.command, "write error");
  return EXIT_OK;
}

int cmd_compare(Args& args) {
  FileInChip job;
  if (!file_in_chip(args, false, &job)) return EXIT_ERROR;
  const std::string& bytes = job.bytes;
  uint32_t offset = job.offset, length = job.length;
  const uint8_t* flash = chip_contents(job.chip) + offset;
  uint64_t differing = 0;
  uint32_t first = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (flash[i] == static_cast<uint8_t>(bytes[i])) continue;
    if (differing++ == 0) first = i;
  }
  int status = EXIT_OK;
  if (differing == 0) {
    std::printf("identical: %u bytes at 0x%06X\n", length, offset);
  } else {
    std::printf("differ at 0x%06X: flash 0x%02X, file 0x%02X (%" PRIu64 " of %u bytes differ)\n",
                offset + first, flash[first], static_cast<uint8_t>(bytes[first]), differing,
                length);
    status = EXIT_DIFFER;
  }
  chip_detach(job.chip);
  return status;
}

int cmd_regs(Args& args) {
  ChipState* chip = attach_by_state_option(args, true);
  if (!chip) return EXIT_ERROR;
  std::string text = chip_describe(chip);
  chip_detach(chip);
  std::fputs(text.c_str(), stdout);
  if (!text.empty() && text.back() != '\n') std::fputc('\n', stdout);
  return EXIT_OK;
}

int cmd_set(Args& args) {
  std::string state, statusText, configText, error;
  if (!scan_options(args,
                    {{"--state", &state, nullptr, nullptr},
                     {"--status", &statusText, nullptr, nullptr},
                     {"--config", &configText, nullptr, nullptr}},
                    nullptr, false, &error))
    return fail(args.command, error);
  int status = -1, configValue = -1;
  uint32_t value = 0;
  if (!statusText.empty()) {
    if (!parse_u32(statusText, &value) || value > 0xFF)
      return fail(args.command, "--status: expected a byte value");
    if (value & 1) return fail(args.command, "--status: WIP (bit 0) is never stored");
    status = static_cast<int>(value);
  }
  if (!configText.empty()) {
    if (!parse_u32(configText, &value) || value > 0xFF)
      return fail(args.command, "--config: expected a byte value");
    configValue = static_cast<int>(value);
  }
  ChipState* chip = attach(args.command, state);
  if (!chip) return EXIT_ERROR;
  chip_set_registers(chip, status, configValue);
  chip_detach(chip);
  return EXIT_OK;
}

int cmd_summary(Args& args) {
  std::string state, format, error;
  bool keys = false;
  if (!scan_options(
          args, {{"--state", &state, nullptr, nullptr}, {"--format", &format, nullptr, nullptr}},
          nullptr, false, &error))
    return fail(args.command, error);
  if (state.empty()) return fail(args.command, "--state DIR is required");
  if (!keys_format(args.command, format, &keys)) return EXIT_ERROR;
  ChipState* chip = attach(args.command, state, true);  // a mistyped directory holds no counters
  if (!chip) return EXIT_ERROR;
  chip_detach(chip);
  flashsim::RunCounters run, total;
  if (!flashsim::read_summary(state, &run, &total, &error)) return fail(args.command, error);
  print_counters(stdout, "last run:", "run", run, keys);
  print_counters(stdout, "totals:", "total", total, keys);
  return EXIT_OK;
}

int cmd_profiles(Args& args) {
  std::string error;
  if (!scan_options(args, {}, nullptr, false, &error)) return fail(args.command, error);
  for (const ChipProfile& p : chip_profiles()) {
    char size[16] = "     unknown";  // a part that gives its geometry by SFDP
    if (p.sizeBytes) std::snprintf(size, sizeof size, "%8u KiB", p.sizeBytes / 1024);
    std::printf("%-13s %s  JEDEC %02X %02X %02X  %s%s\n", p.name.c_str(), size, p.jedecId[0],
                p.jedecId[1], p.jedecId[2], p.model ? "(simulator model)" : p.part.c_str(),
                p.imported ? " (Linux's table)" : "");
  }
  return EXIT_OK;
}

// Power off and on again: the array stays, everything volatile is lost.
int cmd_power_cycle(Args& args) {
  ChipState* chip = attach_by_state_option(args, false);
  if (!chip) return EXIT_ERROR;
  chip_power_cut(chip);
  chip_detach(chip);
  return EXIT_OK;
}

}  // namespace tool

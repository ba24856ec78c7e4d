// SPDX-License-Identifier: MIT
// What the simulator reads from files, damaged. Byte 0 picks the reader, the rest is the
// file: the parts catalogue; settings of flashsim create, a line each, on the profile of
// byte 1; profile.txt; state.bin, laid from byte 1 x 4 over a valid one and cut or grown to
// byte 2 x 8 bytes unless 0; contents.bin cut or grown to bytes 1-3; flashsim-summary;
// spidev-settings. Each reader takes the file or refuses it with an error naming it (and
// its line, where it has lines); what it takes is written back as it was read, so nothing
// it could not read became a default.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "chip_internal.h"
#include "environment.h"
#include "run_summary.h"
#include "setup_requests.h"

using namespace chipsim;
using Lines = std::vector<std::string>;

namespace {

enum Reader { CATALOGUE, SETTINGS, PROFILE, STATE, CONTENTS, SUMMARY, NODE, READERS };

const std::vector<ChipProfile> PROFILES = chip_profiles();
// The state directory, on a tmpfs (chips stay sparse, msync costs nothing), gone at exit.
char dirName[] = "/dev/shm/sim_files.XXXXXX";
const std::string DIR = mkdtemp(dirName) ? dirName : "";
const int REMOVED_AT_EXIT = std::atexit([] {
  for (const char* file : {"contents.bin", "profile.txt", "state.bin", "flashsim-summary"})
    unlink((std::string(dirName) + "/" + file).c_str());
  rmdir(dirName);
});

void check(bool holds, const char* what, const std::string& error) {
  if (holds) return;
  std::fprintf(stderr, "sim_files: %s: %s\n", what, error.c_str());
  std::abort();
}

// "FILE:N: ..." where a line is named, else "FILE: ..." or "DIR/FILE ...".
bool names(const std::string& error, const std::string& file, bool line = false) {
  const size_t at = error.find(file) + file.size();
  return at >= file.size() && at < error.size() &&
         (!line || (error[at] == ':' && std::isdigit(static_cast<unsigned char>(error[at + 1]))));
}

Lines lines_of(const std::string& text) {  // sorted: lines rewritten compare in any order
  Lines lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1)
    if ((end = std::min(text.find('\n', start), text.size())) > start)
      lines.push_back(text.substr(start, end - start));
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string fields(const ChipProfile& p) {  // profile.txt but its profile= line
  const std::string text = profile_to_text(p);
  return text.substr(text.find('\n') + 1);
}

std::string path(const char* file) { return DIR + "/" + file; }

std::string got(const char* file) {
  std::ifstream in(path(file), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void put(const char* file, const std::string& bytes) { std::ofstream(path(file)) << bytes; }

// The chip in DIR, if it attaches, worked (its pending write ends or is cut) and read back;
// *same: as it was left.
bool attached(std::string* error, bool* same) {
  ChipState* chip = chip_attach(DIR, {false, false}, error);
  if (chip == nullptr) return false;
  chip_describe(chip);
  chip_power_cut(chip);
  uint8_t left[STATE_FILE_BYTES];
  encode_state(chip->st, left);
  const std::string profile = profile_to_text(chip->profile);
  chip_detach(chip);
  chip = chip_attach(DIR, {false, false}, error);
  *same = chip && profile_to_text(chip->profile) == profile &&
          !std::memcmp(chip->stateMap, left, STATE_FILE_BYTES);
  chip_detach(chip);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const FILES[] = {
      "catalogue.txt", "",  // settings name a setting
      "profile.txt",   "state.bin", "contents.bin", "flashsim-summary", "spidev-settings"};
  if (size == 0 || DIR.empty()) return 0;
  uint8_t h[4] = {};  // the header bytes, 0 past the end
  std::memcpy(h, data, std::min<size_t>(size, 4));
  const Reader reader = Reader(h[0] % READERS);
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string after1 = text.substr(size > 1), after2 = after1.substr(size > 2);
  const Lines settings = lines_of(after1);
  ChipProfile profile = PROFILES[h[1] % PROFILES.size()], again = PROFILES[0];
  std::vector<ChipProfile> parts;
  flashsim::RunCounters run, total;
  uint32_t mode = 0;
  unsigned bits = 0;
  std::string error;
  bool taken = true, same = true;
  if (reader == CATALOGUE) taken = parse_catalogue(text, FILES[CATALOGUE], &parts, &error);
  for (const ChipProfile& part : parts)  // every fact of a row is a setting too
    same = same && apply_settings(&again, lines_of(fields(part)), &error) &&
           fields(again) == fields(part);
  if (reader == SETTINGS && (taken = apply_settings(&profile, settings, &error)))
    same = profile_from_text(profile_to_text(profile), &again, &error) &&
           profile_to_text(again) == profile_to_text(profile);
  if (reader == SUMMARY)
    put(FILES[SUMMARY], text), taken = flashsim::read_summary(DIR, &run, &total, &error);
  if (reader == SUMMARY && taken && !text.empty())
    same = flashsim::update_summary(DIR, [](auto, auto) {}) &&
           lines_of(text) == lines_of(got(FILES[SUMMARY]));
  if (reader == NODE &&
      (taken = flashsim::parse_node_settings(FILES[NODE], text, &mode, &bits, &error)))
    same = flashsim::node_settings_text(mode, bits) == text && bits == 8 &&
           (mode & ~flashsim::NODE_MODE_BITS) == 0;
  if (reader == PROFILE || reader == STATE || reader == CONTENTS) {
    // A small chip's state directory, one file of it damaged.
    check(chip_create(DIR, "small", 0x00, "", {"size=64K"}, &error), "no chip", error);
    if (reader == PROFILE) put(FILES[PROFILE], text);
    if (reader == CONTENTS) truncate(path(FILES[CONTENTS]).c_str(), h[1] | h[2] << 8 | h[3] << 16);
    std::string state = got(FILES[STATE]);
    state.replace(h[1] * 4u, after2.size(), after2).resize(h[2] ? h[2] * 8 : STATE_FILE_BYTES);
    PersistentState st;
    uint8_t written[STATE_FILE_BYTES];
    if (reader == STATE && state[4] == STATE_VERSION &&
        decode_state(reinterpret_cast<const uint8_t*>(state.data()), state.size(), &st, &error)) {
      encode_state(st, written);  // every field as read; byte 23 is none
      check(!std::memcmp(written, state.data(), 23) &&
                !std::memcmp(written + 24, state.data() + 24, OFF_FLAG_STATUS + 1 - 24),
            "a state written otherwise than it was read", error);
    }
    if (reader == STATE) put(FILES[STATE], state);
    taken = attached(&error, &same);
  }
  // Their writers end every line: a file taken without its last end was cut short.
  const bool lined = reader == PROFILE || reader == SUMMARY || reader == NODE;
  same = same && (!lined || text.empty() || text.back() == '\n');
  // A refusal of profile.txt may name contents.bin: a profile.txt of an older version lacks
  // the fields made since, whose catalogue values stand, so a size lost tells there.
  const bool named = reader == SETTINGS
                         ? std::any_of(settings.begin(), settings.end(),
                                       [&](const std::string& s) {
                                         return names(error, s.substr(0, s.find('=')));
                                       })
                         : names(error, FILES[reader], reader == CATALOGUE) ||
                               (reader == PROFILE && names(error, FILES[CONTENTS]));
  check(taken ? same : named,
        taken ? "taken, but read back otherwise" : "a refusal that names no file", error);
  return 0;
}

// SPDX-License-Identifier: MIT
// flatten-catalogue CATALOGUE FLAT MARKS: reads the parts catalogue and writes the flat
// table and the marks table, or names the file and line of the first row it refuses and
// writes nothing (the build runs it, so a bad row stops the build).
#include <cstdio>

#include "parts_reader.h"

namespace {

bool read_file(const char* path, std::string* text) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Both tables are written beside their targets, then renamed over them: a reader never
// sees half a table, and a failed write leaves the old ones.
bool write_partial(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen((path + ".partial").c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: flatten-catalogue CATALOGUE FLAT MARKS\n");
    return 2;
  }
  std::string text, error;
  if (!read_file(argv[1], &text)) {
    std::fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  std::vector<ChipProfile> parts;
  std::vector<std::vector<flashparts::FactMarks>> marks;
  if (!flashparts::parse_catalogue(text, argv[1], &parts, &error, &marks)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::string flat = argv[2], marksPath = argv[3];
  if (!write_partial(flat, flashparts::flat_table_text(parts)) ||
      !write_partial(marksPath, flashparts::marks_table_text(parts, marks)) ||
      std::rename((flat + ".partial").c_str(), flat.c_str()) != 0 ||
      std::rename((marksPath + ".partial").c_str(), marksPath.c_str()) != 0) {
    std::remove((flat + ".partial").c_str());
    std::remove((marksPath + ".partial").c_str());
    std::fprintf(stderr, "flatten-catalogue: cannot write %s and %s\n", argv[2], argv[3]);
    return 1;
  }
  return 0;
}

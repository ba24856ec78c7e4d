// SPDX-License-Identifier: MIT
// flatten-catalogue CATALOGUE [IMPORTED] FLAT MARKS: reads the parts catalogue (and the
// parts imported from Linux's tables, after it) and writes the flat table and the marks
// table, or names the file and line of the first row it refuses and writes nothing (the
// build runs it, so a bad row stops the build).
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
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: flatten-catalogue CATALOGUE [IMPORTED] FLAT MARKS\n");
    return 2;
  }
  std::vector<ChipProfile> parts;
  std::vector<std::vector<flashparts::FactMarks>> marks;
  for (int i = 1; i < argc - 2; ++i) {
    std::string text, error;
    std::vector<ChipProfile> more;
    std::vector<std::vector<flashparts::FactMarks>> moreMarks;
    if (!read_file(argv[i], &text)) {
      std::fprintf(stderr, "%s: cannot read\n", argv[i]);
      return 1;
    }
    if (!flashparts::parse_catalogue(text, argv[i], &more, &error, &moreMarks)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    for (const ChipProfile& p : more)
      for (const ChipProfile& q : parts)
        if (p.name == q.name) {
          std::fprintf(stderr, "%s: profile %s is %s's too\n", argv[i], p.name.c_str(), argv[1]);
          return 1;
        }
    parts.insert(parts.end(), more.begin(), more.end());
    marks.insert(marks.end(), moreMarks.begin(), moreMarks.end());
  }
  const std::string flat = argv[argc - 2], marksPath = argv[argc - 1];
  if (!write_partial(flat, flashparts::flat_table_text(parts)) ||
      !write_partial(marksPath, flashparts::marks_table_text(parts, marks)) ||
      std::rename((flat + ".partial").c_str(), flat.c_str()) != 0 ||
      std::rename((marksPath + ".partial").c_str(), marksPath.c_str()) != 0) {
    std::remove((flat + ".partial").c_str());
    std::remove((marksPath + ".partial").c_str());
    std::fprintf(stderr, "flatten-catalogue: cannot write %s and %s\n", flat.c_str(),
                 marksPath.c_str());
    return 1;
  }
  return 0;
}

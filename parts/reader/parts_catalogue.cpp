// SPDX-License-Identifier: MIT
// Reads the parts catalogue (parts/catalogue.txt, whose head describes the format)
// into part records and their marks: a pure function over the text, which names the
// file and line of anything it cannot take and never fills a missing fact in by itself.
#include <algorithm>
#include <map>

#include "parts_reader.h"

namespace flashparts {
namespace {

const char* const MARKS[] = {"DS", "DSf", "DSs", "K", "FR", "Q",
                             "UF", "VC",  "CM",  "R", "NF", "SIM"};

using Marks = std::vector<std::string>;

struct RawField {
  std::string key;
  std::vector<std::string> words;
  int line;
  Marks marks;
};

struct Row {
  std::string part;
  int line;
  std::string base;
  int baseLine = 0;
  bool hasSources = false;
  bool isTemplate = false;  // kind template: facts for other rows to take, no part itself
  std::vector<RawField> fields;
};

struct Reader {
  const std::string& origin;
  std::string* error;
  std::vector<Row> rows;
  std::vector<ChipProfile> built;
  std::vector<std::map<std::string, Marks>> given;  // each row's facts, stated or from its base
  std::vector<int> state;                           // 0 not built, 1 building, 2 built

  bool fail(int line, const std::string& message) {
    if (error) *error = origin + ":" + std::to_string(line) + ": " + message;
    return false;
  }

  int row_named(const std::string& part) const {
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].part == part) return int(i);
    return -1;
  }

  bool read_line(const std::string& text, int line) {
    std::string content = text.substr(0, text.find('#'));
    size_t bar = content.find('|');
    std::vector<std::string> words = split_words(content.substr(0, bar));
    std::vector<std::string> marks = bar == std::string::npos
                                         ? std::vector<std::string>()
                                         : split_words(content.substr(bar + 1));
    if (words.empty() && marks.empty()) return true;
    if (words.empty()) return fail(line, "marks without a fact");
    const std::string key = words[0];
    words.erase(words.begin());
    if (key == "part") {
      if (words.size() != 1 || bar != std::string::npos) return fail(line, "part takes one name");
      if (row_named(words[0]) >= 0) return fail(line, "part " + words[0] + " appears twice");
      rows.push_back(Row{words[0], line, "", 0, false, false, {}});
      return true;
    }
    if (rows.empty()) return fail(line, "'" + key + "' before the first part line");
    Row& row = rows.back();
    // same-id names the other rows that answer this row's ID and extended bytes.
    const bool structural =
        key == "sources" || key == "base" || key == "profile" || key == "kind" || key == "same-id";
    if (!structural && !is_catalogue_field(key)) return fail(line, "unknown field '" + key + "'");
    if (key == "sources" ? false  // the sources may take several lines
        : key == "base"  ? !row.base.empty()
                         : std::any_of(row.fields.begin(), row.fields.end(),
                                       [&](const RawField& f) { return f.key == key; }))
      return fail(line, "'" + key + "' given twice for " + row.part);
    if (structural && bar != std::string::npos) return fail(line, "'" + key + "' takes no marks");
    if (!structural && marks.empty()) return fail(line, "'" + key + "' needs its marks after '|'");
    for (const std::string& mark : marks)
      if (std::find_if(std::begin(MARKS), std::end(MARKS),
                       [&](const char* m) { return mark == m; }) == std::end(MARKS))
        return fail(line, "unknown mark '" + mark + "'");
    if (key == "sources" || key == "same-id") {
      if (words.empty()) return fail(line, key + " names none");
      row.hasSources = row.hasSources || key == "sources";
    } else if (key == "kind" && words.size() == 1 && words[0] == "template") {
      row.isTemplate = true;
    } else if (key == "base") {
      if (words.size() != 1) return fail(line, "base takes one part name");
      row.base = words[0];
      row.baseLine = line;
    } else {
      row.fields.push_back(RawField{key, words, line, marks});
    }
    return true;
  }

  // Builds row i on top of its base; the base may stand anywhere in the file.
  bool build(size_t i) {
    if (state[i] == 2) return true;
    Row& row = rows[i];
    if (state[i] == 1) return fail(row.baseLine, "base of " + row.part + " leads back to itself");
    state[i] = 1;
    ChipProfile profile = ChipProfile();
    std::map<std::string, Marks> keys;
    if (!row.base.empty()) {
      int base = row_named(row.base);
      if (base < 0) return fail(row.baseLine, "no part " + row.base + " to take as base");
      if (!build(size_t(base))) return false;
      profile = built[size_t(base)];
      keys = given[size_t(base)];
      // A fact taken from another part's datasheet is a sibling's.
      for (auto& fact : keys)
        for (std::string& mark : fact.second)
          if (mark == "DS" || mark == "DSf") mark = "DSs";
    }
    std::string why;
    set_profile_field(&profile, "part", {row.part}, false, &why);
    for (const RawField& f : row.fields) {
      if (!set_profile_field(&profile, f.key, f.words, false, &why))
        return fail(f.line, f.key + ": " + why);
      keys[f.key] = f.marks;
    }
    built[i] = profile;
    given[i] = keys;
    state[i] = 2;
    return true;
  }

  bool complete(size_t i) {
    const Row& row = rows[i];
    ChipProfile& profile = built[i];
    for (const std::string& key : catalogue_fields())
      if (key != "part" && !given[i].count(key)) return fail(row.line, row.part + " lacks " + key);
    if (!row.hasSources) return fail(row.line, row.part + " lacks sources");
    for (const EraseRule& rule : profile.erases) {
      std::vector<uint32_t> blocks = rule.mapBlocks;
      if (rule.kind == EraseKind::BLOCK) blocks.push_back(rule.blockBytes);
      for (uint32_t block : blocks)
        if (!given[i].count("time-erase") && !given[i].count("time-erase-" + size_text(block)))
          return fail(row.line, row.part + " lacks time-erase-" + size_text(block));
    }
    std::string why;
    if (!finish_profile(&profile, &why)) return fail(row.line, row.part + ": " + why);
    for (size_t j = 0; j < i; ++j)
      if (built[j].name == profile.name)
        return fail(row.line, "profile " + profile.name + " appears twice");
    return true;
  }
};

}  // namespace

bool parse_catalogue(const std::string& text, const std::string& origin,
                     std::vector<ChipProfile>* parts, std::string* error,
                     std::vector<std::vector<FactMarks>>* marks) {
  Reader reader{origin, error, {}, {}, {}, {}};
  int line = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (!reader.read_line(text.substr(start, end - start), ++line)) return false;
    start = end + 1;
  }
  if (reader.rows.empty()) return reader.fail(line, "no part in the catalogue");
  reader.built.resize(reader.rows.size());
  reader.given.resize(reader.rows.size());
  reader.state.assign(reader.rows.size(), 0);
  for (size_t i = 0; i < reader.rows.size(); ++i)
    if (!reader.build(i) || (!reader.rows[i].isTemplate && !reader.complete(i))) return false;
  parts->clear();
  if (marks) marks->clear();
  for (size_t i = 0; i < reader.rows.size(); ++i) {
    if (reader.rows[i].isTemplate) continue;
    parts->push_back(reader.built[i]);
    if (!marks) continue;
    marks->emplace_back();
    for (const auto& fact : reader.given[i]) marks->back().push_back({fact.first, fact.second});
  }
  return true;
}

}  // namespace flashparts

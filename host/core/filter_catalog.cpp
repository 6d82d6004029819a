#include "core/filter_catalog.h"

#include <algorithm>
#include <cctype>

namespace vorlan::host {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!word.empty()) words.push_back(Lower(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(Lower(word));
  return words;
}

// 0: the name starts with the query, 1: a word of the name does, 2: other.
int Rank(const std::string& name, const std::string& query) {
  if (name.rfind(query, 0) == 0) return 0;
  for (size_t at = name.find(' '); at != std::string::npos; at = name.find(' ', at + 1))
    if (name.compare(at + 1, query.size(), query) == 0) return 1;
  return 2;
}

}  // namespace

const char* FilterCategory(int32_t filterId) {
  switch (filterId) {
    case 10: case 20: return "streams";
    case 40: case 50: case 1020: case 1030: case 1040: return "images";
    case 80: case 90: return "colour";
    case 130: case 140: return "fractal";
    case 170: case 180: case 190: case 200: return "entropy";
    case 150: case 160: case 1000: case 1010: return "containers";
    case 210: return "measures";
    case 30: case 60: case 70: return "displays";
    default: return "other";
  }
}

std::vector<CatalogEntry> BuildCatalog(const Registry& registry) {
  std::vector<CatalogEntry> catalog;
  catalog.reserve(static_cast<size_t>(registry.PrototypeCount()));
  for (int32_t i = 0; i < registry.PrototypeCount(); ++i) {
    const FilterPrototype& p = registry.Prototype(i);
    CatalogEntry e;
    e.prototypeId = p.id;
    e.name = p.info.name != nullptr ? p.info.name : "";
    if (p.library != nullptr) {
      e.library = p.library->info.name != nullptr ? p.library->info.name : "";
      e.fileName = p.library->fileName;
    }
    e.category = FilterCategory(p.info.id);
    catalog.push_back(std::move(e));
  }
  return catalog;
}

std::vector<const CatalogEntry*> SearchCatalog(const std::vector<CatalogEntry>& catalog, std::string_view query) {
  const std::vector<std::string> words = Words(query);
  std::string whole;  // the query's words joined by single spaces
  for (const std::string& w : words) whole += (whole.empty() ? "" : " ") + w;
  std::vector<std::pair<int, const CatalogEntry*>> found;
  for (const CatalogEntry& e : catalog) {
    const std::string name = Lower(e.name);
    const std::string haystack = name + '\n' + Lower(e.library) + '\n' + Lower(e.fileName) + '\n' + e.category;
    const bool all = std::all_of(words.begin(), words.end(),
                                 [&](const std::string& w) { return haystack.find(w) != std::string::npos; });
    if (all) found.emplace_back(words.empty() ? 0 : Rank(name, whole), &e);
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<const CatalogEntry*> result;
  result.reserve(found.size());
  for (const auto& f : found) result.push_back(f.second);
  return result;
}

}  // namespace vorlan::host

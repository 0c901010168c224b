#include "source_list.h"

#include <fstream>
#include <sstream>

#include "id_table.h"

namespace orvo::velda {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

SourceList ParseSourceList(std::string_view text, const std::filesystem::path& folder) {
  SourceList list;
  list.folder = folder;
  size_t number = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (size_t comment = line.find(';'); comment != std::string_view::npos)
      line = line.substr(0, comment);
    line = Trim(line);
    if (line.empty()) continue;
    size_t gap = line.find_first_of(" \t");
    std::string_view key = line.substr(0, gap);
    std::string_view value = gap == std::string_view::npos ? "" : Trim(line.substr(gap));
    std::string where = std::string(kSourceListName) + "(" + std::to_string(number) + "): ";
    if (value.empty()) {
      list.errors.push_back(where + "missing path: " + std::string(key));
    } else if (key == "source") {
      list.sources.emplace_back(value);
    } else if (key == "output") {
      if (!list.output.empty())
        list.errors.push_back(where + "second output: " + std::string(value));
      else
        list.output = value;
    } else {
      list.errors.push_back(where + "unknown entry: " + std::string(key));
    }
  }
  if (list.sources.empty() && list.errors.empty())
    list.errors.push_back(std::string(kSourceListName) + ": no source named");
  return list;
}

SourceList ReadSourceList(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path file = path;
  if (std::filesystem::is_directory(path, ec)) file /= kSourceListName;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    SourceList list;
    list.folder = file.parent_path();
    list.errors.push_back("Error opening file " + file.string());
    return list;
  }
  std::stringstream text;
  text << in.rdbuf();
  return ParseSourceList(text.str(), file.parent_path());
}

std::filesystem::path SourcePath(const SourceList& list, const std::string& source) {
  std::string name = source;
  if (name.size() < 4 || !EqualNoCase(std::string_view(name).substr(name.size() - 4), ".ova"))
    name += ".ova";
  return list.folder / name;
}

}  // namespace orvo::velda

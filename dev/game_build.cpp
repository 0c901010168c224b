#include "dev/game_build.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <sstream>

#include "analysis.h"
#include "driver.h"
#include "memory_image.h"
#include "source_list.h"

namespace orvo::dev {
namespace {

bool ReadText(const std::filesystem::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  out = text.str();
  return !in.bad();
}

uint32_t LineOf(std::string_view text, uint32_t offset) {
  offset = std::min<uint32_t>(offset, static_cast<uint32_t>(text.size()));
  return 1 + static_cast<uint32_t>(std::count(text.begin(), text.begin() + offset, '\n'));
}

}  // namespace

GameBuild BuildGame(const std::filesystem::path& sourceFolder, uint32_t buildNumber) {
  GameBuild build;
  const velda::SourceList list = velda::ReadSourceList(sourceFolder);
  build.files.push_back(list.folder / velda::kSourceListName);
  build.gameFolder = list.output.empty() ? list.folder : list.folder / list.output;
  build.errors = list.errors;
  build.listRead = list.errors.empty() || !list.sources.empty();
  std::vector<std::string> names, texts(list.sources.size());
  for (size_t i = 0; i < list.sources.size(); ++i) {
    const std::filesystem::path path = velda::SourcePath(list, list.sources[i]);
    build.files.push_back(path);
    names.push_back(path.string());
    if (!ReadText(path, texts[i])) build.errors.push_back(path.string() + ": cannot be read");
  }
  if (!build.errors.empty()) return build;
  if (list.sources.empty()) {
    build.errors.push_back((list.folder / velda::kSourceListName).string() + ": no sources");
    return build;
  }

  std::vector<velda::MemorySource> sources;
  for (size_t i = 0; i < texts.size(); ++i) sources.push_back({names[i], texts[i]});
  const velda::Analysis analysis = velda::AnalyzeSources(sources);
  for (const velda::Finding& f : analysis.errors) {
    if (f.plain || f.place.file >= texts.size()) {
      build.errors.push_back(f.message);
      continue;
    }
    build.errors.push_back(velda::DisplayName(names[f.place.file]) + "(" +
                           std::to_string(LineOf(texts[f.place.file], f.place.offset)) +
                           "): " + f.message);
  }
  if (analysis.stopped && analysis.errors.empty()) build.errors.push_back("velda gave up");
  if (!build.errors.empty()) return build;

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  build.image = velda::ImageFromAnalysis(analysis, local.tm_year + 1900, local.tm_mon + 1,
                                         local.tm_mday, buildNumber);
  return build;
}

}  // namespace orvo::dev

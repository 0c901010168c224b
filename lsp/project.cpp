#include "project.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "source_list.h"
#include "uri.h"

namespace orvo::lsp {

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  if (in) s << in.rdbuf();
  return s.str();
}

}  // namespace

std::string NormalPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  return p.lexically_normal().string();
}

void ProjectFile::SetText(std::string t) {
  text = std::move(t);
  index = LineIndex(text);
  lines.clear();
  lines.reserve(index.lines());
  LineScanner scanner;
  for (size_t i = 0; i < index.lines(); ++i) lines.push_back(scanner.Scan(index.Line(i)));
}

std::unique_ptr<Project> Project::Load(const std::string& listPath, const std::string& lonePath) {
  auto p = std::make_unique<Project>();
  std::vector<std::string> paths;
  if (!listPath.empty()) {
    p->listPath = NormalPath(listPath);
    velda::SourceList list = velda::ReadSourceList(p->listPath);
    p->listErrors = list.errors;
    for (const std::string& s : list.sources)
      paths.push_back(NormalPath(velda::SourcePath(list, s)));
  } else {
    paths.push_back(NormalPath(lonePath));
  }
  for (const std::string& path : paths) {
    auto f = std::make_unique<ProjectFile>();
    f->path = path;
    f->uri = PathToUri(path);
    f->SetText(ReadFile(path));
    p->files.push_back(std::move(f));
  }
  return p;
}

void Project::Analyze() {
  std::vector<velda::MemorySource> sources;
  for (const auto& f : files) sources.push_back({f->path, f->text});
  analysis = velda::AnalyzeSources(sources);
}

int Project::FileOf(const std::string& path) const {
  for (size_t i = 0; i < files.size(); ++i)
    if (files[i]->path == path) return static_cast<int>(i);
  return -1;
}

}  // namespace orvo::lsp

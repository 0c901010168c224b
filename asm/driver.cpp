#include "driver.h"

#include <cstdio>
#include <ctime>
#include <new>
#include <system_error>

#include "debug_info.h"
#include "id_table.h"
#include "listing.h"
#include "outputs.h"
#include "passes.h"
#include "report.h"

namespace orvo::velda {

namespace {

bool EndsWithOva(const std::string& s) {
  return s.size() >= 4 && EqualNoCase(std::string_view(s).substr(s.size() - 4), ".ova");
}

// Opens a source file. Names are matched without regard to case, as on the
// system the sources come from: when the name as written does not exist, a
// case-insensitive match of its last component in that folder is used.
FILE* OpenSource(const std::string& name, std::string& opened) {
  opened = name;
  if (FILE* f = std::fopen(name.c_str(), "rb")) return f;
  std::filesystem::path path(name);
  std::filesystem::path folder = path.parent_path();
  std::string leaf = path.filename().string();
  std::error_code ec;
  std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (EqualNoCase(it->path().filename().string(), leaf)) {
      opened = (folder / it->path().filename()).string();
      return std::fopen(it->path().c_str(), "rb");
    }
  }
  return nullptr;
}

int LoadSource(Assembler& a, const std::string& argument) {
  std::string name = argument;
  if (!EndsWithOva(name)) name += ".ova";
  if (a.sources.size() >= kMaxFiles) {
    ReportPlainError(a, "Too many source files (at most 128): " + name);
    return kExitOpen;
  }
  std::string opened;
  FILE* f = OpenSource(name, opened);
  long size = -1;
  if (f && std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  if (!f || size < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
    if (f) std::fclose(f);
    ReportPlainError(a, "Error opening file " + name);
    return kExitOpen;
  }
  SourceFile src;
  src.text.reset(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
  if (!src.text) {
    std::fclose(f);
    ReportPlainError(a, "Unable to allocate memory for source files.");
    return kExitMemory;
  }
  size_t got = std::fread(src.text.get(), 1, static_cast<size_t>(size), f);
  std::fclose(f);
  char* text = src.text.get();
  text[got] = '\0';
  size_t skip = 0;
  if (got >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
    skip = 3;
  if (skip) {
    for (size_t i = skip; i <= got; ++i) text[i - skip] = text[i];
  }
  src.size = got - skip;
  src.displayName = DisplayName(argument);
  src.path = std::move(opened);
  a.sources.push_back(std::move(src));
  return kExitOk;
}

void PrintTotals(Assembler& a) {
  char buf[160];
  if (!a.quiet) {
    std::snprintf(buf, sizeof buf, " code: %ld\n zero: %ld\ntotal: %ld\n", long{a.codeSize},
                  long{a.zeroSize}, long{a.codeSize} + long{a.zeroSize});
    ConsoleWrite(a, buf);
  }
  if (!a.quiet || a.errorCount > 0) {
    std::snprintf(buf, sizeof buf, "[%ld errors]\n", long{a.errorCount});
    ConsoleWrite(a, buf);
  }
}

int Finish(Assembler& a, int code) {
  if (a.listFile) {
    std::fclose(a.listFile);
    a.listFile = nullptr;
  }
  PrintTotals(a);
  return code;
}

}  // namespace

std::string DisplayName(const std::string& argument) {
  std::string name = argument;
  if (EndsWithOva(name)) name.resize(name.size() - 4);
  size_t cut = name.find_last_of("\\:/");
  if (cut != std::string::npos) name.erase(0, cut + 1);
  if (name.size() > kMaxDisplayName) name.resize(kMaxDisplayName);
  return name;
}

int RunVelda(Assembler& a, const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    // "/X" is an option as on the command line velda comes from; a longer
    // argument starting with '/' is an absolute path here.
    if (!arg.empty() && (arg[0] == '-' || (arg[0] == '/' && arg.size() == 2))) {
      if (arg.size() == 2) {
        char c = arg[1];
        if (c == 'q' || c == 'Q') a.quiet = true;
        if (c == 'l' || c == 'L') a.listPass1 = true;
      }
      continue;
    }
    int code = LoadSource(a, arg);
    if (code != kExitOk) return Finish(a, code);
  }
  if (a.sources.empty()) {
    ConsoleWrite(a,
                 "Syntax: VELDA [-Q] [-L] first_file[.OVA] [second_file] ... [last_file]\n"
                 "-q or -Q causes no extraneous messages output except for errors or -L output.\n"
                 "-l or -L causes a first pass listing to be printed to the console.\n");
    return kExitSyntax;
  }
  a.errorCount = 0;
  if (!a.quiet) ConsoleWrite(a, "VELDA 6.0\n");

  a.listFile = std::fopen(OutputPath(a, "main.ovl").c_str(), "wb");
  if (!a.listFile) {
    ReportPlainError(a, "Error creating .OVL file");
    return Finish(a, kExitListing);
  }

  AssembleAll(a);
  if (a.errorCount > 0) return Finish(a, kExitErrors);

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  UpdateBuildNumber(a);
  WriteHeaderFields(a, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  if (!WriteImage(a)) {
    ReportPlainError(a, "Error creating .OVE file");
    return Finish(a, kExitImage);
  }
  if (!WriteMap(a)) {
    ReportPlainError(a, "Error creating .MAP file");
    return Finish(a, kExitImage);
  }
  if (!WriteDebugInfo(a)) {
    ReportPlainError(a, "Error creating .OVD file");
    return Finish(a, kExitImage);
  }
  return Finish(a, kExitOk);
}

}  // namespace orvo::velda

#include "vm/requests.h"

#include "vm/machine.h"
#include "vm/request.h"
#include "vm/sys.h"

namespace orvo::vm {

namespace {

// Groups whose commands without a row report the unknown command; the others ignore them.
constexpr uint32_t kReportingGroups = 1u << 0 | 1u << 3 | 1u << 5 | 1u << 7 | 1u << 8;

constexpr const char* kCheckNames[] = {"", ", each checked", " + value", ", read by the handler"};

bool CheckArgs(Request& r, const RequestRow& row) {
  switch (row.check) {
    case ArgCheck::BLOCK:
    case ArgCheck::BLOCK_THEN_VALUE:
      return RequestWords(r.m, r.args, row.words, r.a);
    case ArgCheck::EACH_WORD:
      for (uint32_t i = 0; i < row.words; ++i)
        if (!RequestWords(r.m, r.args + 4 * i, 1, &r.a[i])) return false;
      return true;
    case ArgCheck::BY_HANDLER:
      return true;
  }
  return true;
}

}  // namespace

RequestTable::RequestTable() : routes(SYS_COMMANDS) {
  AddRequests(*this, CoreRequests(), nullptr);
}

void AddRequests(RequestTable& t, std::span<const RequestRow> rows, void* service) {
  for (const RequestRow& row : rows) t.routes[row.command] = {&row, service};
}

void RunRequest(Machine& m, uint32_t command, uint32_t args) {
  if (command >= SYS_COMMANDS) {
    UnknownSys(m);
    return;
  }
  const RequestTable::Route& route = m.requests.routes[command];
  if (!route.row) {
    if (kReportingGroups >> (command >> 8) & 1) UnknownSys(m);
    return;
  }
  Request r{m, route.service, command & 0xFF, args, {}};
  if (CheckArgs(r, *route.row)) route.row->run(r);
}

std::string RequestList(const RequestTable& t) {
  std::string out;
  for (const RequestTable::Route& route : t.routes) {
    if (!route.row) continue;
    const RequestRow& row = *route.row;
    out += Format("0x%3.3X %s: %u word%s%s\n", row.command, row.name, row.words,
                  row.words == 1 ? "" : "s", kCheckNames[static_cast<int>(row.check)]);
  }
  return out;
}

}  // namespace orvo::vm

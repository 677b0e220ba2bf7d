#pragma once
// The job's paths as a user typically gives them, and a fake host on which they pass every
// check: what the tests of a run and of its refusals start from.

#include <vector>

#include "job/job_paths.h"
#include "tests/job/fake_job_host.h"

namespace veltrane::testing {

inline const JobPaths kPaths{L"c:\\mpq2k\\mpq2k.exe", L"c:\\MyMap.w3m", L"c:\\MyMapProtected.w3m",
                             L"C:\\Tools\\Veltrane"};

// A host on which kPaths pass every check: the archiver and the maps are there.
inline FakeJobHost ReadyHost() {
  FakeJobHost host;
  host.existing_files.insert(kPaths.archiver);
  host.existing_files.insert(kPaths.map);
  host.existing_files.insert(L"C:\\Tools\\Veltrane\\m.w3m");
  return host;
}

inline void Nothing(FakeJobHost&) {}

// The calls from the first write on: the checks before it only ask.
inline std::vector<FakeJobHost::Call> Steps(const FakeJobHost& host) {
  auto first = host.calls.begin();
  while (first != host.calls.end() && first->operation != "write") ++first;
  return {first, host.calls.end()};
}

}  // namespace veltrane::testing

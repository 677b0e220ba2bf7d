#include "job/run_job.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/text.h"
#include "job/compose_script.h"
#include "job/script_path.h"

namespace veltrane {
namespace {

// The longest full path the command interpreter's commands take (MAX_PATH less its NUL).
constexpr size_t kLongestPath = 259;

// What a row of the table looks at: the job as a whole, or one of the paths.
enum Input : unsigned {
  kJob = 1,
  kArchiver = 2,
  kMap = 4,
  kDestination = 8,
  kFolder = 16,
  kPaths = kArchiver | kMap | kDestination,
};

struct Subject {
  Input input;
  const char* name;
  std::wstring text;                     // as the box held it
  std::wstring full;                     // as the script takes it, once resolved
  std::optional<FileIdentity> identity;  // the file there, if any
  std::wstring program;                  // the archiver's file as the interpreter finds it
};

struct OwnFile {
  std::wstring full;
  std::optional<FileIdentity> identity;
};

// Everything the rows look at: the paths, the host's answers, and the files the job itself
// writes or deletes.
struct Job {
  const JobPaths& paths;
  JobHost& host;
  std::array<Subject, 5> subjects;
  std::vector<OwnFile> own_files;

  Subject& map() { return subjects[2]; }
  Subject& destination() { return subjects[3]; }
};

using Found = std::optional<Refusal>;

// An empty path has nothing to quote.
Refusal Refuse(const Subject& subject, const std::string& reason) {
  const std::string quoted = subject.text.empty() ? "" : " " + QuotedUtf8(subject.text);
  return Fail(std::string("Cannot use the ") + subject.name + quoted + ": " + reason);
}

Found JobRunning(Job& job, Subject&) {
  if (!job.host.ScriptRunning()) return std::nullopt;
  return Refusal(JobStillRunning());
}

constexpr const char* kRunAsAdministrator =
    " The job makes its copy there, and Windows lets only a program run as administrator "
    "create or delete files in the root of drive C:. Run Veltrane as administrator.";

Found ScratchRefused(Job& job, Subject&) {
  const std::wstring scratch(kScratchMap);
  auto checked = job.host.CheckCanCreate(scratch);
  if (checked && job.host.FileExists(scratch)) checked = job.host.CheckCanDelete(scratch);
  if (checked) return std::nullopt;
  std::string message = checked.message() + kRunAsAdministrator;
  if (checked.error().system_code != kAccessDeniedCode) return Refusal(Fail(std::move(message)));
  return Refusal(std::move(message), DeniedPlace::kScratchMap, scratch);
}

// The files the job writes beside the program: each is created or replaced.
Result<> CheckCanWrite(JobHost& host, const std::wstring& path) {
  if (auto checked = host.CheckCanCreate(path); !checked) return checked;
  if (host.FileExists(path)) return host.CheckCanDelete(path);
  return {};
}

Found ProgramFolderRefused(Job& job, Subject&) {
  const std::wstring& folder = job.paths.program_folder;
  for (const auto name : {kPlaceholderName, kScriptName}) {
    auto checked = CheckCanWrite(job.host, folder + L"\\" + std::wstring(name));
    if (checked) continue;
    std::string message = checked.message() +
                          " The job writes war3map.wtg and temp.bat beside "
                          "the program, in " +
                          QuotedUtf8(folder) + ".";
    if (checked.error().system_code != kAccessDeniedCode) return Refusal(Fail(message));
    return Refusal(message +
                       " Windows lets only a program run as administrator write there. Run "
                       "Veltrane as administrator, or move it to a folder of your own.",
                   DeniedPlace::kProgramFolder, folder);
  }
  return std::nullopt;
}

Found Empty(Job&, Subject& subject) {
  if (subject.text.find_first_not_of(L' ') != std::wstring::npos) return std::nullopt;
  return Refuse(subject, "it is empty.");
}

// A double quote, CR, LF or NUL would end the template's quotes or the script line, and
// whatever followed would run as a command of its own. No file name holds them.
Found BreaksOutOfQuotes(Job&, Subject& subject) {
  if (subject.text.find_first_of(std::wstring_view(L"\"\r\n\0", 4)) == std::wstring::npos) {
    return std::nullopt;
  }
  return Refuse(subject,
                "it contains a double quote, a line break or a NUL character, which no file name "
                "can hold.");
}

// The first character, a surrogate pair taken whole, that the script's code page lacks.
std::wstring FirstUnencodable(std::wstring_view text, JobHost& host) {
  for (size_t i = 0; i < text.size();) {
    const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF;
    const std::wstring_view one = text.substr(i, pair ? 2 : 1);
    if (!host.EncodeForScript(one)) return std::wstring(one);
    i += one.size();
  }
  return std::wstring(text);
}

Found OutsideCodePage(Job& job, Subject& subject) {
  if (job.host.EncodeForScript(subject.text)) return std::nullopt;
  return Refuse(subject,
                "the job's script can hold only the characters of the console's code page (" +
                    std::to_string(job.host.ScriptCodePage()) + " on this system), and " +
                    QuotedUtf8(FirstUnencodable(subject.text, job.host)) +
                    " is not one of them. Rename the file or folder, or choose another.");
}

// A bare program name is looked for along the search path, not taken as a path.
bool IsBareName(std::wstring_view path) {
  return path.find_first_of(L"\\/:") == std::wstring_view::npos;
}

Found Unresolvable(Job& job, Subject& subject) {
  if (subject.input == kArchiver && IsBareName(subject.text)) return std::nullopt;
  auto resolved = ResolveForScript(subject.text, job.paths.program_folder);
  if (!resolved) return Refuse(subject, resolved.message());
  subject.full = job.host.FullPath(*resolved);
  subject.identity = job.host.Identify(subject.full);
  return std::nullopt;
}

// The command interpreter expands * and ? in the script's copy and move into every file that
// matches: a copy joins them all into one file, so the job would protect none of them.
Found Wildcard(Job&, Subject& subject) {
  if (subject.text.find_first_of(L"*?") == std::wstring::npos) return std::nullopt;
  return Refuse(subject,
                "it contains * or ?, which the command interpreter reads as a pattern for many "
                "files, not as one file's name. Give the name of one file.");
}

Found TooLong(Job&, Subject& subject) {
  if (subject.full.size() <= kLongestPath) return std::nullopt;
  return Refuse(subject, "its full path has " + std::to_string(subject.full.size()) +
                             " characters, and the command interpreter takes at most " +
                             std::to_string(kLongestPath) + ". Choose a shorter path.");
}

// Two paths name one file: by identity when both files are there, else by their spelling.
bool SameFile(JobHost& host, const std::wstring& a, const std::optional<FileIdentity>& a_id,
              const std::wstring& b, const std::optional<FileIdentity>& b_id) {
  if (a_id && b_id) return a_id->SameFileAs(*b_id);
  return host.SamePath(a, b);
}

Found OwnFileOfTheJob(Job& job, Subject& subject) {
  for (const OwnFile& own : job.own_files) {
    if (!SameFile(job.host, subject.full, subject.identity, own.full, own.identity)) continue;
    return Refuse(subject, "it names " + QuotedUtf8(own.full) +
                               ", a file that the job itself writes or deletes. Choose another "
                               "file.");
  }
  return std::nullopt;
}

Found TheMapItself(Job& job, Subject& subject) {
  const Subject& map = job.map();
  if (!SameFile(job.host, subject.full, subject.identity, map.full, map.identity)) {
    return std::nullopt;
  }
  return Refuse(subject, "it names the same file as the map path " + QuotedUtf8(map.text) +
                             ". The job would replace the map with its protected copy; choose "
                             "another destination.");
}

Found AFolder(Job& job, Subject& subject) {
  if (!job.host.FolderExists(subject.full)) return std::nullopt;
  return Refuse(subject, "it is a folder. Name a file in it, such as " +
                             QuotedUtf8(JoinPath(subject.full, ProtectedCopyName(job.map().full))) +
                             ".");
}

Found NoFolder(Job& job, Subject& subject) {
  const std::wstring folder = FolderOf(subject.full);
  if (job.host.FolderExists(folder)) return std::nullopt;
  return Refuse(subject, "its folder " + QuotedUtf8(folder) + " does not exist.");
}

// The job copies the map with the command interpreter's copy, which takes a folder as all the
// files in it, and reports a missing map only once the script has run.
Found NoMapFile(Job& job, Subject& subject) {
  if (job.host.FolderExists(subject.full)) {
    return Refuse(subject, "it is a folder, not a map. Choose a map file in it.");
  }
  if (job.host.FileExists(subject.full)) return std::nullopt;
  return Refuse(subject, "there is no file there.");
}

std::vector<std::wstring> Split(const std::wstring& list) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(L';', start), list.size());
    std::wstring part = list.substr(start, end - start);
    std::erase(part, L'"');
    if (!part.empty()) parts.push_back(std::move(part));
    start = end + 1;
  }
  return parts;
}

// A program as the command interpreter finds it: the name as given when it has an
// extension, else with each of PATHEXT's extensions. Nothing when there is none.
std::optional<std::wstring> ProgramAt(Job& job, const std::wstring& full) {
  if (NameOf(full).find(L'.') != std::wstring_view::npos && job.host.FileExists(full)) return full;
  std::wstring extensions = job.host.Environment(L"PATHEXT");
  if (extensions.empty()) extensions = L".COM;.EXE;.BAT;.CMD";
  for (const auto& extension : Split(extensions)) {
    if (job.host.FileExists(full + extension)) return full + extension;
  }
  return std::nullopt;
}

// A bare name is looked for in the current folder, the program folder, and then along PATH.
Found NoSuchProgram(Job& job, Subject& subject) {
  if (!IsBareName(subject.text)) {
    if (auto found = ProgramAt(job, subject.full)) {
      subject.program = std::move(*found);
      return std::nullopt;
    }
    return Refuse(subject, "there is no program file there.");
  }
  std::vector<std::wstring> folders{job.paths.program_folder};
  for (auto& folder : Split(job.host.Environment(L"PATH"))) folders.push_back(std::move(folder));
  for (const auto& folder : folders) {
    if (auto found = ProgramAt(job, JoinPath(folder, subject.text))) {
      subject.program = std::move(*found);
      return std::nullopt;
    }
  }
  return Refuse(subject,
                "there is no program of that name in the program folder or in a folder of "
                "PATH.");
}

bool EndsWithIgnoringCase(std::wstring_view text, std::wstring_view ending) {
  if (text.size() < ending.size()) return false;
  const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c + 32 : c; };
  return std::ranges::equal(text.substr(text.size() - ending.size()), ending, {}, lower, lower);
}

// A batch file run from the job's script without "call" takes the script's place: the
// script never comes back to its move.
Found BatchArchiver(Job&, Subject& subject) {
  if (!EndsWithIgnoringCase(subject.program, L".bat") &&
      !EndsWithIgnoringCase(subject.program, L".cmd")) {
    return std::nullopt;
  }
  return Refuse(subject, "it runs the batch file " + QuotedUtf8(subject.program) +
                             ". The job's script would not come back from it, so the protected "
                             "copy would stay in c:\\temp.w3m and never reach the destination. "
                             "Choose the archiver's program file (.exe) itself.");
}

struct Row {
  unsigned inputs;
  Found (*check)(Job&, Subject&);
};

// Every reason to refuse a job, in the order they are asked. A running job comes first:
// its script holds the scratch map, and the user is to wait rather than be told anything
// about that file.
constexpr Row kRefusals[] = {
    {kJob, JobRunning},
    {kJob, ScratchRefused},
    {kJob, ProgramFolderRefused},
    {kPaths, Empty},
    {kPaths | kFolder, BreaksOutOfQuotes},
    {kPaths | kFolder, OutsideCodePage},
    {kPaths, Unresolvable},
    {kPaths, Wildcard},
    {kPaths, TooLong},
    {kMap | kDestination, OwnFileOfTheJob},
    {kDestination, TheMapItself},
    {kDestination, AFolder},
    {kDestination, NoFolder},
    {kArchiver, NoSuchProgram},
    {kArchiver, BatchArchiver},
    {kMap, NoMapFile},
};

std::vector<OwnFile> OwnFiles(const JobPaths& paths, JobHost& host) {
  std::vector<std::wstring> names{std::wstring(kScratchMap)};
  for (const auto name : {kPlaceholderName, kScriptName}) {
    const std::wstring path = JoinPath(paths.program_folder, name);
    names.push_back(path);
    names.push_back(path + L".new");  // written first, then moved over the file
  }
  std::vector<OwnFile> files;
  for (const auto& name : names) {
    const std::wstring full = host.FullPath(name);
    files.push_back({full, host.Identify(full)});
  }
  return files;
}

// The map and the destination as the script will resolve them.
struct ResolvedPaths {
  std::wstring source;
  std::wstring destination;
};

Result<ResolvedPaths, Refusal> CheckAll(const JobPaths& paths, JobHost& host) {
  Job job{paths,
          host,
          {{{kJob, "job", {}, {}, {}, {}},
            {kArchiver, "archiver path", paths.archiver, {}, {}, {}},
            {kMap, "map path", paths.source, {}, {}, {}},
            {kDestination, "destination path", paths.destination, {}, {}, {}},
            {kFolder, "program folder", paths.program_folder, {}, {}, {}}}},
          {}};
  for (const Row& row : kRefusals) {
    if (row.check == OwnFileOfTheJob && job.own_files.empty())
      job.own_files = OwnFiles(paths, host);
    for (Subject& subject : job.subjects) {
      if (!(row.inputs & subject.input)) continue;
      if (auto found = row.check(job, subject)) return std::move(*found);
    }
  }
  return ResolvedPaths{job.map().full, job.destination().full};
}

}  // namespace

Error JobStillRunning() {
  // Both scripts of two overlapping jobs would use the one scratch map.
  return Fail(
      "A job is still running. Wait for its report before starting another: both would use "
      "c:\\temp.w3m.");
}

Result<JobLaunch, Refusal> RunJob(const JobPaths& paths, JobHost& host) {
  auto resolved = CheckAll(paths, host);
  if (!resolved) return resolved.error();

  const std::wstring placeholder = paths.program_folder + L"\\" + std::wstring(kPlaceholderName);
  if (auto written = host.WriteFile(placeholder, {}); !written) return written.error();

  const bool scratch_exists = host.FileExists(std::wstring(kScratchMap));
  auto script = host.EncodeForScript(ComposeScript(paths, scratch_exists));
  if (!script) return Fail("Cannot compose the job script: " + script.message());

  const std::wstring script_path = paths.program_folder + L"\\" + std::wstring(kScriptName);
  if (auto written = host.WriteFile(script_path, *script); !written) return written.error();

  JobLaunch launch{
      paths.destination, std::move(resolved->destination), std::move(resolved->source), {}};
  launch.destination_before = host.Identify(launch.destination_full);
  // The script's own "cd" cannot change the drive, so it starts in the program folder:
  // the archiver must find the placeholder there under its relative name.
  if (auto launched = host.LaunchScript(script_path, paths.program_folder); !launched) {
    return launched.error();
  }
  return launch;
}

}  // namespace veltrane
